#include "admin/ui/UIThread.h"

#include <chrono>
#include <condition_variable>
#include <new>

#include "admin/Trace.h"
#include "admin/Resource.h"
#include "admin/util/Utilities.h"
#include "mfc/app.h"

IMPLEMENT_DYNCREATE(CUIThread, CWinThread)

CUIThread* g_pWaitThread = nullptr;

namespace {

constexpr UINT_PTR kProgressTimer = 200;
constexpr UINT kProgressPeriodMs = 200;
constexpr DWORD kThreadEndLimitMs = 10000;  // the thread only traces and frees itself after WM_QUIT

// The wait thread objects alive, so that a closer (and a test) can see the last one go.
std::mutex g_liveLock;
std::condition_variable g_liveChanged;
int g_liveCount = 0;

void CountLive(int change) {
  std::lock_guard hold(g_liveLock);
  g_liveCount += change;
  g_liveChanged.notify_all();
}

// The wait window shows over the program's main window: disabled while it shows, centred under it.
CWnd* MainWindow() {
  CWinApp* app = AfxGetApp();
  return app ? app->m_pMainWnd : nullptr;
}

void ReportShown(CDialog& dialog) {
  if (auto* thread = dynamic_cast<CUIThread*>(AfxGetThread())) thread->OnDialogShown(dialog.GetSafeHwnd());
}

// Every message already waiting for the window, then for the thread, so that the bar keeps moving
// however busy its thread's queue is.
void DispatchPending(HWND window) {
  MSG msg;
  for (HWND target : {window, static_cast<HWND>(nullptr)}) {
    while (::PeekMessage(&msg, target, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessage(&msg);
    }
  }
}

}  // namespace

// --- CProgressWaitDlg ---

CProgressWaitDlg::CProgressWaitDlg(CWnd* parent) : CDialog(IDD_PROGRESS_WAIT, parent) {}

const mfc::MessageMap* CProgressWaitDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CProgressWaitDlg::OnCloseWait>(WM_CLOSE_WAIT_PROGRESS),
      mfc::OnMessage<&CProgressWaitDlg::OnSetProgress>(WM_SET_WAIT_PROGRESS),
  };
  static const mfc::MessageMap map{CDialog::GetMessageMap(), entries};
  return &map;
}

void CProgressWaitDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_WAIT_PROGRESS_TEXT, m_stcText);
  DDX_Control(dx, IDC_WAIT_PROGRESS_BAR, m_ctlProgress);
}

BOOL CProgressWaitDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_stcText.SetWindowText(m_strText);
  m_ctlProgress.SetRange(0, 100);
  if (m_bTimer == 1) SetTimer(kProgressTimer, kProgressPeriodMs);
  CenterWindow();
  ReportShown(*this);
  return TRUE;
}

void CProgressWaitDlg::SetProgressPos(UINT pos) {
  m_ctlProgress.SetPos(static_cast<int>(pos));
  ShowWindow(SW_SHOW);
}

void CProgressWaitDlg::OnTimer(UINT_PTR id) {
  if (id == kProgressTimer) {
    if (m_nPos >= 100) m_nPos = 0;
    m_nPos += 10;
    SetProgressPos(m_nPos);
    DispatchPending(m_hWnd);
  }
  CDialog::OnTimer(id);
}

void CProgressWaitDlg::OnDestroy() {
  KillTimer(kProgressTimer);
  CDialog::OnDestroy();
}

LRESULT CProgressWaitDlg::OnCloseWait(WPARAM, LPARAM) {
  KillTimer(kProgressTimer);
  EndDialog(1);
  return 1;
}

LRESULT CProgressWaitDlg::OnSetProgress(WPARAM position, LPARAM) {
  SetProgressPos(static_cast<UINT>(position));
  return 1;
}

// --- CAnimateWaitDlg ---

CAnimateWaitDlg::CAnimateWaitDlg(CWnd* parent) : CDialog(IDD_ANIMATE_WAIT, parent) {}

const mfc::MessageMap* CAnimateWaitDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CAnimateWaitDlg::OnCloseWait>(WM_CLOSE_WAIT_ANIMATION),
  };
  static const mfc::MessageMap map{CDialog::GetMessageMap(), entries};
  return &map;
}

void CAnimateWaitDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_WAIT_ANIMATE_TEXT, m_stcText);
  DDX_Control(dx, IDC_WAIT_ANIMATION, m_ctlAnimate);
}

BOOL CAnimateWaitDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_stcText.SetWindowText(m_strText);
  if (m_ctlAnimate.Open(IDR_WAIT_CLIP)) m_ctlAnimate.Play(0, static_cast<UINT>(-1), static_cast<UINT>(-1));
  CenterWindow();
  ReportShown(*this);
  return TRUE;
}

