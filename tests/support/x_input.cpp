#include "testsupport/x_input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "testsupport/x_screen.h"

namespace tavrin::test {

void XMovePointer(_XDisplay* display, int x, int y) {
  XTestFakeMotionEvent(display, -1, x, y, 0);
  XFlush(display);
}

void XClickOnScreen(_XDisplay* display, int x, int y, unsigned button) {
  WaitXWindowAt(display, x, y);
  XTestFakeMotionEvent(display, -1, x, y, 0);
  XTestFakeButtonEvent(display, button, True, 0);
  XTestFakeButtonEvent(display, button, False, 0);
  XFlush(display);
}

void XPressKey(_XDisplay* display, unsigned long symbol) {
  const KeyCode code = XKeysymToKeycode(display, symbol);
  XTestFakeKeyEvent(display, code, True, 0);
  XTestFakeKeyEvent(display, code, False, 0);
  XFlush(display);
}

}  // namespace tavrin::test
