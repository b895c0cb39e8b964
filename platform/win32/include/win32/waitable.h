// Waitable kernel objects: what WaitForSingleObject and its relatives wait on (events, threads, and any
// object another layer plugs in). Local objects change state under the process's wait lock and wake the
// waiters through NotifyWaiters, so a wait on them sleeps until something happens. Objects whose state
// other processes change (named events, proxies of another process's objects) say so; a wait that
// includes one of them also re-checks it every millisecond.
#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>

#include "win32/handle.h"

namespace tavrin {

class Waitable : public KernelObject {
 public:
  // The state operations below run with WaitLock() held.
  virtual bool IsSignalled() = 0;
  // Takes the signal for the waiter that is released (an auto-reset event resets); false when another
  // process took it first.
  virtual bool TryAcquire() { return IsSignalled(); }
  // Gives back a signal taken by TryAcquire when a wait-all could not take every other object.
  virtual void Unacquire() {}
  // Asked right after a TryAcquire that succeeded: true when the object came to the waiter from an owner
  // that ended without giving it back (a mutex), so the wait reports WAIT_ABANDONED.
  virtual bool TakeAbandoned() { return false; }

  // True when other processes change this object's state.
  virtual bool ChangesElsewhere() const { return false; }
  // For a wait on this one object alone: a value that moves whenever the state may have changed (read
  // before the state is checked), and a wait, without the wait lock, until it moves or `limit` passes.
  // The defaults sleep for a millisecond; objects with a way to block (a futex) override both.
  virtual uint32_t ChangeStamp() { return 0; }
  virtual void WaitForChange(uint32_t stamp, std::chrono::milliseconds limit);
};

// The lock under which local waitables and message queues change state. Lives for the whole process.
std::mutex& WaitLock();
// Wakes every waiting thread of the process to re-check the objects it waits on. Call it after changing
// a waitable's state under WaitLock() (with the lock held or just after releasing it).
void NotifyWaiters();

}  // namespace tavrin
