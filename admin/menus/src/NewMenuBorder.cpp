// Popup menu windows: the procedure that subclasses them, and the styles' frames, backgrounds and soft
// shadows painted over a copy of the screen taken before the popup showed.
#include <algorithm>

#include "MenuPaint.h"
#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace {

constexpr char kOldMenuProc[] = "OldMenuProc";

CNewMenu* AsNewMenu(HMENU menu) { return dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(menu)); }

using newmenu_paint::Fill;

bool HighContrast() { return GetNewMenuGlobalState().m_bHighContrast != FALSE; }

// A one-pixel outline of the rectangle at (x, y) with that width and height.
void Outline(HDC dc, int x, int y, int width, int height, COLORREF colour) {
  if (width <= 0 || height <= 0) return;
  Fill(dc, RECT{x, y, x + width, y + 1}, colour);
  Fill(dc, RECT{x, y + height - 1, x + width, y + height}, colour);
  Fill(dc, RECT{x, y, x + 1, y + height}, colour);
  Fill(dc, RECT{x + width - 1, y, x + width, y + height}, colour);
}

// The window's size and its client rectangle in window coordinates.
void WindowGeometry(HWND hwnd, int* width, int* height, RECT* client) {
  RECT window{};
  GetWindowRect(hwnd, &window);
  *width = window.right - window.left;
  *height = window.bottom - window.top;
  GetClientRect(hwnd, client);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  OffsetRect(client, origin.x - window.left, origin.y - window.top);
}

bool SameNearest(HDC dc, COLORREF a, COLORREF b) { return GetNearestColor(dc, a) == GetNearestColor(dc, b); }

}  // namespace

BOOL GetMenuDropShadow() {
  BOOL on = FALSE;
  if (!SystemParametersInfo(SPI_GETDROPSHADOW, 0, &on, 0)) return FALSE;
  return on;
}

// Record.
CNewMenuWindowRecord::~CNewMenuWindowRecord() {
  SetUpdateRegion(reinterpret_cast<HRGN>(1));
  DropBackground();
}

void CNewMenuWindowRecord::SetUpdateRegion(HRGN region) {
  if (reinterpret_cast<ULONG_PTR>(updateRegion) > 1) DeleteObject(updateRegion);
  updateRegion = reinterpret_cast<HRGN>(1);
  if (reinterpret_cast<ULONG_PTR>(region) <= 1) return;
  HRGN copy = CreateRectRgn(0, 0, 0, 0);
  if (CombineRgn(copy, region, nullptr, RGN_COPY) == ERROR) {
    DeleteObject(copy);
    return;
  }
  updateRegion = copy;
}

void CNewMenuWindowRecord::DropBackground() {
  if (background) DeleteObject(background);
  background = nullptr;
}

// Style objects.
CNewMenuStyle::CNewMenuStyle(UINT id, Look look, BOOL bordered) : m_nId(id), m_look(look), m_bBordered(bordered) {
  if (!GetMenuDropShadow()) m_borderBottomRight = SIZE{5, 6};
}

BOOL CNewMenuStyle::PrepareWindow(HWND hwnd) {
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  if (!record || !record->draw || !m_bBordered) return FALSE;
  m_borderBottomRight = GetMenuDropShadow() ? SIZE{2, 2} : SIZE{5, 6};
  record->flags |= CNewMenuWindowRecord::kStyleChanged;
  SetWindowLongPtr(hwnd, GWL_STYLE, GetWindowLongPtr(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_BORDER));
  SetWindowLongPtr(hwnd, GWL_EXSTYLE,
                   GetWindowLongPtr(hwnd, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE));
  return TRUE;
}

BOOL CNewMenuStyle::ReleaseWindow(HWND hwnd) {
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  if (!record) return TRUE;
  if (record->popup && record->menu && AsNewMenu(record->menu) == record->popup) record->popup->OnUnInitPopupMenu();
  if (record->flags & CNewMenuWindowRecord::kStyleChanged) {
    // A window that is showing keeps showing: the recorded style was taken before it was shown.
    const DWORD visible = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE)) & WS_VISIBLE;
    DWORD style = record->style | visible;
    if (record->flags & CNewMenuWindowRecord::kMadeOnSize) style |= WS_VISIBLE;
    SetLastError(0);
    if (!SetWindowLongPtr(hwnd, GWL_STYLE, static_cast<LONG_PTR>(style))) CNewMenuGlobalState::ShowLastError();
    SetLastError(0);
    if (!SetWindowLongPtr(hwnd, GWL_EXSTYLE, static_cast<LONG_PTR>(record->exStyle)))
      CNewMenuGlobalState::ShowLastError();
  }
  return TRUE;
}

