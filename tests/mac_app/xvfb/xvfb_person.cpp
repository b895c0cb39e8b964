#include "xvfb_person.h"

#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it.
#include <X11/Xlib.h>

#include <atomic>
#include <thread>

#include "gui/desktop.h"
#include "../on_main.h"
#include "testsupport/x_input.h"
#include "testsupport/x_screen.h"

namespace tavrinmac::test {

void XvfbPerson::StartXvfb(const std::string& subject) {
  const std::string xvfb = tavrin::test::XvfbServer::Find();
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: " << subject << " on the X display is not tested";
  ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
  x_ = tavrin::test::OpenXDisplay(xvfb_.name());
  ASSERT_NE(x_, nullptr);
  ASSERT_TRUE(appkit::StartX11Display(xvfb_.name()));
}

void XvfbPerson::KeepScreenIfFailed(const std::string& prefix) {
  if (!x_ || !::testing::Test::HasFailure()) return;
  const std::string name = prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
  ADD_FAILURE() << "the screen at the failure: " << tavrin::test::KeepXScreen(x_, name);
}

void XvfbPerson::StopXvfb() {
  appkit::StopDisplay();
  if (x_) XCloseDisplay(x_);
  x_ = nullptr;
  xvfb_.Stop();
}

void XvfbPerson::Person(const std::function<void()>& body) {
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

bool XvfbPerson::Await(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!OnMain(condition)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the next look; the main thread runs meanwhile
  }
  return true;
}

bool XvfbPerson::XViewable(const std::string& title) { return tavrin::test::XWindowViewable(x_, title); }

std::pair<int, int> XvfbPerson::OnX(NSWindow* window, NSPoint at) {
  return OnMain([&] {
    const int height = tavrin::gui::TheDesktop().ScreenBounds().height();
    const NSPoint screen = window->convertBaseToScreen(at);
    return std::pair<int, int>(static_cast<int>(screen.x), height - static_cast<int>(screen.y));
  });
}

void XvfbPerson::XMoveTo(NSWindow* window, NSPoint at) {
  const auto [x, y] = OnX(window, at);
  tavrin::test::XMovePointer(x_, x, y);
}

void XvfbPerson::XClickAt(NSWindow* window, NSPoint at, unsigned button) {
  const auto [x, y] = OnX(window, at);
  tavrin::test::XClickOnScreen(x_, x, y, button);
}

void XvfbPerson::XKey(unsigned long symbol) { tavrin::test::XPressKey(x_, symbol); }

}  // namespace tavrinmac::test
