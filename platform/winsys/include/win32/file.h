// Files, folders and the Windows directory. Windows-form paths ("C:\\WINDOWS\\x.log", "\\x", relative names)
// are mapped into the sysroot (win32/sysroot.h). File handles live in the process's handle table.
#pragma once
#include <functional>
#include <string>

#include "wincommon/access.h"
#include "win32/handle.h"
#include "win32/sync.h"
#include "win32/types.h"

// Access rights and share modes: wincommon/access.h.

// Creation dispositions.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Attributes: wincommon/access.h.

constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

// SetFilePointer.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

// MoveFileEx.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

struct WIN32_FIND_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using PWIN32_FIND_DATA = WIN32_FIND_DATA*;
using LPWIN32_FIND_DATA = WIN32_FIND_DATA*;

HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                  DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// With an OVERLAPPED, a file is read or written at its offset; the call completes at once and sets hEvent.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL FlushFileBuffers(HANDLE hFile);

// LockFileEx: only whole-file locks are kept (the byte range is accepted and not looked at); an exclusive
// lock excludes every other lock on the file, in this process (another handle) and in others. The call
// waits unless LOCKFILE_FAIL_IMMEDIATELY is given (then ERROR_LOCK_VIOLATION).
constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;
BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped);
BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh,
                  LPOVERLAPPED lpOverlapped);

BOOL DeleteFile(LPCSTR lpFileName);
BOOL CopyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL MoveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
// MOVEFILE_DELAY_UNTIL_REBOOT is refused (ERROR_NOT_SUPPORTED): nothing here ever reboots.
BOOL MoveFileEx(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
BOOL CreateDirectory(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL RemoveDirectory(LPCSTR lpPathName);
DWORD GetFileAttributes(LPCSTR lpFileName);
BOOL SetFileAttributes(LPCSTR lpFileName, DWORD dwFileAttributes);

// Wildcards * and ?, case-insensitive; "*.*" also matches names without a dot. "." and ".." are listed
// for folders other than a drive's root, as Windows does.
HANDLE FindFirstFile(LPCSTR lpFileName, LPWIN32_FIND_DATA lpFindFileData);
BOOL FindNextFile(HANDLE hFindFile, LPWIN32_FIND_DATA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// "C:\\WINDOWS", "C:\\WINDOWS\\system32", "C:\\WINDOWS\\Temp\\" (each created on use). The result's length
// without the NUL, or the size needed with the NUL when the buffer is too small.
UINT GetWindowsDirectory(LPSTR lpBuffer, UINT uSize);
UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize);
DWORD GetTempPath(DWORD nBufferLength, LPSTR lpBuffer);

namespace tavrin {

// A handle that ReadFile, WriteFile and FlushFileBuffers can serve besides plain files: device layers
// derive from it. Each call sets the last error itself when it fails.
class IoObject : public KernelObject {
 public:
  virtual BOOL Read(void* buffer, DWORD size, DWORD* done, OVERLAPPED* overlapped) = 0;
  virtual BOOL Write(const void* buffer, DWORD size, DWORD* done, OVERLAPPED* overlapped) = 0;
  virtual BOOL Flush() { return TRUE; }
};

// CreateFile hands "\\\\.\\name" and "\\\\?\\name" device paths (all but "\\\\?\\C:\\..." file paths) to
// this opener; it answers a handle or INVALID_HANDLE_VALUE with the last error set. Without one, such
// paths fail with ERROR_FILE_NOT_FOUND. A null function removes the opener.
using DevicePathOpener = std::function<HANDLE(const std::string& path, DWORD access)>;
void RegisterDevicePathOpener(DevicePathOpener opener);

}  // namespace tavrin
