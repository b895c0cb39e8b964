// Tray icons on an X display with a system tray (the tests' own): docked into it, clicked there with real X
// input, taken out with the icon; standing alone while there is no tray, and docking when one comes.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "draw/surface.h"
#include "testsupport/eventually.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "testsupport/tray_owner.h"
#include "testsupport/x_screen.h"
#include "testsupport/x_tray_manager.h"
#include "testsupport/xvfb.h"
#include "win32/comctl.h"
#include "win32/shell.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::Eventually;
using tavrin::test::PumpUntil;

constexpr UINT kCallback = tavrin::test::kTrayCallback;
constexpr UINT kIconId = 128;
constexpr char kTip[] = "Pelko Admin Utility";
constexpr int kTraySize = 32;  // what the tray gives each icon

class TrayDockTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: docking into a system tray is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    tavrin::win::SetScreenSize(1024, 768);
    ASSERT_TRUE(tavrin::win::StartX11Display(xvfb_.name()));

    owner_ = tavrin::test::MakeTrayOwner(&heard_);
    ASSERT_NE(owner_, nullptr);
  }

  void TearDown() override {
    if (owner_) {
      NOTIFYICONDATA data = Data();
      Shell_NotifyIcon(NIM_DELETE, &data);
    }
    tavrin::win::StopDisplay();
    tray_.Stop();
    if (owner_) DestroyWindow(owner_);
    tavrin::test::DiscardMessages();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    SysrootTest::TearDown();
  }

  NOTIFYICONDATA Data() {
    NOTIFYICONDATA data{};
    data.cbSize = sizeof data;
    data.hWnd = owner_;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kCallback;
    data.hIcon = LoadIconResource(kIconId);
    snprintf(data.szTip, sizeof data.szTip, "%s", kTip);
    return data;
  }
  void AddIcon() {
    NOTIFYICONDATA data = Data();
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  }
  static HWND IconWindow() {
    const auto icons = tavrin::tray::Icons();
    return icons.empty() ? nullptr : icons[0].shown;
  }

  bool Named(::Window window, const std::string& name) {
    char* fetched = nullptr;
    const bool same = XFetchName(x_, window, &fetched) && fetched && name == fetched;
    if (fetched) XFree(fetched);
    return same;
  }
  XWindowAttributes Attributes(::Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(x_, window, &attributes);
    return attributes;
  }
  // The icon's X window embedded and shown in the tray; 0 for none.
  ::Window Docked() {
    for (unsigned long icon : tray_.Icons(x_))
      if (Named(icon, kTip) && Attributes(icon).map_state == IsViewable) return icon;
    return 0;
  }
  // The icon's own X window on the root, shown; 0 for none.
  ::Window OnItsOwn() {
    const ::Window found = tavrin::test::FindXWindowNamed(x_, kTip);
    return found && Attributes(found).map_state == IsViewable ? found : 0;
  }

  // The X pointer to the window's centre, then `count` clicks of `button` there (none: only the move).
  void Click(::Window window, unsigned button, int count) {
    const XWindowAttributes attributes = Attributes(window);
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(x_, window, DefaultRootWindow(x_), attributes.width / 2, attributes.height / 2, &x, &y,
                          &child);
    ASSERT_TRUE(tavrin::test::WaitXWindowAt(x_, x, y));
    XTestFakeMotionEvent(x_, -1, x, y, 0);
    for (int i = 0; i < count; ++i) {
      XTestFakeButtonEvent(x_, button, True, 0);
      XTestFakeButtonEvent(x_, button, False, 0);
    }
    XFlush(x_);
  }
  bool Heard(LPARAM mouseMessage) {
    return PumpUntil([&] {
      for (const auto& [id, message] : heard_)
        if (id == kIconId && static_cast<LPARAM>(message) == mouseMessage) return true;
      return false;
    });
  }

  tavrin::test::XvfbServer xvfb_;
  tavrin::test::XTrayManager tray_;
  Display* x_ = nullptr;
  HWND owner_ = nullptr;
  tavrin::test::TrayNotices heard_;
};

