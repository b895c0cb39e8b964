// A few worker threads that fetch the product strings of newly listed devices, so that a burst of new
// devices (many servers starting at once) never becomes a burst of threads.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "admin/comm/DocServices.h"

class ProductStringPool {
 public:
  // The device list, its lock and the mapping's stop flag the fetches work on; workers start on demand.
  ProductStringPool(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped, size_t workers);
  ~ProductStringPool();  // Stop
  ProductStringPool(const ProductStringPool&) = delete;
  ProductStringPool& operator=(const ProductStringPool&) = delete;

  // Queues a fetch for the device (a copy is kept); false while the pool or device mapping is stopping.
  bool Submit(const DeviceEntry& device);
  // Drops what is queued and waits for the workers; the pool can be used again afterwards.
  void Stop();

 private:
  void Work();

  DeviceList& devices_;
  CRITICAL_SECTION* lock_;
  const volatile LONG* mappingStopped_;
  const size_t maxWorkers_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<DeviceEntry> queue_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};
