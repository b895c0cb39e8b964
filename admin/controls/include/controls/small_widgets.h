// Small building blocks of the program's windows: a coloured label, the set of bold fonts, a grid of
// pointer cells, and the list control whose header paints in the shared colours.
#pragma once
#include "mfc/controls.h"
#include "mfc/gdi.h"

class CColorStatic : public CStatic {
  DECLARE_DYNAMIC(CColorStatic)

 public:
  CColorStatic();
  ~CColorStatic() override;
  void SetBkColor(COLORREF color);
  void SetTextColor(COLORREF color);
  COLORREF GetBkColor() const { return m_clrBack; }
  COLORREF GetTextColor() const { return m_clrText; }
  const mfc::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);
  CBrush m_brush;
  COLORREF m_clrBack;
  COLORREF m_clrText = 0;
};

class CUiFontSet {
 public:
  CUiFontSet();
  virtual ~CUiFontSet();
  CUiFontSet(const CUiFontSet&) = delete;
  CUiFontSet& operator=(const CUiFontSet&) = delete;
  // Fonts 1 to 4; null for any other index.
  CFont* GetFont(int index) const;

 private:
  CFont* m_fonts[4] = {};
};

class CCellBuffer {
 public:
  CCellBuffer() = default;
  virtual ~CCellBuffer();
  CCellBuffer(const CCellBuffer&) = delete;
  CCellBuffer& operator=(const CCellBuffer&) = delete;
  // Frees any earlier grid, then makes rows x cols null cells. FALSE (and an empty buffer) for a
  // negative count or a grid too large to address.
  BOOL Alloc(int rows, int cols);
  int GetRows() const { return m_nRows; }
  int GetCols() const { return m_nCols; }
  // Null outside the grid.
  void* GetCell(int row, int col) const;
  // FALSE outside the grid.
  BOOL SetCell(int row, int col, void* value);

 private:
  void Free();
  void** m_pCells = nullptr;
  int m_nRows = 0;
  int m_nCols = 0;
};

// A header painted in the program's shared control colours.
class CColorHeaderCtrl : public CHeaderCtrl {
  DECLARE_DYNAMIC(CColorHeaderCtrl)

 public:
  const mfc::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
  void OnCustomDraw(NMHDR* header, LRESULT* result);
};

// A list control whose header becomes a CColorHeaderCtrl when its window is attached.
class CHeaderListCtrl : public CListCtrl {
  DECLARE_DYNAMIC(CHeaderListCtrl)

 public:
  CHeaderListCtrl() = default;
  ~CHeaderListCtrl() override;
  CColorHeaderCtrl m_header;

 protected:
  void PreSubclassWindow() override;
};
