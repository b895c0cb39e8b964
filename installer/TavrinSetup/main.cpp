// TavrinSetup: installs the system from the folder named by "PATH=" on the command line, or updates an
// installed one. Its dialog is never shown; the user sees message boxes only.
#include <cstdlib>
#include <cstring>
#include <string>

#include "admin/LogFile.h"
#include "installer/Installer.h"
#include "installer/Program.h"
#include "win32/security.h"
#include "win32/windows.h"

namespace {

// String table.
constexpr char kOsVersionError[] = "Error In Getting OS Version Information !!";  // 102
constexpr char kUpdateCaption[] = "Update Software";                             // 113
constexpr char kUpdateQuestion[] = "Tavrin Software is Already Present. Press OK to update.";  // 114
constexpr char kRemoved[] = "Removed";                                           // 120
constexpr char kRemovedOnReboot[] = "Removed on reboot";                         // 121
constexpr char kRemoveFailed[] = "Remove failed";                                // 122

// The pause after the update question; TAVRIN_SETUP_PAUSE_MS shortens it for tests.
DWORD PauseMs() {
  const char* text = std::getenv("TAVRIN_SETUP_PAUSE_MS");
  return text && *text ? static_cast<DWORD>(std::strtoul(text, nullptr, 10)) : 1000;
}

// TAVRIN_SETUP_KILL_AT_STEP=N: the program is killed as its installer starts its Nth step (the Nth "==>"
// trace line), as a power cut or a user's kill could end it there; tests check that a rerun mends any such
// end.
DWORD KillAtStep() {
  const char* text = std::getenv("TAVRIN_SETUP_KILL_AT_STEP");
  return text && *text ? static_cast<DWORD>(std::strtoul(text, nullptr, 10)) : 0;
}

std::string InstallFolder() {
  std::string folder;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                   KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    char buffer[MAX_PATH];
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueEx(key, "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
      folder = buffer;
    RegCloseKey(key);
  }
  return folder + "\\" + "Tavrin";
}

class CTavrinSetupDlg : public installer::HiddenDialog {
 public:
  CTavrinSetupDlg(CLogFile* log, int versionKind)
      : m_installer(installer::CInstaller::Variant::Setup, log), m_log(log), m_versionKind(versionKind) {
    m_installer.SetVersionKind(versionKind);
    m_installer.SetInstallFolder(InstallFolder());
    m_installer.Devices().SetRemoveTexts(kRemoved, kRemovedOnReboot, kRemoveFailed);
    if (const DWORD killAt = KillAtStep())
      m_installer.SetTraceHook([killAt, steps = DWORD{0}](const char* line) mutable {
        if (std::strstr(line, "==>") && ++steps == killAt) TerminateProcess(GetCurrentProcess(), 9);
      });
  }

 protected:
  int Run() override {
    if (m_versionKind != installer::CInstaller::kNt5) {
      MessageBox("This Setup Application Intended for Windows2K/XP", nullptr, MB_OK | MB_ICONINFORMATION);
      return IDCANCEL;
    }
    // Without its source folder the road would copy nothing it needs: nothing is changed.
    std::string source;
    if (!installer::SourceFolderFromCommandLine(GetCommandLine(), &source)) {
      m_log->Write("No \"PATH=\" on the command line: nothing installed\n");
      MessageBox("Start TavrinSetup with \"PATH=\" followed by the folder that holds the installation files.",
                 nullptr, MB_OK | MB_ICONERROR);
      return IDCANCEL;
    }
    m_installer.SetSourceFolder(source);
    int answer = 0;
    if (m_installer.IsAlreadyInstalled())
      answer = MessageBox(kUpdateQuestion, kUpdateCaption, MB_OKCANCEL) == IDOK ? 1 : -1;
    Sleep(PauseMs());
    if (answer == -1) return IDOK;
    m_installer.m_rebootRequired = 0;
    BOOL ok = answer == 1 ? m_installer.UpdateSoftware() : m_installer.InstallSoftware();
    return ok ? IDOK : IDCANCEL;
  }

 private:
  installer::CInstaller m_installer;
  CLogFile* m_log;
  int m_versionKind;
};

}  // namespace

int main() {
  const std::string logPath = installer::LogPathFor("TavrinSetup.log");
  const int versionKind = installer::VersionKind(installer::CInstaller::kNt5, kOsVersionError);
  CLogFile log;
  log.Open("Pelko Setup Application", logPath.c_str(), TRUE, TRUE);
  int result;
  {
    CTavrinSetupDlg dialog(&log, versionKind);
    result = dialog.DoModal("TavrinSetup", 1);
  }
  log.Close();
  return result == IDOK ? 0 : 1;
}
