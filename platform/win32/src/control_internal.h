// What every control window shares: its state object hung on the window as a property, its style, its
// WM_COMMAND to the parent, its window procedure's hand-out of messages by family and the end of it, and
// the registration of its class.
#pragma once
#include <initializer_list>
#include <optional>
#include <type_traits>

#include "win32/user.h"

namespace tavrin::controls::detail {

// The state object of a control window; null before the control made it.
template <class State>
State* StateOf(HWND hwnd, const char* prop) {
  return static_cast<State*>(GetProp(hwnd, prop));
}

// The same, made at the control's first message; null only at a WM_NCDESTROY that finds none.
// DefControlProc deletes it at WM_NCDESTROY.
template <class State>
State* StateOf(HWND hwnd, const char* prop, UINT message) {
  State* s = StateOf<State>(hwnd, prop);
  if (!s && message != WM_NCDESTROY) {
    s = new State;
    SetProp(hwnd, prop, s);
  }
  return s;
}

// The same for a control that sets its state up from its creation record: made at WM_NCCREATE, where
// `setup(hwnd, state, create)` fills it (`create` may be null); null before that.
template <class State, class Setup>
State* StateMadeAtNcCreate(HWND hwnd, const char* prop, UINT message, LPARAM lParam, Setup setup) {
  State* s = StateOf<State>(hwnd, prop);
  if (!s && message == WM_NCCREATE) {
    s = new State;
    setup(hwnd, *s, reinterpret_cast<const CREATESTRUCT*>(lParam));
    SetProp(hwnd, prop, s);
  }
  return s;
}

inline DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE)); }

inline void CommandToParent(HWND hwnd, UINT code) {
  if (HWND parent = GetParent(hwnd)) {
    SendMessage(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
  }
}

// The end of a control's window procedure, for what every control does alike: `paint` draws all of it
// at WM_PAINT, so nothing is erased first, and its state `s` (the property `prop`) goes at WM_NCDESTROY,
// its last message. The rest goes to DefWindowProc.
template <class State, class Paint>
LRESULT DefControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const char* prop, State* s,
                       Paint paint) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      paint(hwnd, *s);
      return 0;
    case WM_NCDESTROY:
      RemoveProp(hwnd, prop);
      delete s;
      break;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

// One family of a control's messages (its own API, input, notifications, window life): the answer to a
// message of the family, nothing for any other.
template <class State>
using MessageFamily = std::optional<LRESULT> (*)(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM lParam);

// A control's window procedure once it has looked up its state `s`: the first of `families` that knows
// the message answers it and DefControlProc takes what none knows; without a state, DefWindowProc.
template <class State, class Paint>
LRESULT DispatchByFamily(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const char* prop, State* s,
                         Paint paint, std::initializer_list<MessageFamily<std::type_identity_t<State>>> families) {
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  for (MessageFamily<State> family : families) {
    if (std::optional<LRESULT> result = family(hwnd, *s, message, wParam, lParam)) return *result;
  }
  return DefControlProc(hwnd, message, wParam, lParam, prop, s, paint);
}

inline void RegisterControlClass(LPCSTR name, WNDPROC proc, UINT style = 0, HBRUSH background = nullptr) {
  WNDCLASS wc{};
  wc.style = style;
  wc.lpfnWndProc = proc;
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  RegisterClass(&wc);
}

}  // namespace tavrin::controls::detail
