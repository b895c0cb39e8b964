// The thread that asks a server for the product string of a newly listed USB device.
#pragma once
#include "admin/comm/DocServices.h"
#include "win32/types.h"
#include "win32/winsock.h"

// Told of the socket a fetch waits on, so that whoever may stop the fetch can wake it (shut it down).
class FetchWatch {
 public:
  virtual ~FetchWatch() = default;
  // The fetch is about to use the socket; FALSE when it must not go on (it is being stopped).
  virtual bool Begin(SOCKET socket) = 0;
  // The fetch is done with the socket; after this it is closed.
  virtual void End(SOCKET socket) = 0;
};

// Thread routine. Its argument is a copy of the device's entry made with `new` (server address text, port,
// vendor, product, release), which the thread deletes. Works on the application's document; exit code:
// the result code of the last try, 100 when nothing was tried.
DWORD WINAPI GetIProdStringDescTh(LPVOID device);

// The thread routine's body, on the calling thread, over the document's device list, its lock and its
// device-mapping stop flag (which ends a receive under way), and the watch that may stop it (or null).
DWORD FetchProductString(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped,
                         const DeviceEntry& device, FetchWatch* watch = nullptr);
