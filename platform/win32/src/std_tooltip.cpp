// Tool tips: the tools (a window, or a rectangle of one) and their texts; the mouse messages the owner
// relays (or that a TTF_SUBCLASS tool's window passes on) start the initial delay over a tool, after which
// the tip shows below the pointer; it hides after the auto-pop delay, on a click, or when the pointer
// leaves the tool.
#include <optional>
#include <vector>

#include "comctl_internal.h"
#include "win32/resources.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinToolTipState";
constexpr char kSubclassProp[] = "TavrinToolTipSubclass";
constexpr UINT_PTR kShowTimer = 1;
constexpr UINT_PTR kPopTimer = 2;
constexpr int kMarginX = 4;
constexpr int kMarginY = 2;
constexpr int kPointerHeight = 20;  // the tip sits below the pointer
constexpr int kDefaultInitial = 500;
constexpr size_t kTextMax = 80;  // what TTM_GETTEXT and TTM_GETTOOLINFO copy without a stated size

struct Tool {
  UINT flags = 0;
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  RECT rect{};
  HINSTANCE hinst = nullptr;
  bool callback = false;
  std::string text;
  LPARAM param = 0;
};

struct State {
  std::vector<Tool> tools;
  bool active = true;
  int initial = kDefaultInitial;
  int autopop = kDefaultInitial * 10;
  int reshow = kDefaultInitial / 5;
  int maxWidth = -1;
  COLORREF back = CLR_DEFAULT;
  COLORREF fore = CLR_DEFAULT;
  int current = -1;         // the tool under the pointer
  bool shown = false;
  bool suppressed = false;  // clicked: no tip until the pointer reaches another tool
  POINT pointer{};          // screen
  std::string shownText;
  HFONT font = nullptr;
};

struct Subclass {
  WNDPROC old = nullptr;
  HWND tip = nullptr;
};

bool SameTool(const Tool& t, HWND hwnd, UINT_PTR id) { return t.hwnd == hwnd && t.id == id; }

int FindTool(const State& s, const TOOLINFO* info) {
  if (!info) return -1;
  for (size_t i = 0; i < s.tools.size(); ++i) {
    if (SameTool(s.tools[i], info->hwnd, info->uId)) return static_cast<int>(i);
  }
  return -1;
}

void SetText(Tool& tool, const TOOLINFO& info) {
  tool.hinst = info.hinst;
  tool.callback = info.lpszText == LPSTR_TEXTCALLBACK;
  tool.text.clear();
  if (tool.callback || !info.lpszText) return;
  if (!IS_INTRESOURCE(info.lpszText)) {
    tool.text = info.lpszText;
  } else {
    char buffer[256] = {};
    LoadString(info.hinst, static_cast<UINT>(reinterpret_cast<uintptr_t>(info.lpszText)), buffer, sizeof buffer);
    tool.text = buffer;
  }
}

void FillInfo(const Tool& tool, TOOLINFO* info, bool copyText) {
  info->uFlags = tool.flags;
  info->hwnd = tool.hwnd;
  info->uId = tool.id;
  info->rect = tool.rect;
  info->hinst = tool.hinst;
  info->lParam = tool.param;
  if (tool.callback) info->lpszText = LPSTR_TEXTCALLBACK;
  else if (copyText && info->lpszText && !IS_INTRESOURCE(info->lpszText)) CopyOut(tool.text, info->lpszText, kTextMax);
}

// Whether `p` (client coordinates of `window`) lies on the tool.
bool Hits(const Tool& tool, HWND window, POINT p) {
  if (tool.flags & TTF_IDISHWND) return reinterpret_cast<HWND>(tool.id) == window;
  return tool.hwnd == window && PtInRect(&tool.rect, p);
}

// A rectangle of a window is nearer than the whole window: it wins.
int ToolAt(const State& s, HWND window, POINT p) {
  int whole = -1;
  for (size_t i = 0; i < s.tools.size(); ++i) {
    if (!Hits(s.tools[i], window, p)) continue;
    if (!(s.tools[i].flags & TTF_IDISHWND)) return static_cast<int>(i);
    if (whole < 0) whole = static_cast<int>(i);
  }
  return whole;
}

std::string TextOf(HWND tip, const Tool& tool) {
  if (!tool.callback) return tool.text;
  NMTTDISPINFO info{};
  info.hdr = NMHDR{tip, tool.id, TTN_GETDISPINFOA};
  info.uFlags = tool.flags;
  info.lParam = tool.param;
  if (tool.hwnd) SendMessage(tool.hwnd, WM_NOTIFY, tool.id, reinterpret_cast<LPARAM>(&info));
  if (!info.lpszText) {
    info.szText[sizeof info.szText - 1] = 0;
    return info.szText;
  }
  if (info.lpszText == LPSTR_TEXTCALLBACK) return {};
  if (IS_INTRESOURCE(info.lpszText)) {
    char buffer[256] = {};
    LoadString(info.hinst, static_cast<UINT>(reinterpret_cast<uintptr_t>(info.lpszText)), buffer, sizeof buffer);
    return buffer;
  }
  if (info.lpszText == info.szText) info.szText[sizeof info.szText - 1] = 0;
  return info.lpszText;
}

