// Wrappers of the standard controls: CButton, CStatic and CTabCtrl over their window classes;
// CToolTipCtrl over the tip window; and a modeless property sheet whose tab control selects among its
// pages.
#pragma once
#include <map>
#include <vector>

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

class CListCtrl : public CWnd {
  DECLARE_DYNAMIC(CListCtrl)

 public:
  ~CListCtrl() override;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int InsertColumn(int col, LPCSTR heading, int format = 0, int width = -1);
  int InsertItem(int item, LPCSTR text);
  BOOL SetItemText(int item, int subItem, LPCSTR text);
  CString GetItemText(int item, int subItem) const;
  int GetItemCount() const;
  BOOL DeleteAllItems();
  CHeaderCtrl* GetHeaderCtrl() const;
  // The calls the panes make, each one message to the control.
  DWORD SetExtendedStyle(DWORD s) { return (DWORD)::SendMessage(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, s); }
  BOOL SetBkColor(COLORREF c) { return (BOOL)::SendMessage(m_hWnd, LVM_SETBKCOLOR, 0, c); }
  BOOL SetTextBkColor(COLORREF c) { return (BOOL)::SendMessage(m_hWnd, LVM_SETTEXTBKCOLOR, 0, c); }
  BOOL SetTextColor(COLORREF c) { return (BOOL)::SendMessage(m_hWnd, LVM_SETTEXTCOLOR, 0, c); }
  BOOL EnsureVisible(int i, BOOL p) { return (BOOL)::SendMessage(m_hWnd, LVM_ENSUREVISIBLE, i, p); }
  BOOL DeleteColumn(int c) { return (BOOL)::SendMessage(m_hWnd, LVM_DELETECOLUMN, c, 0); }
  BOOL DeleteItem(int i) { return (BOOL)::SendMessage(m_hWnd, LVM_DELETEITEM, i, 0); }
  int GetNextItem(int i, int f) const { return (int)::SendMessage(m_hWnd, LVM_GETNEXTITEM, (WPARAM)i, f); }
  UINT GetSelectedCount() const { return (UINT)::SendMessage(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0); }
  BOOL SetItemState(int i, UINT st, UINT m) { LVITEM it{}; it.stateMask = m; it.state = st; return (BOOL)::SendMessage(m_hWnd, LVM_SETITEMSTATE, i, (LPARAM)&it); }
  // Called for each row of an owner-drawn list (WM_DRAWITEM reflected by the parent).
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

 protected:
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // Wraps the header when no header object has taken it.
  mutable CHeaderCtrl defaultHeader_;
};

// The property sheet and its pages.
#include "mfc/propsheet.h"  // NOLINT(build/include_order)
