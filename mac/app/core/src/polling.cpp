// The device tree from the servers' device-list broadcasts: the polling thread, the decision whether a
// server is new, changed or unchanged, the presence check, the network-down report and product strings.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TavrinMac/TavrinApp.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"

namespace {
using tavrinmac::Ui;
using tavrinmac::View;

bool SameName(Node* node, NSString* name) {
  return node->itemName() && name && node->itemName()->isEqualToString(name);
}
}  // namespace

bool TavrinApp::Pause(int ms) {
  std::unique_lock lock(stopLock_);
  return !stopChanged_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

void TavrinApp::StartPolling() {
  std::lock_guard lock(pollingLock_);
  if (pollingThread_.joinable()) pollingThread_.join();  // never two receiving at once
  pollingThread_ = std::thread(&TavrinApp::polling, this);
}

void TavrinApp::EndPolling() {
  std::lock_guard lock(pollingLock_);
  // The pending receive ends when its socket closes; the thread then sees the cleared flag.
  Sockets_Obj* waker = alloc<Sockets_Obj>()->init();
  waker->closeDev();
  waker->release();
  if (pollingThread_.joinable()) pollingThread_.join();
}

void TavrinApp::RebuildListArray() {
  listArray_->removeAllObjects();  // rebuilt, not appended: it never grows past the tree
  for (NSUInteger i = 0; i < serverArray_->count(); ++i) {
    auto* server = static_cast<Node*>(serverArray_->objectAtIndex(i));
    listArray_->addObject(server);
    for (int k = 0; k < server->childrenCount(); ++k) {
      Node* device = server->childAtIndexNode(k);
      device->setServerIndex(static_cast<int>(i));
      device->setDeviceIndex(k);
      listArray_->addObject(device);
    }
  }
}

void TavrinApp::Reselect(Node* old, Node* rebuilt) {
  std::lock_guard lock(selectionLock_);
  if (!selected_) return;
  if (selected_ == old) return Assign<Node>(selected_, rebuilt);
  const __dev_info__* mine = selected_->deviceInformation();
  for (int k = 0; mine && k < old->childrenCount(); ++k) {
    if (old->childAtIndexNode(k) != selected_) continue;
    // The same row again: the device on the same port of the rebuilt server, if it is still there.
    Node* again = nullptr;
    for (int j = 0; j < rebuilt->childrenCount() && !again; ++j) {
      Node* child = rebuilt->childAtIndexNode(j);
      if (child->deviceInformation() && child->deviceInformation()->portnum == mine->portnum) again = child;
    }
    Assign(selected_, again);
    return;
  }
}

void TavrinApp::polling() {
  NSAutoreleasePool* outer = alloc<NSAutoreleasePool>()->init();
  Sockets_Obj* receiver = alloc<Sockets_Obj>()->init();
  networkFlag = 1;
  showToolbarItems = 0;
  receiver->connect_server(nullptr);
  for (;;) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    Sockets_Obj* turn = alloc<Sockets_Obj>()->init();
    turn->setServer(receiver->serverAddr(), receiver->socketFd());
    if (!TavrinThread) {
      turn->release();
      pool->drain();
      break;
    }
    alarm_.Arm(timings_.networkTimeout, [this] { networkDown(); });
    showRefresh = 1;
    showStop = 1;
    showStart = 0;
    if (networkFlag) {
      networkUp_class();
      if (serverManager* manager = serverManagerFlag_.load()) manager->setNetworkFlag(1);
    }
    pelko_dev_info* list = turn->recvMsg();
    if (!list) {
      // No socket (it could not be opened, or STOP closed it): no turn may spin.
      if (TavrinThread && turn->socketFd() < 0) Pause(timings_.noSocketRetry);
      turn->release();
      pool->drain();
      continue;
    }
    // Entries as far as the bytes that arrived reach, whatever the length field says.
    const int entries = turn->deviceCount();
    NSString* sender = NSString::stringWithUTF8String(turn->devAddrs());
    const int result = checkAndReplaceServer(sender, serverArray_, list, entries);
    if (result == -2) {
      free(list);
      turn->release();
      pool->drain();
      continue;
    }
    Node* server = alloc<Node>()->init();
    server->setServer();
    server->setInfolen(static_cast<int>(list->infolen));
    server->serialNumberIs(static_cast<int>(list->serialNumber));
    server->setServerName(sender);
    if (result == -1) Log("NewServerArrival", sender->str());
    NSMutableArray* built = alloc<NSMutableArray>()->init();
    for (int k = 0; k < entries && TavrinThread; ++k) {
      const __dev_info__ e = list->dev[k];
      const auto pid = static_cast<int16_t>(e.pid), vid = static_cast<int16_t>(e.vid),
                 port = static_cast<int16_t>(e.portnum);
      bool seen = false;
      {
        std::lock_guard lock(indexFlag_);
        for (NSUInteger i = 0; i < indexes_->count() && !seen; ++i)
          seen = static_cast<DeviceIndex*>(indexes_->objectAtIndex(i))->Matches(pid, vid, port, sender);
        if (!seen) {
          ProductRequest request{port, {}};
          snprintf(request.address, sizeof request.address, "%s", sender->UTF8String());
          StartWorker([this, request] { getStringOfDevice(request); });
          DeviceIndex* index = alloc<DeviceIndex>()->init();
          index->setPid(pid);
          index->setVid(vid);
          index->setPortNo(port);
          index->setIndex(static_cast<int>(indexes_->count()));
          index->setIpString(sender);
          index->setIndexStatus(0);
          indexes_->addObject(index);
          index->release();
        }
      }
      Node* device = alloc<Node>()->init();
      device->setServerName(NSString::stringWithFormat("Vid_%p - Pid_%p", reinterpret_cast<void*>(static_cast<intptr_t>(vid)),
                                                       reinterpret_cast<void*>(static_cast<intptr_t>(pid))));
      device->setDevice();
      int state = static_cast<signed char>(e.b_f);
      if (e.b_f == 1) {
        state = 1;
        const int slot = indexOfDevice(pid, vid, port, sender);
        if (slot) {
          DeviceIndex* mine = deviceNodeAtIndex(slot);
          if (mine && mine->indexStatus() == 0) state = 33;
          if (mine) mine->release();
        }
      }
      device->setStatus(state);
      if (result == -1) Log(getDeviceString(&e), cocoa::Format("DeviceAttached at %s", sender->UTF8String()));
      auto* info = static_cast<__dev_info__*>(malloc(sizeof(__dev_info__)));
      *info = e;
      device->setDeviceInformation(info);
      device->setServerIPAddress(sender);
      server->addChildNode(device);
      built->addObject(device);
      device->release();
    }
    free(list);
    {
      std::lock_guard lock(serverArrayLock_);
      if (result == -1) {
        serverArray_->addObject(server);
        ++rootCount_;
      } else if (static_cast<NSUInteger>(result) < serverArray_->count()) {
        // The old node's devices leave the device list with it, which so stays as long as the tree.
        auto* old = static_cast<Node*>(serverArray_->objectAtIndex(result));
        for (int k = 0; k < old->childrenCount(); ++k) deviceArray_->removeObject(old->childAtIndexNode(k));
        Reselect(old, server);
        serverArray_->replaceObjectAtIndex_withObject(result, server);
      } else {
        serverArray_->addObject(server);  // the tree was emptied meanwhile
      }
      deviceArray_->addObjectsFromArray(built);
      deviceCount_ += static_cast<int>(built->count());
      RebuildListArray();
    }
    built->release();
    server->release();
    if (TavrinThread) Ui().Changed(View::kDeviceTree);
    turn->release();
    pool->drain();
  }
  receiver->closeDev();
  receiver->release();
  Ui().Changed(View::kDeviceLog);
  outer->drain();
}

