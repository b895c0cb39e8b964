// The strip along a frame's edge that docked control bars sit in (CFrameWnd::EnableDocking makes one per
// side): it lays its bars one after another along its edge and is as thick as the thickest of them. It
// paints a face-coloured background and the etched borders of a control bar.
#pragma once
#include "mfc/bars.h"

// The dock bars' child ids, one per side.
constexpr UINT AFX_IDW_DOCKBAR_TOP = 0xE81B;
constexpr UINT AFX_IDW_DOCKBAR_LEFT = 0xE81C;
constexpr UINT AFX_IDW_DOCKBAR_RIGHT = 0xE81D;
constexpr UINT AFX_IDW_DOCKBAR_BOTTOM = 0xE81E;

class CDockBar : public CControlBar {
  DECLARE_DYNCREATE(CDockBar)

 public:
  const mfc::MessageMap* GetMessageMap() const override;
  // Along its edge the whole length; across it the thickest docked bar (0 when none is docked).
  CSize CalcFixedLayout(BOOL stretch, BOOL horizontal) override;
  // The visible control bars docked in it, in their order along the edge.
  std::vector<CControlBar*> GetDockedBars() const;
  // Places the docked bars one after another.
  void LayoutBars();
  // Set for the dock bars a frame makes: the object goes with its window.
  BOOL m_bAutoDelete = FALSE;

 protected:
  // WM_ERASEBKGND: the clip box in the face colour; TRUE when erased.
  virtual BOOL OnEraseBkgnd(HDC dc);
  // The etched borders of a control bar around rect (window coordinates); rect shrinks to their inside.
  void DrawBorders(HDC dc, RECT& rect);
  void OnSize(UINT type, int cx, int cy) override;
  void PostNcDestroy() override;

 private:
  LRESULT OnEraseBkgndMessage(WPARAM wParam, LPARAM lParam);
};
