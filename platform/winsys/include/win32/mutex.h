// Mutexes. A named mutex is shared by every process of the sysroot. A mutex belongs to the thread that
// took it (recursively); when that thread or its process ends without releasing it, the next wait that
// takes it returns WAIT_ABANDONED (+ index) and the waiter owns it.
#pragma once
#include "win32/handle.h"
#include "win32/types.h"

constexpr DWORD WAIT_ABANDONED_0 = WAIT_ABANDONED;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;
constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
constexpr DWORD ERROR_NOT_OWNER = 288;

// A name in use gives a handle to the same mutex with ERROR_ALREADY_EXISTS; `initialOwner` then takes
// nothing.
HANDLE CreateMutex(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
// ERROR_FILE_NOT_FOUND when no process holds a mutex of that name.
HANDLE OpenMutex(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
// ERROR_NOT_OWNER unless the calling thread owns it.
BOOL ReleaseMutex(HANDLE mutex);
