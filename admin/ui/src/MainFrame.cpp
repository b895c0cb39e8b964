#include "admin/ui/MainFrame.h"

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/ShellTray.h"
#include "admin/ui/SplashScreenWnd.h"

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

LRESULT CMainFrame::OnCloseProgram(WPARAM, LPARAM) {
  // The exit monitor has stopped device mapping already: close without asking.
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
