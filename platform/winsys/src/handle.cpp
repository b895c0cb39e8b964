#include "win32/handle.h"

#include "win32/sync.h"

BOOL CloseHandle(HANDLE handle) {
  if (!tavrin::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
