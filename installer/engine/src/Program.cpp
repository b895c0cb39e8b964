#include "installer/Program.h"

#include "win32/osversion.h"
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

int HiddenDialog::DoModal(const char* caption, UINT delayMs) {
  if (!CreateEx(0, caption, WS_POPUP, 0, 0, 0, 0, nullptr, 0)) return -1;  // created without WS_VISIBLE
  SetTimer(1, delayMs);
  MSG msg;
  int code = 0;
  while (GetMessage(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  code = static_cast<int>(msg.wParam);
  DestroyWindow();
  return code;
}

void HiddenDialog::OnTimer(UINT_PTR id) {
  if (id != 1) return CWnd::OnTimer(id);
  KillTimer(1);
  if (ran_) return;
  ran_ = true;
  PostQuitMessage(Run());
}

}  // namespace installer
