// Threads the platform layers hand out as objects: waitable (signalled once the thread has ended), started
// running or suspended, with the value the body returned. The thread runs on after the last reference
// to its object is dropped.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/wait.h"

namespace tavrin::base {

class Thread : public Waitable {
 public:
  struct Body {
    std::function<uint32_t()> run;
    // Around `run`, on the new thread: `enter` before the thread's id is known to the starter (what must
    // exist from the first moment, e.g. a message queue), `leave` before the thread counts as ended.
    std::function<void()> enter;
    std::function<void()> leave;
  };
  // Null when no thread can be had. Returns once the thread runs (and knows its id).
  static std::shared_ptr<Thread> Start(Body body, bool suspended);

  uint32_t id() const;
  // Lets a suspended thread go; returns the suspend count it had.
  uint32_t Resume();
  // The body's value once the thread has ended.
  std::optional<uint32_t> ExitCode() const;

  bool IsSignalled() override { return finished_; }

 private:
  void Run(Body& body);

  // Guarded by WaitLock().
  uint32_t id_ = 0;
  uint32_t suspendCount_ = 0;
  bool finished_ = false;
  uint32_t exitCode_ = 0;
};

}  // namespace tavrin::base
