// The main window's behaviour: set-up, the tab buttons, the tree's and the log's data, the toolbar and
// menus, the reloads the controller asks for, the About window and quitting.
#include <cstdio>
#include <cstring>

#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui/MainWindow.h"

namespace tavrinmac::ui {
namespace {

MainWindowController* g_current = nullptr;

NSString* Text(const char* text) { return NSString::stringWithUTF8String(text); }
NSString* Text(const std::string& text) { return NSString::stringWithStd(text); }

std::string Identifier(NSTableColumn* column) {
  auto* identifier = column ? dynamic_cast<NSString*>(column->identifier()) : nullptr;
  return identifier ? identifier->str() : std::string();
}

NSTextFieldCell* StateCell(const char* text, NSColor* colour) {
  NSTextFieldCell* cell = alloc<NSTextFieldCell>()->initTextCell(Text(text));
  cell->setFont(NSFont::fontWithName_size(Text("Times"), 14.0));
  cell->setAlignment(NSCenterTextAlignment);
  cell->setTextColor(colour);
  return cell;
}

struct ToolbarItemKind {
  const char* identifier;
  SEL action;
  const char* image;
};

}  // namespace

MainWindowController* CurrentMainWindow() { return g_current; }

void ShowServerManager() {
  if (MainWindowController* window = CurrentMainWindow()) window->showServer(nullptr);
}

MainWindowController* MainWindowController::initWithController(TavrinApp* app, const MainInterfaceOptions& options) {
  app_ = static_cast<TavrinApp*>(app->retain());
  options_ = options;
  app_->setTimings(options.timings);
  serverManagerFlag = alloc<serverManager>()->init();
  ui_.SetReload([this](View view) { Reload(view); });
  ui_.SetModalWindows([this](View window) -> NSWindow* {
    return serverWindows_ ? serverWindows_->WindowFor(window) : nullptr;
  });
  return this;
}

void MainWindowController::dealloc() {
  teardown();
  NSObject::dealloc();
}

// ---- set-up

void MainWindowController::awakeFromNib() {
  g_current = this;
  NSNotificationCenter* center = NSNotificationCenter::defaultCenter();
  center->addObserver_selector_name_object(this, &MainWindowController::mainWindowWillClose,
                                           NSWindowWillCloseNotification, mainWindow);
  center->addObserver_selector_name_object(this, &MainWindowController::outlineViewSelectionDidChange,
                                           NSOutlineViewSelectionDidChangeNotification, outlineView);
  center->addObserver_selector_name_object(this, &MainWindowController::ovalScreenWillClose,
                                           NSWindowWillCloseNotification, ovalScreen);
  ovalScreen->makeKeyAndOrderFront(nullptr);
  retain();
  NSRunLoop::mainRunLoop()->Enqueue([this] {
    FinishStartup();
    release();
  }, options_.ovalSeconds);

  saveMenuItem->setImage(NSImage::imageNamed(Text("save.icns")));
  clearMenuItem->setImage(NSImage::imageNamed(Text("clear1.icns")));
  mainWindow->setCanHide(YES);
  menuConnect = treeMenu_->itemWithTag(0);
  menuDisConnect = treeMenu_->itemWithTag(1);
  menuConnect->setEnabled(NO);
  menuDisConnect->setEnabled(NO);
  menuConnect->setImage(NSImage::imageNamed(Text("connectmenuImg.icns")));
  menuConnect->setTitle(Text("Connect"));
  menuDisConnect->setImage(NSImage::imageNamed(Text("disConnectMenuImg.icns")));

  freeStringCell = StateCell("Free", NSColor::colorWithDeviceCyan_magenta_yellow_black_alpha(9.0, 0, 8.0, 0.5, 9.0));
  busyStringCell = StateCell("Busy", NSColor::redColor());
  connectedStringCell = StateCell("Connected", NSColor::redColor());
  connectingStringCell = StateCell("Connecting..", NSColor::darkGrayColor());
  disconnectingStringCell = StateCell("DisConnecting..", NSColor::darkGrayColor());

  tabView->setTabViewType(NSNoTabsBezelBorder);
  devButton->setTitle(Text("Device Mapping"));
  devButton->setAction(selector(&MainWindowController::showDevice));
  devButton->setState(NSOnState);
  servButton->setTitle(Text("Server Manager"));
  servButton->setAction(selector(&MainWindowController::showServer));
  locSetButton->setTitle(Text("Local Settings"));
  locSetButton->setAction(selector(&MainWindowController::showLocSettings));
  locSetButton->setState(NSOffState);

  NSButton* close = mainWindow->standardWindowButton(NSWindowCloseButton);
  close->setTarget(this);
  close->setAction(selector(&MainWindowController::exitApplication));
  outlineView->setDoubleAction(selector(&MainWindowController::doDoubleClick));
  InstallToolbar();

  logTabView->selectTabViewItemWithIdentifier(Text("1"));
  mainWindow->setOpaque(NO);
  devTable->setDoubleAction(selector(&MainWindowController::doDoubleClick));
  outlineView->setDataSource(this);
  logDevicesTable->setDataSource(this);
  tabText->setFont(NSFont::fontWithName_size(Text("Times"), 20.0));
  tabText->setStringValue(Text("Device Mapping"));
  progressForNetwork->startAnimation(this);
  app_->setServerManager(serverManagerFlag);
  devButton->highlight(NO);

  // The server manager's windows, wired to the same server manager object.
  serverWindows_ = tavrinmac::ServerManagerWindows::Load(serverManagerFlag);
  // Its second set of command items, which the server manager enables with the first, in the menu bar.
  if (NSMenu* commands = serverWindows_ ? serverWindows_->commandMenu() : nullptr; commands && mainMenu_) {
    NSMenuItem* holder = mainMenu_->addItemWithTitle_action_keyEquivalent(commands->title(), SEL(), Text(""));
    holder->setSubmenu(commands);
  }
}

void MainWindowController::FinishStartup() {
  if (started_ || tornDown_) return;
  started_ = true;
  if (ovalScreen) {
    ovalScreen->orderOut(nullptr);
    NSNotificationCenter::defaultCenter()->removeObserver_name_object(this, NSWindowWillCloseNotification, ovalScreen);
    ovalScreen->release();
    ovalScreen = nullptr;
  }
  mainWindow->makeKeyAndOrderFront(nullptr);
  // The controller opens the driver and starts the polling and presence-check threads.
  app_->awakeFromNib();
  Reload(View::kToolbar);
}

void MainWindowController::ovalScreenWillClose(NSNotification*) {
  // Moved over, it closes sooner: the start-up goes on at once.
  retain();
  NSRunLoop::mainRunLoop()->Enqueue([this] {
    FinishStartup();
    release();
  }, 0);
}

void MainWindowController::teardown() {
  if (tornDown_) return;
  tornDown_ = true;
  ui_.Close();
  if (&Ui() == &ui_) SetUi(nullptr);
  app_->shutdown();
  serverManager::joinWorkers();
  NSNotificationCenter::defaultCenter()->removeObserver(this);
  if (g_current == this) g_current = nullptr;
  if (serverWindows_) serverWindows_->release();
  serverWindows_ = nullptr;
  for (Node* node : expanded_) node->release();
  expanded_.clear();
  // Their timers hold them while they animate.
  for (NSProgressIndicator* progress : {progressForNetwork, progressForMapping})
    if (progress) progress->stopAnimation(this);
  if (outlineView) outlineView->setDataSource(nullptr);
  if (logDevicesTable) logDevicesTable->setDataSource(nullptr);
  if (NSApp->mainMenu() == mainMenu_) NSApp->setMainMenu(nullptr);
  for (NSWindow* window : {static_cast<NSWindow*>(ovalScreen), abtAppWindow, mainWindow}) {
    if (!window) continue;
    if (window->toolbar()) window->toolbar()->setDelegate(nullptr);
    window->setToolbar(nullptr);
    window->orderOut(nullptr);
    window->release();
  }
  ovalScreen = nullptr;
  abtAppWindow = mainWindow = nullptr;
  for (NSObject** held : {reinterpret_cast<NSObject**>(&busyStringCell), reinterpret_cast<NSObject**>(&freeStringCell),
                          reinterpret_cast<NSObject**>(&connectingStringCell),
                          reinterpret_cast<NSObject**>(&disconnectingStringCell),
                          reinterpret_cast<NSObject**>(&connectedStringCell), reinterpret_cast<NSObject**>(&treeMenu_),
                          reinterpret_cast<NSObject**>(&mainMenu_), reinterpret_cast<NSObject**>(&serverManagerFlag)}) {
    if (*held) (*held)->release();
    *held = nullptr;
  }
  if (treeScroll_) treeScroll_->release();
  treeScroll_ = nullptr;
  if (NSApp->delegate() == this) NSApp->setDelegate(nullptr);
  app_->setServerManager(nullptr);
  app_->release();
  app_ = nullptr;
}

void MainWindowController::InstallToolbar() {
  NSToolbar* toolbar = alloc<NSToolbar>()->initWithIdentifier(Text("tooltest"));
  toolbar->setDelegate(this);
  toolbar->setAllowsUserCustomization(YES);
  toolbar->setAutosavesConfiguration(NO);
  if (NSToolbar* old = mainWindow->toolbar()) old->setDelegate(nullptr);
  mainWindow->setToolbar(toolbar);
  toolbar->release();
  toolbar->validateVisibleItems();
}

// ---- tab buttons

void MainWindowController::showDevice(NSObject*) {
  tabView->selectTabViewItemWithIdentifier(Text("device"));
  tabText->setStringValue(Text("Device Mapping"));
  logTabView->selectTabViewItemWithIdentifier(Text("1"));
  servButton->setState(NSOffState);
  locSetButton->setState(NSOffState);
  devButton->setState(NSOnState);
  if (app_->serverCount() == 0 && !app_->TavrinThread) app_->showStart = 1;
  InstallToolbar();
}

void MainWindowController::showServer(NSObject* sender) {
  app_->showStart = 0;
  tabView->selectTabViewItemWithIdentifier(Text("server"));
  tabText->setStringValue(Text("Server Manager"));
  logTabView->selectTabViewItemWithIdentifier(Text("2"));
  devButton->setState(NSOffState);
  servButton->setState(NSOnState);
  InstallToolbar();
  if (serverWindows_) serverWindows_->Show();
  searchTavrinServers(sender);  // a discovery each time the tab shows
}

void MainWindowController::showLocSettings(NSObject*) {
  tabText->setStringValue(Text("Server Local Settings"));
  if (devButton->state() == NSOffState && servButton->state() == NSOffState) locSetButton->setState(NSOnState);
}

void MainWindowController::closeTavrinScreen(NSObject*) { mainWindow->makeKeyAndOrderFront(this); }

// ---- actions that go to the controllers

void MainWindowController::searchTavrinServers(NSObject* sender) { serverManager::searchServers_class(sender); }
void MainWindowController::tavrinServerConfiguration(NSObject* sender) { serverManager::serverConfiguration_class(sender); }
void MainWindowController::upgradeTavrinFirmware(NSObject* sender) { serverManager::upgradeFirmware_class(sender); }
void MainWindowController::refreshItem(NSObject* sender) { serverManager::upgradeFirmware_class(sender); }
void MainWindowController::connectThread(NSObject* sender) { app_->connectThread(sender); }
void MainWindowController::disconnectThread(NSObject* sender) { app_->disconnectThread(sender); }
void MainWindowController::startRun(NSObject* sender) { app_->startRun(sender); }
void MainWindowController::stopRun(NSObject* sender) { app_->stopRun(sender); }
void MainWindowController::RemItem(NSObject* sender) { app_->RemItem(sender); }
void MainWindowController::saveLogToFile(NSObject* sender) { app_->saveLogToFile(sender); }
void MainWindowController::doDoubleClick(NSObject*) {}

void MainWindowController::mainWindowWillClose(NSNotification*) {
  if (!quitting_) app_->saveLogToFile(nullptr);
}

// ---- About

void MainWindowController::aboutApplicationAction(NSObject*) { NSApp->runModalForWindow(abtAppWindow); }

void MainWindowController::oKaboutApplicationAction(NSObject*) {
  abtAppWindow->orderOut(this);
  NSApp->stopModalWithCode(1);
}

// ---- quitting

void MainWindowController::exitApplication(NSObject* sender) {
  if (quitting_) return;
  if (!app_->exitApplication(sender)) return;  // the alert said why
  quitting_ = true;
  mainWindow->orderOut(this);
  NSApp->terminate(this);
}

void MainWindowController::terminate(NSObject* sender) { exitApplication(sender); }

NSApplicationTerminateReply MainWindowController::applicationShouldTerminate(NSApplication*) {
  if (quitting_) return NSTerminateNow;
  exitApplication(nullptr);
  return NSTerminateCancel;  // exitApplication ends the run itself when it may
}

BOOL MainWindowController::windowShouldClose(id sender) {
  exitApplication(static_cast<NSObject*>(sender));
  return NO;
}

// ---- the tree

id MainWindowController::outlineView_child_ofItem(NSOutlineView*, NSInteger index, id item) {
  return app_->outlineView_child_ofItem(static_cast<int>(index), dynamic_cast<Node*>(item));
}

BOOL MainWindowController::outlineView_isItemExpandable(NSOutlineView*, id item) {
  return app_->outlineView_isItemExpandable(dynamic_cast<Node*>(item));
}

NSInteger MainWindowController::outlineView_numberOfChildrenOfItem(NSOutlineView*, id item) {
  return app_->outlineView_numberOfChildrenOfItem(dynamic_cast<Node*>(item));
}

id MainWindowController::outlineView_objectValueForTableColumn_byItem(NSOutlineView*, NSTableColumn* column, id item) {
  auto* node = dynamic_cast<Node*>(item);
  if (!node) return nullptr;
  const std::string which = Identifier(column);
  const std::string text = app_->cellText(which, node);
  if (which == "0" || which == "4") return text.empty() ? nullptr : NSImage::imageNamed(Text(text));
  if (which == "3" && node->isDevice()) {
    NSTextFieldCell* cell = text == "Busy"              ? busyStringCell
                            : text == "Connecting.."    ? connectingStringCell
                            : text == "DisConnecting.." ? disconnectingStringCell
                            : text == "Connected"       ? connectedStringCell
                            : text == "Free"            ? freeStringCell
                                                        : nullptr;
    // Asked for the selected device, the state word also sets what may be done with it.
    Node* selected = app_->selectedNode();
    if (selected == node && (cell == connectedStringCell || cell == freeStringCell)) {
      const bool connected = cell == connectedStringCell;
      app_->showDisConnect = connected;
      app_->showConnect = !connected;
      app_->showRefresh = 0;
      app_->showStop = 1;
      app_->showStart = 0;
      menuConnect->setEnabled(connected ? NO : YES);
      menuDisConnect->setEnabled(connected ? YES : NO);
      mainWindow->update();
    }
    if (selected) selected->release();
    return cell;
  }
  return text.empty() ? nullptr : Text(text);
}

void MainWindowController::outlineView_setObjectValue_forTableColumn_byItem(NSOutlineView*, id, NSTableColumn*, id) {
  statusText->setStringValue(NSString::stringWithFormat("Clicked column - (%d), row - (%d)",
                                                        static_cast<int>(outlineView->clickedColumn()),
                                                        static_cast<int>(outlineView->clickedRow())));
}

void MainWindowController::outlineViewSelectionDidChange(NSNotification* notification) {
  const NSInteger row = outlineView->selectedRow();
  app_->setSelectedNode(row >= 0 ? dynamic_cast<Node*>(outlineView->itemAtRow(row)) : nullptr);
  app_->outlineViewSelectionDidChange(notification);
}

bool MainWindowController::ApplyDeviceRule(id item) {
  auto* node = dynamic_cast<Node*>(item);
  if (!node || !node->isDevice() || !node->deviceInformation()) return false;
  const __dev_info__ info = *node->deviceInformation();
  const int slot = app_->indexOfDevice(static_cast<int16_t>(info.pid), static_cast<int16_t>(info.vid),
                                       static_cast<int16_t>(info.portnum), node->serverIPAddress());
  app_->applyDeviceActionRule(node->isConnected(), slot);
  return true;
}

void MainWindowController::ReloadTree() {
  // The rows are rebuilt from the controller's nodes; the selection is the controller's node's row.
  outlineView->SetSelectionQuietly(-1);
  for (Node* node : expanded_) {
    outlineView->collapseItem(node);
    node->release();
  }
  expanded_.clear();
  outlineView->reloadData();
  const int servers = app_->outlineView_numberOfChildrenOfItem(nullptr);
  for (int i = 0; i < servers; ++i) {
    Node* server = app_->outlineView_child_ofItem(i, nullptr);
    if (!server || !app_->outlineView_isItemExpandable(server)) continue;
    expanded_.push_back(static_cast<Node*>(server->retain()));
    outlineView->expandItem(server);
  }
  Node* selected = app_->selectedNode();
  if (selected) {
    outlineView->SetSelectionQuietly(outlineView->rowForItem(selected));
    selected->release();
  }
  outlineView->setNeedsDisplay(YES);
}

// ---- the log

NSInteger MainWindowController::numberOfRowsInTableView(NSTableView*) { return app_->numberOfRowsInTableView(); }

id MainWindowController::tableView_objectValueForTableColumn_row(NSTableView*, NSTableColumn* column, NSInteger row) {
  return Text(app_->logCellText(Identifier(column), static_cast<int>(row)));
}

// ---- toolbar

NSToolbarItem* MainWindowController::toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar*,
                                                                                            NSString* identifier, BOOL) {
  const ToolbarItemKind kinds[] = {
      {"Connect", selector(&MainWindowController::connectThread), "Connect.ico"},
      {"DisConnect", selector(&MainWindowController::disconnectThread), "Disconnect.ico"},
      {"START", selector(&MainWindowController::startRun), "play_blue_h.png"},
      {"STOP", selector(&MainWindowController::stopRun), "stop_blue.png"},
      {"Refresh", selector(&MainWindowController::refreshItem), "config.png"},
      {"Search Pelko Servers", selector(&MainWindowController::searchTavrinServers), "searchB.icns"},
      {"Server Configuration", selector(&MainWindowController::tavrinServerConfiguration), "configR.icns"},
      {"Upgrade Firmware", selector(&MainWindowController::upgradeTavrinFirmware), "upgradeBig.icns"},
  };
  NSToolbarItem* item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
  item->setLabel(identifier);
  item->setPaletteLabel(identifier);
  item->setTarget(this);
  const char* image = "network.png";
  for (const ToolbarItemKind& kind : kinds) {
    if (identifier->str() != kind.identifier) continue;
    item->setAction(kind.action);
    image = kind.image;
  }
  item->setImage(NSImage::imageNamed(Text(image)));
  return static_cast<NSToolbarItem*>(item->autorelease());
}

