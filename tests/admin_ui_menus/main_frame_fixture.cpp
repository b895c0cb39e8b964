#include "main_frame_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/admin_app.h"
#include "win32/window_manager.h"


namespace menu_test {
namespace {

thread_local std::function<void(HWND)> t_onIdle;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK IdleHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call && call->message == WM_ENTERIDLE && t_onIdle) {
    auto action = t_onIdle;
    action(reinterpret_cast<HWND>(call->lParam));
  }
  return CallNextHookEx(t_hook, code, wParam, lParam);
}

}  // namespace

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
  t_hook = SetWindowsHookEx(WH_CALLWNDPROC, IdleHook, nullptr, GetCurrentThreadId());
}

void Stop(std::unique_ptr<CTavrinAdminApp>& app) {
  if (t_hook) UnhookWindowsHookEx(t_hook);
  t_hook = nullptr;
  t_onIdle = nullptr;
  tavrin::test::StopAdminApp(app);
  tavrin::SetMessageBoxSink(nullptr);
}

void OnMenuIdle(std::function<void(HWND popup)> action) { t_onIdle = std::move(action); }

}  // namespace menu_test
