// The "Please Wait..." window: a small modal window that keeps moving while the user-interface thread waits
// for a server or the drivers. It runs in a user-interface thread of its own (CUIThread). There is one at a
// time (g_pWaitThread); whoever opens it closes it (OpenWaitWindow / CloseWaitWindow).
#pragma once
#include <mutex>

#include "admin/DocPanes.h"
#include "mfc/comctl.h"
#include "mfc/controls.h"
#include "mfc/dialog.h"
#include "mfc/thread.h"

constexpr UINT WM_CLOSE_WAIT_ANIMATION = WM_USER + 5;
constexpr UINT WM_CLOSE_WAIT_PROGRESS = WM_USER + 6;
constexpr UINT WM_SET_WAIT_PROGRESS = WM_USER + 7;  // wParam: the bar's position

// The progress-bar window (dialog 213): still, or moving by its timer.
class CProgressWaitDlg : public CDialog {
 public:
  explicit CProgressWaitDlg(CWnd* parent = nullptr);
  void EnableTimer() { m_bTimer = 1; }
  void SetText(const CString& text) { m_strText = text; }
  void SetProgressPos(UINT pos);

  CStatic m_stcText;
  CProgressCtrl m_ctlProgress;
  DWORD m_bTimer = 0;
  DWORD m_nPos = 0;
  CString m_strText;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  // Neither Enter nor Esc closes it: only its close message does.
  void OnOK() override {}
  void OnCancel() override {}

 private:
  LRESULT OnCloseWait(WPARAM, LPARAM);
  LRESULT OnSetProgress(WPARAM position, LPARAM);
};

// The animation window (dialog 304) playing clip 306 in a loop.
class CAnimateWaitDlg : public CDialog {
 public:
  explicit CAnimateWaitDlg(CWnd* parent = nullptr);
  void SetText(const CString& text) { m_strText = text; }

  CStatic m_stcText;
  CAnimateCtrl m_ctlAnimate;
  CString m_strText;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}

 private:
  LRESULT OnCloseWait(WPARAM, LPARAM);
};

// The wait window's thread. It starts at construction, shows its window modally over the program's main
// window (which stays disabled meanwhile), sets m_hEvent once the window is gone and then idles until
// WM_QUIT; the object deletes itself when the thread ends.
class CUIThread : public CWinThread {
  DECLARE_DYNCREATE(CUIThread)

 public:
  CUIThread(int nMode, CString strText);
  ~CUIThread() override;

  BOOL InitInstance() override;
  int ExitInstance() override;

  // The shown window, or null before it exists and after it is gone.
  HWND GetDialogHandle() const;
  int GetMode() const { return m_nMode; }
  // The close message of this window's kind: WM_USER+6 for the progress bar, WM_USER+5 for the animation.
  UINT GetCloseMessage() const;
  // Asks the window to close: posted to it when it shows, else it closes as soon as it is made.
  void RequestClose();
  // The shown dialog reports its window (on this thread, from its OnInitDialog).
  void OnDialogShown(HWND dialog);

  // Waits up to timeoutMs until no wait thread object is left; FALSE when one still is.
  static BOOL WaitUntilAllEnded(DWORD timeoutMs);
  static int GetLiveCount();

  HANDLE m_hEvent = nullptr;
  int m_nMode = 0;
  CDialog* m_pDialog = nullptr;
  CString m_strText;

 private:
  CUIThread() = default;
  mutable std::mutex m_lock;  // the window handle and the close request, between the two threads
  HWND m_hDialog = nullptr;
  bool m_bCloseRequested = false;
};

// The open wait window's thread, or null. Set and cleared on the opener's thread.
extern CUIThread* g_pWaitThread;

// Opens the one wait window (kind WAIT_WINDOW_*). FALSE, with nothing opened, while another one is open:
// the caller's operation is refused. A window that cannot be made leaves g_pWaitThread null (TRUE).
BOOL OpenWaitWindow(int mode, LPCSTR text = "Please Wait...");
// Closes the open wait window: its close message, the wait for its event (dispatching this thread's
// messages meanwhile), WM_QUIT to its thread, g_pWaitThread cleared. Returns once the thread's object is
// gone. Nothing to do without a wait window.
void CloseWaitWindow();
