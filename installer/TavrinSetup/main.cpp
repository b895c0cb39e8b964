// TavrinSetup: installs the system from the folder named by "PATH=" on the command line, or updates an
// installed one. Its dialog is never shown; the user sees message boxes only.
#include <cstdlib>
#include <cstring>
#include <string>

#include "SetupResource.h"
#include "admin/LogFile.h"
#include "installer/Installer.h"
#include "installer/Program.h"
#include "win32/resources.h"
#include "win32/security.h"
#include "win32/windows.h"

namespace {

using installer::LoadText;

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

class CTavrinSetupDlg : public installer::InstallerDialog {
 public:
  CTavrinSetupDlg(CLogFile* log, int versionKind)
      : InstallerDialog(1), m_installer(installer::CInstaller::Variant::Setup, log), m_log(log),
        m_versionKind(versionKind), m_removed(LoadText(IDS_REMOVED)), m_removedOnReboot(LoadText(IDS_REMOVED_ON_REBOOT)),
        m_removeFailed(LoadText(IDS_REMOVE_FAILED)) {
    m_installer.SetVersionKind(versionKind);
    m_installer.Devices().SetRemoveTexts(m_removed.c_str(), m_removedOnReboot.c_str(), m_removeFailed.c_str());
    if (const DWORD killAt = KillAtStep())
      m_installer.SetTraceHook([killAt, steps = DWORD{0}](const char* line) mutable {
        if (std::strstr(line, "==>") && ++steps == killAt) TerminateProcess(GetCurrentProcess(), 9);
      });
  }

 protected:
  BOOL OnInitDialog() override {
    InstallerDialog::OnInitDialog();
    m_installer.SetInstallFolder(InstallFolder());
    return TRUE;
  }

  // Exit (or Esc) asks first; OK to the question ends the installation.
  void OnCancel() override {
    if (MessageBox(LoadText(IDS_ABORT_QUESTION).c_str(), "", MB_OKCANCEL) == IDOK) EndDialog(IDCANCEL);
  }

  int Run() override {
    m_step = 0;
    Lines(IDS_CHECKING, IDS_PLEASE_WAIT);
    if (m_versionKind != installer::CInstaller::kNt5) {
      MessageBox("This Setup Application Intended for Windows2K/XP", nullptr, MB_OK | MB_ICONINFORMATION);
      Lines(IDS_ABORTED, 0);
      Finish();
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
    if (m_installer.IsAlreadyInstalled())
      m_answer = MessageBox(LoadText(IDS_UPDATE_QUESTION).c_str(), LoadText(IDS_UPDATE_CAPTION).c_str(), MB_OKCANCEL) == IDOK ? 1 : -1;
    Sleep(PauseMs());
    EnableButtons(TRUE);
    SetLine(IDC_TITLE_LINE, IDS_SETUP_TITLE);
    if (m_answer == -1) {
      Finish();
      return IDOK;
    }
    SetLine(IDC_STATUS_LINE, IDS_CLICK_NEXT);
    m_step = 1;

    m_installer.m_rebootRequired = 0;
    Lines(IDS_INSTALLING_TITLE, IDS_INSTALLING_STATUS);
    EnableButtons(FALSE);
    const BOOL ok = m_answer == 1 ? m_installer.UpdateSoftware() : m_installer.InstallSoftware();
    if (!ok) {
      Lines(IDS_ABORTED, 0);
      Finish();
      return IDCANCEL;
    }
    Finish();
    return IDOK;
  }

 private:
  // The title line (in the title font) and the status line; 0 leaves a line as it is.
  void Lines(UINT title, UINT status) {
    if (title) SetLine(IDC_TITLE_LINE, title);
    if (status) SetLine(IDC_STATUS_LINE, status);
  }
  void EnableButtons(BOOL enable) {
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_NEXT), enable);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_EXIT), enable);
  }
  // The work is over: "Finish" where "Next >>" was, Exit gone.
  void Finish() {
    Lines(IDS_FINISHED, IDS_CLICK_FINISH);
    ::SetDlgItemText(m_hWnd, IDC_NEXT, " Finish ");
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_EXIT), SW_HIDE);
    EnableButtons(TRUE);
    m_step = 255;
  }

  installer::CInstaller m_installer;
  CLogFile* m_log;
  int m_versionKind;
  std::string m_removed, m_removedOnReboot, m_removeFailed;  // the texts the device installer logs
  int m_step = 0;    // 0 start, 1 run, 255 done
  int m_answer = 0;  // 0 fresh install, 1 update accepted, -1 update declined
};

class CTavrinSetupApp : public installer::InstallerApp {
 public:
  CTavrinSetupApp() : InstallerApp("TavrinSetup", installer::CInstaller::kNt5, IDS_OS_VERSION_ERROR, "TavrinSetup.log",
                   "Pelko Setup Application") {}

 protected:
  INT_PTR RunDialog(CLogFile* log, int versionKind) override {
    CTavrinSetupDlg dialog(log, versionKind);
    return dialog.DoModal();
  }
};

CTavrinSetupApp theApp;

}  // namespace

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
