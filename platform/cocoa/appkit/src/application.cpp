// NSApplication, NSEvent and NSScreen: the main run loop (Foundation's) runs the application; input the
// window core routes to our surfaces, from whatever thread, becomes NSEvents handed to that loop.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <atomic>
#include <map>
#include <mutex>

#include "appkit_internal.h"
#include "gui/desktop.h"
#include "gui/x11_presenter.h"

namespace draw = tavrin::draw;
namespace gui = tavrin::gui;
using namespace appkit::detail;

NSApplication* NSApp = nullptr;

namespace {

std::mutex g_surfacesLock;
std::map<uint64_t, NSWindow*>& Surfaces() {
  static auto* surfaces = new std::map<uint64_t, NSWindow*>;
  return *surfaces;
}

std::function<void()>& MainInterface() {
  static auto* builder = new std::function<void()>;
  return *builder;
}

// What the main thread knows of the pointer and the keys held.
struct InputState {
  NSPoint pointer{};  // screen, Mac coordinates
  bool leftDown = false, rightDown = false, shift = false, control = false, alt = false;
  std::chrono::steady_clock::time_point lastPress{};
  NSPoint lastPressAt{};
  gui::PointerButton lastButton = gui::PointerButton::kLeft;
  int clicks = 0;
};
InputState& Input() {
  static InputState state;
  return state;
}

constexpr auto kDoubleClickTime = std::chrono::milliseconds(500);
constexpr CGFloat kDoubleClickDistance = 4;

CGFloat ScreenHeight() { return static_cast<CGFloat>(gui::TheDesktop().ScreenBounds().height()); }

NSUInteger Modifiers() {
  const InputState& in = Input();
  NSUInteger flags = 0;
  if (in.shift) flags |= NSShiftKeyMask;
  if (in.control) flags |= NSControlKeyMask;
  if (in.alt) flags |= NSAlternateKeyMask;
  return flags;
}

void DeliverPointer(uint64_t surface, const gui::PointerEvent& event) {
  using Kind = gui::PointerEvent::Kind;
  NSWindow* window = WindowOfSurface(surface);
  InputState& in = Input();
  in.pointer = NSMakePoint(static_cast<CGFloat>(event.screen.x), ScreenHeight() - static_cast<CGFloat>(event.screen.y));
  if (!window || event.kind == Kind::kLeave) return;
  const NSPoint at = window->convertScreenToBase(in.pointer);
  const bool left = event.button == gui::PointerButton::kLeft, right = event.button == gui::PointerButton::kRight;
  NSEventType type = NSMouseMoved;
  int count = 1;
  switch (event.kind) {
    case Kind::kPress: {
      if (!left && !right) return;
      const auto now = event.when != std::chrono::steady_clock::time_point{} ? event.when : std::chrono::steady_clock::now();
      const bool again = in.clicks > 0 && in.lastButton == event.button && now - in.lastPress <= kDoubleClickTime &&
                         std::fabs(at.x - in.lastPressAt.x) <= kDoubleClickDistance &&
                         std::fabs(at.y - in.lastPressAt.y) <= kDoubleClickDistance;
      in.clicks = again ? in.clicks + 1 : 1;
      in.lastPress = now;
      in.lastPressAt = at;
      in.lastButton = event.button;
      count = in.clicks;
      (left ? in.leftDown : in.rightDown) = true;
      type = left ? NSLeftMouseDown : NSRightMouseDown;
      gui::TheDesktop().SetCapture(surface);
      break;
    }
    case Kind::kRelease:
      if (!left && !right) return;
      (left ? in.leftDown : in.rightDown) = false;
      type = left ? NSLeftMouseUp : NSRightMouseUp;
      count = in.clicks;
      if (!in.leftDown && !in.rightDown) gui::TheDesktop().SetCapture(MenuCapture());
      break;
    default:
      type = in.leftDown ? NSLeftMouseDragged : in.rightDown ? NSRightMouseDragged : NSMouseMoved;
      break;
  }
  NSApplication::sharedApplication()->sendEvent(NSEvent::Make(type, at, window, count, Modifiers()));
}

// The characters a key gives (a private code for the keys that give none, as the Mac has them).
std::string CharactersOf(const gui::KeyEvent& event, bool shift) {
  auto utf8 = [](char32_t code) {
    std::string out;
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
    return out;
  };
  switch (event.key) {
    case gui::Key::kCharacter: {
      const char c = static_cast<char>(event.detail);
      return std::string(1, c >= 'A' && c <= 'Z' && !shift ? static_cast<char>(c - 'A' + 'a') : c);
    }
    case gui::Key::kSpace: return " ";
    case gui::Key::kReturn: return std::string(1, kNSReturnCharacter);
    case gui::Key::kTab: return std::string(1, kNSTabCharacter);
    case gui::Key::kBackspace: return std::string(1, kNSBackspaceCharacter);
    case gui::Key::kEscape: return std::string(1, kNSEscapeCharacter);
    case gui::Key::kLeft: return utf8(NSLeftArrowFunctionKey);
    case gui::Key::kRight: return utf8(NSRightArrowFunctionKey);
    case gui::Key::kUp: return utf8(NSUpArrowFunctionKey);
    case gui::Key::kDown: return utf8(NSDownArrowFunctionKey);
    case gui::Key::kHome: return utf8(NSHomeFunctionKey);
    case gui::Key::kEnd: return utf8(NSEndFunctionKey);
    case gui::Key::kPageUp: return utf8(NSPageUpFunctionKey);
    case gui::Key::kPageDown: return utf8(NSPageDownFunctionKey);
    case gui::Key::kDelete: return utf8(NSDeleteFunctionKey);
    default: return {};
  }
}

void DeliverKey(uint64_t surface, const gui::KeyEvent& event) {
  InputState& in = Input();
  switch (event.key) {
    case gui::Key::kShift: in.shift = event.down; return;
    case gui::Key::kControl: in.control = event.down; return;
    case gui::Key::kAlt: in.alt = event.down; return;
    default: break;
  }
  NSApplication* app = NSApplication::sharedApplication();
  NSWindow* window = WindowOfSurface(MenuCapture());  // a menu tracking takes the keys
  if (!window) window = app->keyWindow() ? app->keyWindow() : WindowOfSurface(surface);
  const std::string characters = CharactersOf(event, in.shift);
  if (!window || characters.empty()) return;
  NSString* text = NSString::stringWithUTF8String(characters.c_str());
  app->sendEvent(NSEvent::Make(event.down ? NSKeyDown : NSKeyUp, window->mouseLocationOutsideOfEventStream(), window, 0,
                               Modifiers(), text, static_cast<unsigned>(event.key)));
}

std::atomic<uint64_t> g_menuCapture{0};

// One turn of the main run loop: runs what is due, waiting for it at most `seconds`.
void Turn(double seconds) {
  NSRunLoop* loop = NSRunLoop::mainRunLoop();
  NSDate* limit = alloc<NSDate>()->initWithTimeIntervalSinceNow(seconds);
  if (!loop->runMode_beforeDate(nullptr, limit) && limit->timeIntervalSinceNow() > 0)
    loop->runUntilDate(nullptr);  // someone stopped the loop itself: take the stop and go on
  limit->release();
}

void Wake() { NSRunLoop::mainRunLoop()->Enqueue([] {}, 0); }

}  // namespace

