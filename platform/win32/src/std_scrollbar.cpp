// "ScrollBar" controls and the scroll values of windows with WS_HSCROLL / WS_VSCROLL. A bar never moves
// by itself: it tells its owner (WM_HSCROLL / WM_VSCROLL) and the owner sets the position.
#include <algorithm>
#include <cstdint>

#include "control_internal.h"
#include "dialog_internal.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::DefControlProc;
using tavrin::controls::detail::StateOf;
using tavrin::controls::detail::StyleOf;

struct ScrollValues {
  int min = 0;
  int max = 0;
  UINT page = 0;
  int pos = 0;
  int trackPos = 0;
};

int MaxPos(const ScrollValues& v) {
  int64_t top = static_cast<int64_t>(v.max) - std::max<int64_t>(static_cast<int64_t>(v.page) - 1, 0);
  return static_cast<int>(std::clamp<int64_t>(top, v.min, INT32_MAX));
}

// Applies the asked parts; the position stays within the range.
void Apply(ScrollValues& v, const SCROLLINFO& info) {
  if (info.fMask & SIF_RANGE) {
    v.min = info.nMin;
    v.max = std::max(info.nMin, info.nMax);
  }
  if (info.fMask & SIF_PAGE) {
    int64_t span = static_cast<int64_t>(v.max) - v.min + 1;
    v.page = static_cast<UINT>(std::min<int64_t>(info.nPage, span));
  }
  if (info.fMask & SIF_POS) v.pos = info.nPos;
  v.pos = std::clamp(v.pos, v.min, MaxPos(v));
  v.trackPos = std::clamp(v.trackPos, v.min, MaxPos(v));
}

void Fill(const ScrollValues& v, SCROLLINFO& info) {
  if (info.fMask & SIF_RANGE) info.nMin = v.min, info.nMax = v.max;
  if (info.fMask & SIF_PAGE) info.nPage = v.page;
  if (info.fMask & SIF_POS) info.nPos = v.pos;
  if (info.fMask & SIF_TRACKPOS) info.nTrackPos = v.trackPos;
}

// A window's bar lives in three window properties (two 32-bit values each), so that it goes with the
// window and needs no cleaning up.
const char* PropName(int bar, int part) {
  static const char* const names[2][3] = {{"TavrinScrollH0", "TavrinScrollH1", "TavrinScrollH2"},
                                          {"TavrinScrollV0", "TavrinScrollV1", "TavrinScrollV2"}};
  return names[bar == SB_VERT ? 1 : 0][part];
}
HANDLE Pack(int a, int b) {
  return reinterpret_cast<HANDLE>((static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b));
}
void Unpack(HANDLE h, int& a, int& b) {
  auto v = reinterpret_cast<uint64_t>(h);
  a = static_cast<int>(static_cast<uint32_t>(v >> 32));
  b = static_cast<int>(static_cast<uint32_t>(v));
}
ScrollValues WindowBar(HWND hwnd, int bar) {
  ScrollValues v;
  int page;
  Unpack(GetProp(hwnd, PropName(bar, 0)), v.min, v.max);
  Unpack(GetProp(hwnd, PropName(bar, 1)), page, v.pos);
  int unused;
  Unpack(GetProp(hwnd, PropName(bar, 2)), v.trackPos, unused);
  v.page = static_cast<UINT>(page);
  return v;
}
void SetWindowBar(HWND hwnd, int bar, const ScrollValues& v) {
  SetProp(hwnd, PropName(bar, 0), Pack(v.min, v.max));
  SetProp(hwnd, PropName(bar, 1), Pack(static_cast<int>(v.page), v.pos));
  SetProp(hwnd, PropName(bar, 2), Pack(v.trackPos, 0));
}

// ---- the control ----

constexpr char kBarProp[] = "TavrinScrollBarState";

struct BarState {
  ScrollValues values;
  enum class Part { kNone, kUp, kDown, kPageUp, kPageDown, kThumb } held = Part::kNone;
  int grabOffset = 0;  // where in the thumb it was grabbed
};

