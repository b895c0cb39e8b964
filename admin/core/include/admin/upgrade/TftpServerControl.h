// Starting and stopping the outside TFTP server program that serves the image's folder during a firmware
// upgrade. The program is known to run exactly while its event "Tftp_ShutDown_Event" exists.
#pragma once
#include "admin/upgrade/UpgradeSettings.h"
#include "mfc/string.h"
#include "win32/types.h"

class CTftpServerControl {
 public:
  CTftpServerControl();
  // Stops a server this object started and has not stopped.
  ~CTftpServerControl();
  CTftpServerControl(const CTftpServerControl&) = delete;
  CTftpServerControl& operator=(const CTftpServerControl&) = delete;

  // Runs "<Windows directory>\TftpServer.exe" with the command line "TFTP_ROOT=<folder>" in a process
  // group of its own. A server that still runs (serving some older folder) is stopped first. TRUE once
  // the new server shows its event; a program that shows none within the start wait is ended. When the
  // program could not be started at all, GetCreateProcessError gives the system's code (else 0).
  BOOL StartTftpServer(const CString& folder);
  // Sets the server's event and waits for it to end. FALSE when it did not run or does not end.
  BOOL StopTftpServer();
  BOOL IsTftpServerRunning();

  DWORD GetCreateProcessError() const { return m_dwCreateProcessError; }
  // "CreateProcess : Error - %d", the message of a start that could not create the process.
  CString GetCreateProcessMessage() const;

 private:
  // Waits until the started process shows its event or ends, at most the start wait.
  void WaitForServerEvent();
  void ReleaseProcess();

  UpgradeSettings m_Settings;
  DWORD m_dwCreateProcessError = 0;
  HANDLE m_hProcess = nullptr;  // of the server this object started, until it has ended
};
