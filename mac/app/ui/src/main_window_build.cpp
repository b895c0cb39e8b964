// The main interface's window definitions: what an interface file would hold, made by code. Layouts,
// column titles and pictures are ours; outlets, tags, identifiers and actions are the program's own.
#include "cocoa/AppKitBuilding.h"
#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui/MainWindow.h"

namespace tavrinmac::ui {
namespace {

using appkit::AddSubview;
using appkit::Column;
using appkit::Label;
using appkit::Text;

NSButton* TabButton(NSView* parent, NSRect frame) {
  NSButton* button = AddSubview(parent, alloc<NSButton>()->initWithFrame(frame));
  button->setButtonType(NSPushOnPushOffButton);
  return button;
}

NSTabViewItem* Tab(NSTabView* tabs, const char* identifier, const char* label, NSView* view) {
  NSTabViewItem* item = alloc<NSTabViewItem>()->initWithIdentifier(Text(identifier));
  item->setLabel(Text(label));
  item->setView(view);
  view->release();
  tabs->addTabViewItem(item);
  item->release();
  return item;
}

NSMenuItem* Item(NSMenu* menu, const char* title, SEL action, id target, const char* key = "") {
  NSMenuItem* item = menu->addItemWithTitle_action_keyEquivalent(Text(title), std::move(action), Text(key));
  item->setTarget(target);
  return item;
}

}  // namespace

constexpr CGFloat kWidth = 900, kHeight = 620;

void MainWindowController::load() {
  SetUi(&ui_);
  BuildMainWindow();
  BuildOvalScreen();
  BuildAboutWindow();
  BuildMenus();
  outlineView->awakeFromNib();
  awakeFromNib();
}

void MainWindowController::BuildMainWindow() {
  mainWindow = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(60, 40, kWidth, kHeight), NSTitledWindowMask | NSClosableWindowMask | NSMiniaturizableWindowMask,
      NSBackingStoreBuffered, NO);
  mainWindow->setReleasedWhenClosed(NO);
  mainWindow->setTitle(Text("TavrinMac"));
  mainWindow->setDelegate(this);
  NSView* content = mainWindow->contentView();

  // The tab buttons, the current tab's title and the network's state along the top.
  devButton = TabButton(content, NSMakeRect(10, kHeight - 40, 150, 30));
  servButton = TabButton(content, NSMakeRect(165, kHeight - 40, 150, 30));
  locSetButton = TabButton(content, NSMakeRect(320, kHeight - 40, 150, 30));
  for (NSButton* button : {devButton, servButton, locSetButton}) button->setTarget(this);
  tabText = Label(content, NSMakeRect(490, kHeight - 40, 300, 30), "");
  progressForNetwork = AddSubview(content, alloc<NSProgressIndicator>()->initWithFrame(NSMakeRect(820, kHeight - 36, 24, 24)));
  progressForNetwork->setStyle(NSProgressIndicatorSpinningStyle);
  networkView = AddSubview(content, alloc<NSImageView>()->initWithFrame(NSMakeRect(856, kHeight - 38, 28, 28)));
  networkView->setImage(NSImage::imageNamed(Text("network.png")));

