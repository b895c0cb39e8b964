// Views: frames and coordinates, flipped views, hit testing, autoresizing, ownership, and the events a
// window hands along its responders.
#include <string>
#include <vector>

#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;
using Kind = tavrin::gui::PointerEvent::Kind;
using tavrin::gui::PointerButton;

class FlippedView : public NSView {
 public:
  BOOL isFlipped() const override { return YES; }
};

// Notes the events it takes, in its own coordinates.
class RecordingView : public NSView {
 public:
  struct Seen {
    std::string what;
    NSPoint at;
    NSInteger clicks;
  };
  std::vector<Seen> seen;
  bool takesKeys = false;

  void mouseDown(NSEvent* e) override { Note("down", e); }
  void mouseUp(NSEvent* e) override { Note("up", e); }
  void mouseDragged(NSEvent* e) override { Note("dragged", e); }
  void rightMouseDown(NSEvent* e) override { Note("right", e); }
  void keyDown(NSEvent* e) override { seen.push_back({"key " + e->characters()->str(), {}, 0}); }
  BOOL acceptsFirstResponder() override { return takesKeys ? YES : NO; }

 private:
  void Note(const char* what, NSEvent* e) {
    seen.push_back({what, convertPoint_fromView(e->locationInWindow(), nullptr), e->clickCount()});
  }
};

class MovedWindow : public NSWindow {
 public:
  int moves = 0;
  void mouseMoved(NSEvent*) override { ++moves; }
};

TEST_F(AppKitTest, PointsConvertBetweenFlippedAndUnflippedViews) {
  NSView* root = alloc<NSView>()->initWithFrame(NSMakeRect(0, 0, 400, 300));
  NSView* flipped = alloc<FlippedView>()->initWithFrame(NSMakeRect(100, 50, 200, 200));
  NSView* inner = alloc<NSView>()->initWithFrame(NSMakeRect(10, 20, 50, 40));  // 20 from the flipped view's top
  root->addSubview(flipped);
  flipped->addSubview(inner);

  // The flipped view's top is at y 250 of the root; the inner view spans 250-20-40 .. 250-20.
  EXPECT_EQ(inner->convertPoint_toView(NSMakePoint(0, 0), root).x, 110);
  EXPECT_EQ(inner->convertPoint_toView(NSMakePoint(0, 0), root).y, 190);
  const NSPoint back = inner->convertPoint_fromView(NSMakePoint(110, 190), root);
  EXPECT_EQ(back.x, 0);
  EXPECT_EQ(back.y, 0);
  const NSPoint inFlipped = flipped->convertPoint_fromView(NSMakePoint(100, 250), root);
  EXPECT_EQ(inFlipped.y, 0);  // the flipped view's origin is its top-left

  // Hit testing takes the deepest view, skips hidden ones, and answers null outside.
  EXPECT_EQ(root->hitTest(NSMakePoint(120, 200)), inner);
  EXPECT_EQ(root->hitTest(NSMakePoint(290, 60)), flipped);
  EXPECT_EQ(root->hitTest(NSMakePoint(20, 20)), root);
  EXPECT_EQ(root->hitTest(NSMakePoint(500, 20)), nullptr);
  inner->setHidden(YES);
  EXPECT_EQ(root->hitTest(NSMakePoint(120, 200)), flipped);
  EXPECT_TRUE(inner->isHiddenOrHasHiddenAncestor());

  inner->release();
  flipped->release();
  root->release();
}

TEST_F(AppKitTest, SubviewsFollowTheirSuperviewsSizeByTheirMasks) {
  NSView* root = alloc<NSView>()->initWithFrame(NSMakeRect(0, 0, 400, 300));
  NSView* stretched = alloc<NSView>()->initWithFrame(NSMakeRect(10, 10, 380, 280));
  stretched->setAutoresizingMask(NSViewWidthSizable | NSViewHeightSizable);
  NSView* pinnedRight = alloc<NSView>()->initWithFrame(NSMakeRect(350, 10, 40, 20));
  pinnedRight->setAutoresizingMask(NSViewMinXMargin);
  NSView* fixed = alloc<NSView>()->initWithFrame(NSMakeRect(10, 10, 40, 20));
  root->addSubview(stretched);
  root->addSubview(pinnedRight);
  root->addSubview(fixed);

  root->setFrameSize(NSMakeSize(500, 350));
  EXPECT_TRUE(NSEqualRects(stretched->frame(), NSMakeRect(10, 10, 480, 330)));
  EXPECT_TRUE(NSEqualRects(pinnedRight->frame(), NSMakeRect(450, 10, 40, 20)));
  EXPECT_TRUE(NSEqualRects(fixed->frame(), NSMakeRect(10, 10, 40, 20)));

  stretched->release();
  pinnedRight->release();
  fixed->release();
  root->release();
}

TEST_F(AppKitTest, ViewTreesAndWindowsGiveBackEveryObjectTheyMade) {
  NSNotificationCenter::defaultCenter();  // what the process makes once
  MakeWindow(NSMakeRect(0, 0, 10, 10))->release();
  NSRunLoop::mainRunLoop();
  pool_->drain();
  pool_ = alloc<NSAutoreleasePool>()->init();
  const long before = cocoa::LiveObjectCount();
  {
    NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 200));
    window->setReleasedWhenClosed(YES);
    for (int i = 0; i < 50; ++i) {
      NSView* view = alloc<NSView>()->initWithFrame(NSMakeRect(i, i, 20, 20));
      window->contentView()->addSubview(view);
      view->release();
    }
    NSView* removed = alloc<NSView>()->initWithFrame(NSMakeRect(0, 0, 10, 10));
    window->contentView()->addSubview(removed);
    removed->removeFromSuperview();  // the superview's reference went with it
    removed->release();
    window->makeKeyAndOrderFront(nullptr);
    window->close();
  }
  ASSERT_TRUE(Until([&] {
    pool_->drain();
    pool_ = alloc<NSAutoreleasePool>()->init();
    return cocoa::LiveObjectCount() == before;  // a new pool for the old one
  }));
}