int TavrinApp::checkAndReplaceServer(NSString* sender, NSMutableArray* servers, pelko_dev_info* datagram, int entries) {
  std::vector<Unplugged> unplugged;
  int result = -1;
  {
    std::lock_guard lock(serverArrayLock_);
    bool known = false;
    for (NSUInteger i = 0; i < servers->count() && !known; ++i) {
      auto* node = static_cast<Node*>(servers->objectAtIndex(i));
      const int at = static_cast<int>(i);
      if (!node->itemName() || node->itemName()->length() == 0) {
        result = at;
        known = true;
        break;
      }
      if (!SameName(node, sender)) continue;
      known = true;
      refreshYes = 0;
      if (arrayForCheck_->indexOfObjectIdenticalTo(node) == NSNotFound) arrayForCheck_->addObject(node);
      refreshYes = 1;
      const int children = node->childrenCount();
      const int length = static_cast<int>(datagram->infolen);
      if (length == node->infolen()) {
        result = -2;
        for (int k = 0; k < entries; ++k) {
          Node* child = node->childAtIndexNode(k);
          if (!child || !child->deviceInformation()) {
            result = -2;
            break;
          }
          const __dev_info__& e = datagram->dev[k];
          const __dev_info__* mine = child->deviceInformation();
          const bool same = (child->isConnected() == static_cast<signed char>(e.b_f) ||
                             (child->isConnected() == 33 && e.b_f == 1)) &&
                            memcmp(mine->cid, e.cid, 3) == 0;
          if (!same) {
            result = at;
            break;
          }
        }
      } else if (length > node->infolen()) {
        for (int k = children; k < entries; ++k) {
          const __dev_info__& e = datagram->dev[k];
          if (static_cast<int16_t>(e.portnum) < 1 || static_cast<int16_t>(e.pid) < 1) break;
          NSString* product = stringOfProduct(e.portnum, sender->UTF8String());
          Log(sender->UTF8String(), product ? cocoa::Format("%@ Plugged", product) : "UnknownDevice Plugged");
        }
        result = at;
      } else {
        result = at;
        for (int k = 0; k < children; ++k) {
          Node* child = node->childAtIndexNode(k);
          if (!child) break;
          const __dev_info__* mine = child->deviceInformation();
          if (!mine) {
            result = -2;
            break;
          }
          bool present = false;
          for (int j = 0; j < entries && datagram->dev[j].portnum != 0 && !present; ++j)
            present = datagram->dev[j].portnum == mine->portnum;
          if (present) continue;
          NSString* address = child->serverIPAddress();
          unplugged.push_back({static_cast<int16_t>(mine->pid), static_cast<int16_t>(mine->vid),
                               static_cast<int16_t>(mine->portnum), address ? address->str() : std::string()});
          NSString* product = stringOfProduct(mine->portnum, address ? address->UTF8String() : nullptr);
          Log(address ? address->UTF8String() : "",
              product && product->length() ? cocoa::Format("%@ Unplugged", product) : "UnknownDevice Unplugged");
          break;
        }
      }
    }
    if (!known) {
      refreshYes = 0;
      result = -1;
    }
  }
  ReleaseDevices(unplugged);  // outside the tree's lock: the slot table's lock comes first
  return result;
}

