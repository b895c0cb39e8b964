#include "admin/ui/DetailsFormView.h"

#include <cstring>

#include "PaneUtil.h"
#include "admin/RegistryStore.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/comm/ServerComm.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "admin/Resource.h"
#include "admin/ui/UIThread.h"

IMPLEMENT_DYNCREATE(CDetailsFormView, CFormView)

namespace {

constexpr char kGettingDetails[] = "Gettting the Details...";
constexpr char kNoDetails[] = "Unable to get the details";

void FreeChain(ConnectionEntry* entry) {
  while (entry) {
    ConnectionEntry* next = entry->next;
    delete entry;
    entry = next;
  }
}

CString Field(const char (&text)[CONF_TEXT_SIZE]) { return CString(text, static_cast<int>(strnlen(text, sizeof text))); }

CString Row(const char* format, const CString& value) {
  CString row;
  row.Format(format, value.GetString());
  return row;
}

CString DeviceStatus(const DeviceEntry& device) {
  const DWORD bits = device.RequestStatus;
  const char* freeOrBusy = device.BusyFlag ? "Busy" : "Free";
  switch (device.State) {
    case DEVICE_STATE_FREE:
      return freeOrBusy;
    case DEVICE_STATE_CONNECT_REQUESTED:
    case DEVICE_STATE_CONNECTED:
      if (bits & ARRM_STATUS_PENDING) return "Loading...";
      if (bits & ARRM_STATUS_FAILED) return "Loading Failed";
      if (bits & ARRM_STATUS_SUCCESS) return "Connected";
      return "";
    case DEVICE_STATE_DISCONNECT_REQUESTED:
    case DEVICE_STATE_DISCONNECTED:
      if (bits & ARRM_STATUS_PENDING) return "Unloading...";
      if (bits & ARRM_STATUS_FAILED) return "Unload Failed";
      if (bits & ARRM_STATUS_SUCCESS) return freeOrBusy;
      return "";
    default:
      return "";
  }
}

std::vector<CString> DeviceRows(const DeviceEntry& device) {
  std::vector<CString> rows;
  CString row;
  row.Format("Vid: %.4x", device.Vid);
  rows.push_back(row);
  rows.push_back(device.VendorName ? Row("Vendor Name: %s", device.VendorName) : CString("Vendor Name: Unknown"));
  row.Format("Pid: %.4x", device.Pid);
  rows.push_back(row);
  const bool productKnown = device.ProductStringState == 2 && device.ProductStringLength != 0 && device.ProductString;
  rows.push_back(productKnown ? Row("Product Name: %s", device.ProductString) : CString("Product Name: Unknown"));
  row.Format("Rev: %.4x", device.Rev);
  rows.push_back(row);
  rows.push_back(Row("Class: %s", CTavrinAdminDoc::GetDeviceClassName(device.Class)));
  rows.push_back(Row("ServerIP: %s", CString(device.ServerIp, static_cast<int>(strnlen(device.ServerIp, sizeof device.ServerIp)))));
  row.Format("PortNo: %d", device.PortNum);
  rows.push_back(row);
  rows.push_back(Row("Status: %s", DeviceStatus(device)));

  // Printers (and vendor-specific devices that have a printer) show how they are printed to.
  if (device.Class != 7 && device.Class != 255) return rows;
  rows.emplace_back();
  CRegistryStore registry;
  CString printerName;
  const BOOL printerFound = registry.GetPrinterName(device, printerName);
  if (device.Class == 255 && !printerFound) return rows;
  rows.emplace_back("Printer Details:");
  rows.emplace_back("=============");
  rows.emplace_back("Printing Support: Available");
  if (printerFound) {
    rows.push_back(Row("Printer Name: %s", printerName));
    rows.push_back(Row("Mode: %s", registry.GetAutoReconnect(printerName) ? "Auto Connect" : "Manual"));
  } else {
    rows.push_back(Row("Mode: %s", "Not Configured"));
  }
  return rows;
}

}  // namespace

std::vector<CString> ServerDetailsRows(const TavrinConfInfo& config) {
  CString model, serial;
  GetServerModelName(config.server_model, model);
  serial.Format("Serial no: %u", static_cast<unsigned>(config.serial_no));
  return {"Basic Settings:",
          Row("Server name: %s", Field(config.server_name)),
          Row("Model: %s", model),
          serial,
          Row("Mac adress: %s", Field(config.mac_addr)),
          Row("FW version: %s", Field(config.fw_version)),
          Row("HW version: %s", Field(config.hw_version)),
          "",
          "Network Settings:",
          Row("ServerIP: %s", Field(config.ip_address)),
          Row("Subnet adress: %s", Field(config.net_mask)),
          Row("GateWay adress: %s", Field(config.gate_way)),
          "",
          "Password Settings:",
          Row("Password required : %s", config.enable ? "YES" : "NO")};
}

