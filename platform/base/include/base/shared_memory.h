// Memory two processes of the machine share: made by one, handed to the other by its descriptor over a
// local socket (local::SendAllWithDescriptor), mapped there. The maker seals it against shrinking, so a
// peer that maps it can trust its size: nobody can cut pages from under the mapping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tavrin::base {

class SharedMemory {
 public:
  // `size` bytes, zeroed; null (errno set) when none can be had.
  static std::unique_ptr<SharedMemory> Create(size_t size);
  // Maps memory a peer made, by its descriptor (which stays the caller's); null (errno set) when it is not
  // sealed against shrinking or holds fewer than `size` bytes.
  static std::unique_ptr<SharedMemory> Map(int descriptor, size_t size);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The descriptor to hand to a peer (-1 for a mapping of a peer's memory).
  int descriptor() const { return descriptor_; }

 private:
  SharedMemory(uint8_t* data, size_t size, int descriptor) : data_(data), size_(size), descriptor_(descriptor) {}
  uint8_t* data_;
  size_t size_;
  int descriptor_;
};

}  // namespace tavrin::base
