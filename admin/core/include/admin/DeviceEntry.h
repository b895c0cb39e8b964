// DeviceEntry: one USB device of one server as the document's device list keeps it. A plain record,
// copied in and out whole under the device list's lock.
#pragma once
#include "win32/types.h"

// DeviceEntry::State
constexpr DWORD DEVICE_STATE_CONNECT_REQUESTED = 0;     // "Loading..."
constexpr DWORD DEVICE_STATE_CONNECTED = 1;
constexpr DWORD DEVICE_STATE_DISCONNECT_REQUESTED = 2;  // "Unloading..."
constexpr DWORD DEVICE_STATE_DISCONNECTED = 3;
constexpr DWORD DEVICE_STATE_FREE = 4;                  // never connected; a new entry's state

struct DeviceEntry {
  char ServerIp[28];           // dotted address text of the server that broadcast the device
  DWORD SeenCount;             // broadcasts that listed the device since the last refresh
  DWORD State;                 // DEVICE_STATE_*
  DWORD ConnectionLost;        // 1 when a connected device's busy flag dropped
  DWORD ServerId;              // server identifier of the datagram that last listed the device
  BYTE Class;
  BYTE SubClass;
  BYTE Protocol;
  WORD Rev;
  WORD Pid;
  WORD Vid;
  BYTE Mode;
  BYTE BusyFlag;
  WORD PortNum;                // the server's USB port of the device
  BYTE Speed;
  BYTE NumInterfaces;          // above 1: a composite device
  DWORD RequestStatus;         // status bits of the last answer; ARRM_STATUS_PENDING while queued
  DWORD ProductStringLength;
  char* ProductString;         // heap text owned by the entry, or null
  const char* VendorName;      // constant text, or null
  DWORD ProductStringState;    // 0 new, 1 or 3 being fetched, 2 finished
  DWORD UnloadStartTick;       // GetTickCount when a disconnect was requested
};

namespace zarnet {
struct __dev_info__;
}

// The entry for a device that a server's broadcast lists, as the device list first records it.
DeviceEntry MakeDeviceEntry(LPCSTR serverIp, uint32_t serverId, const zarnet::__dev_info__& info);
