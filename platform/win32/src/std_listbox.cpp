// "ListBox": a single-selection list of text lines, and "ComboLBox", the same list as a combo box's
// dropped pop-up, which hot-tracks the mouse and reports the pick to its combo box.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <strings.h>
#include <vector>

#include "control_internal.h"
#include "dialog_internal.h"
#include "list_items.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::CommandToParent;
using tavrin::controls::detail::DispatchByFamily;
using tavrin::controls::detail::StateMadeAtNcCreate;
using tavrin::controls::detail::StyleOf;

constexpr char kListProp[] = "TavrinListBoxState";

struct ListState {
  tavrin::controls::detail::ListItems items;
  int cur = -1;
  int top = 0;
  HFONT font = nullptr;
  HWND combo = nullptr;  // the combo box a dropped list reports to
  bool tracking = false;
};


int ItemHeight(const ListState& s) { return tavrin::controls::detail::LineHeight(s.font); }

int VisibleRows(HWND hwnd, const ListState& s) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  return std::max(1, static_cast<int>(rc.bottom) / ItemHeight(s));
}

void Notify(HWND hwnd, UINT code) {
  if ((StyleOf(hwnd) & LBS_NOTIFY) && (StyleOf(hwnd) & WS_CHILD)) CommandToParent(hwnd, code);
}

void EnsureVisible(HWND hwnd, ListState& s) {
  if (s.cur < 0) return;
  int rows = VisibleRows(hwnd, s);
  if (s.cur < s.top) s.top = s.cur;
  if (s.cur >= s.top + rows) s.top = s.cur - rows + 1;
  s.top = std::clamp(s.top, 0, std::max(0, s.items.Count() - 1));
}

int ItemAt(HWND hwnd, const ListState& s, int y) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  if (y < 0 || y >= rc.bottom) return -1;
  int index = s.top + y / ItemHeight(s);
  return index < s.items.Count() ? index : -1;
}