UINT TextFlags(const State& s) {
  return DT_NOPREFIX | (s.maxWidth >= 0 ? DT_WORDBREAK : DT_SINGLELINE);
}

SIZE TipSize(HWND hwnd, const State& s, const std::string& text) {
  HDC hdc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(hdc, FontOr(s.font));
  RECT rc{0, 0, s.maxWidth >= 0 ? s.maxWidth : 4096, 0};
  DrawText(hdc, text.c_str(), -1, &rc, TextFlags(s) | DT_CALCRECT);
  SelectObject(hdc, old);
  ReleaseDC(hwnd, hdc);
  return SIZE{rc.right - rc.left + 2 * kMarginX + 2, rc.bottom - rc.top + 2 * kMarginY + 2};
}

void Notify(HWND tip, const Tool& tool, UINT code) {
  if (!tool.hwnd) return;
  NMHDR header{tip, tool.id, code};
  SendMessage(tool.hwnd, WM_NOTIFY, tool.id, reinterpret_cast<LPARAM>(&header));
}

void Hide(HWND hwnd, State& s) {
  KillTimer(hwnd, kShowTimer);
  KillTimer(hwnd, kPopTimer);
  if (!s.shown) return;
  s.shown = false;
  ShowWindow(hwnd, SW_HIDE);
  if (s.current >= 0 && static_cast<size_t>(s.current) < s.tools.size()) Notify(hwnd, s.tools[s.current], TTN_POP);
}

void Show(HWND hwnd, State& s) {
  KillTimer(hwnd, kShowTimer);
  if (!s.active || s.current < 0 || static_cast<size_t>(s.current) >= s.tools.size()) return;
  const Tool tool = s.tools[s.current];
  s.shownText = TextOf(hwnd, tool);
  if (s.shownText.empty()) return;
  SIZE size = TipSize(hwnd, s, s.shownText);
  POINT at{s.pointer.x, s.pointer.y + kPointerHeight};
  if (tool.flags & TTF_CENTERTIP) {
    RECT r = tool.rect;
    if (tool.flags & TTF_IDISHWND) GetClientRect(reinterpret_cast<HWND>(tool.id), &r);
    HWND owner = (tool.flags & TTF_IDISHWND) ? reinterpret_cast<HWND>(tool.id) : tool.hwnd;
    POINT bottomCentre{(r.left + r.right) / 2, r.bottom};
    ClientToScreen(owner, &bottomCentre);
    at = POINT{bottomCentre.x - size.cx / 2, bottomCentre.y + 2};
  }
  // Kept on the screen.
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  at.x = std::max(0, std::min(at.x, sw - size.cx));
  if (at.y + size.cy > sh) at.y = std::max(0, s.pointer.y - size.cy - 2);
  s.shown = true;
  SetWindowText(hwnd, s.shownText.c_str());  // what another program reading the screen's windows sees
  SetWindowPos(hwnd, HWND_TOPMOST, at.x, at.y, size.cx, size.cy, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(hwnd, nullptr, TRUE);
  Notify(hwnd, tool, TTN_SHOW);
  if (s.autopop > 0) SetTimer(hwnd, kPopTimer, static_cast<UINT>(s.autopop), nullptr);
}

void Relay(HWND hwnd, State& s, const MSG& msg) {
  switch (msg.message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      Hide(hwnd, s);
      s.suppressed = true;
      return;
    case WM_MOUSELEAVE:
      Hide(hwnd, s);
      s.current = -1;
      s.suppressed = false;
      return;
    case WM_MOUSEMOVE:
      break;
    default:
      return;
  }
  POINT p{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
  s.pointer = p;
  ClientToScreen(msg.hwnd, &s.pointer);
  const int tool = ToolAt(s, msg.hwnd, p);
  if (tool != s.current) {
    const bool wasShown = s.shown;
    Hide(hwnd, s);
    s.current = tool;
    s.suppressed = false;
    if (tool >= 0 && s.active) {
      // Moving from one shown tip to the next tool waits only the reshow delay.
      SetTimer(hwnd, kShowTimer, static_cast<UINT>(std::max(wasShown ? s.reshow : s.initial, 1)), nullptr);
    }
    return;
  }
  if (tool >= 0 && s.active && !s.shown && !s.suppressed) {
    SetTimer(hwnd, kShowTimer, static_cast<UINT>(std::max(s.initial, 1)), nullptr);
  }
}

// A TTF_SUBCLASS tool's window passes its mouse messages to the tip before its own procedure.
LRESULT CALLBACK ToolSubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* sub = static_cast<Subclass*>(GetProp(hwnd, kSubclassProp));
  if (!sub) return DefWindowProc(hwnd, message, wParam, lParam);
  WNDPROC old = sub->old;
  if ((message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK) || message == WM_MOUSELEAVE) {
    if (message == WM_MOUSEMOVE) {
      TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&track);
    }
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    if (IsWindow(sub->tip)) SendMessage(sub->tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtr(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemoveProp(hwnd, kSubclassProp);
    delete sub;
  }
  return CallWindowProc(old, hwnd, message, wParam, lParam);
}

void SubclassTool(HWND tip, HWND window) {
  if (!window || GetProp(window, kSubclassProp)) return;
  auto* sub = new Subclass;
  sub->tip = tip;
  SetProp(window, kSubclassProp, sub);
  sub->old = reinterpret_cast<WNDPROC>(SetWindowLongPtr(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ToolSubclassProc)));
}

void UnsubclassTool(HWND tip, HWND window) {
  auto* sub = static_cast<Subclass*>(GetProp(window, kSubclassProp));
  if (!sub || sub->tip != tip) return;
  // Only while ours is still the procedure on top; otherwise the tip is merely forgotten.
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtr(window, GWLP_WNDPROC)) == ToolSubclassProc) {
    SetWindowLongPtr(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(sub->old));
    RemoveProp(window, kSubclassProp);
    delete sub;
  } else {
    sub->tip = nullptr;
  }
}

