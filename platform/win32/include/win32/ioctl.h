// Device I/O: GUIDs, I/O control codes, DeviceIoControl and device-interface notifications
// (RegisterDeviceNotification -> WM_DEVICECHANGE). Devices live in the kernel host; see win32/setupapi.h
// for finding them and CreateFile for opening one by its interface path.
#pragma once
#include <cstdint>
#include <string>

#include "win32/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;
using REFGUID = const GUID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// Defines a named GUID constant.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace tavrin {
// "{D35F7840-6A0C-11D2-B841-00C04FAD5171}" (upper-case hex, with braces).
std::string GuidToString(const GUID& guid);
// Parses the braced form (either case); false when the text is not one.
bool ParseGuid(const std::string& text, GUID* guid);
}  // namespace tavrin

// I/O control codes.
using DEVICE_TYPE = ULONG;
constexpr DWORD CTL_CODE(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr DWORD METHOD_BUFFERED = 0;
constexpr DWORD METHOD_IN_DIRECT = 1;
constexpr DWORD METHOD_OUT_DIRECT = 2;
constexpr DWORD METHOD_NEITHER = 3;
constexpr DWORD FILE_ANY_ACCESS = 0;
constexpr DWORD FILE_READ_ACCESS = 1;
constexpr DWORD FILE_WRITE_ACCESS = 2;
constexpr DEVICE_TYPE FILE_DEVICE_BUS_EXTENDER = 0x2A;
constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x22;
constexpr DWORD METHOD_FROM_CTL_CODE(DWORD code) { return code & 3; }

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
