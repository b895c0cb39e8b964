// The tab control: its items live in a state object hung on the window as a property.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "comctl_internal.h"
#include "win32/comctl.h"
#include "win32/controls.h"
#include "win32/gdi.h"
#include "win32/imagelist.h"
#include "win32/user_draw.h"

namespace {

using tavrin::controls::detail::DefControlProc;
using tavrin::controls::detail::NotifyParent;
using tavrin::controls::detail::StateOf;

constexpr char kTabProp[] = "TavrinTabState";
constexpr int kTabHeight = 20;
constexpr int kTabTop = 2;
constexpr int kTabPad = 12;

struct Tab {
  std::string text;
  int image = -1;
  LPARAM param = 0;
};

struct TabState {
  std::vector<Tab> tabs;
  int selected = -1;
  HIMAGELIST images = nullptr;
  HFONT font = nullptr;
  DWORD exStyle = 0;
};

bool AtBottom(HWND hwnd) { return (GetWindowLongPtr(hwnd, GWL_STYLE) & TCS_BOTTOM) != 0; }

// Tab rectangles from the captions' widths in the control's font (along the bottom with TCS_BOTTOM).
std::vector<RECT> Layout(HWND hwnd, const TabState& s) {
  std::vector<RECT> rects;
  RECT client;
  GetClientRect(hwnd, &client);
  const int top = AtBottom(hwnd) ? client.bottom - kTabTop - kTabHeight : kTabTop;
  HDC hdc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  int x = 2;
  for (const Tab& tab : s.tabs) {
    SIZE size{0, 0};
    GetTextExtentPoint32(hdc, tab.text.c_str(), static_cast<int>(tab.text.size()), &size);
    int width = size.cx + kTabPad + (s.images ? 19 : 0);
    rects.push_back(RECT{x, top, x + width, top + kTabHeight});
    x += width;
  }
  SelectObject(hdc, old);
  ReleaseDC(hwnd, hdc);
  return rects;
}

void Paint(HWND hwnd, TabState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(hdc, &client, GetSysColorBrush(COLOR_BTNFACE));
  const bool bottom = AtBottom(hwnd);
  RECT frame = client;
  if (bottom) frame.bottom -= kTabTop + kTabHeight;
  else frame.top = kTabTop + kTabHeight;
  DrawEdge(hdc, &frame, EDGE_RAISED, BF_RECT);
  std::vector<RECT> rects = Layout(hwnd, s);
  const bool owner = (GetWindowLongPtr(hwnd, GWL_STYLE) & TCS_OWNERDRAWFIXED) != 0;
  HGDIOBJ old = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 0; i < rects.size(); ++i) {
    const bool selected = static_cast<int>(i) == s.selected;
    RECT rc = rects[i];
    if (selected) InflateRect(&rc, 2, 2);
    if (owner) {
      DRAWITEMSTRUCT item{};
      item.CtlType = ODT_TAB;
      item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
      item.itemID = static_cast<UINT>(i);
      item.itemAction = ODA_DRAWENTIRE;
      item.itemState = selected ? ODS_SELECTED : 0;
      item.hwndItem = hwnd;
      item.hDC = hdc;
      item.rcItem = rc;
      item.itemData = static_cast<ULONG_PTR>(s.tabs[i].param);
      if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
      continue;
    }
    if (bottom && selected) {
      RECT join{rc.left + 1, rc.top, rc.right - 1, rc.top + 2};  // the selected tab opens into the frame
      FillRect(hdc, &join, GetSysColorBrush(COLOR_BTNFACE));
    }
    DrawEdge(hdc, &rc, EDGE_RAISED, bottom ? BF_LEFT | BF_BOTTOM | BF_RIGHT : BF_LEFT | BF_TOP | BF_RIGHT);
    RECT text = rc;
    if (s.images && s.tabs[i].image >= 0) {
      ImageList_Draw(s.images, s.tabs[i].image, hdc, text.left + 4, text.top + 2, ILD_TRANSPARENT);
      text.left += 19;
    }
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
    DrawText(hdc, s.tabs[i].text.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  SelectObject(hdc, old);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK TabProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TabState* s = StateOf<TabState>(hwnd, kTabProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case TCM_GETITEMCOUNT:
      return static_cast<LRESULT>(s->tabs.size());
    case TCM_INSERTITEM: {
      auto* item = reinterpret_cast<const TCITEM*>(lParam);
      if (!item) return -1;
      Tab tab;
      if ((item->mask & TCIF_TEXT) && item->pszText) tab.text = item->pszText;
      if (item->mask & TCIF_IMAGE) tab.image = item->iImage;
      if (item->mask & TCIF_PARAM) tab.param = item->lParam;
      size_t at = std::min(static_cast<size_t>(wParam), s->tabs.size());
      s->tabs.insert(s->tabs.begin() + static_cast<ptrdiff_t>(at), tab);
      if (s->selected < 0) s->selected = 0;
      else if (static_cast<int>(at) <= s->selected && s->tabs.size() > 1) ++s->selected;
      InvalidateRect(hwnd, nullptr, TRUE);
      return static_cast<LRESULT>(at);
    }
    case TCM_GETITEM:
    case TCM_SETITEM: {
      auto* item = reinterpret_cast<TCITEM*>(lParam);
      if (!item || wParam >= s->tabs.size()) return FALSE;
      Tab& tab = s->tabs[wParam];
      if (message == TCM_SETITEM) {
        if ((item->mask & TCIF_TEXT) && item->pszText) tab.text = item->pszText;
        if (item->mask & TCIF_IMAGE) tab.image = item->iImage;
        if (item->mask & TCIF_PARAM) tab.param = item->lParam;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
      }
      if ((item->mask & TCIF_TEXT) && item->cchTextMax > 0) {
        tavrin::controls::detail::CopyOut(tab.text, item->pszText, static_cast<size_t>(item->cchTextMax));
      }
      if (item->mask & TCIF_IMAGE) item->iImage = tab.image;
      if (item->mask & TCIF_PARAM) item->lParam = tab.param;
      return TRUE;
    }
    case TCM_DELETEITEM:
      if (wParam >= s->tabs.size()) return FALSE;
      s->tabs.erase(s->tabs.begin() + static_cast<ptrdiff_t>(wParam));
      if (s->selected >= static_cast<int>(s->tabs.size())) s->selected = static_cast<int>(s->tabs.size()) - 1;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case TCM_DELETEALLITEMS:
      s->tabs.clear();
      s->selected = -1;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case TCM_GETITEMRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || wParam >= s->tabs.size()) return FALSE;
      *rect = Layout(hwnd, *s)[wParam];
      return TRUE;
    }
    case TCM_GETCURSEL:
      return s->selected;
    case TCM_SETCURSEL: {
      int old = s->selected;
      if (wParam >= s->tabs.size()) return -1;
      s->selected = static_cast<int>(wParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return old;
    }
    case TCM_ADJUSTRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect) return 0;
      const int band = kTabTop + kTabHeight + 2;
      const bool bottom = AtBottom(hwnd);
      const int sign = wParam ? -1 : 1;  // wParam: display area to window
      rect->left += sign * 4, rect->right -= sign * 4;
      rect->top += sign * (bottom ? 4 : band);
      rect->bottom -= sign * (bottom ? band : 4);
      return 0;
    }
    case TCM_GETIMAGELIST:
      return reinterpret_cast<LRESULT>(s->images);
    case TCM_SETIMAGELIST: {
      HIMAGELIST old = s->images;
      s->images = reinterpret_cast<HIMAGELIST>(lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return reinterpret_cast<LRESULT>(old);
    }
    case TCM_SETEXTENDEDSTYLE: {
      DWORD old = s->exStyle;
      DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
      s->exStyle = (s->exStyle & ~mask) | (static_cast<DWORD>(lParam) & mask);
      return old;
    }
    case TCM_GETEXTENDEDSTYLE:
      return s->exStyle;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_NCHITTEST: {
      // Only the tabs take the mouse: the display area belongs to the pages put over it.
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(hwnd, &p);
      const std::vector<RECT> rects = Layout(hwnd, *s);
      const bool onTab = std::any_of(rects.begin(), rects.end(), [&](const RECT& tab) { return PtInRect(&tab, p); });
      return onTab ? HTCLIENT : HTTRANSPARENT;
    }
    case WM_LBUTTONDOWN: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      std::vector<RECT> rects = Layout(hwnd, *s);
      for (size_t i = 0; i < rects.size(); ++i) {
        if (PtInRect(&rects[i], p) && static_cast<int>(i) != s->selected) {
          NotifyParent(hwnd, TCN_SELCHANGING);
          s->selected = static_cast<int>(i);
          InvalidateRect(hwnd, nullptr, TRUE);
          NotifyParent(hwnd, TCN_SELCHANGE);
          break;
        }
      }
      return 0;
    }
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kTabProp, s, Paint);
}

}  // namespace

namespace tavrin::controls {

void RegisterTabControl() {
  static std::once_flag once;
  std::call_once(once, [] {
    detail::RegisterControlClass(WC_TABCONTROL, TabProc);
  });
}

}  // namespace tavrin::controls
