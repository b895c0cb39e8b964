// On a private Xvfb server: a real X click (XTest) on the main window's "&Device Mapping" bar item opens
// its popup as an X window showing the popup's pixels. On failure the screen is kept as a PNG.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "admin/TavrinAdminApp.h"
#include "admin/ui/MainFrame.h"
#include "draw/png.h"
#include "draw/surface.h"
#include "testsupport/admin_app.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

extern char** environ;
void RegisterTavrinAdminResources();

namespace {

using Clock = std::chrono::steady_clock;

// Polls the X server until the condition holds or the time is up.
bool Eventually(const std::function<bool()>& condition, int ms = 10000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

std::string FindXvfb() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string path = std::string(dir) + "/Xvfb";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

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

class XvfbMenuTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    const std::string xvfb = FindXvfb();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: the menu on X is not tested";
    for (int n = 500 + getpid() % 400;; ++n) {
      if (!std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
        name_ = ":" + std::to_string(n);
        break;
      }
    }
    const char* argv[] = {xvfb.c_str(), name_.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&server_, xvfb.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    ASSERT_TRUE(Eventually([&] { return (x_ = XOpenDisplay(name_.c_str())) != nullptr; })) << "Xvfb did not start";
    tavrin::win::SetScreenSize(1024, 768);
    ASSERT_TRUE(tavrin::win::StartX11Display(name_));

    static const bool registered = (RegisterTavrinAdminResources(), true);
    (void)registered;
    tavrin::test::SetAdminTestParameters(5000);
    if (HasFatalFailure()) return;
    tavrin::SetMessageBoxSink([](const std::string&, const std::string&, UINT) { return IDOK; });
    tavrin::test::StartAdminApp(app_);
    if (HasFatalFailure()) return;
    frame_ = GetAdminMainFrame();
    ASSERT_NE(frame_, nullptr);
    ShowWindow(frame_->m_hWnd, SW_SHOW);
    SetForegroundWindow(frame_->m_hWnd);
    tavrin::win::PaintPending();
    t_hook = SetWindowsHookEx(WH_CALLWNDPROC, IdleHook, nullptr, GetCurrentThreadId());
  }

  void TearDown() override {
    if (t_hook) UnhookWindowsHookEx(t_hook);
    t_hook = nullptr;
    t_onIdle = nullptr;
    tavrin::test::StopAdminApp(app_);
    tavrin::SetMessageBoxSink(nullptr);
    tavrin::win::StopDisplay();
    if (x_) XCloseDisplay(x_);
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
    SysrootTest::TearDown();
  }

  // The mapped top-level X window at exactly this rectangle (root coordinates), or 0.
  ::Window XWindowAt(const RECT& rect) {
    ::Window root, parent, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
      XWindowAttributes a{};
      if (XGetWindowAttributes(x_, children[i], &a) && a.map_state == IsViewable && a.x == rect.left &&
          a.y == rect.top && a.width == rect.right - rect.left && a.height == rect.bottom - rect.top)
        found = children[i];
    }
    if (children) XFree(children);
    return found;
  }

  // Whether the X window shows the window's surface.
  bool ShowsPixels(::Window xid, HWND hwnd) {
    tavrin::draw::Surface surface;
    if (!tavrin::win::CaptureWindow(hwnd, surface)) return false;
    XImage* image = XGetImage(x_, xid, 0, 0, surface.width(), surface.height(), AllPlanes, ZPixmap);
    if (!image) return false;
    bool equal = true;
    for (int y = 0; y < surface.height() && equal; ++y)
      for (int x = 0; x < surface.width() && equal; ++x)
        equal = (XGetPixel(image, x, y) & 0xFFFFFF) == (surface.at(x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return equal;
  }

  // The X screen as a PNG next to the test program; its path.
  std::string KeepScreen() {
    const std::string path = std::filesystem::absolute("xvfb_menu_failure.png").string();
    XImage* image = XGetImage(x_, DefaultRootWindow(x_), 0, 0, 1024, 768, AllPlanes, ZPixmap);
    if (!image) return "(no screen)";
    tavrin::draw::Surface screen(1024, 768);
    for (int y = 0; y < 768; ++y)
      for (int x = 0; x < 1024; ++x)
        screen.set(x, y, 0xFF000000u | static_cast<uint32_t>(XGetPixel(image, x, y) & 0xFFFFFF));
    XDestroyImage(image);
    tavrin::draw::WritePngFile(screen, path);
    return path;
  }

  std::string name_;
  pid_t server_ = 0;
  Display* x_ = nullptr;
  std::unique_ptr<CTavrinAdminApp> app_;
  CMainFrame* frame_ = nullptr;
};

TEST_F(XvfbMenuTest, ARealClickOnTheDeviceMappingItemShowsItsPopup) {
  HWND hwnd = frame_->m_hWnd;
  RECT window;
  GetWindowRect(hwnd, &window);
  ::Window frameX = 0;
  ASSERT_TRUE(Eventually([&] { return (frameX = XWindowAt(window)) != 0 && ShowsPixels(frameX, hwnd); }))
      << "the main window on X; screen kept in " << KeepScreen();

  RECT item{};
  ASSERT_TRUE(GetMenuItemRect(hwnd, frame_->GetMainMenu()->m_hMenu, 2, &item));
  bool popupShown = false, opened = false;
  RECT popupRect{};
  std::string kept;
  t_onIdle = [&](HWND popup) {
    if (opened) return;
    opened = true;
    GetWindowRect(popup, &popupRect);
    popupShown = Eventually([&] {
      const ::Window xid = XWindowAt(popupRect);
      return xid && ShowsPixels(xid, popup);
    });
    if (!popupShown) kept = KeepScreen();  // while the popup is open
    EndMenu();
  };
  XTestFakeMotionEvent(x_, -1, (item.left + item.right) / 2, (item.top + item.bottom) / 2, 0);
  XTestFakeButtonEvent(x_, 1, True, 0);
  XTestFakeButtonEvent(x_, 1, False, 0);
  XFlush(x_);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!opened && Clock::now() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
  ASSERT_TRUE(opened) << "the click opened no popup; screen kept in " << KeepScreen();
  EXPECT_TRUE(popupShown) << "the popup is not on X as drawn; screen kept in " << kept;
  EXPECT_EQ(popupRect.left, item.left);
  EXPECT_EQ(popupRect.top, item.bottom);
}

}  // namespace
