// CMainFrame: the main window of TavrinAdmin. It lives hidden behind its notification-area icon; it
// shows the status text, asks the user through message boxes over itself, and closes the program on
// the exit monitor's message. It holds the panes: the functional pane, the log pane and the details pane.
#pragma once
#include <mutex>

#include "mfc/mfc.h"

class CMainFrame : public CFrameWnd {
  DECLARE_DYNCREATE(CMainFrame)

 public:
  // The message pane of the status bar. Any thread.
  void SetStatusText(LPCSTR text);
  CString GetStatusText() const;
  // Shows the main window, then a modal box with the application title; the button pressed.
  int ShowMessageBox(LPCSTR text, UINT style, UINT helpContext);

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  int OnCreate(LPCREATESTRUCT createStruct) override;
  // The document's view, then the panes: functional, log and details (each tells the document itself).
  BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) override;
  void OnDestroy() override;
  // The user's close: refused while device mapping runs.
  void OnClose() override;
  // The panes side by side (navigation, functional, details) over the log pane.
  void RecalcLayout() override;

 private:
  LRESULT OnCloseProgram(WPARAM, LPARAM);
  LRESULT OnTrayNotify(WPARAM, LPARAM);

  mutable std::mutex m_statusMutex;
  CString m_strStatusText;
};
