// Device-interface enumeration: find the present interfaces of a class in the kernel host and get the
// path that CreateFile opens.
#pragma once
#include "win32/ioctl.h"
#include "win32/types.h"

using HDEVINFO = PVOID;
using PCSTR = const char*;
using PSTR = char*;
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

// ---- Device nodes and driver installation ------------------------------------------------------------------
// The machine's device nodes live in a store in the sysroot (win32/devices/device_nodes.h) that the kernel
// host reads at start and on request. A set made by SetupDiCreateDeviceInfoList or SetupDiGetClassDevsEx
// (without DIGCF_DEVICEINTERFACE) holds nodes of that store and of the running kernel host.

constexpr DWORD DICD_GENERATE_ID = 0x00000001;

constexpr DWORD SPDRP_DEVICEDESC = 0x00000000;
constexpr DWORD SPDRP_HARDWAREID = 0x00000001;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x00000002;
constexpr DWORD SPDRP_SERVICE = 0x00000004;
constexpr DWORD SPDRP_CLASS = 0x00000007;

using DI_FUNCTION = UINT;
constexpr DI_FUNCTION DIF_REMOVE = 0x05;
constexpr DI_FUNCTION DIF_REGISTERDEVICE = 0x19;

constexpr DWORD DI_REMOVEDEVICE_GLOBAL = 0x00000001;
constexpr DWORD DI_NEEDRESTART = 0x00000080;
constexpr DWORD DI_NEEDREBOOT = 0x00000100;

constexpr DWORD SPOST_NONE = 0;
constexpr DWORD SPOST_PATH = 1;

constexpr DWORD INSTALLFLAG_FORCE = 0x00000001;
constexpr DWORD ERROR_INVALID_DATA = 13;

constexpr DWORD CR_SUCCESS = 0;
constexpr DWORD CR_INVALID_DEVNODE = 5;
constexpr DWORD CR_BUFFER_SMALL = 0x1A;

constexpr DWORD ERROR_INVALID_CLASS = 0xE0000209;
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
constexpr DWORD ERROR_NO_DEVICE_SELECTED = 0xE0000211;
constexpr DWORD ERROR_DEVINST_ALREADY_EXISTS = 0xE0000207;
constexpr DWORD ERROR_NO_DRIVER_SELECTED = 0xE0000203;
constexpr DWORD ERROR_NO_SUCH_DEVICE_INTERFACE = 0xE0000225;

struct SP_CLASSINSTALL_HEADER {
  DWORD cbSize;
  DI_FUNCTION InstallFunction;
};
struct SP_REMOVEDEVICE_PARAMS {
  SP_CLASSINSTALL_HEADER ClassInstallHeader;
  DWORD Scope;
  DWORD HwProfile;
};
struct SP_DEVINSTALL_PARAMS {
  DWORD cbSize;
  DWORD Flags;
  DWORD FlagsEx;
  HWND hwndParent;
  PVOID InstallMsgHandler;
  PVOID InstallMsgHandlerContext;
  PVOID FileQueue;
  ULONG_PTR ClassInstallReserved;
  DWORD Reserved;
  CHAR DriverPath[MAX_PATH];
};
struct SP_DEVINFO_LIST_DETAIL_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  HANDLE RemoteMachineHandle;
  CHAR RemoteMachineName[263];
};

// Reads Class and ClassGuid of the INF's [Version] section (ERROR_INVALID_CLASS without them).
BOOL SetupDiGetINFClass(PCSTR InfName, GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize, PDWORD RequiredSize);
HDEVINFO SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent);
// With DICD_GENERATE_ID the name is a device name: the node gets "ROOT\<NAME>\nnnn", the first number
// free in the store. The node exists only in the set until DIF_REGISTERDEVICE.
BOOL SetupDiCreateDeviceInfo(HDEVINFO DeviceInfoSet, PCSTR DeviceName, const GUID* ClassGuid, PCSTR DeviceDescription,
                             HWND hwndParent, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData);
// Without DIGCF_DEVICEINTERFACE: the nodes of the class (every class with DIGCF_ALLCLASSES); only present ones
// with DIGCF_PRESENT.
HDEVINFO SetupDiGetClassDevsEx(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags,
                               HDEVINFO DeviceInfoSet, PCSTR MachineName, PVOID Reserved);
BOOL SetupDiOpenDeviceInfo(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
                           PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiClassGuidsFromNameEx(PCSTR ClassName, GUID* ClassGuidList, DWORD ClassGuidListSize, PDWORD RequiredSize,
                                 PCSTR MachineName, PVOID Reserved);
BOOL SetupDiGetDeviceInfoListDetail(HDEVINFO DeviceInfoSet, SP_DEVINFO_LIST_DETAIL_DATA* DeviceInfoSetDetailData);
BOOL SetupDiSetDeviceRegistryProperty(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                      const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
// Multi-strings for the id lists (ERROR_INSUFFICIENT_BUFFER with the size needed), strings for the rest.
BOOL SetupDiGetDeviceRegistryProperty(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                      PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                      PDWORD RequiredSize);
BOOL SetupDiSetClassInstallParams(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                  SP_CLASSINSTALL_HEADER* ClassInstallParams, DWORD ClassInstallParamsSize);
// DIF_REGISTERDEVICE writes the node into the store (a phantom until a driver is installed on it);
// DIF_REMOVE takes it out and asks the kernel host to remove it. A node with open handles stays until the
// kernel host's next start: the device's install parameters then carry DI_NEEDRESTART.
BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceInstallParams(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   SP_DEVINSTALL_PARAMS* DeviceInstallParams);
DWORD CM_Get_Device_ID_Ex(DWORD dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags, HANDLE hMachine);

// Copies the INF into <Windows>\inf as the next free oemN.inf (or finds the copy already there), with a
// precompiled oemN.PNF beside it; DestinationInfFileName gets the copy's path.
BOOL SetupCopyOEMInf(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType, DWORD CopyStyle,
                     PSTR DestinationInfFileName, DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                     PSTR* DestinationInfFileNameComponent);
// newdev.dll: installs the INF's driver on every node with the hardware id: the INF goes into <Windows>\inf,
// the service key (with Parameters) is made, the driver file is copied into System32\drivers and the kernel
// host is asked to load it. With no kernel host running, *bRebootRequired is set. ERROR_NO_SUCH_DEVINST when
// no node has the id; ERROR_NO_DRIVER_SELECTED when the INF does not name it.
BOOL UpdateDriverForPlugAndPlayDevices(HWND hwndParent, PCSTR HardwareId, PCSTR FullInfPath, DWORD InstallFlags,
                                       BOOL* bRebootRequired);
