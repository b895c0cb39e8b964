#include "admin/ui/MainFrame.h"

#include <ctime>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/AboutDlg.h"
#include "admin/Trace.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/DetailsFormView.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/LeftTreeView.h"
#include "admin/ui/ServerDialogs.h"
#include "admin/ui/SplashScreenWnd.h"
#include "admin/ui/UIThread.h"
#include "admin/upgrade/SettingsLibrary.h"
#include "admin/util/Utilities.h"
#include "controls/shared_colors.h"
#include "win32/shell.h"

IMPLEMENT_DYNCREATE(CMainFrame, CNewFrameWnd)

const WORD kMainMenuIcons[] = {IDB_MENU_ICONS,
                               20,
                               20,
                               ID_SETTINGS,
                               ID_EXIT,
                               ID_FUNCTION_SERVER_MANAGER,
                               ID_FUNCTION_DEVICE_MAPPING,
                               ID_SEARCH_SERVERS,
                               ID_UNLOCK,
                               ID_UPGRADE_FIRMWARE,
                               ID_SERVER_CONFIGURATION,
                               ID_RESTORE_FACTORY_DEFAULTS,
                               ID_START_DEVICE_MAPPING,
                               ID_STOP_DEVICE_MAPPING,
                               ID_CONNECT,
                               ID_DISCONNECT,
                               ID_PRINTER_AUTO_CONNECT,
                               ID_VIEW_TOOL_BAR,
                               ID_VIEW_FUNCTIONAL_PANEL,
                               ID_VIEW_LOG_PANEL,
                               ID_VIEW_DETAILS_PANEL,
                               ID_ONLINE_HELP,
                               ID_APP_ABOUT,
                               0};

namespace {

constexpr UINT WM_SHOW_STATUS_TEXT = WM_APP + 20;  // another thread's status line, shown by the frame's
constexpr int kStatusPane = 1;
constexpr int kClockPane = 2;
// The menu bar position of the function pop-up.
constexpr UINT kFunctionPopupPosition = 2;

FramePauses g_pauses;

}  // namespace

void CMainFrame::SetPauses(const FramePauses& pauses) { g_pauses = pauses; }

