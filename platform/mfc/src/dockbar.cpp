#include "mfc/dockbar.h"

IMPLEMENT_DYNCREATE(CDockBar, CWnd)

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