namespace appkit::detail {

NSWindow* WindowOfSurface(uint64_t surface) {
  std::lock_guard guard(g_surfacesLock);
  auto it = Surfaces().find(surface);
  return it == Surfaces().end() ? nullptr : it->second;
}

void RegisterSurface(uint64_t surface, NSWindow* window) {
  std::lock_guard guard(g_surfacesLock);
  Surfaces()[surface] = window;
}

void UnregisterSurface(uint64_t surface) {
  std::lock_guard guard(g_surfacesLock);
  Surfaces().erase(surface);
}

void RouteInput(uint64_t surface) {
  // The core calls these on the thread that saw the input; the window is looked up again on the main
  // thread, since it may be gone by then.
  gui::TheDesktop().SetInput(
      surface,
      [](gui::SurfaceId target, const gui::PointerEvent& event) {
        NSRunLoop::mainRunLoop()->Enqueue([target, event] { DeliverPointer(target, event); }, 0);
      },
      [](gui::SurfaceId target, const gui::KeyEvent& event) {
        NSRunLoop::mainRunLoop()->Enqueue([target, event] { DeliverKey(target, event); }, 0);
      });
}

void Restack() {
  // Among our windows the higher level is on top; within a level the core's order stands.
  auto& desktop = gui::TheDesktop();
  std::vector<std::pair<NSInteger, uint64_t>> ours;
  for (gui::SurfaceId id : desktop.Stack())
    if (NSWindow* window = WindowOfSurface(id)) ours.push_back({window->level(), id});
  std::stable_sort(ours.begin(), ours.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (auto it = ours.rbegin(); it != ours.rend(); ++it) desktop.Raise(it->second);
}

NSPoint PointerOnScreen() { return Input().pointer; }

void TurnMainLoop(double seconds) { Turn(seconds); }

void SetMenuCapture(uint64_t surface) {
  g_menuCapture = surface;
  gui::TheDesktop().SetCapture(surface);
}

uint64_t MenuCapture() { return g_menuCapture; }

}  // namespace appkit::detail

// ---- NSEvent

NSEvent* NSEvent::Make(NSEventType type, NSPoint location, NSWindow* window, int clickCount, NSUInteger modifiers,
                       NSString* characters, unsigned keyCode) {
  NSEvent* event = alloc<NSEvent>();
  event->type_ = type;
  event->location_ = location;
  event->window_ = window;
  event->clickCount_ = clickCount;
  event->modifiers_ = modifiers;
  event->characters_ = characters ? static_cast<NSString*>(characters->retain()) : nullptr;
  event->keyCode_ = keyCode;
  event->timestamp_ = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  return static_cast<NSEvent*>(event->autorelease());
}

void NSEvent::dealloc() {
  if (characters_) characters_->release();
  NSObject::dealloc();
}

NSPoint NSEvent::mouseLocation() { return PointerOnScreen(); }

// ---- NSScreen

NSScreen* NSScreen::mainScreen() { return static_cast<NSScreen*>(alloc<NSScreen>()->autorelease()); }

NSArray* NSScreen::screens() {
  NSMutableArray* list = NSMutableArray::array();
  list->addObject(mainScreen());
  return list;
}

NSRect NSScreen::frame() const {
  const draw::Rect screen = gui::TheDesktop().ScreenBounds();
  return NSMakeRect(0, 0, static_cast<CGFloat>(screen.width()), static_cast<CGFloat>(screen.height()));
}

NSRect NSScreen::visibleFrame() const {
  NSRect all = frame();
  all.size.height -= kNSMenuBarHeight;
  return all;
}

// ---- NSApplication

NSApplication* NSApplication::sharedApplication() {
  static NSApplication* app = [] {
    NSApp = alloc<NSApplication>();  // lives for the process
    return NSApp;
  }();
  return app;
}

void NSApplication::finishLaunching() {
  if (launched_) return;
  launched_ = true;
  if (delegate_) delegate_->applicationDidFinishLaunching(nullptr);
}

void NSApplication::run() {
  finishLaunching();
  running_ = true;
  while (running_) Turn(3600);
}

void NSApplication::stop(id) {
  running_ = false;
  Wake();
}

void NSApplication::terminate(id) {
  if (delegate_ && delegate_->applicationShouldTerminate(this) == NSTerminateCancel) return;
  if (delegate_) delegate_->applicationWillTerminate(nullptr);
  stop(nullptr);
}

NSInteger NSApplication::runModalForWindow(NSWindow* window) {
  if (!window) return NSRunAbortedResponse;
  window->retain();
  NSWindow* outer = modalWindow_;
  const NSInteger outerCode = modalCode_;
  modalWindow_ = window;
  modalEnded_ = false;
  modalCode_ = NSRunStoppedResponse;
  window->makeKeyAndOrderFront(nullptr);
  while (!modalEnded_) Turn(3600);
  const NSInteger code = modalCode_;
  modalWindow_ = outer;
  modalCode_ = outerCode;
  modalEnded_ = false;
  window->release();
  return code;
}

void NSApplication::stopModalWithCode(NSInteger code) {
  if (!modalWindow_) return;
  modalCode_ = code;
  modalEnded_ = true;
  Wake();
}

void NSApplication::stopModal() { stopModalWithCode(NSRunStoppedResponse); }
void NSApplication::abortModal() { stopModalWithCode(NSRunAbortedResponse); }

bool NSApplication::TakesInput(NSWindow* window) const {
  return !modalWindow_ || window == modalWindow_ || window->Role() == "menu";
}

void NSApplication::sendEvent(NSEvent* event) {
  NSWindow* window = event ? event->window() : nullptr;
  if (!window) return;
  const NSEventType type = event->type();
  const bool person = type != NSMouseMoved && type != NSApplicationDefined;
  if (person && !TakesInput(window)) return;  // a modal run keeps the other windows still
  window->sendEvent(event);
  // After what a person did, toolbars show what their items allow now.
  if (person)
    for (NSWindow* shown : windows_)
      if (shown->isVisible() && shown->toolbar()) shown->update();
}

BOOL NSApplication::sendAction_to_from(std::function<void(id)> action, id, id sender) {
  if (!action) return NO;
  action(sender);
  return YES;
}

NSArray* NSApplication::windows() {
  NSMutableArray* list = NSMutableArray::array();
  for (NSWindow* window : windows_) list->addObject(window);
  return list;
}

void NSApplication::AddWindow(NSWindow* window) { windows_.push_back(window); }

void NSApplication::RemoveWindow(NSWindow* window) {
  std::erase(windows_, window);
  if (keyWindow_ == window) keyWindow_ = nullptr;
  if (modalWindow_ == window) modalWindow_ = nullptr;
}

void NSApplication::SetKeyWindow(NSWindow* window) {
  NSWindow* old = keyWindow_;
  if (old == window) return;
  keyWindow_ = window;
  if (old) old->update();  // the title bar shows who has the keys
  if (window) {
    window->update();
    gui::TheDesktop().SetFocus(window->SurfaceId());
  }
}

void NSApplication::setMainMenu(NSMenu* menu) {
  if (menu) menu->retain();
  if (mainMenu_) mainMenu_->release();
  mainMenu_ = menu;
  ShowMenuBar(menu);
}

void NSApplication::hide(id) {
  for (NSWindow* window : windows_)
    if (window->canHide()) window->orderOut(nullptr);
}

void NSApplication::unhideAllApplications(id) {}

// ---- start-up and the display

namespace appkit {
namespace {

std::mutex g_displayLock;
gui::X11Presenter* g_presenter = nullptr;

}  // namespace

void SetMainInterface(std::function<void()> builder) { MainInterface() = std::move(builder); }

bool StartX11Display(const std::string& name) {
  std::lock_guard guard(g_displayLock);
  if (g_presenter) return true;
  auto* presenter = new gui::X11Presenter;
  if (!presenter->Start(gui::TheDesktop(), name)) {
    delete presenter;
    return false;
  }
  g_presenter = presenter;
  return true;
}

bool DisplayRunning() {
  std::lock_guard guard(g_displayLock);
  return g_presenter != nullptr;
}

void StopDisplay() {
  std::lock_guard guard(g_displayLock);
  if (!g_presenter) return;
  // Our input handlers only queue what they get: the presenter's thread never waits for ours.
  g_presenter->Stop();
  delete g_presenter;
  g_presenter = nullptr;
}

}  // namespace appkit

bool appkit::detail::DisplayRunning() { return appkit::DisplayRunning(); }

namespace appkit {

bool StartDisplayFromEnvironment() {
  const char* choice = getenv("TAVRIN_DISPLAY");
  const std::string mode = choice ? choice : "";
  if (mode == "headless") return false;
  const char* x = getenv("DISPLAY");
  if (mode != "x11" && !(x && *x)) return false;
  return StartX11Display({});
}

bool RunMainLoopUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Turn(0.05);
  }
  return true;
}

}  // namespace appkit

int NSApplicationMain(int, const char**) {
  NSThread::setMainThread_class();
  NSApplication* app = NSApplication::sharedApplication();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  if (MainInterface()) MainInterface()();
  appkit::StartDisplayFromEnvironment();
  pool->drain();
  app->run();
  appkit::StopDisplay();
  return 0;
}
