#include "win32/security.h"

#include <strings.h>
#include <mutex>
#include <vector>

#include "win32/sync.h"

namespace {

std::mutex g_requestLock;
std::vector<tavrin::shutdown::Request> g_requests;

// The pseudo handle of the calling process, as Windows gives it.
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

}  // namespace

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
  if (token) *token = nullptr;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

BOOL LookupPrivilegeValue(LPCSTR, LPCSTR name, LUID* luid) {
  if (!name || !luid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The one privilege the programs ask for; Windows numbers it 19.
  if (strcasecmp(name, "SeShutdownPrivilege") != 0) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  *luid = {19, 0};
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD, TOKEN_PRIVILEGES*, DWORD* returnLength) {
  if (returnLength) *returnLength = 0;
  SetLastError(ERROR_INVALID_HANDLE);  // no token can be opened, so none can be adjusted
  return FALSE;
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  std::lock_guard hold(g_requestLock);
  g_requests.push_back({flags, reason});
  return TRUE;
}

namespace tavrin::shutdown {

int RequestCount() {
  std::lock_guard hold(g_requestLock);
  return static_cast<int>(g_requests.size());
}

Request LastRequest() {
  std::lock_guard hold(g_requestLock);
  return g_requests.empty() ? Request{0, 0} : g_requests.back();
}

}  // namespace tavrin::shutdown
