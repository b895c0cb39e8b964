#include "admin/ui/MainFrame.h"

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/DetailsFormView.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/ServerDialogs.h"
#include "admin/ui/SplashScreenWnd.h"
#include "admin/ui/UIThread.h"
#include "admin/util/Utilities.h"
#include "win32/shell.h"

IMPLEMENT_DYNCREATE(CMainFrame, CNewFrameWnd)

const WORD kMainMenuIcons[] = {130,   20,    20,    32772, 32771, 32773, 32774, 32818, 32775, 32776, 32777, 32778,
                               32866, 32867, 32779, 32780, 32781, 32782, 32784, 32783, 32785, 32787, 57664, 0};

const mfc::MessageMap* CMainFrame::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CMainFrame::OnCloseProgram>(WM_CLOSE_PROGRAM),
      mfc::OnMessage<&CMainFrame::OnTrayNotify>(WM_TRAY_NOTIFY),
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

int CMainFrame::OnCreate(LPCREATESTRUCT createStruct) {
  if (CNewFrameWnd::OnCreate(createStruct) == -1) return -1;
  // The frame's own paint spares its panes: they paint only what changes in them.
  ModifyStyle(0, WS_CLIPCHILDREN);
  // The menu bar with its icons; the Server Manager popup leaves the bar (the navigation pane puts one of
  // the two function popups there) but stays the frame's.
  m_DefaultNewMenu.LoadToolBar(kMainMenuIcons, RGB(192, 192, 192));
  m_pMainMenu = &m_DefaultNewMenu;
  m_pServerManagerPopup = m_DefaultNewMenu.GetSubMenu(2);
  m_pDeviceMappingPopup = m_DefaultNewMenu.GetSubMenu(3);
  m_DefaultNewMenu.RemoveMenu(2, MF_BYPOSITION);
  ::DrawMenuBar(m_hWnd);
  CSplashScreenWnd::ShowSplashScreen(this);
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_ADD);
  return 0;
}

void CMainFrame::OnDestroy() {
  // The panes go after this: the document stops reporting to them first.
  if (m_pDocument && m_pDocument->GetPanes() == this) m_pDocument->SetPanes(nullptr);
  m_pDocument = nullptr;
  CSplashScreenWnd::HideSplashScreen();
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_DELETE);
  CNewFrameWnd::OnDestroy();
}

void CMainFrame::OnClose() {
  CTavrinAdminApp* app = GetAdminApp();
  CTavrinAdminDoc* doc = app ? app->GetDocument() : nullptr;
  if (doc && doc->IsDeviceMappingStarted()) {
    CString text;
    text.LoadString(IDS_STOP_MAPPING_BEFORE_EXIT);
    ShowMessageBox(text, MB_ICONINFORMATION, 0);
    return;
  }
  CNewFrameWnd::OnClose();
}

BOOL CMainFrame::OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) {
  if (!CNewFrameWnd::OnCreateClient(createStruct, context)) return FALSE;
  if (!context) return TRUE;
  UINT paneId = 0xE901;  // after the document's own view
  CWnd* panes[3] = {};
  int made = 0;
  for (const CRuntimeClass* pane :
       {RUNTIME_CLASS(CFunctionView), RUNTIME_CLASS(CBottemFormView), RUNTIME_CLASS(CDetailsFormView)}) {
    CCreateContext paneContext = *context;
    paneContext.m_pNewViewClass = pane;
    panes[made] = CreateView(&paneContext, paneId++);
    if (!panes[made++]) return FALSE;
  }
  m_pFunctionView = static_cast<CFunctionView*>(panes[0]);
  m_pBottemFormView = static_cast<CBottemFormView*>(panes[1]);
  m_pDetailsFormView = static_cast<CDetailsFormView*>(panes[2]);
  m_pDocument = dynamic_cast<CTavrinAdminDoc*>(context->m_pCurrentDoc);
  if (m_pDocument) {
    m_pDocument->SetPanes(this);
    m_pDocument->SetServerDialogs(GetAdminServerDialogs());
  }
  return TRUE;
}

