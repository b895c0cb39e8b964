// What every control window shares: its state object hung on the window as a property, and its style.
#pragma once
#include "win32/user.h"

namespace tavrin::controls::detail {

// The state object of a control window; null before the control made it.
template <class State>
State* StateOf(HWND hwnd, const char* prop) {
  return static_cast<State*>(GetProp(hwnd, prop));
}

// The same, made at the control's first message; null only at a WM_NCDESTROY that finds none. The
// control deletes it at WM_NCDESTROY.
template <class State>
State* StateOf(HWND hwnd, const char* prop, UINT message) {
  State* s = StateOf<State>(hwnd, prop);
  if (!s && message != WM_NCDESTROY) {
    s = new State;
    SetProp(hwnd, prop, s);
  }
  return s;
}

inline DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE)); }

}  // namespace tavrin::controls::detail
