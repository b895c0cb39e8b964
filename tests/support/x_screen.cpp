#include "testsupport/x_screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <filesystem>

#include "draw/png.h"
#include "testsupport/eventually.h"

namespace tavrin::test {
namespace {

constexpr int kWidth = 1024, kHeight = 768;

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

_XDisplay* OpenXDisplay(const std::string& display) {
  XSetErrorHandler(IgnoreXError);
  return XOpenDisplay(display.c_str());
}

unsigned long FindXWindowNamed(_XDisplay* display, const std::string& title) {
  ::Window root, parent, *children = nullptr;
  unsigned count = 0;
  ::Window found = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name) {
      if (title == name) found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

bool XWindowViewable(_XDisplay* display, const std::string& title) {
  const ::Window xid = FindXWindowNamed(display, title);
  XWindowAttributes attributes{};
  return xid && XGetWindowAttributes(display, xid, &attributes) && attributes.map_state == IsViewable;
}

std::vector<std::string> MappedXWindowNames(_XDisplay* display) {
  std::vector<std::string> names;
  ::Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return names;
  for (unsigned i = 0; i < count; ++i) {  // bottom to top
    XWindowAttributes attributes;
    char* name = nullptr;
    if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable) continue;
    if (XFetchName(display, children[i], &name) && name) {
      names.push_back(name);
      XFree(name);
    }
  }
  if (children) XFree(children);
  return names;
}

bool WaitXWindowAt(_XDisplay* display, int x, int y, int timeoutMs) {
  return Eventually(
      [&] {
        const ::Window root = DefaultRootWindow(display);
        ::Window child = 0;
        int atX = 0, atY = 0;
        return XTranslateCoordinates(display, root, root, x, y, &atX, &atY, &child) && child != 0;
      },
      std::chrono::milliseconds(timeoutMs));
}

_XImage* CopyXScreen(_XDisplay* display) {
  return XGetImage(display, DefaultRootWindow(display), 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
}

tavrin::draw::Surface SurfaceOfXImage(_XImage* image) {
  tavrin::draw::Surface surface(image->width, image->height);
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x)
      surface.set(x, y, 0xFF000000u | static_cast<uint32_t>(XGetPixel(image, x, y) & 0xFFFFFF));
  return surface;
}

std::string KeepXScreen(_XDisplay* display, const std::string& path) {
  XImage* image = CopyXScreen(display);
  if (!image) return "(no screen)";
  const std::string absolute = std::filesystem::absolute(path).string();
  tavrin::draw::WritePngFile(SurfaceOfXImage(image), absolute);
  XDestroyImage(image);
  return absolute;
}

}  // namespace tavrin::test