void CMainFrame::RecalcLayout() {
  RECT client;
  GetClientRect(&client);
  const int width = client.right, height = client.bottom;
  const int top = height * 2 / 3, navigation = width / 5, details = width * 3 / 4;
  struct Pane {
    UINT id;
    RECT rect;
  };
  const Pane panes[] = {
      {0xE900, {0, 0, navigation, top}},        // the document's view: navigation
      {0xE901, {navigation, 0, details, top}},  // functional panel
      {0xE903, {details, 0, width, top}},       // details panel
      {0xE902, {0, top, width, height}},        // log panel
  };
  for (const Pane& pane : panes) {
    if (CWnd* view = GetDlgItem(static_cast<int>(pane.id))) view->MoveWindow(&pane.rect);
  }
}

LRESULT CMainFrame::OnCloseProgram(WPARAM, LPARAM) {
  CTavrinAdminApp* app = GetAdminApp();
  CTavrinAdminDoc* doc = app ? app->GetDocument() : nullptr;
  if (doc && doc->IsStopRunning()) {
    doc->CloseProgramAfterStop();  // this message came from inside the stop's message pumping
    return 0;
  }
  // The exit monitor has stopped device mapping already; a stop the user cancelled meanwhile is done now.
  if (doc && doc->IsDeviceMappingStarted()) doc->StopDeviceMapping(FALSE);
  CNewFrameWnd::OnClose();
  return 0;
}

LRESULT CMainFrame::OnTrayNotify(WPARAM, LPARAM) { return 0; }

// The document's commands, forwarded as they come.
void CMainFrame::OnStartDeviceMapping() {
  if (m_pDocument) m_pDocument->StartDeviceMapping();
}
void CMainFrame::OnStopDeviceMapping() {
  if (m_pDocument) m_pDocument->StopDeviceMapping(TRUE);
}
void CMainFrame::OnConnectDisconnect() {
  if (m_pDocument) m_pDocument->OnConnectDisconnect();
}
void CMainFrame::OnPrinterAutoConnect() {
  if (m_pDocument) m_pDocument->OnPrinterAutoConnect();
}
void CMainFrame::OnSearchServers() {
  if (m_pDocument) m_pDocument->OnSearchServers();
}
void CMainFrame::OnUnlock() {
  if (m_pDocument) m_pDocument->OnUnlock();
}
void CMainFrame::OnUpgradeFirmware() {
  if (m_pDocument) m_pDocument->OnUpgradeFirmware();
}
void CMainFrame::OnServerConfiguration() {
  if (m_pDocument) m_pDocument->OnServerConfiguration();
}
void CMainFrame::OnRestoreFactoryDefaults() {
  if (m_pDocument) m_pDocument->OnRestoreFactoryDefaults();
}

void CMainFrame::SetStatusText(LPCSTR text) {
  std::lock_guard lock(m_statusMutex);
  m_strStatusText = text;
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
  if (m_pFunctionView) m_pFunctionView->ShowSearchResults(servers);
}

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
      if (popup->GetMenuItemID(position) == 0) popup->RemoveMenu(static_cast<UINT>(position), MF_BYPOSITION);
  }
  for (UINT id : menu.Disabled) popup->EnableMenuItem(id, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
  popup->TrackPopupMenu(menu.TrackFlags, at.x, at.y, CWnd::FromHandle(owner));
  loaded.DestroyMenu();
  return TRUE;
}

CMainFrame* GetAdminMainFrame() {
  CTavrinAdminApp* app = GetAdminApp();
  return app ? static_cast<CMainFrame*>(app->m_pMainWnd) : nullptr;
}

namespace {

class CAdminUiShell : public IAdminShell {
 public:
  const CRuntimeClass* GetMainFrameClass() const override { return RUNTIME_CLASS(CMainFrame); }
  void EnableSplashScreen(BOOL enabled) override { CSplashScreenWnd::SetEnabled(enabled); }
  BOOL PreTranslateMessage(const MSG* msg) override { return CSplashScreenWnd::HideOnInput(msg); }
  void SetMenuDrawMode(UINT mode) override { CNewMenu::SetMenuDrawMode(mode); }
};

}  // namespace

IAdminShell* GetAdminUiShell() {
  static CAdminUiShell shell;
  return &shell;
}
