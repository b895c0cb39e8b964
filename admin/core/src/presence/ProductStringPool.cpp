#include "ProductStringPool.h"

#include "admin/comm/ProductString.h"

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
  wake_.notify_one();
  return true;
}

void ProductStringPool::Stop() {
  std::vector<std::thread> workers;
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
    queue_.clear();
    workers.swap(workers_);
  }
  wake_.notify_all();
  for (std::thread& worker : workers) worker.join();
  std::lock_guard guard(mutex_);
  idle_ = 0;
  stopping_ = false;
}

void ProductStringPool::Work() {
  std::unique_lock guard(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (stopping_) return;
    DeviceEntry device = queue_.front();
    queue_.pop_front();
    guard.unlock();
    FetchProductString(devices_, lock_, mappingStopped_, device);
    guard.lock();
  }
}
