// The records and I/O control codes that cross between TavrinAdmin and pelkobus's control device. Every
// record is byte-packed little-endian; its offsets are the interface between the two programs, so each size
// and offset is checked at compile time. Records travel as raw bytes: Load/Store copy them in and out of a
// byte buffer (the host is little-endian, checked below).
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "win32/ioctl.h"

static_assert(std::endian::native == std::endian::little, "records are laid out little-endian");

#pragma pack(push, 1)

// A plug-in or unplug request; the same record, with ArRmStatus set, is the answer.
struct DEVICE_ARRIVALREMOVAL_INFO {
  uint32_t RequestId;         // the sender's slot + 1, echoed in the answer
  uint8_t Taken;              // the sender's own slot flag
  uint32_t Length;            // 64
  uint8_t Arrival;            // 1 plug in, 0 unplug
  uint32_t DeviceInfoLength;  // 42: offsets 10 to 51
  uint8_t AutoConnect;        // printer in auto-connect mode
  uint16_t PortNum;           // unplug: 0 means every device of the server
  uint8_t Class;
  uint8_t SubClass;
  uint8_t Protocol;
  uint16_t Rev;
  uint16_t Pid;
  uint16_t Vid;
  uint32_t TotalSize;       // bytes of the identifier block
  uint32_t HardwareIdSize;  // bytes of the hardware-ID multi-string at the start of the block
  uint64_t Ids;             // address of the identifier block in the sender's memory
  uint32_t ServerId;
  uint32_t ServerIp;  // network byte order
  uint16_t DataPort;  // network byte order
  uint32_t ArRmStatus;
  uint64_t UserHandle;  // the driver's opaque handle of the child
};
using PDEVICE_ARRIVALREMOVAL_INFO = DEVICE_ARRIVALREMOVAL_INFO*;

// One child device in the answer of IOCTL_BUS_GET_DEVCOUNT (after a u32 count).
struct BUS_DEVICE_INFO {
  uint32_t IP;  // network byte order
  uint16_t Port;
  uint16_t Rev;
  uint16_t Pid;
  uint16_t Vid;
  uint32_t Status;
  uint32_t PnPStatus;
  uint32_t ConnState;  // BUS_CONN_*
};
using PBUS_DEVICE_INFO = BUS_DEVICE_INFO*;

// The state of a child's server connection, as BUS_DEVICE_INFO reports it.
enum : uint32_t { BUS_CONN_DISCONNECTED = 0, BUS_CONN_CONNECTING = 1, BUS_CONN_CONNECTED = 2, BUS_CONN_DISCONNECTING = 3 };

struct BUS_PNP_NOTIFICATION {
  uint8_t IsBusDevice;
  uint32_t PortNum;
  uint8_t Reserved1[4];
  uint32_t ServerIp;  // network byte order
  uint32_t EventCode;
  uint64_t BusDevice;
  uint64_t ChildDevice;
  uint8_t Reserved2[4];
};

// Input of IOCTL_BUS_SETRESET_PNPEVENT.
struct BUS_PNP_EVENT_REGISTRATION {
  uint8_t Register;  // 1 register, 0 release
  uint64_t Event;
};

#pragma pack(pop)

static_assert(sizeof(DEVICE_ARRIVALREMOVAL_INFO) == 64);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, Length) == 5);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, Arrival) == 9);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, AutoConnect) == 14);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, PortNum) == 15);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, Rev) == 20);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, TotalSize) == 26);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, Ids) == 34);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, ServerId) == 42);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, ServerIp) == 46);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, DataPort) == 50);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, ArRmStatus) == 52);
static_assert(offsetof(DEVICE_ARRIVALREMOVAL_INFO, UserHandle) == 56);
static_assert(sizeof(BUS_DEVICE_INFO) == 24);
static_assert(offsetof(BUS_DEVICE_INFO, Status) == 12);
static_assert(sizeof(BUS_PNP_NOTIFICATION) == 37);
static_assert(offsetof(BUS_PNP_NOTIFICATION, ServerIp) == 9);
static_assert(offsetof(BUS_PNP_NOTIFICATION, BusDevice) == 17);
static_assert(offsetof(BUS_PNP_NOTIFICATION, ChildDevice) == 25);
static_assert(sizeof(BUS_PNP_EVENT_REGISTRATION) == 9);

// Status bits of ArRmStatus (the driver replaces the word; only ARRM_STATUS_MORE is ORed in).
constexpr uint32_t ARRM_STATUS_SUCCESS = 0x01;
constexpr uint32_t ARRM_STATUS_FAILED = 0x02;
constexpr uint32_t ARRM_STATUS_ALREADY_PRESENT = 0x04;
constexpr uint32_t ARRM_STATUS_NOT_PRESENT = 0x08;
constexpr uint32_t ARRM_STATUS_PENDING = 0x10;
constexpr uint32_t ARRM_STATUS_SERVER_NOT_FOUND = 0x20;
constexpr uint32_t ARRM_STATUS_MORE = 0x80;

constexpr uint32_t DEVICE_ARRIVALREMOVAL_INFO_LENGTH = sizeof(DEVICE_ARRIVALREMOVAL_INFO);
constexpr uint32_t DEVICE_INFO_LENGTH = 42;  // the device part, offsets 10 to 51

// The control device's interface class {781EF630-72B2-11D2-B852-00C04FAD5171}.
DEFINE_GUID(GUID_DEVINTERFACE_BUSDRIVER, 0x781EF630, 0x72B2, 0x11D2, 0xB8, 0x52, 0x00, 0xC0, 0x4F, 0xAD, 0x51,
            0x71);

constexpr DWORD IOCTL_BUS_DEVICE_ARRIVALREMOVAL = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF0, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_GETSTATUS = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF1, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_SET_SHARED_EVENT = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF2, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_SETRESET_PNPEVENT = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF3, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_GET_PNPNOTIFICATION = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF4, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_REDIR_READ = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF5, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_REDIR_WRITE = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF6, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_CANCEL_PENDING_REQUESTS = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF7, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_BUS_GET_DEVCOUNT = CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF8, METHOD_BUFFERED, FILE_READ_ACCESS);
static_assert(IOCTL_BUS_DEVICE_ARRIVALREMOVAL == 0x2A43C0);
static_assert(IOCTL_BUS_GET_DEVCOUNT == 0x2A43E0);

namespace pelkobus {

// Copies a record out of / into a byte buffer (the caller checks the buffer's length).
template <class Record>
Record Load(const void* bytes) {
  Record r;
  std::memcpy(&r, bytes, sizeof r);
  return r;
}
template <class Record>
void Store(void* bytes, const Record& r) {
  std::memcpy(bytes, &r, sizeof r);
}

}  // namespace pelkobus
