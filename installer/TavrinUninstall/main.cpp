// TavrinUninstall: removes the system. Its dialog is never shown; the user sees message boxes only.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "admin/LogFile.h"
#include "installer/Installer.h"
#include "installer/Program.h"
#include "win32/windows.h"

namespace {

constexpr char kOsVersionError[] = "Error In Getting OS Version Information !!";  // 500
constexpr char kRemoved[] = "Removed";                                           // 502
constexpr char kRemovedOnReboot[] = "Removed on reboot";                         // 503
constexpr char kRemoveFailed[] = "Remove failed";                                // 504

// The delay before the road starts; TAVRIN_SETUP_PAUSE_MS shortens it for tests.
UINT StartDelayMs() {
  const char* text = std::getenv("TAVRIN_SETUP_PAUSE_MS");
  return text && *text ? static_cast<UINT>(std::strtoul(text, nullptr, 10)) : 1000;
}

class CTavrinUninstallDlg : public installer::HiddenDialog {
 public:
  CTavrinUninstallDlg(CLogFile* log, int versionKind)
      : m_installer(installer::CInstaller::Variant::Uninstaller, log), m_versionKind(versionKind) {
    m_installer.SetVersionKind(versionKind);
    m_installer.Devices().SetRemoveTexts(kRemoved, kRemovedOnReboot, kRemoveFailed);
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
      m_installed = true;
      RegCloseKey(key);
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "OnInitDialog()=> Error : RegOpenKeyEx %ld, \t\t\tTavrin  Software Not Installed",
                    static_cast<long>(status));
      log->Write(line);
    }
  }

 protected:
  int Run() override {
    if (m_versionKind == installer::CInstaller::kNt5)
      m_installer.UnInstallSoftware();
    else
      MessageBox("This Uninstall Application Intended for Windows2K/XP", nullptr, MB_OK | MB_ICONINFORMATION);
    m_runState = 1;
    return IDOK;
  }

 private:
  installer::CInstaller m_installer;
  int m_versionKind;
  bool m_installed = false;
  int m_runState = 0;
};

}  // namespace

int main() {
  const std::string logPath = installer::LogPathFor("TavrinUninstall.log");
  const int versionKind = installer::VersionKind(installer::CInstaller::kNt4, kOsVersionError);
  CLogFile log;
  log.Open("Pelko Uninstall Application", logPath.c_str(), TRUE, TRUE);
  int result;
  {
    CTavrinUninstallDlg dialog(&log, versionKind);
    result = dialog.DoModal("TavrinUninstall", StartDelayMs());
  }
  log.Close();
  return result == IDOK ? 0 : 1;
}
