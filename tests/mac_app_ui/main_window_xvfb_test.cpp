// TavrinMac's start-up and main window on a private Xvfb display, used as a person uses them: the pointer
// moved over the oval start-up window, real X clicks on a tree row, on the toolbar and on the close button,
// and on the alert of the quit rule. The person acts from a thread of its own while the main thread turns
// the run loop (also inside the alert's modal run). The screen is kept as a PNG when a check fails.
#include <gtest/gtest.h>

#include "../mac_app/on_main.h"
#include "../mac_app/xvfb/xvfb_person.h"
#include "main_window_fixture.h"

namespace tavrinmac::test {
namespace {

class MainWindowOnXvfb : public MainWindowTest, protected XvfbPerson {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    StartXvfb("TavrinMac");
  }

  void TearDown() override {
    KeepScreenIfFailed("tavrinmac_");
    if (window_) Quit();
    StopXvfb();
    MainWindowTest::TearDown();
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
