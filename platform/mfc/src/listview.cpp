#include "mfc/listview.h"

#include "mfc/doc.h"

IMPLEMENT_DYNAMIC(CListView, CView)

CListView::~CListView() { list_.m_hWnd = nullptr; }

BOOL CListView::CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                         HWND parent, UINT_PTR id, LPVOID param) {
  CREATESTRUCT cs{};
  cs.lpCreateParams = param;
  cs.hMenu = reinterpret_cast<HMENU>(id);
  cs.hwndParent = parent;
  cs.cx = width;
  cs.cy = height;
  cs.x = x;
  cs.y = y;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = windowName;
  cs.lpszClass = WC_LISTVIEW;
  cs.dwExStyle = exStyle;
  if (!PreCreateWindow(cs)) return FALSE;
  tavrin::controls::RegisterListControls();
  HWND hwnd = ::CreateWindowEx(cs.dwExStyle, WC_LISTVIEW, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y, cs.cx,
                               cs.cy, cs.hwndParent, cs.hMenu, nullptr, cs.lpCreateParams);
  if (!hwnd) return FALSE;
  if (!SubclassWindow(hwnd)) {
    ::DestroyWindow(hwnd);
    return FALSE;
  }
  list_.m_hWnd = m_hWnd;
  return TRUE;
}

CListCtrl& CListView::GetListCtrl() const {
  list_.m_hWnd = m_hWnd;
  return list_;
}

void CListView::OnPaint() { DefWindowProc(WM_PAINT, 0, 0); }

void CListView::OnNcDestroy() {
  list_.m_hWnd = nullptr;
  CView::OnNcDestroy();
}
