#include "admin/ui/FunctionView.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/ui/MainFrame.h"

IMPLEMENT_DYNCREATE(CFunctionView, CView)

void CFunctionView::OnDestroy() {
  if (auto* doc = static_cast<CTavrinAdminDoc*>(GetDocument())) doc->SetFunctionView(nullptr);
  CView::OnDestroy();
}

namespace {

// A network-order IPv4 address as dotted text.
CString DottedIp(uint32_t networkOrder) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&networkOrder);
  CString text;
  text.Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

CMainFrame* MainFrame() {
  CTavrinAdminApp* app = GetAdminApp();
  return app ? app->GetMainFrame() : nullptr;
}

// A result text: the status line, the Device Mapping log and the trace log.
void ReportResult(CTavrinAdminDoc* doc, const CString& text) {
  if (CMainFrame* frame = MainFrame()) frame->SetStatusText(text);
  doc->AddDeviceMappingLog(text);
  TraceInfo("%s\n", text.GetString());
}

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~Lock() { LeaveCriticalSection(lock_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

// Replaces the bits `from` of a status by `to`.
DWORD Fold(DWORD status, DWORD from, DWORD to) { return (status & from) ? ((status & ~from) | to) : status; }

bool IsBusDriverNotice(LPARAM broadcast) {
  if (broadcast == 0) return true;  // WM_USER+15: the special server's confirmation carries no record
  const auto* header = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE*>(broadcast);
  return header->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE && header->dbcc_classguid == GUID_DEVINTERFACE_BUSDRIVER;
}

}  // namespace

const mfc::MessageMap* CFunctionView::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CFunctionView::OnUpdateServerListStatus>(WM_SERVER_ARRM_ANSWER),
      mfc::OnMessage<&CFunctionView::OnDeviceArRmResponse>(WM_DEVICE_ARRM_ANSWER),
      mfc::OnMessage<&CFunctionView::OnStatusTextId>(WM_STATUS_TEXT_ID),
      mfc::OnMessage<&CFunctionView::OnDeviceChange>(WM_SPECIAL_SERVER_ARRIVED),
      mfc::OnMessage<&CFunctionView::OnDeviceChange>(WM_DEVICECHANGE),
      mfc::OnMessage<&CFunctionView::OnRunStopDeviceMapping>(WM_RUN_STOP_DEVICE_MAPPING),
  };
  static const mfc::MessageMap map{CView::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc* CFunctionView::GetDocument() const { return static_cast<CTavrinAdminDoc*>(m_pDocument); }

void CFunctionView::OnInitialUpdate() {
  CView::OnInitialUpdate();
  if (CTavrinAdminDoc* doc = GetDocument()) doc->SetFunctionView(this);
}

LRESULT CFunctionView::OnUpdateServerListStatus(WPARAM requestId, LPARAM) {
  CTavrinAdminDoc* doc = GetDocument();
  // An answer that arrives after the stop's clean-up has no table left to read.
  if (!doc || !doc->AreLocksReady() || requestId < 1 || requestId > kRequestTableSlots) return 1;
  SERVER_ARRIVALREMOVAL_INFO slot;
  {
    Lock hold(&doc->m_csServerArRm);
    slot = doc->m_ArrSereverArRmInfo[requestId - 1];
  }
  if (slot.RequestId != requestId) return 1;  // released already
  const CString serverIp = DottedIp(slot.ServerIp);
  DWORD status = slot.Status & ~ARRM_STATUS_MORE;
  {
    Lock hold(&doc->m_csServerPresence);
    for (POSITION position = doc->m_ServerPresenceList.GetHeadPosition(); position;) {
      ServerPresenceEntry& entry = doc->m_ServerPresenceList.GetNext(position);
      if (std::strncmp(entry.ServerIp, serverIp, sizeof entry.ServerIp) != 0) continue;
      status = Fold(status, ARRM_STATUS_ALREADY_PRESENT | ARRM_STATUS_NOT_PRESENT, ARRM_STATUS_SUCCESS);
      entry.RequestStatus = status;
      break;
    }
    RefreshServerList();
  }
  UINT textId = 0;
  if (status & ARRM_STATUS_FAILED) {
    textId = slot.Arrival ? IDS_SERVER_ARRIVAL_FAILED : IDS_SERVER_DEPARTURE_FAILED;
  } else if (status & ARRM_STATUS_SUCCESS) {
    textId = slot.Arrival ? IDS_SERVER_ARRIVAL_DONE : IDS_SERVER_DEPARTURE_DONE;
  }
  if (textId) {
    CString format, text;
    format.LoadString(textId);
    text.Format(format, serverIp.GetString());
    ReportResult(doc, text);
  }
  Lock hold(&doc->m_csServerArRm);
  SERVER_ARRIVALREMOVAL_INFO& live = doc->m_ArrSereverArRmInfo[requestId - 1];
  if (live.RequestId == requestId) std::memset(&live, 0, sizeof live);
  return 1;
}

LRESULT CFunctionView::OnDeviceArRmResponse(WPARAM requestId, LPARAM) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc || !doc->AreLocksReady() || requestId < 1 || requestId > kRequestTableSlots) return 1;
  DEVICE_ARRIVALREMOVAL_INFO slot;
  {
    Lock hold(&doc->m_csDeviceArRm);
    slot = doc->m_ArrDeviceArRmInfo[requestId - 1];
  }
  if (slot.RequestId != requestId) return 1;
  const CString serverIp = DottedIp(slot.ServerIp);
  const WORD port = slot.PortNum;
  DWORD status = slot.ArRmStatus & ~ARRM_STATUS_MORE;
  if (slot.Arrival) {
    status = (status & ARRM_STATUS_ALREADY_PRESENT)
                 ? Fold(status, ARRM_STATUS_ALREADY_PRESENT, ARRM_STATUS_SUCCESS)
                 : Fold(status, ARRM_STATUS_SERVER_NOT_FOUND, ARRM_STATUS_FAILED);
  } else {
    status = Fold(status, ARRM_STATUS_NOT_PRESENT | ARRM_STATUS_SERVER_NOT_FOUND, ARRM_STATUS_SUCCESS);
  }
  {
    Lock hold(&doc->m_csDeviceList);
    for (POSITION position = doc->m_DeviceList.GetHeadPosition(); position;) {
      DeviceEntry& device = doc->m_DeviceList.GetNext(position);
      if (device.PortNum != port || std::strncmp(device.ServerIp, serverIp, sizeof device.ServerIp) != 0) continue;
      device.State = slot.Arrival ? DEVICE_STATE_CONNECTED : DEVICE_STATE_DISCONNECTED;
      device.RequestStatus = status;
      device.ConnectionLost = 0;
      break;
    }
  }
  const char* format = nullptr;
  if (status & ARRM_STATUS_FAILED) {
    format = slot.Arrival ? "Device %s : %d Connect Intimation Failed!" : "Device %s : %d DisconnectIntimation Failed!";
  } else if (status & ARRM_STATUS_SUCCESS) {
    format = slot.Arrival ? "Device %s : %d Connect Intimation Successful" : "Device %s : %d Disconnect Intimation Successful";
  }
  if (format) {
    CString text;
    text.Format(format, serverIp.GetString(), port);
    ReportResult(doc, text);
  }
  Lock hold(&doc->m_csDeviceArRm);
  DEVICE_ARRIVALREMOVAL_INFO& live = doc->m_ArrDeviceArRmInfo[requestId - 1];
  if (live.RequestId == requestId) {
    std::free(reinterpret_cast<void*>(static_cast<uintptr_t>(live.Ids)));
    std::memset(&live, 0, sizeof live);
  }
  return 1;
}

