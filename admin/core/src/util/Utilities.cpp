#include "admin/util/Utilities.h"

#include "admin/Trace.h"
#include "win32/error_text.h"
#include "win32/user.h"

namespace {

// Wake on every kind of queue input but raw input.
constexpr DWORD kWakeOnAnyMessage = 0xFF;

}  // namespace

int WinsockStart() {
  TraceInfo("Initialising Winsock...\n");
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

int WinsockStop() {
  TraceInfo("WinSock is Cleaning...\n");
  return WSACleanup();
}

void CloseSocket(SOCKET s) {
  if (s == INVALID_SOCKET) return;
  TraceInfo("Closing the socket...\n");
  if (shutdown(s, SD_BOTH) == SOCKET_ERROR) TraceInfo("shutdown() Error - %ld\n", static_cast<long>(WSAGetLastError()));
  closesocket(s);
}

void WaitWithMessageLoop(HANDLE* handles, DWORD count) {
  // Handles still to wait for; a signalled one is dropped by moving the last into its place.
  HANDLE pending[MAXIMUM_WAIT_OBJECTS];
  if (count > MAXIMUM_WAIT_OBJECTS) count = MAXIMUM_WAIT_OBJECTS;
  for (DWORD i = 0; i < count; ++i) pending[i] = handles[i];
  while (count > 0) {
    DWORD result = MsgWaitForMultipleObjects(count, pending, FALSE, INFINITE, kWakeOnAnyMessage);
    if (result == WAIT_OBJECT_0 + count) {
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
    } else if (result < WAIT_OBJECT_0 + count) {
      pending[result - WAIT_OBJECT_0] = pending[count - 1];
      --count;
    } else {
      return;  // a handle that cannot be waited on: waiting on would never end
    }
  }
}

void GetSystemErrorText(DWORD code, CString& out) {
  LPSTR text = nullptr;
  FormatMessage(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  out = text ? text : "";
  LocalFree(text);
}