std::vector<CString> ConnectedClientsRows(const ConnectedClientsInfo& clients) {
  std::vector<CString> rows;
  for (const ConnectionEntry* entry = clients.first; entry; entry = entry->next) {
    CString row;
    row.Format("%s : %u", Field(entry->client_ip).GetString(), static_cast<unsigned>(entry->port_no));
    rows.push_back(row);
  }
  return rows;
}

CDetailsFormView::CDetailsFormView() : CFormView(IDD_DETAILS_FORM) {}

CDetailsFormView::~CDetailsFormView() {
  EndFetch();
  ClearClientsCache();
  ClearConfigCache();
}

const mfc::MessageMap* CDetailsFormView::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CDetailsFormView::OnNotify>(WM_NOTIFY),
      mfc::OnMessage<&CDetailsFormView::OnConfigInfoReply>(WM_CONFIG_INFO_REPLY),
      mfc::OnMessage<&CDetailsFormView::OnConnectedClientsReply>(WM_CONNECTED_CLIENTS_REPLY),
      mfc::OnCommand<&CDetailsFormView::OnRefresh>(ID_REFRESH_DETAILS),
  };
  static const mfc::MessageMap map{CFormView::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc* CDetailsFormView::GetDocument() const { return dynamic_cast<CTavrinAdminDoc*>(m_pDocument); }

void CDetailsFormView::DoDataExchange(CDataExchange* dx) {
  CFormView::DoDataExchange(dx);
  DDX_Control(dx, IDC_CONNECTED_CLIENTS, m_lstConnectedClients);
  DDX_Control(dx, IDC_SERVER_DETAILS, m_lstServerDetails);
  DDX_Control(dx, IDC_DEVICE_DETAILS, m_lstDeviceDetails);
}

void CDetailsFormView::OnInitialUpdate() {
  CFormView::OnInitialUpdate();
  SetUpDataList(m_lstDeviceDetails, m_fonts);
  SetUpDataList(m_lstServerDetails, m_fonts);
  SetUpDataList(m_lstConnectedClients, m_fonts);
  m_lstDeviceDetails.InsertColumn(0, "Device Details", LVCFMT_LEFT, 200);
  m_lstServerDetails.InsertColumn(0, "Server Details", LVCFMT_LEFT, 200);
  m_lstConnectedClients.InsertColumn(0, "Connected Clients (IP : USB Port)", LVCFMT_LEFT, 200);
  m_lstDeviceDetails.ShowWindow(SW_SHOW);
  m_lstServerDetails.ShowWindow(SW_HIDE);
  m_lstConnectedClients.ShowWindow(SW_HIDE);
}

void CDetailsFormView::OnSize(UINT type, int cx, int cy) {
  CFormView::OnSize(type, cx, cy);
  if (!m_lstDeviceDetails.GetSafeHwnd() || !m_lstServerDetails.GetSafeHwnd()) return;
  m_lstDeviceDetails.MoveWindow(0, 0, cx, cy);
  m_lstServerDetails.MoveWindow(0, 0, cx, cy - cy / 3);
  if (m_lstConnectedClients.GetSafeHwnd()) m_lstConnectedClients.MoveWindow(0, cy - cy / 3, cx, cy / 3);
}

void CDetailsFormView::OnPaint() { FillPaneBackground(*this); }

void CDetailsFormView::OnUpdate(CView*, LPARAM, CObject*) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  DWORD& serverManager = doc->m_ViewModeFlags[kDetailsServerManager];
  DWORD& deviceMapping = doc->m_ViewModeFlags[kDetailsDeviceMapping];
  if (serverManager) {
    m_lstServerDetails.ShowWindow(SW_SHOW);
    m_lstConnectedClients.ShowWindow(SW_SHOW);
    m_lstDeviceDetails.ShowWindow(SW_HIDE);
  } else if (deviceMapping) {
    m_lstDeviceDetails.ShowWindow(SW_SHOW);
    m_lstServerDetails.ShowWindow(SW_HIDE);
    m_lstConnectedClients.ShowWindow(SW_HIDE);
  } else {
    deviceMapping = 1;
    serverManager = 0;
  }
  RelayoutMainWindow(m_nSizeToggle, false);
}

LRESULT CDetailsFormView::OnNotify(WPARAM, LPARAM lParam) {
  const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
  if (notify && notify->code == NM_RCLICK &&
      (notify->idFrom == IDC_SERVER_DETAILS || notify->idFrom == IDC_CONNECTED_CLIENTS)) {
    m_nRefreshTarget = notify->idFrom == IDC_SERVER_DETAILS ? 1 : 0;
    if (CTavrinAdminDoc* doc = GetDocument()) doc->ShowDetailsMenu(this, ContextMenuPoint(*this));
    return 0;
  }
  return DefWindowProc(WM_NOTIFY, 0, lParam);
}

