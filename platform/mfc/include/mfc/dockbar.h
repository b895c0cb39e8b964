// The strip along a frame's edge that docked control bars sit in. Only what its painting needs is here:
// a face-coloured background and the etched borders of a control bar.
#pragma once
#include "mfc/wnd.h"

class CDockBar : public CWnd {
  DECLARE_DYNCREATE(CDockBar)

 public:
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  // WM_ERASEBKGND: the clip box in the face colour; TRUE when erased.
  virtual BOOL OnEraseBkgnd(HDC dc);
  // The etched borders of a control bar around rect (window coordinates); rect shrinks to their inside.
  void DrawBorders(HDC dc, RECT& rect);

 private:
  LRESULT OnEraseBkgndMessage(WPARAM wParam, LPARAM lParam);
};
