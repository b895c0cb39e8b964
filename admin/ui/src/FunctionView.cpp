// The functional pane's window: its two lists, the title, the view switch, the worker threads' answers,
// the bus driver's arrival and removal, the timers and the clicks.
#include "admin/ui/FunctionView.h"

#include <cstdint>
#include <cstdlib>

#include "PaneUtil.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/ui/MainFrame.h"
#include "admin/Resource.h"
#include "win32/resources.h"

IMPLEMENT_DYNCREATE(CFunctionView, CFormView)

namespace {

constexpr int kTitleHeight = 25;  // the lists start below the title

bool IsBusDriverNotice(LPARAM broadcast) {
  if (broadcast == 0) return true;  // WM_USER+15: the special server's confirmation carries no record
  const auto* header = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE*>(broadcast);
  return header->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE && header->dbcc_classguid == GUID_DEVINTERFACE_BUSDRIVER;
}

}  // namespace

CFunctionView::CFunctionView() : CFormView(IDD_FUNCTION_FORM) {}

CFunctionView::~CFunctionView() = default;

const mfc::MessageMap* CFunctionView::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CFunctionView::OnUpdateServerListStatus>(WM_SERVER_ARRM_ANSWER),
      mfc::OnMessage<&CFunctionView::OnDeviceArRmResponse>(WM_DEVICE_ARRM_ANSWER),
      mfc::OnMessage<&CFunctionView::OnStatusTextId>(WM_STATUS_TEXT_ID),
      mfc::OnMessage<&CFunctionView::OnRestoreDefaultsDone>(WM_RESTORE_DEFAULTS_DONE),
      mfc::OnMessage<&CFunctionView::OnDeviceChange>(WM_SPECIAL_SERVER_ARRIVED),
      mfc::OnMessage<&CFunctionView::OnDeviceChange>(WM_DEVICECHANGE),
      mfc::OnMessage<&CFunctionView::OnRunStopDeviceMapping>(WM_RUN_STOP_DEVICE_MAPPING),
      mfc::OnMessage<&CFunctionView::OnNotify>(WM_NOTIFY),
  };
  static const mfc::MessageMap map{CFormView::GetMessageMap(), entries};
  return &map;
}

BOOL CFunctionView::OnCmdMsg(UINT id) {
  if (ForwardToDocument(GetDocument(), id)) return TRUE;
  return CFormView::OnCmdMsg(id);
}

BOOL CFunctionView::HasCommandHandler(UINT id) { return IsForwardedCommand(id) || CFormView::HasCommandHandler(id); }

CTavrinAdminDoc* CFunctionView::GetDocument() const { return dynamic_cast<CTavrinAdminDoc*>(m_pDocument); }

void CFunctionView::DoDataExchange(CDataExchange* dx) {
  CFormView::DoDataExchange(dx);
  DDX_Control(dx, IDC_DEVICE_TREE, m_treeDevices);
  DDX_Control(dx, IDC_SERVER_LIST, m_lstServers);
}

void CFunctionView::OnInitialUpdate() {
  CFormView::OnInitialUpdate();
  SetUpServerList();
  SetUpDeviceTree();
  m_treeDevices.ShowWindow(SW_SHOW);
  m_lstServers.ShowWindow(SW_HIDE);
}

void CFunctionView::SetUpServerList() {
  SetUpDataList(m_lstServers, m_fonts);
  while (m_lstServers.DeleteColumn(0)) {
  }
  m_lstServers.InsertColumn(SERVER_COL_NUMBER, "S.No.", LVCFMT_CENTER, 50);
  m_lstServers.InsertColumn(SERVER_COL_MODEL, "Model", LVCFMT_CENTER, 90);
  m_lstServers.InsertColumn(SERVER_COL_MAC, "MAC Address", LVCFMT_CENTER, 130);
  m_lstServers.InsertColumn(SERVER_COL_IP, "IP Address", LVCFMT_CENTER, 110);
  m_lstServers.InsertColumn(SERVER_COL_STATUS, "Status", LVCFMT_CENTER, 120);
}

