// Connect and disconnect of the selected device through the driver client, the table of the devices this
// Mac holds with their driver slots 1 to 14, and START and STOP of device mapping.
#include <cstring>

#include "TavrinMac/TavrinApp.h"

namespace {
using tavrinmac::Ui;
using tavrinmac::View;
constexpr int kSlots = 14;
}  // namespace

int TavrinApp::indexOfDevice(int16_t pid, int16_t vid, int16_t port, NSString* address) {
  std::lock_guard lock(connectLock_);
  for (NSUInteger i = 0; i < connectIndexes_->count(); ++i) {
    auto* d = static_cast<DeviceIndex*>(connectIndexes_->objectAtIndex(i));
    if (d->Matches(pid, vid, port, address)) return d->indexIs();
  }
  return 0;
}

int TavrinApp::checkIndexToConnect(int slot) {
  std::lock_guard lock(connectLock_);
  for (NSUInteger i = 0; i < connectIndexes_->count(); ++i)
    if (static_cast<DeviceIndex*>(connectIndexes_->objectAtIndex(i))->indexIs() == slot) return 1;
  return 0;
}

DeviceIndex* TavrinApp::deviceNodeAtIndex(int slot) {
  std::lock_guard lock(connectLock_);
  for (NSUInteger i = 0; i < connectIndexes_->count(); ++i) {
    auto* d = static_cast<DeviceIndex*>(connectIndexes_->objectAtIndex(i));
    if (d->indexIs() == slot) return static_cast<DeviceIndex*>(d->retain());
  }
  return nullptr;
}

int TavrinApp::disableDeviceWithIndex(int slot) {
  std::lock_guard lock(connectLock_);
  for (NSUInteger i = 0; i < connectIndexes_->count(); ++i) {
    auto* d = static_cast<DeviceIndex*>(connectIndexes_->objectAtIndex(i));
    if (d->indexIs() == slot) {
      d->setIndexStatus(0);
      return 1;
    }
  }
  return 0;
}

int TavrinApp::disconnectDeviceWithIndex(int slot) {
  if (slot == 0) return 0;
  std::lock_guard lock(connectLock_);
  for (NSUInteger i = 0; i < connectIndexes_->count(); ++i) {
    if (static_cast<DeviceIndex*>(connectIndexes_->objectAtIndex(i))->indexIs() == slot) {
      connectIndexes_->removeObjectAtIndex(i);
      return 1;
    }
  }
  return 0;
}

void TavrinApp::replaceDeviceAtIndexes(int server, int device, int state, Node*) {
  {
    std::lock_guard lock(serverArrayLock_);
    if (server < 0 || static_cast<NSUInteger>(server) >= serverArray_->count()) return;
    Node* child = static_cast<Node*>(serverArray_->objectAtIndex(server))->childAtIndexNode(device);
    if (!child) return;
    child->setStatus(state);
  }
  Ui().Changed(View::kDeviceTree);
}

void TavrinApp::SetDeviceState(NSString* address, int port, int state) {
  {
    std::lock_guard lock(serverArrayLock_);
    for (NSUInteger i = 0; i < serverArray_->count(); ++i) {
      auto* server = static_cast<Node*>(serverArray_->objectAtIndex(i));
      if (!server->itemName() || !server->itemName()->isEqualToString(address)) continue;
      for (int k = 0; k < server->childrenCount(); ++k) {
        Node* child = server->childAtIndexNode(k);
        if (child->deviceInformation() && static_cast<int16_t>(child->deviceInformation()->portnum) == port)
          child->setStatus(state);
      }
    }
  }
  Ui().Changed(View::kDeviceTree);
}

bool TavrinApp::OpenDriverIfNeeded() {
  if (driverObj_->isInstalled()) return true;
  if (driverObj_->OpenDriverInstance()) {
    driverObj_->setInstalled(1);
    return true;
  }
  Ui().Alert({"Note:", "Driver Not Installed", {"Ok"}});
  return false;
}

