// Device-interface sets: a snapshot of the kernel host's interfaces of one class.
#include "win32/setupapi.h"

#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "devices_internal.h"
#include "win32/devices/kernel_link.h"
#include "win32/handle.h"
#include "win32/sync.h"

namespace tavrin::devices {
namespace {

template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

}  // namespace

std::vector<InterfaceMember> QueryInterfaces(const GUID& interfaceClass, bool presentOnly) {
  namespace link = tavrin::kernel_link;
  std::vector<InterfaceMember> members;
  int fd = link::Connect();
  if (fd < 0) return members;
  link::Message type;
  std::vector<uint8_t> payload;
  if (link::Send(fd, link::Message::Enumerate, link::Writer().Guid(interfaceClass).U8(presentOnly ? 1 : 0)) &&
      link::Receive(fd, &type, &payload) && type == link::Message::Interfaces) {
    link::Reader reader(payload);
    uint32_t count = reader.U32();
    for (uint32_t i = 0; i < count && !reader.failed(); ++i) {
      bool enabled = reader.U8() != 0;
      std::string path = reader.String();
      if (!reader.failed()) members.push_back({interfaceClass, path, enabled});
    }
  }
  close(fd);
  return members;
}

}  // namespace tavrin::devices

using tavrin::devices::DeviceInfoSet;

HDEVINFO SetupDiGetClassDevs(const GUID* ClassGuid, PCSTR, HWND, DWORD Flags) {
  if (!ClassGuid || !(Flags & DIGCF_DEVICEINTERFACE)) return tavrin::devices::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  tavrin::devices::InstallDeviceOpener();
  auto set = std::make_shared<DeviceInfoSet>();
  set->members = tavrin::devices::QueryInterfaces(*ClassGuid, Flags & DIGCF_PRESENT);
  return tavrin::InsertHandle(set);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID* InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  auto set = tavrin::LookupHandleAs<tavrin::devices::DeviceInfoSet>(DeviceInfoSet);
  if (!set) return tavrin::devices::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!InterfaceClassGuid || !DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return tavrin::devices::Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD index = 0;
  for (size_t i = 0; i < set->members.size(); ++i) {
    const auto& member = set->members[i];
    if (!(member.interfaceClass == *InterfaceClassGuid)) continue;
    if (index++ != MemberIndex) continue;
    DeviceInterfaceData->InterfaceClassGuid = member.interfaceClass;
    DeviceInterfaceData->Flags = member.enabled ? SPINT_ACTIVE : 0;
    DeviceInterfaceData->Reserved = i + 1;  // which member the data names
    return TRUE;
  }
  return tavrin::devices::Fail(ERROR_NO_MORE_ITEMS, FALSE);
}

BOOL SetupDiGetDeviceInterfaceDetail(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA DeviceInterfaceDetailData,
                                     DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA) {
  auto set = tavrin::LookupHandleAs<tavrin::devices::DeviceInfoSet>(DeviceInfoSet);
  if (!set) return tavrin::devices::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!DeviceInterfaceData || DeviceInterfaceData->Reserved == 0 || DeviceInterfaceData->Reserved > set->members.size())
    return tavrin::devices::Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::string& path = set->members[DeviceInterfaceData->Reserved - 1].path;
  DWORD required = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA, DevicePath) + path.size() + 1);
  if (RequiredSize) *RequiredSize = required;
  if (!DeviceInterfaceDetailData) {
    if (DeviceInterfaceDetailDataSize) return tavrin::devices::Fail(ERROR_INVALID_PARAMETER, FALSE);
    return tavrin::devices::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA))
    return tavrin::devices::Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (DeviceInterfaceDetailDataSize < required) return tavrin::devices::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  char* destination = reinterpret_cast<char*>(DeviceInterfaceDetailData) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA, DevicePath);
  std::memcpy(destination, path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (!tavrin::LookupHandleAs<tavrin::devices::DeviceInfoSet>(DeviceInfoSet) || !tavrin::RemoveHandle(DeviceInfoSet))
    return tavrin::devices::Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}
