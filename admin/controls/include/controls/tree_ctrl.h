// The multi-column tree list: a report list with one row per shown item, column 0 the tree and
// columns 1 and up the items' cells. Handles are item addresses; only live items resolve.
#pragma once
#include <set>

#include "controls/small_widgets.h"
#include "controls/tree_header.h"
#include "controls/tree_item.h"

class COXTreeCtrl : public CListCtrl, public COXTreeRows {
  DECLARE_DYNAMIC(COXTreeCtrl)

 public:
  COXTreeCtrl();
  ~COXTreeCtrl() override;

  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  virtual BOOL Init();

  int InsertColumn(int col, LPCSTR heading, int format = 0, int width = -1);
  HTREEITEM InsertItem(LPCSTR text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  BOOL DeleteItem(HTREEITEM item);
  BOOL DeleteAllItems();
  virtual BOOL Expand(HTREEITEM item, UINT code);
  virtual BOOL SortChildren(HTREEITEM item, int col = 0, BOOL ascending = TRUE, PFNOXTVCOMPARE compare = nullptr,
                            LPARAM sortParam = 0);
  BOOL HideItem(HTREEITEM item, BOOL hide = TRUE);
  // Copies item (with its subtree) under newParent; refused into its own subtree.
  BOOL CopyItem(HTREEITEM item, HTREEITEM newParent, HTREEITEM after, BOOL withSubtree, HTREEITEM* newItem = nullptr);
  // Moves item and its subtree under newParent, of otherControl when given.
  BOOL MoveItem(HTREEITEM item, HTREEITEM newParent, HTREEITEM after = TVI_LAST, COXTreeCtrl* otherControl = nullptr);

  CString GetItemText(HTREEITEM item, int col = 0) const;
  BOOL SetItemText(HTREEITEM item, LPCSTR text, int col = 0);
  BOOL SetSubItem(HTREEITEM item, int col, UINT mask, LPCSTR text, int image = -1, CFont* font = nullptr,
                  COLORREF textColor = 0, COLORREF backColor = 0);
  BOOL SetItemColor(HTREEITEM item, COLORREF color, int col = 0);
  LPARAM GetItemData(HTREEITEM item) const;
  BOOL SetItemData(HTREEITEM item, LPARAM data);

  HTREEITEM GetRootItem() const { return m_root.Handle(); }
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  UINT GetCount() const { return m_nItemCount; }
  int GetRowCount() const { return CListCtrl::GetItemCount(); }
  HTREEITEM GetItemAtRow(int row) const;
  int GetIndent() const { return m_nIndent; }
  void SetIndent(int indent) { m_nIndent = indent < 15 ? 15 : indent; }
  BOOL IsInitialized() const { return m_bInit; }
  DWORD GetExStyle() const { return m_dwExStyle; }
  void SetExStyle(DWORD exStyle) { m_dwExStyle = exStyle; }
  void SetHorizontalGridColor(COLORREF color) { m_clrHGrid = color; }
  void SetVerticalGridColor(COLORREF color) { m_clrVGrid = color; }

  // Drawing.
  void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
  virtual void DrawExpandButton(CDC* dc, const CRect& button, BOOL expanded);
  int GetItemIndent(const COXTreeItem* item) const;
  static CRect GetButtonRect(const CRect& cell);
  // The cell editor of (item, col); none here, and refused for a column outside the list.
  CWnd* EditLabel(HTREEITEM item, int col);

  // Rows of the list.
  int RowOf(const COXTreeItem* item) const override;
  void InsertRowAt(COXTreeItem* item, int index) override;
  void DeleteRow(COXTreeItem* item) override;

  // The item behind a handle: the root for TVI_ROOT, a live item, or null.
  COXTreeItem* Resolve(HTREEITEM item) const;

 protected:
  void PreSubclassWindow() override;
  void OnDestroy() override;

 private:
  void Track(COXTreeItem* item);
  void Forget(COXTreeItem* item);
  void ShowNewItem(COXTreeItem* item);
  void ShowWithSubtree(COXTreeItem* item);
  LRESULT Notify(UINT code, UINT action, COXTreeItem* item, bool old);

  COXTreeItem m_root;
  DWORD m_dwStyle = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT;
  DWORD m_dwExStyle = 0;
  int m_nIndent = 15;
  BOOL m_bInit = FALSE;
  CPen m_linesPen;
  CColorHeaderCtrl m_colorHeader;
  COXTreeHeader m_header;
  UINT m_nItemCount = 0;
  COLORREF m_clrHGrid = 0;
  COLORREF m_clrVGrid = 0;
  void DrawLines(HDC hdc, const CRect& cell, int shape);
  void DrawTreePart(HDC hdc, const CRect& part, COXTreeItem* item);
  std::set<const COXTreeItem*> m_live;
};
