#include "shared_name.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::procs {
namespace {

// The run directory's guard lock, held while it lives.
class GuardLock {
 public:
  explicit GuardLock(const fs::path& dir)
      : fd_(open((dir / "objects.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~GuardLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool Held() const { return fd_ >= 0; }
  GuardLock(const GuardLock&) = delete;
  GuardLock& operator=(const GuardLock&) = delete;

 private:
  int fd_;
};

}  // namespace

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: return ERROR_DISK_FULL;
    default: return ERROR_GEN_FAILURE;
  }
}

fs::path SharedNamePath(const char* kind, const std::string& text) {
  std::string name = text;
  for (const char* prefix : {"Global\\", "Local\\"})
    if (name.rfind(prefix, 0) == 0) name.erase(0, std::string(prefix).size());
  std::string file = std::string(kind) + "-";
  for (unsigned char c : name) {
    if (isalnum(c) || c == '_' || c == '-' || c == '.') {
      file += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      file += '%';
      file += hex[c >> 4];
      file += hex[c & 15];
    }
  }
  return sysroot::RunDir() / file;
}

bool AttachSharedName(const fs::path& path, bool create, size_t size, size_t minimumSize,
                      const std::function<void(void*)>& setUp, SharedName& out, DWORD& error) {
  GuardLock guard(path.parent_path());
  int fd = guard.Held() ? open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600) : -1;
  if (fd < 0) {
    error = ErrorFromErrno(errno);
    return false;
  }
  const bool created = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (created && !create) {  // no process holds it: a stale file
    unlink(path.c_str());
    close(fd);
    error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  if (created) {
    // Nobody holds the name: set up afresh, over whatever a process that died left.
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      error = ErrorFromErrno(errno);
      close(fd);
      return false;
    }
  } else {
    struct stat info {};
    if (fstat(fd, &info) != 0 || static_cast<size_t>(info.st_size) < minimumSize || info.st_size == 0) {
      error = ERROR_INVALID_HANDLE;  // the file holds no object of this kind
      close(fd);
      return false;
    }
    size = static_cast<size_t>(info.st_size);
  }
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    error = ErrorFromErrno(errno);
    if (created) unlink(path.c_str());
    close(fd);
    return false;
  }
  if (created && setUp) setUp(memory);
  flock(fd, LOCK_SH);  // converts the creator's lock, or joins the other holders
  out.path = path;
  out.fd = fd;
  out.memory = memory;
  out.size = size;
  out.created = created;
  return true;
}

void DetachSharedName(SharedName& name) {
  if (name.fd < 0) return;
  {
    GuardLock guard(name.path.parent_path());
    if (guard.Held() && flock(name.fd, LOCK_EX | LOCK_NB) == 0) unlink(name.path.c_str());
    if (name.memory) munmap(name.memory, name.size);
    close(name.fd);
  }
  name.fd = -1;
  name.memory = nullptr;
}

}  // namespace tavrin::procs
