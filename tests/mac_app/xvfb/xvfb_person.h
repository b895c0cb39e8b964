// A person at TavrinMac's windows on a private Xvfb display: real X input from a thread of its own while
// the main thread turns the run loop (also inside modal runs). A fixture takes it beside its own base and
// starts it in SetUp; the screen is kept as a PNG when a check fails. (In a folder of its own: the Mac
// tests without a display take every source beside them.)
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "cocoa/AppKit.h"
#include "testsupport/xvfb.h"

struct _XDisplay;

namespace tavrinmac::test {

class XvfbPerson {
 protected:
  // Starts Xvfb and the Mac display on it; skips the test where Xvfb is missing, naming `subject` as
  // what goes untested.
  void StartXvfb(const std::string& subject);
  // After a failed check: the screen as `prefix` + the test's name + ".png".
  void KeepScreenIfFailed(const std::string& prefix);
  void StopXvfb();

  // The person's part, on a thread of its own; the main thread turns the run loop until it is done and
  // ends whatever modal run it left open.
  static void Person(const std::function<void()>& body);
  // From the person's thread: waits until the condition, checked on the main thread, holds.
  static bool Await(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(20));

  bool XViewable(const std::string& title);
  // From the person's thread: a point of a window (its own coordinates) on the X screen.
  static std::pair<int, int> OnX(NSWindow* window, NSPoint at);
  void XMoveTo(NSWindow* window, NSPoint at);
  // A real click at a point of a window once it is shown there; button 3 is the right one.
  void XClickAt(NSWindow* window, NSPoint at, unsigned button = 1);
  void XKey(unsigned long symbol);

  tavrin::test::XvfbServer xvfb_;
  _XDisplay* x_ = nullptr;
};

}  // namespace tavrinmac::test
