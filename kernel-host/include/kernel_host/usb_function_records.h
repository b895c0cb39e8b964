// What user programs and tests say to the usbfunc function driver through its device interface: one
// record a request, byte-packed little-endian, over DeviceIoControl (METHOD_BUFFERED).
#pragma once
#include <cstddef>
#include <cstdint>

#include "wincommon/ioctl.h"

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
// Count bulk or interrupt URBs on one pipe, QueueDepth of them in flight at a time. In: USBFUNC_STREAM
// then, for OUT, the data (URB i takes bytes i * Length on). Out: USBFUNC_STREAM_RESULT then, for IN, the
// data read in URB order as far as the output has room.
constexpr DWORD IOCTL_USBFUNC_STREAM = CTL_CODE(kUsbFuncDeviceType, 0x904, METHOD_BUFFERED, FILE_ANY_ACCESS);
// One isochronous URB. In: USBFUNC_ISOCH then, for OUT, Packets * PacketSize bytes. Out: USBFUNC_RESULT,
// Packets USBFUNC_ISO_PACKET records, then for IN the buffer (packet i at i * PacketSize).
constexpr DWORD IOCTL_USBFUNC_ISOCH = CTL_CODE(kUsbFuncDeviceType, 0x905, METHOD_BUFFERED, FILE_ANY_ACCESS);
// Selects an alternate setting of an interface; its pipes replace the old ones. In: USBFUNC_SELECT.
// Out: USBFUNC_RESULT.
constexpr DWORD IOCTL_USBFUNC_SELECT_INTERFACE = CTL_CODE(kUsbFuncDeviceType, 0x906, METHOD_BUFFERED, FILE_ANY_ACCESS);

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
struct USBFUNC_STREAM {
  uint8_t Endpoint;
  uint8_t Reserved[3];
  uint32_t Length;      // bytes of each URB (for OUT the last one takes what is left)
  uint32_t Count;       // URBs to read (an OUT stream has as many as its data needs)
  uint32_t QueueDepth;  // 1..64
  uint32_t TimeoutMs;   // 0: none; else URBs still running then are cancelled
};
struct USBFUNC_STREAM_RESULT {
  int32_t IrpStatus;  // of the first URB that failed, else 0
  int32_t UrbStatus;
  uint32_t Completed;  // URBs that succeeded
  uint32_t Failed;     // URBs that completed with an error (each once)
  uint32_t Actual;     // bytes transferred
  uint32_t Returned;   // bytes of IN data that follow
};
struct USBFUNC_ISOCH {
  uint8_t Endpoint;
  uint8_t Reserved[3];
  uint32_t Packets;     // 1..256
  uint32_t PacketSize;
};
struct USBFUNC_ISO_PACKET {
  uint32_t Length;  // bytes the packet carried (an isochronous result's Actual is their sum)
  int32_t Status;
};
struct USBFUNC_SELECT {
  uint8_t Interface;
  uint8_t AlternateSetting;
  uint8_t Reserved[2];
};
#pragma pack(pop)
static_assert(sizeof(USBFUNC_TRANSFER) == 16);
static_assert(sizeof(USBFUNC_RESULT) == 16);
static_assert(sizeof(USBFUNC_STREAM) == 20);
static_assert(sizeof(USBFUNC_STREAM_RESULT) == 24);
static_assert(sizeof(USBFUNC_ISOCH) == 12);
static_assert(sizeof(USBFUNC_ISO_PACKET) == 8);
static_assert(sizeof(USBFUNC_SELECT) == 4);
