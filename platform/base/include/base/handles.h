// Handles: values that name objects of the process in a table. Removing a handle drops the table's
// reference, so an object stays alive while a waiter or a call still holds it.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tavrin::base {

class Object {
 public:
  virtual ~Object() = default;
};

class HandleTable {
 public:
  // Small values that never collide with null or -1.
  void* Insert(std::shared_ptr<Object> object);
  std::shared_ptr<Object> Lookup(void* handle) const;
  // False when the handle is not in the table.
  bool Remove(void* handle);

  template <class T>
  std::shared_ptr<T> LookupAs(void* handle) const {
    return std::dynamic_pointer_cast<T>(Lookup(handle));
  }

 private:
  mutable std::mutex lock_;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects_;
  uintptr_t next_ = 0x100;
};

// The process's table: every handle the platform layers give out. Never destroyed: handles may be closed
// during static teardown.
HandleTable& Handles();

}  // namespace tavrin::base