NSArray* MainWindowController::toolbarDefaultItemIdentifiers(NSToolbar*) {
  NSMutableArray* list = NSMutableArray::array();
  auto add = [list](const char* identifier) { list->addObject(Text(identifier)); };
  if (devButton->state() == NSOnState) {
    add("Connect");
    add("DisConnect");
    list->addObject(NSToolbarSeparatorItemIdentifier);
    add("START");
    add("STOP");
    list->addObject(NSToolbarSeparatorItemIdentifier);
    add("Auto-Connect Settings");
  } else {
    add("Search Pelko Servers");
    list->addObject(NSToolbarSeparatorItemIdentifier);
    add("Server Configuration");
    add("Upgrade Firmware");
  }
  return list;
}

NSArray* MainWindowController::toolbarAllowedItemIdentifiers(NSToolbar*) {
  NSMutableArray* list = NSMutableArray::array();
  for (int i = 0; i < 10; ++i) list->addObject(NSString::stringWithFormat("Tool %d", i));
  list->addObject(NSToolbarSeparatorItemIdentifier);
  list->addObject(NSToolbarShowColorsItemIdentifier);
  return list;
}

BOOL MainWindowController::validateToolbarItem(NSToolbarItem* item) {
  return app_ && app_->validateToolbarItem(item->itemIdentifier()->str());
}

