#include "win32/handle.h"

#include <mutex>
#include <unordered_map>

#include "win32/sync.h"

namespace tavrin {
namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;  // small values look like real handles and never collide with null or -1
};

HandleTable& Table() {
  static auto* table = new HandleTable;  // never destroyed: handles may be closed during static teardown
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> dropped;  // destroyed outside the table lock
  auto& t = Table();
  std::lock_guard guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) return false;
  dropped = std::move(it->second);
  t.objects.erase(it);
  return true;
}

}  // namespace tavrin

BOOL CloseHandle(HANDLE handle) {
  if (!tavrin::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