HWND SubclassTarget(const Tool& tool) {
  return (tool.flags & TTF_IDISHWND) ? reinterpret_cast<HWND>(tool.id) : tool.hwnd;
}

void Paint(HWND hwnd, const State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = s.back == CLR_DEFAULT ? GetSysColorBrush(COLOR_INFOBK) : CreateSolidBrush(s.back);
  FillRect(hdc, &client, back);
  if (s.back != CLR_DEFAULT) DeleteObject(back);
  FrameRect(hdc, &client, GetSysColorBrush(COLOR_WINDOWFRAME));
  HGDIOBJ old = SelectObject(hdc, FontOr(s.font));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, s.fore == CLR_DEFAULT ? GetSysColor(COLOR_INFOTEXT) : s.fore);
  RECT text = client;
  InflateRect(&text, -(kMarginX + 1), -(kMarginY + 1));
  DrawText(hdc, s.shownText.c_str(), -1, &text, TextFlags(s));
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

// The control's own messages; nothing for what is not of the family.
std::optional<LRESULT> ToolTipApi(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case TTM_ACTIVATE:
      s.active = wParam != 0;
      if (!s.active) Hide(hwnd, s);
      return 0;
    case TTM_ADDTOOLA: {
      auto* info = reinterpret_cast<const TOOLINFO*>(lParam);
      if (!info || info->cbSize < offsetof(TOOLINFO, lParam)) return FALSE;
      int at = FindTool(s, info);
      if (at < 0) {
        s.tools.emplace_back();
        at = static_cast<int>(s.tools.size()) - 1;
      }
      Tool& tool = s.tools[at];
      tool.flags = info->uFlags;
      tool.hwnd = info->hwnd;
      tool.id = info->uId;
      tool.rect = info->rect;
      tool.param = info->cbSize >= sizeof(TOOLINFO) ? info->lParam : 0;
      SetText(tool, *info);
      if (tool.flags & TTF_SUBCLASS) SubclassTool(hwnd, SubclassTarget(tool));
      return TRUE;
    }
    case TTM_DELTOOLA: {
      int at = FindTool(s, reinterpret_cast<const TOOLINFO*>(lParam));
      if (at < 0) return 0;
      if (at == s.current) {
        Hide(hwnd, s);
        s.current = -1;
      } else if (at < s.current) {
        --s.current;
      }
      if (s.tools[at].flags & TTF_SUBCLASS) UnsubclassTool(hwnd, SubclassTarget(s.tools[at]));
      s.tools.erase(s.tools.begin() + at);
      return 0;
    }
    case TTM_NEWTOOLRECTA: {
      auto* info = reinterpret_cast<const TOOLINFO*>(lParam);
      int at = FindTool(s, info);
      if (at >= 0) s.tools[at].rect = info->rect;
      return 0;
    }
    case TTM_UPDATETIPTEXTA:
    case TTM_SETTOOLINFOA: {
      auto* info = reinterpret_cast<const TOOLINFO*>(lParam);
      int at = FindTool(s, info);
      if (at < 0) return 0;
      Tool& tool = s.tools[at];
      if (message == TTM_SETTOOLINFOA) {
        tool.flags = info->uFlags;
        tool.rect = info->rect;
        if (info->cbSize >= sizeof(TOOLINFO)) tool.param = info->lParam;
      }
      SetText(tool, *info);
      if (s.shown && at == s.current) {
        s.shownText = TextOf(hwnd, tool);
        SIZE size = TipSize(hwnd, s, s.shownText);
        SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      return 0;
    }
    case TTM_GETTOOLINFOA: {
      auto* info = reinterpret_cast<TOOLINFO*>(lParam);
      int at = FindTool(s, info);
      if (at < 0) return FALSE;
      FillInfo(s.tools[at], info, true);
      return TRUE;
    }
    case TTM_GETTEXTA: {
      auto* info = reinterpret_cast<TOOLINFO*>(lParam);
      int at = FindTool(s, info);
      if (!info || !info->lpszText) return 0;
      size_t size = wParam ? static_cast<size_t>(wParam) : kTextMax;
      return CopyOut(at < 0 ? std::string() : TextOf(hwnd, s.tools[at]), info->lpszText, size);
    }
    case TTM_HITTESTA: {
      auto* hit = reinterpret_cast<TTHITTESTINFO*>(lParam);
      if (!hit) return FALSE;
      int at = ToolAt(s, hit->hwnd, hit->pt);
      if (at < 0) return FALSE;
      FillInfo(s.tools[at], &hit->ti, false);
      return TRUE;
    }
    case TTM_GETTOOLCOUNT:
      return static_cast<LRESULT>(s.tools.size());
    case TTM_GETCURRENTTOOLA: {
      if (!s.shown || s.current < 0) return FALSE;
      if (auto* info = reinterpret_cast<TOOLINFO*>(lParam)) FillInfo(s.tools[s.current], info, true);
      return TRUE;
    }
    case TTM_RELAYEVENT:
      if (auto* msg = reinterpret_cast<const MSG*>(lParam)) Relay(hwnd, s, *msg);
      return 0;
    case TTM_SETDELAYTIME: {
      const int ms = static_cast<short>(LOWORD(static_cast<uintptr_t>(lParam)));
      const int value = ms < 0 ? kDefaultInitial : ms;
      if (wParam == TTDT_AUTOMATIC) {
        s.initial = value;
        s.autopop = value * 10;
        s.reshow = value / 5;
      } else if (wParam == TTDT_INITIAL) {
        s.initial = value;
      } else if (wParam == TTDT_AUTOPOP) {
        s.autopop = ms < 0 ? s.initial * 10 : ms;
      } else if (wParam == TTDT_RESHOW) {
        s.reshow = ms < 0 ? s.initial / 5 : ms;
      }
      return 0;
    }
    case TTM_GETDELAYTIME:
      return wParam == TTDT_AUTOPOP ? s.autopop : wParam == TTDT_RESHOW ? s.reshow : s.initial;
    case TTM_SETMAXTIPWIDTH: {
      int old = s.maxWidth;
      s.maxWidth = static_cast<int>(lParam);
      return old;
    }
    case TTM_GETMAXTIPWIDTH:
      return s.maxWidth;
    case TTM_SETTIPBKCOLOR:
      s.back = static_cast<COLORREF>(wParam);
      return 0;
    case TTM_SETTIPTEXTCOLOR:
      s.fore = static_cast<COLORREF>(wParam);
      return 0;
    case TTM_POP:
      Hide(hwnd, s);
      return 0;
    default:
      return std::nullopt;
  }
}

// Input and the timers that show and hide the tip; nothing for what is not of the family.
std::optional<LRESULT> ToolTipInput(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kShowTimer) Show(hwnd, s);
      else if (wParam == kPopTimer) Hide(hwnd, s), s.suppressed = true;
      return 0;
    case WM_MOUSEACTIVATE:
      return 3;  // MA_NOACTIVATE: a tip never takes the activation
    default:
      return std::nullopt;
  }
}

// What every window hears: creation, size, font, the end; nothing for what is not of the family.
std::optional<LRESULT> ToolTipWindow(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_NCHITTEST:
      return HTTRANSPARENT;
    case WM_NCDESTROY:
      for (const Tool& tool : s.tools) {
        if ((tool.flags & TTF_SUBCLASS) && IsWindow(SubclassTarget(tool))) UnsubclassTool(hwnd, SubclassTarget(tool));
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK ToolTipProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DispatchByFamily(hwnd, message, wParam, lParam, kProp, StateOf<State>(hwnd, kProp, message), Paint,
                          {ToolTipApi, ToolTipInput, ToolTipWindow});
}

}  // namespace

void RegisterToolTips() { RegisterControlClass(TOOLTIPS_CLASS, ToolTipProc); }

}  // namespace tavrin::controls::detail
