#include "main_frame_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/admin_app.h"
#include "testsupport/menu_idle.h"
#include "win32/window_manager.h"

namespace menu_test {

void StartWithMainFrame(std::unique_ptr<CTavrinAdminApp>& app, CMainFrame** frame, bool focus) {
  tavrin::test::SetAdminTestParameters(5000);
  if (::testing::Test::HasFatalFailure()) return;
  tavrin::SetMessageBoxSink([](const std::string&, const std::string&, UINT) { return IDOK; });
  tavrin::test::StartAdminApp(app);
  if (::testing::Test::HasFatalFailure()) return;
  *frame = GetAdminMainFrame();
  ASSERT_NE(*frame, nullptr);
  const HWND hwnd = (*frame)->m_hWnd;
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  if (focus) SetFocus(hwnd);
  tavrin::win::PaintPending();
  tavrin::test::OnMenuIdle(nullptr);
}

void Stop(std::unique_ptr<CTavrinAdminApp>& app) {
  tavrin::test::StopMenuIdle();
  tavrin::test::StopAdminApp(app);
  tavrin::SetMessageBoxSink(nullptr);
}

void OnMenuIdle(std::function<void(HWND popup)> action) { tavrin::test::OnMenuIdle(std::move(action)); }

}  // namespace menu_test
