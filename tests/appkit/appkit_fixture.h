// What the AppKit tests share: a sysroot of their own (the windows' records go there), a pool per test, input through the window core as a display gives it,
// and the main run loop turned until what is awaited happened.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "cocoa/AppKit.h"
#include "gui/desktop.h"
#include "testsupport/sysroot.h"

namespace appkit_test {

class AppKitTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    NSApplication::sharedApplication();
    pool_ = alloc<NSAutoreleasePool>()->init();
  }
  void TearDown() override {
    // Windows closed in the test go once the loop has run what they queued.
    RunWhatIsDue();
    pool_->drain();
    SysrootTest::TearDown();
  }

  static void RunWhatIsDue() {
    NSDate* now = NSDate::date();
    while (NSRunLoop::mainRunLoop()->runMode_beforeDate(nullptr, now)) {
    }
  }

  // Runs `act` from the main loop once `ready` holds, checked at each turn: also from inside a loop that a
  // menu or a modal run turns while the test's own wait is below it.
  static void WhenReady(std::function<bool()> ready, std::function<void()> act) {
    NSRunLoop::mainRunLoop()->Enqueue(
        [ready, act] {
          if (ready()) act();
          else WhenReady(ready, act);
        },
        0.005);
  }

  // Runs the main loop until `done` holds (false after 30 s: only what never comes takes that long).
  static bool Until(const std::function<bool()>& done) { return appkit::RunMainLoopUntil(done, 30); }

  // A point of the window (its own coordinates, origin bottom-left) on the core's screen.
  static tavrin::draw::Point OnScreen(NSWindow* window, NSPoint at) {
    const int height = tavrin::gui::TheDesktop().ScreenBounds().height();
    const NSPoint screen = window->convertBaseToScreen(at);
    return {static_cast<int>(screen.x), height - static_cast<int>(screen.y)};
  }

  static void Pointer(NSWindow* window, NSPoint at, tavrin::gui::PointerEvent::Kind kind,
                      tavrin::gui::PointerButton button = tavrin::gui::PointerButton::kLeft) {
    tavrin::gui::PointerEvent event;
    event.kind = kind;
    event.button = button;
    event.screen = OnScreen(window, at);
    tavrin::gui::TheDesktop().Pointer(event, window->SurfaceId());
  }

  static void Click(NSWindow* window, NSPoint at,
                    tavrin::gui::PointerButton button = tavrin::gui::PointerButton::kLeft) {
    using Kind = tavrin::gui::PointerEvent::Kind;
    Pointer(window, at, Kind::kPress, button);
    Pointer(window, at, Kind::kRelease, button);
  }

  // A window's pixels as they stand after what is due was drawn.
  static tavrin::draw::Surface Pixels(NSWindow* window) {
    tavrin::draw::Surface image;
    window->Snapshot(image);
    return image;
  }

  static NSWindow* MakeWindow(NSRect content, NSUInteger style = NSTitledWindowMask | NSClosableWindowMask) {
    NSWindow* window = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(content, style, NSBackingStoreBuffered, NO);
    window->setReleasedWhenClosed(NO);
    return window;
  }

  NSAutoreleasePool* pool_ = nullptr;
};

constexpr uint32_t Rgb(int r, int g, int b) { return (static_cast<uint32_t>(r) << 16) | (g << 8) | b; }
inline uint32_t RgbOf(uint32_t pixel) { return pixel & 0xFFFFFF; }

}  // namespace appkit_test
