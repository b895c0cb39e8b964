// File mappings: a named one is its name's shared file (procs/shared_name.h); an unnamed one a memfd.
// Handles carry their access; views keep the mapping alive until they are unmapped.
#include "win32/file_mapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "shared_name.h"
#include "win32/sync.h"

namespace fs = std::filesystem;

namespace tavrin::procs {
namespace {

class MappingObject {
 public:
  explicit MappingObject(SharedName name) : name_(std::move(name)) {}
  ~MappingObject() {
    if (name_.path.empty()) {
      if (name_.memory) munmap(name_.memory, name_.size);
      if (name_.fd >= 0) close(name_.fd);
    } else {
      DetachSharedName(name_);
    }
  }
  MappingObject(const MappingObject&) = delete;
  MappingObject& operator=(const MappingObject&) = delete;

  int fd() const { return name_.fd; }
  size_t size() const { return name_.size; }

 private:
  SharedName name_;
};

class MappingHandle : public KernelObject {
 public:
  MappingHandle(std::shared_ptr<MappingObject> mapping, bool writable)
      : mapping(std::move(mapping)), writable(writable) {}
  const std::shared_ptr<MappingObject> mapping;
  const bool writable;
};

struct View {
  std::shared_ptr<MappingObject> mapping;
  size_t length;
};

struct ProcessMappings : ProcessNames<MappingObject> {
  std::map<const void*, View> views;
};

ProcessMappings& Mappings() {
  static auto* mappings = new ProcessMappings;  // never destroyed: handles may be closed during exit
  return *mappings;
}

std::shared_ptr<MappingObject> ShareNamed(const std::string& name, bool create, size_t size, bool& existed,
                                          DWORD& error) {
  existed = true;
  const fs::path path = SharedNamePath("mapping", name);
  auto& mappings = Mappings();
  std::lock_guard guard(mappings.lock);
  if (auto mapping = mappings.Find(path)) return mapping;
  SharedName shared;
  if (!AttachSharedName(path, create, size, 1, nullptr, shared, error)) return nullptr;
  existed = !shared.created;
  // Only the file is needed here: each view maps it on its own.
  munmap(shared.memory, shared.size);
  shared.memory = nullptr;
  auto mapping = std::make_shared<MappingObject>(std::move(shared));
  mappings.byPath[path] = mapping;
  return mapping;
}

std::shared_ptr<MappingObject> MakeUnnamed(size_t size, DWORD& error) {
  SharedName anonymous;
  anonymous.fd = memfd_create("tavrin-mapping", MFD_CLOEXEC);
  if (anonymous.fd < 0 || ftruncate(anonymous.fd, static_cast<off_t>(size)) != 0) {
    error = ErrorFromErrno(errno);
    if (anonymous.fd >= 0) close(anonymous.fd);
    return nullptr;
  }
  anonymous.size = size;
  return std::make_shared<MappingObject>(std::move(anonymous));
}

}  // namespace
}  // namespace tavrin::procs

HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                         DWORD maximumSizeLow, LPCSTR name) {
  using namespace tavrin::procs;
  if (file != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  const DWORD protection = protect & 0xFF;
  const size_t size = (static_cast<size_t>(maximumSizeHigh) << 32) | maximumSizeLow;
  if ((protection != PAGE_READONLY && protection != PAGE_READWRITE) || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  bool existed = false;
  auto mapping = name && *name ? ShareNamed(name, true, size, existed, error) : MakeUnnamed(size, error);
  if (!mapping) {
    SetLastError(error);
    return nullptr;
  }
  HANDLE handle = tavrin::InsertHandle(std::make_shared<MappingHandle>(mapping, protection == PAGE_READWRITE));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenFileMapping(DWORD desiredAccess, BOOL, LPCSTR name) {
  using namespace tavrin::procs;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  bool existed = false;
  auto mapping = ShareNamed(name, false, 0, existed, error);
  if (!mapping) {
    SetLastError(error);
    return nullptr;
  }
  const bool writable = (desiredAccess & FILE_MAP_WRITE) != 0 || desiredAccess == FILE_MAP_ALL_ACCESS;
  return tavrin::InsertHandle(std::make_shared<MappingHandle>(mapping, writable));
}

LPVOID MapViewOfFile(HANDLE handle, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                     SIZE_T numberOfBytesToMap) {
  using namespace tavrin::procs;
  auto mapping = tavrin::LookupHandleAs<MappingHandle>(handle);
  if (!mapping) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const bool write = (desiredAccess & FILE_MAP_WRITE) != 0 || desiredAccess == FILE_MAP_ALL_ACCESS;
  if (write && !mapping->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const size_t offset = (static_cast<size_t>(fileOffsetHigh) << 32) | fileOffsetLow;
  const size_t total = mapping->mapping->size();
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (offset % page != 0 || offset >= total || numberOfBytesToMap > total - offset) {
    SetLastError(offset % page != 0 ? ERROR_MAPPED_ALIGNMENT : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const size_t length = numberOfBytesToMap ? numberOfBytesToMap : total - offset;
  // FILE_MAP_COPY: private pages, so that writes stay in this view.
  const int flags = desiredAccess == FILE_MAP_COPY ? MAP_PRIVATE : MAP_SHARED;
  const int protection = write || desiredAccess == FILE_MAP_COPY ? PROT_READ | PROT_WRITE : PROT_READ;
  void* view = mmap(nullptr, length, protection, flags, mapping->mapping->fd(), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  auto& mappings = Mappings();
  std::lock_guard guard(mappings.lock);
  mappings.views[view] = View{mapping->mapping, length};
  return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
  using namespace tavrin::procs;
  std::shared_ptr<MappingObject> released;  // the last view may end the mapping: outside the lock
  {
    auto& mappings = Mappings();
    std::lock_guard guard(mappings.lock);
    auto it = mappings.views.find(baseAddress);
    if (it == mappings.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    munmap(const_cast<void*>(baseAddress), it->second.length);
    released = std::move(it->second.mapping);
    mappings.views.erase(it);
  }
  return TRUE;
}
