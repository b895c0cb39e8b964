// The timers of one UI thread: repeating timers keyed by their owner (a window, or none for the thread's
// own) and an id. Each falls due an interval after it was set or last taken; a late timer is taken once,
// not once for every interval it missed. The thread's loop takes what is due among what else it waits
// for, and sleeps until NextDue. Not locked by itself: the loop's own lock guards it.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace tavrin::gui {

class TimerSet {
 public:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    uintptr_t owner = 0;
    uintptr_t id = 0;
    std::chrono::milliseconds interval{0};
    Clock::time_point due;
    uintptr_t action = 0;  // what the toolkit does when it falls due (a procedure to call), or 0
  };
  using Filter = std::function<bool(const Timer& timer)>;

  // Sets a timer, replacing one of the same owner and id: it falls due an interval from `now`.
  void Set(uintptr_t owner, uintptr_t id, std::chrono::milliseconds interval, uintptr_t action, Clock::time_point now);
  bool Kill(uintptr_t owner, uintptr_t id);
  // An owner going takes its timers with it.
  void KillOwner(uintptr_t owner);
  bool Has(uintptr_t owner, uintptr_t id) const;
  // Whether this timer is set with this action (a timer message asking for an action carries it).
  bool HasAction(uintptr_t owner, uintptr_t id, uintptr_t action) const;
  // An id no timer of the owner has, counting up from 1.
  uintptr_t NewId(uintptr_t owner);

  // The due timer that is due the earliest among those the filter takes; taking it (`take`) makes it
  // due an interval from `now`. False when none is due.
  bool Due(Clock::time_point now, const Filter& filter, bool take, Timer& timer);
  bool AnyDue(Clock::time_point now) const;
  // When the first timer the filter takes falls due; time_point::max() for none.
  Clock::time_point NextDue(const Filter& filter) const;

 private:
  std::vector<Timer> timers_;  // in the order they were first set
  uintptr_t nextId_ = 1;
};

}  // namespace tavrin::gui
