// The "&Connect" and "&Disconnect" commands: the state shown for the selected device decides which.
#include <cstdlib>

#include "../presence/Presence.h"
#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/Trace.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"

namespace {

constexpr COLORREF kColourLoading = 0xB59300;    // RGB(0x00, 0x93, 0xB5)
constexpr COLORREF kColourUnloading = 0x2DB155;  // RGB(0x55, 0xB1, 0x2D)
constexpr int kStateFont = 2;

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
  CFunctionView* pane = m_pFunctionView;
  if (!pane || pane->m_nSelectedServer < 0 || pane->m_nSelectedDevice < 0 ||
      pane->m_nSelectedServer >= static_cast<int>(pane->m_DeviceTree.size()))
    return;
  TreeServerItem& serverRow = pane->m_DeviceTree[pane->m_nSelectedServer];
  if (pane->m_nSelectedDevice >= static_cast<int>(serverRow.Devices.size())) return;
  TreeDeviceItem& row = serverRow.Devices[pane->m_nSelectedDevice];
  CString serverIp;
  pane->GetServerIPFromItem(&serverRow, serverIp);
  const WORD port = static_cast<WORD>(atoi(row.Port));
  const CString state = row.State;

  CString refusedPrinter;
  {
    presence::Lock hold(m_csDeviceList);
    POSITION position = FindDeviceByAddress(inet_addr(serverIp), port);
    if (!position) return;
    DeviceEntry& device = m_DeviceList.GetAt(position);
    if (state == "Free") refusedPrinter = AutoConnectPrinterOf(device);
    if (!refusedPrinter.IsEmpty()) {
      // the printer monitor connects and disconnects it; told below, once the list is free again
    } else if (state == "Free" || IsOneOf(state, {"Connected", "Loading...", "Unload Failed", "Loading Failed"})) {
      const bool connecting = state == "Free";  // otherwise a disconnect
      CString text;
      text.LoadString(connecting ? IDS_CONNECTING_DEVICE : IDS_DISCONNECTING_DEVICE);
      TraceInfo("%s", static_cast<LPCSTR>(text));
      if (FillAndSendReqToBusDriver(position, connecting ? TRUE : FALSE)) {
        presence::ReportMappingStatus(*this, presence::LoadFormatted(connecting ? IDS_DEVICE_ARRIVAL_INFORMED
                                                                             : IDS_DEVICE_REMOVAL_INFORMED,
                                                                     static_cast<LPCSTR>(serverIp), port));
        row.State = connecting ? "Loading..." : "Unloading...";
        row.Image = 2;
        row.StateColor = connecting ? kColourLoading : kColourUnloading;
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
    CTavrinAdminApp* app = GetAdminApp();
    if (CMainFrame* frame = app ? app->GetMainFrame() : nullptr) frame->ShowMessageBox(text, MB_ICONINFORMATION, 0);
    return;
  }
  row.StateFont = kStateFont;
  ShowDeviceDetails(serverIp, port);
}