BOOL MainWindowController::validateMenuItem(NSMenuItem* item) {
  if (!app_) return NO;
  if (item == menuConnect) return app_->showConnect && app_->showToolbarItems ? YES : NO;
  if (item == menuDisConnect) return app_->showDisConnect && app_->showToolbarItems ? YES : NO;
  // The menu bar's items that stand for toolbar items follow them.
  const std::string title = item->title() ? item->title()->str() : "";
  for (const char* name : {"Connect", "DisConnect", "START", "STOP", "Search Pelko Servers", "Server Configuration",
                           "Upgrade Firmware"})
    if (title == name) return app_->validateToolbarItem(title);
  return YES;
}

void MainWindowController::UpdateActions() {
  if (NSToolbar* toolbar = mainWindow->toolbar()) toolbar->validateVisibleItems();
  // The context menu's items follow the controller when it changes them (a request done, STOP, a server
  // chosen); a right click sets them between its changes.
  const int connect = app_->menuConnectEnabled(), disconnect = app_->menuDisConnectEnabled();
  if (connect != coreMenuConnect_) menuConnect->setEnabled(connect ? YES : NO);
  if (disconnect != coreMenuDisConnect_) menuDisConnect->setEnabled(disconnect ? YES : NO);
  coreMenuConnect_ = connect;
  coreMenuDisConnect_ = disconnect;
}