// Moves the selection; LBN_SELCHANGE (with LBS_NOTIFY) when the user changed it.
void Select(HWND hwnd, ListState& s, int index, bool byUser) {
  index = std::clamp(index, -1, s.items.Count() - 1);
  if (index == s.cur) return;
  s.cur = index;
  EnsureVisible(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
  if (byUser) Notify(hwnd, LBN_SELCHANGE);
}

void Paint(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(hdc, GetSysColor(COLOR_WINDOW));
  HBRUSH brush = nullptr;
  HWND parent = GetParent(hwnd);
  if (parent && (StyleOf(hwnd) & WS_CHILD))
    brush = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  FillRect(hdc, &rc, brush ? brush : GetSysColorBrush(COLOR_WINDOW));
  COLORREF text = IsWindowEnabled(hwnd) ? GetTextColor(hdc) : GetSysColor(COLOR_GRAYTEXT);
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  int h = ItemHeight(s);
  bool focused = GetFocus() == hwnd || s.combo;
  for (int i = s.top, y = 0; i < s.items.Count() && y < rc.bottom; ++i, y += h) {
    RECT line{0, y, rc.right, y + h};
    bool selected = i == s.cur;
    if (selected) FillRect(hdc, &line, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(hdc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : text);
    RECT textRect{line.left + 2, line.top, line.right - 2, line.bottom};
    DrawText(hdc, s.items.Text(i).c_str(), -1, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (selected && focused && !s.combo) DrawFocusRect(hdc, &line);
  }
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

// The list box's own messages; nothing for what is not of the family.
std::optional<LRESULT> ListBoxApi(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  auto index = static_cast<int>(static_cast<intptr_t>(wParam));
  switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING: {
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      int at = message == LB_ADDSTRING ? s.items.Add(text) : s.items.Insert(index, text);
      if (at == -2) return LB_ERRSPACE;
      if (at < 0) return LB_ERR;
      if (s.cur >= at && s.cur >= 0) ++s.cur;
      InvalidateRect(hwnd, nullptr, TRUE);
      return at;
    }
    case LB_DELETESTRING:
      if (!s.items.Delete(index)) return LB_ERR;
      if (s.cur == index) s.cur = -1;
      else if (s.cur > index) --s.cur;
      s.top = std::clamp(s.top, 0, std::max(0, s.items.Count() - 1));
      InvalidateRect(hwnd, nullptr, TRUE);
      return s.items.Count();
    case LB_RESETCONTENT:
      s.items.Clear();
      s.cur = -1;
      s.top = 0;
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case LB_GETCOUNT:
      return s.items.Count();
    case LB_SETCURSEL:
      if (index < -1 || index >= s.items.Count()) return LB_ERR;
      Select(hwnd, s, index, false);
      return index < 0 ? LB_ERR : index;
    case LB_GETCURSEL:
      return s.cur;
    case LB_GETTEXT:
      return s.items.Valid(index) ? s.items.CopyText(index, lParam) : LB_ERR;
    case LB_GETTEXTLEN:
      if (!s.items.Valid(index)) return LB_ERR;
      return static_cast<LRESULT>(s.items.Text(index).size());
    case LB_FINDSTRING:
    case LB_FINDSTRINGEXACT:
    case LB_SELECTSTRING: {
      int found = s.items.Find(index, lParam ? reinterpret_cast<const char*>(lParam) : "", message == LB_FINDSTRINGEXACT);
      if (message == LB_SELECTSTRING && found >= 0) Select(hwnd, s, found, false);
      return found;
    }
    case LB_GETTOPINDEX:
      return s.top;
    case LB_SETTOPINDEX:
      if (index < 0 || (index >= s.items.Count() && index != 0)) return LB_ERR;
      s.top = index;
      InvalidateRect(hwnd, nullptr, TRUE);
      return LB_OKAY;
    case LB_GETITEMRECT: {
      if (!s.items.Valid(index) || !lParam) return LB_ERR;
      RECT rc;
      GetClientRect(hwnd, &rc);
      int y = (index - s.top) * ItemHeight(s);
      *reinterpret_cast<RECT*>(lParam) = RECT{0, y, rc.right, y + ItemHeight(s)};
      return LB_OKAY;
    }
    case LB_GETITEMDATA:
      if (!s.items.Valid(index)) return LB_ERR;
      return s.items.Data(index);
    case LB_SETITEMDATA:
      if (!s.items.Valid(index)) return LB_ERR;
      s.items.SetData(index, lParam);
      return LB_OKAY;
    case LB_GETITEMHEIGHT:
      return ItemHeight(s);
    case LB_ITEMFROMPOINT: {
      int at = ItemAt(hwnd, s, GET_Y_LPARAM(lParam));
      return at < 0 ? MAKELPARAM(std::max(0, s.items.Count() - 1), 1) : MAKELPARAM(at, 0);
    }
    default:
      return std::nullopt;
  }
}

// The mouse over a combo box's dropped list: the line under it follows, a press outside closes the list
// unchosen, a release on a line picks it.
LRESULT DroppedListMouse(HWND hwnd, ListState& s, UINT message, LPARAM lParam) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (message == WM_MOUSEMOVE) {
    int at = ItemAt(hwnd, s, p.y);
    if (at >= 0 && p.x >= 0 && p.x < rc.right) Select(hwnd, s, at, false);
  } else if (message == WM_LBUTTONUP) {
    if (PtInRect(&rc, p) && ItemAt(hwnd, s, p.y) >= 0) {
      Select(hwnd, s, ItemAt(hwnd, s, p.y), false);
      SendMessage(s.combo, tavrin::controls::detail::kComboListDone, TRUE, 0);
    }
  } else if (!PtInRect(&rc, p)) {
    SendMessage(s.combo, tavrin::controls::detail::kComboListDone, FALSE, 0);
  } else {
    s.tracking = true;
    Select(hwnd, s, ItemAt(hwnd, s, p.y), false);
  }
  return 0;
}

// A key: the arrows, the page keys, Home and End move the selection. Nothing for any other key.
std::optional<LRESULT> PressKey(HWND hwnd, ListState& s, int key) {
  int rows = VisibleRows(hwnd, s);
  int to = s.cur;
  switch (key) {
    case VK_UP: to = std::max(0, s.cur - 1); break;
    case VK_DOWN: to = s.cur + 1; break;
    case VK_PRIOR: to = std::max(0, s.cur - rows + 1); break;
    case VK_NEXT: to = s.cur + rows - 1; break;
    case VK_HOME: to = 0; break;
    case VK_END: to = s.items.Count() - 1; break;
    default: return std::nullopt;
  }
  if (s.items.Count()) Select(hwnd, s, std::clamp(to, 0, s.items.Count() - 1), !s.combo);
  return 0;
}

// Input: the mouse, keys, the wheel, the focus; nothing for what is not of the family.
std::optional<LRESULT> ListBoxInput(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (s.combo) return DroppedListMouse(hwnd, s, message, lParam);
      SetFocus(hwnd);
      int at = ItemAt(hwnd, s, GET_Y_LPARAM(lParam));
      if (at >= 0) Select(hwnd, s, at, true);
      if (message == WM_LBUTTONDBLCLK && at >= 0) Notify(hwnd, LBN_DBLCLK);
      return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      return s.combo ? DroppedListMouse(hwnd, s, message, lParam) : 0;
    case WM_KEYDOWN:
      return PressKey(hwnd, s, static_cast<int>(wParam));
    case WM_CHAR: {  // the next line that starts with the typed character
      char c[2] = {static_cast<char>(wParam), 0};
      int found = s.items.Find(s.cur, c, false);
      if (found >= 0) Select(hwnd, s, found, !s.combo);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      int lines = -static_cast<short>(HIWORD(wParam)) / 40;
      s.top = std::clamp(s.top + lines, 0, std::max(0, s.items.Count() - VisibleRows(hwnd, s)));
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    default:
      return std::nullopt;
  }
}

// What every window hears: enabling, font; nothing for what is not of the family.
std::optional<LRESULT> ListBoxWindow(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(static_cast<uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    default:
      return std::nullopt;
  }
}

// The state as the list is made: a combo's list is made with the combo as its creation parameter.
void SetUp(HWND hwnd, ListState& s, const CREATESTRUCT* create) {
  char cls[16] = {};
  GetClassName(hwnd, cls, sizeof cls);
  if (create && strcasecmp(cls, "ComboLBox") == 0) s.combo = static_cast<HWND>(create->lpCreateParams);
  s.items.sorted = (create ? static_cast<DWORD>(create->style) : StyleOf(hwnd)) & LBS_SORT;
}

LRESULT CALLBACK ListBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ListState* s = StateMadeAtNcCreate<ListState>(hwnd, kListProp, message, lParam, SetUp);
  return DispatchByFamily(hwnd, message, wParam, lParam, kListProp, s, Paint,
                          {ListBoxApi, ListBoxInput, ListBoxWindow});
}

}  // namespace

