#include "mfc/app.h"

#include <strings.h>

#include <filesystem>
#include <mutex>

#include "win32/cursor.h"
#include "win32/gdi.h"
#include "win32/resources.h"
#include "win32/window_manager.h"

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

namespace mfc {
void SetCurrentThreadObject(CWinThread* thread);
}

namespace {
CWinApp* g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() {
  CWinThread* thread = AfxGetThread();
  if (thread && thread->m_pMainWnd) return thread->m_pMainWnd;
  return g_app ? g_app->m_pMainWnd : nullptr;
}

void AfxEnableControlContainer() {}

// --- the wait cursor

namespace {

struct WaitCursorState {
  std::mutex lock;
  int count = 0;
  HCURSOR before = nullptr;  // what showed before the first wait
};

WaitCursorState& Waits() {
  static auto* state = new WaitCursorState;  // never destroyed: a wait may end during exit
  return *state;
}

void ChangeWaits(int code) {
  auto& w = Waits();
  HCURSOR wait = ::LoadCursor(nullptr, IDC_WAIT);
  std::lock_guard guard(w.lock);
  if (code > 0) {
    HCURSOR before = ::SetCursor(wait);
    if (w.count++ == 0) w.before = before;
  } else if (code < 0) {
    if (w.count == 0) return;  // an End without a Begin changes nothing
    if (--w.count == 0) ::SetCursor(w.before ? w.before : ::LoadCursor(nullptr, IDC_ARROW));
  } else if (w.count > 0) {
    ::SetCursor(wait);
  }
}

void DoWait(int code) {
  if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(code);
  else ChangeWaits(code);
}

}  // namespace

namespace mfc {
bool WaitCursorShown() {
  std::lock_guard guard(Waits().lock);
  return Waits().count > 0;
}
}  // namespace mfc

void CWinApp::DoWaitCursor(int code) { ChangeWaits(code); }

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIcon(m_hInstance, MAKEINTRESOURCE(static_cast<WORD>(id))); }

void CCmdTarget::BeginWaitCursor() { DoWait(1); }
void CCmdTarget::EndWaitCursor() { DoWait(-1); }
void CCmdTarget::RestoreWaitCursor() { DoWait(0); }

CWaitCursor::CWaitCursor() { DoWait(1); }
CWaitCursor::~CWaitCursor() { DoWait(-1); }
void CWaitCursor::Restore() { DoWait(0); }

int AfxMessageBox(LPCSTR text, UINT type, UINT helpId) {
  if (CWinApp* app = AfxGetApp()) return app->DoMessageBox(text, type, helpId);
  return ::MessageBox(nullptr, text, "", type);
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT helpId) {
  CString text;
  text.LoadString(idPrompt);
  return AfxMessageBox(text, type, helpId);
}

// --- CCommandLineInfo

void CCommandLineInfo::ParseParam(LPCSTR param, BOOL isFlag, BOOL) {
  if (isFlag) {
    if (strcasecmp(param, "Embedding") == 0) {
      m_bRunEmbedded = TRUE;
      m_bShowSplash = FALSE;
    } else if (strcasecmp(param, "Automation") == 0) {
      m_bRunAutomated = TRUE;
      m_bShowSplash = FALSE;
    } else if (strcasecmp(param, "nosplash") == 0) {
      m_bShowSplash = FALSE;
    } else if (strcasecmp(param, "p") == 0) {
      m_nShellCommand = FilePrint;
    } else if (strcasecmp(param, "pt") == 0) {
      m_nShellCommand = FilePrintTo;
    } else if (strcasecmp(param, "dde") == 0) {
      m_nShellCommand = FileDDE;
    } else if (strcasecmp(param, "Register") == 0 || strcasecmp(param, "Regserver") == 0) {
      m_nShellCommand = AppRegister;
    } else if (strcasecmp(param, "Unregister") == 0 || strcasecmp(param, "Unregserver") == 0) {
      m_nShellCommand = AppUnregister;
    }
    return;
  }
  if (m_strFileName.IsEmpty()) {
    m_strFileName = param;
    if (m_nShellCommand == FileNew) m_nShellCommand = FileOpen;
  } else if (m_nShellCommand == FilePrintTo && m_strPrinterName.IsEmpty()) {
    m_strPrinterName = param;
  }
}

