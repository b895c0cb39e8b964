// "Edit": a single-line edit control. The text is the window text (so GetWindowText reads it); the
// selection, limit, password character and horizontal scroll live in a state object hung on the window.
// The caret is drawn by the control itself at the selection's moving end while it has the focus.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "control_internal.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::CommandToParent;
using tavrin::controls::detail::DispatchByFamily;
using tavrin::controls::detail::StateMadeAtNcCreate;
using tavrin::controls::detail::StyleOf;

constexpr char kEditProp[] = "TavrinEditState";
constexpr size_t kDefaultLimit = 30000;
constexpr size_t kMaxLimit = 0x7FFFFFFE;
constexpr int kMargin = 1;

struct EditState {
  size_t anchor = 0;  // the fixed end of the selection
  size_t caret = 0;   // the moving end, where the caret stands
  size_t limit = kDefaultLimit;
  char passwordChar = 0;
  int scrollX = 0;  // pixels of text scrolled off to the left
  HFONT font = nullptr;
  bool modified = false;
  bool tracking = false;
};


std::string TextOf(HWND hwnd) {
  int length = GetWindowTextLength(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowText(hwnd, text.data(), length + 1);
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The text may change behind the control's back (SetWindowText): every use clamps the selection first.
void Clamp(EditState& s, size_t length) {
  s.anchor = std::min(s.anchor, length);
  s.caret = std::min(s.caret, length);
}

std::string Shown(const EditState& s, const std::string& text) {
  return s.passwordChar ? std::string(text.size(), s.passwordChar) : text;
}

void Notify(HWND hwnd, UINT code) {
  if (StyleOf(hwnd) & WS_CHILD) CommandToParent(hwnd, code);
}

// Pixel offsets of every character boundary of the shown text (offsets[i] = width of the first i).
std::vector<int> Offsets(HWND hwnd, const EditState& s, const std::string& shown) {
  std::vector<int> offsets(shown.size() + 1, 0);
  HDC hdc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 1; i <= shown.size(); ++i) {
    SIZE size{};
    GetTextExtentPoint32(hdc, shown.c_str(), static_cast<int>(i), &size);
    offsets[i] = size.cx;
  }
  SelectObject(hdc, old);
  ReleaseDC(hwnd, hdc);
  return offsets;
}

int TextWidth(HWND hwnd) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  return std::max(0, static_cast<int>(rc.right) - 2 * kMargin);
}

// Where the text starts: ES_RIGHT and ES_CENTER place a text that fits within the width.
int TextLeft(HWND hwnd, const EditState& s, int textWidth) {
  int room = TextWidth(hwnd) - textWidth;
  if (room <= 0 || s.scrollX) return kMargin - s.scrollX;
  DWORD align = StyleOf(hwnd) & (ES_CENTER | ES_RIGHT);
  if (align == ES_RIGHT) return kMargin + room - 1;
  if (align == ES_CENTER) return kMargin + room / 2;
  return kMargin;
}

void ScrollToCaret(HWND hwnd, EditState& s) {
  std::string shown = Shown(s, TextOf(hwnd));
  Clamp(s, shown.size());
  auto offsets = Offsets(hwnd, s, shown);
  int x = offsets[s.caret];
  int width = TextWidth(hwnd);
  if (x - s.scrollX > width - 1) s.scrollX = x - width + 1;
  if (x < s.scrollX) s.scrollX = std::max(0, x - width / 3);
  // Nothing scrolled off while everything fits.
  if (offsets.back() < width) s.scrollX = 0;
  s.scrollX = std::max(0, s.scrollX);
}

size_t CharAt(HWND hwnd, EditState& s, int x) {
  std::string shown = Shown(s, TextOf(hwnd));
  auto offsets = Offsets(hwnd, s, shown);
  int target = x - TextLeft(hwnd, s, offsets.back());
  size_t best = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    if (std::abs(offsets[i] - target) < std::abs(offsets[best] - target)) best = i;
  }
  return best;
}

void Redraw(HWND hwnd) { InvalidateRect(hwnd, nullptr, FALSE); }

