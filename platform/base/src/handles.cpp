#include "base/handles.h"

namespace tavrin::base {

void* HandleTable::Insert(std::shared_ptr<Object> object) {
  std::lock_guard guard(lock_);
  uintptr_t value = next_;
  next_ += 4;
  objects_.emplace(value, std::move(object));
  return reinterpret_cast<void*>(value);
}

std::shared_ptr<Object> HandleTable::Lookup(void* handle) const {
  std::lock_guard guard(lock_);
  auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
  return it == objects_.end() ? nullptr : it->second;
}

bool HandleTable::Remove(void* handle) {
  std::shared_ptr<Object> dropped;  // destroyed outside the lock
  std::lock_guard guard(lock_);
  auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == objects_.end()) return false;
  dropped = std::move(it->second);
  objects_.erase(it);
  return true;
}

HandleTable& Handles() {
  static auto* table = new HandleTable;
  return *table;
}

}  // namespace tavrin::base
