// The window core on its own, headless: surfaces stacked and composed, damage, input routing with
// capture and focus, screenshots.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "draw/png.h"
#include "gui/desktop.h"
#include "gui/screenshot.h"

namespace {

using tavrin::draw::Pixel;
using tavrin::draw::Point;
using tavrin::draw::Rect;
using tavrin::draw::Region;
using tavrin::draw::Rgb;
using tavrin::draw::Surface;
using namespace tavrin::gui;

constexpr Pixel kRed = Rgb(200, 0, 0);
constexpr Pixel kBlue = Rgb(0, 0, 200);

SurfaceState Shown(Rect rect, const std::string& title) {
  SurfaceState state;
  state.rect = rect;
  state.visible = true;
  state.title = title;
  return state;
}

void Fill(Desktop& desktop, SurfaceId id, Pixel colour) {
  auto pixels = desktop.Pixels(id);
  ASSERT_NE(pixels, nullptr);
  for (int y = 0; y < pixels->height(); ++y)
    for (int x = 0; x < pixels->width(); ++x) pixels->set(x, y, colour);
  desktop.Damage(id, pixels->bounds());
}

struct Recorder : Presenter {
  void SurfaceChanged(SurfaceId id) override { Add("changed", id); }
  void SurfaceDestroyed(SurfaceId id) override { Add("destroyed", id); }
  void StackChanged() override {
    std::lock_guard guard(lock);
    heard.push_back("stacked");
  }
  void SurfaceDamaged(SurfaceId id, const Rect& rect) override {
    Add("damaged", id);
    std::lock_guard guard(lock);
    lastDamage = rect;
    damagedOn = std::this_thread::get_id();
  }
  void Add(const std::string& what, SurfaceId id) {
    std::lock_guard guard(lock);
    heard.push_back(what + " " + std::to_string(id));
  }
  std::mutex lock;
  std::vector<std::string> heard;
  Rect lastDamage;
  std::thread::id damagedOn;
};

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { desktop_.SetScreenSize(200, 100); }

  Desktop desktop_;
};

TEST_F(DesktopTest, ComposesSurfacesBottomToTopOverTheDesktopColour) {
  SurfaceId bottom = desktop_.Create(Shown({10, 10, 60, 60}, "bottom"));
  SurfaceId top = desktop_.Create(Shown({40, 40, 90, 90}, "top"));
  Fill(desktop_, bottom, kRed);
  Fill(desktop_, top, kBlue);
  EXPECT_EQ(desktop_.Stack(), (std::vector<SurfaceId>{top, bottom}));

  auto screen = desktop_.Compose();
  ASSERT_EQ(screen.width(), 200);
  ASSERT_EQ(screen.height(), 100);
  EXPECT_EQ(screen.at(5, 5), kDesktopColour);
  EXPECT_EQ(screen.at(20, 20), kRed);
  EXPECT_EQ(screen.at(50, 50), kBlue);  // the overlap shows the upper surface
  EXPECT_EQ(screen.at(85, 85), kBlue);

  desktop_.Raise(bottom);
  EXPECT_EQ(desktop_.Compose().at(50, 50), kRed);
  desktop_.Lower(bottom);
  EXPECT_EQ(desktop_.Compose().at(50, 50), kBlue);

  // A surface partly off the screen is cut at its edges; a hidden one leaves no trace.
  SurfaceId edge = desktop_.Create(Shown({180, 90, 230, 130}, "edge"));
  Fill(desktop_, edge, kRed);
  EXPECT_EQ(desktop_.Compose().at(199, 99), kRed);
  SurfaceState state;
  ASSERT_TRUE(desktop_.State(top, state));
  state.visible = false;
  desktop_.Update(top, state);
  EXPECT_EQ(desktop_.Compose().at(85, 85), kDesktopColour);
}

