// The library's other hosts: the mini frame, the floating frame of a control bar and the child frame of a
// multiple-document frame, each with owner-drawn menus; a multi-document template whose shared menu is an
// owner-drawn CNewMenu with the toolbar's icons; and a dock bar painted like the menu bar above it.
#pragma once
#include "admin/menus/NewMenu.h"
#include "mfc/dockbar.h"
#include "mfc/frames.h"
#include "mfc/multidoc.h"

class CNewMiniFrameWnd : public CMenuHostFrame<CMiniFrameWnd> {
  DECLARE_DYNCREATE(CNewMiniFrameWnd)
};

class CNewMiniDockFrameWnd : public CMenuHostFrame<CMiniDockFrameWnd> {
  DECLARE_DYNCREATE(CNewMiniDockFrameWnd)
};

class CNewMDIChildWnd : public CMenuHostFrame<CMDIChildWnd> {
  DECLARE_DYNCREATE(CNewMDIChildWnd)
};

class CNewMultiDocTemplate : public CMultiDocTemplate {
  DECLARE_DYNAMIC(CNewMultiDocTemplate)

 public:
  // The shared menu becomes the owner-drawn CNewMenu below, with the icons of the toolbar of the same id.
  CNewMultiDocTemplate(UINT idResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                       const CRuntimeClass* viewClass);
  ~CNewMultiDocTemplate() override;  // the shared menu goes once, with the CNewMenu

  CNewMenu m_NewMenuShared;
};

class CNewDockBar : public CDockBar {
  DECLARE_DYNCREATE(CNewDockBar)

 public:
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  // The parent frame's menu-bar brush, lined up with the menu bar; the base erase without one.
  BOOL OnEraseBkgnd(HDC dc) override;

 private:
  LRESULT OnNcPaintMessage(WPARAM wParam, LPARAM lParam);
};
