#include "controls/tree_header.h"

#include <algorithm>
#include <set>

IMPLEMENT_DYNAMIC(COXTreeHeader, CHeaderCtrl)

namespace {

// One hook for all headers of the process; it stays while any header uses it.
HHOOK g_hook = nullptr;
int g_hookUsers = 0;
HWND g_lastMouseWindow = nullptr;
std::set<COXTreeHeader*>& Headers() {
  static std::set<COXTreeHeader*> headers;
  return headers;
}

COXTreeHeader* HeaderAt(HWND hwnd) {
  for (int step = 0; step < 2 && hwnd; ++step, hwnd = ::GetParent(hwnd)) {
    for (COXTreeHeader* header : Headers()) {
      if (header->GetSafeHwnd() == hwnd) return header;
    }
  }
  return nullptr;
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code < 0) return ::CallNextHookEx(g_hook, code, wParam, lParam);
  if (code == HC_ACTION && wParam == WM_MOUSEMOVE && lParam) {
    HWND now = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam)->hwnd;
    COXTreeHeader* before = HeaderAt(g_lastMouseWindow);
    COXTreeHeader* after = HeaderAt(now);
    if (before != after) {
      if (after) after->Invalidate();
      if (before) before->Invalidate();
    }
    g_lastMouseWindow = now;
  }
  return ::CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

HHOOK COXTreeHeader::HookHandle() { return g_hook; }

COXTreeHeader::~COXTreeHeader() {
  ReleaseHook();
  Headers().erase(this);
}

const mfc::MessageMap* COXTreeHeader::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&COXTreeHeader::OnDestroy>(WM_DESTROY),
      mfc::OnMessage<&COXTreeHeader::OnLButtonDown>(WM_LBUTTONDOWN),
      mfc::OnMessage<&COXTreeHeader::OnLButtonUp>(WM_LBUTTONUP),
      mfc::OnMessage<&COXTreeHeader::OnLButtonDblClk>(WM_LBUTTONDBLCLK),
  };
  static const mfc::MessageMap map{CHeaderCtrl::GetMessageMap(), entries};
  return &map;
}

void COXTreeHeader::PreSubclassWindow() {
  CHeaderCtrl::PreSubclassWindow();
  Headers().insert(this);
  if (!m_bHookUser) {
    if (!g_hook) g_hook = ::SetWindowsHookEx(WH_MOUSE, MouseHookProc, nullptr, ::GetCurrentThreadId());
    m_bHookUser = true;
    ++g_hookUsers;
  }
}

void COXTreeHeader::ReleaseHook() {
  if (!m_bHookUser) return;
  m_bHookUser = false;
  // Removed with the last header that uses it, not the first to go.
  if (--g_hookUsers == 0 && g_hook) {
    ::UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_lastMouseWindow = nullptr;
  }
}

LRESULT COXTreeHeader::OnDestroy(WPARAM wParam, LPARAM lParam) {
  ReleaseHook();
  Headers().erase(this);
  return DefWindowProc(WM_DESTROY, wParam, lParam);
}

LRESULT COXTreeHeader::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
  Invalidate();
  HWND parent = ::GetParent(m_hWnd);
  if (parent && ::GetFocus() != parent) ::SetFocus(parent);
  m_bLButtonDown = TRUE;
  return DefWindowProc(WM_LBUTTONDOWN, wParam, lParam);
}

LRESULT COXTreeHeader::OnLButtonUp(WPARAM wParam, LPARAM lParam) {
  LRESULT r = DefWindowProc(WM_LBUTTONUP, wParam, lParam);
  m_bLButtonDown = FALSE;
  return r;
}