BOOL CNewMenuStyle::EraseBackground(HWND hwnd, HDC dc) {
  RECT client;
  GetClientRect(hwnd, &client);
  client.left -= 2;
  if (m_bBordered) client.right -= 1;
  Fill(dc, client, GetSysColor(COLOR_MENU));
  return TRUE;
}

BOOL CNewMenuFlatStyle::EraseBackground(HWND hwnd, HDC dc) {
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  if (!record || !record->menu) return CNewMenuStyle::EraseBackground(hwnd, dc);
  RECT client;
  GetClientRect(hwnd, &client);
  client.left -= 2;
  if (IsBordered()) client.right -= 1;
  Fill(dc, client, CNewMenu::GetMenuBarColor(record->menu));
  return TRUE;
}

BOOL CNewMenuStyle::CalcSize(HWND, NCCALCSIZE_PARAMS* params) {
  if (!m_bBordered || !params) return FALSE;
  const bool shadow = GetMenuDropShadow() != FALSE;
  RECT& rect = params->rgrc[0];
  rect.left += m_borderTopLeft.cx;
  rect.top += m_borderTopLeft.cy;
  rect.right -= shadow ? 2 : 5;
  rect.bottom -= shadow ? 2 : 6;
  rect.right = std::max(rect.right, rect.left);
  rect.bottom = std::max(rect.bottom, rect.top);
  return FALSE;
}

BOOL CNewMenuStyle::PositionChanging(HWND, WINDOWPOS* pos) {
  if (!m_bBordered || !pos) return FALSE;
  if (!(pos->flags & SWP_NOSIZE)) {
    const int change = GetMenuDropShadow() ? -2 : 2;
    pos->cx += change;
    pos->cy += change;
  }
  if (!(pos->flags & SWP_NOMOVE)) pos->y -= 1;
  return TRUE;
}

BOOL CNewMenuStyle::GetFrameInnerRect(HWND hwnd, RECT* rect) {
  if (!rect || !GetWindowRect(hwnd, rect)) return FALSE;
  if (m_bBordered) {
    const int far = GetMenuDropShadow() ? 3 : 7;
    rect->left += 2;
    rect->top += 2;
    rect->right -= far;
    rect->bottom -= far;
  }
  return TRUE;
}

void CNewMenuStyle::SaveBackground(CNewMenuWindowRecord* record, HWND hwnd, HDC dc) {
  if (!record || record->background) return;
  int width = 0, height = 0;
  RECT client;
  WindowGeometry(hwnd, &width, &height, &client);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width + 10, height + 10);
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width + 10, height + 10, screen, record->lastPosition.x, record->lastPosition.y, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  record->background = bitmap;
}

void CNewMenuStyle::FillRing(HDC dc, const RECT& outer, RECT& inner, COLORREF colour) {
  inner.right -= 1;
  Fill(dc, RECT{outer.left, outer.top, outer.right, inner.top}, colour);
  Fill(dc, RECT{outer.left, inner.bottom, outer.right, outer.bottom}, colour);
  Fill(dc, RECT{outer.left, outer.top, inner.left, outer.bottom}, colour);
  Fill(dc, RECT{inner.right, outer.top, outer.right, outer.bottom}, colour);
}

void CNewMenuStyle::PaintSoftShadow(CNewMenuWindowRecord* record, HDC dc, int w, int h) {
  if (!record->background) return;
  HDC saved = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(saved, record->background);
  auto under = [&](int x, int y) { return GetPixel(saved, x, y); };
  // Set pixel by pixel off screen, then copied in two strips.
  HDC target = dc;
  HDC strips = CreateCompatibleDC(dc);
  HBITMAP stripBitmap = CreateCompatibleBitmap(dc, std::max(w, 1), std::max(h, 1));
  HGDIOBJ oldStrip = SelectObject(strips, stripBitmap);
  dc = strips;
  if (GetScreenColorCount() > 256) {
    for (int d = 1; d <= 4; ++d) {
      const int x = w - d;
      for (int row = 0; row < h; ++row) {
        long amount = 0;
        if (row >= 4 && row <= 7) amount = d * 6 * (row - 3);
        else if (row >= 8 && row <= h - 5) amount = d * 30;
        else if (row >= h - 4) amount = d * 6 * (h - row);
        SetPixel(dc, x, row, amount ? DarkenColor(amount, under(x, row)) : under(x, row));
      }
      const int y = h - d;
      for (int column = 0; column <= w - 5; ++column) {
        long amount = 0;
        if (column >= 4 && column <= 7) amount = (column - 3) * 6 * d;
        else if (column >= 8) amount = d * 30;
        SetPixel(dc, column, y, amount ? DarkenColor(amount, under(column, y)) : under(column, y));
      }
    }
  } else {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    for (int d = 1; d <= 4; ++d) {
      const int x = w - d, y = h - d;
      for (int row = 0; row < h; ++row) SetPixel(dc, x, row, d <= 2 || row < 4 || row > h - 3 ? under(x, row) : shadow);
      for (int column = 0; column <= w - 5; ++column)
        SetPixel(dc, column, y, d <= 2 || column < 4 ? under(column, y) : shadow);
    }
  }
  BitBlt(target, w - 4, 0, 4, h, strips, w - 4, 0, SRCCOPY);
  BitBlt(target, 0, h - 4, w - 4, 4, strips, 0, h - 4, SRCCOPY);
  SelectObject(strips, oldStrip);
  DeleteObject(stripBitmap);
  DeleteDC(strips);
  SelectObject(saved, old);
  DeleteDC(saved);
}

