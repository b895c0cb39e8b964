// Last error, ids, tick count, critical sections, local events, threads and the waits on them.
#include "win32/sync.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "core_internal.h"

namespace tavrin {
namespace {

struct WaitHub {
  std::mutex lock;
  std::condition_variable changed;
};

WaitHub& Hub() {
  static auto* hub = new WaitHub;  // never destroyed: detached threads may still wait at exit
  return *hub;
}

std::atomic<ULONGLONG> g_tickOffset{0};

}  // namespace

std::mutex& WaitLock() { return Hub().lock; }
void NotifyWaiters() { Hub().changed.notify_all(); }

void Waitable::WaitForChange(uint32_t, std::chrono::milliseconds limit) {
  std::this_thread::sleep_for(std::min(limit, std::chrono::milliseconds(1)));
}

void SetTickCountOffsetForTest(ULONGLONG offset) { g_tickOffset = offset; }

namespace core {

std::condition_variable& WaitChanged() { return Hub().changed; }

Deadline::Deadline(DWORD milliseconds)
    : infinite_(milliseconds == INFINITE),
      at_(std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite_ ? 0 : milliseconds)) {}

std::chrono::milliseconds Deadline::Remaining(std::chrono::milliseconds cap) const {
  if (infinite_) return cap;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - std::chrono::steady_clock::now());
  return std::clamp(left, std::chrono::milliseconds(0), cap);
}

namespace {

class LocalEvent : public Event {
 public:
  LocalEvent(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

  bool IsSignalled() override { return signalled_; }
  bool TryAcquire() override {
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
  }
  void Unacquire() override { signalled_ = true; }
  void Set() override {
    std::lock_guard guard(WaitLock());
    signalled_ = true;
    NotifyWaiters();
  }
  void Reset() override {
    std::lock_guard guard(WaitLock());
    signalled_ = false;
  }

 private:
  const bool manualReset_;
  bool signalled_;  // guarded by WaitLock()
};

class ThreadObject : public Waitable {
 public:
  bool IsSignalled() override { return finished; }

  // Guarded by WaitLock().
  DWORD id = 0;
  DWORD suspendCount = 0;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

void RunThread(const std::shared_ptr<ThreadObject>& thread, LPTHREAD_START_ROUTINE start, LPVOID parameter) {
  CurrentQueue();  // a queue from the start, so that PostThreadMessage right after CreateThread arrives
  {
    std::unique_lock lock(WaitLock());
    thread->id = GetCurrentThreadId();
    NotifyWaiters();
    WaitChanged().wait(lock, [&] { return thread->suspendCount == 0; });
  }
  DWORD code = start(parameter);
  ReleaseCurrentQueue();  // the thread's windows end with it, before anyone sees it finished
  std::lock_guard guard(WaitLock());
  thread->exitCode = code;
  thread->finished = true;
  NotifyWaiters();
}

// Takes every object at once. Objects that other processes change are taken first: they are the ones that
// may be gone by now, and what was taken is given back then.
bool AcquireAll(const std::vector<std::shared_ptr<Waitable>>& objects) {
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

DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, bool withQueue,
                     DWORD wakeMask) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count == 0 && !withQueue) || (count > 0 && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  bool polled = false;
  for (DWORD i = 0; i < count; ++i) {
    auto object = LookupHandleAs<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);  // one object twice can never be taken twice at once
      return WAIT_FAILED;
    }
    polled = polled || object->ChangesElsewhere();
    objects.push_back(std::move(object));
  }
  std::shared_ptr<MessageQueue> queue = withQueue ? CurrentQueue() : nullptr;
  // A wait on one cross-process object alone blocks on that object rather than polling.
  const bool lone = polled && count == 1 && !queue;
  const Deadline deadline(milliseconds);

