#include "win32/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

#include "storage_internal.h"
#include "win32/sync.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;
using tavrin::storage::ErrorFromErrno;
using tavrin::storage::NotFoundError;

namespace tavrin {
namespace {

class FileObject : public IoObject {
 public:
  FileObject(int fd, bool canRead, bool canWrite) : fd_(fd), canRead_(canRead), canWrite_(canWrite) {}
  ~FileObject() override { close(fd_); }
  int fd() const { return fd_; }

  BOOL Read(void* buffer, DWORD size, DWORD* done, OVERLAPPED* overlapped) override {
    if (!canRead_) return Fail(ERROR_ACCESS_DENIED);
    ssize_t n;
    do {
      n = overlapped ? pread(fd_, buffer, size, Offset(overlapped)) : read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    return Finish(n, done, overlapped);
  }

  BOOL Write(const void* buffer, DWORD size, DWORD* done, OVERLAPPED* overlapped) override {
    if (!canWrite_) return Fail(ERROR_ACCESS_DENIED);
    const char* bytes = static_cast<const char*>(buffer);
    size_t written = 0;
    while (written < size) {
      ssize_t n = overlapped ? pwrite(fd_, bytes + written, size - written, Offset(overlapped) + written)
                             : write(fd_, bytes + written, size - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Finish(n, done, overlapped);
      written += static_cast<size_t>(n);
      storage::NoteFileChange();
    }
    return Finish(static_cast<ssize_t>(written), done, overlapped);
  }

  BOOL Flush() override { return fsync(fd_) == 0 ? TRUE : Fail(ErrorFromErrno(errno)); }

 private:
  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }
  static off_t Offset(const OVERLAPPED* o) {
    return static_cast<off_t>((static_cast<uint64_t>(o->OffsetHigh) << 32) | o->Offset);
  }
  static BOOL Finish(ssize_t n, DWORD* done, OVERLAPPED* overlapped) {
    if (done) *done = n < 0 ? 0 : static_cast<DWORD>(n);
    if (n < 0) return Fail(ErrorFromErrno(errno));
    if (overlapped) {
      overlapped->Internal = 0;
      overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
      if (overlapped->hEvent) SetEvent(overlapped->hEvent);  // completed at once
    }
    return TRUE;
  }

  int fd_;
  bool canRead_;
  bool canWrite_;
};

class FindObject : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATA> entries;
  size_t next = 0;
};

std::mutex g_openerLock;
DevicePathOpener g_deviceOpener;

template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDrivePrefix(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' && isalpha(static_cast<unsigned char>(path[0]));
}

// "\\\\.\\name" and "\\\\?\\name" name devices, except "\\\\?\\C:\\..." which is a plain file path.
bool IsDevicePath(std::string_view path) {
  if (path.size() < 4 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || !IsSeparator(path[3])) return false;
  if (path[2] == '.') return true;
  return path[2] == '?' && !HasDrivePrefix(path.substr(4));
}

std::string StripLongPathPrefix(std::string path) {
  if (path.size() >= 4 && path.compare(0, 4, "\\\\?\\") == 0) path.erase(0, 4);
  return path;
}

fs::path Map(LPCSTR windowsPath) { return sysroot::MapPath(StripLongPathPrefix(windowsPath)); }
// The path and, from the same look, its status.
sysroot::Located Find(LPCSTR windowsPath) { return sysroot::Locate(StripLongPathPrefix(windowsPath)); }

FILETIME ToFileTime(const timespec& t) {
  // FILETIME counts 100 ns ticks since 1601-01-01.
  constexpr uint64_t kEpochDelta = 11644473600ULL;
  uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + kEpochDelta) * 10000000ULL + t.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_ARCHIVE | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
}

bool WildcardMatch(std::string_view mask, std::string_view name) {
  size_t m = 0, n = 0, starMask = std::string_view::npos, starName = 0;
  auto fold = [](char c) { return tolower(static_cast<unsigned char>(c)); };
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || fold(mask[m]) == fold(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// As on Windows, a name without a dot also matches as if it ended in one ("*.*" lists "README").
bool MaskMatches(std::string_view mask, const std::string& name) {
  return WildcardMatch(mask, name) || (name.find('.') == std::string::npos && WildcardMatch(mask, name + "."));
}

bool FillFindData(const fs::path& path, const std::string& name, WIN32_FIND_DATA& data) {
  struct stat st;
  if (name.size() >= MAX_PATH || stat(path.c_str(), &st) != 0) return false;
  data = WIN32_FIND_DATA{};
  data.dwFileAttributes = AttributesOf(st);
  data.ftCreationTime = ToFileTime(st.st_mtim);
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  if (S_ISREG(st.st_mode)) {
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data.nFileSizeLow = static_cast<DWORD>(st.st_size);
  }
  memcpy(data.cFileName, name.c_str(), name.size() + 1);
  return true;
}

UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (!buffer || size <= text.size()) return static_cast<UINT>(text.size() + 1);
  memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

std::string MakeWindowsFolder(const std::string& windowsPath) {
  std::error_code ec;
  fs::create_directories(sysroot::MapPath(windowsPath), ec);
  return windowsPath;
}

}  // namespace

void RegisterDevicePathOpener(DevicePathOpener opener) {
  std::lock_guard guard(g_openerLock);
  g_deviceOpener = std::move(opener);
}

}  // namespace tavrin

using namespace tavrin;

HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                  LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                  DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
  if (!lpFileName || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (IsDevicePath(lpFileName)) {
    DevicePathOpener opener;
    {
      std::lock_guard guard(g_openerLock);
      opener = g_deviceOpener;
    }
    if (!opener) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    return opener(lpFileName, dwDesiredAccess);
  }

  const sysroot::Located found = Find(lpFileName);
  const fs::path& target = found.path;
  const struct stat& st = found.status;
  const bool exists = found.exists;
  const bool wantRead = dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
  const bool wantWrite = dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA);
  const bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if ((wantWrite || truncate) && !(st.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
    return Fail(NotFoundError(target), INVALID_HANDLE_VALUE);
  }

  int flags = O_CLOEXEC | ((wantWrite || truncate) ? (wantRead || !wantWrite ? O_RDWR : O_WRONLY) : O_RDONLY);
  if (truncate) flags |= O_TRUNC;
  if (dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != TRUNCATE_EXISTING) flags |= O_CREAT;
  if (dwCreationDisposition == CREATE_NEW) flags |= O_EXCL;
  if ((dwDesiredAccess & FILE_APPEND_DATA) && !(dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)))
    flags |= O_APPEND;
  const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
  int fd = open(target.c_str(), flags, mode);
  if (truncate || !exists) storage::NoteFileChange();
  if (fd < 0) return Fail(errno == ENOENT ? NotFoundError(target) : ErrorFromErrno(errno), INVALID_HANDLE_VALUE);

