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
  const bool polled = std::any_of(objects.begin(), objects.end(), [](auto& o) { return o->ChangesElsewhere(); });
  // A wait on one cross-process object alone blocks on that object rather than polling.
  const bool lone = polled && objects.size() == 1 && !condition;

  std::unique_lock lock(WaitLock());
  for (;;) {
    const uint32_t stamp = lone ? objects[0]->ChangeStamp() : 0;
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