const mfc::MessageMap* CMainFrame::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CMainFrame::OnCloseProgram>(WM_CLOSE_PROGRAM),
      mfc::OnMessage<&CMainFrame::OnShowStatusText>(WM_SHOW_STATUS_TEXT),
      mfc::OnCommand<&CMainFrame::OnExit>(ID_EXIT),
      mfc::OnCommand<&CMainFrame::OnExit>(ID_TRAY_EXIT),
      mfc::OnCommand<&CMainFrame::OnSettings>(ID_SETTINGS),
      mfc::OnCommand<&CMainFrame::OnFunctionServerManager>(ID_FUNCTION_SERVER_MANAGER),
      mfc::OnCommand<&CMainFrame::OnFunctionDeviceMapping>(ID_FUNCTION_DEVICE_MAPPING),
      mfc::OnCommand<&CMainFrame::OnViewToolBar>(ID_VIEW_TOOL_BAR),
      mfc::OnCommand<&CMainFrame::OnViewLogPanel>(ID_VIEW_LOG_PANEL),
      mfc::OnCommand<&CMainFrame::OnViewFunctionalPanel>(ID_VIEW_FUNCTIONAL_PANEL),
      mfc::OnCommand<&CMainFrame::OnViewDetailsPanel>(ID_VIEW_DETAILS_PANEL),
      mfc::OnCommand<&CMainFrame::OnOnlineHelp>(ID_ONLINE_HELP),
      mfc::OnCommand<&CMainFrame::OnTrayShow>(ID_TRAY_SHOW),
      mfc::OnCommand<&CMainFrame::OnStartDeviceMapping>(ID_START_DEVICE_MAPPING),
      mfc::OnCommand<&CMainFrame::OnStopDeviceMapping>(ID_STOP_DEVICE_MAPPING),
      mfc::OnCommand<&CMainFrame::OnConnectDisconnect>(ID_CONNECT),
      mfc::OnCommand<&CMainFrame::OnConnectDisconnect>(ID_DISCONNECT),
      mfc::OnCommand<&CMainFrame::OnPrinterAutoConnect>(ID_PRINTER_AUTO_CONNECT),
      mfc::OnCommand<&CMainFrame::OnSearchServers>(ID_SEARCH_SERVERS),
      mfc::OnCommand<&CMainFrame::OnUnlock>(ID_UNLOCK),
      mfc::OnCommand<&CMainFrame::OnUpgradeFirmware>(ID_UPGRADE_FIRMWARE),
      mfc::OnCommand<&CMainFrame::OnServerConfiguration>(ID_SERVER_CONFIGURATION),
      mfc::OnCommand<&CMainFrame::OnRestoreFactoryDefaults>(ID_RESTORE_FACTORY_DEFAULTS),
  };
  static const mfc::MessageMap map{CNewFrameWnd::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc* CMainFrame::Document() const {
  if (m_pDocument) return m_pDocument;
  CTavrinAdminApp* app = GetAdminApp();
  return app ? app->GetDocument() : nullptr;
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) {
  if (!CNewFrameWnd::PreCreateWindow(cs)) return FALSE;
  cs.style &= ~FWS_ADDTOTITLE;  // the title is the program's, never the document's
  return TRUE;
}

// ---- creation ----

int CMainFrame::OnCreate(LPCREATESTRUCT createStruct) {
  m_dwThreadId = GetCurrentThreadId();
  // The program's colours for every coloured control of the panes made below.
  if (CTavrinAdminApp* app = GetAdminApp()) {
    g_clrWindowBack = app->m_clrDialogBk;
    g_clrControlBack = app->m_clrTabBk;
    g_clrControlText = app->m_clrButtonText;
  }
  if (CNewFrameWnd::OnCreate(createStruct) == -1) return -1;
  // The frame's own paint spares its panes: they paint only what changes in them.
  ModifyStyle(0, WS_CLIPCHILDREN);

  if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT,
                             WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY |
                                 CBRS_SIZE_DYNAMIC,
                             CRect(0, 0, 0, 0), AFX_IDW_TOOLBAR) ||
      !m_wndToolBar.LoadToolBar(IDR_DEVICE_MAPPING))
    return -1;
  m_wndToolBar.ModifyStyleEx(0, WS_EX_TRANSPARENT);
  m_wndToolBar.LoadBitmap(IDB_DEVICE_MAPPING_BUTTONS);

  static const UINT indicators[] = {ID_SEPARATOR, ID_SEPARATOR, ID_SEPARATOR};
  if (!m_wndStatusBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR) ||
      !m_wndStatusBar.SetIndicators(indicators, 3))
    return -1;

  SetTimer(kClockTimer, kClockPeriodMs);

  // A little larger than the framework made it: each coordinate of the corner by a twelfth of itself.
  CRect window;
  GetWindowRect(&window);
  window.right += window.right / 12;
  window.bottom += window.bottom / 12;
  MoveWindow(&window, TRUE);

  const int third = window.Width() / 3;
  m_wndStatusBar.SetPaneInfo(0, ID_SEPARATOR, 0, third + 30);
  m_wndStatusBar.SetPaneInfo(kStatusPane, ID_SEPARATOR, 0, third + 70);
  m_wndStatusBar.SetPaneInfo(kClockPane, ID_SEPARATOR, 0, third - 10);
  m_wndStatusBar.SetPaneText(0, "Ready");

  m_DefaultNewMenu.LoadToolBar(kMainMenuIcons, RGB(192, 192, 192));

  // The bar keeps one function pop-up at position 2: Device Mapping at the start.
  m_pMainMenu = &m_DefaultNewMenu;
  m_pServerManagerPopup = m_DefaultNewMenu.GetSubMenu(2);
  m_pDeviceMappingPopup = m_DefaultNewMenu.GetSubMenu(3);
  m_DefaultNewMenu.RemoveMenu(kFunctionPopupPosition, MF_BYPOSITION);
  ::DrawMenuBar(m_hWnd);

  CSplashScreenWnd::ShowSplashScreen(this);
  if (CSplashScreenWnd::IsShowing() && g_pauses.SplashHoldMs) Sleep(g_pauses.SplashHoldMs);
  CenterWindow();
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_ADD);
  return 0;
}

