// The frame that hosts owner-drawn menus (the main frame's base), and the menu-bar services beside it:
// the current style's menu background brush and drawing one bar item in a given state. (The host frames'
// hot tracking and the bar background set-up are declared with the frame template in NewMenu.h.)
#pragma once
#include "admin/menus/NewMenu.h"

// The background brush of menus in the current style (null for the styles that paint none): a solid
// button-face brush for the flat look, the blend bar colour for the warm look (a gradient pattern on
// screens of 256 colours or more), none for the others. Kept by the library's brush cache.
HBRUSH GetMenuBackgroundBrush();

// Draws bar item `position` of the window's menu in `state` (owner-draw states) through WM_DRAWITEM on the
// window's DC; false when the item has no rectangle or is not owner-drawn.
BOOL DrawMenuBarItem(HWND hwnd, int position, UINT state);

// The main frame's base: its menu bar is loaded as a CNewMenu and given to the window at creation.
class CNewFrameWnd : public CMenuHostFrame<CFrameWnd> {
  DECLARE_DYNCREATE(CNewFrameWnd)

 public:
  BOOL LoadFrame(UINT idResource, DWORD style = WS_OVERLAPPEDWINDOW, CWnd* parent = nullptr,
                 CCreateContext* context = nullptr) override;
  // Loads the menu resource `menuName` (when given) into the menu bar and creates the window with it. The
  // framework has one window class: `className` is not used; a creation context reaches the client area
  // only through LoadFrame.
  BOOL Create(LPCSTR className, LPCSTR title, DWORD style, const RECT& rect, CWnd* parent = nullptr,
              LPCSTR menuName = nullptr, DWORD exStyle = 0);
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
};