// --- CWinApp

CWinApp::CWinApp(LPCSTR appName) {
  if (appName) {
    m_appName = appName;
    m_pszAppName = m_appName.c_str();
  }
  g_app = this;
}

CWinApp::~CWinApp() {
  while (!m_templates.IsEmpty()) delete m_templates.RemoveHead();
  if (m_hDialogBkBrush) DeleteObject(m_hDialogBkBrush);
  if (g_app == this) g_app = nullptr;
}

void CWinApp::SetCommandLine(int argc, char** argv) {
  m_args.assign(argv, argv + argc);
  m_exeName = argc > 0 ? std::filesystem::path(argv[0]).stem().string() : "";
  m_pszExeName = m_exeName.c_str();
  if (!m_pszAppName) {
    const char* title = mfc::FindString(AFX_IDS_APP_TITLE);
    m_appName = title ? title : m_exeName;
    m_pszAppName = m_appName.c_str();
  }
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  const size_t count = m_args.size();
  for (size_t i = 1; i < count; ++i) {
    const std::string& arg = m_args[i];
    const bool isFlag = arg.size() > 1 && (arg[0] == '/' || arg[0] == '-');
    info.ParseParam(arg.c_str() + (isFlag ? 1 : 0), isFlag, i + 1 == count);
  }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& info) {
  switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNothing:
      return TRUE;
    case CCommandLineInfo::FileNew:
      OnFileNew();
      return m_pMainWnd != nullptr;
    case CCommandLineInfo::FileOpen:
      return OpenDocumentFile(info.m_strFileName) != nullptr;
    default:  // printing, DDE and registration are not offered by these programs
      return FALSE;
  }
}

void CWinApp::AddDocTemplate(CDocTemplate* docTemplate) { m_templates.AddTail(docTemplate); }

void CWinApp::OnFileNew() {
  if (!m_templates.IsEmpty()) m_templates.GetHead()->OpenDocumentFile(nullptr);
}

CDocument* CWinApp::OpenDocumentFile(LPCSTR path) {
  return m_templates.IsEmpty() ? nullptr : m_templates.GetHead()->OpenDocumentFile(path);
}

void CWinApp::CloseAllDocuments(BOOL endSession) {
  POSITION position = m_templates.GetHeadPosition();
  while (position) m_templates.GetNext(position)->CloseAllDocuments(endSession);
}

void CWinApp::SetRegistryKey(LPCSTR company) {
  m_registryKey = company ? company : "";
  m_pszRegistryKey = m_registryKey.c_str();
}

void CWinApp::LoadStdProfileSettings(UINT maxMru) { m_nMaxMru = maxMru; }

void CWinApp::SetDialogBkColor(COLORREF background, COLORREF text) {
  m_clrDialogBkDefault = background;
  m_clrDialogText = text;
  if (m_hDialogBkBrush) DeleteObject(m_hDialogBkBrush);
  m_hDialogBkBrush = CreateSolidBrush(background);
}

int CWinApp::DoMessageBox(LPCSTR prompt, UINT type, UINT) {
  CWnd* owner = AfxGetMainWnd();
  return ::MessageBox(owner ? owner->GetSafeHwnd() : nullptr, prompt, m_pszAppName ? m_pszAppName : "", type);
}

int CWinApp::Run() { return CWinThread::Run(); }

int CWinApp::ExitInstance() { return m_nExitCode; }

int AfxWinMain(int argc, char** argv) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  mfc::SetCurrentThreadObject(app);
  app->m_nThreadID = GetCurrentThreadId();
  app->SetCommandLine(argc, argv);
  tavrin::win::StartDisplayFromEnvironment();  // real windows when the environment names a display
  int result;
  if (!app->InitInstance()) {
    if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
    result = app->ExitInstance();
  } else {
    result = app->Run();
  }
  tavrin::win::StopDisplay();
  mfc::SetCurrentThreadObject(nullptr);
  return result;
}
