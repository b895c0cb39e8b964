#include "mfc/dockbar.h"

#include <algorithm>

IMPLEMENT_DYNCREATE(CDockBar, CControlBar)

const mfc::MessageMap* CDockBar::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {mfc::OnMessage<&CDockBar::OnEraseBkgndMessage>(WM_ERASEBKGND)};
  static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
  return &map;
}

LRESULT CDockBar::OnEraseBkgndMessage(WPARAM wParam, LPARAM) { return OnEraseBkgnd(reinterpret_cast<HDC>(wParam)); }

BOOL CDockBar::OnEraseBkgnd(HDC dc) {
  RECT clip{};
  ::GetClipBox(dc, &clip);
  ::FillRect(dc, &clip, ::GetSysColorBrush(COLOR_BTNFACE));
  return TRUE;
}

void CDockBar::DrawBorders(HDC dc, RECT& rect) {
  ::DrawEdge(dc, &rect, EDGE_ETCHED, BF_TOP | BF_BOTTOM | BF_ADJUST);
}

std::vector<CControlBar*> CDockBar::GetDockedBars() const {
  std::vector<CControlBar*> bars;
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (auto* bar = dynamic_cast<CControlBar*>(CWnd::FromHandlePermanent(child));
        bar && (::GetWindowLongPtr(child, GWL_STYLE) & WS_VISIBLE))
      bars.push_back(bar);
  return bars;
}

CSize CDockBar::CalcFixedLayout(BOOL, BOOL horizontal) {
  LONG thickest = 0;
  for (CControlBar* bar : GetDockedBars()) {
    const CSize size = bar->CalcFixedLayout(FALSE, horizontal);
    thickest = std::max<LONG>(thickest, horizontal ? size.cy : size.cx);
  }
  return horizontal ? CSize(32767, thickest) : CSize(thickest, 32767);
}

void CDockBar::LayoutBars() {
  const bool horizontal = (m_dwStyle & (CBRS_ALIGN_LEFT | CBRS_ALIGN_RIGHT)) == 0;
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  LONG at = 0;
  for (CControlBar* bar : GetDockedBars()) {
    const CSize size = bar->CalcFixedLayout(FALSE, horizontal);
    if (horizontal) {
      ::MoveWindow(bar->m_hWnd, at, 0, std::min<LONG>(size.cx, client.right - at), client.bottom, TRUE);
      at += size.cx;
    } else {
      ::MoveWindow(bar->m_hWnd, 0, at, client.right, std::min<LONG>(size.cy, client.bottom - at), TRUE);
      at += size.cy;
    }
  }
}

void CDockBar::OnSize(UINT, int, int) { LayoutBars(); }

void CDockBar::PostNcDestroy() {
  if (m_bAutoDelete) delete this;
}