bool Vertical(HWND hwnd) { return (GetWindowLongPtr(hwnd, GWL_STYLE) & SBS_VERT) != 0; }

// Lengths along the bar: arrow size, track start and length, thumb start and length.
struct Layout {
  int length, arrow, trackStart, trackLength, thumbStart, thumbLength;
};

Layout LayoutOf(HWND hwnd, const ScrollValues& v, int pos) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  bool vertical = Vertical(hwnd);
  Layout l{};
  l.length = vertical ? rc.bottom : rc.right;
  int thickness = vertical ? rc.right : rc.bottom;
  l.arrow = std::min(thickness, l.length / 2);
  l.trackStart = l.arrow;
  l.trackLength = std::max(0, l.length - 2 * l.arrow);
  int64_t span = static_cast<int64_t>(v.max) - v.min + 1;
  if (span <= 0 || l.trackLength < 8) return l;  // no thumb
  l.thumbLength = v.page ? static_cast<int>(l.trackLength * static_cast<int64_t>(v.page) / span) : thickness;
  l.thumbLength = std::clamp(l.thumbLength, std::min(8, l.trackLength), l.trackLength);
  int64_t range = MaxPos(v) - v.min;
  int room = l.trackLength - l.thumbLength;
  l.thumbStart = l.trackStart + (range > 0 ? static_cast<int>(room * (static_cast<int64_t>(pos) - v.min) / range) : 0);
  return l;
}

void Tell(HWND hwnd, WORD code, int pos = 0) {
  HWND parent = GetParent(hwnd);
  if (!parent) return;
  SendMessage(parent, Vertical(hwnd) ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, pos & 0xFFFF),
              reinterpret_cast<LPARAM>(hwnd));
}

RECT Along(HWND hwnd, int start, int length) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  if (Vertical(hwnd)) return RECT{0, start, rc.right, start + length};
  return RECT{start, 0, start + length, rc.bottom};
}