// A surface with a shadow darkens what is beneath along its lower edge, softly, in its shape when it has
// one; a surface without one leaves the screen alone.
TEST_F(DesktopTest, AShadowDarkensWhatIsBeneathTheSurfacesLowerEdgeInItsShape) {
  desktop_.SetScreenSize(200, 200);
  SurfaceState state = Shown({40, 40, 120, 100}, "shadowed");
  state.shadow = true;
  SurfaceId id = desktop_.Create(state);
  Fill(desktop_, id, kRed);
  auto blueAt = [&](int x, int y) { return desktop_.Compose().at(x, y) & 0xFF; };
  const int desktopBlue = kDesktopColour & 0xFF;
  EXPECT_LT(blueAt(80, 101), desktopBlue - 20) << "right under the edge";
  EXPECT_LT(blueAt(80, 101), blueAt(80, 108)) << "lighter further away";
  EXPECT_EQ(blueAt(80, 100 + kShadowDrop + kShadowBlur + 2), desktopBlue) << "and gone beyond the blur";
  EXPECT_EQ(blueAt(80, 30), desktopBlue) << "the shadow drops: none above";

  // Shaped: only the left half is there; its shadow is under that half only.
  state.shape = Region(Rect{0, 0, 40, 60});
  desktop_.Update(id, state);
  EXPECT_LT(blueAt(60, 101), desktopBlue - 20);
  EXPECT_EQ(blueAt(110, 101), desktopBlue);

  state.shadow = false;
  desktop_.Update(id, state);
  EXPECT_EQ(blueAt(60, 101), desktopBlue);
}

TEST_F(DesktopTest, AToolkitsOrderHoldsAndSurfacesItLeftOutStayBelow) {
  SurfaceId a = desktop_.Create(Shown({0, 0, 10, 10}, "a"));
  SurfaceId b = desktop_.Create(Shown({0, 0, 10, 10}, "b"));
  SurfaceId c = desktop_.Create(Shown({0, 0, 10, 10}, "c"));
  Recorder recorder;
  desktop_.AddPresenter(&recorder);
  desktop_.SetStack({a, 999, a, b});  // unknown and repeated entries are ignored
  EXPECT_EQ(desktop_.Stack(), (std::vector<SurfaceId>{a, b, c}));
  desktop_.SetStack({a, b});  // the same order again: nothing to tell
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"stacked"})) << "presenters hear of a new order once";
  desktop_.RemovePresenter(&recorder);
  desktop_.Destroy(b);
  EXPECT_EQ(desktop_.Stack(), (std::vector<SurfaceId>{a, c}));
  EXPECT_EQ(desktop_.Pixels(b), nullptr);
}

TEST_F(DesktopTest, PresentersHearChangesAndDamageOnTheDrawingThread) {
  Recorder recorder;
  desktop_.AddPresenter(&recorder);
  SurfaceId id = desktop_.Create(Shown({0, 0, 30, 20}, "one"));
  SurfaceState state;
  ASSERT_TRUE(desktop_.State(id, state));
  state.title = "renamed";
  desktop_.Update(id, state);
  desktop_.Update(id, state, false);  // not announced
  std::thread drawer([&] { desktop_.Damage(id, Rect{1, 2, 3, 4}); });
  const auto drawerId = drawer.get_id();
  drawer.join();
  desktop_.Destroy(id);
  desktop_.Damage(id, Rect{0, 0, 1, 1});  // gone: nobody hears
  desktop_.RemovePresenter(&recorder);
  desktop_.Create(Shown({0, 0, 1, 1}, "unheard"));

  const std::string n = std::to_string(id);
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"changed " + n, "damaged " + n, "destroyed " + n}));
  EXPECT_EQ(recorder.lastDamage, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(recorder.damagedOn, drawerId);
}

// A presenter that is going may still be told of damage on a drawing thread: removing it waits for that
// call, so the presenter can be destroyed right after.
TEST_F(DesktopTest, RemovingAPresenterWaitsForTheCallsIntoIt) {
  struct Blocking : Presenter {
    void SurfaceChanged(SurfaceId) override {}
    void SurfaceDestroyed(SurfaceId) override {}
    void SurfaceDamaged(SurfaceId, const Rect&) override {
      std::unique_lock guard(lock);
      entered = true;
      changed.notify_all();
      changed.wait(guard, [&] { return released; });
      removedWhileRunning = removed.load();
    }
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, released = false;
    std::atomic<bool> removed{false};
    bool removedWhileRunning = false;
  } presenter;
  desktop_.AddPresenter(&presenter);
  SurfaceId id = desktop_.Create(Shown({0, 0, 10, 10}, "drawn"));
  std::thread drawer([&] { desktop_.Damage(id, Rect{0, 0, 1, 1}); });
  {
    std::unique_lock guard(presenter.lock);
    presenter.changed.wait(guard, [&] { return presenter.entered; });
  }
  std::thread remover([&] {
    desktop_.RemovePresenter(&presenter);
    presenter.removed = true;
  });
  {
    std::lock_guard guard(presenter.lock);
    presenter.released = true;
  }
  presenter.changed.notify_all();
  drawer.join();
  remover.join();
  EXPECT_FALSE(presenter.removedWhileRunning);
  EXPECT_TRUE(presenter.removed);
}

