#include "admin/TavrinAdminApp.h"

#include <cstring>

#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/TavrinAdminView.h"
#include "admin/Trace.h"
#include "win32/global_memory.h"
#include "win32/process.h"
#include "win32/registry.h"
#include "win32/shell.h"

IMPLEMENT_DYNAMIC(CTavrinAdminApp, CWinApp)

const mfc::MessageMap* CTavrinAdminApp::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CTavrinAdminApp::OnAppAbout>(ID_APP_ABOUT),
  };
  static const mfc::MessageMap map{CWinApp::GetMessageMap(), entries};
  return &map;
}

namespace {
CTavrinAdminApp* g_adminApp = nullptr;
}

CTavrinAdminApp* GetAdminApp() { return g_adminApp; }

CTavrinAdminApp::CTavrinAdminApp(IAdminShell* shell) : m_pShell(shell) { g_adminApp = this; }

CTavrinAdminApp::~CTavrinAdminApp() {
  StopExitMonitor();
  m_LogFile.Close();
  if (m_bLogLockReady) {
    DeleteCriticalSection(&m_csLog);
    m_bLogLockReady = false;
  }
  if (g_adminApp == this) g_adminApp = nullptr;
}

BOOL CTavrinAdminApp::InitInstance() {
  AfxEnableControlContainer();

  // One copy only: a second one brings the first one's window forward and ends.
  CreateEvent(nullptr, FALSE, FALSE, kSingleInstanceEventName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CString title;
    title.LoadString(AFX_IDS_APP_TITLE);
    if (HWND previous = FindWindow(nullptr, title)) {
      HWND popup = GetLastActivePopup(previous);
      if (IsIconic(previous)) ShowWindow(previous, SW_RESTORE);
      ShowWindow(previous, SW_SHOW);
      SetForegroundWindow(popup);
    }
    return FALSE;
  }

  CCommandLineInfo splashInfo;
  ParseCommandLine(splashInfo);
  if (m_pShell) m_pShell->EnableSplashScreen(splashInfo.m_bShowSplash);

  if (!InitLogAndParameters()) return FALSE;

  SetRegistryKey("Local AppWizard-Generated Applications");
  LoadStdProfileSettings(4);

  // The main frame (and its panes) come from the user interface; without one there is nothing to show.
  if (!m_pShell) return FALSE;
  AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(CTavrinAdminDoc), m_pShell->GetMainFrameClass(),
                                        RUNTIME_CLASS(CTavrinAdminView)));

  CCommandLineInfo cmdInfo;
  ParseCommandLine(cmdInfo);
  if (!ProcessShellCommand(cmdInfo)) return FALSE;

  // The program lives in the notification area: the main window starts hidden.
  CString title;
  title.LoadString(AFX_IDS_APP_TITLE);
  m_pMainWnd->ShowWindow(SW_HIDE);
  m_pMainWnd->SetWindowText(title);

  SetDialogBkColor(m_clrDialogBk, 0);
  m_pShell->SetMenuDrawMode(2);

  CTavrinAdminDoc* document = GetDocument();
  HANDLE shutDownEvent = CreateEvent(nullptr, TRUE, FALSE, kShutDownEventName);
  if (!shutDownEvent) TraceError("CreateEvent() Shutdown event failed.\n");
  if (document) document->SetAppExitEvent(shutDownEvent);

  StartExitMonitorThread(document);
  return TRUE;
}

int CTavrinAdminApp::ExitInstance() {
  CloseAllDocuments(FALSE);  // a document still open goes before the log, not at static destruction
  StopExitMonitor();
  CloseLog();
  return CWinApp::ExitInstance();
}

BOOL CTavrinAdminApp::PreTranslateMessage(MSG* msg) {
  if (m_pShell && m_pShell->PreTranslateMessage(msg)) return TRUE;
  return CWinApp::PreTranslateMessage(msg);
}

void CTavrinAdminApp::SetDocument(CTavrinAdminDoc* document) {
  if (!document) StopExitMonitor();
  m_pDocument = document;
}

void CTavrinAdminApp::WriteLog(CString text) {
  if (!m_bLogLockReady) return;  // no log yet (or no more)
  EnterCriticalSection(&m_csLog);
  m_LogFile.Write(text);
  LeaveCriticalSection(&m_csLog);
}

BOOL CTavrinAdminApp::InitLogAndParameters() {
  InitializeCriticalSection(&m_csLog);
  m_bLogLockReady = true;

  char windowsDir[MAX_PATH + 1] = {};
  GetWindowsDirectory(windowsDir, MAX_PATH);
  CString logPath = CString(windowsDir) + "\\TavrinAdmin.log";
  m_LogFile.Open(kAdminAppTitle, logPath, TRUE, TRUE);

  CRegistryStore store;
  const BOOL installed = store.IsProductInstalled();
  // A damaged hive reads as an empty one: the log and the message say which it is.
  const CString hiveProblem = tavrin::registry::HiveProblem().c_str();
  if (!hiveProblem.IsEmpty()) m_LogFile.Write(hiveProblem + "\n");
  if (installed) {
    TraceInfo("Reading application specific configurable parameters from registry...\n");
    store.ReadParameters(AppTraceLevel, AppGuiRefreshPeriod, AppStopDeviceMappingPeriod);
    TraceInfo("AppTraceLevel=%d\n", AppTraceLevel);
    TraceInfo("AppGuiRefreshPeriod=%d\n", AppGuiRefreshPeriod);
    TraceInfo("AppStopDeviceMappingPeriod=%d\n", AppStopDeviceMappingPeriod);
    return TRUE;
  }

  CString text;
  text.LoadString(IDS_NOT_INSTALLED);
  if (!hiveProblem.IsEmpty()) text += "\n\n" + hiveProblem;
  AfxMessageBox(text, MB_ICONSTOP);
  TraceInfo("%s", text.GetString());
  m_LogFile.Write(text + "\n");
  return FALSE;
}

