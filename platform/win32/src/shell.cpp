// The notification area. Each icon is a small always-on-top window of its own at the bottom right of the
// screen, its text the tip: a display shows it like any other window (and docks it into a tray where the
// desktop has one), its tool tip shows on hover, and the mouse on it reaches the owner as the icon's
// callback message (wParam the icon's id, lParam the mouse message), as a notification area sends them.
#include "win32/shell.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "win32/comctl.h"
#include "win32/resources.h"
#include "win32/user.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"
#include "window_internal.h"

namespace {

constexpr int kIconSize = 16;
constexpr char kTipProp[] = "TavrinTrayTip";  // the tray window's tool tip

std::mutex g_trayMutex;
std::vector<tavrin::tray::TrayIcon> g_icons;

auto FindIcon(HWND window, UINT id) {
  return std::find_if(g_icons.begin(), g_icons.end(),
                      [&](const tavrin::tray::TrayIcon& icon) { return icon.window == window && icon.id == id; });
}

// The record of a tray window, copied out of the list.
bool IconOfWindow(HWND shown, tavrin::tray::TrayIcon& found) {
  std::lock_guard lock(g_trayMutex);
  auto it = std::find_if(g_icons.begin(), g_icons.end(),
                         [&](const tavrin::tray::TrayIcon& icon) { return icon.shown == shown; });
  if (it == g_icons.end()) return false;
  found = *it;
  return true;
}

// What the window draws: the icon as given, or, for an icon only named by its resource id, the
// resource's small image (loaded per paint: the picture is small and the window seldom paints).
void PaintIcon(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  tavrin::tray::TrayIcon icon{};
  if (IconOfWindow(hwnd, icon) && icon.icon) {
    HICON drawn = icon.icon;
    bool loaded = false;
    if (IS_INTRESOURCE(reinterpret_cast<LPCSTR>(icon.icon))) {
      drawn = static_cast<HICON>(LoadImage(nullptr, reinterpret_cast<LPCSTR>(icon.icon), IMAGE_ICON, kIconSize,
                                           kIconSize, LR_DEFAULTCOLOR));
      loaded = drawn != nullptr;
    }
    if (drawn)
      DrawIconEx(hdc, (rc.right - kIconSize) / 2, (rc.bottom - kIconSize) / 2, drawn, kIconSize, kIconSize, 0,
                 nullptr, DI_NORMAL);
    if (loaded) DestroyIcon(drawn);
  }
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      PaintIcon(hwnd);
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // a click on the icon leaves the active window as it is
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK: {
      tavrin::tray::TrayIcon icon{};
      if (IconOfWindow(hwnd, icon) && icon.callbackMessage && IsWindow(icon.window))
        PostMessage(icon.window, icon.callbackMessage, icon.id, static_cast<LPARAM>(message));
      return 0;
    }
    case WM_CLOSE:  // posted by NIM_DELETE from another thread than the window's
      DestroyWindow(hwnd);
      return 0;
    case WM_NCDESTROY:
      RemoveProp(hwnd, kTipProp);
      return DefWindowProc(hwnd, message, wParam, lParam);
    default:
      return DefWindowProc(hwnd, message, wParam, lParam);
  }
}

// The tray window's place: the icons side by side from the bottom right corner.
POINT TraySlot(size_t index) {
  const RECT screen = tavrin::win::ScreenRect();
  const int size = tavrin::tray::kTrayWindowSize;
  return {static_cast<int>(screen.right) - 2 - size * static_cast<int>(index + 1), static_cast<int>(screen.bottom) - 2 - size};
}

