// Top-level windows as the window core's surfaces.
#include "window_internal.h"

namespace tavrin::win::detail {

namespace {

// With the lock held.
gui::SurfaceState StateOf(const Window& window) {
  gui::SurfaceState state;
  state.rect = ToDraw(window.rect);  // a top-level window's rectangle is in screen coordinates
  state.visible = window.TopLevel() && window.Visible() && !(window.style & WS_MINIMIZE) && !window.destroying;
  state.popup = (window.style & WS_POPUP) || (window.exStyle & WS_EX_TOOLWINDOW);
  state.title = window.title;
  state.role = window.className == "#32770" ? "dialog" : window.className == "#32768" ? "menu" : "window";
  state.handle = reinterpret_cast<uintptr_t>(window.hwnd);
  return state;
}

void MirrorStackLocked() {
  std::vector<gui::SurfaceId> order;
  for (HWND top : Table().topLevels)
    if (auto window = Find(top); window && window->surfaceId) order.push_back(window->surfaceId);
  gui::TheDesktop().SetStack(order);
}

}  // namespace

void CreateSurfaceLocked(Window& window) {
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

void MirrorAllSurfaces() {
  std::lock_guard guard(Table().lock);
  for (HWND top : Table().topLevels)
    if (auto window = Find(top); window && window->surfaceId)
      gui::TheDesktop().Update(window->surfaceId, StateOf(*window), false);
  MirrorStackLocked();
}

}  // namespace tavrin::win::detail
