// The interface of the outside bus enumerator as TavrinAdmin and the enumerator share it: its device
// interface class, its three I/O controls and the server arrival/removal record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pelkobus/records.h"

#pragma pack(push, 1)

// One server's arrival or removal; the same record, with Status set, is the answer.
struct SERVER_ARRIVALREMOVAL_INFO {
  uint32_t RequestId;  // slot + 1; 0xFFFFFFFF for the special server
  uint8_t Taken;
  uint32_t Length;  // 24
  uint8_t Arrival;  // 1 arrived, 0 left
  uint32_t ServerId;
  uint32_t ServerIp;  // network byte order; 0 for the special server
  uint16_t DataPort;  // host byte order
  uint32_t Status;    // ARRM_STATUS_* bits
};
using PSERVER_ARRIVALREMOVAL_INFO = SERVER_ARRIVALREMOVAL_INFO*;

#pragma pack(pop)

static_assert(sizeof(SERVER_ARRIVALREMOVAL_INFO) == 24);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, Length) == 5);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, Arrival) == 9);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, ServerId) == 10);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, ServerIp) == 14);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, DataPort) == 18);
static_assert(offsetof(SERVER_ARRIVALREMOVAL_INFO, Status) == 20);

constexpr uint32_t SERVER_ARRIVALREMOVAL_INFO_LENGTH = sizeof(SERVER_ARRIVALREMOVAL_INFO);
constexpr uint32_t SPECIAL_SERVER_REQUEST_ID = 0xFFFFFFFF;

// {D35F7840-6A0C-11D2-B841-00C04FAD5171}
DEFINE_GUID(GUID_DEVINTERFACE_BUSENUM, 0xD35F7840, 0x6A0C, 0x11D2, 0xB8, 0x41, 0x00, 0xC0, 0x4F, 0xAD, 0x51, 0x71);

constexpr DWORD IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0x000, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUSENUM_GETSTATUS = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0x001, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUSENUM_SET_SHARED_EVENT = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0x002, METHOD_BUFFERED, FILE_READ_ACCESS);
static_assert(IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL == 0x2A4000);
static_assert(IOCTL_BUSENUM_GETSTATUS == 0x2A4004);
static_assert(IOCTL_BUSENUM_SET_SHARED_EVENT == 0x2A4008);

// The hardware ID of each server's device node, and the head of that node's device extension.
inline constexpr char VIRTUAL_USB_HARDWARE_ID[] = "{B85B7C50-6A01-11d2-B841-00C04FAD5171}\\VirtualUsb";
struct BUSENUM_CHILD_EXTENSION_HEAD {
  uint32_t Identifier;  // the enumerator's own number for the node
  uint32_t ServerIp;    // network byte order; 0 for the special server
};
