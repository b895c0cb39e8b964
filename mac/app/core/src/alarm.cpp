#include "TavrinMac/TavrinApp.h"

namespace tavrinmac {

Alarm::Alarm() : thread_(&Alarm::Run, this) {}

Alarm::~Alarm() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Alarm::Arm(int ms, std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    armed_ = true;
    ++generation_;
  }
  changed_.notify_all();
}

void Alarm::Cancel(bool wait) {
  std::unique_lock lock(mutex_);
  armed_ = false;
  ++generation_;
  changed_.notify_all();
  if (wait && std::this_thread::get_id() != thread_.get_id()) changed_.wait(lock, [&] { return !running_; });
}

void Alarm::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!armed_) {
      changed_.wait(lock);
      continue;
    }
    const uint64_t generation = generation_;
    if (changed_.wait_until(lock, due_) == std::cv_status::no_timeout || generation != generation_ || !armed_)
      continue;  // re-armed, cancelled or stopping meanwhile: look again
    if (std::chrono::steady_clock::now() < due_) continue;
    armed_ = false;  // once per arming
    std::function<void()> handler = handler_;
    running_ = true;
    lock.unlock();
    if (handler) handler();
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

}  // namespace tavrinmac