  // The tab view: "device" holds the tree, "server" the server manager's views.
  tabView = AddSubview(content, alloc<NSTabView>()->initWithFrame(NSMakeRect(10, 210, 600, kHeight - 260)));
  treeScroll_ = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 0, 600, kHeight - 260));
  outlineView = alloc<TavrinOutlineView>()->initWithFrame(NSMakeRect(0, 0, 580, kHeight - 260));
  outlineView->addTableColumn(Column("0", " ", 26));
  outlineView->addTableColumn(Column("1", "Server / Device", 230));
  outlineView->addTableColumn(Column("2", "Class", 110));
  outlineView->addTableColumn(Column("3", "State", 120));
  outlineView->addTableColumn(Column("4", " ", 26));
  outlineView->addTableColumn(Column("5", "Port", 50));
  outlineView->setOutlineTableColumn(outlineView->tableColumnWithIdentifier(Text("1")));
  outlineView->setMenuDelegate(this);
  treeScroll_->setDocumentView(outlineView);
  outlineView->release();
  treeScroll_->retain();  // the controller hides and shows it
  Tab(tabView, "device", "Device Mapping", treeScroll_);
  serverTab_ = alloc<NSView>()->initWithFrame(NSMakeRect(0, 0, 600, kHeight - 260));
  Tab(tabView, "server", "Server Manager", serverTab_);
  // A devices table of its own is not shown; the tree is the device list.
  devTable = AddSubview(serverTab_, alloc<NSTableView>()->initWithFrame(NSMakeRect(0, 0, 0, 0)));
  devTable->setHidden(YES);

  // The tree's context menu: Connect (tag 0) and Disconnect (tag 1), enabled by the device's state.
  treeMenu_ = alloc<NSMenu>()->initWithTitle(Text("Device"));
  treeMenu_->setAutoenablesItems(NO);
  Item(treeMenu_, "Connect", selector(&MainWindowController::connectThread), this)->setTag(0);
  Item(treeMenu_, "DisConnect", selector(&MainWindowController::disconnectThread), this)->setTag(1);
  outlineView->setMenu(treeMenu_);

  // START and STOP's wait, over the tree.
  pleaseWaitText = Label(content, NSMakeRect(180, 420, 280, 24), "Please wait...");
  pleaseWaitText->setAlignment(NSCenterTextAlignment);
  pleaseWaitText->setHidden(YES);
  progressForMapping = AddSubview(content, alloc<NSProgressIndicator>()->initWithFrame(NSMakeRect(180, 396, 280, 16)));
  progressForMapping->setHidden(YES);

  // The details of the selected row, beside the tree.
  Label(content, NSMakeRect(620, kHeight - 70, 270, 20), "Details");
  statusText = AddSubview(content, alloc<DetailsTextField>()->initWithFrame(NSMakeRect(620, 210, 270, kHeight - 285)));
  statusText->setEditable(NO);
  statusText->setFont(NSFont::systemFontOfSize(11));

  // The logs: "1" the Device Mapping log, "2" the server manager's.
  logTabView = AddSubview(content, alloc<NSTabView>()->initWithFrame(NSMakeRect(10, 10, kWidth - 20, 190)));
  NSScrollView* logScroll = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 0, kWidth - 20, 165));
  logDevicesTable = alloc<NSTableView>()->initWithFrame(NSMakeRect(0, 0, kWidth - 40, 165));
  logDevicesTable->addTableColumn(Column("sno", "S.no", 50));
  logDevicesTable->addTableColumn(Column("now", "Date & Time", 210));
  logDevicesTable->addTableColumn(Column("method", "Method", 170));
  logDevicesTable->addTableColumn(Column("description", "Description", 420));
  logDevicesTable->setUsesAlternatingRowBackgroundColors(YES);
  logScroll->setDocumentView(logDevicesTable);
  logDevicesTable->release();
  Tab(logTabView, "1", "Device Mapping Log", logScroll);
  serverLogTab_ = alloc<NSView>()->initWithFrame(NSMakeRect(0, 0, kWidth - 20, 165));
  Tab(logTabView, "2", "Server Manager Log", serverLogTab_);
}

void MainWindowController::BuildOvalScreen() {
  const NSRect screen = NSScreen::mainScreen()->frame();
  const CGFloat width = 440, height = 150;
  ovalScreen = alloc<CustomWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect((screen.size.width - width) / 2, (screen.size.height - height) / 2, width, height),
      NSBorderlessWindowMask, NSBackingStoreBuffered, NO);
  ovalScreen->setReleasedWhenClosed(NO);
  ovalScreen->setTitle(Text("Pelko"));
  auto* face = alloc<CustomView>()->initWithFrame(NSMakeRect(0, 0, width, height));
  face->setInnerColor(NSColor::colorWithCalibratedRed_green_blue_alpha(1, 1, 0.9f, 1));
  AddSubview(ovalScreen->contentView(), face);
}

