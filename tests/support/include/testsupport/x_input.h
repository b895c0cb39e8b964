// A person's hand at a private X server: real pointer and key events through XTest, sent on the test's
// own connection (see x_screen.h).
#pragma once

struct _XDisplay;

namespace tavrin::test {

void XMovePointer(_XDisplay* display, int x, int y);
// A click at a point of the screen once a window is mapped there (see WaitXWindowAt); button 3 is the
// right one.
void XClickOnScreen(_XDisplay* display, int x, int y, unsigned button = 1);
// A key by its symbol (XK_Return, 'a'...), pressed and released.
void XPressKey(_XDisplay* display, unsigned long symbol);

}  // namespace tavrin::test
