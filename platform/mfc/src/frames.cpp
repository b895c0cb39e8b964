#include "mfc/frames.h"

#include <algorithm>

#include "mfc/app.h"

IMPLEMENT_DYNCREATE(CMiniFrameWnd, CFrameWnd)
IMPLEMENT_DYNCREATE(CMiniDockFrameWnd, CMiniFrameWnd)
IMPLEMENT_DYNCREATE(CMDIFrameWnd, CFrameWnd)
IMPLEMENT_DYNCREATE(CMDIChildWnd, CFrameWnd)

namespace {

constexpr UINT kMDIClientId = 0xE900;

struct Side {
  DWORD align;
  UINT id;
};
constexpr Side kSides[] = {{CBRS_ALIGN_TOP, AFX_IDW_DOCKBAR_TOP},
                           {CBRS_ALIGN_BOTTOM, AFX_IDW_DOCKBAR_BOTTOM},
                           {CBRS_ALIGN_LEFT, AFX_IDW_DOCKBAR_LEFT},
                           {CBRS_ALIGN_RIGHT, AFX_IDW_DOCKBAR_RIGHT}};

CDockBar* DockBarOf(CWnd* frame, UINT id) {
  return dynamic_cast<CDockBar*>(CWnd::FromHandlePermanent(::GetDlgItem(frame->m_hWnd, static_cast<int>(id))));
}

// The floating frame the bar sits in, if any.
CMiniDockFrameWnd* FloatingFrameOf(CControlBar* bar) {
  return dynamic_cast<CMiniDockFrameWnd*>(CWnd::FromHandlePermanent(::GetParent(bar->m_hWnd)));
}

}  // namespace

// ---- docking

void CFrameWnd::EnableDocking(DWORD dockStyle) {
  for (const Side& side : kSides) {
    if (!(dockStyle & side.align) || DockBarOf(this, side.id)) continue;
    auto* dockBar = new CDockBar;
    dockBar->m_dwStyle = side.align;
    if (!dockBar->CreateEx(0, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, m_hWnd,
                           side.id)) {
      delete dockBar;
      continue;
    }
    dockBar->m_bAutoDelete = TRUE;
  }
  m_pFloatingFrameClass = RUNTIME_CLASS(CMiniDockFrameWnd);
}

void CFrameWnd::DockControlBar(CControlBar* bar, UINT dockBarId) {
  if (!bar || !bar->m_hWnd) return;
  CDockBar* dockBar = nullptr;
  if (dockBarId) {
    dockBar = DockBarOf(this, dockBarId);
  } else {
    for (const Side& side : kSides)
      if ((bar->m_dwDockStyle & side.align) && (dockBar = DockBarOf(this, side.id))) break;
  }
  if (!dockBar) return;
  CMiniDockFrameWnd* floating = FloatingFrameOf(bar);
  ::SetParent(bar->m_hWnd, dockBar->m_hWnd);
  bar->m_dwStyle = (bar->m_dwStyle & ~CBRS_ALIGN_ANY) | (dockBar->m_dwStyle & CBRS_ALIGN_ANY);
  bar->ShowWindow(SW_SHOWNA);
  if (floating) floating->DestroyWindow();  // it carried only this bar
  RecalcLayout();
  dockBar->LayoutBars();
}

void CFrameWnd::FloatControlBar(CControlBar* bar, POINT point) {
  if (!bar || !bar->m_hWnd || !m_pFloatingFrameClass) return;
  CMiniDockFrameWnd* old = FloatingFrameOf(bar);
  auto* frame = dynamic_cast<CMiniDockFrameWnd*>(m_pFloatingFrameClass->CreateObject());
  if (!frame) return;
  if (!frame->Create(this, bar->m_dwStyle)) {
    delete frame;  // no window: nothing deletes it
    return;
  }
  CDockBar* from = dynamic_cast<CDockBar*>(CWnd::FromHandlePermanent(::GetParent(bar->m_hWnd)));
  ::SetParent(bar->m_hWnd, frame->m_hWnd);
  bar->m_dwStyle &= ~CBRS_ALIGN_ANY;
  bar->m_dwStyle |= CBRS_ALIGN_TOP;  // a floating bar lies flat
  frame->FitToBar();
  ::SetWindowPos(frame->m_hWnd, nullptr, point.x, point.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  frame->ShowWindow(SW_SHOWNA);
  if (old) old->DestroyWindow();
  if (from) {
    RecalcLayout();
    from->LayoutBars();
  }
}

// ---- mini frames

BOOL CMiniFrameWnd::Create(LPCSTR, LPCSTR title, DWORD style, const RECT& rect, CWnd* parent, UINT) {
  return CreateFrame(WS_EX_TOOLWINDOW, title, (style & ~WS_CHILD) | WS_POPUP | WS_CAPTION, rect,
                     parent ? parent->GetSafeHwnd() : nullptr, 0, nullptr);
}

BOOL CMiniDockFrameWnd::Create(CWnd* parent, DWORD) {
  return CMiniFrameWnd::Create(nullptr, "", WS_POPUP | WS_CAPTION | WS_SYSMENU | MFS_SYNCACTIVE, RECT{0, 0, 0, 0},
                               parent);
}

CControlBar* CMiniDockFrameWnd::GetControlBar() const {
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (auto* bar = dynamic_cast<CControlBar*>(CWnd::FromHandlePermanent(child))) return bar;
  return nullptr;
}

void CMiniDockFrameWnd::RecalcLayout() {
  CControlBar* bar = GetControlBar();
  if (!bar) return;
  RECT client{};
  GetClientRect(&client);
  bar->MoveWindow(&client);
}

void CMiniDockFrameWnd::FitToBar() {
  CControlBar* bar = GetControlBar();
  if (!bar) return;
  const CSize size = bar->CalcFixedLayout(FALSE, TRUE);
  RECT outer{0, 0, std::max<LONG>(size.cx, 24), std::max<LONG>(size.cy, 8)};
  ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongPtr(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtr(m_hWnd, GWL_EXSTYLE)));
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RecalcLayout();
}

