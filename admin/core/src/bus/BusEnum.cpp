#include "admin/bus/BusEnum.h"

#include <cstdint>

#include "DriverLink.h"
#include "admin/Trace.h"
#include "win32/ioctl.h"
#include "win32/sync.h"

CBusEnum::CBusEnum() : m_hDevice(INVALID_HANDLE_VALUE), m_hDevInfo(nullptr), m_pInterfaceDetail(nullptr) {}

CBusEnum::~CBusEnum() { Close(); }

BOOL CBusEnum::Open() {
  driver_link::ReleaseInterface(&m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);  // a link opened twice
  return driver_link::OpenFirstInterface(
      GUID_DEVINTERFACE_BUSENUM,
      {"Error:Interface GUID_DEVINTERFACE_BUSENUM is not registered\n", "BusEnumerator interface opened!!!\n"},
      &m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);
}

BOOL CBusEnum::Close() {
  driver_link::ReleaseInterface(&m_hDevInfo, &m_pInterfaceDetail, &m_hDevice);
  return TRUE;
}

BOOL CBusEnum::NotifyServerPresence(SERVER_ARRIVALREMOVAL_INFO* record) {
  DWORD returned = 0;
  if (!DeviceIoControl(m_hDevice, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, record, record->Length, nullptr, 0, &returned,
                       nullptr)) {
    if (IsTraceErrorOn()) TraceError("NotifyServerPresence Failed:%d\n", GetLastError());
    return FALSE;
  }
  return TRUE;
}

BOOL CBusEnum::GetStatus(SERVER_ARRIVALREMOVAL_INFO** out) {
  void* buffer = nullptr;
  BOOL ok = driver_link::FetchAnswer(m_hDevice, IOCTL_BUSENUM_GETSTATUS, SERVER_ARRIVALREMOVAL_INFO_LENGTH,
                                     "Server GetStatus Failed:%d\n", &buffer);
  *out = static_cast<SERVER_ARRIVALREMOVAL_INFO*>(buffer);
  return ok;
}

BOOL CBusEnum::SetBusSharedEvents(HANDLE hEvent) {
  uint64_t handle = reinterpret_cast<uintptr_t>(hEvent);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(m_hDevice, IOCTL_BUSENUM_SET_SHARED_EVENT, &handle, sizeof handle, nullptr, 0, &returned,
                            nullptr);
  if (!ok && IsTraceErrorOn()) TraceError("SetBusSharedEvents() => DeviceIoControl - Error : %d \n", GetLastError());
  return ok;
}
