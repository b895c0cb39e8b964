// TavrinMac's start-up and main window on a private Xvfb display, used as a person uses them: the pointer
// moved over the oval start-up window, real X clicks on a tree row, on the toolbar and on the close button,
// and on the alert of the quit rule. The person acts from a thread of its own while the main thread turns
// the run loop (also inside the alert's modal run). The screen is kept as a PNG when a check fails.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "../mac_app/on_main.h"
#include "gui/desktop.h"
#include "main_window_fixture.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"

namespace tavrinmac::test {
namespace {

using namespace std::chrono_literals;

class MainWindowOnXvfb : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: TavrinMac on the X display is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    ASSERT_TRUE(appkit::StartX11Display(xvfb_.name()));
  }

  void TearDown() override {
    if (x_ && HasFailure()) {
      const std::string name = std::string("tavrinmac_") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
      ADD_FAILURE() << "the screen at the failure: " << tavrin::test::KeepXScreen(x_, name);
    }
    if (window_) Quit();
    appkit::StopDisplay();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    MainWindowTest::TearDown();
  }

  // The person's part, on a thread of its own; the main thread turns the run loop until it is done and
  // ends whatever modal run it left open.
  void Person(const std::function<void()>& body) {
    std::atomic<bool> done{false};
    std::thread person([&] {
      body();
      for (int i = 0; i < 50 && OnMain([] { return NSApp->modalWindow() != nullptr; }); ++i)
        OnMain([] { return (NSApp->abortModal(), 0); });
      done = true;
      NSRunLoop::mainRunLoop()->Enqueue([] {}, 0);
    });
    appkit::RunMainLoopUntil([&] { return done.load(); }, 120);
    person.join();
  }

  // From the person's thread: waits until the condition, checked on the main thread, holds.
  static bool Await(const std::function<bool()>& condition, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!OnMain(condition)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);  // the next look; the main thread runs meanwhile
    }
    return true;
  }

  bool XViewable(const std::string& title) {
    ::Window xid = tavrin::test::FindXWindowNamed(x_, title);
    XWindowAttributes attributes{};
    return xid && XGetWindowAttributes(x_, xid, &attributes) && attributes.map_state == IsViewable;
  }

  std::pair<int, int> OnX(NSWindow* window, NSPoint at) {
    return OnMain([&] {
      const int height = tavrin::gui::TheDesktop().ScreenBounds().height();
      const NSPoint screen = window->convertBaseToScreen(at);
      return std::pair<int, int>(static_cast<int>(screen.x), height - static_cast<int>(screen.y));
    });
  }

  void XMoveTo(NSWindow* window, NSPoint at) {
    const auto [x, y] = OnX(window, at);
    XTestFakeMotionEvent(x_, -1, x, y, 0);
    XFlush(x_);
  }

  void XClickAt(NSWindow* window, NSPoint at) {
    XMoveTo(window, at);
    XTestFakeButtonEvent(x_, 1, True, 0);
    XTestFakeButtonEvent(x_, 1, False, 0);
    XFlush(x_);
  }

  // Main thread.
  bool Enabled(const std::string& identifier) {
    NSArray* items = window_->mainWindow->toolbar()->items();
    for (NSUInteger i = 0; i < items->count(); ++i) {
      auto* item = static_cast<NSToolbarItem*>(items->objectAtIndex(i));
      if (item->itemIdentifier()->str() == identifier) return item->isEnabled() == YES;
    }
    return false;
  }

  tavrin::test::XvfbServer xvfb_;
  _XDisplay* x_ = nullptr;
};

TEST_F(MainWindowOnXvfb, TheOvalGoesAtAMovementAndTheToolbarConnectsAndTheQuitRuleHolds) {
  Launch(/*ovalSeconds=*/60, /*waitForTree=*/false);  // only the pointer ends the start-up window soon
  CustomWindow* oval = window_->ovalScreen;
  Person([&] {
    // The oval start-up window shows alone; the pointer moving over it closes it and the main window comes.
    ASSERT_TRUE(Await([&] { return XViewable("Pelko"); })) << "the start-up window never showed";
    EXPECT_FALSE(XViewable("TavrinMac"));
    XMoveTo(oval, NSMakePoint(200, 60));
    XMoveTo(oval, NSMakePoint(210, 70));
    ASSERT_TRUE(Await([&] { return window_->started(); })) << "the start-up window stayed";
    ASSERT_TRUE(Await([&] { return XViewable("TavrinMac") && !XViewable("Pelko"); }));

    // A click on the printer's row, then on Connect in the toolbar.
    ASSERT_TRUE(Await([&] { return TreeRow("Office LaserPrinter 1020") >= 0; }));
    XClickAt(window_->mainWindow, OnMain([&] { return TreeRowPoint(TreeRow("Office LaserPrinter 1020")); }));
    ASSERT_TRUE(Await([&] { return Enabled("Connect"); })) << "Connect never enabled";
    XClickAt(window_->mainWindow, OnMain([&] { return ToolbarItemPoint("Connect"); }));
    ASSERT_TRUE(Await([&] { return HasLine(LogLines(), "127.0.0.2 | Office LaserPrinter 1020 Made Busy Success"); }));
    ASSERT_TRUE(Await([&] { return TreeCell(TreeRow("Office LaserPrinter 1020"), "3") == "Connected"; }));
    EXPECT_TRUE(Busy("127.0.0.2", 1));

    // The close button: the quit rule's alert, answered with its button; the window stays.
    const double height = OnMain([&] { return window_->mainWindow->frame().size.height; });
    XClickAt(window_->mainWindow, NSMakePoint(14, height - kNSTitleBarHeight / 2));
    ASSERT_TRUE(Await([&] { return NSApp->modalWindow() != nullptr; })) << "no alert";
    const std::string title = OnMain([] { return NSApp->modalWindow()->title()->str(); });
    EXPECT_EQ(title, "Note:");
    ASSERT_TRUE(Await([&] { return XViewable("Note:"); }));
    NSWindow* alert = OnMain([] { return NSApp->modalWindow(); });
    const NSRect ok = OnMain([&] {
      NSArray* views = alert->contentView()->subviews();
      for (NSUInteger i = 0; i < views->count(); ++i)
        if (auto* button = dynamic_cast<NSButton*>(views->objectAtIndex(i)); button && button->title()->str() == "Ok")
          return button->frame();
      return NSZeroRect;
    });
    ASSERT_GT(ok.size.width, 0) << "the alert has no Ok button";
    XClickAt(alert, NSMakePoint(NSMidX(ok), NSMidY(ok)));
    ASSERT_TRUE(Await([&] { return NSApp->modalWindow() == nullptr; }));
    EXPECT_FALSE(OnMain([&] { return window_->quitting(); }));
    EXPECT_TRUE(XViewable("TavrinMac"));

    // DisConnect from the toolbar gives the printer back.
    XClickAt(window_->mainWindow, OnMain([&] { return TreeRowPoint(TreeRow("Office LaserPrinter 1020")); }));
    ASSERT_TRUE(Await([&] { return Enabled("DisConnect"); }));
    XClickAt(window_->mainWindow, OnMain([&] { return ToolbarItemPoint("DisConnect"); }));
    ASSERT_TRUE(Await([&] { return HasLine(LogLines(), "127.0.0.2 | Office LaserPrinter 1020 Made Free"); }));
    EXPECT_TRUE(Await([&] { return !Busy("127.0.0.2", 1); }));
  });
}

}  // namespace
}  // namespace tavrinmac::test
