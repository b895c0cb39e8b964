// CUIThread: a user-interface thread of its own that shows a wait window ("Please Wait...") while a long
// operation runs on the main thread. The window closes on WM_USER+5 (animation, the mode of the device
// mapping stop) or WM_USER+6 (progress); the thread then ends. The object keeps its thread handle: its
// owner waits for the handle and then deletes the object.
#pragma once
#include "mfc/mfc.h"

constexpr UINT WM_CLOSE_WAIT_ANIMATION = WM_USER + 5;
constexpr UINT WM_CLOSE_WAIT_PROGRESS = WM_USER + 6;

class CUIThread : public CWinThread {
  DECLARE_DYNAMIC(CUIThread)

 public:
  static constexpr int kModeProgress = 1;
  static constexpr int kModeAnimation = 2;

  // Starts the thread and returns once its window exists (or could not be made).
  CUIThread(int mode, LPCSTR text);
  // Closes the window and waits for the thread if its owner has not done so.
  ~CUIThread() override;

  HWND GetDialogHandle() const { return m_hDialog; }
  int GetMode() const { return m_nMode; }

  BOOL InitInstance() override;
  int ExitInstance() override;

 private:
  int m_nMode;
  CString m_strText;
  HWND m_hDialog = nullptr;
  HANDLE m_hReady = nullptr;
  CWnd* m_pWaitWnd = nullptr;
};