void CMiniDockFrameWnd::OnClose() { ShowWindow(SW_HIDE); }

// ---- multiple-document frames

BOOL CMDIFrameWnd::OnCreateClient(LPCREATESTRUCT, CCreateContext*) {
  m_hMenuDefault = ::GetMenu(m_hWnd);
  RECT client{};
  GetClientRect(&client);
  if (!client_.CreateEx(WS_EX_CLIENTEDGE, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, client.right,
                        client.bottom, m_hWnd, kMDIClientId))
    return FALSE;
  m_hWndMDIClient = client_.m_hWnd;
  return TRUE;
}

void CMDIFrameWnd::RecalcLayout() {
  RECT client{};
  GetClientRect(&client);
  mfc::RepositionBars(this, client);
  if (m_hWndMDIClient)
    ::MoveWindow(m_hWndMDIClient, client.left, client.top, client.right - client.left, client.bottom - client.top,
                 TRUE);
}

CMDIChildWnd* CMDIFrameWnd::MDIGetActive() const { return active_; }

void CMDIFrameWnd::MDIActivate(CWnd* window) {
  auto* child = dynamic_cast<CMDIChildWnd*>(window);
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  CMDIChildWnd* previous = active_;
  children_.erase(it);
  children_.push_back(child);
  active_ = child;
  ::SetWindowPos(child->m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowMenuOf(child);
  if (previous == child) return;
  const WPARAM deactivated = reinterpret_cast<WPARAM>(previous ? previous->m_hWnd : nullptr);
  const LPARAM activated = reinterpret_cast<LPARAM>(child->m_hWnd);
  if (previous) previous->SendMessage(WM_MDIACTIVATE, deactivated, activated);
  child->SendMessage(WM_MDIACTIVATE, deactivated, activated);
}

void CMDIFrameWnd::MDINext() {
  if (children_.size() > 1) MDIActivate(children_[children_.size() - 2]);
}

void CMDIFrameWnd::ShowMenuOf(CMDIChildWnd* child) {
  HMENU menu = child && child->m_hMenuShared ? child->m_hMenuShared : m_hMenuDefault;
  if (m_hWnd && ::GetMenu(m_hWnd) != menu) {
    ::SetMenu(m_hWnd, menu);
    ::DrawMenuBar(m_hWnd);
  }
}

void CMDIFrameWnd::ChildGone(CMDIChildWnd* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
  if (active_ != child) return;
  active_ = nullptr;
  // The child activated before it takes over.
  if (!children_.empty())
    MDIActivate(children_.back());
  else
    ShowMenuOf(nullptr);
}

BOOL CMDIFrameWnd::OnCmdMsg(UINT id) {
  if (CMDIChildWnd* child = MDIGetActive(); child && child->OnCmdMsg(id)) return TRUE;
  return CFrameWnd::OnCmdMsg(id);
}

BOOL CMDIChildWnd::Create(LPCSTR, LPCSTR title, DWORD style, const RECT& rect, CMDIFrameWnd* parent,
                          CCreateContext* context) {
  if (!parent) parent = dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd());
  if (!parent || !parent->m_hWndMDIClient) return FALSE;
  frame_ = parent;
  parent->children_.insert(parent->children_.begin(), this);  // not active until it exists
  RECT place = rect;
  if (place.left == CW_USEDEFAULT) {
    // Each new child a step further down and right.
    const LONG step = 20 * static_cast<LONG>(parent->children_.size() - 1);
    place = RECT{step, step, step + 300, step + 200};
  }
  if (!CreateFrame(WS_EX_MDICHILD, title, (style & ~WS_POPUP) | WS_CHILD, place, parent->m_hWndMDIClient, 0,
                   context)) {
    if (!m_hWnd) parent->children_.erase(std::remove(parent->children_.begin(), parent->children_.end(), this),
                                         parent->children_.end());
    return FALSE;
  }
  MDIActivate();
  return TRUE;
}

BOOL CMDIChildWnd::LoadFrame(UINT idResource, DWORD style, CWnd* parent, CCreateContext* context) {
  CString title;
  if (const char* text = mfc::FindString(idResource)) {
    title = text;
    if (int end = title.Find('\n'); end >= 0) title = title.Left(end);
  }
  return Create(nullptr, title, style, RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT},
                dynamic_cast<CMDIFrameWnd*>(parent), context);
}

void CMDIChildWnd::MDIActivate() {
  if (frame_) frame_->MDIActivate(this);
}

void CMDIChildWnd::OnMDIActivate(BOOL, CWnd*, CWnd*) {}

const mfc::MessageMap* CMDIChildWnd::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {mfc::OnMessage<&CMDIChildWnd::OnMDIActivateMessage>(WM_MDIACTIVATE)};
  static const mfc::MessageMap map{CFrameWnd::GetMessageMap(), entries};
  return &map;
}

LRESULT CMDIChildWnd::OnMDIActivateMessage(WPARAM wParam, LPARAM lParam) {
  HWND activated = reinterpret_cast<HWND>(lParam);
  OnMDIActivate(activated == m_hWnd, CWnd::FromHandle(activated), CWnd::FromHandle(reinterpret_cast<HWND>(wParam)));
  return 0;
}

void CMDIChildWnd::OnDestroy() {
  if (frame_) frame_->ChildGone(this);
  frame_ = nullptr;
  CFrameWnd::OnDestroy();
}