BOOL CMainFrame::OnCreateClient(LPCREATESTRUCT, CCreateContext* context) {
  CRect client;
  GetClientRect(&client);
  const int cx = client.Width(), cy = client.Height();
  auto trace = [](LPCSTR line) {
    TraceInfo("%s\n", line);
    return FALSE;
  };
  if (!m_wndSplitterOuter.CreateStatic(this, 2, 1, WS_CHILD | WS_VISIBLE, AFX_IDW_PANE_FIRST))
    return trace("failed to create the splitter");
  if (!m_wndSplitterOuter.CreateView(1, 0, RUNTIME_CLASS(CBottemFormView), CSize(cx, cy / 4), context))
    return trace("Failed to create view in first pane");
  if (!m_wndSplitterInner.CreateStatic(&m_wndSplitterOuter, 1, 3, WS_CHILD | WS_VISIBLE,
                                       static_cast<UINT>(m_wndSplitterOuter.IdFromRowCol(0, 0))))
    return trace("failed to create the splitter");
  if (!m_wndSplitterInner.CreateView(0, 0, RUNTIME_CLASS(CLeftTreeView), CSize(cx / 7, cy * 3 / 4), context))
    return trace("Failed to create view in first pane");
  if (!m_wndSplitterInner.CreateView(0, 1, RUNTIME_CLASS(CFunctionView), CSize(cx * 2 / 3, cy * 3 / 4), context))
    return trace("Failed to create view in first pane");
  if (!m_wndSplitterInner.CreateView(0, 2, RUNTIME_CLASS(CDetailsFormView), CSize(cx * 4 / 21, cy * 3 / 4), context))
    return FALSE;
  m_wndSplitterOuter.SetRowInfo(0, cy * 2 / 3, 0);

  m_pBottemFormView = static_cast<CBottemFormView*>(m_wndSplitterOuter.CreatedPane(1, 0));
  m_pLeftTreeView = static_cast<CLeftTreeView*>(m_wndSplitterInner.CreatedPane(0, 0));
  m_pFunctionView = static_cast<CFunctionView*>(m_wndSplitterInner.CreatedPane(0, 1));
  m_pDetailsFormView = static_cast<CDetailsFormView*>(m_wndSplitterInner.CreatedPane(0, 2));
  // Commands go to the navigation pane first (it forwards the function commands), then to the frame.
  SetActiveView(m_pLeftTreeView);
  m_pDocument = context ? dynamic_cast<CTavrinAdminDoc*>(context->m_pCurrentDoc) : nullptr;
  if (m_pDocument) {
    m_pDocument->SetPanes(this);
    m_pDocument->SetServerDialogs(GetAdminServerDialogs());
  }
  return TRUE;
}

void CMainFrame::RecalcLayout() {
  CRect client;
  GetClientRect(&client);
  mfc::RepositionBars(this, client);
  if (m_wndSplitterOuter.m_hWnd) m_wndSplitterOuter.MoveWindow(&client);
}

void CMainFrame::OnDestroy() {
  KillTimer(kClockTimer);
  // The panes go after this: the document stops reporting to them first.
  if (m_pDocument && m_pDocument->GetPanes() == this) {
    m_pDocument->SetPanes(nullptr);
    m_pDocument->SetServerDialogs(nullptr);
  }
  m_pDocument = nullptr;
  CSplashScreenWnd::HideSplashScreen();
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_DELETE);
  CNewFrameWnd::OnDestroy();
}

// ---- the window's life in the tray ----

void CMainFrame::OnClose() { ShowWindow(SW_HIDE); }

void CMainFrame::OnSize(UINT type, int cx, int cy) {
  if (type == SIZE_MINIMIZED) {
    ShowWindow(SW_MINIMIZE);
    return;
  }
  CNewFrameWnd::OnSize(type, cx, cy);
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TRAY_NOTIFY:
      return OnTrayNotification(wParam, lParam);
    case WM_POWERBROADCAST:
      OnPowerBroadcast(wParam);
      return CNewFrameWnd::WindowProc(message, wParam, lParam);
    case WM_QUERYENDSESSION:
      return OnQueryEndSession(lParam);
    case WM_SHOWWINDOW:
      if (wParam && m_wndToolBar.m_hWnd) m_wndToolBar.UpdateButtons(this);
      return CNewFrameWnd::WindowProc(message, wParam, lParam);
    default:
      return CNewFrameWnd::WindowProc(message, wParam, lParam);
  }
}

