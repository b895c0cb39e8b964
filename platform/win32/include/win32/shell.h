// The notification area: Shell_NotifyIcon with the icon kept per (window, id). Headless, so the icons
// are records that the program and tests can look at.
#pragma once
#include <string>
#include <vector>

#include "win32/types.h"

struct HICON__;
using HICON = HICON__*;

constexpr DWORD NIM_ADD = 0x0;
constexpr DWORD NIM_MODIFY = 0x1;
constexpr DWORD NIM_DELETE = 0x2;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

struct NOTIFYICONDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
};
using PNOTIFYICONDATA = NOTIFYICONDATA*;

// NIM_ADD fails for an icon that exists, NIM_MODIFY and NIM_DELETE for one that does not.
BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData);

// The icon of a resource id (icons are only named here).
HICON LoadIconResource(UINT id);

namespace tavrin::tray {

struct TrayIcon {
  HWND window;
  UINT id;
  UINT callbackMessage;
  HICON icon;
  std::string tip;
};
// The icons this process shows now.
std::vector<TrayIcon> Icons();

}  // namespace tavrin::tray
