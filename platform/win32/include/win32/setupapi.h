// Device-interface enumeration: find the present interfaces of a class in the kernel host and get the
// path that CreateFile opens.
#pragma once
#include "win32/ioctl.h"
#include "win32/types.h"

using HDEVINFO = PVOID;
using PCSTR = const char*;
using PDWORD = DWORD*;

constexpr DWORD DIGCF_DEFAULT = 0x00000001;
constexpr DWORD DIGCF_PRESENT = 0x00000002;
constexpr DWORD DIGCF_ALLCLASSES = 0x00000004;
constexpr DWORD DIGCF_PROFILE = 0x00000008;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010;

constexpr DWORD SPINT_ACTIVE = 0x00000001;

struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);

struct SP_DEVICE_INTERFACE_DETAIL_DATA {
  DWORD cbSize;  // sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA), 8; the record is allocated longer
  CHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA = SP_DEVICE_INTERFACE_DETAIL_DATA*;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA) == 8);

// With DIGCF_DEVICEINTERFACE: the interfaces of the class (only enabled ones with DIGCF_PRESENT). Without a
// kernel host the set is empty. INVALID_HANDLE_VALUE on bad arguments.
HDEVINFO SetupDiGetClassDevs(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
BOOL SetupDiGetDeviceInterfaceDetail(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA DeviceInterfaceDetailData,
                                     DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                     PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