void CMainFrame::ShowFromTray() {
  ShowWindow(SW_SHOWNORMAL);
  ::SetForegroundWindow(m_hWnd);
  ::SetFocus(m_hWnd);
}

LRESULT CMainFrame::OnTrayNotification(WPARAM iconId, LPARAM mouseMessage) {
  const bool ours = iconId == IDR_MAINFRAME;
  switch (static_cast<UINT>(mouseMessage)) {
    case WM_LBUTTONDBLCLK:
      if (ours) ShowFromTray();
      break;
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
      if (IsIconic()) {
        if (ours) ShowFromTray();
      } else if (!IsWindowVisible()) {
        POINT cursor{};
        ::GetCursorPos(&cursor);
        ::SetForegroundWindow(m_hWnd);
        if (CTavrinAdminDoc* doc = Document()) doc->ShowTrayMenu(this, cursor);
        PostMessage(WM_NULL);  // lets the menu close properly
      }
      break;
    default:
      break;
  }
  return 1;
}

void CMainFrame::OnPowerBroadcast(WPARAM event) {
  CTavrinAdminDoc* doc = Document();
  if (!doc || !doc->IsDeviceMappingStarted()) return;
  LPCSTR text = nullptr;
  if (event == PBT_APMSUSPEND) {
    if (!doc->IsDisconnectingAll()) doc->SetSuspend(TRUE);
    text = "System entering in to Sleep State(Standby/Hibernate)...";
  } else if (event == PBT_APMRESUMESUSPEND) {
    if (!doc->IsDisconnectingAll()) doc->SetResume(TRUE);
    text = "System resuming from Standby/Hibernate...Please Wait!!";
  }
  if (!text) return;
  SetStatusText(text);
  doc->AddDeviceMappingLog(text);
  TraceError("%s\n", text);
}

void CMainFrame::OnExit() {
  CTavrinAdminDoc* doc = Document();
  // Chosen while a stop pumps messages: closing now would delete the document under the stop. The
  // program ends as soon as the stop is over.
  if (doc && doc->IsStopRunning()) {
    doc->CloseProgramAfterStop();
    return;
  }
  if (doc && doc->IsDeviceMappingStarted()) {
    CString text;
    text.LoadString(IDS_STOP_MAPPING_BEFORE_EXIT);
    ShowMessageBox(text, MB_ICONINFORMATION);
    return;
  }
  CloseProgram();
}

// A log-off while device mapping runs is refused, as Exit is; a shut-down is not asked.
LRESULT CMainFrame::OnQueryEndSession(LPARAM lParam) {
  CTavrinAdminDoc* doc = Document();
  if (!(lParam & ENDSESSION_LOGOFF) || !doc || !doc->IsDeviceMappingStarted()) return 1;
  CString text;
  text.LoadString(IDS_STOP_MAPPING_BEFORE_EXIT);
  ShowMessageBox(text, MB_OK);
  return 0;
}

void CMainFrame::CloseProgram() {
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_DELETE);
  CNewFrameWnd::OnClose();
}

LRESULT CMainFrame::OnCloseProgram(WPARAM, LPARAM) {
  CTavrinAdminDoc* doc = Document();
  if (doc && doc->IsStopRunning()) {
    doc->CloseProgramAfterStop();  // this message came from inside the stop's message pumping
    return 0;
  }
  // The exit monitor has stopped device mapping already; a stop the user cancelled meanwhile is done now.
  if (doc && doc->IsDeviceMappingStarted()) doc->StopDeviceMapping(FALSE);
  CloseProgram();
  return 0;
}

void CMainFrame::OnTrayShow() { ShowWindow(SW_SHOW); }

// ---- status bar, clock and boxes ----

void CMainFrame::OnTimer(UINT_PTR id) {
  // Five ticks a second show the same second four times: only a new second is written out.
  const time_t now = time(nullptr);
  if (now != m_tClockShown && m_wndStatusBar.m_hWnd) {
    tm local{};
    localtime_r(&now, &local);
    CString clock;
    clock.Format("%d/%d/%d %.2d:%.2d:%.2d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour,
                 local.tm_min, local.tm_sec);
    m_wndStatusBar.SetPaneText(kClockPane, clock);
    m_tClockShown = now;
  }
  // The toolbar follows the command rules as the menus do when they open; a frame in the tray shows no
  // toolbar, and catches up as it is shown.
  if (id == kClockTimer && IsWindowVisible()) m_wndToolBar.UpdateButtons(this);
  CNewFrameWnd::OnTimer(id);
}

