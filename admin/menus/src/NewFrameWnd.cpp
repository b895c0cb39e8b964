// The main frame's base and the menu-bar services of the host frames: the bar's background, drawing one
// bar item in a state, and hot tracking where the system does not track bar items itself.
#include "admin/menus/NewFrameWnd.h"

#include <algorithm>

#include "mfc/multidoc.h"
#include "win32/windows.h"

IMPLEMENT_DYNCREATE(CNewFrameWnd, CFrameWnd)

namespace {

CNewMenu* AsNewMenu(HMENU menu) { return menu ? dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(menu)) : nullptr; }

// Painting colours: 256 or more, outside high contrast, gets the pattern.
bool RichColours() { return GetScreenColorCount() >= 256 && !GetNewMenuGlobalState().m_bHighContrast; }

}  // namespace

HBRUSH CreateMenuPatternBrush(COLORREF colour) {
  const int width = (GetSystemMetrics(SM_CXFULLSCREEN) + 16) & ~7;
  const int height = 20;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  DrawGradient(memory, RECT{0, 0, width, height}, colour, LightenColor(110, colour), TRUE, TRUE);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  HBRUSH brush = CreatePatternBrush(bitmap);
  DeleteObject(bitmap);  // the brush keeps its own copy
  return brush;
}

HBRUSH GetMenuBackgroundBrush() {
  CNewMenuStyle* style = GetNewMenuGlobalState().m_pCurrentStyle;
  if (!style) return nullptr;
  switch (style->GetId()) {
    case 2:
    case 3:
      return CNewMenuBrushCache::Instance().GetBrush(2, GetSysColor(COLOR_BTNFACE));
    case 8:
    case 9:
      return CNewMenuBrushCache::Instance().GetBrush(RichColours() ? 8 : 2, CNewMenu::GetBlendBarColor());
    default:
      return nullptr;
  }
}

void SetMenuBarBackground(HMENU menu) {
  HBRUSH brush = GetMenuBackgroundBrush();
  if (!brush) return;
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  info.hbrBack = brush;
  if (AsNewMenu(menu)) ::SetMenuInfo(menu, &info);
  // The shared menus of the multi-document templates are bars too.
  CWinApp* app = AfxGetApp();
  if (!app) return;
  for (POSITION at = app->GetFirstDocTemplatePosition(); at;)
    if (auto* multi = dynamic_cast<CMultiDocTemplate*>(app->GetNextDocTemplate(at)))
      if (AsNewMenu(multi->m_hMenuShared)) ::SetMenuInfo(multi->m_hMenuShared, &info);
}

BOOL DrawMenuBarItem(HWND hwnd, int position, UINT state) {
  HMENU menu = ::GetMenu(hwnd);
  RECT rect{};
  if (!menu || position < 0 || !::GetMenuItemRect(hwnd, menu, static_cast<UINT>(position), &rect)) return FALSE;
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA | MIIM_TYPE | MIIM_ID;
  if (!::GetMenuItemInfo(menu, static_cast<UINT>(position), TRUE, &info) || !(info.fType & MFT_OWNERDRAW))
    return FALSE;
  RECT window{};
  ::GetWindowRect(hwnd, &window);
  OffsetRect(&rect, -window.left, -window.top);
  HDC dc = ::GetWindowDC(hwnd);
  if (!dc) return FALSE;
  NONCLIENTMETRICS metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfo(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = ::CreateFontIndirect(&metrics.lfMenuFont);
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  DRAWITEMSTRUCT draw{ODT_MENU, 0, info.wID, ODA_DRAWENTIRE, state, reinterpret_cast<HWND>(menu), dc, rect,
                      info.dwItemData};
  GetNewMenuGlobalState().m_pHotBarItem = reinterpret_cast<void*>(info.dwItemData);
  ::SendMessage(hwnd, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
  // The font made for the item and the window's DC go back when it is drawn.
  ::SelectObject(dc, oldFont);
  ::DeleteObject(font);
  ::ReleaseDC(hwnd, dc);
  return TRUE;
}

LRESULT TrackMenuBarHotItem(HWND hwnd, LRESULT hit, POINT screen, BOOL inMenuLoop, UINT* timerId, int* hotItem) {
  CNewMenuGlobalState& global = GetNewMenuGlobalState();
  // From the 2000 family on, outside a remote session, the system tracks hot bar items itself.
  if (CNewMenu::GetWindowsVersion() >= 6 && !global.m_bRemoteSession) return hit;
  UINT hot = 0xC0, normal = 0x80;  // ODS_HOTLIGHT | ODS_INACTIVE, ODS_INACTIVE
  HWND focus = ::GetFocus();
  if (focus && ::IsChild(hwnd, focus)) {
    hot = ODS_HOTLIGHT;
    normal = 0;
  } else if (CNewMenu::GetWindowsVersion() == 2 || CNewMenu::GetWindowsVersion() == 5) {
    hot = normal = 0;
  }
  HMENU menu = ::GetMenu(hwnd);
  if (!inMenuLoop && hit == HTMENU && AsNewMenu(menu)) {
    const int position = ::MenuItemFromPoint(hwnd, menu, screen);
    if (position >= 0) {
      if (position != *hotItem) {
        if (*hotItem >= 0) DrawMenuBarItem(hwnd, *hotItem, normal);
        if (!DrawMenuBarItem(hwnd, position, hot)) {
          *hotItem = -1;
          return hit;
        }
      } else if (global.m_pHotBarItem) {
        return hit;
      } else if (!DrawMenuBarItem(hwnd, position, hot)) {
        return hit;
      }
      if (!*timerId) *timerId = CNewMenuGlobalState::SetFreeTimer(hwnd, 100);
      *hotItem = position;
      return hit;
    }
  }
  if (*hotItem >= 0) DrawMenuBarItem(hwnd, *hotItem, normal);
  *hotItem = -1;
  if (*timerId) CNewMenuGlobalState::KillFreeTimer(hwnd, *timerId);
  *timerId = 0;
  return hit;
}

void EndMenuBarHotTracking(HWND hwnd, BOOL redraw, UINT* timerId, int* hotItem) {
  if (*timerId) CNewMenuGlobalState::KillFreeTimer(hwnd, *timerId);
  *timerId = 0;
  if (*hotItem >= 0 && redraw) DrawMenuBarItem(hwnd, *hotItem, 0);
  *hotItem = -1;
}

IMPLEMENT_DYNCREATE(CNewMDIFrameWnd, CMDIFrameWnd)

BOOL CNewMDIFrameWnd::ShowMenu(BOOL show) {
  const BOOL shown = ::GetMenu(m_hWnd) != nullptr;
  if (show && !shown && m_hShowMenu) {
    ::SetMenu(m_hWnd, m_hShowMenu);
    m_hShowMenu = nullptr;
  } else if (!show && shown) {
    m_hShowMenu = ::GetMenu(m_hWnd);
    ::SetMenu(m_hWnd, nullptr);
  }
  ::DrawMenuBar(m_hWnd);
  return shown;
}