// Replaces the selection with `insert` as far as the limit (and, without ES_AUTOHSCROLL, the width)
// allows; EN_MAXTEXT when something was cut off. Returns whether the text changed.
bool ReplaceSelection(HWND hwnd, EditState& s, std::string insert, bool notify) {
  std::string text = TextOf(hwnd);
  Clamp(s, text.size());
  size_t from = std::min(s.anchor, s.caret), to = std::max(s.anchor, s.caret);
  DWORD style = StyleOf(hwnd);
  if (style & ES_UPPERCASE)
    for (char& c : insert) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (style & ES_LOWERCASE)
    for (char& c : insert) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t kept = text.size() - (to - from);
  bool cut = false;
  if (kept >= s.limit) {
    cut = !insert.empty();
    insert.clear();
  } else if (kept + insert.size() > s.limit) {
    insert.resize(s.limit - kept);
    cut = true;
  }
  if (!(style & ES_AUTOHSCROLL)) {
    // The text must fit the control's width.
    while (!insert.empty()) {
      std::string candidate = text.substr(0, from) + insert + text.substr(to);
      auto offsets = Offsets(hwnd, s, Shown(s, candidate));
      if (offsets.back() <= TextWidth(hwnd)) break;
      insert.pop_back();
      cut = true;
    }
  }
  if (from == to && insert.empty()) {
    if (cut) Notify(hwnd, EN_MAXTEXT);
    return false;
  }
  text = text.substr(0, from) + insert + text.substr(to);
  DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  s.anchor = s.caret = from + insert.size();
  s.modified = true;
  ScrollToCaret(hwnd, s);
  Redraw(hwnd);
  if (cut) Notify(hwnd, EN_MAXTEXT);
  if (notify) {
    Notify(hwnd, EN_UPDATE);
    Notify(hwnd, EN_CHANGE);
  }
  return true;
}

void MoveCaret(HWND hwnd, EditState& s, size_t to, bool extend) {
  s.caret = to;
  if (!extend) s.anchor = to;
  ScrollToCaret(hwnd, s);
  Redraw(hwnd);
}

