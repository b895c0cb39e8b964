#include "admin/upgrade/SettingsLibrary.h"

#include "win32/file.h"
#include "win32/module.h"
#include "win32/user.h"

BOOL RunSettingsLibrary(const SettingsMessageBox& showMessage) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectory(windows, MAX_PATH);
  CString path;
  path.Format("%s\\%s", windows, SETTINGS_LIBRARY_NAME);
  HMODULE library = LoadLibrary(path);
  if (!library) {
    if (showMessage) showMessage(SETTINGS_MSG_NOT_FOUND, MB_ICONERROR);
    return FALSE;
  }
  using DisplaySettingsDlgFn = int (*)(HWND owner);
  auto display = reinterpret_cast<DisplaySettingsDlgFn>(GetProcAddress(library, "DisplaySettingsDlg"));
  if (!display) {
    if (showMessage) showMessage(SETTINGS_MSG_WRONG_VERSION, MB_ICONERROR);
    FreeLibrary(library);
    return FALSE;
  }
  display(nullptr);
  FreeLibrary(library);
  return TRUE;
}
