#include "base/thread.h"

#include <system_error>
#include <thread>

#include "base/time.h"

namespace tavrin::base {

std::shared_ptr<Thread> Thread::Start(Body body, bool suspended) {
  auto thread = std::make_shared<Thread>();
  thread->suspendCount_ = suspended ? 1 : 0;
  try {
    // Detached: the thread keeps its own object and runs on without its starter.
    std::thread([thread, body = std::move(body)]() mutable { thread->Run(body); }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  std::unique_lock lock(WaitLock());
  WaitChanged().wait(lock, [&] { return thread->id_ != 0; });
  return thread;
}

void Thread::Run(Body& body) {
  if (body.enter) body.enter();
  {
    std::unique_lock lock(WaitLock());
    id_ = time::CurrentThreadId();
    NotifyWaiters();
    WaitChanged().wait(lock, [&] { return suspendCount_ == 0; });
  }
  uint32_t code = body.run();
  if (body.leave) body.leave();
  std::lock_guard guard(WaitLock());
  exitCode_ = code;
  finished_ = true;
  NotifyWaiters();
}

uint32_t Thread::id() const {
  std::lock_guard guard(WaitLock());
  return id_;
}

uint32_t Thread::Resume() {
  std::lock_guard guard(WaitLock());
  uint32_t previous = suspendCount_;
  if (previous > 0 && --suspendCount_ == 0) NotifyWaiters();
  return previous;
}

std::optional<uint32_t> Thread::ExitCode() const {
  std::lock_guard guard(WaitLock());
  if (!finished_) return std::nullopt;
  return exitCode_;
}

}  // namespace tavrin::base
