// Top-level windows as the window core's surfaces.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "window_internal.h"

namespace tavrin::win::detail {

std::string RoleOf(const Window& window) {
  if (!window.TopLevel()) return {};
  return window.className == "#32770" ? "dialog" : window.className == "#32768" ? "menu" : "window";
}

namespace {

// With the lock held.
gui::SurfaceState StateOf(const Window& window) {
  gui::SurfaceState state;
  state.rect = ToDraw(window.rect);  // a top-level window's rectangle is in screen coordinates
  state.visible = window.TopLevel() && window.Visible() && !(window.style & WS_MINIMIZE) && !window.destroying;
  state.popup = (window.style & WS_POPUP) || (window.exStyle & WS_EX_TOOLWINDOW);
  state.title = window.title;
  state.role = RoleOf(window);
  state.handle = reinterpret_cast<uintptr_t>(window.hwnd);
  state.trayIcon = window.trayIcon;
  return state;
}

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
      std::optional<DWORD> time;
      if (event.when != std::chrono::steady_clock::time_point{}) {
        const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - event.when);
        time = GetTickCount() - static_cast<DWORD>(std::max<int64_t>(age.count(), 0));
      }
      InjectMouseButton(button, event.kind == Kind::kPress, event.screen.x, event.screen.y, time);
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

// The display shows a window elsewhere (a tray icon the tray placed): the window's own thread moves it.
void Placed(gui::SurfaceId id, std::optional<draw::Point> topLeft) {
  HWND hwnd = nullptr;
  {
    std::lock_guard guard(Table().lock);
    for (HWND top : Table().topLevels)
      if (auto window = Find(top); window && window->surfaceId == id) hwnd = top;
  }
  const LPARAM at = topLeft ? MAKELPARAM(static_cast<WORD>(topLeft->x), static_cast<WORD>(topLeft->y)) : 0;
  if (hwnd) PostMessage(hwnd, PlaceMessage(), topLeft ? 1 : 0, at);
}

void MirrorStackLocked() {
  std::vector<gui::SurfaceId> order;
  for (HWND top : Table().topLevels)
    if (auto window = Find(top); window && window->surfaceId) order.push_back(window->surfaceId);
  gui::TheDesktop().SetStack(order);
}

}  // namespace

void EnsureInputRouting() {
  static std::once_flag once;
  // Input goes through the Win32 routing (capture, hit tests) whichever surface it was seen on.
  std::call_once(once, [] {
    gui::TheDesktop().SetDefaultInput(Pointer, Key);
    gui::TheDesktop().SetPlaceHandler(Placed);
  });
}

void CreateSurfaceLocked(Window& window) {
  EnsureInputRouting();
  auto& desktop = gui::TheDesktop();
  window.surfaceId = desktop.Create(StateOf(window));
  window.surface = desktop.Pixels(window.surfaceId);
  MirrorStackLocked();
}

gui::SurfaceId MirrorSurface(HWND topLevel, bool announce) {
  gui::SurfaceId id = 0;
  gui::SurfaceState state;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(topLevel);
    if (!window || !window->surfaceId) return 0;
    id = window->surfaceId;
    state = StateOf(*window);
    MirrorStackLocked();
  }
  gui::TheDesktop().Update(id, state, announce);  // presenters run outside the window table's lock
  return id;
}

void MarkTrayIcon(HWND topLevel) {
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(topLevel);
    if (!window || !window->TopLevel()) return;
    window->trayIcon = true;
  }
  MirrorSurface(topLevel, true);
}

UINT PlaceMessage() {
  static const UINT message = RegisterWindowMessage("TavrinPlaceWindow");
  return message;
}

void MoveToPlace(HWND topLevel, bool placed, POINT topLeft) {
  POINT to{};
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(topLevel);
    if (!window || !window->TopLevel()) return;
    if (placed) {
      if (!window->ownPlace) window->ownPlace = POINT{window->rect.left, window->rect.top};
      to = topLeft;
    } else {
      if (!window->ownPlace) return;
      to = *window->ownPlace;
      window->ownPlace.reset();
    }
  }
  SetWindowPos(topLevel, nullptr, to.x, to.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MirrorInputLocked() {
  auto surfaceOf = [](HWND hwnd) -> gui::SurfaceId {
    auto top = hwnd ? Find(RootLocked(hwnd)) : nullptr;
    return top ? top->surfaceId : 0;
  };
  auto& desktop = gui::TheDesktop();
  desktop.SetCapture(surfaceOf(Table().capture));
  desktop.SetFocus(surfaceOf(Table().focus));
}

void MirrorAllSurfaces() {
  std::lock_guard guard(Table().lock);
  for (HWND top : Table().topLevels)
    if (auto window = Find(top); window && window->surfaceId)
      gui::TheDesktop().Update(window->surfaceId, StateOf(*window), false);
  MirrorStackLocked();
}

}  // namespace tavrin::win::detail
