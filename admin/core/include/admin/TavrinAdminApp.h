// CTavrinAdminApp: the one application object of TavrinAdmin. Runs a single copy of the program, opens
// the trace log, reads the parameters, builds the document template, creates TavrinAdminShutDownEvent
// and the thread that waits for it, and carries the program-wide settings.
#pragma once
#include <atomic>

#include "admin/DocPanes.h"
#include "admin/LogFile.h"
#include "mfc/mfc.h"

class CTavrinAdminDoc;

// The program's trace log module name and its title (string AFX_IDS_APP_TITLE).
constexpr char kAdminAppTitle[] = "Pelko Admin";
constexpr char kShutDownEventName[] = "TavrinAdminShutDownEvent";
constexpr char kSingleInstanceEventName[] = "Pelko Admin";

// The main frame's messages.
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 1;    // the notification-area icon's callback
constexpr UINT WM_CLOSE_PROGRAM = WM_USER + 16; // posted by the exit monitor: close and end

class CTavrinAdminApp : public CWinApp {
  DECLARE_DYNAMIC(CTavrinAdminApp)

 public:
  // The user interface supplies the main frame; without it InitInstance fails (tests of single parts
  // use the application object for its log and parameters only).
  explicit CTavrinAdminApp(IAdminShell* shell = nullptr);
  ~CTavrinAdminApp() override;  // closes the log file if it is still open

  BOOL InitInstance() override;
  int ExitInstance() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  const mfc::MessageMap* GetMessageMap() const override;

  CTavrinAdminDoc* GetDocument() const { return m_pDocument; }
  // The document registers itself at construction and unregisters at destruction; unregistering first
  // ends the exit monitor, which works on the document.
  void SetDocument(CTavrinAdminDoc* document);

  // Writes the text to the trace log under the log lock, whatever the trace level.
  void WriteLog(CString text);
  BOOL InitLogAndParameters();
  // The end banner and the log closed, the log lock deleted (each only when it was set up).
  void CloseLog();
  BOOL IsFileExists(CString path);
  // Command 57664: the About box with the version line of the program file in the Windows directory:
  // "  Version " and its FileVersion value, empty when the file has none, "  Version 1.0.0.0\n" without
  // the file.
  void OnAppAbout();
  CString GetAboutVersionText();
  // Adds or removes the notification-area icon of the window (dwMessage NIM_ADD / NIM_DELETE).
  BOOL SetTrayIcon(HWND hWnd, DWORD dwMessage);
  // Starts ExitMonitorTh on the document. TRUE in every case (a failure is traced).
  BOOL StartExitMonitorThread(CTavrinAdminDoc* document);
  static DWORD WINAPI ExitMonitorTh(LPVOID param);

  BOOL IsTraceInfoOn() const { return AppTraceLevel < 2; }
  BOOL IsTraceErrorOn() const { return AppTraceLevel < 4; }

  COLORREF m_clrDialogBk = 0xF7FFFF;
  COLORREF m_clrTabBk = 0xB3AEB3;
  COLORREF m_clrButtonText = 0x800000;
  CWinThread* m_pWaitThread = nullptr;  // the stop's wait window while it shows
  DWORD AppTraceLevel = 3;
  DWORD AppGuiRefreshPeriod = 5000;
  DWORD AppStopDeviceMappingPeriod = 180000;
  CTavrinAdminDoc* m_pDocument = nullptr;
  CLogFile m_LogFile;
  CRITICAL_SECTION m_csLog{};

 private:
  IAdminShell* m_pShell = nullptr;
  // Ends the exit monitor (if it still waits) and waits for its thread.
  void StopExitMonitor();

  std::atomic<bool> m_bLogLockReady{false};
  HANDLE m_hExitMonitor = nullptr;
  HANDLE m_hExitMonitorStop = nullptr;
  DWORD m_dwExitMonitorId = 0;
  HWND m_hExitMonitorTarget = nullptr;  // the main window, fixed before the thread starts
};

// The application object, or null when the program has none (tests of single parts).
CTavrinAdminApp* GetAdminApp();