void CMainFrame::SetStatusText(LPCSTR text) {
  {
    std::lock_guard lock(m_statusMutex);
    m_strStatusText = text;
  }
  if (!m_hWnd) return;
  if (GetCurrentThreadId() == m_dwThreadId) OnShowStatusText(0, 0);
  else PostMessage(WM_SHOW_STATUS_TEXT);
}

LRESULT CMainFrame::OnShowStatusText(WPARAM, LPARAM) {
  if (m_wndStatusBar.m_hWnd) m_wndStatusBar.SetPaneText(kStatusPane, GetStatusText());
  return 0;
}

void CMainFrame::SetStatusTextById(UINT stringId) {
  CString text;
  text.LoadString(stringId);
  SetStatusText(text);
}

CString CMainFrame::GetStatusText() const {
  std::lock_guard lock(m_statusMutex);
  return m_strStatusText;
}

int CMainFrame::ShowMessageBox(LPCSTR text, UINT style, UINT) {
  ShowWindow(SW_SHOW);
  CWinApp* app = AfxGetApp();
  return ::MessageBox(m_hWnd, text, app && app->m_pszAppName ? app->m_pszAppName : kAdminAppTitle, style);
}

// ---- File, Functions, View and Help ----

void CMainFrame::OnSettings() {
  RunSettingsLibrary([this](const CString& text, UINT type) { ShowMessageBox(text, type); });
}

void CMainFrame::OnFunctionServerManager() {
  if (!m_pLeftTreeView) return;
  m_pLeftTreeView->SelectItem(CLeftTreeView::kServerManagerItem);
  m_pLeftTreeView->SwitchView();
}

void CMainFrame::OnFunctionDeviceMapping() {
  if (!m_pLeftTreeView) return;
  m_pLeftTreeView->SelectItem(CLeftTreeView::kDeviceMappingItem);
  m_pLeftTreeView->SwitchView();
}

void CMainFrame::ShowFunctionPopup(BOOL serverManager) {
  CNewMenu* popup = serverManager ? m_pServerManagerPopup : m_pDeviceMappingPopup;
  if (!m_pMainMenu || !popup) return;
  m_pMainMenu->RemoveMenu(kFunctionPopupPosition, MF_BYPOSITION);
  m_pMainMenu->InsertMenu(kFunctionPopupPosition, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(popup->m_hMenu),
                          serverManager ? "&Server Manager" : "&Device Mapping");
  ::DrawMenuBar(m_hWnd);
  m_wndToolBar.LoadToolBar(serverManager ? IDR_SERVER_MANAGER : IDR_DEVICE_MAPPING);
  m_wndToolBar.LoadBitmap(serverManager ? IDB_SERVER_MANAGER_BUTTONS : IDB_DEVICE_MAPPING_BUTTONS);
  m_wndToolBar.UpdateButtons(this);
  RecalcLayout();
}

void CMainFrame::OnViewToolBar() {
  m_bToolBarShown = !m_bToolBarShown;
  m_wndToolBar.ShowWindow(m_bToolBarShown ? SW_SHOW : SW_HIDE);
  SendMessage(WM_SIZE, 0, 0);
}

void CMainFrame::OnViewLogPanel() {
  m_bLogPanelShown = !m_bLogPanelShown;
  if (m_bLogPanelShown) m_wndSplitterOuter.ShowRow();
  else m_wndSplitterOuter.HideRow(1);
}

