// What both installer programs share: the log path, the Windows-version kind and the dialog that is never
// shown, whose one-shot timer runs the road on the user-interface thread.
#pragma once
#include <string>

#include "admin/LogFile.h"
#include "mfc/app.h"
#include "mfc/dialog.h"

namespace installer {

// "<drive>" of the Windows directory followed by the file name ("C:\TavrinSetup.log").
std::string LogPathFor(const char* fileName);
// 1 for NT 5.0 or later, 0 for NT 4 or earlier, 2 for 98/Me; `startValue` for anything else or when the
// version cannot be read (then `errorText` is shown).
int VersionKind(int startValue, const char* errorText);
// The program's string of that id ("" when there is none).
std::string LoadText(UINT id);

// The dialog of an installer program (template 102), never shown: every change of its position loses
// SWP_SHOWWINDOW. Its system menu gets the About item, its icons are set, and timer 1 (after `delayMs`)
// runs Run once; the dialog then ends with the code Run returns, which ends the program.
class InstallerDialog : public CDialog {
 public:
  InstallerDialog(UINT delayMs, UINT iconId = kIconId);

  static constexpr UINT kTemplateId = 102, kIconId = 128, kAboutItemText = 101;
  // The system menu's About item: a command from 16 to 31.
  static constexpr UINT kAboutCommand = 16;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnPaint() override;
  virtual int Run() = 0;
  // The system menu's About item was chosen; nothing unless the program has an About box.
  virtual void OnAbout() {}
  // Sets the text of a control (the title and status lines).
  void SetLine(int id, UINT stringId);

  HICON m_hIcon = nullptr;

 private:
  LRESULT OnWindowPosChanging(WPARAM, LPARAM lParam);
  LRESULT OnSysCommand(WPARAM command, LPARAM lParam);

  UINT m_delayMs;
  bool m_ran = false;
};

// The application object of an installer program: the Windows-version kind read, the trace log opened,
// the dialog run; the log closed when the program ends. The exit status is 0 when the dialog ended with
// IDOK.
class InstallerApp : public CWinApp {
 public:
  // The version's start value and the text shown when it cannot be read; the log's file name (in the
  // drive's root) and module name.
  InstallerApp(const char* name, int versionStart, UINT versionErrorId, const char* logFile, const char* module);
  BOOL InitInstance() override;
  int ExitInstance() override;

 protected:
  // Runs the program's dialog; its result.
  virtual INT_PTR RunDialog(CLogFile* log, int versionKind) = 0;

 private:
  int m_versionStart;
  UINT m_versionErrorId;
  const char* m_logFile;
  const char* m_module;
  CLogFile m_log;
};

}  // namespace installer
