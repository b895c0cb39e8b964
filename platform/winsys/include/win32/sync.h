// Threads, events, waits, critical sections, interlocked operations, the last-error value and the tick
// count. Named events are shared by every process of the sysroot; unnamed ones are local to the process.
#pragma once
#include <cstddef>
#include <mutex>

#include "wincommon/access.h"  // the rights of OpenEvent (accepted; every handle may wait, set and reset)
#include "wincommon/interlocked.h"
#include "win32/handle.h"  // CloseHandle
#include "win32/types.h"

using SIZE_T = size_t;
using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;

// The last-error value is per thread.
DWORD GetLastError();
void SetLastError(DWORD error);

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
// Milliseconds since an arbitrary start; the 32-bit count wraps after 49.7 days. Its low 32 bits are
// GetTickCount.
DWORD GetTickCount();
ULONGLONG GetTickCount64();

// Events. A name that exists already gives a handle to the same event with ERROR_ALREADY_EXISTS; its
// mode and state stay as its first creator set them. OpenEvent fails with ERROR_FILE_NOT_FOUND when no
// process holds an event of that name.
HANDLE CreateEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
HANDLE OpenEvent(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Threads. The handle is signalled when the thread ends; the thread runs on after CloseHandle.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
// Starts a thread created with CREATE_SUSPENDED; returns the previous suspend count (0xFFFFFFFF on error).
DWORD ResumeThread(HANDLE thread);
// STILL_ACTIVE while the thread runs, then the value its start routine returned.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// waitAll FALSE: WAIT_OBJECT_0 + the lowest index of a signalled object; TRUE: every object at once.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// Critical sections: recursive locks of the process.
struct CRITICAL_SECTION {
  alignas(std::recursive_mutex) unsigned char lock[sizeof(std::recursive_mutex)];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

namespace tavrin {

// Holds a critical section for a scope.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  explicit CriticalSectionGuard(CRITICAL_SECTION* section) : CriticalSectionGuard(*section) {}
  ~CriticalSectionGuard() { LeaveCriticalSection(&section_); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

// Adds `offset` milliseconds to GetTickCount and GetTickCount64 of this process, so that tests can run
// code across the 32-bit wrap-around.
void SetTickCountOffsetForTest(ULONGLONG offset);

}  // namespace tavrin