void CTavrinAdminApp::CloseLog() {
  if (!m_bLogLockReady) return;
  EnterCriticalSection(&m_csLog);
  m_LogFile.Close();
  LeaveCriticalSection(&m_csLog);
  m_bLogLockReady = false;
  DeleteCriticalSection(&m_csLog);
}

BOOL CTavrinAdminApp::IsFileExists(CString path) {
  WIN32_FIND_DATA findData{};
  HANDLE search = FindFirstFile(path, &findData);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return TRUE;
  }
  TraceError("File/Directory Doesn't exist: \n");
  return FALSE;
}

BOOL CTavrinAdminApp::SetTrayIcon(HWND hWnd, DWORD dwMessage) {
  NOTIFYICONDATA data{};
  data.cbSize = 504;
  data.hWnd = hWnd;
  data.uID = IDR_MAINFRAME;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = LoadIconResource(IDR_MAINFRAME);
  std::strncpy(data.szTip, "Pelko Admin Utility", sizeof data.szTip - 1);
  return Shell_NotifyIcon(dwMessage, &data);
}

BOOL CTavrinAdminApp::StartExitMonitorThread(CTavrinAdminDoc* document) {
  TraceInfo("StartExitMonitorThread() ==>\n");
  TraceInfo("StartExitMonitorThread() >> Creatin ExitMonitor thread...\n");
  // The thread is kept (unlike a fire-and-forget thread) so that it ends before the document it works
  // on and the log it writes to go away.
  if (!m_hExitMonitorStop) m_hExitMonitorStop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  m_hExitMonitorTarget = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
  m_hExitMonitor = ::CreateThread(nullptr, 0, ExitMonitorTh, document, 0, &m_dwExitMonitorId);
  if (!m_hExitMonitor) TraceError("StartExitMonitorThread() >> CreateThread failed\n");
  Sleep(0);
  TraceInfo("StartExitMonitorThread() <==\n");
  return TRUE;
}

DWORD WINAPI CTavrinAdminApp::ExitMonitorTh(LPVOID param) {
  auto* document = static_cast<CTavrinAdminDoc*>(param);
  CTavrinAdminApp* app = GetAdminApp();
  TraceInfo("ExitMonitorTh ==>\n");
  // A null document or shutdown event makes the wait fail: the thread then ends at once.
  const HANDLE handles[2] = {document ? document->GetAppExitEvent() : nullptr, app->m_hExitMonitorStop};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
    TraceInfo("ExitMonitorTh >> AppExitEvent signalled...\n");
    if (document->IsDeviceMappingStarted()) document->StopDeviceMapping(FALSE);
    PostMessage(app->m_hExitMonitorTarget, WM_CLOSE_PROGRAM, 0, 0);
  }
  TraceInfo("ExitMonitorTh <== Status=%d\n", 0);
  return 0;
}

void CTavrinAdminApp::StopExitMonitor() {
  if (m_hExitMonitor && GetCurrentThreadId() != m_dwExitMonitorId) {
    SetEvent(m_hExitMonitorStop);
    WaitForSingleObject(m_hExitMonitor, INFINITE);
    CloseHandle(m_hExitMonitor);
    m_hExitMonitor = nullptr;
  }
  if (m_hExitMonitorStop && !m_hExitMonitor) {
    CloseHandle(m_hExitMonitorStop);
    m_hExitMonitorStop = nullptr;
  }
}

void CTavrinAdminApp::OnAppAbout() {
  if (m_pShell) m_pShell->RunAboutBox(GetAboutVersionText());
}

CString CTavrinAdminApp::GetAboutVersionText() {
  char windows[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariable("windir", windows, MAX_PATH);
  CString path = CString(windows, length <= MAX_PATH ? static_cast<int>(length) : 0) + "\\TavrinAdmin.exe";
  if (length == 0 || length > MAX_PATH || !IsFileExists(path)) return "  Version 1.0.0.0\n";
  CString text;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSize(path, &handle);
  if (size == 0) return text;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return text;
  void* data = GlobalLock(block);
  void* value = nullptr;
  UINT valueLength = 0;
  if (data && GetFileVersionInfo(path, handle, size, data) &&
      VerQueryValue(data, "\\StringFileInfo\\040904B0\\FileVersion", &value, &valueLength) && value && valueLength > 0 &&
      *static_cast<const char*>(value))
    text.Format("  Version %s\n", static_cast<const char*>(value));
  GlobalUnlock(block);
  GlobalFree(block);
  return text;
}