LRESULT CFunctionView::OnDeviceChange(WPARAM event, LPARAM broadcast) {
  CTavrinAdminDoc* doc = GetDocument();
  // Notices that were queued before the stop unregistered them are stale (their record may be gone).
  if (!doc || !doc->IsDeviceMappingStarted() || doc->IsStopRunning()) return TRUE;
  if (event == DBT_DEVICEARRIVAL && IsBusDriverNotice(broadcast)) {
    TraceInfo("OnDeviceChange() : DBT_DEVICEARRIVAL ==>\n");
    OnBusDriverArrival(broadcast == 0);
    TraceInfo("OnDeviceChange() DBT_DEVICEARRIVAL <==\n");
  } else if (event == DBT_DEVICEREMOVECOMPLETE && IsBusDriverNotice(broadcast)) {
    TraceInfo("OnDeviceChange() : DBT_DEVICEREMOVECOMPLETE ==>\n");
    OnBusDriverRemoval();
    TraceInfo("OnDeviceChange() : DBT_DEVICEREMOVECOMPLETE <==\n");
  }
  return TRUE;
}

void CFunctionView::OnBusDriverArrival(BOOL confirmation) {
  CTavrinAdminDoc* doc = GetDocument();
  // The control device is announced twice (the enumerator's confirmation and the interface notice): the
  // first one that finds it opens it.
  if (doc->m_nBusInterfaceArrivals != 0) return;
  if (!doc->m_objBus.Open()) {
    if (confirmation) {
      // The enumerator confirms when it has made the node; the bus driver may not have started on it
      // yet. Its interface notice follows and opens it then.
      TraceInfo("OnDeviceChange() >> control device not started yet\n");
      return;
    }
    ++doc->m_nBusInterfaceArrivals;
    const char* text = "OnDeviceChange() >> OpenBusDriver Failed!! \n";
    TraceError("%s", text);
    if (CMainFrame* frame = MainFrame()) frame->ShowMessageBox(text, MB_ICONSTOP, 0);
    if (!doc->SpecialServerArrivalRemoval(FALSE)) {
      TraceError("OnDeviceChange() >> SpecialServerArrivalRemoval Failed!! \n");
    }
    return;
  }
  ++doc->m_nBusInterfaceArrivals;
  if (doc->InitBusDriver()) {
    SetTimer(kBusUpTimer, 1000);
  } else {
    TraceError("OnDeviceChange() >> InitBusDriver Failed!! \n");
  }
}

