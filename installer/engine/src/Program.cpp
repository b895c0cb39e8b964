#include "installer/Program.h"

#include "mfc/gdi.h"
#include "win32/osversion.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace installer {

std::string LogPathFor(const char* fileName) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectory(windows, sizeof windows);
  windows[2] = '\0';  // the drive, "C:"
  return std::string(windows) + "\\" + fileName;
}

int VersionKind(int startValue, const char* errorText) {
  OSVERSIONINFOEX ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  OSVERSIONINFO* info = reinterpret_cast<OSVERSIONINFO*>(&ex);
  if (!GetVersionEx(info)) {
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFO);
    if (!GetVersionEx(info)) {
      MessageBox(nullptr, errorText, "", MB_OK | MB_ICONHAND);
      return startValue;
    }
  }
  if (info->dwPlatformId == VER_PLATFORM_WIN32_NT) return info->dwMajorVersion >= 5 ? 1 : 0;
  if (info->dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info->dwMajorVersion == 4 && info->dwMinorVersion != 0) return 2;
  return startValue;
}

InstallerDialog::InstallerDialog(UINT delayMs, UINT iconId) : CDialog(kTemplateId), m_delayMs(delayMs) {
  m_hIcon = LoadIcon(nullptr, MAKEINTRESOURCE(static_cast<WORD>(iconId)));
}

const mfc::MessageMap* InstallerDialog::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&InstallerDialog::OnWindowPosChanging>(WM_WINDOWPOSCHANGING),
      mfc::OnMessage<&InstallerDialog::OnSysCommand>(WM_SYSCOMMAND),
  };
  static const mfc::MessageMap map{CDialog::GetMessageMap(), entries};
  return &map;
}

BOOL InstallerDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  if (HMENU system = ::GetSystemMenu(m_hWnd, FALSE)) {
    char text[128] = "";
    if (LoadString(nullptr, kAboutItemText, text, sizeof text) > 0) {
      ::AppendMenu(system, MF_SEPARATOR, 0, nullptr);
      ::AppendMenu(system, MF_STRING, kAboutCommand, text);
    }
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  SetTimer(1, m_delayMs);
  return TRUE;
}

LRESULT InstallerDialog::OnWindowPosChanging(WPARAM, LPARAM lParam) {
  if (auto* pos = reinterpret_cast<WINDOWPOS*>(lParam)) pos->flags &= ~SWP_SHOWWINDOW;
  return 0;
}

LRESULT InstallerDialog::OnSysCommand(WPARAM command, LPARAM lParam) {
  if ((command & 0xFFF0) == kAboutCommand) {
    OnAbout();
    return 0;
  }
  return DefWindowProc(WM_SYSCOMMAND, command, lParam);
}

void InstallerDialog::OnTimer(UINT_PTR id) {
  if (id != 1) return CDialog::OnTimer(id);
  KillTimer(1);
  if (m_ran) return;
  m_ran = true;
  EndDialog(Run());
}

// A minimised dialog shows its icon centred, as dialog programs do.
void InstallerDialog::OnPaint() {
  if (!IsIconic()) return CDialog::OnPaint();
  CPaintDC dc(this);
  RECT client{};
  GetClientRect(&client);
  const int side = GetSystemMetrics(SM_CXICON);
  dc.DrawIcon((client.right - side + 1) / 2, (client.bottom - side + 1) / 2, m_hIcon);
}

void InstallerDialog::SetLine(int id, UINT stringId) { ::SetDlgItemText(m_hWnd, id, LoadText(stringId).c_str()); }

std::string LoadText(UINT id) {
  char text[256] = "";
  LoadString(nullptr, id, text, sizeof text);
  return text;
}

InstallerApp::InstallerApp(const char* name, int versionStart, UINT versionErrorId, const char* logFile,
                           const char* module)
    : CWinApp(name), m_versionStart(versionStart), m_versionErrorId(versionErrorId), m_logFile(logFile), m_module(module) {}

BOOL InstallerApp::InitInstance() {
  const int versionKind = VersionKind(m_versionStart, LoadText(m_versionErrorId).c_str());
  m_log.Open(m_module, LogPathFor(m_logFile).c_str(), TRUE, TRUE);
  m_nExitCode = RunDialog(&m_log, versionKind) == IDOK ? 0 : 1;
  return FALSE;  // the dialog has ended: so does the program
}

int InstallerApp::ExitInstance() {
  m_log.Close();
  return CWinApp::ExitInstance();
}

}  // namespace installer