HWND MakeTrayWindow(const std::string& tip, size_t index) {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = TrayWindowProc;
    wc.lpszClassName = tavrin::tray::kTrayWindowClass;
    RegisterClass(&wc);
  });
  const POINT at = TraySlot(index);
  const int size = tavrin::tray::kTrayWindowSize;
  HWND shown = CreateWindowEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, tavrin::tray::kTrayWindowClass, tip.c_str(),
                              WS_POPUP, at.x, at.y, size, size, nullptr, nullptr, nullptr, nullptr);
  if (!shown) return nullptr;
  // Marked before it shows, so that a display with a tray docks it from the start.
  tavrin::win::detail::MarkTrayIcon(shown);
  ShowWindow(shown, SW_SHOWNA);
  tavrin::controls::RegisterCommonControls();
  HWND tipWindow = CreateWindowEx(WS_EX_TOPMOST, TOOLTIPS_CLASS, "", WS_POPUP, 0, 0, 0, 0, shown, nullptr, nullptr,
                                  nullptr);
  if (tipWindow) {
    SetProp(shown, kTipProp, tipWindow);
    TOOLINFO tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = shown;
    tool.uId = reinterpret_cast<UINT_PTR>(shown);
    tool.lpszText = const_cast<LPSTR>(tip.c_str());
    SendMessage(tipWindow, TTM_ADDTOOL, 0, reinterpret_cast<LPARAM>(&tool));
  }
  return shown;
}

// The tip of a tray window: its text and its tool tip's.
void SetTrayTip(HWND shown, const std::string& tip) {
  SetWindowText(shown, tip.c_str());
  if (HWND tipWindow = static_cast<HWND>(GetProp(shown, kTipProp))) {
    TOOLINFO tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = shown;
    tool.uId = reinterpret_cast<UINT_PTR>(shown);
    tool.lpszText = const_cast<LPSTR>(tip.c_str());
    SendMessage(tipWindow, TTM_UPDATETIPTEXT, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void RemoveTrayWindow(HWND shown) {
  if (!shown) return;
  if (GetWindowThreadProcessId(shown, nullptr) == GetCurrentThreadId()) DestroyWindow(shown);
  else PostMessage(shown, WM_CLOSE, 0, 0);
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData) {
  if (!lpData) return FALSE;
  HWND made = nullptr, gone = nullptr, retipped = nullptr, redrawn = nullptr;
  std::string tip;
  {
    std::lock_guard lock(g_trayMutex);
    auto it = FindIcon(lpData->hWnd, lpData->uID);
    switch (dwMessage) {
      case NIM_ADD:
        if (it != g_icons.end()) return FALSE;
        it = g_icons.insert(g_icons.end(), tavrin::tray::TrayIcon{lpData->hWnd, lpData->uID, 0, nullptr, {}, nullptr});
        break;
      case NIM_MODIFY:
        if (it == g_icons.end()) return FALSE;
        break;
      case NIM_DELETE:
        if (it == g_icons.end()) return FALSE;
        gone = it->shown;
        g_icons.erase(it);
        break;
      default:
        return FALSE;
    }
    if (dwMessage != NIM_DELETE) {
      if (lpData->uFlags & NIF_MESSAGE) it->callbackMessage = lpData->uCallbackMessage;
      if (lpData->uFlags & NIF_ICON) {
        it->icon = lpData->hIcon;
        redrawn = it->shown;
      }
      if (lpData->uFlags & NIF_TIP) {
        it->tip.assign(lpData->szTip, strnlen(lpData->szTip, sizeof lpData->szTip));
        retipped = it->shown;
      }
      tip = it->tip;
    }
  }
  // The windows are made and changed outside the list's lock: their procedures read the list.
  if (gone) RemoveTrayWindow(gone);
  if (dwMessage == NIM_ADD) {
    size_t index = 0;
    {
      std::lock_guard lock(g_trayMutex);
      index = g_icons.size() - 1;
    }
    made = MakeTrayWindow(tip, index);
    std::lock_guard lock(g_trayMutex);
    auto it = FindIcon(lpData->hWnd, lpData->uID);
    if (it != g_icons.end()) it->shown = made;
  } else if (retipped) {
    SetTrayTip(retipped, tip);
  }
  if (redrawn) InvalidateRect(redrawn, nullptr, FALSE);
  return TRUE;
}

HICON LoadIconResource(UINT id) { return reinterpret_cast<HICON>(static_cast<uintptr_t>(id)); }

namespace tavrin::tray {

std::vector<TrayIcon> Icons() {
  std::lock_guard lock(g_trayMutex);
  return g_icons;
}

}  // namespace tavrin::tray
