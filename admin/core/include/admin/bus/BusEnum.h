// CBusEnum: TavrinAdmin's link to the outside bus enumerator (GUID_DEVINTERFACE_BUSENUM): server arrival and
// removal requests, their queued answers and the answer event. Buffers handed to the caller are allocated
// with malloc; the caller frees them.
#pragma once
#include "pelkobus/busenum.h"
#include "win32/setupapi.h"
#include "win32/types.h"

class CBusEnum {
 public:
  CBusEnum();
  virtual ~CBusEnum();  // Close
  CBusEnum(const CBusEnum&) = delete;
  CBusEnum& operator=(const CBusEnum&) = delete;

  // OpenBusEnumDriver: opens the first present enumerator interface.
  BOOL Open();
  BOOL Close();
  HANDLE GetHandle() const { return m_hDevice; }

  BOOL NotifyServerPresence(SERVER_ARRIVALREMOVAL_INFO* record);
  // The oldest queued answer; *out receives the buffer in every case (at least 24 bytes).
  BOOL GetStatus(SERVER_ARRIVALREMOVAL_INFO** out);
  BOOL SetBusSharedEvents(HANDLE hEvent);

 private:
  HANDLE m_hDevice;
  HDEVINFO m_hDevInfo;
  PSP_DEVICE_INTERFACE_DETAIL_DATA m_pInterfaceDetail;
};