void Paint(HWND hwnd, EditState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  DWORD style = StyleOf(hwnd);
  bool enabled = IsWindowEnabled(hwnd);
  bool readOnly = (style & ES_READONLY) != 0;
  SetTextColor(hdc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  SetBkColor(hdc, GetSysColor(enabled && !readOnly ? COLOR_WINDOW : COLOR_BTNFACE));
  HBRUSH brush = nullptr;
  HWND parent = GetParent(hwnd);
  if (parent && (style & WS_CHILD)) {
    // A read-only or disabled edit asks as a static would.
    UINT ask = enabled && !readOnly ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
    brush = reinterpret_cast<HBRUSH>(SendMessage(parent, ask, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  }
  if (!enabled) SetTextColor(hdc, GetSysColor(COLOR_GRAYTEXT));
  FillRect(hdc, &rc, brush ? brush : GetSysColorBrush(enabled && !readOnly ? COLOR_WINDOW : COLOR_BTNFACE));
  std::string shown = Shown(s, TextOf(hwnd));
  Clamp(s, shown.size());
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRIC tm{};
  GetTextMetrics(hdc, &tm);
  auto offsets = Offsets(hwnd, s, shown);
  int x0 = TextLeft(hwnd, s, offsets.back());
  int y0 = kMargin;
  RECT clip{kMargin, 0, rc.right - kMargin, rc.bottom};
  SetBkMode(hdc, TRANSPARENT);
  ExtTextOut(hdc, x0, y0, ETO_CLIPPED, &clip, shown.c_str(), static_cast<UINT>(shown.size()), nullptr);
  bool focused = GetFocus() == hwnd;
  size_t from = std::min(s.anchor, s.caret), to = std::max(s.anchor, s.caret);
  if (from != to && (focused || (style & ES_NOHIDESEL))) {
    RECT sel{x0 + offsets[from], y0, x0 + offsets[to], y0 + tm.tmHeight};
    IntersectRect(&sel, &sel, &clip);
    FillRect(hdc, &sel, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(hdc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    ExtTextOut(hdc, x0 + offsets[from], y0, ETO_CLIPPED, &sel, shown.c_str() + from, static_cast<UINT>(to - from),
               nullptr);
  }
  if (focused && enabled) {
    RECT caret{x0 + offsets[s.caret], y0, x0 + offsets[s.caret] + 1, y0 + tm.tmHeight};
    if (caret.left >= clip.left - 1 && caret.left <= clip.right) InvertRect(hdc, &caret);
  }
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

// The edit's own messages and the text it holds; nothing for what is not of the family.
std::optional<LRESULT> EditApi(HWND hwnd, EditState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
      DefWindowProc(hwnd, message, wParam, lParam);
      s.anchor = s.caret = 0;
      s.scrollX = 0;
      s.modified = false;
      Redraw(hwnd);
      Notify(hwnd, EN_UPDATE);
      Notify(hwnd, EN_CHANGE);
      return TRUE;
    case EM_GETSEL: {
      size_t length = static_cast<size_t>(GetWindowTextLength(hwnd));
      Clamp(s, length);
      DWORD from = static_cast<DWORD>(std::min(s.anchor, s.caret));
      DWORD to = static_cast<DWORD>(std::max(s.anchor, s.caret));
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = from;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = to;
      return static_cast<LRESULT>(MAKELPARAM(std::min<DWORD>(from, 0xFFFF), std::min<DWORD>(to, 0xFFFF)));
    }
    case EM_SETSEL: {
      size_t length = static_cast<size_t>(GetWindowTextLength(hwnd));
      auto start = static_cast<intptr_t>(static_cast<int>(wParam));
      auto end = static_cast<intptr_t>(static_cast<int>(lParam));
      if (start < 0) {  // no selection: the caret stays where it is
        Clamp(s, length);
        s.anchor = s.caret;
      } else {
        size_t a = std::min(static_cast<size_t>(start), length);
        size_t b = end < 0 ? length : std::min(static_cast<size_t>(end), length);
        s.anchor = std::min(a, b);
        s.caret = std::max(a, b);
      }
      ScrollToCaret(hwnd, s);
      Redraw(hwnd);
      return 0;
    }
    case EM_REPLACESEL:
      ReplaceSelection(hwnd, s, lParam ? reinterpret_cast<LPCSTR>(lParam) : "", true);
      return 0;
    case WM_CLEAR:
      if (!(StyleOf(hwnd) & ES_READONLY) && s.anchor != s.caret) ReplaceSelection(hwnd, s, {}, true);
      return 0;
    case EM_LIMITTEXT:
      s.limit = wParam == 0 ? kMaxLimit : std::min(static_cast<size_t>(wParam), kMaxLimit);
      return 0;
    case EM_GETLIMITTEXT:
      return static_cast<LRESULT>(s.limit);
    case EM_SETPASSWORDCHAR: {
      s.passwordChar = static_cast<char>(wParam);
      DWORD style = StyleOf(hwnd);
      SetWindowLongPtr(hwnd, GWL_STYLE, static_cast<LONG_PTR>(wParam ? style | ES_PASSWORD : style & ~ES_PASSWORD));
      ScrollToCaret(hwnd, s);
      Redraw(hwnd);
      return 0;
    }
    case EM_GETPASSWORDCHAR:
      return static_cast<LRESULT>(static_cast<unsigned char>(s.passwordChar));
    case EM_GETMODIFY:
      return s.modified ? TRUE : FALSE;
    case EM_SETMODIFY:
      s.modified = wParam != 0;
      return 0;
    case EM_SETREADONLY: {
      DWORD style = StyleOf(hwnd);
      SetWindowLongPtr(hwnd, GWL_STYLE, static_cast<LONG_PTR>(wParam ? style | ES_READONLY : style & ~ES_READONLY));
      Redraw(hwnd);
      return TRUE;
    }
    default:
      return std::nullopt;
  }
}

// A typed character: a backspace deletes, a printable one goes in.
void TypeChar(HWND hwnd, EditState& s, unsigned char c) {
  if (StyleOf(hwnd) & ES_READONLY) return;
  if (c == 0x08) {  // backspace: the selection, else the character before the caret
    Clamp(s, static_cast<size_t>(GetWindowTextLength(hwnd)));
    if (s.anchor == s.caret) {
      if (s.caret == 0) return;
      s.anchor = s.caret - 1;
    }
    ReplaceSelection(hwnd, s, {}, true);
    return;
  }
  if (c < 0x20 || c == 0x7F) return;
  if ((StyleOf(hwnd) & ES_NUMBER) && !std::isdigit(c)) return;
  ReplaceSelection(hwnd, s, std::string(1, static_cast<char>(c)), true);
}

// The caret keys and Delete; nothing for any other key.
std::optional<LRESULT> PressKey(HWND hwnd, EditState& s, int key) {
  size_t length = static_cast<size_t>(GetWindowTextLength(hwnd));
  Clamp(s, length);
  bool shift = GetKeyState(VK_SHIFT) < 0;
  switch (key) {
    case VK_LEFT:
      if (!shift && s.anchor != s.caret) MoveCaret(hwnd, s, std::min(s.anchor, s.caret), false);
      else MoveCaret(hwnd, s, s.caret ? s.caret - 1 : 0, shift);
      return 0;
    case VK_RIGHT:
      if (!shift && s.anchor != s.caret) MoveCaret(hwnd, s, std::max(s.anchor, s.caret), false);
      else MoveCaret(hwnd, s, std::min(length, s.caret + 1), shift);
      return 0;
    case VK_HOME:
      MoveCaret(hwnd, s, 0, shift);
      return 0;
    case VK_END:
      MoveCaret(hwnd, s, length, shift);
      return 0;
    case VK_DELETE:
      if (StyleOf(hwnd) & ES_READONLY) return 0;
      if (s.anchor == s.caret) {
        if (s.caret >= length) return 0;
        s.anchor = s.caret + 1;
      }
      ReplaceSelection(hwnd, s, {}, true);
      return 0;
    default:
      return std::nullopt;
  }
}

// Input: keys, the mouse and its capture, the focus; nothing for what is not of the family.
std::optional<LRESULT> EditInput(HWND hwnd, EditState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_CHAR:
      TypeChar(hwnd, s, static_cast<unsigned char>(wParam));
      return 0;
    case WM_KEYDOWN:
      return PressKey(hwnd, s, static_cast<int>(wParam));
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      size_t at = CharAt(hwnd, s, GET_X_LPARAM(lParam));
      bool extend = (wParam & MK_SHIFT) != 0;
      if (message == WM_LBUTTONDBLCLK) {
        s.anchor = 0;
        at = static_cast<size_t>(GetWindowTextLength(hwnd));
        extend = true;
      }
      MoveCaret(hwnd, s, at, extend);
      s.tracking = true;
      SetCapture(hwnd);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (s.tracking && GetCapture() == hwnd) MoveCaret(hwnd, s, CharAt(hwnd, s, GET_X_LPARAM(lParam)), true);
      return 0;
    case WM_LBUTTONUP:
      if (s.tracking) {
        s.tracking = false;
        if (GetCapture() == hwnd) ReleaseCapture();
      }
      return 0;
    case WM_CAPTURECHANGED:
      s.tracking = false;
      return 0;
    case WM_SETFOCUS:
      Redraw(hwnd);
      Notify(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      Redraw(hwnd);
      Notify(hwnd, EN_KILLFOCUS);
      return 0;
    default:
      return std::nullopt;
  }
}

// What every window hears: creation, size, font, enabling; nothing for what is not of the family.
std::optional<LRESULT> EditWindow(HWND hwnd, EditState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      s.anchor = s.caret = 0;
      Clamp(s, static_cast<size_t>(GetWindowTextLength(hwnd)));
      return 0;
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(static_cast<uintptr_t>(lParam))) Redraw(hwnd);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_ENABLE:
    case WM_SIZE:
      Redraw(hwnd);
      return 0;
    default:
      return std::nullopt;
  }
}

// The state as the edit is made: an ES_PASSWORD edit shows stars from the start.
void SetUp(HWND hwnd, EditState& s, const CREATESTRUCT*) {
  if (StyleOf(hwnd) & ES_PASSWORD) s.passwordChar = '*';
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  EditState* s = StateMadeAtNcCreate<EditState>(hwnd, kEditProp, message, lParam, SetUp);
  return DispatchByFamily(hwnd, message, wParam, lParam, kEditProp, s, Paint, {EditApi, EditInput, EditWindow});
}

}  // namespace

namespace tavrin::controls::detail {
WNDPROC EditProcedure() { return EditProc; }
}  // namespace tavrin::controls::detail