void CNewMenuStyle::JoinToBarItem(CNewMenuWindowRecord* record, HWND hwnd, HDC dc) {
  CNewMenu* popup = record->menu ? AsNewMenu(record->menu) : nullptr;
  CNewMenu* bar = popup ? AsNewMenu(popup->m_hParent) : nullptr;
  if (!bar || bar->m_bPopup) return;
  RECT window{}, shared{};
  GetWindowRect(hwnd, &window);
  if (!IntersectRect(&shared, &bar->m_lastBarItem, &window)) return;
  if (shared.right - shared.left > shared.bottom - shared.top)
    InflateRect(&shared, -1, 0);
  else
    InflateRect(&shared, 0, -1);
  OffsetRect(&shared, -window.left, -window.top);
  Fill(dc, shared,
            GetScreenColorCount() > 256 ? MixColors86(CNewMenu::GetMenuBarColor(record->menu), GetSysColor(COLOR_WINDOW))
                                        : GetSysColor(COLOR_BTNFACE));
}

BOOL CNewMenuStyle::PaintFrame(HWND hwnd, HDC dc, int phase) {
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  if (!record) return FALSE;
  SaveBackground(record, hwnd, dc);
  if (!m_bBordered) return FALSE;
  int w = 0, h = 0;
  RECT client;
  WindowGeometry(hwnd, &w, &h, &client);
  const COLORREF menu = CNewMenu::GetMenuColor(record->menu);
  const COLORREF line = GetSysColor(HighContrast() ? COLOR_BTNTEXT : COLOR_HIGHLIGHT);
  if (GetMenuDropShadow()) {
    if (phase == 0) FillRing(dc, RECT{1, 1, w - 2, h - 2}, client, menu);
    Outline(dc, 0, 0, w, h, line);
  } else {
    if (phase == 0) FillRing(dc, RECT{1, 1, w - 6, h - 6}, client, menu);
    Outline(dc, 0, 0, w - 4, h - 4, line);
    if (!HighContrast()) PaintSoftShadow(record, dc, w, h);
  }
  return TRUE;
}

BOOL CNewMenuFlatStyle::PaintFrame(HWND hwnd, HDC dc, int phase) {
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  if (!record) return FALSE;
  SaveBackground(record, hwnd, dc);
  if (!IsBordered()) return FALSE;
  int w = 0, h = 0;
  RECT client;
  WindowGeometry(hwnd, &w, &h, &client);
  const COLORREF c = CNewMenu::GetMenuColor(record->menu);
  const COLORREF W = GetSysColor(COLOR_WINDOW);
  COLORREF inner = MixColors86(W, c);
  const COLORREF border = DarkenColor(128, c);
  COLORREF band = GetScreenColorCount() > 256 ? MixColors86(c, W) : GetSysColor(COLOR_BTNFACE);
  if (SameNearest(dc, inner, band)) {
    inner = W;
    band = c;
  }
  const bool shadow = GetMenuDropShadow() != FALSE;
  const int reserve = shadow ? 0 : 4;
  if (phase == 0) FillRing(dc, RECT{1, 1, w - 2 - reserve, h - 2 - reserve}, client, inner);
  if (HighContrast()) {
    Outline(dc, 0, 0, w - reserve, h - reserve, GetSysColor(COLOR_BTNTEXT));
  } else {
    Outline(dc, 0, 0, w - reserve, h - reserve, border);
    Outline(dc, 1, 1, w - 2 - reserve, h - 2 - reserve, inner);
    Fill(dc, RECT{1, 2, 2, 2 + h - 4 - reserve}, band);
    if (!shadow) PaintSoftShadow(record, dc, w, h);
  }
  JoinToBarItem(record, hwnd, dc);
  return TRUE;
}