TEST_F(TrayDockTest, TheIconDocksIntoTheTrayTakesClicksThereAndLeavesWithTheIcon) {
  ASSERT_TRUE(tray_.Start(xvfb_.name(), kTraySize));
  AddIcon();
  ::Window docked = 0;
  ASSERT_TRUE(Eventually([&] { return (docked = Docked()) != 0; })) << "the icon did not dock";
  EXPECT_EQ(OnItsOwn(), 0u) << "a docked icon has no window of its own on the root";
  const XWindowAttributes attributes = Attributes(docked);
  EXPECT_EQ(attributes.width, kTraySize) << "the tray decides the size";
  EXPECT_EQ(attributes.height, kTraySize);
  EXPECT_FALSE(attributes.override_redirect);

  // The icon's picture, centred in the size the tray gave.
  tavrin::draw::Surface surface;
  ASSERT_TRUE(PumpUntil([&] { return tavrin::win::CaptureWindow(IconWindow(), surface); }));
  const int size = tavrin::tray::kTrayWindowSize, at = (kTraySize - size) / 2;
  EXPECT_TRUE(Eventually([&] {
    XImage* image = XGetImage(x_, docked, at, at, size, size, AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < size && same; ++y)
      for (int x = 0; x < size && same; ++x) same = (XGetPixel(image, x, y) & 0xFFFFFF) == (surface.at(x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return same;
  })) << "the docked window does not show the icon";

  // The icon's window follows it into the tray, so that the pointer resting on it there shows the tip
  // beside it.
  int pictureX = 0, pictureY = 0;
  ::Window child = 0;
  XTranslateCoordinates(x_, docked, DefaultRootWindow(x_), at, at, &pictureX, &pictureY, &child);
  RECT place{};
  EXPECT_TRUE(PumpUntil([&] {
    GetWindowRect(IconWindow(), &place);
    return place.left == pictureX && place.top == pictureY;
  })) << "the icon's window is at " << place.left << "," << place.top << ", its picture at " << pictureX << ","
      << pictureY;
  Click(docked, 1, 0);
  HWND tip = nullptr;
  EXPECT_TRUE(PumpUntil([&] {
    tip = FindWindow(TOOLTIPS_CLASS, kTip);
    return tip && IsWindowVisible(tip);
  })) << "no tip over the docked icon";
  RECT tipRect{};
  GetWindowRect(tip, &tipRect);
  EXPECT_LT(std::abs(tipRect.left - pictureX), 100);
  EXPECT_LT(std::abs(tipRect.top - pictureY), 60) << "the tip is not beside the docked icon";

  // A double click and a right click in the tray reach the owner as the icon's notifications.
  Click(docked, 1, 2);
  EXPECT_TRUE(Heard(WM_LBUTTONDBLCLK)) << "no double click";
  Click(docked, 3, 1);
  EXPECT_TRUE(Heard(WM_RBUTTONUP)) << "no right click";

  NOTIFYICONDATA data = Data();
  ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_TRUE(Eventually([&] { return tray_.Icons(x_).empty(); })) << "the icon stays in the tray";
  EXPECT_EQ(OnItsOwn(), 0u);
}

TEST_F(TrayDockTest, TheIconStandsAloneWithoutATrayDocksWhenOneComesAndStandsAloneAgainWhenItEnds) {
  AddIcon();
  auto aloneAtTheBottomRight = [&] {
    const ::Window own = OnItsOwn();
    if (!own) return false;
    const XWindowAttributes attributes = Attributes(own);
    return attributes.x > 512 && attributes.y > 384;
  };
  ASSERT_TRUE(Eventually(aloneAtTheBottomRight)) << "no icon of its own without a tray";

  ASSERT_TRUE(tray_.Start(xvfb_.name(), kTraySize));
  ASSERT_TRUE(Eventually([&] { return Docked() != 0; })) << "the icon did not dock into the tray that came";
  EXPECT_TRUE(Eventually([&] { return OnItsOwn() == 0; })) << "its own window stays";

  tray_.Stop();  // as if killed
  ASSERT_TRUE(PumpUntil(aloneAtTheBottomRight)) << "the icon did not come back on its own";
  Click(OnItsOwn(), 3, 1);
  EXPECT_TRUE(Heard(WM_RBUTTONUP)) << "the icon on its own again takes no clicks";
}

}  // namespace
