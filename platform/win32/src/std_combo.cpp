// "ComboBox" as a drop-down list: a field showing the selected line (also the window text) with a button
// at its right; the list drops as a "ComboLBox" pop-up below the field. The height the control is made
// with is the dropped list's; the control itself keeps the height of one line.
#include <algorithm>
#include <optional>
#include <string>

#include "control_internal.h"
#include "dialog_internal.h"
#include "list_items.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::CommandToParent;
using tavrin::controls::detail::DispatchByFamily;
using tavrin::controls::detail::kComboListDone;
using tavrin::controls::detail::StateMadeAtNcCreate;
using tavrin::controls::detail::StyleOf;

constexpr char kComboProp[] = "TavrinComboState";
constexpr int kButtonWidth = 16;

struct ComboState {
  tavrin::controls::detail::ListItems items;
  int cur = -1;
  int droppedHeight = 100;
  HFONT font = nullptr;
  HWND list = nullptr;  // while dropped
  int curAtDrop = -1;
};


void Notify(HWND hwnd, UINT code) {
  if (StyleOf(hwnd) & WS_CHILD) CommandToParent(hwnd, code);
}

int FieldHeight(const ComboState& s) { return tavrin::controls::detail::LineHeight(s.font) + 6; }

void FitHeight(HWND hwnd, const ComboState& s) {
  RECT rc;
  GetWindowRect(hwnd, &rc);
  int h = FieldHeight(s);
  if (rc.bottom - rc.top != h)
    SetWindowPos(hwnd, nullptr, 0, 0, rc.right - rc.left, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The selection as the window text, so that GetWindowText reads it.
void SetSelection(HWND hwnd, ComboState& s, int index) {
  s.cur = s.items.Valid(index) ? index : -1;
  std::string text = s.cur >= 0 ? s.items.Text(s.cur) : std::string();
  DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  InvalidateRect(hwnd, nullptr, TRUE);
}

void ChooseByUser(HWND hwnd, ComboState& s, int index) {
  if (!s.items.Valid(index) || index == s.cur) return;
  SetSelection(hwnd, s, index);
  Notify(hwnd, CBN_SELCHANGE);
}

RECT DroppedRect(HWND hwnd, const ComboState& s) {
  RECT rc;
  GetWindowRect(hwnd, &rc);
  int line = tavrin::controls::detail::LineHeight(s.font);
  int listHeight = std::max(s.droppedHeight - (rc.bottom - rc.top), line);
  int rows = std::max(1, std::min(s.items.Count(), std::max(1, listHeight / line)));
  return RECT{rc.left, rc.bottom, rc.right, rc.bottom + rows * line + 2};
}

void CloseUp(HWND hwnd, ComboState& s, bool chosen) {
  if (!s.list) return;
  HWND list = s.list;
  s.list = nullptr;
  int picked = static_cast<int>(SendMessage(list, LB_GETCURSEL, 0, 0));
  if (GetCapture() == list) ReleaseCapture();
  DestroyWindow(list);
  InvalidateRect(hwnd, nullptr, TRUE);
  if (chosen && s.items.Valid(picked) && picked != s.cur) {
    SetSelection(hwnd, s, picked);
    Notify(hwnd, CBN_SELCHANGE);
  }
  Notify(hwnd, chosen ? CBN_SELENDOK : CBN_SELENDCANCEL);
  Notify(hwnd, CBN_CLOSEUP);
}

void DropDown(HWND hwnd, ComboState& s) {
  if (s.list || !IsWindowEnabled(hwnd)) return;
  Notify(hwnd, CBN_DROPDOWN);
  RECT at = DroppedRect(hwnd, s);
  HWND owner = GetAncestor(hwnd, GA_ROOT);
  HWND list = CreateWindowEx(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "ComboLBox", "", WS_POPUP | WS_BORDER, at.left, at.top,
                             at.right - at.left, at.bottom - at.top, owner, nullptr, nullptr, hwnd);
  if (!list) return;
  SendMessage(list, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
  for (int i = 0; i < s.items.Count(); ++i)
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.items.Text(i).c_str()));
  SendMessage(list, LB_SETCURSEL, static_cast<WPARAM>(s.cur), 0);
  s.list = list;
  s.curAtDrop = s.cur;
  ShowWindow(list, SW_SHOWNA);
  SetCapture(list);  // every click now goes to the list: outside it closes the list
  InvalidateRect(hwnd, nullptr, TRUE);
}

void DrawArrowButton(HDC hdc, RECT button, bool pushed, bool enabled) {
  FillRect(hdc, &button, GetSysColorBrush(COLOR_BTNFACE));
  RECT edge = button;
  DrawEdge(hdc, &edge, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  int cx = (button.left + button.right) / 2 + (pushed ? 1 : 0);
  int cy = (button.top + button.bottom) / 2 - 1 + (pushed ? 1 : 0);
  COLORREF ink = GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  for (int row = 0; row < 4; ++row)  // a small triangle pointing down
    for (int x = cx - 3 + row; x <= cx + 3 - row; ++x) SetPixel(hdc, x, cy + row, ink);
}

void Paint(HWND hwnd, ComboState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  bool enabled = IsWindowEnabled(hwnd);
  SetTextColor(hdc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  SetBkColor(hdc, GetSysColor(COLOR_WINDOW));
  HBRUSH brush = nullptr;
  HWND parent = GetParent(hwnd);
  if (parent && (StyleOf(hwnd) & WS_CHILD))
    brush = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  RECT inner = rc;
  DrawEdge(hdc, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(hdc, &inner, enabled ? (brush ? brush : GetSysColorBrush(COLOR_WINDOW)) : GetSysColorBrush(COLOR_BTNFACE));
  RECT button{std::max(inner.left, inner.right - kButtonWidth), inner.top, inner.right, inner.bottom};
  DrawArrowButton(hdc, button, s.list != nullptr, enabled);
  RECT field{inner.left + 1, inner.top + 1, button.left - 1, inner.bottom - 1};
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  bool focused = GetFocus() == hwnd && !s.list;
  if (focused) {
    FillRect(hdc, &field, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(hdc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  }
  if (s.cur >= 0) {
    RECT text{field.left + 2, field.top, field.right, field.bottom};
    DrawText(hdc, s.items.Text(s.cur).c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (focused) DrawFocusRect(hdc, &field);
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

// The combo box's own messages and the text that selects a line; nothing for what is not of the family.
std::optional<LRESULT> ComboApi(HWND hwnd, ComboState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  auto index = static_cast<int>(static_cast<intptr_t>(wParam));
  switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      int at = message == CB_ADDSTRING ? s.items.Add(text) : s.items.Insert(index, text);
      if (at == -2) return CB_ERRSPACE;
      if (at < 0) return CB_ERR;
      if (s.cur >= at) ++s.cur;
      if (s.list) SendMessage(s.list, LB_INSERTSTRING, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
      return at;
    }
    case CB_DELETESTRING:
      if (!s.items.Delete(index)) return CB_ERR;
      if (s.list) SendMessage(s.list, LB_DELETESTRING, wParam, 0);
      if (s.cur == index) SetSelection(hwnd, s, -1);
      else if (s.cur > index) --s.cur;
      return s.items.Count();
    case CB_RESETCONTENT:
      CloseUp(hwnd, s, false);
      s.items.Clear();
      SetSelection(hwnd, s, -1);
      return CB_OKAY;
    case CB_GETCOUNT:
      return s.items.Count();
    case CB_GETCURSEL:
      return s.cur;
    case CB_SETCURSEL:
      SetSelection(hwnd, s, index);
      if (s.list) SendMessage(s.list, LB_SETCURSEL, static_cast<WPARAM>(s.cur), 0);
      return s.items.Valid(index) ? index : CB_ERR;
    case CB_GETLBTEXT:
      return s.items.Valid(index) ? s.items.CopyText(index, lParam) : CB_ERR;
    case CB_GETLBTEXTLEN:
      if (!s.items.Valid(index)) return CB_ERR;
      return static_cast<LRESULT>(s.items.Text(index).size());
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_SELECTSTRING: {
      int found = s.items.Find(index, lParam ? reinterpret_cast<const char*>(lParam) : "", message == CB_FINDSTRINGEXACT);
      if (message == CB_SELECTSTRING && found >= 0) SetSelection(hwnd, s, found);
      return found;
    }
    case CB_GETITEMDATA:
      if (!s.items.Valid(index)) return CB_ERR;
      return s.items.Data(index);
    case CB_SETITEMDATA:
      if (!s.items.Valid(index)) return CB_ERR;
      s.items.SetData(index, lParam);
      return CB_OKAY;
    case CB_SHOWDROPDOWN:
      if (wParam) DropDown(hwnd, s);
      else CloseUp(hwnd, s, false);
      return TRUE;
    case CB_GETDROPPEDSTATE:
      return s.list ? TRUE : FALSE;
    case CB_GETDROPPEDCONTROLRECT:
      if (lParam) *reinterpret_cast<RECT*>(lParam) = DroppedRect(hwnd, s);
      return CB_OKAY;
    case WM_SETTEXT: {  // a drop list shows only its lines: the text selects the line that equals it
      int found = s.items.Find(-1, lParam ? reinterpret_cast<const char*>(lParam) : "", true);
      if (found < 0) return CB_ERR;
      SetSelection(hwnd, s, found);
      return TRUE;
    }
    default:
      return std::nullopt;
  }
}

// F4 and Alt+Up/Down: drop the list, or close it taking its line.
void ToggleDropped(HWND hwnd, ComboState& s) {
  if (s.list) CloseUp(hwnd, s, true);
  else DropDown(hwnd, s);
}

// A key: dropped, the list takes it (Enter and Escape close it); else the arrows, Home and End choose a
// line. Nothing for any other key.
std::optional<LRESULT> PressKey(HWND hwnd, ComboState& s, WPARAM wParam, LPARAM lParam) {
  int key = static_cast<int>(wParam);
  bool alt = GetKeyState(VK_MENU) < 0;
  if (key == VK_F1 + 3 || (alt && (key == VK_DOWN || key == VK_UP))) {
    ToggleDropped(hwnd, s);
    return 0;
  }
  if (s.list) {
    if (key == VK_RETURN) CloseUp(hwnd, s, true);
    else if (key == VK_ESCAPE) CloseUp(hwnd, s, false);
    else SendMessage(s.list, WM_KEYDOWN, wParam, lParam);
    return 0;
  }
  int to = s.cur;
  switch (key) {
    case VK_UP:
    case VK_LEFT: to = std::max(0, s.cur - 1); break;
    case VK_DOWN:
    case VK_RIGHT: to = s.cur + 1; break;
    case VK_HOME: to = 0; break;
    case VK_END: to = s.items.Count() - 1; break;
    default: return std::nullopt;
  }
  ChooseByUser(hwnd, s, std::clamp(to, 0, std::max(0, s.items.Count() - 1)));
  return 0;
}

// Input: the mouse, keys, the focus; nothing for what is not of the family.
std::optional<LRESULT> ComboInput(HWND hwnd, ComboState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
      auto* msg = reinterpret_cast<MSG*>(lParam);
      if (s.list && msg && msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
        code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (GetFocus() != hwnd) SetFocus(hwnd);
      if (s.list) CloseUp(hwnd, s, false);
      else DropDown(hwnd, s);
      return 0;
    case WM_KEYDOWN:
      return PressKey(hwnd, s, wParam, lParam);
    case WM_SYSKEYDOWN:
      if (wParam != VK_DOWN && wParam != VK_UP) return std::nullopt;
      ToggleDropped(hwnd, s);
      return 0;
    case WM_CHAR: {
      char c[2] = {static_cast<char>(wParam), 0};
      if (static_cast<unsigned char>(c[0]) < 0x20) return 0;
      if (s.list) {
        SendMessage(s.list, WM_CHAR, wParam, lParam);
        return 0;
      }
      ChooseByUser(hwnd, s, s.items.Find(s.cur, c, false));
      return 0;
    }
    case WM_SETFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      Notify(hwnd, CBN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      CloseUp(hwnd, s, false);
      InvalidateRect(hwnd, nullptr, TRUE);
      Notify(hwnd, CBN_KILLFOCUS);
      return 0;
    default:
      return std::nullopt;
  }
}

// What its dropped list tells it; nothing for what is not of the family.
std::optional<LRESULT> ComboNotification(HWND hwnd, ComboState& s, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case kComboListDone:
      CloseUp(hwnd, s, wParam != 0);
      return 0;
    default:
      return std::nullopt;
  }
}

// What every window hears: creation, enabling, font, the end; nothing for what is not of the family.
std::optional<LRESULT> ComboWindow(HWND hwnd, ComboState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
      FitHeight(hwnd, s);
      return 0;
    case WM_ENABLE:
      if (!wParam) CloseUp(hwnd, s, false);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      FitHeight(hwnd, s);
      if (LOWORD(static_cast<uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_DESTROY:
      if (s.list) {
        HWND list = s.list;
        s.list = nullptr;
        DestroyWindow(list);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// The state as the combo box is made: the height it is made with is its dropped list's.
void SetUp(HWND, ComboState& s, const CREATESTRUCT* create) {
  if (!create) return;
  s.droppedHeight = std::max(create->cy, 0);
  s.items.sorted = (static_cast<DWORD>(create->style) & CBS_SORT) != 0;
}

LRESULT CALLBACK ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ComboState* s = StateMadeAtNcCreate<ComboState>(hwnd, kComboProp, message, lParam, SetUp);
  return DispatchByFamily(hwnd, message, wParam, lParam, kComboProp, s, Paint,
                          {ComboApi, ComboInput, ComboNotification, ComboWindow});
}

}  // namespace

namespace tavrin::controls::detail {
WNDPROC ComboProcedure() { return ComboProc; }
}  // namespace tavrin::controls::detail
