// CInstaller: every step of installing, updating and removing the system. Each step writes "==>" and
// "<<==" trace lines to the program's trace log and returns non-zero for success.
#pragma once
#include <functional>
#include <string>

#include "admin/LogFile.h"
#include "installer/DeviceInstaller.h"
#include "win32/registry.h"
#include "win32/types.h"

namespace installer {

// The folder behind "PATH=" on a command line, cut as the launcher expects (its last character dropped; a
// drive root keeps only "D:"). False when there is no "PATH=" or nothing behind it.
bool SourceFolderFromCommandLine(const char* commandLine, std::string* folder);

class CInstaller {
 public:
  enum class Variant { Setup, Uninstaller };
  // Windows-version kinds of the programs.
  static constexpr int kNt5 = 1, kNt4 = 0, kWin9x = 2;

  CInstaller(Variant variant, CLogFile* log);

  void SetSourceFolder(const std::string& folder) { m_sourceFolder = folder; }
  void SetInstallFolder(const std::string& folder) { m_installFolder = folder; }
  void SetVersionKind(int kind) { m_versionKind = kind; }
  DeviceInstaller& Devices() { return m_devices; }
  // How long StopClientApplication waits for the clean-up, and how long a program file that is still in
  // use is retried before its deletion counts as failed.
  void SetCleanUpWait(DWORD ms) { m_cleanUpWaitMs = ms; }
  void SetInUseRetry(DWORD ms) { m_inUseRetryMs = ms; }
  // Runs with each trace line once it has been written.
  void SetTraceHook(std::function<void(const char* line)> hook) { m_traceHook = std::move(hook); }

  BOOL InstallSoftware();
  BOOL UnInstallSoftware();
  BOOL UpdateSoftware();
  BOOL IsAlreadyInstalled();

  BOOL WriteHistory();
  BOOL DeleteHistory();
  BOOL CopyToSystemPath(const char* fileName);
  BOOL AddUninstallApp();
  BOOL DelExeFiles(const char* fileName);
  BOOL DeleteSysFiles(const char* fileName);
  BOOL CopyBusInfToSystemPath();
  BOOL AddEntryToDeskTop();
  BOOL DeleteEntryFromDeskTop();
  BOOL CreateDesktopShotcut(const char* linkName, const char* programFile, const char* folder);
  BOOL DeleteDesktopShotcut(const char* linkName);
  BOOL AddAdminExeToStartup();
  BOOL AddtoStartUp(const char* valueName, const char* command, BOOL machine);
  BOOL RemoveFromStartUp(const char* valueName, BOOL machine);
  BOOL RemoveFromAddRemovePrograms();
  BOOL DeleteOemInfFiles();
  BOOL SetRebootRequired();
  BOOL LaunchClientApplication(const char* programName);
  BOOL StopClientApplication(const char* eventName);
  int cmdInstall(const char* infPath, const char* hardwareId);
  int cmdRemove(const char* hardwareId);

  DWORD m_rebootRequired = 0;

 private:
  void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool WindowsDirectory(std::string* out);
  std::string Source(const char* name) const;
  void RemoveDevices();
  void Box(const char* text, UINT type);
  // Sets the shut-down event of a TavrinAdmin that has no clean-up to tell and waits (the clean-up wait at
  // most) until it has ended; a program that does not end is reported in a box.
  void EndClientWithoutCleanUp(HANDLE shutDown, const char* eventName);
  // Opens a registry key with `open`, applies `use` to it and closes it; a failed step's status is traced
  // with its format (one %ld). TRUE when both steps succeeded.
  BOOL WithKey(const std::function<LONG(HKEY*)>& open, const char* openError, const std::function<LONG(HKEY)>& use,
               const char* useError);

  Variant m_variant;
  CLogFile* m_log;
  DeviceInstaller m_devices;
  std::string m_sourceFolder, m_installFolder;
  int m_versionKind = kNt5;
  DWORD m_cleanUpWaitMs = 20000;
  DWORD m_inUseRetryMs = 10000;
  std::function<void(const char*)> m_traceHook;
};

}  // namespace installer