LRESULT COXTreeHeader::OnLButtonDblClk(WPARAM wParam, LPARAM lParam) {
  HDHITTESTINFO hit{{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, 0, -1};
  SendMessage(HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if ((hit.flags & HHT_ONDIVIDER) && hit.iItem >= 0 && hit.iItem < GetItemCount()) {
    if (HWND parent = ::GetParent(m_hWnd)) ::SendMessage(parent, WM_OXTREE_OPTIMALWIDTH, static_cast<WPARAM>(hit.iItem), 0);
    return 0;
  }
  return DefWindowProc(WM_LBUTTONDBLCLK, wParam, lParam);
}

BOOL COXTreeHeader::SortColumn(int col, int direction) {
  if (col == -1 || col == -2) direction = 0;
  if (col != m_nSortCol && m_nSortCol >= 0 && m_hWnd) {
    HDITEM old{};
    old.mask = HDI_FORMAT;
    if (GetItem(m_nSortCol, &old)) {
      old.fmt = (old.fmt & ~HDF_OWNERDRAW) | HDF_STRING;
      SetItem(m_nSortCol, &old);
    }
  }
  if (direction != 0 && col >= 0 && m_hWnd) {
    HDITEM item{};
    item.mask = HDI_FORMAT;
    if (GetItem(col, &item)) {
      item.fmt |= HDF_OWNERDRAW;
      SetItem(col, &item);
    }
  }
  if (m_hWnd) Invalidate();
  m_nSortCol = col;
  m_nSortOrder = direction;
  return TRUE;
}

void COXTreeHeader::DrawItem(LPDRAWITEMSTRUCT di) {
  if (!di) return;
  HDC hdc = di->hDC;
  CRect rc(di->rcItem);
  const int saved = ::SaveDC(hdc);
  ::IntersectClipRect(hdc, rc.left, rc.top, rc.right, rc.bottom);
  ::FillRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
  SIZE space{0, 0};
  ::GetTextExtentPoint32(hdc, " ", 1, &space);
  const int u = 2 * space.cx;
  char text[256] = {};
  HDITEM item{};
  item.mask = HDI_TEXT | HDI_FORMAT;
  item.pszText = text;
  item.cchTextMax = 255;
  GetItem(static_cast<int>(di->itemID), &item);
  UINT flags = DT_END_ELLIPSIS | DT_NOPREFIX | DT_NOCLIP | DT_SINGLELINE | DT_VCENTER;
  if (item.fmt & HDF_CENTER) flags |= DT_CENTER;
  else if (item.fmt & HDF_RIGHT) flags |= DT_RIGHT;
  CRect textRect(rc);
  if (di->itemState & ODS_SELECTED) {
    textRect.left += 1;
    textRect.right += 1;
    textRect.top += 2;
  }
  if (static_cast<int>(di->itemID) == m_nSortCol) textRect.right -= 3 * u;
  textRect.DeflateRect(u, 0);
  if (text[0]) {
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, ::GetSysColor(COLOR_BTNTEXT));
    ::DrawText(hdc, text, -1, &textRect, flags);
  }
  if (static_cast<int>(di->itemID) == m_nSortCol && m_nSortOrder != 0) {
    const int R = rc.right, B = rc.bottom;
    HPEN light = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT));
    HPEN shadow = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ old = ::SelectObject(hdc, light);
    if (m_nSortOrder > 0) {
      ::MoveToEx(hdc, R - 2 * u, u - 1, nullptr);
      ::LineTo(hdc, R - 3 * u / 2, B - u);
      ::LineTo(hdc, R - 5 * u / 2 - 2, B - u);
      ::SelectObject(hdc, shadow);
      ::MoveToEx(hdc, R - 5 * u / 2 - 1, B - u - 1, nullptr);
      ::LineTo(hdc, R - 2 * u, u - 2);
    } else {
      ::MoveToEx(hdc, R - 3 * u / 2, u - 1, nullptr);
      ::LineTo(hdc, R - 2 * u - 1, B - u + 1);
      ::SelectObject(hdc, shadow);
      ::MoveToEx(hdc, R - 2 * u - 1, B - u, nullptr);
      ::LineTo(hdc, R - 5 * u / 2 - 1, u - 1);
      ::LineTo(hdc, R - 3 * u / 2, u - 1);
    }
    ::SelectObject(hdc, old);
    ::DeleteObject(light);
    ::DeleteObject(shadow);
  }
  ::RestoreDC(hdc, saved);
}
