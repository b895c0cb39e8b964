// What the common controls share: their state hung on the window as a property, notifications to the
// parent, and text copies into callers' buffers.
#pragma once
#include <algorithm>
#include <cstring>
#include <string>

#include "win32/comctl.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"

namespace tavrin::controls::detail {

// The state object of a control window, made at its first message and deleted at WM_NCDESTROY (when
// `gone` is set the caller must delete it after its last use).
template <class State>
State* StateOf(HWND hwnd, const char* prop, UINT message) {
  auto* s = static_cast<State*>(GetProp(hwnd, prop));
  if (!s && message != WM_NCDESTROY) {
    s = new State;
    SetProp(hwnd, prop, s);
  }
  return s;
}

inline LRESULT NotifyParent(HWND hwnd, NMHDR& header, UINT code) {
  HWND parent = GetParent(hwnd);
  if (!parent) return 0;
  header.hwndFrom = hwnd;
  header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
  header.code = code;
  return SendMessage(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

inline void CommandToParent(HWND hwnd, UINT code) {
  if (HWND parent = GetParent(hwnd)) {
    SendMessage(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
  }
}

// Copies text with its terminator into a buffer of `size` bytes; the length copied.
inline int CopyOut(const std::string& text, LPSTR buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

inline DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE)); }

inline HFONT FontOr(HFONT font) { return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

void RegisterProgress();
void RegisterStatusBar();
void RegisterToolTips();
void RegisterIpAddress();
void RegisterAnimate();
void RegisterToolbar();

}  // namespace tavrin::controls::detail
