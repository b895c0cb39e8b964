#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "storage_internal.h"

namespace fs = std::filesystem;

namespace tavrin::storage {

namespace {
std::atomic<uint64_t> g_fileChanges{0};
}  // namespace

void NoteFileChange() { g_fileChanges.fetch_add(1, std::memory_order_release); }
uint64_t FileChanges() { return g_fileChanges.load(std::memory_order_acquire); }

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD NotFoundError(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path.parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool IsReadOnly(const struct stat& status) { return S_ISREG(status.st_mode) && !(status.st_mode & S_IWUSR); }

}  // namespace tavrin::storage
