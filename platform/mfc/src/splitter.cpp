#include "mfc/splitter.h"

#include <algorithm>

#include "mfc/doc.h"
#include "object_internal.h"

IMPLEMENT_DYNAMIC(CSplitterWnd, CWnd)

CSplitterWnd::~CSplitterWnd() {
  delete[] m_pColInfo;
  delete[] m_pRowInfo;
}

BOOL CSplitterWnd::CreateStatic(CWnd* parent, int rows, int cols, DWORD style, UINT id) {
  if (!parent || rows < 1 || cols < 1 || rows > 16 || cols > 16 || m_hWnd) return FALSE;
  m_nMaxRows = m_nRows = rows;
  m_nMaxCols = m_nCols = cols;
  delete[] m_pColInfo;
  delete[] m_pRowInfo;
  m_pColInfo = new CRowColInfo[static_cast<size_t>(cols)]();
  m_pRowInfo = new CRowColInfo[static_cast<size_t>(rows)]();
  RECT client;
  ::GetClientRect(parent->GetSafeHwnd(), &client);
  return CreateEx(0, "", style, 0, 0, client.right, client.bottom, parent->GetSafeHwnd(), id);
}

BOOL CSplitterWnd::CreateView(int row, int col, const CRuntimeClass* viewClass, SIZE initSize,
                              CCreateContext* context) {
  if (!m_hWnd || !viewClass || row < 0 || col < 0 || row >= m_nMaxRows || col >= m_nMaxCols) return FALSE;
  if (GetPane(row, col)) return FALSE;
  auto* wnd = mfc::detail::CreateAs<CWnd>(viewClass);
  if (!wnd) return FALSE;
  // A view of the context's document belongs to it from the start (its initial update, its commands).
  auto* view = dynamic_cast<CView*>(wnd);
  if (view && context && context->m_pCurrentDoc) context->m_pCurrentDoc->AddView(view);
  if (!wnd->CreateEx(0, "", WS_CHILD | WS_VISIBLE, 0, 0, initSize.cx, initSize.cy, m_hWnd,
                     static_cast<UINT_PTR>(IdFromRowCol(row, col)))) {
    delete wnd;  // not a window yet: a view leaves its document in its destructor
    return FALSE;
  }
  m_pColInfo[col].nIdealSize = std::max(m_pColInfo[col].nIdealSize, static_cast<int>(initSize.cx));
  m_pRowInfo[row].nIdealSize = std::max(m_pRowInfo[row].nIdealSize, static_cast<int>(initSize.cy));
  return TRUE;
}

CWnd* CSplitterWnd::GetPane(int row, int col) const {
  if (!m_hWnd) return nullptr;
  HWND pane = ::GetDlgItem(m_hWnd, IdFromRowCol(row, col));
  return pane ? CWnd::FromHandle(pane) : nullptr;
}

void CSplitterWnd::GetRowInfo(int row, int& cyCur, int& cyMin) const {
  cyCur = cyMin = 0;
  if (row < 0 || row >= m_nMaxRows) return;
  cyCur = m_pRowInfo[row].nCurSize;
  cyMin = m_pRowInfo[row].nMinSize;
}

void CSplitterWnd::SetRowInfo(int row, int cyIdeal, int cyMin) {
  if (row < 0 || row >= m_nMaxRows) return;
  m_pRowInfo[row].nIdealSize = cyIdeal;
  m_pRowInfo[row].nMinSize = cyMin;
}

void CSplitterWnd::GetColumnInfo(int col, int& cxCur, int& cxMin) const {
  cxCur = cxMin = 0;
  if (col < 0 || col >= m_nMaxCols) return;
  cxCur = m_pColInfo[col].nCurSize;
  cxMin = m_pColInfo[col].nMinSize;
}

void CSplitterWnd::SetColumnInfo(int col, int cxIdeal, int cxMin) {
  if (col < 0 || col >= m_nMaxCols) return;
  m_pColInfo[col].nIdealSize = cxIdeal;
  m_pColInfo[col].nMinSize = cxMin;
}

CWnd* CSplitterWnd::GetActivePane(int* row, int* col) const {
  if (!m_hActivePane || !::IsWindow(m_hActivePane) || ::GetParent(m_hActivePane) != m_hWnd) return nullptr;
  int id = ::GetDlgCtrlID(m_hActivePane) - static_cast<int>(AFX_IDW_PANE_FIRST);
  int r = id / 16, c = id % 16;
  if (id < 0 || r >= m_nRows || c >= m_nCols) return nullptr;
  if (row) *row = r;
  if (col) *col = c;
  return CWnd::FromHandle(m_hActivePane);
}

void CSplitterWnd::SetActivePane(int row, int col, CWnd* wnd) {
  CWnd* pane = wnd ? wnd : GetPane(row, col);
  m_hActivePane = pane ? pane->GetSafeHwnd() : nullptr;
}

void CSplitterWnd::RecalcLayout() {
  if (!m_hWnd) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  auto place = [](CRowColInfo* info, int count, int total) {
    int at = 0;
    for (int i = 0; i < count; ++i) {
      int size = i == count - 1 ? total - at : std::min(std::max(info[i].nIdealSize, 0), std::max(total - at, 0));
      info[i].nCurSize = std::max(size, 0);
      at += info[i].nCurSize + kGap;
    }
  };
  place(m_pColInfo, m_nCols, client.right);
  place(m_pRowInfo, m_nRows, client.bottom);
  int y = 0;
  for (int r = 0; r < m_nRows; ++r) {
    int x = 0;
    for (int c = 0; c < m_nCols; ++c) {
      if (HWND pane = ::GetDlgItem(m_hWnd, IdFromRowCol(r, c))) {
        ::MoveWindow(pane, x, y, m_pColInfo[c].nCurSize, m_pRowInfo[r].nCurSize, TRUE);
      }
      x += m_pColInfo[c].nCurSize + kGap;
    }
    y += m_pRowInfo[r].nCurSize + kGap;
  }
}

void CSplitterWnd::OnSize(UINT type, int cx, int cy) {
  CWnd::OnSize(type, cx, cy);
  RecalcLayout();
}
