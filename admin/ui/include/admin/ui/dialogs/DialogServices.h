// What the Server Manager's dialogs need of the main frame: its message box, the one wait window, the
// Server Manager log. Without a frame (a dialog run on its own) message boxes go to the platform's and
// there is no wait window.
#pragma once
#include "admin/DocPanes.h"

// The program's string of that id.
CString LoadedText(UINT id);

class DialogServices {
 public:
  explicit DialogServices(IDocPanes* panes = nullptr) : m_pPanes(panes) {}
  int ShowMessageBox(LPCSTR text, UINT style) const;
  // FALSE while another operation's wait window is open: the caller's operation is refused.
  BOOL OpenWaitWindow(LPCSTR text, int kind) const;
  void CloseWaitWindow() const;
  void AddServerManagerLog(LPCSTR text) const;
  HWND GetMainWindow() const;

 private:
  IDocPanes* m_pPanes;
};
