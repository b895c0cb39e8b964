// TavrinUninstall: removes the system. Its dialog is never shown; the user sees message boxes only.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "UninstallResource.h"
#include "admin/LogFile.h"
#include "installer/Installer.h"
#include "installer/Program.h"
#include "mfc/gdi.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace {

using installer::LoadText;

// The delay before the road starts; TAVRIN_SETUP_PAUSE_MS shortens it for tests.
UINT StartDelayMs() {
  const char* text = std::getenv("TAVRIN_SETUP_PAUSE_MS");
  return text && *text ? static_cast<UINT>(std::strtoul(text, nullptr, 10)) : 1000;
}

class CTavrinUninstallDlg : public installer::InstallerDialog {
 public:
  CTavrinUninstallDlg(CLogFile* log, int versionKind)
      : InstallerDialog(StartDelayMs()), m_installer(installer::CInstaller::Variant::Uninstaller, log), m_log(log),
        m_versionKind(versionKind), m_removed(LoadText(IDS_REMOVED)), m_removedOnReboot(LoadText(IDS_REMOVED_ON_REBOOT)),
        m_removeFailed(LoadText(IDS_REMOVE_FAILED)) {
    m_installer.SetVersionKind(versionKind);
    m_installer.Devices().SetRemoveTexts(m_removed.c_str(), m_removedOnReboot.c_str(), m_removeFailed.c_str());
  }

 protected:
  BOOL OnInitDialog() override {
    InstallerDialog::OnInitDialog();
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
      m_installed = true;
      RegCloseKey(key);
    } else {  // the uninstall runs all the same
      char line[160];
      std::snprintf(line, sizeof line, "OnInitDialog()=> Error : RegOpenKeyEx %ld, \t\t\tTavrin  Software Not Installed",
                    static_cast<long>(status));
      m_log->Write(line);
    }
    return TRUE;
  }

  void OnAbout() override {
    CDialog about(IDD_ABOUTBOX, this);
    about.DoModal();
  }

  int Run() override {
    m_font.CreateFont(16, 0, 0, 0, 700, TRUE, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    CWnd* progress = GetDlgItem(IDC_PROGRESS_LINE);
    if (progress) {
      progress->SetFont(&m_font);
      progress->SetWindowText("Wait! Uninstall is in Progress....");
    }
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_UNINSTALL), FALSE);
    if (m_versionKind == installer::CInstaller::kNt5) {
      m_installer.UnInstallSoftware();
      if (progress) progress->ShowWindow(SW_HIDE);
    } else {
      MessageBox("This Uninstall Application Intended for Windows2K/XP", nullptr, MB_OK | MB_ICONINFORMATION);
    }
    m_runState = 1;
    if (CWnd* heading = GetDlgItem(IDC_HEADING)) {
      heading->SetFont(&m_font);
      heading->SetWindowText("UnInstallation Completed");
    }
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_UNINSTALL), SW_HIDE);
    ::SetDlgItemText(m_hWnd, IDC_EXIT, "Finish");
    return IDOK;
  }

 private:
  installer::CInstaller m_installer;
  CLogFile* m_log;
  int m_versionKind;
  std::string m_removed, m_removedOnReboot, m_removeFailed;  // the texts the device installer logs
  bool m_installed = false;
  int m_runState = 0;
  CFont m_font;  // the lines' "Tahoma" 16, bold italic
};

class CTavrinUninstallApp : public installer::InstallerApp {
 public:
  CTavrinUninstallApp() : InstallerApp("TavrinUninstall", installer::CInstaller::kNt4, IDS_OS_VERSION_ERROR, "TavrinUninstall.log",
                   "Pelko Uninstall Application") {}

 protected:
  INT_PTR RunDialog(CLogFile* log, int versionKind) override {
    CTavrinUninstallDlg dialog(log, versionKind);
    return dialog.DoModal();
  }
};

CTavrinUninstallApp theApp;

}  // namespace

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
