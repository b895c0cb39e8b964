// The process's handle table under the Win32 names. Every HANDLE of the platform layer (events, threads,
// files, device handles, shared memory...) names an object of the base layer's table; CloseHandle drops
// the table's reference, so an object stays alive while a waiter or a call still holds it.
#pragma once
#include <memory>

#include "base/handles.h"
#include "win32/types.h"

namespace tavrin {

using KernelObject = base::Object;

inline HANDLE InsertHandle(std::shared_ptr<KernelObject> object) { return base::Handles().Insert(std::move(object)); }
inline std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) { return base::Handles().Lookup(handle); }
// Removes the entry; false when the handle is not in the table.
inline bool RemoveHandle(HANDLE handle) { return base::Handles().Remove(handle); }

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return base::Handles().LookupAs<T>(handle);
}

}  // namespace tavrin

// Closes any handle of the table (sets ERROR_INVALID_HANDLE for an unknown one).
BOOL CloseHandle(HANDLE handle);
