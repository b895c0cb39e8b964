// CWinThread: a thread with an optional message loop. CreateThread starts it: InitInstance, then Run
// (the message loop) when InitInstance succeeds, then ExitInstance; an auto-deleting object deletes
// itself when its thread ends.
#pragma once
#include "mfc/wnd.h"

class CWinThread : public CCmdTarget {
  DECLARE_DYNAMIC(CWinThread)

 public:
  CWinThread() = default;
  ~CWinThread() override;  // closes the thread handle

  // Starts the thread (suspended when flags has CREATE_SUSPENDED). FALSE when it cannot be made.
  BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr);
  DWORD ResumeThread();
  BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

  virtual BOOL InitInstance() { return FALSE; }
  // The message loop: runs until WM_QUIT, then returns ExitInstance().
  virtual int Run();
  virtual int ExitInstance();
  // Offers the message to the window it is for and that window's parents.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Gets and dispatches one message; FALSE on WM_QUIT.
  virtual BOOL PumpMessage();

  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;
  CWnd* m_pMainWnd = nullptr;
  BOOL m_bAutoDelete = TRUE;

 protected:
  // The WM_QUIT exit code, for ExitInstance.
  int m_nExitCode = 0;

 private:
  static DWORD WINAPI ThreadEntry(LPVOID param);
};

// The thread object of the calling thread: the application on the main thread, null on threads not
// started through CWinThread.
CWinThread* AfxGetThread();