void TavrinApp::ReleaseDevices(const std::vector<Unplugged>& devices) {
  for (const Unplugged& d : devices) {
    NSString* address = NSString::stringWithStd(d.address);
    disconnectDeviceWithIndex(indexOfDevice(d.pid, d.vid, d.port, address));  // no request to the driver
    indexOfDeviceRemoved(d.pid, d.vid, d.port, address);
  }
}

void TavrinApp::refreshTables() {
  Ui().Changed(View::kDeviceLog);
  if (!Pause(timings_.presenceFirst)) return;
  Ui().Changed(View::kDeviceLog);
  while (Pause(timings_.presencePeriod)) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    std::vector<Unplugged> gone;
    bool removed = false;
    {
      std::lock_guard lock(serverArrayLock_);
      const NSUInteger n = serverArray_->count(), m = arrayForCheck_->count();
      bool periodEnds = false;
      if (n > m && refreshYes == 1) {
        for (NSUInteger i = 0; i < n; ++i) {
          auto* server = static_cast<Node*>(serverArray_->objectAtIndex(i));
          bool found = false;
          if (!server->itemName() || server->itemName()->length() == 0) found = m > 0;
          for (NSUInteger j = 0; j < m && !found; ++j)
            found = SameName(static_cast<Node*>(arrayForCheck_->objectAtIndex(j)), server->itemName());
          if (found) continue;
          printf("not found is %s\n", server->itemName()->UTF8String());
          Log("Server ShutDown", server->itemName()->str());
          for (int k = 0; k < server->childrenCount(); ++k) {
            Node* device = server->childAtIndexNode(k);
            const __dev_info__* info = device->deviceInformation();
            if (!info) break;
            gone.push_back({static_cast<int16_t>(info->pid), static_cast<int16_t>(info->vid),
                            static_cast<int16_t>(info->portnum), server->itemName()->str()});
            deviceArray_->removeObject(device);
          }
          serverArray_->removeObjectAtIndex(i);
          RebuildListArray();
          removed = true;
          break;  // one server a period
        }
      } else if (n > m) {
        periodEnds = true;
      }
      if (!periodEnds && refreshYes == 1) arrayForCheck_->removeAllObjects();
    }
    ReleaseDevices(gone);
    if (removed) Ui().Changed(View::kDeviceTree);
    Ui().Changed(View::kDeviceLog);
    pool->drain();
  }
}

