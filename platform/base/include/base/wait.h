// Waitable objects and the waits on them. Local objects change state under the process's wait lock and
// wake the waiters through NotifyWaiters, so a wait on them sleeps until something happens. Objects whose
// state other processes change (named events, proxies of another process's objects) say so; a wait that
// mixes one of them with other objects has a thread of its own block on it (when it can block until a
// change) or re-checks it every millisecond.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "base/handles.h"

namespace tavrin::base {

class Waitable : public Object {
 public:
  // The state operations below run with WaitLock() held.
  virtual bool IsSignalled() = 0;
  // Takes the signal for the waiter that is released (an auto-reset event resets); false when another
  // process took it first.
  virtual bool TryAcquire() { return IsSignalled(); }
  // Gives back a signal taken by TryAcquire when a wait-all could not take every other object.
  virtual void Unacquire() {}
  // Asked right after a TryAcquire that succeeded: true when the object came to the waiter from an owner
  // that ended without giving it back (a mutex), so the wait reports it abandoned.
  virtual bool TakeAbandoned() { return false; }

  // True when other processes change this object's state.
  virtual bool ChangesElsewhere() const { return false; }
  // For a wait on this one object alone: a value that moves whenever the state may have changed (read
  // before the state is checked), and a wait, without the wait lock, until it moves or `limit` passes.
  // The defaults sleep for a millisecond; objects with a way to block (a futex) override both.
  virtual uint32_t ChangeStamp() { return 0; }
  virtual void WaitForChange(uint32_t stamp, std::chrono::milliseconds limit);
  // True when WaitForChange blocks until the stamp moves (a futex); Poke then moves it and wakes whoever
  // waits on it (they look again and find nothing new).
  virtual bool BlocksUntilChange() const { return false; }
  virtual void Poke() {}
};

// The lock under which local waitables (and what else waits may watch) change state. Lives for the whole
// process.
std::mutex& WaitLock();
// Signalled by NotifyWaiters; every wait of the process sleeps on it with WaitLock().
std::condition_variable& WaitChanged();
// Wakes every waiting thread of the process to re-check what it waits on. Call it after changing a
// waitable's state under WaitLock() (with the lock held or just after releasing it).
void NotifyWaiters();

// A wait's end, or none.
class Deadline {
 public:
  static Deadline After(std::chrono::milliseconds wait);
  static Deadline Never();
  bool Infinite() const { return infinite_; }
  bool Passed() const { return !infinite_ && std::chrono::steady_clock::now() >= at_; }
  std::chrono::steady_clock::time_point At() const { return at_; }
  // What is left, at most `cap`.
  std::chrono::milliseconds Remaining(std::chrono::milliseconds cap) const;

 private:
  Deadline(bool infinite, std::chrono::steady_clock::time_point at) : infinite_(infinite), at_(at) {}
  bool infinite_;
  std::chrono::steady_clock::time_point at_;
};

// Something besides the objects that a wait watches (a thread's message queue). Asked with WaitLock() held.
class WaitCondition {
 public:
  virtual ~WaitCondition() = default;
  virtual bool Met() = 0;
  // When the condition may become met without anyone calling NotifyWaiters (a timer falling due).
  virtual std::chrono::steady_clock::time_point NextCheck() { return std::chrono::steady_clock::time_point::max(); }
};

struct WaitResult {
  enum class Kind { kSignalled, kAbandoned, kCondition, kTimeout };
  Kind kind;
  size_t index = 0;  // the object that ended the wait
};

// Waits until one object can be taken (`all` false: the lowest index wins, before the condition) or every
// object at once (`all` true, and the condition met too when given), or the deadline passes. With `all`,
// one object must not appear twice.
WaitResult WaitForObjects(std::span<const std::shared_ptr<Waitable>> objects, bool all, const Deadline& deadline,
                          WaitCondition* condition = nullptr);

}  // namespace tavrin::base
