// CSplitterWnd in its static form: a grid of panes made once (CreateStatic, CreateView), each found by
// its child id AFX_IDW_PANE_FIRST + row * 16 + column, laid out by the rows' and columns' size records.
#pragma once
#include "mfc/wnd.h"

constexpr UINT AFX_IDW_PANE_FIRST = 0xE900;

class CSplitterWnd : public CWnd {
  DECLARE_DYNAMIC(CSplitterWnd)

 public:
  CSplitterWnd() = default;
  ~CSplitterWnd() override;

  // Up to 16 rows and 16 columns.
  virtual BOOL CreateStatic(CWnd* parent, int rows, int cols, DWORD style = WS_CHILD | WS_VISIBLE,
                            UINT id = AFX_IDW_PANE_FIRST);
  // Makes the pane at (row, col) as an object of viewClass (a window class made by DYNCREATE).
  virtual BOOL CreateView(int row, int col, const CRuntimeClass* viewClass, SIZE initSize, CCreateContext* context);

  int IdFromRowCol(int row, int col) const { return static_cast<int>(AFX_IDW_PANE_FIRST) + row * 16 + col; }
  CWnd* GetPane(int row, int col) const;
  int GetRowCount() const { return m_nRows; }
  int GetColumnCount() const { return m_nCols; }
  int GetMaxRowCount() const { return m_nMaxRows; }
  int GetMaxColumnCount() const { return m_nMaxCols; }
  void GetRowInfo(int row, int& cyCur, int& cyMin) const;
  void SetRowInfo(int row, int cyIdeal, int cyMin);
  void GetColumnInfo(int col, int& cxCur, int& cxMin) const;
  void SetColumnInfo(int col, int cxIdeal, int cxMin);
  // The active pane (and its grid place from its id); null when none is set or it left the grid.
  CWnd* GetActivePane(int* row = nullptr, int* col = nullptr) const;
  void SetActivePane(int row, int col, CWnd* wnd = nullptr);
  // Places the current rows and columns at their ideal sizes (the last takes what is left).
  virtual void RecalcLayout();

  static constexpr int kGap = 4;

 protected:
  void OnSize(UINT type, int cx, int cy) override;

  struct CRowColInfo {
    int nMinSize;
    int nIdealSize;
    int nCurSize;
  };
  int m_nMaxRows = 0;
  int m_nMaxCols = 0;
  int m_nRows = 0;
  int m_nCols = 0;
  CRowColInfo* m_pColInfo = nullptr;
  CRowColInfo* m_pRowInfo = nullptr;
  HWND m_hActivePane = nullptr;
};
