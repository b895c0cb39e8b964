// The Server Manager's window definition: the Server Manager window (servers table, the server command
// items, configuration text, connected clients, its log), the search window, the unlock window and the
// server configuration window, built in code as an interface file would load them: controls made, the
// outlets, tags, column identifiers and actions wired to the serverManager, then awakeFromNib.
//
// The windows show the state the core keeps (serverManager::view() and form()); whoever implements MacUi
// hands each Changed(view) of the server manager's views to Reload on the main thread, and runs, ends and
// orders out the windows WindowFor names.
#pragma once
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui.h"
#include "TavrinMac/ui/widgets.h"
#include "cocoa/AppKit.h"

namespace tavrinmac {

class ServerManagerWindows : public NSObject, public NSTableViewDataSource {
 public:
  // Makes the four windows for the manager (retained) and calls its awakeFromNib. Main thread.
  static ServerManagerWindows* Load(serverManager* manager);

  // Shows again what the core holds for the view; false for a view that is not the server manager's.
  bool Reload(View view);
  // The window of a modal run or an order-out (null for views that are not windows of ours).
  NSWindow* WindowFor(View view) const;
  // Brings the Server Manager window to the front.
  void Show();
  // The menu of the second set of command items, for the program's menu bar.
  NSMenu* commandMenu() const { return commandMenu_; }
  serverManager* manager() const { return manager_; }

  // ---- the outlets, as the serverManager names them
  NSTableView *logTable = nullptr, *serversTable = nullptr, *servStatusTable = nullptr;
  NSWindow *searchWindow = nullptr, *unlockWindow = nullptr, *serverConfigWindow = nullptr,
           *ServerManagerWindow = nullptr;
  NSProgressIndicator *servStatusIndicator = nullptr, *retrieveProgress = nullptr, *checkingStatus = nullptr,
                      *setConfigProgress = nullptr;
  MySecureTextField* unlockText = nullptr;
  NSTextField *informationText = nullptr, *checkingText = nullptr, *searchStatusText = nullptr,
              *selectedIndex = nullptr, *unlockDisplay = nullptr, *clientsTextField = nullptr,
              *unlockingText = nullptr;
  NSTextView* statusText = nullptr;
  NSMenuItem *searchHeaderMenuItem = nullptr, *restoreHeaderMenuItem = nullptr, *serverConfigHeaderMenuItem = nullptr,
             *unlockHeaderMenuItem = nullptr, *upgradeHeaderMenuItem = nullptr;
  NSMenuItem *searchMenuItem = nullptr, *restoreMenuItem = nullptr, *serverConfigMenuItem = nullptr,
             *unlockMenuItem = nullptr, *upgradeMenuItem = nullptr;
  NSMenuItem *refreshMenuItem = nullptr, *clearMenuItem = nullptr, *saveMenuItem = nullptr;
  NSMenu *refreshMenu = nullptr, *serverMenu = nullptr;
  NSButton *unlockOk = nullptr, *unlockCancelButton = nullptr;
  NSButton *modifyBasicSettings = nullptr, *modifyPwdEnable = nullptr, *enablePwd = nullptr, *modifyPwdSet = nullptr,
           *modifyIPSettings = nullptr;
  NSTextField *basicSettingsText = nullptr, *newPwdText = nullptr, *confirmPwdText = nullptr, *ipAddressText = nullptr,
              *subnetMaskText = nullptr, *gatewayText = nullptr, *serverNameLabel = nullptr;
  NSComboBox* ipConfigText = nullptr;
  // Ours: the search window's stop control, the configuration window's tabs and buttons, the buttons of
  // the Server Manager window.
  NSButton *stopSearchButton = nullptr, *serverConfigOk = nullptr, *serverConfigCancel = nullptr;
  NSButton *searchButton = nullptr, *clearButton = nullptr, *saveButton = nullptr, *refreshButton = nullptr;
  NSTabView* configTabs = nullptr;

  // ---- the actions the controls send: the selection and the configuration form go to the core first
  void serversTableClick(id sender);
  void serverConfiguration(id sender);
  void searchServers(id sender);
  void stopServerSearch(id sender);
  void unlockAction(id sender);
  void unlockOkAction(id sender);
  void unlockCancelAction(id sender);
  void modifyBSAction(id sender);
  void modifyPwdAction(id sender);
  void modifyNewPwdAction(id sender);
  void modifyIPAddressAction(id sender);
  void serverConfigOkAction(id sender);
  void serverConfigCancelAction(id sender);
  void upgradeFirmware(id sender);
  void restoreFactorySettings(id sender);
  void refreshClientsMenuAction(id sender);
  void clearMenuAction(id sender);
  void saveMenuAction(id sender);

  // ---- data source of the three tables
  NSInteger numberOfRowsInTableView(NSTableView* table) override;
  id tableView_objectValueForTableColumn_row(NSTableView* table, NSTableColumn* column, NSInteger row) override;

  const char* className() const override { return "ServerManagerWindows"; }

 protected:
  void dealloc() override;

 private:
  void Build(NSView* serverPane, NSView* logPane, serverManager* manager);
  void BuildServerPane(NSView* pane);
  void BuildLogPane(NSView* pane);
  void BuildSearchWindow();
  void BuildUnlockWindow();
  void BuildConfigWindow();
  void BuildMenus();
  // The servers table's selection, and the configuration window's fields, as the core reads them.
  void TakeSelection();
  void TakeConfigForm();
  void ReloadItems();
  void ReloadDetails();
  void ReloadSearch();
  void ReloadUnlock();
  void ReloadConfig();

  serverManager* manager_ = nullptr;  // retained
  NSMenu* commandMenu_ = nullptr;
};

}  // namespace tavrinmac
