#include "admin/TavrinAdminView.h"

#include "admin/TavrinAdminDoc.h"

IMPLEMENT_DYNCREATE(CTavrinAdminView, CView)

void CTavrinAdminView::OnDraw(CDC*) {
  // The real panes draw themselves; this view only belongs to the document.
  (void)static_cast<CTavrinAdminDoc*>(GetDocument());
}
