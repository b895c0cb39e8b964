// TavrinMac's main window on AppKit: the tab buttons, the device tree and the details of its selected row,
// the Device Mapping log, the toolbar, the menu bar, the About window and the oval start-up window. It
// shows what the window-free controller (TavrinApp) holds and sends it the person's actions; it is the
// application's delegate (quitting follows the controller's rule).
#pragma once
#include <string>
#include <vector>

#include "TavrinMac/TavrinApp.h"
#include "TavrinMac/server_manager_windows.h"
#include "TavrinMac/ui/AppKitUi.h"
#include "TavrinMac/ui/widgets.h"
#include "cocoa/AppKit.h"

namespace tavrinmac::ui {

struct MainInterfaceOptions {
  double ovalSeconds = 1.0;  // how long the start-up window shows
  tavrinmac::Timings timings;
};

// A text field that shows every line of its text (the details of the selected row).
class DetailsTextField : public NSTextField {
 public:
  DetailsTextField* initWithFrame(NSRect frame) {
    NSTextField::initWithFrame(frame);
    return this;
  }
  void drawRect(NSRect dirty) override;
  const char* className() const override { return "DetailsTextField"; }
};

class MainWindowController : public NSObject,
                             public NSOutlineViewDataSource,
                             public NSTableViewDataSource,
                             public NSToolbarDelegate,
                             public NSToolbarItemValidation,
                             public NSMenuValidation,
                             public NSApplicationDelegate,
                             public NSWindowDelegate,
                             public TavrinOutlineMenuDelegate {
 public:
  // The device-mapping controller is retained; the server manager object is made here.
  MainWindowController* initWithController(TavrinApp* app, const MainInterfaceOptions& options);

  // The window definition: makes the windows and controls, wires outlets, tags, identifiers and
  // actions, then calls awakeFromNib (as loading the main interface file does).
  void load();
  void awakeFromNib();
  // The end: the controller's threads end, the windows close and everything made here is released.
  void teardown();

  // ---- outlets
  NSTabView* tabView = nullptr;
  NSTextField* statusText = nullptr;
  NSTextField* pleaseWaitText = nullptr;
  TavrinOutlineView* outlineView = nullptr;
  NSButton *devButton = nullptr, *locSetButton = nullptr, *servButton = nullptr;
  NSTextField* tabText = nullptr;
  NSMenuItem *menuConnect = nullptr, *menuDisConnect = nullptr;
  NSMenuItem *saveMenuItem = nullptr, *clearMenuItem = nullptr;
  NSImageView* networkView = nullptr;
  NSTabView* logTabView = nullptr;
  NSTableView* logServerTable = nullptr;
  NSTableView* logDevicesTable = nullptr;
  NSTableView* devTable = nullptr;
  NSProgressIndicator *progressForNetwork = nullptr, *progressForMapping = nullptr;
  serverManager* serverManagerFlag = nullptr;
  NSWindow* abtAppWindow = nullptr;
  CustomWindow* ovalScreen = nullptr;
  NSWindow* mainWindow = nullptr;
  NSTextFieldCell *busyStringCell = nullptr, *freeStringCell = nullptr, *connectingStringCell = nullptr,
                  *disconnectingStringCell = nullptr, *connectedStringCell = nullptr;
  TavrinApp* controller() const { return app_; }
  AppKitUi& ui() { return ui_; }

  // ---- actions
  void showDevice(NSObject* sender);
  void showServer(NSObject* sender);
  void showLocSettings(NSObject* sender);
  void closeTavrinScreen(NSObject* sender);
  void exitApplication(NSObject* sender);
  void terminate(NSObject* sender);
  void aboutApplicationAction(NSObject* sender);
  void oKaboutApplicationAction(NSObject* sender);
  void searchTavrinServers(NSObject* sender);
  void tavrinServerConfiguration(NSObject* sender);
  void upgradeTavrinFirmware(NSObject* sender);
  void refreshItem(NSObject* sender);
  void connectThread(NSObject* sender);
  void disconnectThread(NSObject* sender);
  void startRun(NSObject* sender);
  void stopRun(NSObject* sender);
  void RemItem(NSObject* sender);
  void saveLogToFile(NSObject* sender);
  void doDoubleClick(NSObject* sender);
  void outlineViewSelectionDidChange(NSNotification* notification);
  void mainWindowWillClose(NSNotification* notification);
  void ovalScreenWillClose(NSNotification* notification);

  // ---- outline data source
  id outlineView_child_ofItem(NSOutlineView* outline, NSInteger index, id item) override;
  BOOL outlineView_isItemExpandable(NSOutlineView* outline, id item) override;
  NSInteger outlineView_numberOfChildrenOfItem(NSOutlineView* outline, id item) override;
  id outlineView_objectValueForTableColumn_byItem(NSOutlineView* outline, NSTableColumn* column, id item) override;
  void outlineView_setObjectValue_forTableColumn_byItem(NSOutlineView* outline, id value, NSTableColumn* column,
                                                       id item) override;
  BOOL outlineView_shouldCollapseItem(NSOutlineView*, id) override { return YES; }

  // ---- the log's data source
  NSInteger numberOfRowsInTableView(NSTableView* table) override;
  id tableView_objectValueForTableColumn_row(NSTableView* table, NSTableColumn* column, NSInteger row) override;

  // ---- toolbar and menus
  NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar* toolbar, NSString* identifier,
                                                                        BOOL insert) override;
  NSArray* toolbarDefaultItemIdentifiers(NSToolbar* toolbar) override;
  NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) override;
  BOOL validateToolbarItem(NSToolbarItem* item) override;
  BOOL validateMenuItem(NSMenuItem* item) override;

  // ---- the right click on the tree
  bool ApplyDeviceRule(id item) override;
  bool CanConnect() override { return app_->showConnect; }
  bool CanDisconnect() override { return app_->showDisConnect; }

  // ---- the application and the main window
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication* application) override;
  BOOL windowShouldClose(id sender) override;

  // Shows again what the controller holds for the view (main thread).
  void Reload(View view);
  // Whether the start-up is over (the oval window gone, the main window up, the controller running).
  bool started() const { return started_; }
  bool quitting() const { return quitting_; }
  const char* className() const override { return "MainWindowController"; }

 protected:
  void dealloc() override;

 private:
  void BuildMainWindow();
  void BuildOvalScreen();
  void BuildAboutWindow();
  void BuildMenus();
  void InstallToolbar();
  void FinishStartup();
  void ReloadTree();
  // The toolbar and the menu items follow the action flags.
  void UpdateActions();

  TavrinApp* app_ = nullptr;
  MainInterfaceOptions options_;
  AppKitUi ui_;
  NSMenu* treeMenu_ = nullptr;
  NSMenu* mainMenu_ = nullptr;
  NSScrollView* treeScroll_ = nullptr;
  NSView* serverTab_ = nullptr;
  NSView* serverLogTab_ = nullptr;
  std::vector<Node*> expanded_;
  int coreMenuConnect_ = 0, coreMenuDisConnect_ = 0;  // the controller's word on the menu items, last seen  // the server nodes shown expanded (retained)
  tavrinmac::ServerManagerWindows* serverWindows_ = nullptr;
  bool started_ = false, quitting_ = false, tornDown_ = false;
};

// Registers the main interface for NSApplicationMain: the controller made then is returned through
// `made` (retained; the caller tears it down and releases it after the run).
void UseMainInterface(const MainInterfaceOptions& options, MainWindowController** made);

// The main window's controller while it is up (null otherwise).
MainWindowController* CurrentMainWindow();
// Shows the server manager (its tab and its window), as the Server Manager tab button does.
void ShowServerManager();

}  // namespace tavrinmac::ui