TEST_F(DesktopTest, ASurfaceHeldUntilDrawnLeavesTheScreenBeneathShowing) {
  SurfaceId below = desktop_.Create(Shown({0, 0, 50, 50}, "below"));
  Fill(desktop_, below, kRed);
  SurfaceId menu = desktop_.Create(Shown({10, 10, 40, 40}, "menu"));
  desktop_.HoldUntilDrawn(menu);
  EXPECT_EQ(desktop_.Compose().at(20, 20), kRed);
  Fill(desktop_, menu, kBlue);
  EXPECT_EQ(desktop_.Compose().at(20, 20), kBlue);
}

TEST_F(DesktopTest, TheScreenShowsEachSurfaceAsLastDrawnWhileItsThreadDrawsOn) {
  SurfaceId id = desktop_.Create(Shown({0, 0, 64, 48}, "busy"));
  Fill(desktop_, id, kRed);
  // Half drawn, not yet damaged: neither the screen nor a snapshot shows the half.
  auto pixels = desktop_.Pixels(id);
  for (int x = 0; x < 32; ++x) pixels->set(x, 0, kBlue);
  EXPECT_EQ(desktop_.Compose().at(0, 0), kRed);
  Surface image;
  ASSERT_TRUE(desktop_.Snapshot(id, image));
  EXPECT_EQ(image.at(0, 0), kRed);

  // A thread filling the whole surface in one colour after another: every composition shows one whole fill.
  std::atomic<bool> stop{false};
  std::thread drawer([&] {
    for (int round = 0; !stop; ++round) Fill(desktop_, id, round % 2 ? kBlue : kRed);
  });
  int torn = 0;
  for (int i = 0; i < 200; ++i) {
    Surface screen = desktop_.Compose();
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        if (screen.at(x, y) != screen.at(0, 0)) ++torn;
  }
  stop = true;
  drawer.join();
  EXPECT_EQ(torn, 0);
}

TEST_F(DesktopTest, ResizingGivesNewPixelsAndKeepsTheOldOnesForTheirHolders) {
  SurfaceId id = desktop_.Create(Shown({0, 0, 30, 20}, "one"));
  auto old = desktop_.Pixels(id);
  EXPECT_EQ(desktop_.Resize(id, 30, 20), old);  // same size: same pixels
  auto resized = desktop_.Resize(id, 40, -5);
  ASSERT_NE(resized, old);
  EXPECT_EQ(resized->width(), 40);
  EXPECT_EQ(resized->height(), 0);
  EXPECT_EQ(old->width(), 30);
}

TEST_F(DesktopTest, PointerEventsGoToTheSurfaceUnderThemOrToTheCapture) {
  SurfaceId left = desktop_.Create(Shown({0, 0, 100, 100}, "left"));
  SurfaceId right = desktop_.Create(Shown({100, 0, 200, 100}, "right"));
  SurfaceId over = desktop_.Create(Shown({50, 50, 150, 100}, "over"));
  std::vector<std::pair<SurfaceId, PointerEvent>> got;
  auto handler = [&](SurfaceId target, const PointerEvent& event) { got.emplace_back(target, event); };
  for (SurfaceId id : {left, right, over}) desktop_.SetInput(id, handler, nullptr);

  PointerEvent event;
  event.screen = Point{120, 10};
  desktop_.Pointer(event, left);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, right);
  EXPECT_EQ(got[0].second.local, (Point{20, 10}));

  event.screen = Point{60, 60};  // where "over" covers "left"
  event.kind = PointerEvent::Kind::kPress;
  desktop_.Pointer(event);
  EXPECT_EQ(got.back().first, over);
  EXPECT_EQ(got.back().second.local, (Point{10, 10}));

  desktop_.SetCapture(left);
  event.screen = Point{180, 90};
  event.kind = PointerEvent::Kind::kMove;
  desktop_.Pointer(event);
  EXPECT_EQ(got.back().first, left);
  EXPECT_EQ(got.back().second.local, (Point{180, 90}));
  desktop_.SetCapture(0);

  // Leaving goes to where the pointer last was (here "right", under the last move).
  event.kind = PointerEvent::Kind::kLeave;
  event.screen = Point{-1, -1};
  desktop_.Pointer(event, over);
  EXPECT_EQ(got.back().first, right);

  // Off every surface: the surface the presenter saw it on.
  event.kind = PointerEvent::Kind::kMove;
  event.screen = Point{500, 500};
  desktop_.Pointer(event, left);
  EXPECT_EQ(got.back().first, left);

  // A capture's surface that goes releases the capture.
  desktop_.SetCapture(over);
  EXPECT_EQ(desktop_.Capture(), over);
  desktop_.Destroy(over);
  EXPECT_EQ(desktop_.Capture(), 0u);
  event.screen = Point{60, 60};
  desktop_.Pointer(event);
  EXPECT_EQ(got.back().first, left);
}

