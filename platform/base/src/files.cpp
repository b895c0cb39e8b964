#include "base/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace tavrin::base::files {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

char Fold(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }

}  // namespace

bool ReadWhole(const fs::path& path, std::string& bytes) {
  bytes.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[8192];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

namespace {

int SyncFolderOf(const fs::path& path) {
  fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return errno;
  int error = fsync(dir) == 0 ? 0 : errno;
  close(dir);
  return error;
}

}  // namespace

int ReplaceContents(const fs::path& path, std::string_view bytes, Durability durability) {
  const bool synced = durability == Durability::kSynced;
  std::string tmpl = path.string() + ".XXXXXX";
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  fchmod(fd, 0644);
  if (!WriteAll(fd, bytes) || (synced && fsync(fd) != 0)) {
    int saved = errno;
    close(fd);
    unlink(tmpl.c_str());
    return saved;
  }
  close(fd);
  if (rename(tmpl.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(tmpl.c_str());
    return saved;
  }
  // The rename lives in the folder: it survives a crash only once the folder is on disk too.
  if (synced) SyncFolderOf(path);
  return 0;
}

int SyncToDisk(const fs::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return error ? error : SyncFolderOf(path);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool LessNoCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

std::optional<std::string> FindNoCase(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
  std::string best;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string_view candidate = entry->d_name;
      if (EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    }
    closedir(d);
  }
  if (best.empty()) return std::nullopt;
  return best;
}

std::string ResolveNoCase(const fs::path& dir, const std::string& name) { return FindNoCase(dir, name).value_or(name); }

FileLock::FileLock(const fs::path& lockFile, Kind kind) {
  std::error_code ec;
  if (lockFile.has_parent_path()) fs::create_directories(lockFile.parent_path(), ec);
  fd_ = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  while (flock(fd_, kind == Kind::kExclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno == EINTR) continue;
    error_ = errno;
    close(fd_);
    fd_ = -1;
    return;
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);  // releases the lock
}

}  // namespace tavrin::base::files
