#include "testsupport/interfaces.h"

#include <cstddef>
#include <vector>

namespace tavrin::test {

std::string FirstInterfacePath(const GUID& interfaceClass) {
  HDEVINFO set = SetupDiGetClassDevs(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return "";
  std::string path;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, 0, &data)) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetail(set, &data, nullptr, 0, &required, nullptr);
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA);
    if (SetupDiGetDeviceInterfaceDetail(set, &data, detail, required, nullptr, nullptr))
      path = buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA, DevicePath);
  }
  SetupDiDestroyDeviceInfoList(set);
  return path;
}

}  // namespace tavrin::test
