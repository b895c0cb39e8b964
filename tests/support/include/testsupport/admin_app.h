// The whole admin application in the test's thread, for the fixtures that run it end to end
// (library tavrin_testsupport_admin).
#pragma once
#include <memory>

#include "admin/TavrinAdminApp.h"
#include "mfc/doc.h"

namespace tavrin::test {

// The parameters such tests run with: every trace line, the given GUI refresh period, 3 s to stop mapping.
void SetAdminTestParameters(DWORD guiRefreshPeriodMs);

// Makes the application with "-nosplash" and this thread as its user-interface thread, and initialises it.
void StartAdminApp(std::unique_ptr<CTavrinAdminApp>& app);

// Stops device mapping, closes the documents and ends what StartAdminApp made; nothing when app is null.
void StopAdminApp(std::unique_ptr<CTavrinAdminApp>& app);

// One pane of the main window on its own, for tests without the main frame: the view is made as a child of
// a hidden top-level window, joins the document and has its initial update; it goes with this object.
class PaneHost {
 public:
  PaneHost(CDocument* document, const CRuntimeClass* viewClass, int width = 800, int height = 600);
  ~PaneHost();
  PaneHost(const PaneHost&) = delete;
  PaneHost& operator=(const PaneHost&) = delete;
  CView* view() const { return view_; }
  template <class View>
  View& as() const {
    return *static_cast<View*>(view_);
  }

 private:
  CWnd host_;
  CView* view_ = nullptr;
};

}  // namespace tavrin::test
