// What the common controls share besides control_internal.h: WM_NOTIFY to the parent, and text copies
// into callers' buffers.
#pragma once
#include <algorithm>
#include <cstring>
#include <string>

#include "control_internal.h"
#include "win32/comctl.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"

namespace tavrin::controls::detail {

inline LRESULT NotifyParent(HWND hwnd, NMHDR& header, UINT code) {
  HWND parent = GetParent(hwnd);
  if (!parent) return 0;
  header.hwndFrom = hwnd;
  header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
  header.code = code;
  return SendMessage(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

inline LRESULT NotifyParent(HWND hwnd, UINT code) {
  NMHDR header{};
  return NotifyParent(hwnd, header, code);
}

// Copies text with its terminator into a buffer of `size` bytes; the length copied.
inline int CopyOut(const std::string& text, LPSTR buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

inline HFONT FontOr(HFONT font) { return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

void RegisterProgress();
void RegisterStatusBar();
void RegisterToolTips();
void RegisterIpAddress();
void RegisterAnimate();
void RegisterToolbar();

}  // namespace tavrin::controls::detail
