// The multi-column tree list: a report list with one row per shown item, column 0 the tree and
// columns 1 and up the items' cells. Handles are item addresses; only live items resolve.
#pragma once
#include <map>
#include <set>
#include <vector>

#include "mfc/imagelist.h"

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
  BOOL DeleteColumn(int col);
  int GetColumnCount() const;
  // Tree styles (low word) and window styles (high word); the control's own extended styles.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyExStyle(DWORD remove, DWORD add, UINT flags = 0);
  DWORD GetTreeStyle() const { return m_dwStyle; }
  CImageList* SetImageList(CImageList* list, int type);
  CImageList* GetImageList(int type) const;
  HTREEITEM InsertItem(LPCSTR text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  HTREEITEM InsertItem(const TVINSERTSTRUCT* insert);
  HTREEITEM InsertItem(UINT mask, LPCSTR text, int image, int selectedImage, UINT state, UINT stateMask, LPARAM param,
                       HTREEITEM parent, HTREEITEM after);
  HTREEITEM InsertItem(LPCSTR text, int image, int selectedImage, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  BOOL DeleteItem(HTREEITEM item);
  BOOL DeleteAllItems();
  virtual BOOL Expand(HTREEITEM item, UINT code);
  virtual BOOL SortChildren(HTREEITEM item, int col = 0, BOOL ascending = TRUE, PFNOXTVCOMPARE compare = nullptr,
                            LPARAM sortParam = 0);
  BOOL SortChildrenCB(const TVSORTCB* sort, int col = 0);
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
  COLORREF GetItemColor(HTREEITEM item, int col = 0) const;
  BOOL SetItemBackColor(HTREEITEM item, COLORREF color, int col = 0);
  BOOL SetItemFont(HTREEITEM item, CFont* font, int col = 0);
  CFont* GetItemFont(HTREEITEM item, int col = 0);
  BOOL SetItemImage(HTREEITEM item, int image, int selectedImage, int col = 0);
  BOOL GetItemImage(HTREEITEM item, int& image, int& selectedImage, int col = 0) const;
  UINT GetItemDrawFormat(HTREEITEM item, int col = 0) const;
  BOOL SetItemDrawFormat(HTREEITEM item, UINT format, int col = 0);
  BOOL GetItem(TVITEM* tvi) const;
  BOOL SetItem(TVITEM* tvi);
  UINT GetItemState(HTREEITEM item, UINT stateMask) const;
  BOOL SetItemState(HTREEITEM item, UINT state, UINT stateMask);
  BOOL IsItemHidden(HTREEITEM item) const;
  BOOL SetItemDisabled(HTREEITEM item, BOOL disabled = TRUE);
  BOOL IsItemDisabled(HTREEITEM item) const;
  BOOL SetItemEditMode(HTREEITEM item, UINT mode, int col = 0);
  BOOL SetItemOptions(HTREEITEM item, const std::vector<CString>& options, int col = 0);
  std::vector<CString> GetItemOptions(HTREEITEM item, int col = 0) const;
  void SetColumnCompareFunction(int col, PFNOXTVCOMPARE compare);
  LPARAM GetItemData(HTREEITEM item) const;
  BOOL SetItemData(HTREEITEM item, LPARAM data);

  HTREEITEM GetRootItem() const { return m_root.Handle(); }
  // The list's header window (its child with id 0), or null.
  HWND GetHeaderCtrlHandle() const { return m_hWnd ? ::GetDlgItem(m_hWnd, 0) : nullptr; }
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  HTREEITEM GetNextItem(HTREEITEM item, UINT code) const;
  HTREEITEM GetFirstSelectedItem() const { return GetNextItem(TVI_ROOT, TVGN_FIRSTSELECTED); }
  HTREEITEM GetNextSelectedItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXTSELECTED); }
  HTREEITEM GetSelectedItem() const { return GetNextItem(nullptr, TVGN_CARET); }
  HTREEITEM GetFirstVisibleItem() const { return GetNextItem(nullptr, TVGN_FIRSTVISIBLE); }
  HTREEITEM GetNextVisibleItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXTVISIBLE); }
  HTREEITEM GetPrevVisibleItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PREVIOUSVISIBLE); }
  HTREEITEM GetDropHilightItem() const { return m_pDropItem ? m_pDropItem->Handle() : nullptr; }
  // Items with the hidden flag, in display order.
  HTREEITEM GetFirstHiddenItem() const;
  HTREEITEM GetNextHiddenItem(HTREEITEM item) const;
  HTREEITEM GetPrevHiddenItem(HTREEITEM item) const;
  BOOL ItemHasChildren(HTREEITEM item) const;
  // Selection by navigation code: TVGN_CARET selects (and focuses), TVGN_DROPHILITE drop-highlights.
  BOOL Select(HTREEITEM item, UINT code);
  BOOL SelectItem(HTREEITEM item) { return Select(item, TVGN_CARET); }
  BOOL SelectDropTarget(HTREEITEM item) { return Select(item, TVGN_DROPHILITE); }
  BOOL SelectSetFirstVisible(HTREEITEM item) { return Select(item, TVGN_FIRSTVISIBLE); }
  BOOL EnsureVisible(HTREEITEM item);
  BOOL RedrawTreeItems(HTREEITEM first, HTREEITEM last);
  // Nested: drawing resumes when every SetRedraw(FALSE) has its SetRedraw(TRUE).
  void SetRedraw(BOOL redraw = TRUE);
  UINT GetCount() const { return m_nItemCount; }
  int GetRowCount() const { return CListCtrl::GetItemCount(); }
  HTREEITEM GetItemAtRow(int row) const;
  int GetIndent() const { return m_nIndent; }
  void SetIndent(int indent) { m_nIndent = indent < 15 ? 15 : indent; }
  BOOL IsInitialized() const { return m_bInit; }
  DWORD GetExStyle() const { return m_dwExStyle; }
  void SetExStyle(DWORD exStyle) { m_dwExStyle = exStyle; }
  int GetItemHeight() const { return m_nItemHeight; }
  void SetItemHeight(int height);
  void SetHorizontalGridColor(COLORREF color) { m_clrHGrid = color; }
  void SetVerticalGridColor(COLORREF color) { m_clrVGrid = color; }

  // Drawing.
  void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
  virtual void DrawExpandButton(CDC* dc, const CRect& button, BOOL expanded);
  int GetItemIndent(const COXTreeItem* item) const;
  static CRect GetButtonRect(const CRect& cell);
  // part 0 button, 1 image, 2 state image, 3 text; indent in/out is the item's tree indent.
  BOOL GetItemPartRect(int part, HTREEITEM item, CRect* rect, int* indent = nullptr) const;
  BOOL GetItemRect(HTREEITEM item, LPRECT rect, BOOL textOnly) const;
  // The row under the point (-1 for none) and TVHT_* flags.
  int HitTest(CPoint point, UINT* flags) const;
  HTREEITEM HitTest(TVHITTESTINFO* info) const;
  // Column width to show every row's content of the column.
  int GetOptimalColumnWidth(int col) const;
  BOOL SetOptimalColumnWidth(int col);
  // Starts editing the item's column through the list's label editor; the list's edit control or null.
  CWnd* EditLabel(HTREEITEM item, int col = 0);
  int GetEditColumn() const { return m_nEditColumn; }
  virtual CWnd* CreateCellEditor(COXTreeItem* item, int col);
  // The column-0 picture of the item (or of every selected row); the caller owns it.
  CImageList* CreateDragImage(HTREEITEM item, BOOL allSelected = FALSE);
  const mfc::MessageMap* GetMessageMap() const override;

  // Rows of the list.
  int RowOf(const COXTreeItem* item) const override;
  void InsertRowAt(COXTreeItem* item, int index) override;
  void DeleteRow(COXTreeItem* item) override;

  // The item behind a handle: the root for TVI_ROOT, a live item, or null.
  COXTreeItem* Resolve(HTREEITEM item) const;

 protected:
  void PreSubclassWindow() override;
  void OnDestroy() override;
  void OnTimer(UINT_PTR id) override;
  void OnSize(UINT type, int cx, int cy) override;
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  virtual void OnKeydown(UINT key);

 private:
  void Track(COXTreeItem* item);
  void Forget(COXTreeItem* item);
  void ShowNewItem(COXTreeItem* item);
  void ShowWithSubtree(COXTreeItem* item);
  LRESULT Notify(UINT code, UINT action, COXTreeItem* item, bool old);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnLButtonDblClk(WPARAM, LPARAM);
  LRESULT OnOtherButtonDown(UINT message, WPARAM, LPARAM);
  LRESULT OnRButtonDown(WPARAM, LPARAM);
  LRESULT OnMButtonDown(WPARAM, LPARAM);
  LRESULT OnKeyDownMessage(WPARAM, LPARAM);
  LRESULT OnScroll(UINT message, WPARAM, LPARAM);
  LRESULT OnHScroll(WPARAM, LPARAM);
  LRESULT OnVScroll(WPARAM, LPARAM);
  LRESULT OnStyleChanged(WPARAM, LPARAM);
  LRESULT OnParentNotify(WPARAM, LPARAM);
  LRESULT OnOptimalWidth(WPARAM, LPARAM);
  LRESULT OnFitColumns(WPARAM, LPARAM);
  LRESULT OnHeaderNotify(WPARAM, LPARAM);
  LRESULT OnBeginLabelEdit(NMHDR* hdr);
  LRESULT OnEndLabelEdit(NMHDR* hdr);
  void RedrawSelectedRows();
  void TypeAhead(UINT key);
  void AttachTreeHeader();
  int FindEditColumn(COXTreeItem* item, int row) const;
  BOOL FlatList() const;
  COLORREF TextBackground() const;
  HTREEITEM ItemOfRow(int row) const { return row >= 0 ? GetItemAtRow(row) : nullptr; }
  void ApplyRowState(COXTreeItem* item, UINT selected = 0, UINT selectedMask = 0);
  void DrawItemImages(HDC hdc, COXTreeItem* item, CRect& cell, int col, bool selectedLook, bool focus, bool rowSelected);
  void DrawCellText(HDC hdc, LPCSTR text, const CRect& cell, int format, bool focusLabel, COLORREF rest, UINT textFormat);
  int TextWidth(COXTreeItem* item, int col) const;

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
  int m_nItemHeight = 0;
  COXTreeItem* m_pDropItem = nullptr;
  int m_nRedraw = 0;
  UINT_PTR m_nTypeAheadTimer = 0;
  CString m_sTypeAhead;
  CPoint m_lastMouseDown{0, 0};
  int m_nEditColumn = -1;
  CWnd* m_pCellEditor = nullptr;
  PFNOXTVCOMPARE m_defaultCompare = nullptr;
  std::map<int, PFNOXTVCOMPARE> m_columnCompare;
  CImageList* m_pNormalImages = nullptr;
  CImageList* m_pStateImages = nullptr;
  bool m_bDrawingDragImage = false;
  bool m_bCreating = false;
  void DrawLines(HDC hdc, const CRect& cell, int shape);
  void DrawTreePart(HDC hdc, const CRect& part, COXTreeItem* item);
  std::set<const COXTreeItem*> m_live;
};
