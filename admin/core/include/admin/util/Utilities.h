// Small free functions that many parts of the program use: Windows Sockets start and stop, closing a
// socket, waiting while dispatching window messages, the byte-pattern search and the USB vendor names.
#pragma once
#include "admin/util/FindPattern.h"
#include "admin/util/UsbVendors.h"
#include "mfc/string.h"
#include "win32/types.h"
#include "win32/winsock.h"

// WSAStartup(2.2); its result.
int WinsockStart();
// WSACleanup; its result.
int WinsockStop();
// Nothing for INVALID_SOCKET; else shut down both ways and close. A thread blocked in a receive on the
// socket must have been woken (shutdown) and be done with it first. The caller sets its own copy to
// INVALID_SOCKET.
void CloseSocket(SOCKET s);
// Waits until every handle is signalled, dispatching the calling thread's window messages meanwhile.
void WaitWithMessageLoop(HANDLE* handles, DWORD count);
// The system's text of an error code (empty when it has none).
void GetSystemErrorText(DWORD code, CString& out);