void CFunctionView::OnBusDriverRemoval() {
  CTavrinAdminDoc* doc = GetDocument();
  if (doc->m_nBusInterfaceArrivals == 0) return;  // never opened
  doc->m_nBusInterfaceArrivals = 0;
  // The device thread uses the link: it ends before the link is closed.
  doc->StopBusDriverThread();
  doc->m_objBus.Close();
  TraceInfo("OnDeviceChange() >> DBT_DEVICEREMOVAL Count %d\n", doc->m_nBusInterfaceArrivals);
}

void CFunctionView::OnTimer(UINT_PTR id) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  if (id == kBusUpTimer) {
    KillTimer(kBusUpTimer);
    if (!doc->m_hDetectServerThread) {
      doc->m_hDetectServerThread = CreateThread(nullptr, 0, &CTavrinAdminDoc::DetectServer, this, 0, nullptr);
      if (!doc->m_hDetectServerThread) TraceInfo("CreateThread() func failed\n");
    }
    doc->StartPrinterMonitors();
    CTavrinAdminApp* app = GetAdminApp();
    SetTimer(kRefreshTimer, app ? app->AppGuiRefreshPeriod : 5000);
  } else if (id == kRefreshTimer) {
    if (!doc->AreLocksReady()) return;
    {
      Lock hold(&doc->m_csServerPresence);
      if (!doc->m_ServerPresenceList.IsEmpty()) {
        doc->CheckServerArrivalRemoval();
        RefreshServerList();
      }
    }
    Lock hold(&doc->m_csDeviceList);
    if (!doc->m_DeviceList.IsEmpty()) {
      doc->CheckDeviceDeparture();
      RefreshDeviceTree();
    }
  } else if (id == kStartMappingTimer) {
    KillTimer(kStartMappingTimer);
    doc->StartDeviceMapping();
  }
}

LRESULT CFunctionView::OnStatusTextId(WPARAM stringId, LPARAM) {
  CString text;
  text.LoadString(static_cast<UINT>(stringId));
  if (CMainFrame* frame = MainFrame()) frame->SetStatusText(text);
  return 1;
}

LRESULT CFunctionView::OnRunStopDeviceMapping(WPARAM askUser, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->StopDeviceMapping(static_cast<BOOL>(askUser));
  return 0;
}
