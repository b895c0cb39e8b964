// The frames that host owner-drawn menus with a menu bar (the main frame's base and the multiple-document
// frame), and the menu-bar services beside them: the current style's menu background brush and drawing one
// bar item in a given state. (The host frames' hot tracking and the bar background set-up are declared
// with the frame template in NewMenu.h.)
#pragma once
#include "admin/menus/NewMenu.h"

// The background brush of menus in the current style (null for the styles that paint none): a solid
// button-face brush for the flat look, the blend bar colour for the warm look (a gradient pattern on
// screens of 256 colours or more), none for the others. Kept by the library's brush cache.
HBRUSH GetMenuBackgroundBrush();

// Draws bar item `position` of the window's menu in `state` (owner-draw states) through WM_DRAWITEM on the
// window's DC; false when the item has no rectangle or is not owner-drawn.
BOOL DrawMenuBarItem(HWND hwnd, int position, UINT state);

// A host frame whose menu bar is loaded as a CNewMenu and given to the window at creation.
template <class TBase>
class CMenuBarFrame : public CMenuHostFrame<TBase> {
 public:
  BOOL LoadFrame(UINT idResource, DWORD style = WS_OVERLAPPEDWINDOW, CWnd* parent = nullptr,
                 CCreateContext* context = nullptr) override {
    if (!this->m_DefaultNewMenu.m_hMenu) this->m_DefaultNewMenu.LoadMenu(idResource);
    if (!CMenuHostFrame<TBase>::LoadFrame(idResource, style, parent, context)) return FALSE;
    // A derived class that skipped this class's PreCreateWindow still gets its bar.
    if (this->m_DefaultNewMenu.m_hMenu && ::GetMenu(this->m_hWnd) != this->m_DefaultNewMenu.m_hMenu)
      ::SetMenu(this->m_hWnd, this->m_DefaultNewMenu.m_hMenu);
    SetMenuBarBackground(this->m_DefaultNewMenu.m_hMenu);
    ::DrawMenuBar(this->m_hWnd);
    return TRUE;
  }
  // Loads the menu resource `menuName` (when given) into the menu bar and creates the window with it. The
  // framework has one window class: `className` is not used; a creation context reaches the client area
  // only through LoadFrame.
  BOOL Create(LPCSTR className, LPCSTR title, DWORD style, const RECT& rect, CWnd* parent = nullptr,
              LPCSTR menuName = nullptr, DWORD exStyle = 0) {
    (void)className;
    if (menuName) {
      this->m_DefaultNewMenu.LoadMenu(menuName);
      if (!this->m_DefaultNewMenu.m_hMenu) {
        this->PostNcDestroy();  // the frame deletes itself, as after a window that went
        return FALSE;
      }
    }
    if (!this->CreateEx(exStyle, title, style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                        parent ? parent->GetSafeHwnd() : nullptr,
                        reinterpret_cast<UINT_PTR>(this->m_DefaultNewMenu.m_hMenu)))
      return FALSE;
    SetMenuBarBackground(this->m_DefaultNewMenu.m_hMenu);
    ::DrawMenuBar(this->m_hWnd);
    return TRUE;
  }
  BOOL PreCreateWindow(CREATESTRUCT& cs) override {
    if (!CMenuHostFrame<TBase>::PreCreateWindow(cs)) return FALSE;
    // The menu bar is the window's from its creation on, so its first client area is already below it.
    if (!(cs.style & WS_CHILD) && !cs.hMenu && this->m_DefaultNewMenu.m_hMenu) cs.hMenu = this->m_DefaultNewMenu.m_hMenu;
    return TRUE;
  }
};

// The main frame's base.
class CNewFrameWnd : public CMenuBarFrame<CFrameWnd> {
  DECLARE_DYNCREATE(CNewFrameWnd)
};

// The multiple-document frame: its bar as the main frame's, which it can hide and show again.
class CNewMDIFrameWnd : public CMenuBarFrame<CMDIFrameWnd> {
  DECLARE_DYNCREATE(CNewMDIFrameWnd)

 public:
  // Hides the menu bar (keeping the window's menu) or puts the kept menu back; whether it was shown before.
  BOOL ShowMenu(BOOL show);

 private:
  HMENU m_hShowMenu = nullptr;  // the menu kept while the bar is hidden
};