TEST_F(AppKitTest, ClicksReachTheViewUnderThePointerInItsOwnCoordinates) {
  NSWindow* window = MakeWindow(NSMakeRect(200, 200, 300, 200));
  auto* view = static_cast<RecordingView*>(alloc<RecordingView>()->initWithFrame(NSMakeRect(50, 40, 100, 80)));
  window->contentView()->addSubview(view);
  window->makeKeyAndOrderFront(nullptr);

  Click(window, NSMakePoint(60, 50));
  ASSERT_TRUE(Until([&] { return view->seen.size() == 2; }));
  EXPECT_EQ(view->seen[0].what, "down");
  EXPECT_EQ(view->seen[0].at.x, 10);
  EXPECT_EQ(view->seen[0].at.y, 10);
  EXPECT_EQ(view->seen[1].what, "up");

  // A second click soon after at the same place counts two; one outside the view does not reach it.
  Click(window, NSMakePoint(60, 50));
  ASSERT_TRUE(Until([&] { return view->seen.size() == 4; }));
  EXPECT_EQ(view->seen[2].clicks, 2);
  Click(window, NSMakePoint(10, 10));
  Click(window, NSMakePoint(70, 60), PointerButton::kRight);
  ASSERT_TRUE(Until([&] { return view->seen.size() == 5; }));
  EXPECT_EQ(view->seen[4].what, "right");

  // A drag goes to the view that took the press, even outside it.
  Pointer(window, NSMakePoint(60, 50), Kind::kPress);
  Pointer(window, NSMakePoint(250, 150), Kind::kMove);
  Pointer(window, NSMakePoint(250, 150), Kind::kRelease);
  ASSERT_TRUE(Until([&] { return view->seen.size() == 8; }));
  EXPECT_EQ(view->seen[6].what, "dragged");
  EXPECT_EQ(view->seen[6].at.x, 200);
  EXPECT_EQ(view->seen[7].what, "up");

  view->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, KeysGoToTheFirstResponderAndMovesOnlyWhenAskedFor) {
  auto* window = static_cast<MovedWindow*>(alloc<MovedWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(100, 100, 200, 100), NSTitledWindowMask, NSBackingStoreBuffered, NO));
  window->setReleasedWhenClosed(NO);
  auto* view = static_cast<RecordingView*>(alloc<RecordingView>()->initWithFrame(NSMakeRect(0, 0, 200, 100)));
  view->takesKeys = true;
  window->contentView()->addSubview(view);
  window->makeKeyAndOrderFront(nullptr);

  Click(window, NSMakePoint(20, 20));  // the view takes the keys from its click on
  tavrin::gui::TheDesktop().Key({tavrin::gui::Key::kCharacter, 'Q', true}, window->SurfaceId());
  tavrin::gui::TheDesktop().Key({tavrin::gui::Key::kShift, 0, true}, window->SurfaceId());
  tavrin::gui::TheDesktop().Key({tavrin::gui::Key::kCharacter, 'Q', true}, window->SurfaceId());
  tavrin::gui::TheDesktop().Key({tavrin::gui::Key::kShift, 0, false}, window->SurfaceId());
  ASSERT_TRUE(Until([&] { return view->seen.size() == 4; }));
  EXPECT_EQ(view->seen[2].what, "key q");
  EXPECT_EQ(view->seen[3].what, "key Q");

  Pointer(window, NSMakePoint(30, 30), Kind::kMove);
  window->setAcceptsMouseMovedEvents(YES);
  window->makeFirstResponder(nullptr);
  Pointer(window, NSMakePoint(40, 30), Kind::kMove);
  ASSERT_TRUE(Until([&] { return window->moves == 1; }));

  view->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, TheTitleBarMovesTheWindowAndItsCloseButtonClosesIt) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 200));
  window->makeKeyAndOrderFront(nullptr);
  const NSRect frame = window->frame();
  EXPECT_EQ(frame.size.height, 200 + kNSTitleBarHeight);

  // Dragged by its title: the window follows the pointer.
  Pointer(window, NSMakePoint(150, 210), Kind::kPress);
  Pointer(window, NSMakePoint(170, 200), Kind::kMove);
  ASSERT_TRUE(Until([&] { return window->frame().origin.x == 120; }));
  EXPECT_EQ(window->frame().origin.y, 90);
  Pointer(window, NSMakePoint(150, 210), Kind::kRelease);

  bool closed = false;
  struct Observer : NSObject {
    bool* closed;
    void WillClose(NSNotification*) { *closed = true; }
  };
  auto* observer = alloc<Observer>();
  observer->closed = &closed;
  NSNotificationCenter::defaultCenter()->addObserver_selector_name_object(observer, &Observer::WillClose,
                                                                          NSWindowWillCloseNotification, window);
  Click(window, NSMakePoint(14, window->frame().size.height - 11));
  ASSERT_TRUE(Until([&] { return closed; }));
  EXPECT_FALSE(window->isVisible());
  tavrin::gui::SurfaceState state;
  ASSERT_TRUE(tavrin::gui::TheDesktop().State(window->SurfaceId(), state));
  EXPECT_FALSE(state.visible);
  NSNotificationCenter::defaultCenter()->removeObserver(observer);
  observer->release();
  window->release();
}

}  // namespace
