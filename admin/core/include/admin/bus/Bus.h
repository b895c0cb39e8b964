// CBus: TavrinAdmin's link to the bus driver's control device (GUID_DEVINTERFACE_BUSDRIVER): plug-in and
// unplug requests, their queued answers, the answer event, the device list, and notices of the control
// device's arrival and removal. Buffers handed to the caller are allocated with malloc; the caller frees them.
#pragma once
#include "pelkobus/records.h"
#include "win32/ioctl.h"
#include "win32/setupapi.h"
#include "win32/types.h"

class CBus {
 public:
  CBus();
  virtual ~CBus();  // Close
  CBus(const CBus&) = delete;
  CBus& operator=(const CBus&) = delete;

  // OpenBusDriver: opens the first present control device interface.
  BOOL Open();
  BOOL Close();
  HANDLE GetHandle() const { return m_hDevice; }

  // WM_DEVICECHANGE to hWnd when the control device's interface arrives or leaves.
  BOOL RegisterInterface(HWND hWnd);
  BOOL DeRegisterInterface();

  BOOL NotifyDevicePresence(DEVICE_ARRIVALREMOVAL_INFO* record);
  // The oldest queued answer; *out receives the buffer in every case (at least 64 bytes, zeroed where the
  // driver wrote nothing).
  BOOL GetStatus(DEVICE_ARRIVALREMOVAL_INFO** out);
  BOOL SetSharedEvents(HANDLE hEvent);
  // A u32 count then one BUS_DEVICE_INFO per plugged-in device (the count never more than the entries
  // the driver wrote); *out receives the buffer (or null).
  BOOL GetDeviceInfo(void** out);

 private:
  HANDLE m_hDevice;
  HWND m_hNotifyWindow;
  HDEVNOTIFY m_hDevNotify;
  DEV_BROADCAST_DEVICEINTERFACE m_NotificationFilter;
  HDEVINFO m_hDevInfo;
  PSP_DEVICE_INTERFACE_DETAIL_DATA m_pInterfaceDetail;
};
