// The process's handle table. Every HANDLE of the platform layer (events, threads, files, device handles,
// shared memory...) names a KernelObject held here; CloseHandle drops the table's reference, so an object
// stays alive while a waiter or a call still holds it.
#pragma once
#include <memory>

#include "win32/types.h"

namespace tavrin {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// Removes the entry; false when the handle is not in the table.
bool RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace tavrin

// Closes any handle of the table (sets ERROR_INVALID_HANDLE for an unknown one).
BOOL CloseHandle(HANDLE handle);