// The procedure of subclassed popup menu windows.
LRESULT CALLBACK NewMenuWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The window's own procedure is read before a detach below takes the property away.
  const auto old = reinterpret_cast<WNDPROC>(GetProp(hwnd, kOldMenuProc));
  auto previous = [&](WPARAM w, LPARAM l) {
    return old ? CallWindowProc(old, hwnd, message, w, l) : DefWindowProc(hwnd, message, w, l);
  };
  CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd);
  CNewMenuStyle* style = GetNewMenuGlobalState().m_pCurrentStyle;
  if (!record || !style || !record->draw) {
    if (record && (message == WM_NCDESTROY || (message == WM_SHOWWINDOW && !wParam))) DetachMenuWindow(hwnd);
    return previous(wParam, lParam);
  }
  switch (message) {
    case WM_NCCALCSIZE:
      if (style->CalcSize(hwnd, reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam))) return 0;
      break;
    case WM_ERASEBKGND:
      if (style->IsBordered() && !(record->flags & CNewMenuWindowRecord::kPrinting) && !record->painted) {
        record->painted = TRUE;
        SendMessage(hwnd, WM_NCPAINT, 1, 0);
      }
      if (style->EraseBackground(hwnd, reinterpret_cast<HDC>(wParam))) return 1;
      break;
    case WM_SHOWWINDOW:
      if (!wParam) DetachMenuWindow(hwnd);
      break;
    case WM_NCDESTROY:
      DetachMenuWindow(hwnd);
      break;
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!pos) break;
      if (message == WM_WINDOWPOSCHANGING) style->PositionChanging(hwnd, pos);
      if (pos->flags & SWP_NOMOVE) break;
      const POINT now{pos->x, pos->y};
      if (record->lastPosition.x == 0 && record->lastPosition.y == 0) {
        record->lastPosition = now;
      } else if (record->lastPosition.x != now.x || record->lastPosition.y != now.y) {
        if (pos->flags & SWP_NOSIZE) {
          record->lastPosition = now;
          record->DropBackground();  // taken again at the next painting
        } else {
          DetachMenuWindow(hwnd);
        }
      }
      break;
    }
    case WM_NCPAINT: {
      if (!record->painted && reinterpret_cast<HRGN>(wParam) != record->updateRegion)
        record->SetUpdateRegion(reinterpret_cast<HRGN>(wParam));
      const bool printing = (record->flags & CNewMenuWindowRecord::kPrinting) != 0;
      bool ran = false;
      HDC dc = GetWindowDC(hwnd);
      if (record->painted && style->IsBordered()) {
        RECT inner;
        if (style->PaintFrame(hwnd, dc, 0) && style->GetFrameInnerRect(hwnd, &inner)) {
          InflateRect(&inner, -1, -1);
          HRGN clip = CreateRectRgnIndirect(&inner);
          if (!printing) previous(reinterpret_cast<WPARAM>(clip), lParam);
          DeleteObject(clip);
          ran = true;
          style->PaintFrame(hwnd, dc, 1);
        }
      } else if (style->IsBordered()) {
        style->SaveBackground(record, hwnd, dc);
      }
      ReleaseDC(hwnd, dc);
      if (ran || printing) return 0;
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) record->flags |= CNewMenuWindowRecord::kEscape;
      GetNewMenuGlobalState().m_lastMessagePos = GetMessagePos();
      break;
    case WM_PRINT: {
      if (!style->IsBordered()) break;
      record->flags |= CNewMenuWindowRecord::kPrinting;
      HDC target = reinterpret_cast<HDC>(wParam);
      int w = 0, h = 0;
      RECT client;
      WindowGeometry(hwnd, &w, &h, &client);
      HDC memory = CreateCompatibleDC(target);
      HBITMAP bitmap = CreateCompatibleBitmap(target, std::max(w, 1), std::max(h, 1));
      HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
      style->PaintFrame(hwnd, memory, 0);
      RECT inner, window;
      if (style->GetFrameInnerRect(hwnd, &inner) && GetWindowRect(hwnd, &window)) {
        OffsetRect(&inner, -window.left, -window.top);
        HRGN clip = CreateRectRgnIndirect(&inner);
        SelectClipRgn(memory, clip);
        previous(reinterpret_cast<WPARAM>(memory), lParam & ~static_cast<LPARAM>(PRF_NONCLIENT));
        SelectClipRgn(memory, nullptr);
        DeleteObject(clip);
      }
      BitBlt(target, 0, 0, w, h, memory, 0, 0, SRCCOPY);
      SendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
      SendMessage(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), lParam);
      BitBlt(target, client.left, client.top, client.right - client.left - 1, client.bottom - client.top, memory, 0, 0,
             SRCCOPY);
      SelectObject(memory, oldBitmap);
      DeleteObject(bitmap);
      DeleteDC(memory);
      if (CNewMenuWindowRecord* still = FindMenuWindowRecord(hwnd)) still->flags &= ~CNewMenuWindowRecord::kPrinting;
      return 0;
    }
    default:
      break;
  }
  return previous(wParam, lParam);
}