// --- lists ---

void CDetailsFormView::ShowRows(CHeaderListCtrl& list, const std::vector<CString>& rows) {
  if (!list.GetSafeHwnd()) return;
  list.DeleteAllItems();
  for (size_t row = 0; row < rows.size(); ++row) list.InsertItem(static_cast<int>(row), rows[row]);
}

void CDetailsFormView::SetHeading(CHeaderListCtrl& list, LPCSTR heading) {
  if (!list.GetSafeHwnd()) return;
  list.DeleteColumn(0);
  list.InsertColumn(0, heading, LVCFMT_LEFT, 260);
}

std::vector<CString> CDetailsFormView::ReadRows(const CHeaderListCtrl& list) const {
  std::vector<CString> rows;
  if (!list.GetSafeHwnd()) return rows;
  const int count = list.GetItemCount();
  for (int row = 0; row < count; ++row) rows.push_back(list.GetItemText(row, 0));
  return rows;
}

std::vector<CString> CDetailsFormView::GetDeviceDetails() const { return ReadRows(m_lstDeviceDetails); }
std::vector<CString> CDetailsFormView::GetServerDetails() const { return ReadRows(m_lstServerDetails); }
std::vector<CString> CDetailsFormView::GetConnectedClients() const { return ReadRows(m_lstConnectedClients); }

void CDetailsFormView::ShowDeviceDetails(LPCSTR strIP, WORD wPort) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!m_lstDeviceDetails.GetSafeHwnd()) return;
  m_lstDeviceDetails.DeleteAllItems();
  if (wPort == 0) {
    SetHeading(m_lstDeviceDetails, LoadStringText(IDS_SERVER_DETAILS_HEADING));
    ServerPresenceEntry server{};
    if (!doc || !doc->FindServerPresence(strIP, &server)) return;
    ShowRows(m_lstDeviceDetails, {Row("ServerIP: %s", strIP), Row("Status: %s", ServerStateText(server))});
    return;
  }
  SetHeading(m_lstDeviceDetails, LoadStringText(IDS_DEVICE_DETAILS_HEADING));
  DeviceEntry device{};
  if (!doc || !doc->GetDevice(strIP, wPort, &device)) return;
  ShowRows(m_lstDeviceDetails, DeviceRows(device));
}

void CDetailsFormView::ClearDeviceDetails() {
  if (m_lstDeviceDetails.GetSafeHwnd()) m_lstDeviceDetails.DeleteAllItems();
}

void CDetailsFormView::ClearServerDetails() {
  if (m_lstServerDetails.GetSafeHwnd()) m_lstServerDetails.DeleteAllItems();
  if (m_lstConnectedClients.GetSafeHwnd()) m_lstConnectedClients.DeleteAllItems();
}

// --- the caches ---

const CDetailsFormView::ConfigCacheEntry* CDetailsFormView::FindConfig(const CString& ip) const {
  for (const ConfigCacheEntry& entry : m_lstConfigCache)
    if (entry.ServerIp == ip) return &entry;
  return nullptr;
}

const CDetailsFormView::ClientsCacheEntry* CDetailsFormView::FindClients(const CString& ip) const {
  for (const ClientsCacheEntry& entry : m_lstClientsCache)
    if (entry.ServerIp == ip) return &entry;
  return nullptr;
}

void CDetailsFormView::RemoveClients(const CString& ip) {
  for (auto entry = m_lstClientsCache.begin(); entry != m_lstClientsCache.end(); ++entry) {
    if (!(entry->ServerIp == ip)) continue;
    FreeChain(entry->Clients.first);
    m_lstClientsCache.erase(entry);
    return;
  }
}

void CDetailsFormView::ClearClientsCache() {
  for (ClientsCacheEntry& entry : m_lstClientsCache) FreeChain(entry.Clients.first);
  m_lstClientsCache.clear();
}

void CDetailsFormView::ClearConfigCache() { m_lstConfigCache.clear(); }

// --- fetching ---

BOOL CDetailsFormView::BeginFetch() {
  // One fetch at a time, and none behind another operation's wait window: the running one keeps its
  // command client, its wait window and its server.
  if (m_pServerComm || g_pWaitThread) {
    TraceError("Details :: a fetch is under way already; this one is refused\n");
    return FALSE;
  }
  if (!OpenWaitWindow(kWaitProgressMoving, "Please Wait...")) return FALSE;
  m_pWaitThread = g_pWaitThread;
  m_pServerComm = new CServerComm;
  return TRUE;
}

void CDetailsFormView::EndFetch() {
  // Only the wait window this pane opened is closed here.
  if (m_pWaitThread && m_pWaitThread == g_pWaitThread) CloseWaitWindow();
  m_pWaitThread = nullptr;
  delete m_pServerComm;
  m_pServerComm = nullptr;
}