void CMainFrame::RedrawPane(CWnd* pane) {
  if (pane && pane->m_hWnd) pane->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CMainFrame::OnViewFunctionalPanel() {
  m_bNavigationPaneShown = !m_bNavigationPaneShown;
  if (m_bNavigationPaneShown) m_wndSplitterInner.ShowColumn(0);
  else m_wndSplitterInner.HideColumn(0);
  RedrawPane(m_pFunctionView);
  RedrawPane(m_pDetailsFormView);
}

void CMainFrame::OnViewDetailsPanel() {
  m_bDetailsPanelShown = !m_bDetailsPanelShown;
  if (m_bDetailsPanelShown) m_wndSplitterInner.ShowColumn(2);
  else m_wndSplitterInner.HideColumn(2);
  RedrawPane(m_pFunctionView);
  RedrawPane(m_pLeftTreeView);
}

void CMainFrame::OnOnlineHelp() { ShowMessageBox("Pelko Admin Help", MB_ICONINFORMATION); }

// ---- the document's commands, forwarded as they come ----

void CMainFrame::OnStartDeviceMapping() {
  if (CTavrinAdminDoc* doc = Document()) doc->StartDeviceMapping();
}
void CMainFrame::OnStopDeviceMapping() {
  if (CTavrinAdminDoc* doc = Document()) doc->StopDeviceMapping(TRUE);
}
void CMainFrame::OnConnectDisconnect() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnConnectDisconnect();
}
void CMainFrame::OnPrinterAutoConnect() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnPrinterAutoConnect();
}
void CMainFrame::OnSearchServers() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnSearchServers();
}
void CMainFrame::OnUnlock() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnUnlock();
}
void CMainFrame::OnUpgradeFirmware() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnUpgradeFirmware();
}
void CMainFrame::OnServerConfiguration() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnServerConfiguration();
}
void CMainFrame::OnRestoreFactoryDefaults() {
  if (CTavrinAdminDoc* doc = Document()) doc->OnRestoreFactoryDefaults();
}

// ---- IDocPanes: the panes ----

void CMainFrame::AddDeviceMappingLog(LPCSTR text) {
  if (m_pBottemFormView) m_pBottemFormView->AddDeviceMappingLog(text);
}

void CMainFrame::AddServerManagerLog(LPCSTR text) {
  if (m_pBottemFormView) m_pBottemFormView->AddServerManagerLog(text);
}

void CMainFrame::ShowDeviceDetails(LPCSTR serverIp, WORD port) {
  if (m_pDetailsFormView) m_pDetailsFormView->ShowDeviceDetails(serverIp, port);
}

void CMainFrame::ClearDeviceDetails() {
  if (m_pDetailsFormView) m_pDetailsFormView->ClearDeviceDetails();
}

void CMainFrame::ShowServerManagerDetails(LPCSTR serverIp) {
  if (m_pDetailsFormView) m_pDetailsFormView->ShowServerManagerDetails(serverIp);
}

void CMainFrame::ClearServerDetails() {
  if (m_pDetailsFormView) m_pDetailsFormView->ClearServerDetails();
}

HWND CMainFrame::GetFunctionWindow() const { return m_pFunctionView ? m_pFunctionView->GetSafeHwnd() : nullptr; }

void CMainFrame::DeleteServerItem(LPCSTR serverIp) {
  if (m_pFunctionView) m_pFunctionView->DeleteServerItem(serverIp);
}

void CMainFrame::DeleteDeviceItem(const DeviceEntry& device) {
  if (m_pFunctionView) m_pFunctionView->DeleteDeviceItem(device);
}

void CMainFrame::DeleteAllTreeItems() {
  if (m_pFunctionView) m_pFunctionView->DeleteAllTreeItems();
}

BOOL CMainFrame::GetSelectedDevice(CString* serverIp, WORD* port, CString* state) {
  return m_pFunctionView ? m_pFunctionView->GetSelectedDevice(serverIp, port, state) : FALSE;
}

void CMainFrame::MarkSelectedDevice(BOOL requestQueued, BOOL connecting) {
  if (m_pFunctionView) m_pFunctionView->MarkSelectedDevice(requestQueued, connecting);
}

void CMainFrame::KillMappingTimers() {
  if (!m_pFunctionView) return;
  m_pFunctionView->KillTimer(kRefreshTimer);
  m_pFunctionView->KillTimer(kBusUpTimer);
}

BOOL CMainFrame::OpenWaitWindow(LPCSTR text, int kind) { return ::OpenWaitWindow(kind, text); }

void CMainFrame::CloseWaitWindow() { ::CloseWaitWindow(); }

std::vector<ServerListRow> CMainFrame::GetSelectedServerRows() {
  return m_pFunctionView ? m_pFunctionView->GetSelectedServerRows() : std::vector<ServerListRow>();
}

void CMainFrame::SetServerRowText(int row, int column, LPCSTR text) {
  if (m_pFunctionView) m_pFunctionView->SetServerRowText(row, column, text);
}

