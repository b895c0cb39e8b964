#include "win32/shell.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_trayMutex;
std::vector<tavrin::tray::TrayIcon> g_icons;

auto FindIcon(HWND window, UINT id) {
  return std::find_if(g_icons.begin(), g_icons.end(),
                      [&](const tavrin::tray::TrayIcon& icon) { return icon.window == window && icon.id == id; });
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData) {
  if (!lpData) return FALSE;
  std::lock_guard lock(g_trayMutex);
  auto it = FindIcon(lpData->hWnd, lpData->uID);
  switch (dwMessage) {
    case NIM_ADD:
      if (it != g_icons.end()) return FALSE;
      it = g_icons.insert(g_icons.end(), tavrin::tray::TrayIcon{lpData->hWnd, lpData->uID, 0, nullptr, {}});
      break;
    case NIM_MODIFY:
      if (it == g_icons.end()) return FALSE;
      break;
    case NIM_DELETE:
      if (it == g_icons.end()) return FALSE;
      g_icons.erase(it);
      return TRUE;
    default:
      return FALSE;
  }
  if (lpData->uFlags & NIF_MESSAGE) it->callbackMessage = lpData->uCallbackMessage;
  if (lpData->uFlags & NIF_ICON) it->icon = lpData->hIcon;
  if (lpData->uFlags & NIF_TIP) it->tip.assign(lpData->szTip, strnlen(lpData->szTip, sizeof lpData->szTip));
  return TRUE;
}

HICON LoadIconResource(UINT id) { return reinterpret_cast<HICON>(static_cast<uintptr_t>(id)); }

namespace tavrin::tray {

std::vector<TrayIcon> Icons() {
  std::lock_guard lock(g_trayMutex);
  return g_icons;
}

}  // namespace tavrin::tray