void MainWindowController::BuildAboutWindow() {
  abtAppWindow = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(0, 0, 320, 170), NSTitledWindowMask, NSBackingStoreBuffered, NO);
  abtAppWindow->setReleasedWhenClosed(NO);
  abtAppWindow->setTitle(Text("About TavrinMac"));
  abtAppWindow->center();
  NSView* content = abtAppWindow->contentView();
  NSTextField* name = Label(content, NSMakeRect(20, 110, 280, 34), "TavrinMac");
  name->setFont(NSFont::fontWithName_size(Text("Times"), 24.0));
  name->setAlignment(NSCenterTextAlignment);
  Label(content, NSMakeRect(20, 84, 280, 20), "Version 1.0")->setAlignment(NSCenterTextAlignment);
  Label(content, NSMakeRect(20, 62, 280, 20), "Pelko device mapping and server manager")
      ->setAlignment(NSCenterTextAlignment);
  NSButton* ok = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(120, 14, 80, 28)));
  ok->setTitle(Text("OK"));
  ok->setKeyEquivalent(Text("\r"));
  ok->setTarget(this);
  ok->setAction(selector(&MainWindowController::oKaboutApplicationAction));
}

void MainWindowController::BuildMenus() {
  mainMenu_ = alloc<NSMenu>()->initWithTitle(Text("MainMenu"));
  auto submenu = [this](const char* title) {
    NSMenu* menu = alloc<NSMenu>()->initWithTitle(Text(title));
    NSMenuItem* holder = mainMenu_->addItemWithTitle_action_keyEquivalent(Text(title), SEL(), Text(""));
    holder->setSubmenu(menu);
    menu->release();
    return menu;
  };
  NSMenu* application = submenu("TavrinMac");
  Item(application, "About TavrinMac", selector(&MainWindowController::aboutApplicationAction), this);
  application->addItem(NSMenuItem::separatorItem());
  Item(application, "Quit TavrinMac", selector(&MainWindowController::terminate), this, "q");

  NSMenu* file = submenu("File");
  saveMenuItem = Item(file, "Save Log...", selector(&MainWindowController::saveLogToFile), this, "s");
  clearMenuItem = Item(file, "Clear Log", selector(&MainWindowController::RemItem), this);

  NSMenu* mapping = submenu("Device Mapping");
  Item(mapping, "Connect", selector(&MainWindowController::connectThread), this);
  Item(mapping, "DisConnect", selector(&MainWindowController::disconnectThread), this);
  mapping->addItem(NSMenuItem::separatorItem());
  Item(mapping, "START", selector(&MainWindowController::startRun), this);
  Item(mapping, "STOP", selector(&MainWindowController::stopRun), this);

  NSMenu* servers = submenu("Server Manager");
  Item(servers, "Search Pelko Servers", selector(&MainWindowController::searchTavrinServers), this);
  Item(servers, "Server Configuration", selector(&MainWindowController::tavrinServerConfiguration), this);
  Item(servers, "Upgrade Firmware", selector(&MainWindowController::upgradeTavrinFirmware), this);

  NSMenu* window = submenu("Window");
  Item(window, "Device Mapping", selector(&MainWindowController::showDevice), this);
  Item(window, "Server Manager", selector(&MainWindowController::showServer), this);
  Item(window, "TavrinMac", selector(&MainWindowController::closeTavrinScreen), this);
  NSApp->setMainMenu(mainMenu_);
  NSApp->setDelegate(this);
}

void UseMainInterface(const MainInterfaceOptions& options, MainWindowController** made) {
  appkit::SetMainInterface([options, made] {
    TavrinApp* app = alloc<TavrinApp>()->init();
    MainWindowController* controller = alloc<MainWindowController>()->initWithController(app, options);
    app->release();
    controller->load();
    *made = controller;
  });
}

}  // namespace tavrinmac::ui
