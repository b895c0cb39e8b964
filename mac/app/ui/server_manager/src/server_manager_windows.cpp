// The Server Manager's four windows made in code, their outlets and actions wired to the serverManager.
#include "cocoa/AppKitBuilding.h"
#include "TavrinMac/server_manager_windows.h"

#include <algorithm>
#include <cmath>

namespace tavrinmac {
namespace {

using appkit::AddSubview;
using appkit::Column;
using appkit::Label;
using appkit::Text;

NSWindow* MakeWindow(NSRect content, const char* title, NSUInteger style) {
  NSWindow* window = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(content, style, NSBackingStoreBuffered, NO);
  window->setTitle(Text(title));
  window->setReleasedWhenClosed(NO);  // the definition keeps its windows; closing only hides them
  return window;
}

NSTextField* Field(NSView* parent, NSRect frame) { return AddSubview(parent, alloc<NSTextField>()->initWithFrame(frame)); }

NSButton* Button(NSView* parent, NSRect frame, const char* title, id target, SEL action) {
  NSButton* button = AddSubview(parent, alloc<NSButton>()->initWithFrame(frame));
  button->setTitle(Text(title));
  button->setTarget(target);
  button->setAction(std::move(action));
  return button;
}

NSButton* CheckBox(NSView* parent, NSRect frame, const char* title, id target, SEL action) {
  NSButton* box = Button(parent, frame, title, target, std::move(action));
  box->setButtonType(NSSwitchButton);
  return box;
}

NSProgressIndicator* Activity(NSView* parent, NSRect frame) {
  NSProgressIndicator* progress = AddSubview(parent, alloc<NSProgressIndicator>()->initWithFrame(frame));
  progress->setIndeterminate(YES);
  progress->setDisplayedWhenStopped(NO);
  progress->setHidden(YES);
  return progress;
}

void AddColumn(NSTableView* table, const char* identifier, const char* title, CGFloat width) {
  table->addTableColumn(Column(identifier, title, width));
}

// A table in its scroll view; the table is owned by the scroll view.
NSTableView* Table(NSView* parent, NSRect frame) {
  NSScrollView* scroll = AddSubview(parent, alloc<NSScrollView>()->initWithFrame(frame));
  scroll->setHasVerticalScroller(YES);
  NSTableView* table = alloc<NSTableView>()->initWithFrame(NSMakeRect(0, 0, frame.size.width - 15, frame.size.height));
  scroll->setDocumentView(table);
  table->release();
  return table;
}

// The columns "0" to "4" of the servers table and the search window's table.
void AddServerColumns(NSTableView* table) {
  AddColumn(table, "0", "No.", 40);
  AddColumn(table, "1", "Model", 110);
  AddColumn(table, "2", "MAC Address", 150);
  AddColumn(table, "3", "IP Address", 130);
  AddColumn(table, "4", "Status", 90);
}

NSMenuItem* Item(NSMenu* menu, const char* title, id target, SEL action, const char* image) {
  NSMenuItem* item = menu->addItemWithTitle_action_keyEquivalent(Text(title), std::move(action), nullptr);
  item->setTarget(target);
  if (image) item->setImage(NSImage::imageNamed(Text(image)));
  return item;
}

NSView* TabPage(NSTabView* tabs, const char* identifier, const char* label) {
  NSTabViewItem* item = alloc<NSTabViewItem>()->initWithIdentifier(Text(identifier));
  item->setLabel(Text(label));
  NSView* page = alloc<NSView>()->initWithFrame(tabs->contentRect());
  item->setView(page);
  page->release();
  tabs->addTabViewItem(item);
  item->release();
  return page;
}

}  // namespace

ServerManagerWindows* ServerManagerWindows::Load(serverManager* manager) {
  auto* windows = alloc<ServerManagerWindows>();
  windows->ServerManagerWindow = MakeWindow(NSMakeRect(80, 90, 760, 560), "Server Manager",
                                            NSTitledWindowMask | NSClosableWindowMask | NSMiniaturizableWindowMask);
  NSView* content = windows->ServerManagerWindow->contentView();
  NSView* servers = AddSubview(content, alloc<NSView>()->initWithFrame(NSMakeRect(0, 150, 760, 410)));
  Label(content, NSMakeRect(10, 122, 300, 20), "Server Manager log");
  NSView* log = AddSubview(content, alloc<NSView>()->initWithFrame(NSMakeRect(10, 10, 740, 110)));
  windows->Build(servers, log, manager);
  return windows;
}

void ServerManagerWindows::Build(NSView* serverPane, NSView* logPane, serverManager* manager) {
  manager_ = static_cast<serverManager*>(manager->retain());
  BuildServerPane(serverPane);
  BuildLogPane(logPane);
  BuildSearchWindow();
  BuildUnlockWindow();
  BuildConfigWindow();
  BuildMenus();
  for (NSTableView* table : {serversTable, servStatusTable, logTable}) table->setDataSource(this);
  serversTable->setTarget(this);
  serversTable->setAction(selector(&ServerManagerWindows::serversTableClick));
  serversTable->setDoubleAction(selector(&ServerManagerWindows::serverConfiguration));
  ServerManagerWindow->setIgnoresMouseEvents(NO);
  manager_->awakeFromNib();
}

void ServerManagerWindows::BuildServerPane(NSView* pane) {
  const CGFloat width = pane->bounds().size.width, height = pane->bounds().size.height;
  const CGFloat details = std::max<CGFloat>(130, std::round(height * 0.42));  // the part under the table
  const CGFloat clientsLeft = std::round(width * 0.6);
  searchButton = Button(pane, NSMakeRect(10, height - 36, 140, 28), "Search Servers", this,
                        selector(&ServerManagerWindows::searchServers));
  searchButton->setAutoresizingMask(NSViewMinYMargin);
  serversTable = Table(pane, NSMakeRect(10, details + 28, width - 20, height - details - 72));
  serversTable->superview()->setAutoresizingMask(NSViewWidthSizable | NSViewHeightSizable);
  AddServerColumns(serversTable);
  serversTable->setUsesAlternatingRowBackgroundColors(YES);

  Label(pane, NSMakeRect(10, details + 4, 200, 20), "Configuration");
  NSScrollView* statusScroll = AddSubview(pane, alloc<NSScrollView>()->initWithFrame(NSMakeRect(10, 10, clientsLeft - 20, details - 8)));
  statusText = alloc<NSTextView>()->initWithFrame(NSMakeRect(0, 0, clientsLeft - 35, details - 8));
  statusText->setEditable(NO);
  statusText->setFont(NSFont::userFontOfSize(11));
  statusScroll->setDocumentView(statusText);
  statusText->release();

  Label(pane, NSMakeRect(clientsLeft, details + 4, 140, 20), "Connected clients");
  checkingText = Label(pane, NSMakeRect(clientsLeft + 145, details + 4, 100, 20), "");
  checkingText->setHidden(YES);
  checkingStatus = Activity(pane, NSMakeRect(width - 28, details + 6, 16, 16));
  checkingStatus->setStyle(NSProgressIndicatorSpinningStyle);
  clientsTextField = Field(pane, NSMakeRect(clientsLeft, 46, width - clientsLeft - 10, details - 44));
  clientsTextField->setEditable(NO);
  refreshButton = Button(pane, NSMakeRect(clientsLeft, 10, 140, 28), "Refresh Clients", this,
                         selector(&ServerManagerWindows::refreshClientsMenuAction));
}

void ServerManagerWindows::BuildLogPane(NSView* pane) {
  const CGFloat width = pane->bounds().size.width, height = pane->bounds().size.height;
  logTable = Table(pane, NSMakeRect(0, 0, width - 125, height));
  logTable->superview()->setAutoresizingMask(NSViewWidthSizable | NSViewHeightSizable);
  AddColumn(logTable, "0", "S.no", 45);
  AddColumn(logTable, "1", "Date & Time", 190);
  AddColumn(logTable, "2", "Description", std::max<CGFloat>(200, width - 125 - 250));
  clearButton = Button(pane, NSMakeRect(width - 115, height - 30, 110, 28), "Clear", this,
                       selector(&ServerManagerWindows::clearMenuAction));
  saveButton = Button(pane, NSMakeRect(width - 115, height - 64, 110, 28), "Save", this,
                      selector(&ServerManagerWindows::saveMenuAction));
  for (NSButton* button : {clearButton, saveButton}) button->setAutoresizingMask(NSViewMinXMargin | NSViewMinYMargin);
}

void ServerManagerWindows::BuildSearchWindow() {
  searchWindow = MakeWindow(NSMakeRect(200, 300, 560, 290), "Searching Servers", NSTitledWindowMask);
  NSView* content = searchWindow->contentView();
  servStatusTable = Table(content, NSMakeRect(10, 90, 540, 190));
  AddServerColumns(servStatusTable);
  searchStatusText = Label(content, NSMakeRect(10, 60, 540, 20), "");
  servStatusIndicator = Activity(content, NSMakeRect(10, 22, 400, 14));
  stopSearchButton = Button(content, NSMakeRect(440, 14, 110, 28), "Stop", this,
                            selector(&ServerManagerWindows::stopServerSearch));
}

void ServerManagerWindows::BuildUnlockWindow() {
  unlockWindow = MakeWindow(NSMakeRect(260, 360, 380, 180), "Unlock Server", NSTitledWindowMask);
  NSView* content = unlockWindow->contentView();
  unlockDisplay = Label(content, NSMakeRect(20, 145, 340, 22), "");
  unlockDisplay->setFont(NSFont::boldSystemFontOfSize(13));
  Label(content, NSMakeRect(20, 108, 80, 20), "Password:");
  unlockText = AddSubview(content, alloc<MySecureTextField>()->initWithFrame(NSMakeRect(100, 106, 260, 24)));
  unlockingText = Label(content, NSMakeRect(20, 76, 340, 20), "");
  unlockingText->setHidden(YES);
  retrieveProgress = Activity(content, NSMakeRect(20, 58, 340, 12));
  unlockCancelButton = Button(content, NSMakeRect(160, 12, 95, 28), "Cancel", this,
                              selector(&ServerManagerWindows::unlockCancelAction));
  unlockOk = Button(content, NSMakeRect(265, 12, 95, 28), "OK", this, selector(&ServerManagerWindows::unlockOkAction));
  unlockOk->setKeyEquivalent(Text("\r"));
  unlockOk->setEnabled(NO);
}

void ServerManagerWindows::BuildConfigWindow() {
  serverConfigWindow = MakeWindow(NSMakeRect(220, 200, 520, 430), "Server Configuration",
                                  NSTitledWindowMask | NSClosableWindowMask);
  NSView* content = serverConfigWindow->contentView();
  configTabs = AddSubview(content, alloc<NSTabView>()->initWithFrame(NSMakeRect(10, 56, 500, 364)));
  const CGFloat top = configTabs->contentRect().size.height;

  NSView* info = TabPage(configTabs, "information", "Information");
  informationText = Label(info, NSMakeRect(12, 10, 470, top - 20), "");

  NSView* basic = TabPage(configTabs, "basic", "Basic Settings");
  modifyBasicSettings = CheckBox(basic, NSMakeRect(12, top - 40, 300, 22), "Modify basic settings", this,
                                 selector(&ServerManagerWindows::modifyBSAction));
  serverNameLabel = Label(basic, NSMakeRect(12, top - 80, 110, 20), "Server Name:");
  basicSettingsText = Field(basic, NSMakeRect(130, top - 82, 250, 24));

  NSView* network = TabPage(configTabs, "network", "Network Settings");
  modifyIPSettings = CheckBox(network, NSMakeRect(12, top - 40, 300, 22), "Modify network settings", this,
                              selector(&ServerManagerWindows::modifyIPAddressAction));
  Label(network, NSMakeRect(12, top - 80, 110, 20), "IP Config:");
  ipConfigText = AddSubview(network, alloc<NSComboBox>()->initWithFrame(NSMakeRect(130, top - 82, 180, 24)));
  for (const char* value : {"DHCP", "Static"}) ipConfigText->addItemWithObjectValue(Text(value));
  Label(network, NSMakeRect(12, top - 116, 110, 20), "IP Address:");
  ipAddressText = Field(network, NSMakeRect(130, top - 118, 180, 24));
  Label(network, NSMakeRect(12, top - 152, 110, 20), "Subnet Mask:");
  subnetMaskText = Field(network, NSMakeRect(130, top - 154, 180, 24));
  Label(network, NSMakeRect(12, top - 188, 110, 20), "Gateway:");
  gatewayText = Field(network, NSMakeRect(130, top - 190, 180, 24));

  NSView* password = TabPage(configTabs, "password", "Password");
  modifyPwdEnable = CheckBox(password, NSMakeRect(12, top - 40, 300, 22), "Modify password protection", this,
                             selector(&ServerManagerWindows::modifyPwdAction));
  enablePwd = CheckBox(password, NSMakeRect(36, top - 68, 260, 22), "Password enabled", nullptr, SEL());
  modifyPwdSet = CheckBox(password, NSMakeRect(12, top - 104, 300, 22), "Set a new password", this,
                          selector(&ServerManagerWindows::modifyNewPwdAction));
  Label(password, NSMakeRect(36, top - 140, 130, 20), "New Password:");
  newPwdText = AddSubview(password, alloc<NSSecureTextField>()->initWithFrame(NSMakeRect(170, top - 142, 200, 24)));
  Label(password, NSMakeRect(36, top - 176, 130, 20), "Confirm Password:");
  confirmPwdText = AddSubview(password, alloc<NSSecureTextField>()->initWithFrame(NSMakeRect(170, top - 178, 200, 24)));
  configTabs->selectTabViewItemAtIndex(0);

  Label(content, NSMakeRect(10, 20, 40, 20), "Row:");
  selectedIndex = Label(content, NSMakeRect(50, 20, 50, 20), "");
  setConfigProgress = Activity(content, NSMakeRect(110, 24, 160, 12));
  serverConfigCancel = Button(content, NSMakeRect(300, 14, 100, 28), "Cancel", this,
                              selector(&ServerManagerWindows::serverConfigCancelAction));
  serverConfigOk = Button(content, NSMakeRect(410, 14, 100, 28), "OK", this,
                          selector(&ServerManagerWindows::serverConfigOkAction));
}

void ServerManagerWindows::BuildMenus() {
  struct Set {
    NSMenuItem **search, **unlock, **config, **upgrade, **restore;
  };
  auto fill = [this](NSMenu* menu, const Set& set) {
    *set.search = Item(menu, "Search Servers", this, selector(&ServerManagerWindows::searchServers), "searchBS.icns");
    *set.unlock = Item(menu, "Unlock", this, selector(&ServerManagerWindows::unlockAction), "unlock.icns");
    *set.config = Item(menu, "Server Configuration", this, selector(&ServerManagerWindows::serverConfiguration),
                       "serverConfig.icns");
    *set.upgrade = Item(menu, "Upgrade Firmware", this, selector(&ServerManagerWindows::upgradeFirmware), "upgrade.icns");
    *set.restore = Item(menu, "Restore Factory Settings", this, selector(&ServerManagerWindows::restoreFactorySettings),
                        "restore.icns");
  };
  serverMenu = alloc<NSMenu>()->initWithTitle(Text("Servers"));
  serverMenu->setAutoenablesItems(NO);
  fill(serverMenu, {&searchHeaderMenuItem, &unlockHeaderMenuItem, &serverConfigHeaderMenuItem, &upgradeHeaderMenuItem,
                    &restoreHeaderMenuItem});
  serversTable->setMenu(serverMenu);

  commandMenu_ = alloc<NSMenu>()->initWithTitle(Text("Server"));
  commandMenu_->setAutoenablesItems(NO);
  fill(commandMenu_, {&searchMenuItem, &unlockMenuItem, &serverConfigMenuItem, &upgradeMenuItem, &restoreMenuItem});

  refreshMenu = alloc<NSMenu>()->initWithTitle(Text("Clients and Log"));
  refreshMenu->setAutoenablesItems(NO);
  refreshMenuItem = Item(refreshMenu, "Refresh Clients", this, selector(&ServerManagerWindows::refreshClientsMenuAction),
                         nullptr);
  refreshMenu->addItem(NSMenuItem::separatorItem());
  clearMenuItem = Item(refreshMenu, "Clear Log", this, selector(&ServerManagerWindows::clearMenuAction), "clear1.icns");
  saveMenuItem = Item(refreshMenu, "Save Log...", this, selector(&ServerManagerWindows::saveMenuAction), "save.icns");
  clientsTextField->setMenu(refreshMenu);
  logTable->setMenu(refreshMenu);
}

void ServerManagerWindows::dealloc() {
  for (NSWindow* window : {ServerManagerWindow, searchWindow, unlockWindow, serverConfigWindow}) {
    if (!window) continue;
    window->orderOut(nullptr);
    window->release();
  }
  for (NSMenu* menu : {serverMenu, refreshMenu, commandMenu_})
    if (menu) menu->release();
  if (manager_) manager_->release();
  NSObject::dealloc();
}

void ServerManagerWindows::Show() { ServerManagerWindow->makeKeyAndOrderFront(nullptr); }

NSWindow* ServerManagerWindows::WindowFor(View view) const {
  switch (view) {
    case View::kSearchWindow: return searchWindow;
    case View::kUnlockWindow: return unlockWindow;
    case View::kConfigWindow: return serverConfigWindow;
    case View::kServersTable:
    case View::kServerLog:
    case View::kServerItems:
    case View::kServerDetails: return ServerManagerWindow;
    default: return nullptr;
  }
}

}  // namespace tavrinmac
