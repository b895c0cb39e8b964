// The notification area: Shell_NotifyIcon with the icon kept per (window, id). Each icon shows as a small
// always-on-top window of class kTrayWindowClass (its text the tip) at the bottom right of the screen, made
// on the thread that adds the icon; the mouse on it reaches the owner as the callback message (wParam the
// icon's id, lParam the mouse message). A display with a tray docks these windows there.
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

inline constexpr char kTrayWindowClass[] = "TavrinTrayIcon";
constexpr int kTrayWindowSize = 24;

struct TrayIcon {
  HWND window;
  UINT id;
  UINT callbackMessage;
  HICON icon;
  std::string tip;
  HWND shown;  // the icon's own window
};
// The icons this process shows now.
std::vector<TrayIcon> Icons();

}  // namespace tavrin::tray
