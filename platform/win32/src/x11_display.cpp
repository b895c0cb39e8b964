// The X11 display: each visible top-level window becomes an X window (pop-ups override-redirect, so
// they need no window manager), its surface is put there when it changes, and X mouse and keyboard events
// go to the injection path. One thread owns the X connection; the window manager only leaves notes for
// it, so no window lock is ever held while Xlib runs.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "window_internal.h"

namespace tavrin::win {
namespace {

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }  // a window that went meanwhile is no fault

int VirtualKeyOf(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return static_cast<int>('A' + (sym - XK_a));
  if (sym >= XK_A && sym <= XK_Z) return static_cast<int>('A' + (sym - XK_A));
  if (sym >= XK_0 && sym <= XK_9) return static_cast<int>('0' + (sym - XK_0));
  if (sym >= XK_F1 && sym <= XK_F12) return static_cast<int>(VK_F1 + (sym - XK_F1));
  switch (sym) {
    case XK_Return: case XK_KP_Enter: return VK_RETURN;
    case XK_Escape: return VK_ESCAPE;
    case XK_BackSpace: return VK_BACK;
    case XK_Tab: return VK_TAB;
    case XK_space: return VK_SPACE;
    case XK_Left: return VK_LEFT;
    case XK_Right: return VK_RIGHT;
    case XK_Up: return VK_UP;
    case XK_Down: return VK_DOWN;
    case XK_Home: return VK_HOME;
    case XK_End: return VK_END;
    case XK_Prior: return VK_PRIOR;
    case XK_Next: return VK_NEXT;
    case XK_Insert: return VK_INSERT;
    case XK_Delete: return VK_DELETE;
    case XK_Shift_L: case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L: case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L: case XK_Alt_R: return VK_MENU;
    default: return 0;
  }
}

class X11Display : public DisplaySink {
 public:
  bool Start(const std::string& name) {
    XInitThreads();
    display_ = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display_) return false;
    XSetErrorHandler(IgnoreErrors);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      XCloseDisplay(display_);
      display_ = nullptr;
      return false;
    }
    thread_ = std::thread([this] { Run(); });
    // Windows that exist already appear too.
    std::vector<HWND> tops;
    {
      std::lock_guard guard(detail::Table().lock);
      tops = detail::Table().topLevels;
    }
    for (HWND hwnd : tops) WindowChanged(hwnd);
    return true;
  }

  void Stop() {
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
    }
    Wake();
    // The display thread may be sending a hit test to this very thread: sent messages are answered
    // while it finishes.
    while (thread_.joinable() && !finished_) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
      MSG msg;
      PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    if (thread_.joinable()) thread_.join();
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    for (int& fd : wake_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

  void WindowChanged(HWND hwnd) override { Note(hwnd, false); }
  void WindowDestroyed(HWND hwnd) override {
    {
      std::lock_guard guard(lock_);
      snapshots_.erase(hwnd);
    }
    Note(hwnd, false);
  }
  // Called on the thread that drew, right after it drew: the pixels are copied here, where nothing
  // draws on them meanwhile, and the display thread puts the copy.
  void SurfaceDamaged(HWND hwnd, const RECT&) override {
    auto image = std::make_shared<draw::Surface>();
    if (!CaptureWindow(hwnd, *image)) return;
    {
      std::lock_guard guard(lock_);
      snapshots_[hwnd] = std::move(image);
    }
    Note(hwnd, true);
  }

 private:
  struct Shown {
    ::Window xid = 0;
    RECT rect{};
    bool mapped = false;
    std::string title;
  };

  void Note(HWND hwnd, bool damage) {
    {
      std::lock_guard guard(lock_);
      changed_.insert(hwnd);
      if (damage) damaged_.insert(hwnd);
    }
    Wake();
  }

  void Wake() {
    char byte = 1;
    if (wake_[1] >= 0) (void)!write(wake_[1], &byte, 1);
  }

  void Run() {
    for (;;) {
      std::set<HWND> changed, damaged;
      {
        std::lock_guard guard(lock_);
        if (stopping_) break;
        changed.swap(changed_);
        damaged.swap(damaged_);
      }
      for (HWND hwnd : changed) Update(hwnd, damaged.count(hwnd) > 0);
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        Handle(event);
      }
      XFlush(display_);
      pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[1].revents) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
      }
    }
    for (auto& [hwnd, shown] : shown_) XDestroyWindow(display_, shown.xid);
    shown_.clear();
    XFlush(display_);
    finished_ = true;
  }

  // Brings the X window of a top-level window in step with it.
  void Update(HWND hwnd, bool damaged) {
    RECT rect{};
    std::string title;
    bool visible = false, popup = false, exists;
    {
      std::lock_guard guard(detail::Table().lock);
      auto window = detail::Find(hwnd);
      exists = window && window->TopLevel() && !window->destroying;
      if (exists) {
        POINT origin = detail::ScreenOrigin(*window);
        rect = RECT{origin.x, origin.y, origin.x + window->Width(), origin.y + window->Height()};
        title = window->title;
        visible = window->Visible() && !(window->style & WS_MINIMIZE);
        popup = (window->style & WS_POPUP) || (window->exStyle & WS_EX_TOOLWINDOW);
      }
    }
    auto it = shown_.find(hwnd);
    if (!exists || detail::RectEmpty(rect)) {
      if (it != shown_.end()) {
        XDestroyWindow(display_, it->second.xid);
        byXid_.erase(it->second.xid);
        shown_.erase(it);
      }
      return;
    }
    if (it == shown_.end()) {
      if (!visible) return;
      Shown shown;
      XSetWindowAttributes attributes{};
      attributes.override_redirect = popup ? True : False;
      attributes.background_pixel = WhitePixel(display_, DefaultScreen(display_));
      attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                              KeyReleaseMask | LeaveWindowMask;
      shown.xid = XCreateWindow(display_, DefaultRootWindow(display_), rect.left, rect.top,
                                static_cast<unsigned>(rect.right - rect.left), static_cast<unsigned>(rect.bottom - rect.top),
                                0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
      XSizeHints hints{};
      hints.flags = USPosition | USSize;
      hints.x = rect.left;
      hints.y = rect.top;
      hints.width = rect.right - rect.left;
      hints.height = rect.bottom - rect.top;
      XSetWMNormalHints(display_, shown.xid, &hints);
      shown.rect = rect;
      it = shown_.emplace(hwnd, shown).first;
      byXid_[shown.xid] = hwnd;
      damaged = true;
    }
    Shown& shown = it->second;
    if (title != shown.title || shown.title.empty()) {
      XStoreName(display_, shown.xid, title.c_str());
      Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
      XChangeProperty(display_, shown.xid, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
      shown.title = title;
    }
    if (!EqualRect(&rect, &shown.rect)) {
      XMoveResizeWindow(display_, shown.xid, rect.left, rect.top, static_cast<unsigned>(rect.right - rect.left),
                        static_cast<unsigned>(rect.bottom - rect.top));
      shown.rect = rect;
      damaged = true;
    }
    if (visible && !shown.mapped) {
      XMapRaised(display_, shown.xid);
      shown.mapped = true;
      damaged = true;
    } else if (!visible && shown.mapped) {
      XUnmapWindow(display_, shown.xid);
      shown.mapped = false;
    }
    if (damaged && shown.mapped) Put(hwnd, shown);
  }

  // The window's last drawn pixels onto its X window.
  void Put(HWND hwnd, const Shown& shown) {
    std::shared_ptr<draw::Surface> snapshot;
    {
      std::lock_guard guard(lock_);
      auto it = snapshots_.find(hwnd);
      if (it != snapshots_.end()) snapshot = it->second;
    }
    if (!snapshot || snapshot->empty()) return;
    const draw::Surface& image = *snapshot;
    int screen = DefaultScreen(display_);
    Visual* visual = DefaultVisual(display_, screen);
    int depth = DefaultDepth(display_, screen);
    if (depth != 24 && depth != 32) return;  // 32-bit pixels only
    size_t bytes = static_cast<size_t>(image.width()) * static_cast<size_t>(image.height()) * 4;
    char* data = static_cast<char*>(malloc(bytes));  // XDestroyImage frees it
    if (!data) return;
    for (int y = 0; y < image.height(); ++y)
      memcpy(data + static_cast<size_t>(y) * static_cast<size_t>(image.width()) * 4, image.row(y),
             static_cast<size_t>(image.width()) * 4);
    XImage* ximage = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, data,
                                  static_cast<unsigned>(image.width()), static_cast<unsigned>(image.height()), 32,
                                  image.width() * 4);
    if (!ximage) {
      free(data);
      return;
    }
    GC gc = XCreateGC(display_, shown.xid, 0, nullptr);
    XPutImage(display_, shown.xid, gc, ximage, 0, 0, 0, 0, static_cast<unsigned>(image.width()),
              static_cast<unsigned>(image.height()));
    XFreeGC(display_, gc);
    XDestroyImage(ximage);
  }

  void Handle(XEvent& event) {
    auto it = byXid_.find(event.xany.window);
    if (it == byXid_.end()) return;
    HWND hwnd = it->second;
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) Put(hwnd, shown_[hwnd]);
        break;
      case MotionNotify:
        InjectMouseMove(event.xmotion.x_root, event.xmotion.y_root);
        break;
      case ButtonPress:
      case ButtonRelease: {
        unsigned button = event.xbutton.button;
        if (button < 1 || button > 3) break;  // wheel clicks are not buttons
        MouseButton which = button == 1 ? MouseButton::kLeft : button == 3 ? MouseButton::kRight : MouseButton::kMiddle;
        InjectMouseButton(which, event.type == ButtonPress, event.xbutton.x_root, event.xbutton.y_root);
        break;
      }
      case KeyPress:
      case KeyRelease: {
        int vk = VirtualKeyOf(XLookupKeysym(&event.xkey, 0));
        if (vk) InjectKey(vk, event.type == KeyPress);
        break;
      }
      case LeaveNotify:
        InjectMouseMove(-1, -1);  // off every window: tracked windows hear they were left
        break;
      default:
        break;
    }
  }

  Display* display_ = nullptr;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::mutex lock_;
  bool stopping_ = false;
  std::set<HWND> changed_, damaged_;
  std::map<HWND, std::shared_ptr<draw::Surface>> snapshots_;  // guarded by lock_
  std::map<HWND, Shown> shown_;     // display thread only
  std::map<::Window, HWND> byXid_;  // display thread only
};

std::mutex g_displayLock;
X11Display* g_display = nullptr;

}  // namespace

bool StartX11Display(const std::string& name) {
  std::lock_guard guard(g_displayLock);
  if (g_display) return true;
  auto* display = new X11Display;
  if (!display->Start(name)) {
    delete display;
    return false;
  }
  g_display = display;
  SetDisplaySink(display);
  return true;
}

void StopDisplay() {
  std::lock_guard guard(g_displayLock);
  if (!g_display) return;
  SetDisplaySink(nullptr);
  g_display->Stop();
  delete g_display;
  g_display = nullptr;
}

bool StartDisplayFromEnvironment() {
  const char* choice = getenv("TAVRIN_DISPLAY");
  std::string mode = choice ? choice : "";
  if (mode == "headless") return false;
  const char* x = getenv("DISPLAY");
  if (mode != "x11" && !(x && *x)) return false;
  return StartX11Display({});
}

}  // namespace tavrin::win