void CDetailsFormView::RequestConfig(LPCSTR failureFormat) {
  const DWORD result = m_pServerComm->GetConfigInfo(m_strServerIP, nullptr, m_hWnd, WM_CONFIG_INFO_REPLY);
  if (result == 0) return;
  TraceError(failureFormat, static_cast<int>(result));
  PostMessage(WM_CONFIG_INFO_REPLY, result, 0);
}

void CDetailsFormView::RequestClients(LPCSTR failureFormat) {
  const DWORD result = m_pServerComm->GetConnectedClientDetails(m_strServerIP, nullptr, m_hWnd, WM_CONNECTED_CLIENTS_REPLY);
  if (result == 0) return;
  TraceError(failureFormat, static_cast<int>(result));
  PostMessage(WM_CONNECTED_CLIENTS_REPLY, result, 0);
}

void CDetailsFormView::ShowServerManagerDetails(LPCSTR strIP) {
  if (m_pServerComm) {
    TraceError("Details :: a fetch is under way already; this one is refused\n");
    return;
  }
  const CString ip(strIP);
  const ConfigCacheEntry* config = FindConfig(ip);
  const ClientsCacheEntry* clients = FindClients(ip);
  // Anything to fetch waits behind the wait window; a fetch that cannot start changes nothing.
  if ((!config || !clients) && !BeginFetch()) return;
  ShowRows(m_lstServerDetails, config ? ServerDetailsRows(config->Config) : std::vector<CString>{kGettingDetails});
  if (clients) {
    m_bConfigOnly = 1;
    ShowRows(m_lstConnectedClients, ConnectedClientsRows(clients->Clients));
  } else {
    m_bConfigOnly = 0;
    ShowRows(m_lstConnectedClients, {kGettingDetails});
  }
  m_strServerIP = ip;
  if (!config) {
    RequestConfig("ShowServerManagerDetails() :: Error in Getting Configinfo..%d\n");
  } else if (!clients) {
    RequestClients("ShowServerManagerDetails() :: Error in Getting Connected Clients info..%d\n");
  }
}

LRESULT CDetailsFormView::OnConfigInfoReply(WPARAM result, LPARAM) {
  if (!m_pServerComm) return 1;  // no fetch of this pane is waiting for it
  if (result != 0) {
    ShowRows(m_lstServerDetails, {kNoDetails});
  } else {
    ConfigCacheEntry entry{m_strServerIP, m_pServerComm->m_TavrinConfInfo};
    m_lstConfigCache.push_back(entry);
    ShowRows(m_lstServerDetails, ServerDetailsRows(entry.Config));
  }
  if (m_bConfigOnly == 1) {
    EndFetch();
    return 1;
  }
  RequestClients("ShowServerManagerDetails() :: Error in Getting Connected clients info..%d\n");
  return 1;
}

LRESULT CDetailsFormView::OnConnectedClientsReply(WPARAM result, LPARAM) {
  if (!m_pServerComm) return 1;
  if (m_pWaitThread && m_pWaitThread == g_pWaitThread) CloseWaitWindow();
  m_pWaitThread = nullptr;
  if (result != 0) {
    ShowRows(m_lstConnectedClients, {kNoDetails});
  } else {
    ClientsCacheEntry entry{m_strServerIP, {}};
    m_pServerComm->CopyConnectedClients(&entry.Clients);
    m_lstClientsCache.push_back(entry);
    ShowRows(m_lstConnectedClients, ConnectedClientsRows(entry.Clients));
  }
  EndFetch();
  return 1;
}

void CDetailsFormView::OnRefresh() {
  CMainFrame* frame = GetAdminMainFrame();
  CFunctionView* functions = frame ? frame->GetFunctionView() : nullptr;
  const std::vector<ServerListRow> selected = functions ? functions->GetSelectedServerRows() : std::vector<ServerListRow>{};
  if (selected.empty() || !BeginFetch()) return;
  m_strServerIP = selected.front().Ip;
  if (m_nRefreshTarget == 0) {
    ShowRows(m_lstConnectedClients, {kGettingDetails});
    RemoveClients(m_strServerIP);
    RequestClients("OnRefresh() :: Error in Getting Connected Clients info..%d\n");
    return;
  }
  ShowRows(m_lstServerDetails, {kGettingDetails});
  for (auto entry = m_lstConfigCache.begin(); entry != m_lstConfigCache.end(); ++entry) {
    if (entry->ServerIp == m_strServerIP) {
      m_lstConfigCache.erase(entry);
      break;
    }
  }
  m_bConfigOnly = 1;
  RequestConfig("OnRefresh() :: Error in Getting Configinfo..%d\n");
}
