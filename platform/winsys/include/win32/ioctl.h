// Device I/O: GUIDs, I/O control codes, DeviceIoControl and device-interface notifications
// (RegisterDeviceNotification -> WM_DEVICECHANGE). Devices live in the kernel host; see win32/setupapi.h
// for finding them and CreateFile for opening one by its interface path.
#pragma once
#include "wincommon/guid.h"
#include "wincommon/ioctl.h"
#include "win32/types.h"

// Sends an I/O control to a device opened with CreateFile. Synchronous only (lpOverlapped must be null).
// On failure *lpBytesReturned still holds the count the driver reported (e.g. the size it needs).
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

// Device-change notifications.
using HDEVNOTIFY = PVOID;
using PHDEVNOTIFY = HDEVNOTIFY*;

constexpr DWORD DBT_DEVICEARRIVAL = 0x8000;
constexpr DWORD DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 0x00000005;
constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0x00000000;
constexpr DWORD DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 0x00000004;

struct DEV_BROADCAST_HDR {
  DWORD dbch_size;
  DWORD dbch_devicetype;
  DWORD dbch_reserved;
};
using PDEV_BROADCAST_HDR = DEV_BROADCAST_HDR*;

struct DEV_BROADCAST_DEVICEINTERFACE {
  DWORD dbcc_size;
  DWORD dbcc_devicetype;
  DWORD dbcc_reserved;
  GUID dbcc_classguid;
  char dbcc_name[1];  // the interface path, NUL-terminated; the record is allocated longer
};
using PDEV_BROADCAST_DEVICEINTERFACE = DEV_BROADCAST_DEVICEINTERFACE*;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE) == 32);

// Asks for WM_DEVICECHANGE (posted to hRecipient, lParam a DEV_BROADCAST_DEVICEINTERFACE that stays valid
// for the next 64 notices of the process) when an interface of the filter's class arrives or leaves; with
// DEVICE_NOTIFY_ALL_INTERFACE_CLASSES for every class. Null on failure (also when no kernel host runs).
HDEVNOTIFY RegisterDeviceNotification(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle);
