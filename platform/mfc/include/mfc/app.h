// The application: one CWinApp object per program (constructed statically), run by AfxWinMain:
// InitInstance, then the message loop, then ExitInstance (also after a failed InitInstance).
#pragma once
#include <string>
#include <vector>

#include "mfc/doc.h"
#include "mfc/resource.h"
#include "mfc/thread.h"

class CCommandLineInfo {
 public:
  enum { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, AppRegister, AppUnregister, FileNothing = -1 };

  virtual ~CCommandLineInfo() = default;
  // One argument of the command line: a flag ("/x" or "-x", without its lead character) or a parameter.
  virtual void ParseParam(LPCSTR param, BOOL isFlag, BOOL isLast);

  BOOL m_bShowSplash = TRUE;
  BOOL m_bRunEmbedded = FALSE;
  BOOL m_bRunAutomated = FALSE;
  int m_nShellCommand = FileNew;
  CString m_strFileName;
  CString m_strPrinterName;
};

class CWinApp : public CWinThread {
  DECLARE_DYNAMIC(CWinApp)

 public:
  // Registers this object as the program's application. appName null: the title comes from string
  // AFX_IDS_APP_TITLE when the program has one, else the program name.
  explicit CWinApp(LPCSTR appName = nullptr);
  ~CWinApp() override;  // deletes the document templates (and their documents)

  // Called once by AfxWinMain before InitInstance: the command line and the title.
  void SetCommandLine(int argc, char** argv);

  int Run() override;
  int ExitInstance() override;

  void ParseCommandLine(CCommandLineInfo& info);
  // Runs the shell command of the command line; FALSE when it failed (no main window after File New).
  BOOL ProcessShellCommand(CCommandLineInfo& info);

  void AddDocTemplate(CDocTemplate* docTemplate);
  POSITION GetFirstDocTemplatePosition() const { return m_templates.GetHeadPosition(); }
  CDocTemplate* GetNextDocTemplate(POSITION& position) const { return m_templates.GetNext(position); }
  // File New of the (first) template.
  virtual void OnFileNew();
  virtual CDocument* OpenDocumentFile(LPCSTR path);
  void CloseAllDocuments(BOOL endSession);

  // Where the program's own settings would be kept; recorded only.
  void SetRegistryKey(LPCSTR company);
  // The recent-file list size; these programs keep no recent files, so it is recorded only.
  void LoadStdProfileSettings(UINT maxMru = 4);
  // Colours for the dialogs, read by the dialogs when they paint.
  void SetDialogBkColor(COLORREF background = 0xC0C0C0, COLORREF text = 0);
  COLORREF GetDialogBkColor() const { return m_clrDialogBkDefault; }
  COLORREF GetDialogTextColor() const { return m_clrDialogText; }
  // The brush of the colour SetDialogBkColor set (null before it was called); the dialogs paint their
  // background, labels and boxes with it.
  HBRUSH GetDialogBkBrush() const { return m_hDialogBkBrush; }

  // The box of AfxMessageBox: over the main window, with the application title.
  virtual int DoMessageBox(LPCSTR prompt, UINT type, UINT helpId);
  // 1: one more wait (the wait cursor shows), -1: one wait less (the cursor before the first comes
  // back with the last), 0: the wait cursor again while a wait runs. The count is the process's.
  virtual void DoWaitCursor(int code);
  // The system cursors.
  HCURSOR LoadStandardCursor(LPCSTR name) const { return ::LoadCursor(nullptr, name); }
  HICON LoadIcon(UINT id) const;

  LPCSTR m_pszAppName = nullptr;
  LPCSTR m_pszExeName = nullptr;
  LPCSTR m_pszRegistryKey = nullptr;
  HINSTANCE m_hInstance = nullptr;
  int m_nCmdShow = SW_SHOWNORMAL;
  UINT m_nMaxMru = 0;

 private:
  CList<CDocTemplate*, CDocTemplate*> m_templates;
  std::vector<std::string> m_args;
  std::string m_appName, m_exeName, m_registryKey;
  COLORREF m_clrDialogBkDefault = 0xC0C0C0;
  HBRUSH m_hDialogBkBrush = nullptr;
  COLORREF m_clrDialogText = 0;
};

// The hourglass for the life of the object (BeginWaitCursor ... EndWaitCursor).
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
  void Restore();
};

namespace mfc {
// Whether a wait (BeginWaitCursor, CWaitCursor) runs: the framework's windows then keep the wait cursor.
bool WaitCursorShown();
}  // namespace mfc

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT idPrompt, UINT type = MB_OK, UINT helpId = 0);
// Control containers need no set-up here; kept for the programs' start-up order.
void AfxEnableControlContainer();
// Runs the application object: the program's main() returns its result.
int AfxWinMain(int argc, char** argv);
