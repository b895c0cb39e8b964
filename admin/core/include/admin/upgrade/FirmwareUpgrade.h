// One firmware upgrade run without its windows: one worker (UpgradeFWTh) per selected server tells the
// server to fetch the image (command 8), follows its transfer in the TFTP server's shared table and then
// asks the server until it shows the image's version. The run keeps each server's progress and result
// for the status dialog, and posts each result to the dialog's window as WM_USER+12.
#pragma once
#include <atomic>
#include <vector>

#include "admin/upgrade/FirmwareImage.h"
#include "admin/upgrade/SelectedServerEntry.h"
#include "admin/upgrade/UpgradeSettings.h"
#include "mfc/string.h"
#include "tftp/SharedInfo.h"
#include "win32/types.h"
#include "win32/user.h"

// wParam: a 30-byte block from malloc holding the server's IP text, which the receiver frees; lParam:
// the server's result.
constexpr UINT WM_UPGRADE_FW_STATUS = WM_USER + 12;

// Results of a server: success, a TFTP error code (0 to 8), 100 + a system error of the transfer, or:
constexpr DWORD UPGRADE_RESULT_SUCCESS = tftp::kResultSuccess;
constexpr DWORD UPGRADE_RESULT_VERSION_MISMATCH = 100 + 1306;  // answered, but not with the image's version
constexpr DWORD UPGRADE_RESULT_NO_ANSWER = 100 + 1460;         // no answer after the transfer in time
constexpr DWORD UPGRADE_RESULT_CANCELLED = 100 + 1223;         // cancelled while waiting for the answer

// GetTftpStatus returns.
constexpr DWORD TFTP_STATUS_DONE = 0;
constexpr DWORD TFTP_STATUS_CANCELLED = 1;
constexpr DWORD TFTP_STATUS_TIMED_OUT = 12;
constexpr DWORD TFTP_STATUS_FAILED = 100;

class CFirmwareUpgradeRun;

// One server of the run.
struct UpgradeThreadContext {
  DWORD ImageChosen;
  char ServerIp[30];
  char ImageFileName[MAX_PATH];
  DWORD* Cancel;  // the run's cancel flag
  HWND Window;    // receives WM_UPGRADE_FW_STATUS, or null
  std::atomic<DWORD> BlocksSent;  // from the shared record; read by the progress display
  CFirmwareUpgradeRun* Owner;
  DWORD StartTicks;  // GetTickCount when the worker started
  ServerDiscoveryRecord Server;
};

class CFirmwareUpgradeRun {
 public:
  CFirmwareUpgradeRun();
  // Cancels what still runs, waits for every worker and releases the shared table.
  ~CFirmwareUpgradeRun();
  CFirmwareUpgradeRun(const CFirmwareUpgradeRun&) = delete;
  CFirmwareUpgradeRun& operator=(const CFirmwareUpgradeRun&) = delete;

  // What the "Select File" step hands over.
  void SetUp(DWORD imageChosen, const CString& imageFileName, const CString& imageFolder);
  void SetImageSize(ULONGLONG bytes) { m_ImageSize = bytes; }
  void SetSelectedServers(const SelectedServerList* servers) { m_pSelectedServers = servers; }
  void SetNotifyWindow(HWND window) { m_hWindow = window; }

  // Opens the TFTP server's lock and table (read-only); FALSE when the server does not serve.
  BOOL OpenSharedInfo();
  // Starts one worker per selected server. FALSE, starting none, without the shared table, without
  // servers or with more than MAX_UPGRADE_SERVERS of them, or when the run has started already.
  BOOL StartFileTransfer();
  // Asks the workers to stop; each still delivers its result.
  void Cancel();
  BOOL IsCancelled() const;
  // Waits for every worker; TRUE when all have ended (their handles are closed then).
  BOOL WaitForWorkers(DWORD milliseconds);

  // The rows, one per started server, in list order.
  int GetRowCount() const { return m_nRows; }
  CString GetRowIp(int row) const;
  DWORD GetRowBlocks(int row) const;
  // Percent of the image sent, 0 to 100 (0 for an empty image).
  int GetRowPercent(int row) const;
  // TRUE with the row's result once its worker has delivered it.
  BOOL GetRowResult(int row, DWORD* result) const;
  // Rows whose result has not arrived.
  int GetOutstanding() const { return m_Outstanding.load(); }

  const UpgradeSettings& Settings() const { return m_Settings; }
  // The worker's look at the shared table (see the source); `result` gets the transfer's result.
  DWORD GetTftpStatus(UpgradeThreadContext* context, DWORD* result);

 private:
  friend DWORD WINAPI UpgradeFWTh(LPVOID parameter);
  void Deliver(UpgradeThreadContext* context, DWORD result);
  void CloseSharedInfo();
  // Sleeps `milliseconds` in short steps; FALSE when cancel came first.
  BOOL PauseUnlessCancelled(DWORD milliseconds) const;

  UpgradeSettings m_Settings;
  DWORD m_dwImageChosen = 0;
  CString m_strImageFileName;
  CString m_strImageFolder;
  DWORD m_dwCancel = 0;
  ULONGLONG m_ImageSize = 0;
  const SelectedServerList* m_pSelectedServers = nullptr;
  HWND m_hWindow = nullptr;
  HANDLE m_hMutex = nullptr;
  HANDLE m_hMapping = nullptr;
  const tftp::SharedRecord* m_pSharedInfo = nullptr;

  UpgradeThreadContext m_Contexts[MAX_UPGRADE_SERVERS];
  HANDLE m_hThreads[MAX_UPGRADE_SERVERS] = {};
  std::atomic<DWORD> m_Results[MAX_UPGRADE_SERVERS];
  std::atomic<bool> m_Delivered[MAX_UPGRADE_SERVERS];
  int m_nRows = 0;
  std::atomic<int> m_Outstanding{0};
};

DWORD WINAPI UpgradeFWTh(LPVOID parameter);

// blocks x 512 as a percentage of the image, in 64 bits, at most 100; 0 for an empty image.
int ComputeUploadPercent(ULONGLONG blocks, ULONGLONG imageSize);
// The status column's next text for the progress (one step per refresh); final texts stay.
CString NextUploadStatusText(const CString& current, int percent);

constexpr char UPGRADE_TEXT_SUCCESS[] = "Upgrade Successful";
constexpr char UPGRADE_TEXT_FAIL[] = "Upgrade Fail";
// The text of a delivered result.
inline const char* UpgradeResultText(DWORD result) {
  return result == UPGRADE_RESULT_SUCCESS ? UPGRADE_TEXT_SUCCESS : UPGRADE_TEXT_FAIL;
}
