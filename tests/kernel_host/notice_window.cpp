#include "notice_window.h"

#include "win32/window_manager.h"

namespace kernel_host_test {

HWND MakeWindow() {
  tavrin::win::WindowSpec spec;
  spec.className = "KernelHostTestWindow";
  spec.title = "notices";
  return tavrin::win::CreateWindowObject(spec);
}

HDEVNOTIFY RegisterInterfaceNotices(HWND window, const GUID& interfaceClass) {
  DEV_BROADCAST_DEVICEINTERFACE filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = interfaceClass;
  return RegisterDeviceNotification(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

}  // namespace kernel_host_test
