#include "admin/bus/Bus.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "DriverLink.h"
#include "admin/Trace.h"
#include "win32/handle.h"
#include "win32/sync.h"

CBus::CBus()
    : m_hDevice(INVALID_HANDLE_VALUE),
      m_hNotifyWindow(nullptr),
      m_hDevNotify(nullptr),
      m_NotificationFilter{},
      m_hDevInfo(nullptr),
      m_pInterfaceDetail(nullptr) {}

CBus::~CBus() { Close(); }

BOOL CBus::Open() {
  driver_link::ReleaseInterface(&m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);  // a link opened twice
  return driver_link::OpenFirstInterface(
      GUID_DEVINTERFACE_BUSDRIVER, {"Error:Interface GUID_DEVINTERFACE_BUSDRIVER is not registered\n", "Bus interface opened!!!\n"},
      &m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);
}

BOOL CBus::Close() {
  if (IsTraceInfoOn()) TraceInfo("CBus::Close ==>\n");
  if (m_hDevice != INVALID_HANDLE_VALUE) {
    CloseHandle(m_hDevice);
    m_hDevice = INVALID_HANDLE_VALUE;
    if (IsTraceInfoOn()) TraceInfo("CBus::Close: %d.\n", GetLastError());
  }
  driver_link::ReleaseInterface(&m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);
  if (IsTraceInfoOn()) TraceInfo("CBus::Close ==>\n");
  return TRUE;
}

BOOL CBus::RegisterInterface(HWND hWnd) {
  m_hNotifyWindow = hWnd;
  if (IsTraceInfoOn()) TraceInfo("RegisterInterface ==>\n");
  if (m_hDevNotify) UnregisterDeviceNotification(m_hDevNotify);  // registered twice: the old one goes
  m_hDevNotify = nullptr;
  m_NotificationFilter = DEV_BROADCAST_DEVICEINTERFACE{};
  m_NotificationFilter.dbcc_size = sizeof m_NotificationFilter;
  m_NotificationFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  m_NotificationFilter.dbcc_classguid = GUID_DEVINTERFACE_BUSDRIVER;
  m_hDevNotify = RegisterDeviceNotification(hWnd, &m_NotificationFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!m_hDevNotify) {
    if (IsTraceErrorOn()) TraceError("RegisterDeviceNotification failed: %d.\n", GetLastError());
    return FALSE;
  }
  if (IsTraceInfoOn()) TraceInfo("RegisterInterface <==\n");
  return TRUE;
}

BOOL CBus::DeRegisterInterface() {
  if (IsTraceInfoOn()) TraceInfo("DeRegisterInterface ==>\n");
  if (m_hDevNotify) UnregisterDeviceNotification(m_hDevNotify);
  m_hDevNotify = nullptr;
  if (IsTraceInfoOn()) TraceInfo("DeRegisterInterface <==\n");
  return TRUE;
}

BOOL CBus::NotifyDevicePresence(DEVICE_ARRIVALREMOVAL_INFO* record) {
  if (IsTraceInfoOn()) TraceInfo("CBus::NotifyDevicePresence ==>\n");
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(m_hDevice, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, record, record->Length, record, record->Length,
                            &returned, nullptr);
  if (!ok && IsTraceErrorOn()) TraceError("NotifyDevicePresence failed:%d\n", GetLastError());
  if (IsTraceInfoOn()) TraceInfo("CBus::NotifyDevicePresence <==\n");
  return ok;
}

BOOL CBus::GetStatus(DEVICE_ARRIVALREMOVAL_INFO** out) {
  if (IsTraceInfoOn()) TraceInfo("GetStatus ==>\n");
  void* buffer = nullptr;
  BOOL ok = driver_link::FetchAnswer(m_hDevice, IOCTL_BUS_GETSTATUS, DEVICE_ARRIVALREMOVAL_INFO_LENGTH,
                                     "Device GetStatus Failed:%d\n", &buffer);
  *out = static_cast<DEVICE_ARRIVALREMOVAL_INFO*>(buffer);
  if (IsTraceInfoOn()) TraceInfo("GetStatus <==\n");
  return ok;
}

BOOL CBus::SetSharedEvents(HANDLE hEvent) {
  uint64_t handle = reinterpret_cast<uintptr_t>(hEvent);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(m_hDevice, IOCTL_BUS_SET_SHARED_EVENT, &handle, sizeof handle, nullptr, 0, &returned, nullptr);
  if (!ok && IsTraceErrorOn()) TraceError("SetSharedEvents() => DeviceIoControl - Error : %d \n", GetLastError());
  return ok;
}

BOOL CBus::GetDeviceInfo(void** out) {
  *out = nullptr;
  if (IsTraceInfoOn()) TraceInfo("GetDeviceInfo ==>\n");
  // The first request asks for the count only: an input under 28 bytes (its content is not read).
  unsigned char countRequest[28] = {};
  uint32_t count = 0;
  DWORD returned = 0;
  if (!DeviceIoControl(m_hDevice, IOCTL_BUS_GET_DEVCOUNT, countRequest, 27, &count, sizeof count, &returned, nullptr)) {
    if (IsTraceErrorOn()) TraceError("DeviceIoControl GetDeviceCount Failed:%d\n", GetLastError());
    return FALSE;
  }
  // The count comes from the driver: it must have been written, and the list it implies must stay sane.
  constexpr uint32_t kMaxDevices = 4096;
  if (returned < sizeof count || count > kMaxDevices) {
    if (IsTraceErrorOn()) TraceError("DeviceIoControl GetDeviceCount Failed:%d\n", driver_link::kErrorInvalidData);
    SetLastError(driver_link::kErrorInvalidData);
    return FALSE;
  }
  if (IsTraceInfoOn()) TraceInfo("Devices Returned=%d\n", count);
  const DWORD size = static_cast<DWORD>(sizeof(uint32_t) + sizeof(BUS_DEVICE_INFO) * count);
  auto* list = static_cast<unsigned char*>(std::calloc(1, size));
  *out = list;
  if (!list) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (!DeviceIoControl(m_hDevice, IOCTL_BUS_GET_DEVCOUNT, list, size, list, size, &returned, nullptr)) {
    if (IsTraceErrorOn()) TraceError("DeviceIoControl GetDeviceInfo Failed:%d\n", GetLastError());
    return FALSE;
  }
  // The count in front says how many entries the driver really wrote, whatever it put there itself.
  uint32_t listed = returned >= sizeof(uint32_t) ? pelkobus::Load<uint32_t>(list) : 0;
  uint32_t written = returned >= sizeof(uint32_t) ? (returned - sizeof(uint32_t)) / sizeof(BUS_DEVICE_INFO) : 0;
  if (listed > written) listed = written;
  pelkobus::Store(list, listed);
  for (uint32_t i = 0; i < listed && IsTraceInfoOn(); ++i) {
    auto entry = pelkobus::Load<BUS_DEVICE_INFO>(list + sizeof(uint32_t) + i * sizeof(BUS_DEVICE_INFO));
    TraceInfo("\nDevice IP=%d, Port=%d, Status=%x, PnPStatus=%x, ConnState=%x\n", entry.IP, entry.Port, entry.Status,
              entry.PnPStatus, entry.ConnState);
  }
  if (IsTraceInfoOn()) TraceInfo("GetDeviceInfo <==\n");
  return TRUE;
}
