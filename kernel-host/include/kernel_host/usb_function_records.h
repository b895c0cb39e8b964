// What user programs and tests say to the usbfunc function driver through its device interface: one
// record a request, byte-packed little-endian, over DeviceIoControl (METHOD_BUFFERED).
#pragma once
#include <cstddef>
#include <cstdint>

#include "win32/ioctl.h"

// {6C1E3A52-9D4B-4F07-8E21-5A0B7C3D9F14}
DEFINE_GUID(GUID_DEVINTERFACE_USBFUNC, 0x6C1E3A52, 0x9D4B, 0x4F07, 0x8E, 0x21, 0x5A, 0x0B, 0x7C, 0x3D, 0x9F, 0x14);

constexpr DWORD kUsbFuncDeviceType = 0x8888;
// Out: the device descriptor (18 bytes) then the selected configuration's descriptors.
constexpr DWORD IOCTL_USBFUNC_GET_DESCRIPTORS = CTL_CODE(kUsbFuncDeviceType, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS);
// In: USBFUNC_TRANSFER then, for OUT, its data. Out: USBFUNC_RESULT then, for IN, the data read.
constexpr DWORD IOCTL_USBFUNC_TRANSFER = CTL_CODE(kUsbFuncDeviceType, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS);
// In: USBFUNC_TRANSFER (endpoint only). Out: USBFUNC_RESULT.
constexpr DWORD IOCTL_USBFUNC_RESET_PIPE = CTL_CODE(kUsbFuncDeviceType, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_USBFUNC_ABORT_PIPE = CTL_CODE(kUsbFuncDeviceType, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS);

#pragma pack(push, 1)
struct USBFUNC_TRANSFER {
  uint8_t Endpoint;  // bEndpointAddress; 0: a control transfer with Setup
  uint8_t Reserved[3];
  uint32_t Length;   // bytes to read, or bytes of OUT data that follow
  uint8_t Setup[8];  // control transfers only; direction from bit 7 of its first byte
};
struct USBFUNC_RESULT {
  int32_t IrpStatus;
  int32_t UrbStatus;
  uint32_t Actual;  // bytes transferred
  uint32_t Reserved;
};
#pragma pack(pop)
static_assert(sizeof(USBFUNC_TRANSFER) == 16);
static_assert(sizeof(USBFUNC_RESULT) == 16);