void TavrinApp::FillRequest(devReqStruct& request, const __dev_info__& info, NSString* address, int type, int slot) {
  request = devReqStruct{};
  request.ReqType = type;
  request.Index = slot;
  if (address) strncpy(request.ip, address->UTF8String(), sizeof request.ip - 1);
  memcpy(request.device_info.cid, info.cid, 3);
  request.device_info.rev = info.rev;
  request.device_info.pid = info.pid;
  request.device_info.vid = info.vid;
  request.device_info.b_f = 0;
  request.device_info.portnum = static_cast<int16_t>(info.portnum);
  request.device_info.speed = info.speed;
}

char TavrinApp::Send(const devReqStruct& request) {
  unsigned char block[kDriverRequestSize] = {};
  memcpy(block, &request, sizeof request);
  return driverObj_->SendRquest(block);
}

void TavrinApp::connectThread(id) {
  StartWorker([this] {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    connectDevice(nullptr);
    pool->drain();
  });
}

void TavrinApp::disconnectThread(id) {
  StartWorker([this] {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    disConnectDevice(nullptr);
    pool->drain();
  });
}

void TavrinApp::ShowRequestDone(bool connected) {
  showDisConnect = connected ? 1 : 0;
  showConnect = connected ? 0 : 1;
  showRefresh = 0;
  showStop = 1;
  showStart = 0;
  menuConnect_ = !connected;
  menuDisConnect_ = connected;
  Ui().Changed(View::kToolbar);
}

int TavrinApp::SelectionForRequest(const char* method, __dev_info__& info, int& state, NSString*& address) {
  Node* node = selectedNode();
  if (!node) {
    Log(method, "Device Not Selected");
    return -1;
  }
  bool device;
  {
    std::lock_guard lock(serverArrayLock_);
    device = node->isDevice() && node->deviceInformation();
    if (device) info = *node->deviceInformation();
    state = node->isConnected();
  }
  address = node->serverIPAddress() ? NSString::stringWithString(node->serverIPAddress()) : nullptr;
  node->release();
  return device && address ? 1 : 0;
}

void TavrinApp::connectDevice(id) {
  if (!OpenDriverIfNeeded()) return;
  __dev_info__ info{};
  int state = 0;
  NSString* address = nullptr;
  const int selected = SelectionForRequest("connectDevice", info, state, address);
  if (selected < 0) return;
  if (!selected || state == 1 || state == 22 || state == 33) {
    menuConnect_ = false;
    return;
  }
  const auto pid = static_cast<int16_t>(info.pid), vid = static_cast<int16_t>(info.vid),
             port = static_cast<int16_t>(info.portnum);
  // One connect, disconnect or disconnect-all at a time: the slot table changes only under this lock.
  std::lock_guard lock(connectLock_);
  if (indexOfDevice(pid, vid, port, address)) return;  // connected already
  int slot = 1;
  while (slot <= kSlots && checkIndexToConnect(slot)) ++slot;  // the lowest free slot
  NSString* product = stringOfProduct(static_cast<uint16_t>(port), address->UTF8String());
  if (slot > kSlots) {
    Log(address->UTF8String(), cocoa::Format("%@ Not Connected: all %d slots are in use", product, kSlots));
    Ui().Alert({"Error:", "Unable to connect: every slot is in use", {"Ok"}});
    return;
  }
  devReqStruct request;
  FillRequest(request, info, address, 1, slot);
  if (Send(request) == 1) {
    DeviceIndex* entry = alloc<DeviceIndex>()->init();
    entry->setPid(pid);
    entry->setVid(vid);
    entry->setPortNo(port);
    entry->setIndex(slot);
    entry->setIpString(address);
    entry->setIndexStatus(1);
    connectIndexes_->addObject(entry);
    entry->release();
    Log(address->UTF8String(), cocoa::Format("%@ Made Busy Success", product));
    SetDeviceState(address, port, 22);
    ShowRequestDone(true);
  } else {
    Log(address->UTF8String(), cocoa::Format("%@ Made Busy Failed", product));
    Ui().Alert({"Error:", "Unable to connect", {"Ok"}});
  }
}

