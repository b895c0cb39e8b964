// What the control wrappers share: making a control window and handing reflected drawing to DrawItem.
#pragma once
#include "mfc/controls.h"

namespace mfc::detail {

inline HWND MakeControl(LPCSTR className, LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  tavrin::controls::RegisterStandardControls();
  tavrin::controls::RegisterTabControl();
  return ::CreateWindowEx(0, className, text, style, rect.left, rect.top, rect.right - rect.left,
                          rect.bottom - rect.top, parent ? parent->GetSafeHwnd() : nullptr,
                          reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
}

// An owner-drawn control draws its own items: the WM_DRAWITEM its parent reflects goes to DrawItem.
template <class Control>
bool DrawReflected(Control& control, UINT message, LPARAM lParam, LRESULT* result) {
  if (message != WM_DRAWITEM) return false;
  control.DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
  if (result) *result = TRUE;
  return true;
}

}  // namespace mfc::detail