TEST_F(DesktopTest, KeysGoToTheFocusAndSurfacesWithoutHandlersHaveTheDefault) {
  SurfaceId own = desktop_.Create(Shown({0, 0, 10, 10}, "own"));
  SurfaceId plain = desktop_.Create(Shown({20, 0, 30, 10}, "plain"));
  std::vector<std::string> got;
  desktop_.SetInput(own, nullptr, [&](SurfaceId target, const KeyEvent& event) {
    got.push_back("own " + std::to_string(target) + " " + std::to_string(event.detail));
  });
  desktop_.SetDefaultInput(
      [&](SurfaceId target, const PointerEvent&) { got.push_back("default pointer " + std::to_string(target)); },
      [&](SurfaceId target, const KeyEvent& event) {
        got.push_back("default " + std::to_string(target) + " " + std::to_string(event.detail));
      });

  desktop_.Key({Key::kCharacter, 'A', true}, plain);  // no focus: the surface it was seen on
  desktop_.SetFocus(own);
  desktop_.Key({Key::kCharacter, 'B', true}, plain);
  desktop_.SetFocus(12345);  // no such surface: no focus
  EXPECT_EQ(desktop_.Focus(), 0u);
  desktop_.Key({Key::kCharacter, 'C', true});
  PointerEvent event;
  event.screen = Point{5, 5};
  desktop_.Pointer(event);  // "own" has no pointer handler of its own

  const std::string o = std::to_string(own), p = std::to_string(plain);
  EXPECT_EQ(got, (std::vector<std::string>{"default " + p + " 65", "own " + o + " 66", "default 0 67",
                                            "default pointer " + o}));
}

TEST_F(DesktopTest, AtFindsTheTopmostShownSurface) {
  SurfaceId low = desktop_.Create(Shown({0, 0, 50, 50}, "low"));
  SurfaceId high = desktop_.Create(Shown({0, 0, 50, 50}, "high"));
  EXPECT_EQ(desktop_.At(Point{10, 10}), high);
  SurfaceState state;
  ASSERT_TRUE(desktop_.State(high, state));
  state.visible = false;
  desktop_.Update(high, state);
  EXPECT_EQ(desktop_.At(Point{10, 10}), low);
  EXPECT_EQ(desktop_.At(Point{50, 10}), 0u);  // right edges are outside
}

TEST_F(DesktopTest, ScreenshotsAreThePixelsAsPng) {
  SurfaceId id = desktop_.Create(Shown({10, 20, 40, 60}, "shot"));
  Fill(desktop_, id, kRed);
  std::vector<uint8_t> png;
  ASSERT_TRUE(ScreenScreenshot(desktop_, png));
  auto screen = tavrin::draw::DecodePng(png.data(), png.size());
  ASSERT_TRUE(screen.has_value());
  EXPECT_EQ(screen->width(), 200);
  EXPECT_EQ(screen->at(15, 25) & 0xFFFFFF, kRed);
  EXPECT_EQ(screen->at(5, 5) & 0xFFFFFF, kDesktopColour);

  ASSERT_TRUE(SurfaceScreenshot(desktop_, id, png));
  auto surface = tavrin::draw::DecodePng(png.data(), png.size());
  ASSERT_TRUE(surface.has_value());
  EXPECT_EQ(surface->width(), 30);
  EXPECT_EQ(surface->height(), 40);
  EXPECT_FALSE(SurfaceScreenshot(desktop_, 999, png));

  // A pixel source is asked for every shown surface, outside the lock: it may call back in.
  int asked = 0;
  auto composed = desktop_.Compose([&](const SurfaceState& state, SurfaceId which, tavrin::draw::Surface& image) {
    ++asked;
    EXPECT_EQ(state.title, "shot");
    return desktop_.Snapshot(which, image);
  });
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(composed.at(15, 25), kRed);
}

}  // namespace
