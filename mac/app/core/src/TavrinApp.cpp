// The device-mapping controller: set-up and end, the outline's data, the selection's details, the action
// flags, the Device Mapping log and quitting.
#include "TavrinMac/TavrinApp.h"

#include <cstdio>

#include "TavrinMac/serverManager.h"

namespace {

using tavrinmac::Ui;
using tavrinmac::View;

std::atomic<TavrinApp*> g_current{nullptr};

const char* StateWord(int state, int slot) {
  if ((state == 1 && slot > 0) || state == 22) return "CONNECTED";
  if (state == 1) return "BUSY";
  if (state == 33) return "DISCONNECTED";
  if (state == 0) return "FREE";
  return "UNKNOWN";
}

}  // namespace

TavrinApp* TavrinApp::init() {
  logArray_ = alloc<NSMutableArray>()->init();
  arrayForCheck_ = alloc<NSMutableArray>()->init();
  stringArray_ = alloc<NSMutableArray>()->init();
  connectIndexes_ = alloc<NSMutableArray>()->init();
  serverArray_ = alloc<NSMutableArray>()->init();
  indexes_ = alloc<NSMutableArray>()->init();
  deviceArray_ = alloc<NSMutableArray>()->init();
  listArray_ = alloc<NSMutableArray>()->init();
  driverObj_ = alloc<deviceInterface>()->init();
  return this;
}

TavrinApp* TavrinApp::current() { return g_current.load(); }

void TavrinApp::setServerManager(serverManager* manager) {
  if (manager) manager->retain();
  if (serverManager* old = serverManagerFlag_.exchange(manager)) old->release();
}

void TavrinApp::awakeFromNib() {
  g_current = this;
  refreshYes = 1;
  menuConnect_ = menuDisConnect_ = false;
  showRefresh = 1;
  showStop = 1;
  showStart = 0;
  if (driverObj_->OpenDriverInstance()) {
    driverObj_->setInstalled(1);
  } else {
    driverObj_->setInstalled(0);
    Ui().Alert({"Note:", "Driver Not Installed", {"Ok"}});
  }
  TavrinThread = 1;
  StartPolling();
  presenceThread_ = std::thread(&TavrinApp::refreshTables, this);
  Ui().Changed(View::kToolbar);
}

