#include "admin/comm/DocServices.h"

#include "win32/sync.h"

#include <cstdlib>
#include <cstring>

#include "admin/Trace.h"
#include "pelkobus/records.h"

namespace {

bool SameServer(const DeviceEntry& device, const CString& strIP) {
  return strncmp(device.ServerIp, strIP, sizeof(device.ServerIp)) == 0;
}

DeviceEntry* FindByPort(DeviceList& devices, const CString& strIP, WORD wPort) {
  POSITION position = devices.FindInGroup(DeviceKeys::Group(strIP, wPort));
  return position ? &devices.GetAt(position) : nullptr;
}

}  // namespace

DeviceEntry* FindDeviceByIdentity(DeviceList& devices, const DeviceEntry& key) {
  POSITION position = devices.Find(DeviceKeys::Key(key));
  return position ? &devices.GetAt(position) : nullptr;
}

namespace {

BOOL SetState(DeviceEntry* device, DWORD state) {
  if (device == nullptr) {
    TraceInfo("Device not present in the list control!!\n");
    return FALSE;
  }
  TraceInfo("Device found\n");
  device->ProductStringState = state;
  return TRUE;
}

char* CopyProductString(const zarnet::iproduct_string* productString, DWORD* lengthOut) {
  DWORD length = productString != nullptr ? productString->length : 0;  // packed: read by value
  if (length > zarnet::kMaxProductString) length = zarnet::kMaxProductString;
  char* copy = nullptr;
  if (length > 0) {
    copy = static_cast<char*>(malloc(length + 1));
    if (copy == nullptr) {
      TraceError("StoreProductString() :: out of memory\n");
      length = 0;
    } else {
      memcpy(copy, productString->text, length);
      copy[length] = '\0';
    }
  }
  *lengthOut = length;
  return copy;
}

BOOL Store(DeviceEntry* device, const char* serverIp, char* copy, DWORD length) {
  if (device == nullptr) {
    TraceInfo("Device not present in the list control!!, Server-%.*s\n", 28, serverIp);
    free(copy);
    return FALSE;
  }
  TraceInfo("Device found with specified IP & Port\n");
  if (device->ProductStringState != 1) {
    free(copy);
    return TRUE;
  }
  free(device->ProductString);
  device->ProductString = copy;
  device->ProductStringLength = copy != nullptr ? length : 0;
  device->ProductStringState = 2;
  return TRUE;
}

}  // namespace

BOOL SetProductStringState(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP, WORD wPort,
                           DWORD state) {
  tavrin::CriticalSectionGuard hold(lock);
  return SetState(FindByPort(devices, strIP, wPort), state);
}

BOOL SetProductStringState(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& key, DWORD state) {
  tavrin::CriticalSectionGuard hold(lock);
  return SetState(FindDeviceByIdentity(devices, key), state);
}

BOOL StoreProductString(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP, WORD wPort,
                        const zarnet::iproduct_string* productString) {
  DWORD length = 0;
  char* copy = CopyProductString(productString, &length);
  tavrin::CriticalSectionGuard hold(lock);
  return Store(FindByPort(devices, strIP, wPort), strIP, copy, length);
}

BOOL StoreProductString(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& key,
                        const zarnet::iproduct_string* productString) {
  DWORD length = 0;
  char* copy = CopyProductString(productString, &length);
  tavrin::CriticalSectionGuard hold(lock);
  return Store(FindDeviceByIdentity(devices, key), key.ServerIp, copy, length);
}

BOOL CanRemoveServer(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP) {
  tavrin::CriticalSectionGuard hold(lock);
  for (POSITION position = devices.GetHeadPosition(); position != nullptr;) {
    const DeviceEntry& device = devices.GetNext(position);
    if (!SameServer(device, strIP)) continue;
    if (device.State == DEVICE_STATE_CONNECT_REQUESTED || device.State == DEVICE_STATE_CONNECTED) return FALSE;
    if (device.State == DEVICE_STATE_DISCONNECT_REQUESTED && device.RequestStatus == ARRM_STATUS_PENDING) return FALSE;
  }
  return TRUE;
}

BOOL FindDiscoveredServer(const ServerDiscoveryList& servers, const CString& strIP, ServerDiscoveryRecord* out) {
  for (POSITION position = servers.GetHeadPosition(); position != nullptr;) {
    const ServerDiscoveryRecord& record = servers.GetNext(position);
    if (strncmp(record.ServerIp, strIP, sizeof(record.ServerIp)) == 0) {
      *out = record;
      return TRUE;
    }
  }
  return FALSE;
}

void MarkProductStringFailed(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& request) {
  tavrin::CriticalSectionGuard hold(lock);
  DeviceEntry* device = FindDeviceByIdentity(devices, request);
  if (device == nullptr) return;
  TraceError("GetIProdStringDescTh >>Error for Server:%.*s, USBPort:%d\n", static_cast<int>(sizeof(request.ServerIp)),
             request.ServerIp, request.PortNum);
  device->ProductStringState = 2;
  device->ProductStringLength = 0;
  free(device->ProductString);
  device->ProductString = nullptr;
}

