// AppKit windows on a private Xvfb display, driven with real X input through XTest.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status

#include <string>

#include "appkit_fixture.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"

namespace {

class ClickedView : public NSView {
 public:
  int downs = 0;
  NSPoint at{};
  void mouseDown(NSEvent* e) override {
    ++downs;
    at = convertPoint_fromView(e->locationInWindow(), nullptr);
  }
  void drawRect(NSRect) override {
    NSColor::colorWithCalibratedRed_green_blue_alpha(0.2f, 0.4f, 0.8f, 1)->set();
    NSBezierPath::bezierPathWithOvalInRect(bounds())->fill();
  }
};

class AppKitOnXvfb : public appkit_test::AppKitTest {
 protected:
  void SetUp() override {
    AppKitTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: AppKit on the X display is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    tavrin::gui::TheDesktop().SetScreenSize(1024, 768);
    ASSERT_TRUE(appkit::StartX11Display(xvfb_.name()));
  }

  void TearDown() override {
    appkit::StopDisplay();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    AppKitTest::TearDown();
  }

  ::Window FindXWindow(const std::string& title) { return tavrin::test::FindXWindowNamed(x_, title); }

  void XClick(int x, int y) {
    XTestFakeMotionEvent(x_, -1, x, y, 0);
    XTestFakeButtonEvent(x_, 1, True, 0);
    XTestFakeButtonEvent(x_, 1, False, 0);
    XFlush(x_);
  }

  tavrin::test::XvfbServer xvfb_;
  Display* x_ = nullptr;
};

TEST_F(AppKitOnXvfb, AWindowShowsItsPixelsAndTakesRealClicksAndTitleDrags) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 400, 240, 160));
  window->setTitle(NSString::stringWithUTF8String("Mac on Xvfb"));
  auto* view = static_cast<ClickedView*>(alloc<ClickedView>()->initWithFrame(NSMakeRect(20, 20, 200, 120)));
  window->contentView()->addSubview(view);
  window->makeKeyAndOrderFront(nullptr);

  ::Window xid = 0;
  ASSERT_TRUE(Until([&] { return (xid = FindXWindow("Mac on Xvfb")) != 0; }));
  XWindowAttributes attributes{};
  ASSERT_TRUE(Until([&] {
    XGetWindowAttributes(x_, xid, &attributes);
    return attributes.map_state == IsViewable;
  }));
  // The frame's top-left on a screen 768 high: y = 768 - (400 + 160 + title bar).
  EXPECT_EQ(attributes.x, 100);
  EXPECT_EQ(attributes.y, 768 - 400 - 160 - static_cast<int>(kNSTitleBarHeight));
  EXPECT_EQ(attributes.height, 160 + static_cast<int>(kNSTitleBarHeight));

  tavrin::draw::Surface pixels = Pixels(window);
  ASSERT_TRUE(Until([&] {
    XImage* image = XGetImage(x_, xid, 0, 0, 240, attributes.height, AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < attributes.height && same; y += 3)
      for (int x = 0; x < 240 && same; x += 3) same = (XGetPixel(image, x, y) & 0xFFFFFF) == (pixels.at(x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return same;
  }));

  // A click in the middle of the oval: 120 across the window, 80 up from its bottom.
  XClick(attributes.x + 120, attributes.y + attributes.height - 80);
  ASSERT_TRUE(Until([&] { return view->downs == 1; }));
  EXPECT_EQ(view->at.x, 100);
  EXPECT_EQ(view->at.y, 60);

  // Dragged by its title bar 30 pixels right and 40 down.
  XTestFakeMotionEvent(x_, -1, attributes.x + 120, attributes.y + 10, 0);
  XTestFakeButtonEvent(x_, 1, True, 0);
  XTestFakeMotionEvent(x_, -1, attributes.x + 150, attributes.y + 50, 0);
  XTestFakeButtonEvent(x_, 1, False, 0);
  XFlush(x_);
  ASSERT_TRUE(Until([&] { return window->frame().origin.x == 130 && window->frame().origin.y == 360; }));
  ASSERT_TRUE(Until([&] {
    XGetWindowAttributes(x_, xid, &attributes);
    return attributes.x == 130;
  }));

  view->release();
  window->close();
  window->release();
}

}  // namespace
