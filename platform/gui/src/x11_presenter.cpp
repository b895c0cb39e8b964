// One thread owns the X connection; the desktop only leaves notes for it, so no desktop or toolkit lock
// is ever held while Xlib runs.
#include "gui/x11_presenter.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace tavrin::gui {
namespace {

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }  // a window that went meanwhile is no fault

// The system tray and embedding protocols' numbers.
constexpr long kSystemTrayRequestDock = 0;
constexpr long kXEmbedMapped = 1 << 0;
constexpr long kXEmbedVersion = 0;

KeyEvent KeyOf(KeySym sym, bool down) {
  KeyEvent event;
  event.down = down;
  if (sym >= XK_a && sym <= XK_z) return {Key::kCharacter, static_cast<int>('A' + (sym - XK_a)), down};
  if (sym >= XK_A && sym <= XK_Z) return {Key::kCharacter, static_cast<int>('A' + (sym - XK_A)), down};
  if (sym >= XK_0 && sym <= XK_9) return {Key::kCharacter, static_cast<int>('0' + (sym - XK_0)), down};
  if (sym >= XK_F1 && sym <= XK_F12) return {Key::kFunction, static_cast<int>(1 + (sym - XK_F1)), down};
  switch (sym) {
    case XK_Return: case XK_KP_Enter: event.key = Key::kReturn; break;
    case XK_Escape: event.key = Key::kEscape; break;
    case XK_BackSpace: event.key = Key::kBackspace; break;
    case XK_Tab: event.key = Key::kTab; break;
    case XK_space: event.key = Key::kSpace; break;
    case XK_Left: event.key = Key::kLeft; break;
    case XK_Right: event.key = Key::kRight; break;
    case XK_Up: event.key = Key::kUp; break;
    case XK_Down: event.key = Key::kDown; break;
    case XK_Home: event.key = Key::kHome; break;
    case XK_End: event.key = Key::kEnd; break;
    case XK_Prior: event.key = Key::kPageUp; break;
    case XK_Next: event.key = Key::kPageDown; break;
    case XK_Insert: event.key = Key::kInsert; break;
    case XK_Delete: event.key = Key::kDelete; break;
    case XK_Shift_L: case XK_Shift_R: event.key = Key::kShift; break;
    case XK_Control_L: case XK_Control_R: event.key = Key::kControl; break;
    case XK_Alt_L: case XK_Alt_R: event.key = Key::kAlt; break;
    default: break;
  }
  return event;
}

}  // namespace

class X11Presenter::Connection : public Presenter {
 public:
  explicit Connection(Desktop& desktop) : desktop_(desktop) {}

