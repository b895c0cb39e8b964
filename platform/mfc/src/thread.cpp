#include "mfc/thread.h"

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

namespace {
thread_local CWinThread* t_currentThread = nullptr;
}

namespace mfc {
// The application's thread object is the main thread's (set by AfxWinMain).
void SetCurrentThreadObject(CWinThread* thread) { t_currentThread = thread; }
}  // namespace mfc

CWinThread* AfxGetThread() { return t_currentThread; }

CWinThread::~CWinThread() {
  if (m_hThread) CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
  m_hThread = ::CreateThread(security, stackSize, ThreadEntry, this, flags, &m_nThreadID);
  return m_hThread != nullptr;
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread); }

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessage(m_nThreadID, message, wParam, lParam);
}

DWORD WINAPI CWinThread::ThreadEntry(LPVOID param) {
  auto* thread = static_cast<CWinThread*>(param);
  t_currentThread = thread;
  int exitCode = thread->InitInstance() ? thread->Run() : thread->ExitInstance();
  t_currentThread = nullptr;
  if (thread->m_bAutoDelete) delete thread;
  return static_cast<DWORD>(exitCode);
}

BOOL CWinThread::PumpMessage() {
  MSG msg{};
  BOOL result = GetMessage(&msg, nullptr, 0, 0);
  if (result == 0 || result == -1) {
    m_nExitCode = result == 0 ? static_cast<int>(msg.wParam) : -1;
    return FALSE;
  }
  if (!PreTranslateMessage(&msg)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  return TRUE;
}

int CWinThread::Run() {
  while (PumpMessage()) {
  }
  return ExitInstance();
}

int CWinThread::ExitInstance() { return m_nExitCode; }

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
  // Every window from the message's up through its parents, also past windows no object owns (the
  // plain controls of a dialog).
  HWND hwnd = msg->hwnd;
  for (int depth = 0; hwnd && depth < 64; ++depth) {
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
    hwnd = ::GetParent(hwnd);
  }
  return FALSE;
}