void CMainFrame::ShowSearchResults(const ServerDiscoveryList& servers) {
  if (!m_pFunctionView) return;
  m_pFunctionView->ShowSearchResults(servers);
  RedrawPane(m_pFunctionView);
}

namespace {

// The panes own their context menus but are no menu hosts. The items are owner-drawn, so the menu loop
// asks the owner which item a typed letter names: while the menu is open, the library answers that for
// the owner.
class MnemonicAnswers {
 public:
  explicit MnemonicAnswers(HWND owner) : owner_(owner) {
    if (!owner_ || !::SetProp(owner_, kProperty, this)) return;
    previous_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtr(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MnemonicAnswers::WindowProc)));
  }
  ~MnemonicAnswers() {
    if (!previous_) return;
    if (::IsWindow(owner_)) ::SetWindowLongPtr(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    ::RemoveProp(owner_, kProperty);
  }
  MnemonicAnswers(const MnemonicAnswers&) = delete;
  MnemonicAnswers& operator=(const MnemonicAnswers&) = delete;

 private:
  static constexpr char kProperty[] = "TavrinMnemonicAnswers";

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<MnemonicAnswers*>(::GetProp(hwnd, kProperty));
    if (!self) return ::DefWindowProc(hwnd, message, wParam, lParam);
    if (message == WM_MENUCHAR) {
      CMenu* menu = CMenu::FromHandle(reinterpret_cast<HMENU>(lParam));
      if (dynamic_cast<CNewMenu*>(menu)) return CNewMenu::OnMenuChar(LOWORD(wParam), HIWORD(wParam), menu);
    }
    return ::CallWindowProc(self->previous_, hwnd, message, wParam, lParam);
  }

  HWND owner_;
  WNDPROC previous_ = nullptr;
};

}  // namespace

BOOL CMainFrame::TrackContextMenu(const ContextMenu& menu, HWND owner, POINT at) {
  CNewMenu loaded;
  if (!loaded.LoadMenu(menu.MenuId)) return FALSE;
  if (menu.IconBitmap) {
    std::vector<WORD> table = {static_cast<WORD>(menu.IconBitmap), 20, 20};
    for (UINT id : menu.IconCommands) table.push_back(static_cast<WORD>(id));
    table.push_back(0);
    loaded.LoadToolBar(table.data(), RGB(192, 192, 192));
  }
  CNewMenu* popup = loaded.GetSubMenu(0);
  if (!popup) return FALSE;
  for (UINT id : menu.Removed) popup->RemoveMenu(id, MF_BYCOMMAND);
  if (menu.RemoveSeparators) {
    for (int position = static_cast<int>(popup->GetMenuItemCount()) - 1; position >= 0; --position)
      if (popup->GetMenuState(static_cast<UINT>(position), MF_BYPOSITION) & MF_SEPARATOR)
        popup->RemoveMenu(static_cast<UINT>(position), MF_BYPOSITION);
  }
  for (UINT id : menu.Disabled) popup->EnableMenuItem(id, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
  {
    MnemonicAnswers mnemonics(owner);
    popup->TrackPopupMenu(menu.TrackFlags, at.x, at.y, CWnd::FromHandle(owner));
  }
  loaded.DestroyMenu();
  return TRUE;
}

CMainFrame* GetAdminMainFrame() {
  CTavrinAdminApp* app = GetAdminApp();
  return app ? dynamic_cast<CMainFrame*>(app->m_pMainWnd) : nullptr;
}

namespace {

class CAdminUiShell : public IAdminShell {
 public:
  const CRuntimeClass* GetMainFrameClass() const override { return RUNTIME_CLASS(CMainFrame); }
  void EnableSplashScreen(BOOL enabled) override { CSplashScreenWnd::SetEnabled(enabled); }
  BOOL PreTranslateMessage(const MSG* msg) override { return CSplashScreenWnd::HideOnInput(msg); }
  void SetMenuDrawMode(UINT mode) override { CNewMenu::SetMenuDrawMode(mode); }
  void RunAboutBox(LPCSTR versionText) override {
    CAboutDlg about(versionText);
    about.DoModal();
  }
};

}  // namespace

IAdminShell* GetAdminUiShell() {
  static CAdminUiShell shell;
  return &shell;
}
