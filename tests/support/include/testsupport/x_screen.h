// What the tests that watch a private X server from outside do with it: a connection that survives
// windows going away under it, and the screen kept as a picture.
#pragma once
#include <string>
#include <vector>

#include "draw/surface.h"

struct _XDisplay;
struct _XImage;

namespace tavrin::test {

// A connection to `display`, or null. X errors are ignored on every connection of this process: a
// window listed a moment ago may be gone when it is asked about, and Xlib's default handler would end
// the test program there (leaving it hung in its exit while its threads run).
_XDisplay* OpenXDisplay(const std::string& display);

// The top-level X window whose name is `title`, or 0.
unsigned long FindXWindowNamed(_XDisplay* display, const std::string& title);
// Whether the top-level X window named `title` is mapped and viewable.
bool XWindowViewable(_XDisplay* display, const std::string& title);
// The names of the mapped top-level X windows in their stacking order, bottom first.
std::vector<std::string> MappedXWindowNames(_XDisplay* display);

// Waits until a window is mapped at that point of the screen on the server: a person clicks only on what
// is shown, and a click sent before falls on the bare screen, where no program hears it. False after
// `timeoutMs`.
bool WaitXWindowAt(_XDisplay* display, int x, int y, int timeoutMs = 30000);

// A copy of the screen (1024 x 768, as the servers are started): cheap, made a picture only when needed.
_XImage* CopyXScreen(_XDisplay* display);
tavrin::draw::Surface SurfaceOfXImage(_XImage* image);
// The screen as a PNG at `path` (made absolute); that path, or "(no screen)".
std::string KeepXScreen(_XDisplay* display, const std::string& path);

}  // namespace tavrin::test
