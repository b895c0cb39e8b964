// CTavrinAdminView: the document template's view. It draws nothing; the panes of the main frame are
// the real views.
#pragma once
#include "mfc/mfc.h"

class CTavrinAdminView : public CView {
  DECLARE_DYNCREATE(CTavrinAdminView)

 public:
  void OnDraw(CDC* dc) override;
};