void TavrinApp::networkDown() {
  Log("Network", "Timeout\n");
  networkDownShown_ = true;
  Ui().Changed(View::kNetworkState);
  EmptyTree();
  networkFlag = 1;
  if (serverManager* manager = serverManagerFlag_.load()) manager->setNetworkFlag(0);
}

void TavrinApp::networkUp_class() {
  TavrinApp* app = current();
  if (!app) return;
  app->networkDownShown_ = false;
  app->networkFlag = 0;
  Ui().Changed(View::kNetworkState);
}

void TavrinApp::getStringOfDevice(ProductRequest request) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  {
    std::lock_guard fetch(getStringLock_);
    request.address[sizeof request.address - 1] = 0;
    if (int s = createTCPSocket(request.address)) {
      const std::string port = std::to_string(request.port);
      if (iproduct_string* answer = serverManager::set_command(7, port.c_str(), s, request.address)) {
        NSString* address = NSString::stringWithUTF8String(request.address);
        ProductString* product = alloc<ProductString>()->init();
        product->setPortNum(static_cast<uint16_t>(request.port));
        product->setIpAddress(address);
        product->setProdString(NSString::stringWithUTF8String(answer->text));
        product->setStringStatus(1);
        {
          // The device now on that port: it replaces the string of one that was there before.
          std::lock_guard lock(stringLock_);
          NSUInteger i = 0;
          for (; i < stringArray_->count(); ++i) {
            auto* known = static_cast<ProductString*>(stringArray_->objectAtIndex(i));
            if (known->getPortNum() == product->getPortNum() && known->getIpAddress()->isEqualToString(address)) break;
          }
          if (i < stringArray_->count()) stringArray_->replaceObjectAtIndex_withObject(i, product);
          else stringArray_->addObject(product);
        }
        product->release();
        Ui().Changed(View::kDeviceTree);
      }
    }
  }
  pool->drain();
}

NSString* TavrinApp::displayStringOfProduct(uint16_t port, const char* address) {
  if (!address) return nullptr;
  std::lock_guard lock(stringLock_);
  for (NSUInteger i = 0; i < stringArray_->count(); ++i) {
    auto* known = static_cast<ProductString*>(stringArray_->objectAtIndex(i));
    if (known->getPortNum() == port && known->getIpAddress()->str() == address)
      return NSString::stringWithString(known->getProductString());
  }
  return nullptr;
}

NSString* TavrinApp::stringOfProduct(uint16_t port, const char* address) {
  if (!address) return nullptr;
  NSString* known = displayStringOfProduct(port, address);
  return known ? known : NSString::stringWithUTF8String("Unknown Device");
}

int TavrinApp::indexOfDeviceRemoved(int16_t pid, int16_t vid, int16_t port, NSString* address) {
  std::lock_guard lock(indexFlag_);
  for (NSUInteger i = 0; i < indexes_->count(); ++i) {
    if (static_cast<DeviceIndex*>(indexes_->objectAtIndex(i))->Matches(pid, vid, port, address)) {
      indexes_->removeObjectAtIndex(i);
      break;
    }
  }
  return 0;
}