void DrawArrow(HDC hdc, RECT box, bool pushed, int direction /*0 up,1 down,2 left,3 right*/, bool enabled) {
  FillRect(hdc, &box, GetSysColorBrush(COLOR_BTNFACE));
  RECT edge = box;
  DrawEdge(hdc, &edge, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  int cx = (box.left + box.right) / 2 + (pushed ? 1 : 0), cy = (box.top + box.bottom) / 2 + (pushed ? 1 : 0);
  COLORREF ink = GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  for (int i = 0; i < 4; ++i)
    for (int j = -i; j <= i; ++j) {
      switch (direction) {
        case 0: SetPixel(hdc, cx + j, cy - 2 + i, ink); break;
        case 1: SetPixel(hdc, cx + j, cy + 1 - i, ink); break;
        case 2: SetPixel(hdc, cx - 2 + i, cy + j, ink); break;
        default: SetPixel(hdc, cx + 1 - i, cy + j, ink); break;
      }
    }
}

void Paint(HWND hwnd, BarState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  bool enabled = IsWindowEnabled(hwnd);
  int pos = s.held == BarState::Part::kThumb ? s.values.trackPos : s.values.pos;
  Layout l = LayoutOf(hwnd, s.values, pos);
  bool vertical = Vertical(hwnd);
  HBRUSH track = nullptr;
  if (HWND parent = GetParent(hwnd))
    track = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLORSCROLLBAR, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  RECT trackRect = Along(hwnd, l.trackStart, l.trackLength);
  FillRect(hdc, &trackRect, track ? track : GetSysColorBrush(COLOR_SCROLLBAR));
  DrawArrow(hdc, Along(hwnd, 0, l.arrow), s.held == BarState::Part::kUp, vertical ? 0 : 2, enabled);
  DrawArrow(hdc, Along(hwnd, l.length - l.arrow, l.arrow), s.held == BarState::Part::kDown, vertical ? 1 : 3, enabled);
  if (l.thumbLength > 0 && enabled) {
    RECT thumb = Along(hwnd, l.thumbStart, l.thumbLength);
    FillRect(hdc, &thumb, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(hdc, &thumb, EDGE_RAISED, BF_RECT);
  }
  EndPaint(hwnd, &ps);
}

BarState::Part PartAt(HWND hwnd, const BarState& s, int at) {
  Layout l = LayoutOf(hwnd, s.values, s.values.pos);
  if (at < l.arrow) return BarState::Part::kUp;
  if (at >= l.length - l.arrow) return BarState::Part::kDown;
  if (l.thumbLength <= 0) return BarState::Part::kNone;
  if (at < l.thumbStart) return BarState::Part::kPageUp;
  if (at >= l.thumbStart + l.thumbLength) return BarState::Part::kPageDown;
  return BarState::Part::kThumb;
}

LRESULT CALLBACK ScrollBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  BarState* s = StateOf<BarState>(hwnd, kBarProp);
  if (message == WM_NCCREATE) {
    if (!s) SetProp(hwnd, kBarProp, new BarState);
    return DefWindowProc(hwnd, message, wParam, lParam);
  }
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case SBM_SETSCROLLINFO: {
      if (!lParam) return s->values.pos;
      Apply(s->values, *reinterpret_cast<const SCROLLINFO*>(lParam));
      if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
      return s->values.pos;
    }
    case SBM_GETSCROLLINFO:
      if (!lParam) return FALSE;
      Fill(s->values, *reinterpret_cast<SCROLLINFO*>(lParam));
      return TRUE;
    case SBM_SETPOS: {
      int old = s->values.pos;
      SCROLLINFO info{sizeof info, SIF_POS, 0, 0, 0, static_cast<int>(wParam), 0};
      Apply(s->values, info);
      if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
      return old;
    }
    case SBM_GETPOS:
      return s->values.pos;
    case SBM_SETRANGE: {
      SCROLLINFO info{sizeof info, SIF_RANGE, static_cast<int>(wParam), static_cast<int>(lParam), 0, 0, 0};
      Apply(s->values, info);
      InvalidateRect(hwnd, nullptr, TRUE);
      return s->values.pos;
    }
    case SBM_GETRANGE:
      if (wParam) *reinterpret_cast<int*>(wParam) = s->values.min;
      if (lParam) *reinterpret_cast<int*>(lParam) = s->values.max;
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      int at = Vertical(hwnd) ? GET_Y_LPARAM(lParam) : GET_X_LPARAM(lParam);
      s->held = PartAt(hwnd, *s, at);
      if (s->held == BarState::Part::kNone) return 0;
      SetCapture(hwnd);
      if (s->held == BarState::Part::kThumb) {
        s->grabOffset = at - LayoutOf(hwnd, s->values, s->values.pos).thumbStart;
        s->values.trackPos = s->values.pos;
      }
      InvalidateRect(hwnd, nullptr, TRUE);
      switch (s->held) {
        case BarState::Part::kUp: Tell(hwnd, SB_LINEUP); break;
        case BarState::Part::kDown: Tell(hwnd, SB_LINEDOWN); break;
        case BarState::Part::kPageUp: Tell(hwnd, SB_PAGEUP); break;
        case BarState::Part::kPageDown: Tell(hwnd, SB_PAGEDOWN); break;
        default: break;
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (s->held == BarState::Part::kThumb && GetCapture() == hwnd) {
        int at = Vertical(hwnd) ? GET_Y_LPARAM(lParam) : GET_X_LPARAM(lParam);
        Layout l = LayoutOf(hwnd, s->values, s->values.pos);
        int room = l.trackLength - l.thumbLength;
        int offset = std::clamp(at - s->grabOffset - l.trackStart, 0, std::max(room, 0));
        int64_t range = MaxPos(s->values) - s->values.min;
        int track = s->values.min + (room > 0 ? static_cast<int>(range * offset / room) : 0);
        if (track != s->values.trackPos) {
          s->values.trackPos = track;
          InvalidateRect(hwnd, nullptr, TRUE);
          Tell(hwnd, SB_THUMBTRACK, track);
        }
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED: {
      if (s->held == BarState::Part::kNone) return 0;
      bool thumb = s->held == BarState::Part::kThumb;
      s->held = BarState::Part::kNone;
      if (message == WM_LBUTTONUP && GetCapture() == hwnd) ReleaseCapture();
      InvalidateRect(hwnd, nullptr, TRUE);
      if (thumb) Tell(hwnd, SB_THUMBPOSITION, s->values.trackPos);
      Tell(hwnd, SB_ENDSCROLL);
      return 0;
    }
    case WM_KEYDOWN:
      switch (static_cast<int>(wParam)) {
        case VK_UP: case VK_LEFT: Tell(hwnd, SB_LINEUP); break;
        case VK_DOWN: case VK_RIGHT: Tell(hwnd, SB_LINEDOWN); break;
        case VK_PRIOR: Tell(hwnd, SB_PAGEUP); break;
        case VK_NEXT: Tell(hwnd, SB_PAGEDOWN); break;
        case VK_HOME: Tell(hwnd, SB_TOP); break;
        case VK_END: Tell(hwnd, SB_BOTTOM); break;
        default: return DefWindowProc(hwnd, message, wParam, lParam);
      }
      Tell(hwnd, SB_ENDSCROLL);
      return 0;
    case WM_ENABLE:
    case WM_SIZE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kBarProp, s, Paint);
}

}  // namespace

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw) {
  if (!info || !IsWindow(hwnd)) return 0;
  if (bar == SB_CTL) return static_cast<int>(SendMessage(hwnd, SBM_SETSCROLLINFO, redraw, reinterpret_cast<LPARAM>(info)));
  if (bar != SB_HORZ && bar != SB_VERT) return 0;
  ScrollValues v = WindowBar(hwnd, bar);
  Apply(v, *info);
  SetWindowBar(hwnd, bar, v);
  return v.pos;
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info) {
  if (!info || !IsWindow(hwnd)) return FALSE;
  if (bar == SB_CTL) return static_cast<BOOL>(SendMessage(hwnd, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(info)));
  if (bar != SB_HORZ && bar != SB_VERT) return FALSE;
  Fill(WindowBar(hwnd, bar), *info);
  return TRUE;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
  SCROLLINFO old{sizeof old, SIF_POS, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(hwnd, bar, &old)) return 0;
  SCROLLINFO info{sizeof info, SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(hwnd, bar, &info, redraw);
  return old.nPos;
}

int GetScrollPos(HWND hwnd, int bar) {
  SCROLLINFO info{sizeof info, SIF_POS, 0, 0, 0, 0, 0};
  return GetScrollInfo(hwnd, bar, &info) ? info.nPos : 0;
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
  SCROLLINFO info{sizeof info, SIF_RANGE, minPos, maxPos, 0, 0, 0};
  if (!IsWindow(hwnd)) return FALSE;
  SetScrollInfo(hwnd, bar, &info, redraw);
  return TRUE;
}

BOOL GetScrollRange(HWND hwnd, int bar, LPINT minPos, LPINT maxPos) {
  SCROLLINFO info{sizeof info, SIF_RANGE, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(hwnd, bar, &info)) return FALSE;
  if (minPos) *minPos = info.nMin;
  if (maxPos) *maxPos = info.nMax;
  return TRUE;
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
  if (!IsWindow(hwnd)) return FALSE;
  if (bar == SB_CTL) return ShowWindow(hwnd, show ? SW_SHOWNA : SW_HIDE), TRUE;
  DWORD style = StyleOf(hwnd);
  DWORD bits = bar == SB_HORZ ? WS_HSCROLL : bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL | WS_VSCROLL;
  DWORD wanted = show ? style | bits : style & ~bits;
  if (wanted != style) {
    SetWindowLongPtr(hwnd, GWL_STYLE, static_cast<LONG_PTR>(wanted));
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  return TRUE;
}

namespace tavrin::controls::detail {
WNDPROC ScrollBarProcedure() { return ScrollBarProc; }
}  // namespace tavrin::controls::detail
