// The progress bar: a range, a position and a step; drawn as blocks of the highlight colour in a sunken
// well (PBS_SMOOTH: one bar).
#include <mutex>

#include "comctl_internal.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinProgressState";

struct State {
  int low = 0;
  int high = 100;
  int pos = 0;
  int step = 10;
  COLORREF bar = CLR_DEFAULT;
  COLORREF back = CLR_DEFAULT;
};

int Clamp(const State& s, int pos) { return std::clamp(pos, std::min(s.low, s.high), std::max(s.low, s.high)); }

// Where the filled part of `area` ends along the bar (x, or y counted from the bottom when vertical).
int FilledExtent(const State& s, int length) {
  const long long span = static_cast<long long>(s.high) - s.low;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<long long>(s.pos) - s.low) * length / span);
}

void Paint(HWND hwnd, const State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  const DWORD style = StyleOf(hwnd);
  HBRUSH back = s.back == CLR_DEFAULT ? GetSysColorBrush(COLOR_BTNFACE) : CreateSolidBrush(s.back);
  HBRUSH bar = s.bar == CLR_DEFAULT ? GetSysColorBrush(COLOR_HIGHLIGHT) : CreateSolidBrush(s.bar);
  RECT well = client;
  DrawEdge(hdc, &well, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  FillRect(hdc, &well, back);
  RECT area = well;
  InflateRect(&area, -1, -1);
  const bool vertical = (style & PBS_VERTICAL) != 0;
  const int length = vertical ? area.bottom - area.top : area.right - area.left;
  const int filled = FilledExtent(s, std::max(length, 0));
  if (style & PBS_SMOOTH) {
    RECT r = area;
    if (vertical) r.top = area.bottom - filled;
    else r.right = area.left + filled;
    FillRect(hdc, &r, bar);
  } else {
    const int thickness = vertical ? area.right - area.left : area.bottom - area.top;
    const int block = std::max(thickness * 2 / 3, 1);
    for (int at = 0; at < filled; at += block + 2) {
      RECT r;
      if (vertical) r = RECT{area.left, std::max(area.bottom - at - block, area.top), area.right, area.bottom - at};
      else r = RECT{area.left + at, area.top, std::min(area.left + at + block, area.right), area.bottom};
      FillRect(hdc, &r, bar);
    }
  }
  if (s.back != CLR_DEFAULT) DeleteObject(back);
  if (s.bar != CLR_DEFAULT) DeleteObject(bar);
  EndPaint(hwnd, &ps);
}

LRESULT SetPos(HWND hwnd, State& s, int pos) {
  int old = s.pos;
  s.pos = Clamp(s, pos);
  if (s.pos != old) InvalidateRect(hwnd, nullptr, FALSE);
  return old;
}

LRESULT CALLBACK ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State* s = StateOf<State>(hwnd, kProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      LRESULT old = MAKELPARAM(static_cast<WORD>(s->low), static_cast<WORD>(s->high));
      if (message == PBM_SETRANGE) {
        s->low = LOWORD(static_cast<uintptr_t>(lParam));
        s->high = HIWORD(static_cast<uintptr_t>(lParam));
      } else {
        s->low = static_cast<int>(wParam);
        s->high = static_cast<int>(lParam);
      }
      s->pos = Clamp(*s, s->pos);
      InvalidateRect(hwnd, nullptr, FALSE);
      return old;
    }
    case PBM_GETRANGE:
      if (auto* range = reinterpret_cast<PBRANGE*>(lParam)) *range = PBRANGE{s->low, s->high};
      return wParam ? s->low : s->high;
    case PBM_SETPOS:
      return SetPos(hwnd, *s, static_cast<int>(wParam));
    case PBM_DELTAPOS:
      return SetPos(hwnd, *s, s->pos + static_cast<int>(wParam));
    case PBM_GETPOS:
      return s->pos;
    case PBM_SETSTEP: {
      int old = s->step;
      s->step = static_cast<int>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      long long next = static_cast<long long>(s->pos) + s->step;
      int old = s->pos;
      // Past either end the bar starts again from the other one.
      if (next > std::max(s->low, s->high)) next = s->low + (next - std::max(s->low, s->high)) % std::max(s->high - s->low, 1);
      else if (next < std::min(s->low, s->high)) next = s->high;
      s->pos = Clamp(*s, static_cast<int>(next));
      InvalidateRect(hwnd, nullptr, FALSE);
      return old;
    }
    case PBM_SETBARCOLOR:
    case PBM_SETBKCOLOR: {
      COLORREF& slot = message == PBM_SETBARCOLOR ? s->bar : s->back;
      COLORREF old = slot;
      slot = static_cast<COLORREF>(lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(old);
    }
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kProp, s, Paint);
}

}  // namespace

void RegisterProgress() { RegisterControlClass(PROGRESS_CLASS, ProgressProc); }

}  // namespace tavrin::controls::detail

namespace tavrin::controls {

void RegisterCommonControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    detail::RegisterProgress();
    detail::RegisterStatusBar();
    detail::RegisterToolTips();
    detail::RegisterIpAddress();
    detail::RegisterAnimate();
    detail::RegisterToolbar();
  });
}

}  // namespace tavrin::controls
