// Building a plug-in or unplug request for the bus driver from a device of the device list: a slot of
// the device request table and the block of plug-and-play identifiers that goes with it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../presence/Presence.h"
#include "admin/RegistryStore.h"
#include "admin/Trace.h"

namespace {

constexpr size_t kIdListChars = 128;  // working buffer of one identifier list, in UTF-16 characters

// A list of NUL-terminated UTF-16LE strings ended by one more NUL, built from ASCII text.
class IdList {
 public:
  void Add(const char* text) {
    for (const char* c = text; *c && used_ + 2 < kIdListChars; ++c) chars_[used_++] = static_cast<uint16_t>(*c);
    chars_[used_++] = 0;
  }
  void Addf(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[kIdListChars];
    snprintf(text, sizeof text, format, a, b, c);
    Add(text);
  }
  // The list's bytes with its closing NUL.
  DWORD Bytes() const { return static_cast<DWORD>((used_ + 1) * sizeof(uint16_t)); }
  const void* Data() const { return chars_; }

 private:
  uint16_t chars_[kIdListChars] = {};
  size_t used_ = 0;
};

void BuildIdLists(const DeviceEntry& device, IdList& hardware, IdList& compatible) {
  hardware.Addf("USB\\VID_%04X&PID_%04X&REV_%04X", device.Vid, device.Pid, device.Rev);
  hardware.Addf("USB\\VID_%04X&PID_%04X", device.Vid, device.Pid);
  if (device.NumInterfaces > 1) {
    // A composite device is matched as such; its own class codes stay in the record.
    compatible.Addf("usb\\devclass_%02X&subclass_%02X&prot_%02X", 0, 0, 0);
    compatible.Addf("usb\\devclass_%02X&subClass_%02X", 0, 0);
    compatible.Addf("usb\\devclass_%02X", 0);
    compatible.Add("usb\\composite");
  } else {
    compatible.Addf("USB\\Class_%02X&SubClass_%02X&Prot_%02X", device.Class, device.SubClass, device.Protocol);
    compatible.Addf("USB\\Class_%02X&SubClass_%02X", device.Class, device.SubClass);
    compatible.Addf("USB\\Class_%02X", device.Class);
  }
}

// Fills the first free slot of the device request table (which wakes the device thread); false when none
// is free or the identifier block cannot be allocated.
bool QueueDeviceRequest(CTavrinAdminDoc& doc, const DeviceEntry& device, BOOL arrival, BYTE autoConnect,
                        const IdList& hardware, const IdList& compatible) {
  const DWORD hardwareBytes = hardware.Bytes();
  const DWORD totalBytes = hardwareBytes + compatible.Bytes();
  auto* ids = static_cast<BYTE*>(malloc(totalBytes));
  if (ids == nullptr) {
    TraceError("NotifyDeviceARInfo() >> malloc() Failed\n");
    return false;
  }
  memcpy(ids, hardware.Data(), hardwareBytes);
  memcpy(ids + hardwareBytes, compatible.Data(), compatible.Bytes());
  const uint32_t serverIp = inet_addr(presence::AddressOf(device.ServerIp));
  const uint16_t dataPort = htons(doc.m_wServerDataPort);
  const int index = doc.DeviceRequests().Queue([&](DEVICE_ARRIVALREMOVAL_INFO& slot, int) {
    slot.Arrival = arrival ? 1 : 0;
    slot.DeviceInfoLength = DEVICE_INFO_LENGTH;
    slot.AutoConnect = autoConnect;
    slot.PortNum = device.PortNum;
    slot.Class = device.Class;
    slot.SubClass = device.SubClass;
    slot.Protocol = device.Protocol;
    slot.Rev = device.Rev;
    slot.Pid = device.Pid;
    slot.Vid = device.Vid;
    slot.ServerId = device.ServerId;
    slot.ServerIp = serverIp;
    slot.DataPort = dataPort;
    TraceInfo("HardwareIdLen %x,length %x\n", hardwareBytes, totalBytes);
    slot.HardwareIdSize = hardwareBytes;
    TraceInfo("HardwareIdSize %x\n", hardwareBytes);
    slot.TotalSize = totalBytes;
    TraceInfo("TotalSize %x\n", totalBytes);
    slot.Ids = reinterpret_cast<uintptr_t>(ids);
    slot.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
    if (arrival)
      TraceInfo("m_hDeviceArRmEvent Set to intimate DeviceArrival\n");
    else
      TraceInfo("m_hDeviceArRmEvent Set to intimate DeviceRemoval\n");
  });
  if (index < 0) {
    free(ids);
    if (arrival)
      TraceInfo("No free Index in m_ArrDeviceArRmInfo aray for Device Arrival intimation\n");
    else
      TraceInfo("No free Index in m_ArrDeviceArRmInfo aray for Device Removal intimation\n");
    return false;
  }
  return true;
}

}  // namespace

BOOL CTavrinAdminDoc::FillAndSendReqToBusDriver(POSITION position, BOOL arrival) {
  TraceInfo("FillAndSendReqToBusDriver() ==>\n");
  const DeviceEntry device = m_DeviceList.GetAt(position);
  // Read from the registry before the table's lock is taken: the notification thread waits on that lock.
  const BYTE autoConnect = CRegistryStore().IsAutoConnectDevice(device);
  IdList hardware;
  IdList compatible;
  BuildIdLists(device, hardware, compatible);

  if (!QueueDeviceRequest(*this, device, arrival, autoConnect, hardware, compatible)) {
    TraceInfo("FillAndSendReqToBusDriver() <== \n");
    return FALSE;
  }
  TraceInfo("FillAndSendReqToBusDriver() <== \n");
  return TRUE;
}
