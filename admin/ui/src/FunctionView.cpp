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

namespace {

constexpr COLORREF kColourLoading = 0xB59300;    // RGB(0x00, 0x93, 0xB5)
constexpr COLORREF kColourUnloading = 0x2DB155;  // RGB(0x55, 0xB1, 0x2D)
constexpr int kStateFont = 2;

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
      mfc::OnMessage<&CFunctionView::OnRestoreDefaultsDone>(WM_RESTORE_DEFAULTS_DONE),
  };
  static const mfc::MessageMap map{CView::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc* CFunctionView::GetDocument() const { return static_cast<CTavrinAdminDoc*>(m_pDocument); }

void CFunctionView::OnInitialUpdate() { CView::OnInitialUpdate(); }

LRESULT CFunctionView::OnUpdateServerListStatus(WPARAM requestId, LPARAM) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return 1;
  doc->OnServerAnswer(static_cast<DWORD>(requestId));
  RefreshServerList();
  return 1;
}

LRESULT CFunctionView::OnDeviceArRmResponse(WPARAM requestId, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->OnDeviceAnswer(static_cast<DWORD>(requestId));
  return 1;
}

LRESULT CFunctionView::OnDeviceChange(WPARAM event, LPARAM broadcast) {
  CTavrinAdminDoc* doc = GetDocument();
  // Notices that were queued before the stop unregistered them are stale (their record may be gone).
  if (!doc || !doc->IsDeviceMappingStarted() || doc->IsStopRunning()) return TRUE;
  if (event == DBT_DEVICEARRIVAL && IsBusDriverNotice(broadcast)) {
    TraceInfo("OnDeviceChange() : DBT_DEVICEARRIVAL ==>\n");
    if (doc->OnControlDeviceArrival(broadcast == 0)) SetTimer(kBusUpTimer, doc->GetPauses().BusUpDelayMs);
    TraceInfo("OnDeviceChange() DBT_DEVICEARRIVAL <==\n");
  } else if (event == DBT_DEVICEREMOVECOMPLETE && IsBusDriverNotice(broadcast)) {
    TraceInfo("OnDeviceChange() : DBT_DEVICEREMOVECOMPLETE ==>\n");
    doc->OnControlDeviceRemoval();
    TraceInfo("OnDeviceChange() : DBT_DEVICEREMOVECOMPLETE <==\n");
  }
  return TRUE;
}

void CFunctionView::OnTimer(UINT_PTR id) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  if (id == kBusUpTimer) {
    KillTimer(kBusUpTimer);
    doc->OnBusUp();
    CTavrinAdminApp* app = GetAdminApp();
    SetTimer(kRefreshTimer, app ? app->AppGuiRefreshPeriod : 5000);
  } else if (id == kRefreshTimer) {
    doc->Refresh([this] { RefreshServerList(); }, [this] { RefreshDeviceTree(); });
  } else if (id == kStartMappingTimer) {
    KillTimer(kStartMappingTimer);
    doc->StartDeviceMapping();
  }
}

LRESULT CFunctionView::OnStatusTextId(WPARAM stringId, LPARAM) {
  CString text;
  text.LoadString(static_cast<UINT>(stringId));
  if (CTavrinAdminDoc* doc = GetDocument()) doc->SetStatusText(text);
  return 1;
}

LRESULT CFunctionView::OnRunStopDeviceMapping(WPARAM askUser, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->StopDeviceMapping(static_cast<BOOL>(askUser));
  return 0;
}

LRESULT CFunctionView::OnRestoreDefaultsDone(WPARAM result, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->OnRestoreFactoryDefaultsDone(static_cast<int>(result));
  return 1;
}

BOOL CFunctionView::GetSelectedDevice(CString* serverIp, WORD* port, CString* state) {
  if (m_nSelectedServer < 0 || m_nSelectedDevice < 0 || m_nSelectedServer >= static_cast<int>(m_DeviceTree.size()))
    return FALSE;
  const TreeServerItem& serverRow = m_DeviceTree[m_nSelectedServer];
  if (m_nSelectedDevice >= static_cast<int>(serverRow.Devices.size())) return FALSE;
  const TreeDeviceItem& row = serverRow.Devices[m_nSelectedDevice];
  GetServerIPFromItem(&serverRow, *serverIp);
  *port = static_cast<WORD>(atoi(row.Port));
  *state = row.State;
  return TRUE;
}

void CFunctionView::MarkSelectedDevice(BOOL requestQueued, BOOL connecting) {
  if (m_nSelectedServer < 0 || m_nSelectedDevice < 0 || m_nSelectedServer >= static_cast<int>(m_DeviceTree.size()))
    return;
  TreeServerItem& serverRow = m_DeviceTree[m_nSelectedServer];
  if (m_nSelectedDevice >= static_cast<int>(serverRow.Devices.size())) return;
  TreeDeviceItem& row = serverRow.Devices[m_nSelectedDevice];
  if (requestQueued) {
    row.State = connecting ? "Loading..." : "Unloading...";
    row.Image = 2;
    row.StateColor = connecting ? kColourLoading : kColourUnloading;
  }
  row.StateFont = kStateFont;
}

std::vector<ServerListRow> CFunctionView::GetSelectedServerRows() const {
  std::vector<ServerListRow> rows;
  for (size_t i = 0; i < m_ServerList.size(); ++i) {
    if (!m_ServerList[i].Selected) continue;
    rows.push_back({static_cast<int>(i), m_ServerList[i].Cells[kServerListIpColumn],
                    m_ServerList[i].Cells[kServerListStatusColumn]});
  }
  return rows;
}

void CFunctionView::SetServerRowText(int row, int column, LPCSTR text) {
  if (row < 0 || row >= static_cast<int>(m_ServerList.size()) || column < 0 || column >= 5) return;
  m_ServerList[static_cast<size_t>(row)].Cells[column] = text;
}

void CFunctionView::ShowSearchResults(const ServerDiscoveryList& servers) {
  m_ServerList.clear();
  CString lastIp;
  for (POSITION position = servers.GetHeadPosition(); position != nullptr;) {
    const ServerDiscoveryRecord& server = servers.GetNext(position);
    const CString ip(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
    if (!m_ServerList.empty() && ip == lastIp) continue;  // the same server answering twice in a row
    lastIp = ip;
    ServerRow row;
    row.Cells[0].Format("%d", static_cast<int>(m_ServerList.size()) + 1);
    GetServerModelName(server.ModelCode, row.Cells[1]);
    const BYTE* mac = server.MacAddress;
    row.Cells[2].Format("%x-%x-%x-%x-%x-%x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    row.Cells[kServerListIpColumn] = ip;
    row.Cells[kServerListStatusColumn] = server.LockFlag == 1 ? "Locked" : "";
    m_ServerList.push_back(row);
  }
}
