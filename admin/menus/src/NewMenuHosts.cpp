#include "admin/menus/NewMenuHosts.h"

#include "win32/windows.h"

IMPLEMENT_DYNCREATE(CNewMiniFrameWnd, CMiniFrameWnd)
IMPLEMENT_DYNCREATE(CNewMiniDockFrameWnd, CMiniDockFrameWnd)
IMPLEMENT_DYNCREATE(CNewMDIChildWnd, CMDIChildWnd)
IMPLEMENT_DYNAMIC(CNewMultiDocTemplate, CMultiDocTemplate)

const CRuntimeClass* NewMiniDockFrameClass() { return RUNTIME_CLASS(CNewMiniDockFrameWnd); }
IMPLEMENT_DYNCREATE(CNewDockBar, CDockBar)

CNewMultiDocTemplate::CNewMultiDocTemplate(UINT idResource, const CRuntimeClass* docClass,
                                           const CRuntimeClass* frameClass, const CRuntimeClass* viewClass)
    : CMultiDocTemplate(idResource, docClass, frameClass, viewClass) {
  if (idResource && m_hMenuShared && m_NewMenuShared.LoadMenu(m_hMenuShared)) m_NewMenuShared.LoadToolBar(idResource);
}

CNewMultiDocTemplate::~CNewMultiDocTemplate() {
  if (m_hMenuShared == m_NewMenuShared.m_hMenu) m_hMenuShared = nullptr;
}

const mfc::MessageMap* CNewDockBar::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {mfc::OnMessage<&CNewDockBar::OnNcPaintMessage>(WM_NCPAINT)};
  static const mfc::MessageMap map{CDockBar::GetMessageMap(), entries};
  return &map;
}

LRESULT CNewDockBar::OnNcPaintMessage(WPARAM, LPARAM) {
  HDC dc = ::GetWindowDC(m_hWnd);
  RECT window{}, client{};
  ::GetWindowRect(m_hWnd, &window);
  ::GetClientRect(m_hWnd, &client);
  POINT origin{0, 0};
  ::ClientToScreen(m_hWnd, &origin);
  ::OffsetRect(&client, origin.x - window.left, origin.y - window.top);
  ::OffsetRect(&window, -window.left, -window.top);
  ::ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
  SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc));
  DrawBorders(dc, window);
  ::ReleaseDC(m_hWnd, dc);
  return 0;
}

BOOL CNewDockBar::OnEraseBkgnd(HDC dc) {
  HWND parent = ::GetParent(m_hWnd);
  HMENU menu = parent ? ::GetMenu(parent) : nullptr;
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  if (!menu || !::GetMenuInfo(menu, &info) || !info.hbrBack) return CDockBar::OnEraseBkgnd(dc);
  RECT mine{}, theirs{};
  ::GetWindowRect(m_hWnd, &mine);
  ::GetWindowRect(parent, &theirs);
  // The brush starts where the parent window does, as the menu bar's does.
  POINT old{};
  ::SetBrushOrgEx(dc, theirs.left - mine.left, theirs.top - mine.top, &old);
  RECT clip{};
  ::GetClipBox(dc, &clip);
  ::FillRect(dc, &clip, info.hbrBack);
  ::SetBrushOrgEx(dc, old.x, old.y, nullptr);
  return TRUE;
}