void CFunctionView::SetUpDeviceTree() {
  if (HBITMAP states = ::LoadBitmap(nullptr, MAKEINTRESOURCE(IDB_TREE_STATES))) {
    CBitmap bitmap;
    bitmap.Attach(states);
    m_imageList.Create(16, 16, ILC_COLOR24 | ILC_MASK, 0, 1);
    m_imageList.Add(&bitmap, RGB(255, 0, 255));
  }
  m_treeDevices.SetBkColor(kPaneBack);
  m_treeDevices.SetTextBkColor(kPaneBack);
  m_treeDevices.SetTextColor(kListText);
  m_treeDevices.ModifyStyle(0, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
  m_treeDevices.ModifyExStyle(0, 0x100000);
  m_treeDevices.ModifyExStyle(0x800000 | 0x400000, 0x1000000 | 0x200000 | 0x2000000 | 0x20000000);
  if (m_imageList.GetSafeHandle()) m_treeDevices.SetImageList(&m_imageList, TVSIL_NORMAL);
  m_treeDevices.InsertColumn(TREE_COL_INFO, "Device Info", LVCFMT_LEFT, 250);
  m_treeDevices.InsertColumn(TREE_COL_PORT, "Port", LVCFMT_CENTER, 50);
  m_treeDevices.InsertColumn(TREE_COL_CLASS, "Class", LVCFMT_CENTER, 100);
  m_treeDevices.InsertColumn(TREE_COL_STATUS, "Status", LVCFMT_LEFT, 130);
  if (HWND header = m_treeDevices.GetHeaderCtrlHandle()) {
    CWnd::ModifyStyle(header, HDS_BUTTONS, 0, 0);
    ::SendMessage(header, WM_SETFONT, reinterpret_cast<WPARAM>(static_cast<HFONT>(*m_fonts.GetFont(1))), TRUE);
  }
}

void CFunctionView::OnUpdate(CView*, LPARAM, CObject*) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  DWORD& serverManager = doc->m_ViewModeFlags[kFunctionServerManager];
  DWORD& deviceMapping = doc->m_ViewModeFlags[kFunctionDeviceMapping];
  if (serverManager) {
    m_lstServers.ShowWindow(SW_SHOW);
    m_treeDevices.ShowWindow(SW_HIDE);
  } else if (deviceMapping) {
    m_treeDevices.ShowWindow(SW_SHOW);
    m_lstServers.ShowWindow(SW_HIDE);
  } else {
    deviceMapping = 1;
    serverManager = 0;
  }
  RelayoutMainWindow(m_nSizeToggle, true);
}

void CFunctionView::OnSize(UINT type, int cx, int cy) {
  CFormView::OnSize(type, cx, cy);
  for (CWnd* list : {static_cast<CWnd*>(&m_treeDevices), static_cast<CWnd*>(&m_lstServers)})
    if (list->GetSafeHwnd()) list->MoveWindow(0, kTitleHeight, cx, cy - kTitleHeight);
}

void CFunctionView::OnPaint() {
  CPaintDC dc(this);
  CRect client;
  GetClientRect(&client);
  dc.FillSolidRect(&client, kPaneBack);
  CTavrinAdminDoc* doc = GetDocument();
  CString title;
  if (doc && doc->m_ViewModeFlags[kFunctionServerManager]) {
    title.Format("Server Manager - Found %d Servers(s)", m_lstServers.GetSafeHwnd() ? m_lstServers.GetItemCount() : 0);
  } else if (doc && doc->m_ViewModeFlags[kFunctionDeviceMapping]) {
    title = "Device Mapping";
  }
  if (title.IsEmpty()) return;
  CFont font;
  font.CreateFont(20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                  DEFAULT_QUALITY, FF_SWISS, "Arial");
  CFont* old = dc.SelectObject(&font);
  dc.SetTextColor(RGB(0, 0, 255));
  dc.SetBkMode(TRANSPARENT);
  client.top += 2;
  dc.DrawText(title, &client, DT_CENTER | DT_TOP | DT_SINGLELINE);
  dc.SelectObject(old);
}

