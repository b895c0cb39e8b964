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
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "admin/TavrinAdminApp.h"
#include "admin/ui/MainFrame.h"
#include "draw/surface.h"
#include "main_frame_fixture.h"
#include "testsupport/admin_app.h"
#include "testsupport/message_pump.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::Eventually;

class XvfbMenuTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: the menu on X is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    tavrin::win::SetScreenSize(1024, 768);
    ASSERT_TRUE(tavrin::win::StartX11Display(xvfb_.name()));

    ASSERT_NO_FATAL_FAILURE(menu_test::StartWithMainFrame(app_, &frame_, false));
  }

  void TearDown() override {
    menu_test::Stop(app_);
    tavrin::win::StopDisplay();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
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
  std::string KeepScreen() { return tavrin::test::KeepXScreen(x_, "xvfb_menu_failure.png"); }

  tavrin::test::XvfbServer xvfb_;
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
  menu_test::OnMenuIdle([&](HWND popup) {
    if (opened) return;
    opened = true;
    GetWindowRect(popup, &popupRect);
    popupShown = Eventually([&] {
      const ::Window xid = XWindowAt(popupRect);
      return xid && ShowsPixels(xid, popup);
    });
    if (!popupShown) kept = KeepScreen();  // while the popup is open
    EndMenu();
  });
  XTestFakeMotionEvent(x_, -1, (item.left + item.right) / 2, (item.top + item.bottom) / 2, 0);
  XTestFakeButtonEvent(x_, 1, True, 0);
  XTestFakeButtonEvent(x_, 1, False, 0);
  XFlush(x_);
  tavrin::test::PumpUntil([&] { return opened; });
  ASSERT_TRUE(opened) << "the click opened no popup; screen kept in " << KeepScreen();
  EXPECT_TRUE(popupShown) << "the popup is not on X as drawn; screen kept in " << kept;
  EXPECT_EQ(popupRect.left, item.left);
  EXPECT_LE(std::abs(popupRect.top - item.bottom), 1) << "under it (the popup border may lift it by a pixel)";
}

}  // namespace
