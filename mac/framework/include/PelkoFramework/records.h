// The records PelkoFramework shares with the application, the Mac kernel driver and the servers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "zarnet/device_list.h"

using zarnet::__dev_info__;

#pragma pack(push, 1)
// A server's device-list datagram as received: total length, change counter, then the entries.
struct pelko_dev_info {
  uint32_t infolen;
  uint32_t serialNumber;
  __dev_info__ dev[199];
};

// The device part of a driver request: __dev_info__ less numINT.
struct devReqDeviceInfo {
  uint8_t cid[3];
  uint16_t rev;
  uint16_t pid;
  uint16_t vid;
  uint8_t b_f;
  int16_t portnum;
  uint8_t speed;
};

// The start of the 108-byte block that the request selector of the Mac kernel driver reads.
struct devReqStruct {
  int32_t ReqType;  // 1 connect, 0 disconnect
  int32_t reserved;
  int32_t Index;    // driver slot, 1 to 14
  char ip[16];      // the server's address text, NUL-terminated
  devReqDeviceInfo device_info;
};
#pragma pack(pop)

// The driver's reply area.
struct MySampleStruct {
  uint16_t int16;
  uint32_t int32;
  char string[100];
};

static_assert(sizeof(pelko_dev_info) == 2794);
static_assert(sizeof(devReqDeviceInfo) == 13);
static_assert(sizeof(devReqStruct) == 41);
static_assert(offsetof(devReqStruct, ip) == 12 && offsetof(devReqStruct, device_info) == 28);
static_assert(sizeof(MySampleStruct) == 108);

inline constexpr uint32_t kDriverRequestSize = 108;  // the block the request selector reads
inline constexpr int kDeviceListBufferSize = 2794;   // Sockets_Obj's receive buffer

// Whole __dev_info__ entries of a received device list: those that its infolen names, that arrived and
// that fit the receive buffer; 0 for fewer than 8 bytes or an infolen below 8.
int DeviceListEntryCount(const void* datagram, long received);