void TavrinApp::disConnectDevice(id) {
  if (!OpenDriverIfNeeded()) return;
  if (!TavrinThread) return;
  __dev_info__ info{};
  int state = 0;
  NSString* address = nullptr;
  const int selected = SelectionForRequest("DisConnectDevice", info, state, address);
  if (selected < 0) return;
  if (!selected || state == 22 || state == 33) {
    menuDisConnect_ = true;
    return;
  }
  const auto port = static_cast<int16_t>(info.portnum);
  std::lock_guard lock(connectLock_);
  const int slot = indexOfDevice(static_cast<int16_t>(info.pid), static_cast<int16_t>(info.vid), port, address);
  if (slot == 0) return;  // not held by this Mac
  devReqStruct request;
  FillRequest(request, info, address, 0, slot);
  NSString* product = stringOfProduct(static_cast<uint16_t>(port), address->UTF8String());
  if (Send(request) != 1) {
    // Refused: the device stays connected, in its slot and its state.
    Log(address->UTF8String(), cocoa::Format("%@ Made Free Failed", product));
    Ui().Alert({"Error:", "Unable to disconnect", {"Ok"}});
    return;
  }
  disableDeviceWithIndex(slot);
  disconnectDeviceWithIndex(slot);
  SetDeviceState(address, port, 33);
  Log(address->UTF8String(), cocoa::Format("%@ Made Free", product));
  ShowRequestDone(false);
}

int TavrinApp::disconnectAllDevices() {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  if (Pause(timings_.disconnectAllFirst)) {
    NSArray* held;
    {
      std::lock_guard lock(connectLock_);
      held = connectIndexes_->copy();
    }
    for (NSUInteger i = 0; i < held->count(); ++i) {
      auto* entry = static_cast<DeviceIndex*>(held->objectAtIndex(i));
      {
        std::lock_guard lock(connectLock_);
        devReqStruct request{};
        request.ReqType = 0;
        request.Index = entry->indexIs();
        strncpy(request.ip, entry->ipString()->UTF8String(), sizeof request.ip - 1);
        request.device_info.portnum = entry->portNoIs();
        // A refused request keeps its entry: the device is still this Mac's.
        if (Send(request) == 1) {
          NSUInteger at = connectIndexes_->indexOfObjectIdenticalTo(entry);
          if (at != NSNotFound) connectIndexes_->removeObjectAtIndex(at);
        }
      }
      if (!Pause(timings_.disconnectAllEach)) break;
    }
    held->release();
  }
  Ui().Changed(View::kToolbar);
  pool->drain();
  return 0;
}

void TavrinApp::stopRun(id) {
  if (TavrinThread != 1) return;
  TavrinThread = 0;
  EndPolling();  // the pending receive ends now; no later START finds it still receiving
  pendingStep_ = true;
  alarm_.Arm(timings_.startStopStep, [this] { waiting(); });
  treeShown_ = false;
  {
    std::lock_guard lock(selectionLock_);
    statusText_.clear();
  }
  showStart = showStop = 0;
  menuConnect_ = menuDisConnect_ = false;
  showConnect = showDisConnect = 0;
  Ui().Changed(View::kMappingState);
  Ui().Changed(View::kDetailsText);
  Ui().Changed(View::kToolbar);
  StartWorker([this] { disconnectAllDevices(); });
}

void TavrinApp::startRun(id) {
  if (TavrinThread == 1) return;
  pendingStep_ = true;
  alarm_.Arm(timings_.startStopStep, [this] { waiting(); });
  TavrinThread = 1;
  treeShown_ = true;
  showStop = showStart = 0;
  Ui().Changed(View::kMappingState);
  Ui().Changed(View::kToolbar);
}

void TavrinApp::waiting() {
  {
    std::lock_guard lock(stopLock_);
    if (stopping_) return;
  }
  if (!TavrinThread) {
    if (serverCount() > 0) EmptyTree();
    Ui().Changed(View::kDeviceTree);
    if (!Pause(timings_.startStopSettle)) return;
    showStart = 1;
    showStop = 0;
    Log("stopRun", "Stopped Recieving Packets.");
  } else {
    Log("startRun", "Started Recieving broadcast packets.");
    StartPolling();
    if (!Pause(timings_.startStopSettle)) return;
    showStop = 1;
    showStart = 0;
  }
  pendingStep_ = false;
  Ui().Changed(View::kMappingState);
  Ui().Changed(View::kDeviceTree);
  Ui().Changed(View::kToolbar);
}