LRESULT CAnimateWaitDlg::OnCloseWait(WPARAM, LPARAM) {
  m_ctlAnimate.Stop();
  EndDialog(1);
  return 1;
}

// --- CUIThread ---

CUIThread::CUIThread(int nMode, CString strText) : m_nMode(nMode), m_strText(std::move(strText)) {
  CountLive(+1);
  m_hEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  CreateThread();
}

CUIThread::~CUIThread() {
  TraceInfo("<== CUIThread::~CUIThread()\n");
  if (m_hEvent) {
    CloseHandle(m_hEvent);
    m_hEvent = nullptr;
  }
  CountLive(-1);
}

BOOL CUIThread::InitInstance() {
  MSG msg;
  ::PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone may post WM_QUIT
  bool closed;
  {
    std::lock_guard hold(m_lock);
    closed = m_bCloseRequested;
  }
  if (!closed) {  // a close that came before the window needs no window at all
    CWnd* owner = MainWindow();
    if (m_nMode == kWaitProgressStill || m_nMode == kWaitProgressMoving) {
      CProgressWaitDlg dialog(owner);
      if (m_nMode == kWaitProgressMoving) dialog.EnableTimer();
      dialog.SetText(m_strText);
      m_pDialog = &dialog;
      dialog.DoModal();
    } else {
      CAnimateWaitDlg dialog(owner);
      dialog.SetText(m_strText);
      m_pDialog = &dialog;
      dialog.DoModal();
    }
    std::lock_guard hold(m_lock);
    m_pDialog = nullptr;
    m_hDialog = nullptr;
  }
  TraceInfo("<== CUIThread::InitInstance()\n");
  if (m_hEvent) SetEvent(m_hEvent);
  return TRUE;
}

int CUIThread::ExitInstance() {
  TraceInfo("<== CUIThread::ExitInstance()\n");
  return CWinThread::ExitInstance();
}

HWND CUIThread::GetDialogHandle() const {
  std::lock_guard hold(m_lock);
  return m_hDialog;
}

UINT CUIThread::GetCloseMessage() const {
  return m_nMode == kWaitProgressStill || m_nMode == kWaitProgressMoving ? WM_CLOSE_WAIT_PROGRESS
                                                                                   : WM_CLOSE_WAIT_ANIMATION;
}

void CUIThread::RequestClose() {
  std::lock_guard hold(m_lock);
  m_bCloseRequested = true;
  if (m_hDialog) ::PostMessage(m_hDialog, GetCloseMessage(), 0, 0);
}

void CUIThread::OnDialogShown(HWND dialog) {
  std::lock_guard hold(m_lock);
  m_hDialog = dialog;
  if (m_bCloseRequested) ::PostMessage(dialog, GetCloseMessage(), 0, 0);
}

int CUIThread::GetLiveCount() {
  std::lock_guard hold(g_liveLock);
  return g_liveCount;
}

BOOL CUIThread::WaitUntilAllEnded(DWORD timeoutMs) {
  std::unique_lock hold(g_liveLock);
  return g_liveChanged.wait_for(hold, std::chrono::milliseconds(timeoutMs), [] { return g_liveCount == 0; });
}

// --- opening and closing ---

BOOL OpenWaitWindow(int mode, LPCSTR text) {
  if (g_pWaitThread) {
    TraceError("OpenWaitWindow() :: a wait window is open already\n");
    return FALSE;
  }
  auto* thread = new (std::nothrow) CUIThread(mode, text);
  if (thread && !thread->m_hThread) {  // no thread: nothing will ever close or free it
    TraceError("OpenWaitWindow() :: the wait window's thread could not start\n");
    delete thread;
    thread = nullptr;
  }
  g_pWaitThread = thread;
  return TRUE;
}

void CloseWaitWindow() {
  CUIThread* thread = g_pWaitThread;
  if (!thread) return;
  thread->RequestClose();
  HANDLE events[1] = {thread->m_hEvent};
  if (events[0]) WaitWithMessageLoop(events, 1);
  thread->PostThreadMessage(WM_QUIT, 0, 0);
  g_pWaitThread = nullptr;
  // The object deletes itself as its thread ends; the next wait window never meets this one.
  std::unique_lock hold(g_liveLock);
  if (!g_liveChanged.wait_for(hold, std::chrono::milliseconds(kThreadEndLimitMs), [] { return g_liveCount == 0; }))
    TraceError("CloseWaitWindow() :: the wait window's thread has not ended\n");
}
