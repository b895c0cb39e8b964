#include "testsupport/x_tray_manager.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace tavrin::test {
namespace {

constexpr long kRequestDock = 0;      // the tray's opcode
constexpr long kEmbeddedNotify = 0;   // the embedding protocol's first message
constexpr long kXEmbedMapped = 1 << 0;
constexpr int kTrayWidth = 240, kTrayHeight = 40;

Atom Intern(Display* display, const char* name) { return XInternAtom(display, name, False); }

// A 32-bit client message of `type` about `window`, sent to `window` for the clients that select `mask`
// on it (none: its owner).
void SendClientMessage(Display* display, ::Window window, const char* type, std::initializer_list<long> data,
                       long mask) {
  XEvent message{};
  message.xclient.type = ClientMessage;
  message.xclient.window = window;
  message.xclient.message_type = Intern(display, type);
  message.xclient.format = 32;
  int i = 0;
  for (long value : data) message.xclient.data.l[i++] = value;
  XSendEvent(display, window, False, mask, &message);
  XFlush(display);
}

}  // namespace

bool XTrayManager::Start(const std::string& display, int iconSize) {
  if (display_) return true;
  XInitThreads();
  display_ = XOpenDisplay(display.c_str());
  if (!display_) return false;
  iconSize_ = iconSize;
  docked_ = 0;
  const ::Window root = DefaultRootWindow(display_);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
  attributes.event_mask = SubstructureNotifyMask;
  window_ = XCreateWindow(display_, root, 0, 0, kTrayWidth, kTrayHeight, 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XStoreName(display_, window_, "Test tray");
  XMapRaised(display_, window_);
  const Atom selection = Intern(display_, "_NET_SYSTEM_TRAY_S0");
  XSetSelectionOwner(display_, selection, window_, CurrentTime);
  if (XGetSelectionOwner(display_, selection) != window_ || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    XCloseDisplay(display_);
    display_ = nullptr;
    window_ = 0;
    return false;
  }
  // The announcement tray icons wait for.
  SendClientMessage(display_, root, "MANAGER",
                    {CurrentTime, static_cast<long>(selection), static_cast<long>(window_)}, StructureNotifyMask);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void XTrayManager::Stop() {
  if (!display_) return;
  char byte = 1;
  (void)!write(wake_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
  XCloseDisplay(display_);
  display_ = nullptr;
  window_ = 0;
  for (int& fd : wake_) {
    close(fd);
    fd = -1;
  }
}

std::vector<unsigned long> XTrayManager::Icons(_XDisplay* observer) const {
  std::vector<unsigned long> icons;
  ::Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (window_ && XQueryTree(observer, window_, &root, &parent, &children, &count))
    icons.assign(children, children + count);
  if (children) XFree(children);
  return icons;
}

void XTrayManager::Run() {
  const Atom opcode = Intern(display_, "_NET_SYSTEM_TRAY_OPCODE");
  for (;;) {
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage && event.xclient.message_type == opcode &&
          event.xclient.data.l[1] == kRequestDock)
        Embed(static_cast<unsigned long>(event.xclient.data.l[2]));
    }
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
  }
}

bool XTrayManager::AsksToBeMapped(unsigned long icon) {
  const Atom info = Intern(display_, "_XEMBED_INFO");
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool mapped = false;
  if (XGetWindowProperty(display_, icon, info, 0, 2, False, info, &type, &format, &count, &after, &data) == Success &&
      type == info && format == 32 && count == 2)
    mapped = reinterpret_cast<long*>(data)[1] & kXEmbedMapped;
  if (data) XFree(data);
  return mapped;
}

void XTrayManager::Embed(unsigned long icon) {
  // Given back to the root window should the tray end.
  XAddToSaveSet(display_, icon);
  const int x = 4 + docked_++ * (iconSize_ + 4);
  XReparentWindow(display_, icon, window_, x, (kTrayHeight - iconSize_) / 2);
  XResizeWindow(display_, icon, static_cast<unsigned>(iconSize_), static_cast<unsigned>(iconSize_));
  if (AsksToBeMapped(icon)) XMapRaised(display_, icon);
  // Detail 0, the embedder, and the protocol's version both sides speak.
  SendClientMessage(display_, icon, "_XEMBED", {CurrentTime, kEmbeddedNotify, 0, static_cast<long>(window_), 0},
                    NoEventMask);
}

}  // namespace tavrin::test
