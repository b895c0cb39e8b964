// Wrappers of the standard controls: CButton, CStatic and CTabCtrl over their window classes;
// CToolTipCtrl over the tip window; and a modeless property sheet whose tab control selects among its
// pages.
#pragma once
#include <map>
#include <memory>
#include <vector>

#include "mfc/collections.h"
#include "mfc/gdi.h"
#include "mfc/imagelist.h"
#include "mfc/wnd.h"
#include "win32/comctl.h"
#include "win32/controls.h"

class CButton : public CWnd {
  DECLARE_DYNAMIC(CButton)

 public:
  BOOL Create(LPCSTR caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  UINT GetState() const;
  void SetState(BOOL highlight);
  int GetCheck() const;
  void SetCheck(int check);
  UINT GetButtonStyle() const;
  void SetButtonStyle(UINT style, BOOL redraw = TRUE);
  // Called for each paint of an owner-drawn button (WM_DRAWITEM reflected by the parent).
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

 protected:
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CStatic : public CWnd {
  DECLARE_DYNAMIC(CStatic)

 public:
  BOOL Create(LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF);
};

// A tip window ("tooltips_class32"). A tool given as a window alone is that whole window (its parent
// hears the notifications); with an id it is a rectangle of the window. The owner relays its mouse
// messages (RelayEvent).
class CToolTipCtrl : public CWnd {
  DECLARE_DYNAMIC(CToolTipCtrl)

 public:
  BOOL Create(CWnd* parent, DWORD style = 0);
  BOOL AddTool(CWnd* tool, LPCSTR text = LPSTR_TEXTCALLBACK, LPCRECT rect = nullptr, UINT_PTR id = 0);
  BOOL AddTool(CWnd* tool, UINT textId, LPCRECT rect = nullptr, UINT_PTR id = 0);
  void DelTool(CWnd* tool, UINT_PTR id = 0);
  void UpdateTipText(LPCSTR text, CWnd* tool, UINT_PTR id = 0);
  void SetToolRect(CWnd* tool, UINT_PTR id, LPCRECT rect);
  CString GetToolText(CWnd* tool, UINT_PTR id = 0) const;
  void GetText(CString& text, CWnd* tool, UINT_PTR id = 0) const { text = GetToolText(tool, id); }
  int GetToolCount() const;
  void Activate(BOOL activate);
  BOOL IsActive() const { return active_; }
  int SetMaxTipWidth(int width);
  int GetMaxTipWidth() const;
  // TTDT_AUTOMATIC with one delay, or one of the three delays.
  void SetDelayTime(UINT delay);
  void SetDelayTime(DWORD which, int delay);
  int GetDelayTime(DWORD which) const;
  void SetTipBkColor(COLORREF color);
  void SetTipTextColor(COLORREF color);
  void Pop();
  void RelayEvent(LPMSG msg);
  // Whether the tip is up now.
  BOOL IsTipShown() const { return m_hWnd && ::IsWindowVisible(m_hWnd); }
  int PopCount() const { return pops_; }
  int RelayedCount() const { return relayed_; }

 protected:
  void OnTimer(UINT_PTR id) override { DefWindowProc(WM_TIMER, id, 0); }  // the tip's delays

 private:
  TOOLINFO ToolInfo(CWnd* tool, UINT_PTR id) const;
  bool active_ = true;
  int pops_ = 0;
  int relayed_ = 0;
};

class CTabCtrl : public CWnd {
  DECLARE_DYNAMIC(CTabCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int InsertItem(int item, LPCSTR text, int image = -1);
  BOOL GetItem(int item, TCITEM* tcItem) const;
  int GetItemCount() const;
  BOOL GetItemRect(int item, LPRECT rect) const;
  int GetCurSel() const;
  int SetCurSel(int item);
  void AdjustRect(BOOL larger, LPRECT rect);
  CImageList* GetImageList() const;
  CImageList* SetImageList(CImageList* images);
  DWORD SetExtendedStyle(DWORD newStyle, DWORD exMask = 0);
  BOOL DeleteAllItems();
  // Called for each tab of an owner-drawn control (WM_DRAWITEM reflected by the parent).
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

 protected:
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CHeaderCtrl : public CWnd {
  DECLARE_DYNAMIC(CHeaderCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int GetItemCount() const;
  int InsertItem(int pos, HDITEM* item);
  BOOL GetItem(int pos, HDITEM* item) const;
  BOOL SetItem(int pos, HDITEM* item);
  BOOL GetItemRect(int pos, LPRECT rect) const;
  // Owner-drawn items (WM_DRAWITEM reflected by the parent).
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

 protected:
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CEdit;

// The list view ("SysListView32"). Items are rows (report view) or icons; each has texts by column, an
// application value, LVIS_ state bits and an image. POSITIONs of the selection walk are item index + 1.
class CListCtrl : public CWnd {
  DECLARE_DYNAMIC(CListCtrl)

 public:
  ~CListCtrl() override;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

  // Styles and looks.
  DWORD GetExtendedStyle() const;
  DWORD SetExtendedStyle(DWORD exStyle);  // the styles before
  COLORREF GetBkColor() const;
  BOOL SetBkColor(COLORREF color);
  COLORREF GetTextColor() const;
  BOOL SetTextColor(COLORREF color);
  COLORREF GetTextBkColor() const;
  BOOL SetTextBkColor(COLORREF color);
  // LVSIL_NORMAL, LVSIL_SMALL or LVSIL_STATE; the list before (a temporary object for a list this object
  // does not know).
  CImageList* GetImageList(int type) const;
  CImageList* SetImageList(CImageList* images, int type);

  // Columns.
  int InsertColumn(int col, const LVCOLUMN* column);
  int InsertColumn(int col, LPCSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
  BOOL DeleteColumn(int col);
  BOOL GetColumn(int col, LVCOLUMN* column) const;
  BOOL SetColumn(int col, const LVCOLUMN* column);
  int GetColumnWidth(int col) const;
  BOOL SetColumnWidth(int col, int cx);  // or LVSCW_AUTOSIZE / LVSCW_AUTOSIZE_USEHEADER
  CHeaderCtrl* GetHeaderCtrl() const;

  // Items.
  int GetItemCount() const;
  int InsertItem(const LVITEM* item);
  int InsertItem(int item, LPCSTR text);
  int InsertItem(int item, LPCSTR text, int image);
  int InsertItem(UINT mask, int item, LPCSTR text, UINT state, UINT stateMask, int image, LPARAM param);
  BOOL DeleteItem(int item);
  BOOL DeleteAllItems();
  BOOL GetItem(LVITEM* item) const;
  BOOL SetItem(const LVITEM* item);
  BOOL SetItem(int item, int subItem, UINT mask, LPCSTR text, int image, UINT state, UINT stateMask, LPARAM param);
  BOOL SetItemText(int item, int subItem, LPCSTR text);
  CString GetItemText(int item, int subItem) const;
  int GetItemText(int item, int subItem, LPSTR text, int length) const;
  DWORD_PTR GetItemData(int item) const;
  BOOL SetItemData(int item, DWORD_PTR data);
  UINT GetItemState(int item, UINT mask) const;
  BOOL SetItemState(int item, UINT state, UINT mask);  // item -1: every item
  BOOL SetItemState(int item, LVITEM* state);
  // Check boxes (LVS_EX_CHECKBOXES): state image 2 is checked.
  BOOL GetCheck(int item) const;
  BOOL SetCheck(int item, BOOL check = TRUE);
  int FindItem(LVFINDINFO* find, int start = -1) const;

  // Selection and focus.
  UINT GetSelectedCount() const;
  // Null when nothing is selected.
  POSITION GetFirstSelectedItemPosition() const;
  // The item at the position; the position moves to the next selected item (null after the last).
  int GetNextSelectedItem(POSITION& position) const;
  int GetNextItem(int item, int flags) const;
  int GetSelectionMark() const;
  int SetSelectionMark(int item);

  // Geometry and scrolling.
  BOOL GetItemRect(int item, LPRECT rect, UINT code) const;
  BOOL GetSubItemRect(int item, int subItem, int area, RECT& rect) const;
  BOOL GetItemPosition(int item, LPPOINT point) const;
  BOOL SetItemPosition(int item, POINT point);
  int HitTest(LVHITTESTINFO* info) const;
  int HitTest(POINT point, UINT* flags = nullptr) const;
  int SubItemHitTest(LVHITTESTINFO* info);
  BOOL EnsureVisible(int item, BOOL partialOk);
  int GetTopIndex() const;
  int GetCountPerPage() const;
  BOOL Scroll(SIZE size);
  BOOL RedrawItems(int first, int last);
  BOOL Update(int item);

  // The label editor.
  CEdit* EditLabel(int item);
  CEdit* GetEditControl() const;
  // Called for each row of an owner-drawn list (WM_DRAWITEM reflected by the parent).
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

 protected:
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // Wraps the header when no header object has taken it.
  mutable CHeaderCtrl defaultHeader_;
  // The label editor's window for the editor calls (never attached).
  mutable std::unique_ptr<CEdit> editor_;
};

// The property sheet and its pages.
#include "mfc/propsheet.h"  // NOLINT(build/include_order)