void TavrinApp::shutdown() {
  TavrinThread = 0;
  {
    std::lock_guard lock(stopLock_);
    stopping_ = true;
  }
  stopChanged_.notify_all();
  alarm_.Cancel(true);
  EndPolling();
  if (presenceThread_.joinable()) presenceThread_.join();
  joinWorkers();
  alarm_.Cancel(true);
  if (driverObj_->isInstalled()) driverObj_->CloseDriverInstance();
  driverObj_->setInstalled(0);
  TavrinApp* self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

void TavrinApp::dealloc() {
  for (NSMutableArray** list : {&logArray_, &arrayForCheck_, &stringArray_, &connectIndexes_, &serverArray_,
                                &indexes_, &deviceArray_, &listArray_})
    Assign<NSMutableArray>(*list, nullptr);
  Assign<deviceInterface>(driverObj_, nullptr);
  Assign<Node>(selected_, nullptr);
  setServerManager(nullptr);
  NSObject::dealloc();
}

void TavrinApp::StartWorker(std::function<void()> body) { workers_.Start(std::move(body)); }

void TavrinApp::joinWorkers() { workers_.Join(); }

// ---- outline data

int TavrinApp::outlineView_numberOfChildrenOfItem(Node* item) {
  std::lock_guard lock(serverArrayLock_);
  return item ? item->childrenCount() : static_cast<int>(serverArray_->count());
}

Node* TavrinApp::outlineView_child_ofItem(int index, Node* item) {
  std::lock_guard lock(serverArrayLock_);
  if (item) return item->childAtIndexNode(index);
  if (index < 0 || static_cast<NSUInteger>(index) >= serverArray_->count()) return nullptr;
  return static_cast<Node*>(serverArray_->objectAtIndex(index));
}

BOOL TavrinApp::outlineView_isItemExpandable(Node* item) {
  std::lock_guard lock(serverArrayLock_);
  return item && item->expandableNode() ? YES : NO;
}

const char* TavrinApp::getDeviceString(const __dev_info__* info) {
  switch (info ? static_cast<signed char>(info->cid[0]) : -1) {
    case 1: return "Audio Device";
    case 2: return "CDC-Control";
    case 3: return "HID";
    case 5: return "Physical";
    case 6: return "Image";
    case 7: return "Printer";
    case 8: return "Mass-Storage";
    case 9: return "HUB";
    case 10: return "CDC-Data";
    case 11: return "Chip/Smart Card";
    default: return "Vendor-Specific";
  }
}

const char* TavrinApp::getDeviceImage(const __dev_info__* info) {
  switch (info ? static_cast<signed char>(info->cid[0]) : -1) {
    case 1: return "Audio.gif";
    case 3: return "HID.gif";
    case 5: return "massDevice.png";
    case 7: return "printer_1.icns";
    case 8: return "massDevice.png";
    case 2: case 6: case 9: case 10: case 11: return "";
    default: return "unknown.gif";
  }
}

std::string TavrinApp::cellText(const std::string& column, Node* item) {
  if (!item) return {};
  // What the cell needs, copied under the lock; the slot and product lookups take their own locks.
  __dev_info__ d{};
  bool device, withRecord;
  int state;
  std::string name, address;
  {
    std::lock_guard lock(serverArrayLock_);
    device = item->isDevice();
    withRecord = item->deviceInformation() != nullptr;
    if (withRecord) d = *item->deviceInformation();
    state = item->isConnected();
    name = item->itemName() ? item->itemName()->str() : std::string();
    address = item->serverIPAddress() ? item->serverIPAddress()->str() : std::string();
  }
  if (!device) {
    if (column == "0") return "server.icns";
    if (column == "4") return "server23.icns";
    if (column == "2" || column == "3" || column == "5") return " ";
    return name;
  }
  if (!withRecord) return {};
  const int slot = indexOfDevice(static_cast<int16_t>(d.pid), static_cast<int16_t>(d.vid),
                                 static_cast<int16_t>(d.portnum), NSString::stringWithStd(address));
  if (column == "0") {
    if (state == 22 || (state == 1 && slot)) return "DisconnectImage.png";
    return state == 1 ? "BusyImage.png" : "ConnectImage.png";
  }
  if (column == "1") {
    NSString* product = displayStringOfProduct(static_cast<uint16_t>(d.portnum), address.c_str());
    return product && product->length() > 2 ? product->str() : name;
  }
  if (column == "2") return getDeviceString(&d);
  if (column == "3") {
    if (state == 1 && !slot) return "Busy";
    if (state == 22) return "Connecting..";
    if (state == 33) return "DisConnecting..";
    if (state == 1) return "Connected";
    return "Free";
  }
  if (column == "4") return getDeviceImage(&d);
  if (column == "5") return std::to_string(static_cast<int16_t>(d.portnum));
  return name;
}

void TavrinApp::setSelectedNode(Node* node) {
  std::lock_guard lock(selectionLock_);
  Assign(selected_, node);
}

Node* TavrinApp::selectedNode() {
  std::lock_guard lock(selectionLock_);
  return selected_ ? static_cast<Node*>(selected_->retain()) : nullptr;
}

Node* TavrinApp::SelectedDevice() {
  Node* node = selectedNode();
  if (node && (!node->isDevice() || !node->deviceInformation())) {
    node->release();
    return nullptr;
  }
  return node;
}

void TavrinApp::applyDeviceActionRule(int state, int slot) {
  showToolbarItems = 1;
  char connect = 1, disconnect = 0, refresh = 0, stop = 1;
  if (state == 1) {
    connect = 0;
    disconnect = slot >= 1 ? 1 : 0;
    refresh = 1;
  } else if (state == 22 || state == 33) {
    connect = disconnect = refresh = stop = 0;
  }
  showConnect = connect;
  showDisConnect = disconnect;
  showRefresh = refresh;
  showStop = stop;
  showStart = 0;
  Ui().Changed(View::kToolbar);
}

BOOL TavrinApp::validateToolbarItem(const std::string& identifier) {
  if (identifier == "Connect") return showToolbarItems && showConnect ? YES : NO;
  if (identifier == "DisConnect") return showToolbarItems && showDisConnect ? YES : NO;
  if (identifier == "START") return showStart ? YES : NO;
  if (identifier == "STOP") return showStop ? YES : NO;
  if (identifier == "Refresh") return showRefresh ? YES : NO;
  if (identifier == "Upgrade Firmware") return upgradeGlobal ? YES : NO;
  if (identifier == "Search Pelko Servers") return searchGlobal ? YES : NO;
  if (identifier == "Server Configuration") return configGlobal ? YES : NO;
  return NO;
}

void TavrinApp::outlineViewSelectionDidChange(id) {
  if (!TavrinThread) return;
  Node* node = selectedNode();
  std::string text;
  if (!node) {
    showToolbarItems = showConnect = showDisConnect = 0;
  } else if (!node->isDevice()) {
    showToolbarItems = showConnect = showDisConnect = 0;
    menuConnect_ = menuDisConnect_ = false;
    text = cocoa::Format("Server %@", node->itemName());
  } else if (const __dev_info__* info = node->deviceInformation()) {
    __dev_info__ d;
    int state;
    {
      std::lock_guard lock(serverArrayLock_);
      d = *info;
      state = node->isConnected();
    }
    const int slot = indexOfDevice(static_cast<int16_t>(d.pid), static_cast<int16_t>(d.vid),
                                   static_cast<int16_t>(d.portnum), node->serverIPAddress());
    applyDeviceActionRule(state, slot);
    NSString* product = stringOfProduct(static_cast<uint16_t>(d.portnum), node->serverIPAddress()->UTF8String());
    if (!product || product->length() <= 1) product = NSString::stringWithUTF8String("Unknown Device");
    text = cocoa::Format(
        "Device:\t\t\t\t\t\t  \nCID\t\t  : 0x%d 0x%d 0x%d\n\t\t\t\t\t \nRevision ID   : %d\n\t\t\t\t\t \nProduct ID    : "
        "%d\n\t\t\t\t\t \nVendor ID     : %d\n\t\t\t\t\t  \nPortnumber   : %d\n\t\t\t\t\t \nDeviceIndex   : "
        "%d\n\t\t\t\t\t \nServerIP\t    : %@\n\t\t\t\t\t\t\t\t\n%@ : (%s)",
        static_cast<signed char>(d.cid[0]), static_cast<signed char>(d.cid[1]), static_cast<signed char>(d.cid[2]),
        static_cast<int16_t>(d.rev), static_cast<int16_t>(d.pid), static_cast<int16_t>(d.vid),
        static_cast<int16_t>(d.portnum), slot, node->serverIPAddress(), product, StateWord(state, slot));
  }
  if (node) node->release();
  {
    std::lock_guard lock(selectionLock_);
    statusText_ = text;
  }
  Ui().Changed(View::kDetailsText);
  Ui().Changed(View::kToolbar);
}

std::string TavrinApp::statusText() {
  std::lock_guard lock(selectionLock_);
  return statusText_;
}

// ---- the log

void TavrinApp::logTable_class(NSString* method, NSString* description) {
  TavrinApp* app = current();
  if (!app) return;
  {
    std::lock_guard lock(app->logLock_);
    logs* line = alloc<logs>()->init();
    line->setSno(static_cast<int>(app->logArray_->count()));
    line->setMethodString(method ? method : NSString::string());
    line->setDescription(description ? description : NSString::string());
    app->logArray_->addObject(line);
    line->release();
  }
  Ui().Changed(View::kDeviceLog);
}

void TavrinApp::Log(const char* method, const std::string& description) {
  NSString* m = alloc<NSString>()->initWithUTF8String(method);
  NSString* d = alloc<NSString>()->initWithUTF8String(description.c_str());
  logTable_class(m, d);
  m->release();
  d->release();
}

int TavrinApp::numberOfRowsInTableView() {
  std::lock_guard lock(logLock_);
  return static_cast<int>(logArray_->count());
}

std::string TavrinApp::logCellText(const std::string& column, int row) {
  std::lock_guard lock(logLock_);
  if (row < 0 || static_cast<NSUInteger>(row) >= logArray_->count()) return {};
  auto* line = static_cast<logs*>(logArray_->objectAtIndex(row));
  if (column == "sno") return std::to_string(line->sno());
  if (column == "now") return line->entryDate()->description()->str();
  if (column == "method") return line->methodString()->str();
  return line->description()->str();
}

void TavrinApp::RemItem(id) {
  {
    std::lock_guard lock(logLock_);
    if (logArray_->count() == 0) return;
    logArray_->removeAllObjects();
  }
  Ui().Changed(View::kDeviceLog);
}

void TavrinApp::saveLogToFile(id) {
  const std::string path = Ui().ChooseSaveFile("Save DeviceMapping Log File", "txt");
  if (path.empty()) return;
  NSMutableString* text = NSMutableString::string();
  text->appendFormat("%s", "S.no\tDate & Time\t\t\tDescription\t\t\tMethod\n");
  text->appendFormat("%s", "====\t===========\t\t\t===========\t\t\t======\n");
  {
    std::lock_guard lock(logLock_);
    for (NSUInteger i = 0; i < logArray_->count(); ++i) {
      auto* line = static_cast<logs*>(logArray_->objectAtIndex(i));
      text->appendFormat("%d)\t%s\t%s\t\t\t%s\n", line->sno() + 1, line->entryDate()->description()->UTF8String(),
                         line->description()->UTF8String(), line->methodString()->UTF8String());
    }
  }
  text->appendFormat("%s", "----\t-----------\t\t\t-----------\t\t\t----------------------------------\n");
  text->writeToFile_atomically(NSString::stringWithStd(path), NO);
}

bool TavrinApp::exitApplication(id) {
  if (connectedCount() > 0) {
    Ui().Alert({"Note:", "Before EXIT, Disconnect all the connected devices", {"Ok"}});
    return false;
  }
  shutdown();
  return true;
}

int TavrinApp::connectedCount() {
  std::lock_guard lock(connectLock_);
  return static_cast<int>(connectIndexes_->count());
}

int TavrinApp::serverCount() {
  std::lock_guard lock(serverArrayLock_);
  return static_cast<int>(serverArray_->count());
}

Node* TavrinApp::deviceNode(const std::string& address, int port) {
  std::lock_guard lock(serverArrayLock_);
  for (NSUInteger i = 0; i < serverArray_->count(); ++i) {
    auto* server = static_cast<Node*>(serverArray_->objectAtIndex(i));
    if (!server->itemName() || server->itemName()->str() != address) continue;
    for (int k = 0; k < server->childrenCount(); ++k) {
      Node* child = server->childAtIndexNode(k);
      if (child->deviceInformation() && static_cast<int16_t>(child->deviceInformation()->portnum) == port)
        return static_cast<Node*>(child->retain());
    }
  }
  return nullptr;
}

void TavrinApp::EmptyTree() {
  {
    std::lock_guard lock(serverArrayLock_);
    serverArray_->removeAllObjects();
    deviceArray_->removeAllObjects();
    listArray_->removeAllObjects();
    rootCount_ = deviceCount_ = 0;
  }
  setSelectedNode(nullptr);  // its row is gone
  Ui().Changed(View::kDeviceTree);
}

void TavrinApp::refreshItem_class(id) {
  if (TavrinApp* app = current()) app->EmptyTree();
}