// ---- reloads

void MainWindowController::Reload(View view) {
  if (tornDown_) return;
  switch (view) {
    case View::kDeviceTree:
      ReloadTree();
      break;
    case View::kDeviceLog: {
      logDevicesTable->reloadData();
      const NSInteger rows = logDevicesTable->numberOfRows();
      if (rows > 0) logDevicesTable->scrollRowToVisible(rows - 1);
      break;
    }
    case View::kToolbar:
      UpdateActions();
      break;
    case View::kNetworkState:
      networkView->setImage(NSImage::imageNamed(Text(app_->networkImageDown() ? "stop.ico" : "run.ico")));
      networkView->setHidden(NO);
      progressForNetwork->stopAnimation(this);
      progressForNetwork->setHidden(YES);
      break;
    case View::kMappingState: {
      const bool busy = app_->mappingBusy();
      treeScroll_->setHidden(app_->treeShown() ? NO : YES);
      pleaseWaitText->setHidden(busy ? NO : YES);
      progressForMapping->setHidden(busy ? NO : YES);
      if (busy) progressForMapping->startAnimation(this);
      else progressForMapping->stopAnimation(this);
      UpdateActions();
      break;
    }
    case View::kDetailsText:
      statusText->setStringValue(Text(app_->statusText()));
      break;
    default:
      if (serverWindows_) serverWindows_->Reload(view);
      if (view == View::kServerItems) UpdateActions();
      break;
  }
}

// ---- the details field

void DetailsTextField::drawRect(NSRect) {
  NSColor::whiteColor()->set();
  NSRectFill(bounds());
  NSColor::grayColor()->set();
  NSFrameRect(bounds());
  NSString* text = stringValue();
  if (!text) return;
  NSFont* shown = font() ? font() : NSFont::systemFontOfSize(12);
  NSMutableDictionary* look = NSMutableDictionary::dictionary();
  look->setObject_forKey(shown, NSFontAttributeName);
  look->setObject_forKey(NSColor::blackColor(), NSForegroundColorAttributeName);
  const CGFloat lineHeight = shown->defaultLineHeightForFont();
  CGFloat y = bounds().size.height - 6 - lineHeight;
  std::string all = text->str(), line;
  all += '\n';
  for (char c : all) {
    if (c != '\n') {
      line += c == '\t' ? ' ' : c;
      continue;
    }
    // Lines of blanks only are the layout's spacing: half a line.
    if (line.find_first_not_of(' ') == std::string::npos) {
      y -= lineHeight / 2;
    } else {
      appkit::DrawString(Text(line), NSMakePoint(6, y), look);
      y -= lineHeight;
    }
    line.clear();
    if (y < 0) break;
  }
}

}  // namespace tavrinmac::ui