  const bool reopened = exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return InsertHandle(std::make_shared<FileObject>(fd, wantRead, wantWrite));
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  auto object = LookupHandleAs<IoObject>(hFile);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpBuffer && nNumberOfBytesToRead) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return object->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  auto object = LookupHandleAs<IoObject>(hFile);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpBuffer && nNumberOfBytesToWrite) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return object->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto object = LookupHandleAs<IoObject>(hFile);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return object->Flush();
}

BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD /*dwReserved*/, DWORD /*nNumberOfBytesToLockLow*/,
                DWORD /*nNumberOfBytesToLockHigh*/, LPOVERLAPPED /*lpOverlapped*/) {
  auto file = LookupHandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  int operation = (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) ? LOCK_EX : LOCK_SH;
  if (dwFlags & LOCKFILE_FAIL_IMMEDIATELY) operation |= LOCK_NB;
  // Each CreateFile opens its own description, so two handles of one process exclude each other too.
  while (flock(file->fd(), operation) != 0) {
    if (errno == EINTR) continue;
    return Fail(errno == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno), FALSE);
  }
  return TRUE;
}

BOOL UnlockFileEx(HANDLE hFile, DWORD /*dwReserved*/, DWORD /*nNumberOfBytesToUnlockLow*/,
                  DWORD /*nNumberOfBytesToUnlockHigh*/, LPOVERLAPPED /*lpOverlapped*/) {
  auto file = LookupHandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return flock(file->fd(), LOCK_UN) == 0 ? TRUE : Fail(ErrorFromErrno(errno), FALSE);
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto file = LookupHandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
             : dwMoveMethod == FILE_END   ? SEEK_END : -1;
  if (whence < 0) return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  int64_t distance = lpDistanceToMoveHigh
      ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                             static_cast<uint32_t>(lDistanceToMove))
      : lDistanceToMove;
  off_t position = lseek(file->fd(), distance, whence);
  if (position < 0) return Fail(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  SetLastError(NO_ERROR);  // callers with a high part tell 0xFFFFFFFF from failure by this
  return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = LookupHandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  struct stat st;
  if (fstat(file->fd(), &st) != 0) return Fail(ErrorFromErrno(errno), INVALID_FILE_SIZE);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(st.st_size);
}

namespace {

// Whether a process of this machine runs the file (its /proc/<pid>/exe is the same inode).
bool IsRunningImage(const struct stat& image) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    struct stat running;
    if (stat((entry.path() / "exe").c_str(), &running) == 0 && running.st_dev == image.st_dev &&
        running.st_ino == image.st_ino)
      return true;
  }
  return false;
}

}  // namespace

BOOL DeleteFile(LPCSTR lpFileName) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path target = Map(lpFileName);
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return Fail(NotFoundError(target), FALSE);
  if (S_ISDIR(st.st_mode) || storage::IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  // The image of a running program is in use, as on Windows.
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) && IsRunningImage(st)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (unlink(target.c_str()) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  storage::NoteFileChange();
  return TRUE;
}

