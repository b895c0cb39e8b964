// The IP address control: four fields of up to three digits, each kept within its range (0-255 unless
// IPM_SETRANGE says otherwise). Typing fills the focused field and moves on after the third digit or a
// '.'; leaving a field clamps it and tells the parent (IPN_FIELDCHANGED); any change of text sends
// EN_CHANGE.
#include <array>
#include <cstdio>

#include "comctl_internal.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinIpAddressState";
constexpr int kFields = 4;

struct State {
  std::array<std::string, kFields> text;
  std::array<BYTE, kFields> low{0, 0, 0, 0};
  std::array<BYTE, kFields> high{255, 255, 255, 255};
  int field = 0;           // the field that has the caret
  bool selectAll = false;  // the next digit replaces the field (entered by moving on)
  bool focused = false;
  HFONT font = nullptr;
  std::string title;  // the window text the fields were last in step with
};

int ValueOf(const std::string& text) { return text.empty() ? -1 : std::atoi(text.c_str()); }

std::string Joined(const State& s) { return s.text[0] + "." + s.text[1] + "." + s.text[2] + "." + s.text[3]; }

// The window's own text follows the fields, so that reading it without a message gives the address.
void Changed(HWND hwnd) {
  if (auto* s = static_cast<State*>(GetProp(hwnd, kProp))) {
    s->title = Joined(*s);
    DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s->title.c_str()));
  }
  InvalidateRect(hwnd, nullptr, FALSE);
  CommandToParent(hwnd, EN_CHANGE_IP);
}

// Brings the field into its range; true when its text changed.
bool Clamp(State& s, int field) {
  const int value = ValueOf(s.text[field]);
  if (value < 0) return false;
  const int clamped = std::clamp(value, static_cast<int>(s.low[field]), static_cast<int>(s.high[field]));
  std::string text = std::to_string(clamped);
  if (text == s.text[field]) return false;
  s.text[field] = text;
  return true;
}

// Leaving a field: into its range, then the parent hears the value and may change it.
void LeaveField(HWND hwnd, State& s) {
  const int field = s.field;
  bool changed = Clamp(s, field);
  NMIPADDRESS note{};
  note.iField = field;
  note.iValue = ValueOf(s.text[field]);
  NotifyParent(hwnd, note.hdr, IPN_FIELDCHANGED);
  if (note.iValue != ValueOf(s.text[field])) {
    s.text[field] = note.iValue < 0 ? std::string() : std::to_string(std::clamp(note.iValue, 0, 255));
    changed = true;
  }
  if (changed) Changed(hwnd);
}

void MoveTo(HWND hwnd, State& s, int field, bool selectAll) {
  field = std::clamp(field, 0, kFields - 1);
  if (field == s.field) return;
  LeaveField(hwnd, s);
  s.field = field;
  s.selectAll = selectAll && !s.text[field].empty();
  InvalidateRect(hwnd, nullptr, FALSE);
}

void TypeDigit(HWND hwnd, State& s, char digit) {
  if (s.selectAll) {
    s.text[s.field].clear();
    s.selectAll = false;
  } else if (s.text[s.field].size() >= 3) {
    if (s.field == kFields - 1) return;
    MoveTo(hwnd, s, s.field + 1, false);
    s.text[s.field].clear();
  }
  std::string& text = s.text[s.field];
  if (text == "0") text.clear();  // no leading zeros
  text.push_back(digit);
  if (ValueOf(text) > s.high[s.field]) text = std::to_string(s.high[s.field]);
  Changed(hwnd);
  if (text.size() >= 3 && s.field < kFields - 1) MoveTo(hwnd, s, s.field + 1, true);
}

void Backspace(HWND hwnd, State& s) {
  std::string& text = s.text[s.field];
  if (s.selectAll) {
    text.clear();
    s.selectAll = false;
    Changed(hwnd);
  } else if (!text.empty()) {
    text.pop_back();
    Changed(hwnd);
  } else if (s.field > 0) {
    MoveTo(hwnd, s, s.field - 1, false);
  }
}

