// The "&Connect" and "&Disconnect" commands: the state shown for the selected device decides which.
#include <cstdlib>

#include "../presence/Presence.h"
#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "admin/Trace.h"

namespace {

bool IsOneOf(const CString& text, std::initializer_list<LPCSTR> texts) {
  for (LPCSTR candidate : texts)
    if (text == candidate) return true;
  return false;
}

// The Windows printer of a printer device that is set to auto-connect; empty when it is none.
CString AutoConnectPrinterOf(const DeviceEntry& device) {
  if (device.Class != 7 && device.Class != 255) return "";
  CRegistryStore registry;
  CString printerName;
  PrinterInfo printer{};
  if (!registry.GetPrinterName(device, printerName) || printerName.IsEmpty()) return "";
  if (!registry.GetPrinterInfo(printerName, printer) || printer.AutoReconnect == 0) return "";
  return printerName;
}

}  // namespace

void CTavrinAdminDoc::OnConnectDisconnect() {
  CString serverIp;
  CString state;
  WORD port = 0;
  if (!m_pPanes || !m_pPanes->GetSelectedDevice(&serverIp, &port, &state)) return;
  if (!m_bLocksReady) return;

  CString refusedPrinter;
  BOOL queued = FALSE;
  const bool connecting = state == "Free";  // otherwise a disconnect
  {
    tavrin::CriticalSectionGuard hold(m_csDeviceList);
    POSITION position = FindDeviceByAddress(inet_addr(serverIp), port);
    if (!position) return;
    DeviceEntry& device = m_DeviceList.GetAt(position);
    if (connecting) refusedPrinter = AutoConnectPrinterOf(device);
    if (!refusedPrinter.IsEmpty()) {
      // the printer monitor connects and disconnects it; told below, once the list is free again
    } else if (connecting || IsOneOf(state, {"Connected", "Loading...", "Unload Failed", "Loading Failed"})) {
      CString text;
      text.LoadString(connecting ? IDS_CONNECTING_DEVICE : IDS_DISCONNECTING_DEVICE);
      TraceInfo("%s", static_cast<LPCSTR>(text));
      if (FillAndSendReqToBusDriver(position, connecting ? TRUE : FALSE)) {
        presence::ReportMappingStatus(*this, presence::LoadFormatted(connecting ? IDS_DEVICE_ARRIVAL_INFORMED
                                                                             : IDS_DEVICE_REMOVAL_INFORMED,
                                                                     static_cast<LPCSTR>(serverIp), port));
        queued = TRUE;
        device.State = connecting ? DEVICE_STATE_CONNECT_REQUESTED : DEVICE_STATE_DISCONNECT_REQUESTED;
        device.RequestStatus = ARRM_STATUS_PENDING;
        device.UnloadStartTick = connecting ? 0 : GetTickCount();
      }
    }
  }
  if (!refusedPrinter.IsEmpty()) {
    CString text;
    text.Format("This Printer : %s is allready Installed \n & It is in Auto Connected Mode.\n",
                static_cast<LPCSTR>(refusedPrinter));
    ShowMessageBox(text, MB_ICONINFORMATION);
    return;
  }
  m_pPanes->MarkSelectedDevice(queued, connecting ? TRUE : FALSE);
  ShowDeviceDetails(serverIp, port);
}
