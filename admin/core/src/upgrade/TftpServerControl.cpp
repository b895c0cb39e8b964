#include "admin/upgrade/TftpServerControl.h"

#include "admin/Trace.h"
#include "tftp/SharedInfo.h"
#include "win32/file.h"
#include "win32/process.h"
#include "win32/sync.h"

namespace {

constexpr DWORD kPollMs = 10;

bool EventExists() {
  HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName);
  if (!event) return false;
  CloseHandle(event);
  return true;
}

}  // namespace

CTftpServerControl::CTftpServerControl() : m_Settings(GetUpgradeSettings()) {}

CTftpServerControl::~CTftpServerControl() {
  if (m_hProcess && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT) StopTftpServer();
  ReleaseProcess();
}

void CTftpServerControl::ReleaseProcess() {
  if (m_hProcess) CloseHandle(m_hProcess);
  m_hProcess = nullptr;
}

CString CTftpServerControl::GetCreateProcessMessage() const {
  CString text;
  text.Format("CreateProcess : Error - %d", static_cast<int>(m_dwCreateProcessError));
  return text;
}

BOOL CTftpServerControl::StartTftpServer(const CString& folder) {
  TraceInfo("CUpgradeFirmwareDlg::StartTftpServer =>\n");
  m_dwCreateProcessError = 0;
  // A server left running would serve its old folder to the servers asking for this image.
  if (IsTftpServerRunning() && !StopTftpServer()) return FALSE;
  ReleaseProcess();

  char windows[MAX_PATH] = {};
  GetWindowsDirectory(windows, MAX_PATH);
  CString program;
  program.Format("%s\\%s", windows, tftp::kProgramName);
  CString line;
  line.Format("%s%s", tftp::kRootPrefix, folder.GetString());

  SECURITY_ATTRIBUTES processAttributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  SECURITY_ATTRIBUTES threadAttributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  STARTUPINFO startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string commandLine = line.GetString();
  if (!CreateProcess(program, commandLine.data(), &processAttributes, &threadAttributes, FALSE,
                     CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info)) {
    m_dwCreateProcessError = GetLastError();
    TraceError("CreateProcess : Error - %d\n", static_cast<int>(m_dwCreateProcessError));
    return FALSE;
  }
  CloseHandle(info.hThread);
  m_hProcess = info.hProcess;
  WaitForServerEvent();
  BOOL running = IsTftpServerRunning();
  if (!running && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT) {
    // It counts as not started: a program that shows no event in time is not left running unseen.
    TerminateProcess(m_hProcess, 1);
    WaitForSingleObject(m_hProcess, m_Settings.stopWaitMs);
  }
  if (!running) ReleaseProcess();
  TraceInfo("CUpgradeFirmwareDlg::StartTftpServer <=\n");
  return running;
}

void CTftpServerControl::WaitForServerEvent() {
  const ULONGLONG start = GetTickCount64();
  while (!EventExists() && GetTickCount64() - start < m_Settings.startWaitMs) {
    if (WaitForSingleObject(m_hProcess, kPollMs) == WAIT_OBJECT_0) break;  // it ended without serving
  }
}

BOOL CTftpServerControl::IsTftpServerRunning() {
  TraceInfo("CUpgradeFirmwareDlg::IsTftpServerRunning =>\n");
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, tftp::kShutDownEventName);
  if (!event) {
    TraceError(" Error: CreateEvent() %d", static_cast<int>(GetLastError()));
    return FALSE;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    TraceInfo("CUpgradeFirmwareDlg::IsTftpServerRunning <=\n");
    return TRUE;
  }
  TraceError("TftpServerShutDown event doesn't exists.");
  CloseHandle(event);
  return FALSE;
}

BOOL CTftpServerControl::StopTftpServer() {
  TraceInfo("CUpgradeFirmwareDlg::StopTftpServer ==>>");
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, tftp::kShutDownEventName);
  if (!event) {
    TraceError(" Error: CreateEvent() %d", static_cast<int>(GetLastError()));
    return FALSE;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    TraceError(" Error: TftpServerShutDown event doesn't exists.");
    CloseHandle(event);
    return FALSE;
  }
  SetEvent(event);
  CloseHandle(event);
  // Our own server is waited for by its process; one started elsewhere by its event going.
  if (m_hProcess) {
    if (WaitForSingleObject(m_hProcess, m_Settings.stopWaitMs) == WAIT_OBJECT_0) ReleaseProcess();
  } else {
    const ULONGLONG start = GetTickCount64();
    while (EventExists() && GetTickCount64() - start < m_Settings.stopWaitMs) Sleep(kPollMs);
  }
  if (IsTftpServerRunning()) return FALSE;
  TraceInfo("CUpgradeFirmwareDlg::StopTftpServer <<==");
  return TRUE;
}
