// The tree list's header: the sort mark on the sorted column, optimal width on a divider double-click,
// and a redraw as the mouse enters or leaves it (through a mouse hook shared by all headers).
#pragma once
#include "mfc/controls.h"

class COXTreeHeader : public CHeaderCtrl {
  DECLARE_DYNAMIC(COXTreeHeader)

 public:
  COXTreeHeader() = default;
  ~COXTreeHeader() override;

  BOOL SortColumn(int col, int direction);
  int GetSortColumn() const { return m_nSortCol; }
  int GetSortOrder() const { return m_nSortOrder; }
  void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
  const mfc::MessageMap* GetMessageMap() const override;

  // The process's mouse hook, while any header is attached.
  static HHOOK HookHandle();

 protected:
  void PreSubclassWindow() override;

 private:
  LRESULT OnDestroy(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnLButtonUp(WPARAM, LPARAM);
  LRESULT OnLButtonDblClk(WPARAM, LPARAM);
  void ReleaseHook();

  int m_nSortCol = -1;
  int m_nSortOrder = 0;
  BOOL m_bLButtonDown = FALSE;
  bool m_bHookUser = false;
};

// Sent by the header to its parent on a divider double-click: wParam is the column to size to its
// content.
constexpr UINT WM_OXTREE_OPTIMALWIDTH = WM_USER + 93;
