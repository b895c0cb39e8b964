// CListView: a view whose window is a list view control ("SysListView32"); the view's own styles
// (PreCreateWindow) become the control's.
#pragma once
#include "mfc/controls.h"

class CListView : public CView {
  DECLARE_DYNAMIC(CListView)

 public:
  ~CListView() override;
  BOOL CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height, HWND parent,
                UINT_PTR id, LPVOID param = nullptr) override;
  using CWnd::CreateEx;
  // The list control of this view's window.
  CListCtrl& GetListCtrl() const;
  void OnDraw(CDC*) override {}

 protected:
  void OnPaint() override;  // the control paints itself
  void OnNcDestroy() override;

 private:
  mutable CListCtrl list_;  // the same window, for the control's calls (never attached)
};
