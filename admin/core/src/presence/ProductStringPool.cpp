#include "ProductStringPool.h"

#include <cstring>

namespace {

std::string ServerOf(const DeviceEntry& device) {
  return std::string(device.ServerIp, strnlen(device.ServerIp, sizeof device.ServerIp));
}

}  // namespace

ProductStringPool::ProductStringPool(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped,
                                     size_t workers)
    : devices_(devices), lock_(lock), mappingStopped_(mappingStopped), maxWorkers_(workers > 0 ? workers : 1) {}

ProductStringPool::~ProductStringPool() { Stop(); }

bool ProductStringPool::Submit(const DeviceEntry& device) {
  std::lock_guard guard(mutex_);
  if (stopping_ || __atomic_load_n(mappingStopped_, __ATOMIC_SEQ_CST) != 0) return false;
  queue_.push_back(device);
  if (idle_ == 0 && workers_.size() < maxWorkers_) {
    try {
      workers_.emplace_back(&ProductStringPool::Work, this);
    } catch (const std::system_error&) {
      if (workers_.empty()) {  // nobody would ever take it
        queue_.pop_back();
        return false;
      }
    }
  }
  wake_.notify_all();
  return true;
}

void ProductStringPool::Stop() {
  std::vector<std::thread> workers;
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
    queue_.clear();
    workers.swap(workers_);
    // A fetch waiting for a slow server ends now (its receive fails); it closes the socket itself.
    for (SOCKET socket : sockets_) shutdown(socket, SD_BOTH);
  }
  wake_.notify_all();
  for (std::thread& worker : workers) worker.join();
  std::lock_guard guard(mutex_);
  idle_ = 0;
  busyServers_.clear();
  stopping_ = false;
}

bool ProductStringPool::Begin(SOCKET socket) {
  std::lock_guard guard(mutex_);
  if (stopping_) return false;
  sockets_.insert(socket);
  return true;
}

void ProductStringPool::End(SOCKET socket) {
  std::lock_guard guard(mutex_);
  sockets_.erase(socket);
}

std::deque<DeviceEntry>::iterator ProductStringPool::NextFetchable() {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (busyServers_.count(ServerOf(*it)) == 0) return it;
  }
  return queue_.end();
}

void ProductStringPool::Work() {
  std::unique_lock guard(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(guard, [this] { return stopping_ || NextFetchable() != queue_.end(); });
    --idle_;
    if (stopping_) return;
    auto next = NextFetchable();
    DeviceEntry device = *next;
    queue_.erase(next);
    const std::string server = ServerOf(device);
    busyServers_.insert(server);
    guard.unlock();
    FetchProductString(devices_, lock_, mappingStopped_, device, this);
    guard.lock();
    busyServers_.erase(server);
    wake_.notify_all();  // the server's next device may be fetched now
  }
}
