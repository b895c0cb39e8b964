// The tree behind the tree list: items (column 0 in a tree-item record, their look, links and expand
// state) and their cells for columns 1 and up. An item's address is its handle.
#pragma once
#include <vector>

#include "mfc/controls.h"
#include "mfc/gdi.h"

class COXTreeItem;

// The list rows that show the tree, as expansion changes them.
class COXTreeRows {
 public:
  virtual ~COXTreeRows() = default;
  virtual int RowOf(const COXTreeItem* item) const = 0;  // -1 when the item has no row
  virtual void InsertRowAt(COXTreeItem* item, int index) = 0;
  virtual void DeleteRow(COXTreeItem* item) = 0;
};

// Comparison of two items' application values for sorting.
using PFNOXTVCOMPARE = int (*)(LPARAM a, LPARAM b, LPARAM sortParam);

class COXTreeCell {
 public:
  enum : UINT { kImage = 1, kFont = 2, kTextColor = 4, kText = 8, kBackColor = 16 };
  explicit COXTreeCell(int col);
  COXTreeCell(const COXTreeCell& other);
  COXTreeCell& operator=(const COXTreeCell&) = delete;

  CString m_sText;
  int m_nCol;
  UINT m_uFlags = 0;
  int m_nImage = -1;
  UINT m_nTextFormat = DT_END_ELLIPSIS;
  std::vector<CString> m_options;
  UINT m_nEditMode = 0;
  CFont m_font;
  COLORREF m_clrText;
  COLORREF m_clrBack;
};

class COXTreeItem {
 public:
  enum : UINT { kNotHidden = 1, kDisabled = 2, kOwnTextColor = 4, kOwnFont = 8, kOwnBackColor = 16 };

  explicit COXTreeItem(LPCSTR text = nullptr);
  virtual ~COXTreeItem();
  COXTreeItem(const COXTreeItem&) = delete;
  COXTreeItem& operator=(const COXTreeItem& other);

  // The root: no text, shown expanded, never a row.
  void MakeRoot();

  // Links.
  void AddChild(COXTreeItem* child, HTREEITEM after = TVI_LAST);
  void Unlink();
  void DeleteChildren();
  COXTreeItem* GetParent() const { return m_pParent; }
  COXTreeItem* GetFirstChild() const { return m_pFirstChild; }
  COXTreeItem* GetNextSibling() const { return m_pNext; }
  COXTreeItem* GetPrevSibling() const { return m_pPrev; }
  COXTreeItem* GetLastChild() const;
  int GetLevel() const;
  BOOL IsHidden() const { return !(m_uFlags & kNotHidden); }
  void SetHidden(BOOL hidden);
  BOOL IsVisible() const;
  BOOL HasChildren() const;
  BOOL HasVisibleNextSibling() const;
  COXTreeItem* GetNextInOrder() const;
  COXTreeItem* GetPrevInOrder() const;
  int CountChildren(BOOL all) const;
  // This item and its descendants.
  int CountSubtree() const;
  HTREEITEM Handle() const { return reinterpret_cast<HTREEITEM>(const_cast<COXTreeItem*>(this)); }

  // Expansion, keeping the rows in step.
  BOOL Expand(UINT code, COXTreeRows& rows);
  int AddChildrenToCtrl(COXTreeRows& rows, int index);
  void RemoveChildrenFromCtrl(COXTreeRows& rows);
  BOOL IsExpanded() const { return m_bExpanded; }
  BOOL IsExpandedOnce() const { return m_bExpandedOnce; }

  // Sorting.
  BOOL SortChildren(int col, BOOL onlyThisLevel, BOOL ascending, PFNOXTVCOMPARE compare, LPARAM sortParam);
  int CompareByColumn(const COXTreeItem* a, const COXTreeItem* b, int col) const;
  HTREEITEM FindSortedPosition(LPCSTR text, BOOL ascending) const;
  static COXTreeItem* CloneTree(COXTreeItem* newParent, const COXTreeItem* source, HTREEITEM after, BOOL withSubtree);

  // Column 0 is the item itself, columns 1 and up its cells.
  LPCSTR GetText(int col = 0) const;
  BOOL SetText(LPCSTR text, int col = 0);
  BOOL SetSubItem(int col, UINT mask, LPCSTR text, int image, CFont* font, COLORREF textColor, COLORREF backColor);
  COXTreeCell* GetCell(int col) const;
  int GetImage(int col = 0) const;
  COLORREF GetTextColor(int col = 0) const;
  BOOL SetTextColor(COLORREF color, int col = 0);
  COLORREF GetBackColor(int col = 0) const;
  BOOL SetBackColor(COLORREF color, int col = 0);
  CFont* GetFont(int col = 0);
  BOOL SetFont(CFont* font, int col = 0);
  UINT GetTextFormat(int col = 0) const;
  BOOL SetTextFormat(UINT format, int col = 0);
  UINT GetEditMode(int col = 0) const;
  BOOL SetEditMode(int col, UINT mode, const std::vector<CString>& options);
  std::vector<CString> GetOptions(int col = 0) const;
  void SetDisabled(BOOL disabled) { m_uFlags = disabled ? (m_uFlags | kDisabled) : (m_uFlags & ~kDisabled); }
  void RemoveColumn(int col);
  UINT GetFlags() const { return m_uFlags; }

  TVITEM m_tvi{};
  int GetCellCount() const { return static_cast<int>(m_cells.size()); }

 private:
  void SwapWithNext();
  void SyncChildRows(COXTreeRows& rows);
  COXTreeCell* MakeCell(int col);

  CFont m_font;
  COLORREF m_clrText;
  COLORREF m_clrBack;
  UINT m_nTextFormat = DT_END_ELLIPSIS;
  UINT m_uFlags = kNotHidden;
  BOOL m_bExpanded = FALSE;
  BOOL m_bExpandedOnce = FALSE;
  COXTreeItem* m_pParent = nullptr;
  COXTreeItem* m_pNext = nullptr;
  COXTreeItem* m_pPrev = nullptr;
  COXTreeItem* m_pFirstChild = nullptr;
  std::vector<COXTreeCell*> m_cells;
  std::vector<CString> m_options;
  UINT m_nEditMode = 0;
};