BOOL CopyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path source = Map(lpExistingFileName), target = Map(lpNewFileName);
  struct stat from, to;
  if (stat(source.c_str(), &from) != 0) return Fail(NotFoundError(source), FALSE);
  if (S_ISDIR(from.st_mode)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (stat(target.c_str(), &to) == 0) {
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS, FALSE);
    if (S_ISDIR(to.st_mode) || !(to.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  std::error_code ec;
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  storage::NoteFileChange();
  if (ec) return Fail(ec.value() == ENOENT ? NotFoundError(target) : ErrorFromErrno(ec.value()), FALSE);
  chmod(target.c_str(), from.st_mode & 07777);  // the copy carries the source's attributes
  return TRUE;
}

BOOL MoveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileEx(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileEx(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) return Fail(ERROR_NOT_SUPPORTED, FALSE);
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path source = Map(lpExistingFileName);
  fs::path target = Map(lpNewFileName);
  struct stat from, to;
  if (lstat(source.c_str(), &from) != 0) return Fail(NotFoundError(source), FALSE);
  if (lstat(target.c_str(), &to) == 0) {
    if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) {
      // The same file under another spelling: a rename that changes only the letter case.
      std::string_view name = lpNewFileName;
      name = name.substr(name.find_last_of("\\/") == std::string_view::npos ? 0 : name.find_last_of("\\/") + 1);
      target = target.parent_path() / std::string(name);
    } else {
      if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
      if (S_ISDIR(to.st_mode) || !(to.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
  }
  if (rename(source.c_str(), target.c_str()) == 0) {
    storage::NoteFileChange();
    return TRUE;
  }
  if (errno == EXDEV && (dwFlags & MOVEFILE_COPY_ALLOWED) && S_ISREG(from.st_mode)) {
    std::error_code ec;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
    storage::NoteFileChange();
    if (!ec && unlink(source.c_str()) == 0) return TRUE;
    return Fail(ErrorFromErrno(ec ? ec.value() : errno), FALSE);
  }
  return Fail(errno == ENOENT ? NotFoundError(target) : ErrorFromErrno(errno), FALSE);
}

BOOL CreateDirectory(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path target = Map(lpPathName);
  if (mkdir(target.c_str(), 0755) == 0) return TRUE;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS, FALSE);
  return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno), FALSE);
}

BOOL RemoveDirectory(LPCSTR lpPathName) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path target = Map(lpPathName);
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return Fail(NotFoundError(target), FALSE);
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY, FALSE);
  if (rmdir(target.c_str()) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

DWORD GetFileAttributes(LPCSTR lpFileName) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  const fs::path target = Map(lpFileName);
  struct stat st;
  if (stat(target.c_str(), &st) != 0) return Fail(NotFoundError(target), INVALID_FILE_ATTRIBUTES);
  return AttributesOf(st);
}

BOOL SetFileAttributes(LPCSTR lpFileName, DWORD dwFileAttributes) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path target = Map(lpFileName);
  struct stat st;
  if (stat(target.c_str(), &st) != 0) return Fail(NotFoundError(target), FALSE);
  if (!S_ISREG(st.st_mode)) return TRUE;  // a folder's read-only flag means nothing to Windows either
  mode_t mode = st.st_mode & 07777;
  mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (chmod(target.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

HANDLE FindFirstFile(LPCSTR lpFileName, LPWIN32_FIND_DATA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string pattern = StripLongPathPrefix(lpFileName);
  size_t split = pattern.find_last_of("\\/");
  std::string folder = split == std::string::npos ? "" : pattern.substr(0, split + 1);
  std::string mask = split == std::string::npos ? pattern : pattern.substr(split + 1);
  if (split == std::string::npos && HasDrivePrefix(pattern)) {  // "C:name"
    folder = pattern.substr(0, 2);
    mask = pattern.substr(2);
  }
  if (mask.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);

  const fs::path dir = sysroot::MapPath(folder.empty() ? "." : folder);
  DIR* d = opendir(dir.c_str());
  if (!d) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  std::vector<std::string> names;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(d);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return storage::LessNoCase(a, b); });
  std::error_code ec;
  if (!fs::equivalent(dir.parent_path(), sysroot::Root(), ec)) names.insert(names.begin(), {".", ".."});
  auto find = std::make_shared<FindObject>();
  for (const std::string& name : names) {
    WIN32_FIND_DATA data;
    if (MaskMatches(mask, name) && FillFindData(dir / name, name, data)) find->entries.push_back(data);
  }
  if (find->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  *lpFindFileData = find->entries[find->next++];
  return InsertHandle(find);
}

BOOL FindNextFile(HANDLE hFindFile, LPWIN32_FIND_DATA lpFindFileData) {
  auto find = LookupHandleAs<FindObject>(hFindFile);
  if (!find) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  *lpFindFileData = find->entries[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!LookupHandleAs<FindObject>(hFindFile) || !RemoveHandle(hFindFile)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

UINT GetWindowsDirectory(LPSTR lpBuffer, UINT uSize) {
  sysroot::WindowsDir();
  return CopyOut("C:\\WINDOWS", lpBuffer, uSize);
}

UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize) {
  return CopyOut(MakeWindowsFolder("C:\\WINDOWS\\system32"), lpBuffer, uSize);
}

DWORD GetTempPath(DWORD nBufferLength, LPSTR lpBuffer) {
  return CopyOut(MakeWindowsFolder("C:\\WINDOWS\\Temp\\"), lpBuffer, nBufferLength);
}
