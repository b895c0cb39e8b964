#include "testsupport/admin_app.h"

#include <gtest/gtest.h>

#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"
#include "win32/registry.h"

namespace mfc {
void SetCurrentThreadObject(CWinThread* thread);
}

namespace tavrin::test {

void SetAdminTestParameters(DWORD guiRefreshPeriodMs) {
  const char* parameters = "SOFTWARE\\Tavrin\\Parameters";
  ASSERT_EQ(registry::SetDword(HKEY_LOCAL_MACHINE, parameters, "AppTraceLevel", 1), ERROR_SUCCESS);
  ASSERT_EQ(registry::SetDword(HKEY_LOCAL_MACHINE, parameters, "AppGuiRefreshPeriod", guiRefreshPeriodMs),
            ERROR_SUCCESS);
  ASSERT_EQ(registry::SetDword(HKEY_LOCAL_MACHINE, parameters, "AppStopDeviceMappingPeriod", 3000), ERROR_SUCCESS);
}

void StartAdminApp(std::unique_ptr<CTavrinAdminApp>& app) {
  app = std::make_unique<CTavrinAdminApp>(GetAdminUiShell());
  char arg0[] = "TavrinAdmin";
  char arg1[] = "-nosplash";
  char* argv[] = {arg0, arg1};
  app->SetCommandLine(2, argv);
  mfc::SetCurrentThreadObject(app.get());  // this thread is the program's user-interface thread
  app->m_nThreadID = GetCurrentThreadId();
  ASSERT_TRUE(app->InitInstance());
}

void StopAdminApp(std::unique_ptr<CTavrinAdminApp>& app) {
  if (!app) return;
  if (CTavrinAdminDoc* doc = app->GetDocument()) {
    if (doc->IsDeviceMappingStarted()) doc->StopDeviceMapping(FALSE);
    app->CloseAllDocuments(FALSE);
  }
  app->ExitInstance();
  mfc::SetCurrentThreadObject(nullptr);
  app.reset();
}

PaneHost::PaneHost(CDocument* document, const CRuntimeClass* viewClass, int width, int height) {
  host_.CreateEx(0, "", WS_POPUP, 0, 0, width, height, nullptr, 0);
  view_ = static_cast<CView*>(viewClass->CreateObject());
  if (!view_) return;
  if (document) document->AddView(view_);
  if (!view_->CreateEx(0, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, width, height, host_.GetSafeHwnd(), 0xE900)) {
    delete view_;  // leaves the document as it goes
    view_ = nullptr;
    return;
  }
  view_->OnInitialUpdate();
}

PaneHost::~PaneHost() {
  if (view_ && view_->GetSafeHwnd()) view_->DestroyWindow();  // the view deletes itself
  host_.DestroyWindow();
}

}  // namespace tavrin::test
