#include "admin/ui/MainFrame.h"

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/DetailsFormView.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/SplashScreenWnd.h"
#include "win32/shell.h"

IMPLEMENT_DYNCREATE(CMainFrame, CFrameWnd)

const mfc::MessageMap* CMainFrame::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CMainFrame::OnCloseProgram>(WM_CLOSE_PROGRAM),
      mfc::OnMessage<&CMainFrame::OnTrayNotify>(WM_TRAY_NOTIFY),
  };
  static const mfc::MessageMap map{CFrameWnd::GetMessageMap(), entries};
  return &map;
}

int CMainFrame::OnCreate(LPCREATESTRUCT createStruct) {
  if (CFrameWnd::OnCreate(createStruct) == -1) return -1;
  CSplashScreenWnd::ShowSplashScreen(this);
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_ADD);
  return 0;
}

void CMainFrame::OnDestroy() {
  CSplashScreenWnd::HideSplashScreen();
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetTrayIcon(m_hWnd, NIM_DELETE);
  CFrameWnd::OnDestroy();
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
  CFrameWnd::OnClose();
}

BOOL CMainFrame::OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) {
  if (!CFrameWnd::OnCreateClient(createStruct, context)) return FALSE;
  if (!context) return TRUE;
  UINT paneId = 0xE901;  // after the document's own view
  for (const CRuntimeClass* pane :
       {RUNTIME_CLASS(CFunctionView), RUNTIME_CLASS(CBottemFormView), RUNTIME_CLASS(CDetailsFormView)}) {
    CCreateContext paneContext = *context;
    paneContext.m_pNewViewClass = pane;
    if (!CreateView(&paneContext, paneId++)) return FALSE;
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
  CFrameWnd::OnClose();
  return 0;
}

LRESULT CMainFrame::OnTrayNotify(WPARAM, LPARAM) { return 0; }

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