  std::unique_lock lock(WaitLock());
  for (;;) {
    const uint32_t stamp = lone ? objects[0]->ChangeStamp() : 0;
    if (!waitAll) {
      for (DWORD i = 0; i < count; ++i)
        if (objects[i]->TryAcquire()) return (objects[i]->TakeAbandoned() ? WAIT_ABANDONED : WAIT_OBJECT_0) + i;
      if (queue && QueueHasInput(*queue, wakeMask)) return WAIT_OBJECT_0 + count;
    } else if ((!queue || QueueHasInput(*queue, wakeMask)) && AcquireAll(objects)) {
      DWORD result = WAIT_OBJECT_0;  // or WAIT_ABANDONED + the first abandoned one; each is asked once
      for (DWORD i = count; i-- > 0;)
        if (objects[i]->TakeAbandoned()) result = WAIT_ABANDONED + i;
      return result;
    }
    if (milliseconds == 0 || deadline.Passed()) return WAIT_TIMEOUT;

    if (lone) {
      lock.unlock();
      objects[0]->WaitForChange(stamp, deadline.Remaining(std::chrono::hours(1)));
      lock.lock();
      continue;
    }
    auto until = deadline.Infinite() ? std::chrono::steady_clock::time_point::max() : deadline.At();
    if (queue) until = std::min(until, NextTimerDue(*queue));
    if (polled) until = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    if (until == std::chrono::steady_clock::time_point::max())
      WaitChanged().wait(lock);
    else
      WaitChanged().wait_until(lock, until);
  }
}

}  // namespace core
}  // namespace tavrin

using tavrin::core::Event;

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() {
  thread_local const DWORD id = static_cast<DWORD>(gettid());
  return id;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  ULONGLONG ms = static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1000000;
  return ms + tavrin::g_tickOffset.load();
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  std::shared_ptr<Event> event;
  bool existed = false;
  if (name && *name) {
    DWORD error = ERROR_SUCCESS;
    event = tavrin::core::CreateNamedEvent(name, manualReset, initialState, existed, error);
    if (!event) {
      SetLastError(error);
      return nullptr;
    }
  } else {
    event = std::make_shared<tavrin::core::LocalEvent>(manualReset, initialState);
  }
  HANDLE handle = tavrin::InsertHandle(std::move(event));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenEvent(DWORD, BOOL, LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  auto event = tavrin::core::OpenNamedEvent(name, error);
  if (!event) {
    SetLastError(error);
    return nullptr;
  }
  return tavrin::InsertHandle(std::move(event));
}

namespace {
template <class Action>
BOOL WithEvent(HANDLE handle, Action action) {
  auto event = tavrin::LookupHandleAs<Event>(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  action(*event);
  return TRUE;
}
}  // namespace

BOOL SetEvent(HANDLE event) { return WithEvent(event, [](Event& e) { e.Set(); }); }
BOOL ResetEvent(HANDLE event) { return WithEvent(event, [](Event& e) { e.Reset(); }); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
  using tavrin::core::ThreadObject;
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  thread->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;
  try {
    // Detached: like a Windows thread it runs on after its handle is closed; it keeps its own object.
    std::thread([thread, start, parameter] { tavrin::core::RunThread(thread, start, parameter); }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id;
  {
    std::unique_lock lock(tavrin::WaitLock());
    tavrin::core::WaitChanged().wait(lock, [&] { return thread->id != 0; });
    id = thread->id;
  }
  if (threadId) *threadId = id;
  return tavrin::InsertHandle(std::move(thread));
}

DWORD ResumeThread(HANDLE handle) {
  auto thread = tavrin::LookupHandleAs<tavrin::core::ThreadObject>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFF;
  }
  std::lock_guard guard(tavrin::WaitLock());
  DWORD previous = thread->suspendCount;
  if (previous > 0 && --thread->suspendCount == 0) tavrin::NotifyWaiters();
  return previous;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  auto thread = tavrin::LookupHandleAs<tavrin::core::ThreadObject>(handle);
  if (!thread || !exitCode) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard guard(tavrin::WaitLock());
  *exitCode = thread->exitCode;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return tavrin::core::WaitForObjects(1, &handle, false, milliseconds, false, 0);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  return tavrin::core::WaitForObjects(count, handles, waitAll, milliseconds, false, 0);
}

namespace {
std::recursive_mutex& LockOf(LPCRITICAL_SECTION section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->lock));
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) { new (section->lock) std::recursive_mutex; }
void EnterCriticalSection(LPCRITICAL_SECTION section) { LockOf(section).lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return LockOf(section).try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { LockOf(section).unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) { LockOf(section).~recursive_mutex(); }
