#include "controls/hiding_splitter.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CHidingSplitterWnd, CSplitterWnd)

namespace {
bool Contains(const std::vector<int>& list, int value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}
}  // namespace

CHidingSplitterWnd::~CHidingSplitterWnd() { delete[] m_pSavedColInfo; }

BOOL CHidingSplitterWnd::CreateStatic(CWnd* parent, int rows, int cols, DWORD style, UINT id) {
  BOOL created = CSplitterWnd::CreateStatic(parent, rows, cols, style, id);
  if (!created) return FALSE;
  m_paneCells.Alloc(m_nMaxRows, m_nMaxCols);
  m_lstShownRows.clear();
  m_lstHiddenRows.clear();
  m_lstShownCols.clear();
  m_lstHiddenCols.clear();
  for (int r = 0; r < rows; ++r) m_lstShownRows.push_back(r);
  for (int c = 0; c < cols; ++c) m_lstShownCols.push_back(c);
  delete[] m_pSavedColInfo;
  m_pSavedColInfo = new CRowColInfo[static_cast<size_t>(m_nMaxCols)]();
  return created;
}

BOOL CHidingSplitterWnd::CreateView(int row, int col, const CRuntimeClass* viewClass, SIZE initSize,
                                    CCreateContext* context) {
  BOOL created = CSplitterWnd::CreateView(row, col, viewClass, initSize, context);
  if (created) m_paneCells.SetCell(row, col, GetPane(row, col));
  return created;
}

void CHidingSplitterWnd::RenumberPanes() {
  const int shownRows = static_cast<int>(m_lstShownRows.size());
  const int shownCols = static_cast<int>(m_lstShownCols.size());
  for (int r = 0; r < m_nMaxRows; ++r) {
    int paneRow = r < shownRows ? m_lstShownRows[static_cast<size_t>(r)]
                  : r - shownRows < static_cast<int>(m_lstHiddenRows.size())
                      ? m_lstHiddenRows[static_cast<size_t>(r - shownRows)]
                      : -1;
    for (int c = 0; c < m_nMaxCols; ++c) {
      int paneCol = c < shownCols ? m_lstShownCols[static_cast<size_t>(c)]
                    : c - shownCols < static_cast<int>(m_lstHiddenCols.size())
                        ? m_lstHiddenCols[static_cast<size_t>(c - shownCols)]
                        : -1;
      auto* pane = static_cast<CWnd*>(m_paneCells.GetCell(paneRow, paneCol));
      if (!pane || !pane->GetSafeHwnd()) continue;
      pane->SetDlgCtrlID(IdFromRowCol(r, c));
      bool shown = Contains(m_lstShownRows, paneRow) && Contains(m_lstShownCols, paneCol);
      pane->ShowWindow(shown ? SW_SHOW : SW_HIDE);
    }
  }
}

BOOL CHidingSplitterWnd::HideColumn(int col) {
  auto it = std::find(m_lstShownCols.begin(), m_lstShownCols.end(), col);
  // The last shown column stays: a splitter without columns has nothing to lay out.
  if (it == m_lstShownCols.end() || m_lstShownCols.size() < 2 || m_nCols < 2) return FALSE;
  const int pos = static_cast<int>(it - m_lstShownCols.begin());
  int activeRow = 0, activeCol = 0;
  if (GetActivePane(&activeRow, &activeCol) && activeCol == pos) {
    int next = activeCol + 1 >= m_nCols ? 0 : activeCol + 1;
    SetActivePane(activeRow, next);
  }
  m_lstShownCols.erase(it);
  m_lstHiddenCols.push_back(col);
  --m_nCols;
  RenumberPanes();
  m_pSavedColInfo[col] = m_pColInfo[pos];
  for (int i = pos; i < m_nCols; ++i) m_pColInfo[i] = m_pColInfo[i + 1];
  RecalcLayout();
  return TRUE;
}

BOOL CHidingSplitterWnd::ShowColumn(int col) {
  // Only a column that was hidden comes back (anything else is outside the grid or already shown).
  auto hidden = std::find(m_lstHiddenCols.begin(), m_lstHiddenCols.end(), col);
  if (hidden == m_lstHiddenCols.end() || Contains(m_lstShownCols, col) || m_nCols >= m_nMaxCols) return FALSE;
  const int pos = static_cast<int>(std::count_if(m_lstShownCols.begin(), m_lstShownCols.end(), [col](int c) { return c < col; }));
  ++m_nCols;
  m_lstShownCols.push_back(col);
  std::sort(m_lstShownCols.begin(), m_lstShownCols.end());
  m_lstHiddenCols.erase(hidden);
  RenumberPanes();
  for (int i = m_nCols - 1; i > pos; --i) m_pColInfo[i] = m_pColInfo[i - 1];
  m_pColInfo[pos] = m_pSavedColInfo[col];
  RecalcLayout();
  return TRUE;
}

BOOL CHidingSplitterWnd::HideRow(int row) {
  if (m_nHiddenRow != -1 || m_nRows < 2 || row < 0 || row >= m_nRows) return FALSE;
  m_nHiddenRow = row;
  const int R = m_nRows;
  for (int c = 0; c < m_nCols; ++c) {
    CWnd* hidden = GetPane(row, c);
    if (hidden) {
      hidden->ShowWindow(SW_HIDE);
      hidden->SetDlgCtrlID(static_cast<int>(AFX_IDW_PANE_FIRST) + c * 16 + R);
    }
    for (int r = row + 1; r < R; ++r) {
      if (CWnd* pane = GetPane(r, c)) pane->SetDlgCtrlID(IdFromRowCol(r - 1, c));
    }
  }
  m_nRows = R - 1;
  m_pRowInfo[R - 1].nCurSize = m_pRowInfo[row].nCurSize;
  RecalcLayout();
  return TRUE;
}

BOOL CHidingSplitterWnd::ShowRow() {
  if (m_nHiddenRow == -1 || m_nRows >= m_nMaxRows) return FALSE;
  const int rowNew = m_nHiddenRow;
  m_nHiddenRow = -1;
  const int cyNew = m_pRowInfo[m_nRows].nCurSize;
  const int R = ++m_nRows;
  for (int c = 0; c < m_nCols; ++c) {
    HWND shown = ::GetDlgItem(m_hWnd, static_cast<int>(AFX_IDW_PANE_FIRST) + c * 16 + R);
    if (shown) ::ShowWindow(shown, SW_SHOWNA);
    for (int r = R - 2; r >= rowNew; --r) {
      if (CWnd* pane = GetPane(r, c)) pane->SetDlgCtrlID(IdFromRowCol(r + 1, c));
    }
    if (shown) ::SetWindowLongPtr(shown, GWLP_ID, IdFromRowCol(rowNew, c));
  }
  for (int r = rowNew + 1; r < R; ++r) m_pRowInfo[r].nIdealSize = m_pRowInfo[r - 1].nCurSize;
  m_pRowInfo[rowNew].nIdealSize = cyNew;
  RecalcLayout();
  return TRUE;
}
