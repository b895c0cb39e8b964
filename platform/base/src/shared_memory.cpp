#include "base/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrin::base {

std::unique_ptr<SharedMemory> SharedMemory::Create(size_t size) {
  int fd = memfd_create("tavrin-shared", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return nullptr;
  void* data = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0 && fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK) == 0)
    data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  return std::unique_ptr<SharedMemory>(new SharedMemory(static_cast<uint8_t*>(data), size, fd));
}

std::unique_ptr<SharedMemory> SharedMemory::Map(int descriptor, size_t size) {
  struct stat info;
  int seals = fcntl(descriptor, F_GET_SEALS);
  if (seals < 0 || !(seals & F_SEAL_SHRINK) || fstat(descriptor, &info) != 0 || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) < size || size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  if (data == MAP_FAILED) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(static_cast<uint8_t*>(data), size, -1));
}

SharedMemory::~SharedMemory() {
  munmap(data_, size_);
  if (descriptor_ >= 0) close(descriptor_);
}

}  // namespace tavrin::base
