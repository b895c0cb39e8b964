#include "win32/error_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "win32/sync.h"
#include "win32/winsock.h"

namespace {

struct ErrorText {
  DWORD code;
  const char* text;
};

// The codes the programs meet; each text ends with CR LF, as system message texts do.
constexpr ErrorText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command.\r\n"},
    {ERROR_NO_MORE_FILES, "There are no more files.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
    {ERROR_NOT_FOUND, "Element not found.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {WSAETIMEDOUT, "A connection attempt failed because the connected party did not properly respond after a "
                   "period of time.\r\n"},
    {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it.\r\n"},
    {WSAECONNRESET, "An existing connection was forcibly closed by the remote host.\r\n"},
};

}  // namespace

HLOCAL LocalAlloc(UINT, size_t uBytes) { return calloc(1, uBytes ? uBytes : 1); }

HLOCAL LocalFree(HLOCAL hMem) {
  free(hMem);
  return nullptr;
}

DWORD FormatMessage(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize, va_list*) {
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = nullptr;
  for (const auto& entry : kTexts)
    if (entry.code == dwMessageId) text = entry.text;
  if (!text) {
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND: no text for that code
    return 0;
  }
  size_t length = strlen(text);
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    auto* copy = static_cast<char*>(LocalAlloc(0, length + 1));
    if (!copy) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    memcpy(copy, text, length + 1);
    *reinterpret_cast<LPSTR*>(lpBuffer) = copy;
  } else {
    if (nSize <= length) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    memcpy(lpBuffer, text, length + 1);
  }
  return static_cast<DWORD>(length);
}
