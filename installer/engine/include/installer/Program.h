// What both installer programs share: the log path, the Windows-version kind and the hidden window whose
// one-shot timer runs the road on the user-interface thread.
#pragma once
#include <string>

#include "mfc/wnd.h"

namespace installer {

// "<drive>" of the Windows directory followed by the file name ("C:\TavrinSetup.log").
std::string LogPathFor(const char* fileName);
// 1 for NT 5.0 or later, 0 for NT 4 or earlier, 2 for 98/Me; `startValue` for anything else or when the
// version cannot be read (then `errorText` is shown).
int VersionKind(int startValue, const char* errorText);

// A window that is never shown: its timer 1 calls Run once, and the program's message loop ends with the
// code Run returns.
class HiddenDialog : public CWnd {
 public:
  // Creates the window, sets timer 1 to `delayMs` and runs the messages until Run has ended the dialog.
  int DoModal(const char* caption, UINT delayMs);

 protected:
  virtual int Run() = 0;
  void OnTimer(UINT_PTR id) override;

 private:
  bool ran_ = false;
};

}  // namespace installer
