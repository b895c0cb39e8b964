#include "admin/ui/UIThread.h"

IMPLEMENT_DYNAMIC(CUIThread, CWinThread)

namespace {

// The wait window: shows the text until it is told to close.
class CWaitWnd : public CWnd {
 protected:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnMessage<&CWaitWnd::OnCloseWait>(WM_CLOSE_WAIT_ANIMATION),
        mfc::OnMessage<&CWaitWnd::OnCloseWait>(WM_CLOSE_WAIT_PROGRESS),
    };
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }

 private:
  LRESULT OnCloseWait(WPARAM, LPARAM) {
    DestroyWindow();  // the thread's main window: its message loop ends
    return 1;
  }
};

}  // namespace

CUIThread::CUIThread(int mode, LPCSTR text) : m_nMode(mode), m_strText(text) {
  m_bAutoDelete = FALSE;
  m_hReady = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  if (CreateThread() && m_hReady) WaitForSingleObject(m_hReady, INFINITE);
}

CUIThread::~CUIThread() {
  if (m_hThread && WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT) {
    if (m_hDialog) ::PostMessage(m_hDialog, WM_CLOSE_WAIT_ANIMATION, 0, 0);
    WaitForSingleObject(m_hThread, INFINITE);
  }
  if (m_hReady) CloseHandle(m_hReady);
}

BOOL CUIThread::InitInstance() {
  auto* window = new CWaitWnd;
  if (window->CreateEx(0, m_strText, WS_POPUP | WS_VISIBLE, 0, 0, 200, 80, nullptr, 0)) {
    m_pWaitWnd = window;
    m_pMainWnd = window;
    m_hDialog = window->GetSafeHwnd();
  } else {
    delete window;
  }
  SetEvent(m_hReady);
  return m_pWaitWnd != nullptr;
}

int CUIThread::ExitInstance() {
  if (m_pWaitWnd && m_pWaitWnd->GetSafeHwnd()) m_pWaitWnd->DestroyWindow();
  delete m_pWaitWnd;
  m_pWaitWnd = nullptr;
  m_pMainWnd = nullptr;
  return CWinThread::ExitInstance();
}
