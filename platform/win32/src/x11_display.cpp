// The X11 display: the window core's X11 presenter shows the top-level windows' surfaces, and its input
// comes back through the injection calls, which route it by the Win32 rules (capture, hit tests).
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "gui/x11_presenter.h"
#include "window_internal.h"

namespace tavrin::win {
namespace {

int VirtualKeyOf(const gui::KeyEvent& event) {
  switch (event.key) {
    case gui::Key::kCharacter: return event.detail;  // letters and digits are their own codes
    case gui::Key::kFunction: return event.detail >= 1 && event.detail <= 12 ? VK_F1 + event.detail - 1 : 0;
    case gui::Key::kReturn: return VK_RETURN;
    case gui::Key::kEscape: return VK_ESCAPE;
    case gui::Key::kBackspace: return VK_BACK;
    case gui::Key::kTab: return VK_TAB;
    case gui::Key::kSpace: return VK_SPACE;
    case gui::Key::kLeft: return VK_LEFT;
    case gui::Key::kRight: return VK_RIGHT;
    case gui::Key::kUp: return VK_UP;
    case gui::Key::kDown: return VK_DOWN;
    case gui::Key::kHome: return VK_HOME;
    case gui::Key::kEnd: return VK_END;
    case gui::Key::kPageUp: return VK_PRIOR;
    case gui::Key::kPageDown: return VK_NEXT;
    case gui::Key::kInsert: return VK_INSERT;
    case gui::Key::kDelete: return VK_DELETE;
    case gui::Key::kShift: return VK_SHIFT;
    case gui::Key::kControl: return VK_CONTROL;
    case gui::Key::kAlt: return VK_MENU;
    case gui::Key::kNone: break;
  }
  return 0;
}

void Pointer(gui::SurfaceId, const gui::PointerEvent& event) {
  using Kind = gui::PointerEvent::Kind;
  switch (event.kind) {
    case Kind::kMove:
      InjectMouseMove(event.screen.x, event.screen.y);
      break;
    case Kind::kPress:
    case Kind::kRelease: {
      MouseButton button = event.button == gui::PointerButton::kLeft    ? MouseButton::kLeft
                           : event.button == gui::PointerButton::kRight ? MouseButton::kRight
                                                                        : MouseButton::kMiddle;
      InjectMouseButton(button, event.kind == Kind::kPress, event.screen.x, event.screen.y);
      break;
    }
    case Kind::kLeave:
      InjectMouseMove(-1, -1);  // off every window: tracked windows hear they were left
      break;
  }
}

void Key(gui::SurfaceId, const gui::KeyEvent& event) {
  if (int vk = VirtualKeyOf(event)) InjectKey(vk, event.down);
}

std::mutex g_displayLock;
gui::X11Presenter* g_presenter = nullptr;
std::atomic<bool> g_presenting{false};

}  // namespace

namespace detail {
bool PresenterRunning() { return g_presenting; }
}  // namespace detail

bool StartX11Display(const std::string& name) {
  std::lock_guard guard(g_displayLock);
  if (g_presenter) return true;
  auto& desktop = gui::TheDesktop();
  // Input goes through the Win32 routing whichever surface the presenter saw it on.
  desktop.SetDefaultInput(Pointer, Key);
  detail::MirrorAllSurfaces();  // windows that exist already appear as they are
  auto* presenter = new gui::X11Presenter;
  if (!presenter->Start(desktop, name)) {
    delete presenter;
    return false;
  }
  g_presenter = presenter;
  g_presenting = true;
  return true;
}

void StopDisplay() {
  std::lock_guard guard(g_displayLock);
  if (!g_presenter) return;
  g_presenting = false;
  // The presenter's thread may be sending a hit test to this very thread: sent messages are answered
  // while it finishes.
  g_presenter->Stop([] {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
  });
  delete g_presenter;
  g_presenter = nullptr;
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
