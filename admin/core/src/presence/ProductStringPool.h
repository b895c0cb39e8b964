// A few worker threads that fetch the product strings of newly listed devices, so that a burst of new
// devices (many servers starting at once) never becomes a burst of threads. One server is asked for one
// string at a time, so that a few slow servers cannot hold every worker; the stop wakes the fetches under
// way (their sockets are shut down) instead of waiting for slow answers.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "admin/comm/DocServices.h"
#include "admin/comm/ProductString.h"

class ProductStringPool : private FetchWatch {
 public:
  // The device list, its lock and the mapping's stop flag the fetches work on; workers start on demand.
  ProductStringPool(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped, size_t workers);
  ~ProductStringPool() override;  // Stop
  ProductStringPool(const ProductStringPool&) = delete;
  ProductStringPool& operator=(const ProductStringPool&) = delete;

  // Queues a fetch for the device (a copy is kept); false while the pool or device mapping is stopping.
  bool Submit(const DeviceEntry& device);
  // Drops what is queued, wakes the fetches under way and waits for the workers; the pool can be used
  // again afterwards.
  void Stop();

 private:
  void Work();
  // The first queued device whose server no worker is asking; queue_.end() when none. Holds mutex_.
  std::deque<DeviceEntry>::iterator NextFetchable();
  bool Begin(SOCKET socket) override;
  void End(SOCKET socket) override;

  DeviceList& devices_;
  CRITICAL_SECTION* lock_;
  const volatile LONG* mappingStopped_;
  const size_t maxWorkers_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<DeviceEntry> queue_;
  std::set<std::string> busyServers_;  // servers a worker is asking now
  std::set<SOCKET> sockets_;           // sockets of the fetches under way
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};
