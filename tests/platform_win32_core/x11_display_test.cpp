// The X11 display on a private Xvfb server, driven with real X input through XTest.
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
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "draw/surface.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"
#include "win32/window_manager.h"
#include "win32/windows.h"


namespace {

using Clock = std::chrono::steady_clock;
using tavrin::test::Eventually;

bool g_clicked = false;
POINT g_click{};

LRESULT CALLBACK ClickProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN) {
    g_clicked = true;
    g_click = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class X11DisplayTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: the X11 display is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = XOpenDisplay(xvfb_.name().c_str());
    ASSERT_NE(x_, nullptr);
    tavrin::win::SetScreenSize(1024, 768);
    ASSERT_TRUE(tavrin::win::StartX11Display(xvfb_.name()));
  }

  void TearDown() override {
    tavrin::win::StopDisplay();
    if (hwnd_) DestroyWindow(hwnd_);
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    SysrootTest::TearDown();
  }

  ::Window FindXWindow(const std::string& title) { return tavrin::test::FindXWindowNamed(x_, title); }

  tavrin::test::XvfbServer xvfb_;
  Display* x_ = nullptr;
  HWND hwnd_ = nullptr;
};

TEST_F(X11DisplayTest, WindowAppearsWithItsTitleSizeAndPixelsAndTakesXTestClicks) {
  WNDCLASS wc{};
  wc.lpfnWndProc = ClickProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = "XvfbTest";
  RegisterClass(&wc);
  hwnd_ = CreateWindowEx(0, "XvfbTest", "On Xvfb", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 240, 160, nullptr,
                         nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd_, nullptr);
  tavrin::win::PaintPending();

  ::Window xid = 0;
  ASSERT_TRUE(Eventually([&] { return (xid = FindXWindow("On Xvfb")) != 0; }));
  XWindowAttributes attributes{};
  ASSERT_TRUE(Eventually([&] {
    XGetWindowAttributes(x_, xid, &attributes);
    return attributes.map_state == IsViewable;
  }));
  EXPECT_EQ(attributes.width, 240);
  EXPECT_EQ(attributes.height, 160);
  EXPECT_EQ(attributes.x, 100);
  EXPECT_EQ(attributes.y, 80);

  tavrin::draw::Surface surface;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd_, surface));
  auto same = [&] {
    XImage* image = XGetImage(x_, xid, 0, 0, 240, 160, AllPlanes, ZPixmap);
    if (!image) return false;
    bool equal = true;
    for (int y = 0; y < 160 && equal; ++y)
      for (int x = 0; x < 240 && equal; ++x)
        equal = (XGetPixel(image, x, y) & 0xFFFFFF) == (surface.at(x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return equal;
  };
  EXPECT_TRUE(Eventually(same)) << "XGetImage shows the window's surface";

  // A real X click in the client area: 4 pixels of frame and a 19-pixel caption above it.
  XTestFakeMotionEvent(x_, -1, 100 + 50, 80 + 60, 0);
  XTestFakeButtonEvent(x_, 1, True, 0);
  XTestFakeButtonEvent(x_, 1, False, 0);
  XFlush(x_);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!g_clicked && Clock::now() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  ASSERT_TRUE(g_clicked) << "the XTest click came back as WM_LBUTTONDOWN";
  EXPECT_EQ(g_click.x, 50 - 4);
  EXPECT_EQ(g_click.y, 60 - 4 - 19);
}

// The X windows stack as the Win32 windows do: an owned pop-up stays over its owner when the owner comes
// to the front over another window.
TEST_F(X11DisplayTest, XWindowsStackAsTheWindowsDoWithOwnedPopUpsOverTheirOwners) {
  WNDCLASS wc{};
  wc.lpfnWndProc = DefWindowProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = "XvfbStack";
  RegisterClass(&wc);
  HWND owner = CreateWindowEx(0, "XvfbStack", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 300, 200, nullptr,
                              nullptr, nullptr, nullptr);
  HWND owned = CreateWindowEx(0, "XvfbStack", "Owned", WS_POPUP | WS_BORDER | WS_VISIBLE, 150, 120, 120, 80, owner,
                              nullptr, nullptr, nullptr);
  HWND other = CreateWindowEx(0, "XvfbStack", "Other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 100, 300, 200, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner && owned && other);
  tavrin::win::PaintPending();
  using Names = std::vector<std::string>;
  Names seen;
  auto stacksAs = [&](const Names& expected) {  // bottom first
    return Eventually([&] { return (seen = tavrin::test::MappedXWindowNames(x_)) == expected; });
  };
  auto text = [&] {
    std::string all;
    for (auto& name : seen) all += name + " ";
    return all;
  };
  EXPECT_TRUE(stacksAs({"Owner", "Owned", "Other"})) << text();
  SetWindowPos(owner, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_TRUE(stacksAs({"Other", "Owner", "Owned"})) << text();
  SetWindowPos(owner, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_TRUE(stacksAs({"Owner", "Owned", "Other"})) << text();
  DestroyWindow(other);
  DestroyWindow(owned);
  DestroyWindow(owner);
}

}  // namespace
