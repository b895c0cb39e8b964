#include "base/wait.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace tavrin::base {
namespace {

using Clock = std::chrono::steady_clock;

struct WaitHub {
  std::mutex lock;
  std::condition_variable changed;
};

WaitHub& Hub() {
  static auto* hub = new WaitHub;  // never destroyed: detached threads may still wait at exit
  return *hub;
}

// Takes every object at once. Objects that other processes change are taken first: they are the ones that
// may be gone by now, and what was taken is given back then.
bool AcquireAll(std::span<const std::shared_ptr<Waitable>> objects) {
  for (auto& object : objects)
    if (!object->IsSignalled()) return false;
  std::vector<Waitable*> taken;
  for (bool elsewhere : {true, false}) {
    for (auto& object : objects) {
      if (object->ChangesElsewhere() != elsewhere) continue;
      if (!object->TryAcquire()) {
        for (Waitable* t : taken) t->Unacquire();
        return false;
      }
      taken.push_back(object.get());
    }
  }
  return true;
}

// A thread that blocks on one object other processes change, for a wait that mixes it with others, and
// wakes the process's waiters whenever it changes; so that wait sleeps instead of looking every millisecond.
class ChangeWatcher {
 public:
  ChangeWatcher(std::shared_ptr<Waitable> object, uint32_t seen) : object_(std::move(object)) {
    thread_ = std::thread([this, seen] { Run(seen); });
  }
  // Called with WaitLock() held, which it releases while the thread ends.
  void Stop(std::unique_lock<std::mutex>& lock) {
    stop_ = true;
    object_->Poke();
    lock.unlock();
    thread_.join();
    lock.lock();
  }

 private:
  void Run(uint32_t seen) {
    for (;;) {
      object_->WaitForChange(seen, std::chrono::hours(1));
      std::lock_guard lock(WaitLock());
      if (stop_) return;
      seen = object_->ChangeStamp();
      NotifyWaiters();
    }
  }

  std::shared_ptr<Waitable> object_;
  bool stop_ = false;  // under WaitLock()
  std::thread thread_;
};

}  // namespace

std::mutex& WaitLock() { return Hub().lock; }
std::condition_variable& WaitChanged() { return Hub().changed; }
void NotifyWaiters() { Hub().changed.notify_all(); }

void Waitable::WaitForChange(uint32_t, std::chrono::milliseconds limit) {
  std::this_thread::sleep_for(std::min(limit, std::chrono::milliseconds(1)));
}

Deadline Deadline::After(std::chrono::milliseconds wait) { return Deadline(false, Clock::now() + wait); }
Deadline Deadline::Never() { return Deadline(true, Clock::now()); }

std::chrono::milliseconds Deadline::Remaining(std::chrono::milliseconds cap) const {
  if (infinite_) return cap;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now());
  return std::clamp(left, std::chrono::milliseconds(0), cap);
}

WaitResult WaitForObjects(std::span<const std::shared_ptr<Waitable>> objects, bool all, const Deadline& deadline,
                          WaitCondition* condition) {
  using Kind = WaitResult::Kind;
  const bool elsewhere = std::any_of(objects.begin(), objects.end(), [](auto& o) { return o->ChangesElsewhere(); });
  // A wait on one cross-process object alone blocks on that object rather than polling.
  const bool lone = elsewhere && objects.size() == 1 && !condition;
  // Mixed with others, those that can block until a change get a watcher once the wait sleeps; the rest
  // are looked at every millisecond.
  const bool polled = std::any_of(objects.begin(), objects.end(),
                                  [](auto& o) { return o->ChangesElsewhere() && !o->BlocksUntilChange(); });
  const bool watched = elsewhere && !lone &&
                       std::any_of(objects.begin(), objects.end(), [](auto& o) { return o->BlocksUntilChange(); });
  std::vector<uint32_t> stamps(watched ? objects.size() : 0);
  std::vector<std::unique_ptr<ChangeWatcher>> watchers;

  std::unique_lock lock(WaitLock());
  struct StopWatchers {  // before the lock is released, however the wait ends
    std::vector<std::unique_ptr<ChangeWatcher>>& watchers;
    std::unique_lock<std::mutex>& lock;
    ~StopWatchers() {
      for (auto& w : watchers) w->Stop(lock);
    }
  } stopWatchers{watchers, lock};
  for (;;) {
    const uint32_t stamp = lone ? objects[0]->ChangeStamp() : 0;
    // Read before the objects are looked at, so that a watcher started below misses no change after it.
    if (watched && watchers.empty())
      for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->BlocksUntilChange()) stamps[i] = objects[i]->ChangeStamp();
    if (!all) {
      for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->TryAcquire()) return {objects[i]->TakeAbandoned() ? Kind::kAbandoned : Kind::kSignalled, i};
      if (condition && condition->Met()) return {Kind::kCondition, objects.size()};
    } else if ((!condition || condition->Met()) && AcquireAll(objects)) {
      WaitResult result{Kind::kSignalled, 0};  // or the first abandoned one; each is asked once
      for (size_t i = objects.size(); i-- > 0;)
        if (objects[i]->TakeAbandoned()) result = {Kind::kAbandoned, i};
      return result;
    }
    if (deadline.Passed()) return {Kind::kTimeout, 0};

    if (lone) {
      lock.unlock();
      objects[0]->WaitForChange(stamp, deadline.Remaining(std::chrono::hours(1)));
      lock.lock();
      continue;
    }
    if (watched && watchers.empty())
      for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->BlocksUntilChange()) watchers.push_back(std::make_unique<ChangeWatcher>(objects[i], stamps[i]));
    auto until = deadline.Infinite() ? Clock::time_point::max() : deadline.At();
    if (condition) until = std::min(until, condition->NextCheck());
    if (polled) until = std::min(until, Clock::now() + std::chrono::milliseconds(1));
    if (until == Clock::time_point::max())
      WaitChanged().wait(lock);
    else
      WaitChanged().wait_until(lock, until);
  }
}

}  // namespace tavrin::base
