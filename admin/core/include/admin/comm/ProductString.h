// The thread that asks a server for the product string of a newly listed USB device.
#pragma once
#include "admin/comm/DocServices.h"
#include "win32/types.h"

// Thread routine. Its argument is a copy of the device's entry made with `new` (server address text, port,
// vendor, product, release), which the thread deletes. Works on the application's document; exit code:
// the result code of the last try, 100 when nothing was tried.
DWORD WINAPI GetIProdStringDescTh(LPVOID device);

// The thread routine's body, on the calling thread, over the document's device list, its lock and its
// device-mapping stop flag.
DWORD FetchProductString(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped,
                         const DeviceEntry& device);