namespace tavrin::controls::detail {

LRESULT ListItems::CopyText(int index, LPARAM buffer) const {
  static_assert(LB_ERR == CB_ERR);
  if (!buffer) return LB_ERR;
  const std::string& text = Text(index);
  std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
  return static_cast<LRESULT>(text.size());
}

int ListItems::Add(const std::string& text) {
  if (items.size() >= kMaxItems) return -2;
  size_t at = items.size();
  if (sorted) {
    at = 0;
    while (at < items.size() && strcasecmp(items[at].text.c_str(), text.c_str()) <= 0) ++at;
  }
  items.insert(items.begin() + static_cast<ptrdiff_t>(at), Item{text, 0});
  return static_cast<int>(at);
}

int ListItems::Insert(int index, const std::string& text) {
  if (items.size() >= kMaxItems) return -2;
  if (index == -1) index = Count();
  if (index < 0 || index > Count()) return -1;
  items.insert(items.begin() + index, Item{text, 0});
  return index;
}

bool ListItems::Delete(int index) {
  if (!Valid(index)) return false;
  items.erase(items.begin() + index);
  return true;
}

int ListItems::Find(int after, const std::string& text, bool exact) const {
  int n = Count();
  if (n == 0) return -1;
  int start = (after < -1 || after >= n) ? -1 : after;
  for (int step = 1; step <= n; ++step) {
    int i = (start + step) % n;
    const std::string& t = items[static_cast<size_t>(i)].text;
    bool match = exact ? strcasecmp(t.c_str(), text.c_str()) == 0
                       : strncasecmp(t.c_str(), text.c_str(), text.size()) == 0;
    if (match) return i;
  }
  return -1;
}

int LineHeight(HFONT font) {
  HDC hdc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(hdc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRIC tm{};
  GetTextMetrics(hdc, &tm);
  SelectObject(hdc, old);
  DeleteDC(hdc);
  return std::max(8, static_cast<int>(tm.tmHeight) + 1);
}

WNDPROC ListBoxProcedure() { return ListBoxProc; }

}  // namespace tavrin::controls::detail