  bool Start(const std::string& name) {
    XInitThreads();
    display_ = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display_) return false;
    XSetErrorHandler(IgnoreErrors);
    const std::string trayName = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display_));
    traySelection_ = XInternAtom(display_, trayName.c_str(), False);
    trayOpcode_ = XInternAtom(display_, "_NET_SYSTEM_TRAY_OPCODE", False);
    manager_ = XInternAtom(display_, "MANAGER", False);
    xembedInfo_ = XInternAtom(display_, "_XEMBED_INFO", False);
    // A tray manager announces itself on the root window.
    XSelectInput(display_, DefaultRootWindow(display_), StructureNotifyMask);
    FindTrayManager();
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      XCloseDisplay(display_);
      display_ = nullptr;
      return false;
    }
    desktop_.AddPresenter(this);
    thread_ = std::thread([this] { Run(); });
    for (SurfaceId id : desktop_.Stack()) Note(id, false);  // surfaces that exist already appear too
    return true;
  }

  void Stop(const std::function<void()>& whileWaiting) {
    desktop_.RemovePresenter(this);
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
    }
    Wake();
    while (thread_.joinable() && !finished_ && whileWaiting) whileWaiting();
    if (thread_.joinable()) thread_.join();
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    for (int& fd : wake_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

  void SurfaceChanged(SurfaceId id) override { Note(id, false); }
  void StackChanged() override {
    {
      std::lock_guard guard(lock_);
      restack_ = true;
    }
    Wake();
  }
  void SurfaceDestroyed(SurfaceId id) override {
    {
      std::lock_guard guard(lock_);
      snapshots_.erase(id);
    }
    Note(id, false);
  }
  // Runs on the thread that drew, right after it drew: the pixels are copied here, where nothing draws
  // on them meanwhile, and the presenter's thread puts the copy.
  void SurfaceDamaged(SurfaceId id, const draw::Rect&) override {
    auto image = std::make_shared<draw::Surface>();
    if (!desktop_.Snapshot(id, *image)) return;
    {
      std::lock_guard guard(lock_);
      snapshots_[id] = std::move(image);
    }
    Note(id, true);
  }

 private:
  struct Shown {
    ::Window xid = 0;
    draw::Rect rect;  // the surface's, as last given to X
    bool mapped = false;
    std::string title;
    bool trayIcon = false;
    bool docked = false;    // embedded in the tray manager's window: placed and sized by the manager
    int width = 0, height = 0;  // the X window's size
    std::optional<draw::Point> placed;  // where a docked icon's image was last told to show
  };

  void Note(SurfaceId id, bool damage) {
    {
      std::lock_guard guard(lock_);
      changed_.insert(id);
      if (damage) damaged_.insert(id);
    }
    Wake();
  }

  void Wake() {
    char byte = 1;
    if (wake_[1] >= 0) (void)!write(wake_[1], &byte, 1);
  }

  void Run() {
    for (;;) {
      std::set<SurfaceId> changed, damaged;
      bool restack = false;
      {
        std::lock_guard guard(lock_);
        if (stopping_) break;
        changed.swap(changed_);
        damaged.swap(damaged_);
        std::swap(restack, restack_);
      }
      for (SurfaceId id : changed) Update(id, damaged.count(id) > 0);
      if (restack || !changed.empty()) Restack();
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
    for (auto& [id, shown] : shown_) XDestroyWindow(display_, shown.xid);
    shown_.clear();
    XFlush(display_);
    finished_ = true;
  }

  // Brings the X window of a surface in step with it.
  void Update(SurfaceId id, bool damaged) {
    SurfaceState state;
    const bool exists = desktop_.State(id, state);
    auto it = shown_.find(id);
    if (!exists || state.rect.empty()) {
      if (it != shown_.end()) Forget(it);
      return;
    }
    const draw::Rect& rect = state.rect;
    if (it != shown_.end() && it->second.trayIcon != state.trayIcon) {
      Forget(it);  // made again as what it is now
      it = shown_.end();
    }
    if (it == shown_.end()) {
      if (!state.visible) return;
      Shown shown;
      shown.trayIcon = state.trayIcon;
      shown.docked = state.trayIcon && trayManager_;
      XSetWindowAttributes attributes{};
      attributes.override_redirect = state.popup && !shown.docked ? True : False;
      attributes.background_pixel = WhitePixel(display_, DefaultScreen(display_));
      attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                              KeyReleaseMask | LeaveWindowMask;
      if (shown.docked) attributes.event_mask |= StructureNotifyMask;  // the size the manager gives
      shown.xid = XCreateWindow(display_, DefaultRootWindow(display_), rect.left, rect.top,
                                static_cast<unsigned>(rect.width()), static_cast<unsigned>(rect.height()), 0,
                                CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
      XSizeHints hints{};
      hints.flags = USPosition | USSize;
      hints.x = rect.left;
      hints.y = rect.top;
      hints.width = rect.width();
      hints.height = rect.height();
      XSetWMNormalHints(display_, shown.xid, &hints);
      shown.rect = rect;
      shown.width = rect.width();
      shown.height = rect.height();
      it = shown_.emplace(id, shown).first;
      byXid_[shown.xid] = id;
      damaged = true;
      if (shown.docked) {
        Dock(it->second, state.visible);
        it->second.mapped = state.visible;
      }
    }
    Shown& shown = it->second;
    if (state.title != shown.title || shown.title.empty()) {
      XStoreName(display_, shown.xid, state.title.c_str());
      Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
      XChangeProperty(display_, shown.xid, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(state.title.data()),
                      static_cast<int>(state.title.size()));
      shown.title = state.title;
    }
    if (rect != shown.rect) {
      if (!shown.docked) {
        XMoveResizeWindow(display_, shown.xid, rect.left, rect.top, static_cast<unsigned>(rect.width()),
                          static_cast<unsigned>(rect.height()));
        shown.width = rect.width();
        shown.height = rect.height();
      }
      shown.rect = rect;
      damaged = true;
    }
    if (shown.docked) {  // the manager maps and unmaps it as its embedding info says
      if (state.visible != shown.mapped) {
        SetEmbedInfo(shown.xid, state.visible);
        shown.mapped = state.visible;
      }
    } else if (state.visible && !shown.mapped) {
      XMapRaised(display_, shown.xid);
      shown.mapped = true;
      damaged = true;
    } else if (!state.visible && shown.mapped) {
      XUnmapWindow(display_, shown.xid);
      shown.mapped = false;
    }
    if (damaged && shown.mapped) Put(id, shown);
  }

  // Our X windows in the desktop's order (a window mapped since is raised by its mapping, one the desktop
  // raised or lowered keeps its old place in X until now). The desktop's top goes to the top of the X
  // display, the others under it in turn; other programs' windows are left where they are.
  void Restack() {
    std::vector<::Window> order;
    for (SurfaceId id : desktop_.Stack()) {
      auto it = shown_.find(id);
      if (it != shown_.end() && it->second.mapped && !it->second.docked) order.push_back(it->second.xid);
    }
    if (order == stacked_) return;
    if (!order.empty() && (stacked_.empty() || order.front() != stacked_.front())) XRaiseWindow(display_, order.front());
    if (order.size() > 1) XRestackWindows(display_, order.data(), static_cast<int>(order.size()));
    stacked_ = std::move(order);
  }

  // The surface's last drawn pixels onto its X window.
  void Put(SurfaceId id, const Shown& shown) {
    std::shared_ptr<draw::Surface> snapshot;
    {
      std::lock_guard guard(lock_);
      auto it = snapshots_.find(id);
      if (it != snapshots_.end()) snapshot = it->second;
    }
    if (!snapshot || snapshot->empty()) return;
    const draw::Surface& image = *snapshot;
    int screen = DefaultScreen(display_);
    Visual* visual = DefaultVisual(display_, screen);
    int depth = DefaultDepth(display_, screen);
    if (depth != 24 && depth != 32) return;  // 32-bit pixels only
    const size_t rowBytes = static_cast<size_t>(image.width()) * 4;
    char* data = static_cast<char*>(malloc(rowBytes * static_cast<size_t>(image.height())));  // XDestroyImage frees it
    if (!data) return;
    for (int y = 0; y < image.height(); ++y) memcpy(data + static_cast<size_t>(y) * rowBytes, image.row(y), rowBytes);
    XImage* ximage = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, data,
                                  static_cast<unsigned>(image.width()), static_cast<unsigned>(image.height()), 32,
                                  image.width() * 4);
    if (!ximage) {
      free(data);
      return;
    }
    // Centred in an X window of another size (a docked icon's is the tray's choice).
    const draw::Point at = ImageOrigin(shown, image.width(), image.height());
    const int fromX = std::max(0, -at.x), fromY = std::max(0, -at.y);
    const int width = std::min(image.width() - fromX, shown.width), height = std::min(image.height() - fromY, shown.height);
    GC gc = XCreateGC(display_, shown.xid, 0, nullptr);
    if (width > 0 && height > 0)
      XPutImage(display_, shown.xid, gc, ximage, fromX, fromY, std::max(0, at.x), std::max(0, at.y),
                static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(display_, gc);
    XDestroyImage(ximage);
  }

  // The X server's time of an event (milliseconds of its own clock) on our clock. The smallest distance
  // between the two clocks seen so far is the one with the least delay in handling.
  std::chrono::steady_clock::time_point WhenPressed(Time serverTime) {
    const auto now = std::chrono::steady_clock::now();
    const auto server = std::chrono::milliseconds(serverTime);
    const auto distance = now.time_since_epoch() - server;
    if (!clockKnown_ || distance < clockDistance_) clockDistance_ = distance;
    clockKnown_ = true;
    // The distance shrinking moves later events earlier: they never go before an event already given.
    const auto when = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(server + clockDistance_));
    lastWhen_ = std::max(lastWhen_, when);
    return lastWhen_;
  }

  void Handle(XEvent& event) {
    // Input still comes for an X window just taken down (the server handled the click before our request
    // to destroy it): it is not dropped. The core routes it by the point, to what it shows there now.
    auto it = byXid_.find(event.xany.window);
    const SurfaceId id = it == byXid_.end() ? 0 : it->second;
    PointerEvent pointer;
    switch (event.type) {
      case Expose:
        if (id && event.xexpose.count == 0) Put(id, shown_[id]);
        break;
      case MotionNotify:
        pointer.screen = ScreenPoint(id, event.xmotion.x_root, event.xmotion.y_root, event.xmotion.x, event.xmotion.y);
        desktop_.Pointer(pointer, id);
        TellPlace(id, {event.xmotion.x_root - event.xmotion.x, event.xmotion.y_root - event.xmotion.y});
        break;
      case ButtonPress:
      case ButtonRelease: {
        unsigned button = event.xbutton.button;
        if (button < 1 || button > 3) break;  // wheel clicks are not buttons
        pointer.kind = event.type == ButtonPress ? PointerEvent::Kind::kPress : PointerEvent::Kind::kRelease;
        pointer.button = button == 1 ? PointerButton::kLeft : button == 3 ? PointerButton::kRight : PointerButton::kMiddle;
        pointer.screen = ScreenPoint(id, event.xbutton.x_root, event.xbutton.y_root, event.xbutton.x, event.xbutton.y);
        pointer.when = WhenPressed(event.xbutton.time);
        desktop_.Pointer(pointer, id);
        TellPlace(id, {event.xbutton.x_root - event.xbutton.x, event.xbutton.y_root - event.xbutton.y});
        break;
      }
      case KeyPress:
      case KeyRelease: {
        KeyEvent key = KeyOf(XLookupKeysym(&event.xkey, 0), event.type == KeyPress);
        if (key.key != Key::kNone) desktop_.Key(key, id);
        break;
      }
      case LeaveNotify:
        if (!id) break;
        pointer.kind = PointerEvent::Kind::kLeave;
        pointer.screen = draw::Point{-1, -1};
        desktop_.Pointer(pointer, id);
        break;
      case ConfigureNotify:
        if (auto docked = shown_.find(id); id && docked != shown_.end() && docked->second.docked) {
          docked->second.width = event.xconfigure.width;
          docked->second.height = event.xconfigure.height;
          Put(id, docked->second);
          TellPlace(id, RootOrigin(docked->second.xid));
        }
        break;
      case MapNotify:
        TellPlace(id, RootOrigin(event.xmap.window));
        break;
      case ClientMessage:
        if (event.xclient.message_type == manager_ && static_cast<Atom>(event.xclient.data.l[1]) == traySelection_ &&
            static_cast<::Window>(event.xclient.data.l[2]) != trayManager_) {
          FindTrayManager();
          RemakeTrayIcons();
        }
        break;
      case DestroyNotify:
        if (trayManager_ && event.xdestroywindow.window == trayManager_) {
          trayManager_ = 0;
          FindTrayManager();  // one that took over meanwhile, or none
          RemakeTrayIcons();
        }
        break;
      default:
        break;
    }
  }

  // The system tray: the owner of the screen's tray selection, watched so that its end is heard. The
  // server is held meanwhile, so that the owner cannot go between the asking and the watching.
  void FindTrayManager() {
    XGrabServer(display_);
    trayManager_ = XGetSelectionOwner(display_, traySelection_);
    if (trayManager_) XSelectInput(display_, trayManager_, StructureNotifyMask);
    XUngrabServer(display_);
    XFlush(display_);
  }

  // The tray icons' X windows made anew after the tray came or went: docked into the new one, or on
  // their own where there is none now.
  void RemakeTrayIcons() {
    std::vector<SurfaceId> icons;
    for (auto& [id, shown] : shown_)
      if (shown.trayIcon) icons.push_back(id);
    for (SurfaceId id : icons) {
      auto it = shown_.find(id);
      const bool placed = it->second.placed.has_value();
      Forget(it);
      if (placed) desktop_.Placed(id, std::nullopt);  // its own place again, until a tray places it anew
      Update(id, true);
    }
  }

  void Forget(std::map<SurfaceId, Shown>::iterator it) {
    XDestroyWindow(display_, it->second.xid);
    byXid_.erase(it->second.xid);
    shown_.erase(it);
  }

  // What an embedder reads of an embedded window: the protocol's version and whether to map it.
  void SetEmbedInfo(::Window xid, bool mapped) {
    const long info[2] = {kXEmbedVersion, mapped ? kXEmbedMapped : 0};
    XChangeProperty(display_, xid, xembedInfo_, xembedInfo_, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(info), 2);
  }

  // Asks the tray manager to embed the window; it reparents, sizes and maps it.
  void Dock(const Shown& shown, bool visible) {
    SetEmbedInfo(shown.xid, visible);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = trayManager_;
    request.xclient.message_type = trayOpcode_;
    request.xclient.format = 32;
    request.xclient.data.l[0] = CurrentTime;
    request.xclient.data.l[1] = kSystemTrayRequestDock;
    request.xclient.data.l[2] = static_cast<long>(shown.xid);
    XSendEvent(display_, trayManager_, False, NoEventMask, &request);
  }

  // Where the surface's image sits in its X window: a docked icon's centred in the size the tray gave.
  static draw::Point ImageOrigin(const Shown& shown, int imageWidth, int imageHeight) {
    if (!shown.docked) return {0, 0};
    return {(shown.width - imageWidth) / 2, (shown.height - imageHeight) / 2};
  }

  // The screen point of the core for a pointer event on an X window. A docked icon sits wherever the tray
  // put it: the point within the window is taken to the surface's rectangle (the tray's margin around
  // the picture to its edge), wherever the core has it.
  draw::Point ScreenPoint(SurfaceId id, int rootX, int rootY, int x, int y) {
    auto it = id ? shown_.find(id) : shown_.end();
    if (it == shown_.end() || !it->second.docked) return {rootX, rootY};
    const Shown& shown = it->second;
    const draw::Point at = ImageOrigin(shown, shown.rect.width(), shown.rect.height());
    return {shown.rect.left + std::clamp(x - at.x, 0, std::max(shown.rect.width() - 1, 0)),
            shown.rect.top + std::clamp(y - at.y, 0, std::max(shown.rect.height() - 1, 0))};
  }

  draw::Point RootOrigin(::Window xid) {
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display_, xid, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y};
  }

  // Tells the desktop where a docked icon's picture shows (`window` the X window's place on the root)
  // when that is not where its surface's rectangle says, so that the toolkit may move it there.
  void TellPlace(SurfaceId id, draw::Point window) {
    auto it = id ? shown_.find(id) : shown_.end();
    if (it == shown_.end() || !it->second.docked) return;
    Shown& shown = it->second;
    const draw::Point at = ImageOrigin(shown, shown.rect.width(), shown.rect.height());
    const draw::Point place{window.x + at.x, window.y + at.y};
    if (place == draw::Point{shown.rect.left, shown.rect.top} || shown.placed == place) return;
    shown.placed = place;
    desktop_.Placed(id, place);
  }

  Desktop& desktop_;
  Display* display_ = nullptr;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::mutex lock_;
  bool stopping_ = false;
  bool restack_ = false;  // the desktop's order was set anew
  std::set<SurfaceId> changed_, damaged_;
  std::map<SurfaceId, std::shared_ptr<draw::Surface>> snapshots_;  // guarded by lock_
  std::map<SurfaceId, Shown> shown_;     // presenter's thread only
  std::map<::Window, SurfaceId> byXid_;  // presenter's thread only
  std::vector<::Window> stacked_;        // the order last given to X, top first; presenter's thread only
  Atom traySelection_ = 0, trayOpcode_ = 0, manager_ = 0, xembedInfo_ = 0;
  ::Window trayManager_ = 0;  // the system tray's selection owner; 0 for none. Presenter's thread only
  bool clockKnown_ = false;                // WhenPressed's, presenter's thread only
  std::chrono::steady_clock::duration clockDistance_{};
  std::chrono::steady_clock::time_point lastWhen_{};
};

X11Presenter::X11Presenter() = default;
X11Presenter::~X11Presenter() { Stop(); }

bool X11Presenter::Start(Desktop& desktop, const std::string& name) {
  if (connection_) return true;
  auto connection = std::make_unique<Connection>(desktop);
  if (!connection->Start(name)) return false;
  connection_ = std::move(connection);
  return true;
}

void X11Presenter::Stop(const std::function<void()>& whileWaiting) {
  if (!connection_) return;
  connection_->Stop(whileWaiting);
  connection_.reset();
}

}  // namespace tavrin::gui
