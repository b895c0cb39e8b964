// "Button" and "Static": the two standard controls the custom controls build on. A button keeps its
// check and push state in a window property; an owner-drawn one hands each paint to its parent as
// WM_DRAWITEM, the others draw in the classic look.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "control_internal.h"
#include "win32/controls.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::StyleOf;

constexpr char kStateProp[] = "TavrinButtonState";
constexpr char kFontProp[] = "TavrinControlFont";
constexpr uintptr_t kCheckMask = 3;

uintptr_t ButtonState(HWND hwnd) { return reinterpret_cast<uintptr_t>(GetProp(hwnd, kStateProp)); }
void SetButtonState(HWND hwnd, uintptr_t state) {
  SetProp(hwnd, kStateProp, reinterpret_cast<HANDLE>(state | 0x100));  // never null: the property stays
}
DWORD TypeOf(HWND hwnd) { return StyleOf(hwnd) & BS_TYPEMASK; }
bool IsCheckType(DWORD type) {
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_3STATE ||
         type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
}

HFONT FontOf(HWND hwnd) {
  auto font = reinterpret_cast<HFONT>(SendMessage(hwnd, WM_GETFONT, 0, 0));
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// Check boxes and radio buttons: a 13-pixel box (round for radios) left of the text; group boxes: an
// etched frame with the caption in its top edge.
void PaintCheckOrGroup(HWND hwnd, HDC hdc, RECT rc, DWORD style, uintptr_t state) {
  HBRUSH face = nullptr;
  if (HWND parent = GetParent(hwnd)) {
    face = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  }
  DWORD type = style & BS_TYPEMASK;
  // A group box holds other controls: it paints its frame and caption only, never over what it holds.
  if (type != BS_GROUPBOX) FillRect(hdc, &rc, face ? face : GetSysColorBrush(COLOR_BTNFACE));
  char text[256] = {};
  GetWindowText(hwnd, text, sizeof text);
  HGDIOBJ oldFont = SelectObject(hdc, FontOf(hwnd));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(IsWindowEnabled(hwnd) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  if (type == BS_GROUPBOX) {
    TEXTMETRIC tm{};
    GetTextMetrics(hdc, &tm);
    RECT frame{rc.left, rc.top + tm.tmHeight / 2, rc.right, rc.bottom};
    DrawEdge(hdc, &frame, EDGE_ETCHED, BF_RECT);
    if (text[0]) {
      // The caption's mnemonic shows underlined, as a label's does.
      constexpr UINT kCaption = DT_LEFT | DT_TOP | DT_SINGLELINE;
      RECT caption{rc.left + 10, rc.top, rc.right - 10, rc.top + tm.tmHeight};
      RECT measured = caption;
      DrawText(hdc, text, -1, &measured, kCaption | DT_CALCRECT);
      RECT label{rc.left + 8, rc.top, std::min(measured.right, caption.right) + 2, rc.top + tm.tmHeight};
      FillRect(hdc, &label, face ? face : GetSysColorBrush(COLOR_BTNFACE));
      DrawText(hdc, text, -1, &caption, kCaption);
    }
    SelectObject(hdc, oldFont);
    return;
  }
  constexpr int kBox = 13;
  int top = rc.top + (rc.bottom - rc.top - kBox) / 2;
  RECT box{rc.left, top, rc.left + kBox, top + kBox};
  bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
  bool pushed = (state & BST_PUSHED) != 0;
  HBRUSH inside = GetSysColorBrush(pushed || !IsWindowEnabled(hwnd) ? COLOR_BTNFACE : COLOR_WINDOW);
  if (radio) {
    HGDIOBJ oldBrush = SelectObject(hdc, inside);
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ oldPen = SelectObject(hdc, pen);
    Ellipse(hdc, box.left, box.top, box.right, box.bottom);
    if (state & kCheckMask) {
      SelectObject(hdc, GetSysColorBrush(COLOR_WINDOWTEXT));
      SelectObject(hdc, GetStockObject(NULL_PEN));
      Ellipse(hdc, box.left + 4, box.top + 4, box.right - 3, box.bottom - 3);
    }
    SelectObject(hdc, oldPen);
    SelectObject(hdc, oldBrush);
    DeleteObject(pen);
  } else {
    FillRect(hdc, &box, inside);
    RECT edge = box;
    DrawEdge(hdc, &edge, EDGE_SUNKEN, BF_RECT);
    if ((state & kCheckMask) == BST_CHECKED || (state & kCheckMask) == 2) {
      COLORREF ink = GetSysColor((state & kCheckMask) == 2 ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
      for (int i = 0; i < 7; ++i) {  // the tick: down three, then up four, three pixels thick
        int x = box.left + 3 + i;
        int y = box.top + (i < 3 ? 5 + i : 9 - (i - 2));
        for (int t = 0; t < 3; ++t) SetPixel(hdc, x, y + t, ink);
      }
    }
  }
  RECT label{box.right + 4, rc.top, rc.right, rc.bottom};
  DrawText(hdc, text, -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (GetFocus() == hwnd && text[0]) {
    RECT focus = label;
    DrawText(hdc, text, -1, &focus, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_CALCRECT);
    int h = focus.bottom - focus.top;
    focus.top = rc.top + (rc.bottom - rc.top - h) / 2;
    focus.bottom = focus.top + h;
    InflateRect(&focus, 1, 0);
    DrawFocusRect(hdc, &focus);
  }
  SelectObject(hdc, oldFont);
}

// An automatic radio button that gets checked takes the check from the others of its group.
void UncheckGroup(HWND hwnd) {
  HWND parent = GetParent(hwnd);
  if (!parent) return;
  HWND h = hwnd;
  for (int n = 0; n < 256; ++n) {
    h = GetNextDlgGroupItem(parent, h, FALSE);
    if (!h || h == hwnd) break;
    if (TypeOf(h) == BS_AUTORADIOBUTTON) SendMessage(h, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

// What a click does: automatic boxes change their check, then the parent hears BN_CLICKED.
void Clicked(HWND hwnd) {
  DWORD type = TypeOf(hwnd);
  if (type == BS_AUTOCHECKBOX) SendMessage(hwnd, BM_SETCHECK, (ButtonState(hwnd) & kCheckMask) ? 0 : 1, 0);
  if (type == BS_AUTO3STATE) SendMessage(hwnd, BM_SETCHECK, ((ButtonState(hwnd) & kCheckMask) + 1) % 3, 0);
  if (type == BS_AUTORADIOBUTTON) {
    SendMessage(hwnd, BM_SETCHECK, 1, 0);
    UncheckGroup(hwnd);
  }
  tavrin::controls::detail::CommandToParent(hwnd, BN_CLICKED);
}

void PaintButton(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  uintptr_t state = ButtonState(hwnd);
  DWORD style = StyleOf(hwnd);
  if ((style & BS_TYPEMASK) == BS_OWNERDRAW) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
    item.itemAction = ODA_DRAWENTIRE;
    if (state & BST_PUSHED) item.itemState |= ODS_SELECTED;
    if (GetFocus() == hwnd) item.itemState |= ODS_FOCUS;
    if (!IsWindowEnabled(hwnd)) item.itemState |= ODS_DISABLED;
    item.hwndItem = hwnd;
    item.hDC = hdc;
    item.rcItem = rc;
    if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
  } else if ((IsCheckType(style & BS_TYPEMASK) && !(style & BS_PUSHLIKE)) || (style & BS_TYPEMASK) == BS_GROUPBOX) {
    PaintCheckOrGroup(hwnd, hdc, rc, style, state);
  } else {
    FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      FrameRect(hdc, &rc, GetSysColorBrush(COLOR_WINDOWFRAME));
      InflateRect(&rc, -1, -1);
    }
    bool down = (state & BST_PUSHED) || (IsCheckType(style & BS_TYPEMASK) && (state & kCheckMask));
    DrawEdge(hdc, &rc, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    char text[256] = {};
    GetWindowText(hwnd, text, sizeof text);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, GetSysColor(IsWindowEnabled(hwnd) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    HGDIOBJ old = SelectObject(hdc, FontOf(hwnd));
    DrawText(hdc, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (GetFocus() == hwnd) {
      RECT focus = rc;
      InflateRect(&focus, -3, -3);
      DrawFocusRect(hdc, &focus);
    }
    SelectObject(hdc, old);
  }
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case BM_GETCHECK:
      return static_cast<LRESULT>(ButtonState(hwnd) & kCheckMask);
    case BM_SETCHECK:
      SetButtonState(hwnd, (ButtonState(hwnd) & ~kCheckMask) | (wParam & kCheckMask));
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case BM_GETSTATE:
      return static_cast<LRESULT>(ButtonState(hwnd) & 0xFF);
    case BM_SETSTATE: {
      uintptr_t state = ButtonState(hwnd);
      SetButtonState(hwnd, wParam ? (state | BST_PUSHED) : (state & ~static_cast<uintptr_t>(BST_PUSHED)));
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case BM_SETSTYLE: {
      DWORD style = StyleOf(hwnd);
      SetWindowLongPtr(hwnd, GWL_STYLE, static_cast<LONG_PTR>((style & ~0xFFFFul) | (wParam & 0xFFFF)));
      if (LOWORD(static_cast<uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_PAINT:
      PaintButton(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(hwnd);
      SetCapture(hwnd);
      SendMessage(hwnd, BM_SETSTATE, TRUE, 0);
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == hwnd) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        bool over = PtInRect(&rc, p);
        if (over != ((ButtonState(hwnd) & BST_PUSHED) != 0)) SendMessage(hwnd, BM_SETSTATE, over, 0);
      }
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() == hwnd) {
        ReleaseCapture();
        bool pushed = (ButtonState(hwnd) & BST_PUSHED) != 0;
        SendMessage(hwnd, BM_SETSTATE, FALSE, 0);
        RECT rc;
        GetClientRect(hwnd, &rc);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (pushed && PtInRect(&rc, p)) Clicked(hwnd);
      }
      return 0;
    case BM_CLICK:
      if (IsWindowEnabled(hwnd)) Clicked(hwnd);
      return 0;
    case WM_NCHITTEST:
      if (TypeOf(hwnd) == BS_GROUPBOX) return HTTRANSPARENT;  // the controls it frames take the mouse
      break;
    case WM_GETDLGCODE:
      switch (TypeOf(hwnd)) {
        case BS_DEFPUSHBUTTON: return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_PUSHBUTTON:
        case BS_OWNERDRAW: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX: return DLGC_STATIC;
        default: return DLGC_BUTTON;
      }
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) {
        SendMessage(hwnd, BM_SETSTATE, TRUE, 0);
        return 0;
      }
      break;
    case WM_KEYUP:
      if (wParam == VK_SPACE && (ButtonState(hwnd) & BST_PUSHED)) {
        SendMessage(hwnd, BM_SETSTATE, FALSE, 0);
        Clicked(hwnd);
        return 0;
      }
      break;
    case WM_SETFONT:
      SetProp(hwnd, kFontProp, reinterpret_cast<HANDLE>(wParam));
      if (LOWORD(static_cast<uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetProp(hwnd, kFontProp));
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_NCDESTROY:
      RemoveProp(hwnd, kStateProp);
      RemoveProp(hwnd, kFontProp);
      break;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return TRUE;
  if (message == WM_GETDLGCODE) return DLGC_STATIC;
  // A label (or a frame another window is put over) lets the mouse through to the window beneath.
  if (message == WM_NCHITTEST && !(StyleOf(hwnd) & SS_NOTIFY)) return HTTRANSPARENT;
  if (message == WM_SETFONT) {
    SetProp(hwnd, kFontProp, reinterpret_cast<HANDLE>(wParam));
    if (LOWORD(static_cast<uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, TRUE);
    return 0;
  }
  if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(GetProp(hwnd, kFontProp));
  if (message == WM_NCDESTROY) RemoveProp(hwnd, kFontProp);
  if (message == WM_SETTEXT) {
    LRESULT r = DefWindowProc(hwnd, message, wParam, lParam);
    InvalidateRect(hwnd, nullptr, TRUE);
    return r;
  }
  if (message != WM_PAINT) return DefWindowProc(hwnd, message, wParam, lParam);
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(hdc, GetSysColor(COLOR_BTNFACE));
  HBRUSH brush = nullptr;
  if (HWND parent = GetParent(hwnd)) {
    brush = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  }
  FillRect(hdc, &rc, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
  char text[512] = {};
  GetWindowText(hwnd, text, sizeof text);
  DWORD style = StyleOf(hwnd);
  UINT align = (style & 3) == SS_CENTER ? DT_CENTER : (style & 3) == SS_RIGHT ? DT_RIGHT : DT_LEFT;
  HFONT font = reinterpret_cast<HFONT>(SendMessage(hwnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(hdc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  DrawText(hdc, text, -1, &rc, align | DT_WORDBREAK);
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
  return 0;
}

bool Visible(HWND hwnd) { return IsWindowVisible(hwnd) && IsWindowEnabled(hwnd); }
bool StartsGroup(HWND hwnd) { return (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_GROUP) != 0; }

}  // namespace

HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
  if (!dialog || !control || GetParent(control) != dialog) return nullptr;
  // The group: from its WS_GROUP start up to the next start.
  HWND start = control;
  while (!StartsGroup(start)) {
    HWND prev = GetWindow(start, GW_HWNDPREV);
    if (!prev) break;
    start = prev;
  }
  std::vector<HWND> group;
  for (HWND h = start; h; h = GetWindow(h, GW_HWNDNEXT)) {
    if (h != start && StartsGroup(h)) break;
    group.push_back(h);
  }
  size_t at = 0;
  while (at < group.size() && group[at] != control) ++at;
  if (at == group.size()) return control;
  for (size_t step = 1; step < group.size(); ++step) {
    size_t i = previous ? (at + group.size() - step) % group.size() : (at + step) % group.size();
    if (Visible(group[i])) return group[i];
  }
  return control;
}

namespace tavrin::controls {

void RegisterStandardControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    detail::RegisterControlClass("Button", ButtonProc, CS_DBLCLKS);
    detail::RegisterControlClass("Static", StaticProc);
    RegisterDialogControls();
  });
}

}  // namespace tavrin::controls

int CompareString(DWORD, DWORD, LPCSTR a, int lengthA, LPCSTR b, int lengthB) {
  if (!a || !b) return 0;
  std::string left = lengthA < 0 ? std::string(a) : std::string(a, static_cast<size_t>(lengthA));
  std::string right = lengthB < 0 ? std::string(b) : std::string(b, static_cast<size_t>(lengthB));
  int c = std::strcoll(left.c_str(), right.c_str());
  return c < 0 ? CSTR_LESS_THAN : c > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}
