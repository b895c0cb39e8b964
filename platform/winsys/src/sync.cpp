// Last error, ids, tick count, critical sections, events, threads and the waits on them: the Win32 names
// over the base layer's objects and waits.
#include "win32/sync.h"

#include <algorithm>
#include <new>
#include <thread>
#include <vector>

#include "base/thread.h"
#include "base/time.h"
#include "core_internal.h"
#include "win32/system_hooks.h"

namespace tavrin {

void SetTickCountOffsetForTest(ULONGLONG offset) { base::time::SetOffsetForTest(offset); }

namespace core {

DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds,
                     base::WaitCondition* alsoEnds) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count == 0 && !alsoEnds) || (count > 0 && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
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
    objects.push_back(std::move(object));
  }
  const auto deadline = milliseconds == INFINITE ? base::Deadline::Never()
                                                 : base::Deadline::After(std::chrono::milliseconds(milliseconds));
  base::WaitResult result = base::WaitForObjects(objects, waitAll, deadline, alsoEnds);
  switch (result.kind) {
    case base::WaitResult::Kind::kSignalled:
    case base::WaitResult::Kind::kCondition:
      return WAIT_OBJECT_0 + static_cast<DWORD>(result.index);
    case base::WaitResult::Kind::kAbandoned:
      return WAIT_ABANDONED + static_cast<DWORD>(result.index);
    case base::WaitResult::Kind::kTimeout:
      break;
  }
  return WAIT_TIMEOUT;
}

}  // namespace core
}  // namespace tavrin

using tavrin::core::Event;

DWORD GetCurrentProcessId() { return tavrin::base::time::CurrentProcessId(); }
DWORD GetCurrentThreadId() { return tavrin::base::time::CurrentThreadId(); }

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64() { return tavrin::base::time::Milliseconds(); }
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
    event = tavrin::base::NewEvent(manualReset, initialState);
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
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  tavrin::base::Thread::Body body;
  body.run = [start, parameter] { return start(parameter); };
  // A queue from the start, so that PostThreadMessage right after CreateThread arrives; the thread's
  // windows end with it, before anyone sees it finished.
  body.enter = [] {
    if (auto starts = tavrin::system_hooks::Installed().threadStarts) starts();
  };
  body.leave = [] {
    if (auto ends = tavrin::system_hooks::Installed().threadEnds) ends();
  };
  // Like a Windows thread it runs on after its handle is closed.
  auto thread = tavrin::base::Thread::Start(std::move(body), (creationFlags & CREATE_SUSPENDED) != 0);
  if (!thread) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = thread->id();
  return tavrin::InsertHandle(std::move(thread));
}

DWORD ResumeThread(HANDLE handle) {
  auto thread = tavrin::LookupHandleAs<tavrin::base::Thread>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFF;
  }
  return thread->Resume();
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  auto thread = tavrin::LookupHandleAs<tavrin::base::Thread>(handle);
  if (!thread || !exitCode) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = thread->ExitCode().value_or(STILL_ACTIVE);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return tavrin::core::WaitForObjects(1, &handle, false, milliseconds, nullptr);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  return tavrin::core::WaitForObjects(count, handles, waitAll, milliseconds, nullptr);
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