// Sets the fields from "a.b.c.d" (missing or empty parts blank).
void SetFromText(State& s, const char* text) {
  for (auto& t : s.text) t.clear();
  int field = 0;
  for (const char* p = text ? text : ""; *p && field < kFields; ++p) {
    if (*p == '.') {
      ++field;
    } else if (*p >= '0' && *p <= '9' && s.text[field].size() < 3) {
      s.text[field].push_back(*p);
    }
  }
  for (int f = 0; f < kFields; ++f) {
    if (!s.text[f].empty()) s.text[f] = std::to_string(std::min(ValueOf(s.text[f]), static_cast<int>(s.high[f])));
  }
}

RECT Inner(HWND hwnd) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  if (!(GetWindowLongPtr(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) InflateRect(&rc, -2, -2);
  return rc;
}

RECT FieldRect(HWND hwnd, int field) {
  RECT inner = Inner(hwnd);
  const int width = (inner.right - inner.left) / kFields;
  return RECT{inner.left + field * width, inner.top, inner.left + (field + 1) * width, inner.bottom};
}

void Paint(HWND hwnd, const State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  const bool enabled = IsWindowEnabled(hwnd);
  FillRect(hdc, &client, GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
  if (!(GetWindowLongPtr(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) {
    RECT edge = client;
    DrawEdge(hdc, &edge, EDGE_SUNKEN, BF_RECT);
  }
  HGDIOBJ old = SelectObject(hdc, FontOr(s.font));
  SetBkMode(hdc, TRANSPARENT);
  const COLORREF text = GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT);
  for (int f = 0; f < kFields; ++f) {
    RECT rc = FieldRect(hwnd, f);
    const bool caretHere = s.focused && f == s.field;
    SIZE size{0, 0};
    GetTextExtentPoint32(hdc, s.text[f].c_str(), static_cast<int>(s.text[f].size()), &size);
    const int x = (rc.left + rc.right - size.cx) / 2;
    const int y = (rc.top + rc.bottom - size.cy) / 2;
    if (caretHere && s.selectAll) {
      RECT sel{x, y, x + size.cx, y + size.cy};
      FillRect(hdc, &sel, GetSysColorBrush(COLOR_HIGHLIGHT));
      SetTextColor(hdc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else {
      SetTextColor(hdc, text);
    }
    TextOut(hdc, x, y, s.text[f].c_str(), static_cast<int>(s.text[f].size()));
    if (caretHere && !s.selectAll) {
      RECT caret{x + size.cx, y, x + size.cx + 1, y + std::max<int>(size.cy, 12)};
      FillRect(hdc, &caret, GetSysColorBrush(COLOR_WINDOWTEXT));
    }
    if (f + 1 < kFields) {
      SetTextColor(hdc, text);
      RECT dot{rc.right - 3, rc.top, rc.right + 3, rc.bottom};
      DrawText(hdc, ".", 1, &dot, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    }
  }
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

// SetWindowText changes the window's text without a message: the fields take it up at the next one.
void FollowTitle(HWND hwnd, State& s) {
  char title[64] = {};
  GetWindowText(hwnd, title, sizeof title);
  if (s.title == title) return;
  SetFromText(s, title);
  s.title = title;
  s.selectAll = false;
}

LRESULT CALLBACK IpProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State* s = StateOf<State>(hwnd, kProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  if (message != WM_NCDESTROY && message != WM_SETTEXT && message != WM_NCCREATE) FollowTitle(hwnd, *s);
  switch (message) {
    case IPM_CLEARADDRESS:
      for (auto& t : s->text) t.clear();
      s->selectAll = false;
      Changed(hwnd);
      return 0;
    case IPM_SETADDRESS: {
      const DWORD address = static_cast<DWORD>(lParam);
      const int bytes[kFields] = {FIRST_IPADDRESS(address), SECOND_IPADDRESS(address), THIRD_IPADDRESS(address),
                                  FOURTH_IPADDRESS(address)};
      for (int f = 0; f < kFields; ++f) {
        s->text[f] = std::to_string(std::clamp(bytes[f], static_cast<int>(s->low[f]), static_cast<int>(s->high[f])));
      }
      s->selectAll = false;
      Changed(hwnd);
      return TRUE;
    }
    case IPM_GETADDRESS: {
      int filled = 0;
      DWORD address = 0;
      for (int f = 0; f < kFields; ++f) {
        const int value = ValueOf(s->text[f]);
        if (value >= 0) ++filled;
        address = (address << 8) | static_cast<DWORD>(std::max(value, 0) & 0xFF);
      }
      if (auto* out = reinterpret_cast<DWORD*>(lParam)) *out = address;
      return filled;
    }
    case IPM_ISBLANK:
      return std::all_of(s->text.begin(), s->text.end(), [](const std::string& t) { return t.empty(); });
    case IPM_SETRANGE: {
      const BYTE low = static_cast<BYTE>(lParam & 0xFF), high = static_cast<BYTE>((lParam >> 8) & 0xFF);
      if (wParam >= kFields || low > high) return FALSE;
      s->low[wParam] = low;
      s->high[wParam] = high;
      if (Clamp(*s, static_cast<int>(wParam))) Changed(hwnd);
      return TRUE;
    }
    case IPM_SETFOCUS: {
      int field = static_cast<int>(wParam);
      if (wParam >= kFields) {  // the first blank field, else the first
        field = 0;
        for (int f = 0; f < kFields; ++f) {
          if (s->text[f].empty()) {
            field = f;
            break;
          }
        }
      }
      if (GetFocus() != hwnd) SetFocus(hwnd);
      MoveTo(hwnd, *s, field, true);
      s->selectAll = !s->text[s->field].empty();
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_CHAR: {
      const char c = static_cast<char>(wParam);
      if (c >= '0' && c <= '9') TypeDigit(hwnd, *s, c);
      else if ((c == '.' || c == ' ') && !s->text[s->field].empty() && s->field < kFields - 1) MoveTo(hwnd, *s, s->field + 1, true);
      else if (c == '\b') Backspace(hwnd, *s);
      return 0;
    }
    case WM_KEYDOWN:
      switch (static_cast<int>(wParam)) {
        case VK_LEFT: MoveTo(hwnd, *s, s->field - 1, false); break;
        case VK_RIGHT: MoveTo(hwnd, *s, s->field + 1, false); break;
        case VK_HOME: MoveTo(hwnd, *s, 0, false); break;
        case VK_END: MoveTo(hwnd, *s, kFields - 1, false); break;
        case VK_DELETE:
          if (!s->text[s->field].empty()) {
            s->text[s->field].clear();
            s->selectAll = false;
            Changed(hwnd);
          }
          break;
        default: break;
      }
      return 0;
    case WM_GETDLGCODE:
      return 0x0080 | 0x0001;  // DLGC_WANTCHARS | DLGC_WANTARROWS
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      for (int f = 0; f < kFields; ++f) {
        RECT rc = FieldRect(hwnd, f);
        if (p.x >= rc.left && p.x < rc.right) MoveTo(hwnd, *s, f, false);
      }
      s->selectAll = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_SETFOCUS:
      s->focused = true;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_KILLFOCUS:
      LeaveField(hwnd, *s);
      s->focused = false;
      s->selectAll = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETTEXT:
      SetFromText(*s, reinterpret_cast<LPCSTR>(lParam));
      Changed(hwnd);
      return TRUE;
    case WM_GETTEXT:
      return CopyOut(Joined(*s), reinterpret_cast<LPSTR>(lParam), wParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(Joined(*s).size());
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kProp, s, Paint);
}

}  // namespace

void RegisterIpAddress() { RegisterControlClass(WC_IPADDRESS, IpProc, CS_DBLCLKS); }

}  // namespace tavrin::controls::detail
