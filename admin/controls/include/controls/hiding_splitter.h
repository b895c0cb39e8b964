// A static splitter whose columns can be hidden and shown again in any order, and which can hide one
// row at a time. Hidden panes keep their windows; the grid is renumbered through the pane ids.
#pragma once
#include <vector>

#include "controls/small_widgets.h"
#include "mfc/splitter.h"

class CHidingSplitterWnd : public CSplitterWnd {
  DECLARE_DYNAMIC(CHidingSplitterWnd)

 public:
  CHidingSplitterWnd() = default;
  ~CHidingSplitterWnd() override;

  BOOL CreateStatic(CWnd* parent, int rows, int cols, DWORD style = WS_CHILD | WS_VISIBLE,
                    UINT id = AFX_IDW_PANE_FIRST) override;
  BOOL CreateView(int row, int col, const CRuntimeClass* viewClass, SIZE initSize, CCreateContext* context) override;

  // Each returns FALSE and changes nothing when the request does not apply: a column already hidden
  // (or shown, or outside the grid), the last shown column, a second hidden row, a row outside the
  // current rows, the only row, or ShowRow with no row hidden.
  BOOL HideColumn(int col);
  BOOL ShowColumn(int col);
  BOOL HideRow(int row);
  BOOL ShowRow();

  int GetHiddenRow() const { return m_nHiddenRow; }
  const std::vector<int>& ShownColumns() const { return m_lstShownCols; }
  const std::vector<int>& HiddenColumns() const { return m_lstHiddenCols; }
  // The pane created at (row, col), wherever it stands now.
  CWnd* CreatedPane(int row, int col) const { return static_cast<CWnd*>(m_paneCells.GetCell(row, col)); }

 private:
  void RenumberPanes();

  int m_nHiddenRow = -1;
  std::vector<int> m_lstShownCols;
  std::vector<int> m_lstHiddenCols;
  std::vector<int> m_lstShownRows;
  std::vector<int> m_lstHiddenRows;
  CCellBuffer m_paneCells;
  CRowColInfo* m_pSavedColInfo = nullptr;
};