// --- the worker threads' answers ---

LRESULT CFunctionView::OnUpdateServerListStatus(WPARAM requestId, LPARAM) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return 1;
  doc->OnServerAnswer(static_cast<DWORD>(requestId));
  RefreshServerList();  // the row shows the answer at once
  return 1;
}

LRESULT CFunctionView::OnDeviceArRmResponse(WPARAM requestId, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->OnDeviceAnswer(static_cast<DWORD>(requestId));
  return 1;
}

LRESULT CFunctionView::OnStatusTextId(WPARAM stringId, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->SetStatusText(LoadStringText(static_cast<UINT>(stringId)));
  return 1;
}

LRESULT CFunctionView::OnRestoreDefaultsDone(WPARAM result, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->OnRestoreFactoryDefaultsDone(static_cast<int>(result));
  return 1;
}

LRESULT CFunctionView::OnRunStopDeviceMapping(WPARAM askUser, LPARAM) {
  if (CTavrinAdminDoc* doc = GetDocument()) doc->StopDeviceMapping(static_cast<BOOL>(askUser));
  return 0;
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
    ShowPendingNotices();
    RefreshDetails();
  } else if (id == kStartMappingTimer) {
    KillTimer(kStartMappingTimer);
    doc->StartDeviceMapping();
  }
}

// --- clicks ---

LRESULT CFunctionView::OnNotify(WPARAM, LPARAM lParam) {
  const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
  CTavrinAdminDoc* doc = GetDocument();
  if (!notify || !doc) return 0;
  if (notify->idFrom == IDC_SERVER_LIST) {
    switch (notify->code) {
      case NM_CLICK:
        OnServerListClick();
        return 0;
      case NM_DBLCLK:
        OnServerListDoubleClick();
        return 0;
      case NM_RCLICK:
        doc->ShowServerManagerMenu(this, ContextMenuPoint(*this));
        return 0;
      default:
        break;
    }
  } else if (notify->idFrom == IDC_DEVICE_TREE) {
    switch (notify->code) {
      case NM_CLICK:
        RefreshDetails();
        return 0;
      case NM_RCLICK:
        doc->ShowDeviceMappingMenu(this, ContextMenuPoint(*this), IsDeviceItemSelected(), TRUE);
        return 0;
      default:
        break;
    }
  }
  return DefWindowProc(WM_NOTIFY, 0, lParam);
}

void CFunctionView::OnServerListClick() {
  const int row = FirstSelectedServer();
  if (row < 0) return;
  if (CTavrinAdminDoc* doc = GetDocument()) doc->ShowServerManagerDetails(m_lstServers.GetItemText(row, SERVER_COL_IP));
}

void CFunctionView::OnServerListDoubleClick() {
  const int row = FirstSelectedServer();
  CTavrinAdminDoc* doc = GetDocument();
  if (row < 0 || !doc) return;
  if (m_lstServers.GetItemText(row, SERVER_COL_STATUS) == "Locked") {
    ShowMainFrameMessage(LoadStringText(IDS_SERVER_PASSWORD_PROTECTED), MB_ICONINFORMATION);
    return;
  }
  doc->OnServerConfiguration();
}

void CFunctionView::RefreshDetails() {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc || !m_treeDevices.GetSafeHwnd()) return;
  HTREEITEM item = m_treeDevices.GetFirstSelectedItem();
  if (!item) {
    doc->ClearDeviceDetails();
    return;
  }
  if (IsServerItem(item)) {
    CString serverIp;
    GetServerIPFromItem(item, serverIp);
    doc->ShowDeviceDetails(serverIp, 0);
    return;
  }
  CString serverIp;
  GetServerIPFromItem(m_treeDevices.GetParentItem(item), serverIp);
  doc->ShowDeviceDetails(serverIp, static_cast<WORD>(atoi(m_treeDevices.GetItemText(item, TREE_COL_PORT))));
}
