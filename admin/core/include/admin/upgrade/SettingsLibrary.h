// The "Settings" command's outside library: PelkoSettings.dll from the Windows directory (never by bare
// name, so a file of that name elsewhere on the search path is not loaded), its DisplaySettingsDlg run
// with no owner, the library freed again.
#pragma once
#include <functional>

#include "mfc/string.h"
#include "win32/types.h"

constexpr char SETTINGS_LIBRARY_NAME[] = "PelkoSettings.dll";
constexpr char SETTINGS_MSG_NOT_FOUND[] = "Pelko Settings DLL not found.";
constexpr char SETTINGS_MSG_WRONG_VERSION[] =
    "DisplaySettingsDlg function not found. Wrong version of PelkoSettings dll.";

// Shows a failure (text, MB_ICONERROR) the way the caller shows its boxes (the main frame's).
using SettingsMessageBox = std::function<void(const CString& text, UINT type)>;
// TRUE when the library's dialog ran.
BOOL RunSettingsLibrary(const SettingsMessageBox& showMessage);
