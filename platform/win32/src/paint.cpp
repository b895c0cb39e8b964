// Update regions, painting, the window DCs GDI draws through, the top-level surfaces and the composed
// screen.
#include <algorithm>
#include <atomic>

#include "window_internal.h"

namespace tavrin::win {
namespace {

std::atomic<DisplaySink*> g_sink{nullptr};

}  // namespace

void SetDisplaySink(DisplaySink* sink) { g_sink = sink; }
bool DisplayRunning() { return g_sink.load() != nullptr || detail::PresenterRunning(); }

}  // namespace tavrin::win

namespace tavrin::win::detail {

void NotifyDisplayChanged(HWND hwnd) {
  MirrorSurface(hwnd, true);
  if (auto* sink = g_sink.load()) sink->WindowChanged(hwnd);
}
void NotifyDisplayDestroyed(HWND hwnd) {
  if (auto* sink = g_sink.load()) sink->WindowDestroyed(hwnd);
}
void NotifyCursorChanged() {
  if (auto* sink = g_sink.load()) sink->CursorChanged();
}
void NotifyDamage(HWND topLevel, const RECT& rect) {
  // The core's state first: a presenter that puts the pixels shows them where the window now is.
  if (gui::SurfaceId id = MirrorSurface(topLevel, false)) gui::TheDesktop().Damage(id, ToDraw(rect));
  if (auto* sink = g_sink.load()) sink->SurfaceDamaged(topLevel, rect);
}

void SurfaceResized(Window& window) {
  // A new surface each time: DCs still open on the old one keep it alive and draw nowhere visible.
  window.surface = gui::TheDesktop().Resize(window.surfaceId, window.Width(), window.Height());
}

namespace {

// With the lock held: the window and every window above it are visible.
bool ShownLocked(const Window& window) {
  const Window* current = &window;
  std::shared_ptr<Window> parent;
  for (int depth = 0; depth < 64; ++depth) {
    if (!current->Visible()) return false;
    if (current->TopLevel()) return true;
    parent = Find(current->parent);
    if (!parent) return true;
    current = parent.get();
  }
  return true;
}

bool NeedsPaintLocked(const Window& window) {
  return (!window.update.empty() || window.framePending || window.internalPaint) && ShownLocked(window);
}

}  // namespace

void SyncPaintFlag(HWND hwnd) {
  bool needs;
  std::shared_ptr<core::MessageQueue> queue;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return;
    needs = NeedsPaintLocked(*window);
    queue = window->queue.lock();
  }
  if (queue) core::SetNeedsPaint(queue, hwnd, needs);
}

void SyncPaintFlags(HWND hwnd) {
  std::vector<HWND> tree{hwnd};
  {
    std::lock_guard guard(Table().lock);
    for (size_t i = 0; i < tree.size() && tree.size() < 100000; ++i)
      if (auto window = Find(tree[i])) tree.insert(tree.end(), window->children.begin(), window->children.end());
  }
  for (HWND h : tree) SyncPaintFlag(h);
}

namespace {

enum class Children { kNone, kDefault, kAll };

RECT ClientArea(const Window& window) {
  return RECT{0, 0, std::max(0, window.client.right - window.client.left),
              std::max(0, window.client.bottom - window.client.top)};
}

// With the lock held: adds to the update state of a window and, as asked, of the children under the area.
void InvalidateLocked(Window& window, const RECT* rect, bool erase, bool frame, Children children,
                      std::vector<HWND>& touched) {
  RECT client = ClientArea(window);
  RECT area = rect ? Intersection(*rect, client) : client;
  if (!RectEmpty(area)) window.update |= draw::Region(ToDraw(area));
  window.erasePending = window.erasePending || (erase && !RectEmpty(area));
  window.framePending = window.framePending || frame;
  touched.push_back(window.hwnd);
  // Without WS_CLIPCHILDREN the parent paints over its children, so they paint again after it.
  bool descend = children == Children::kAll || (children == Children::kDefault && !(window.style & WS_CLIPCHILDREN));
  if (!descend) return;
  for (HWND childHandle : window.children) {
    auto child = Find(childHandle);
    if (!child || !child->Visible()) continue;
    RECT overlap = Intersection(area, child->rect);
    if (RectEmpty(overlap)) continue;
    OffsetRect(&overlap, -child->rect.left - child->client.left, -child->rect.top - child->client.top);
    InvalidateLocked(*child, &overlap, erase, true, children == Children::kAll ? Children::kAll : Children::kDefault,
                     touched);
  }
}

void InvalidateWith(HWND hwnd, const RECT* rect, bool erase, bool frame, Children children) {
  std::vector<HWND> touched;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return;
    InvalidateLocked(*window, rect, erase, frame, children, touched);
  }
  for (HWND h : touched) SyncPaintFlag(h);
}

bool NeedsPaint(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  return window && NeedsPaintLocked(*window);
}

// With the lock held: the visible part of a window (its client area, or all of it) in surface
// coordinates, `offset` being the window's top-left on the surface.
draw::Region VisibleArea(const Window& window, bool clientOnly, POINT offset) {
  RECT base = clientOnly ? window.client : RECT{0, 0, window.Width(), window.Height()};
  OffsetRect(&base, offset.x, offset.y);
  draw::Region visible{ToDraw(base)};
  // Parents' client areas bound the window; siblings above a WS_CLIPSIBLINGS window are cut out.
  POINT childOffset = offset;
  const Window* current = &window;
  for (int depth = 0; !current->TopLevel() && depth < 64; ++depth) {
    // A hidden child (or a child of a hidden one) has no pixels on its top-level window's surface.
    if (!current->Visible()) return draw::Region();
    auto parent = Find(current->parent);
    if (!parent) break;
    POINT parentClient{childOffset.x - current->rect.left, childOffset.y - current->rect.top};
    RECT parentArea = ClientArea(*parent);
    OffsetRect(&parentArea, parentClient.x, parentClient.y);
    visible &= draw::Region(ToDraw(parentArea));
    if (current->style & WS_CLIPSIBLINGS) {
      for (HWND sibling : parent->children) {
        if (sibling == current->hwnd) break;
        auto s = Find(sibling);
        if (!s || !s->Visible()) continue;
        RECT r = s->rect;
        OffsetRect(&r, parentClient.x, parentClient.y);
        visible -= draw::Region(ToDraw(r));
      }
    }
    childOffset = POINT{parentClient.x - parent->client.left, parentClient.y - parent->client.top};
    current = parent.get();
  }
  if (window.style & WS_CLIPCHILDREN) {
    for (HWND childHandle : window.children) {
      auto child = Find(childHandle);
      if (!child || !child->Visible()) continue;
      RECT r = child->rect;
      OffsetRect(&r, offset.x + window.client.left, offset.y + window.client.top);
      visible -= draw::Region(ToDraw(r));
    }
  }
  return visible;
}

// A DC target on a window's part of its top-level surface; `update` (client coordinates) narrows it.
bool WindowTarget(HWND hwnd, bool whole, const draw::Region* update, gdi::WindowDcTarget& target) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return false;
  POINT offset;
  auto top = SurfaceOf(*window, offset);
  if (!top || !top->surface) return false;
  draw::Region visible = VisibleArea(*window, !whole, offset);
  POINT origin = whole ? offset : POINT{offset.x + window->client.left, offset.y + window->client.top};
  visible.offset(-origin.x, -origin.y);  // DC coordinates
  if (update) visible &= *update;
  target.surface = top->surface;
  target.origin = draw::Point{origin.x, origin.y};
  target.visible = std::move(visible);
  return true;
}

draw::Surface Screen();

bool Acquire(HWND hwnd, bool whole, gdi::WindowDcTarget& target) {
  if (!hwnd) {  // the screen: a copy, composed now
    target.surface = std::make_shared<draw::Surface>(Screen());
    target.origin = draw::Point{};
    target.visible = draw::Region(target.surface->bounds());
    return true;
  }
  return WindowTarget(hwnd, whole, nullptr, target);
}

bool BeginPaintTarget(HWND hwnd, gdi::WindowDcTarget& target, PAINTSTRUCT& paint) {
  bool frame;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return false;
    frame = window->framePending;
    window->framePending = false;
  }
  if (frame) SendNow(hwnd, WM_NCPAINT, 1, 0);
  draw::Region update;
  bool erase;
  std::vector<HWND> touched;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return false;
    update = std::move(window->update);
    window->update = draw::Region();
    update &= draw::Region(ToDraw(ClientArea(*window)));
    erase = window->erasePending;
    window->erasePending = false;
    window->internalPaint = false;
    // Without WS_CLIPCHILDREN this paint covers the children under it; those painted since the parent was
    // invalidated (UpdateWindow on a child) must paint again after it.
    if (!(window->style & WS_CLIPCHILDREN) && !update.empty()) {
      const RECT area = FromDraw(update.bounds());
      for (HWND childHandle : window->children) {
        auto child = Find(childHandle);
        if (!child || !child->Visible()) continue;
        RECT overlap = Intersection(area, child->rect);
        if (RectEmpty(overlap)) continue;
        OffsetRect(&overlap, -child->rect.left - child->client.left, -child->rect.top - child->client.top);
        InvalidateLocked(*child, &overlap, true, true, Children::kDefault, touched);
      }
    }
  }
  SyncPaintFlag(hwnd);
  for (HWND child : touched) SyncPaintFlag(child);
  if (!WindowTarget(hwnd, false, &update, target)) return false;
  paint.rcPaint = FromDraw(update.bounds());
  if (erase) {  // the background goes first, on a DC of the same area
    HDC dc = gdi::CreateSurfaceDC(target, hwnd);
    paint.fErase = SendNow(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
    ReleaseDC(hwnd, dc);
  }
  return true;
}

void Released(HWND hwnd, const draw::Rect& touched) {
  if (!hwnd || touched.empty()) return;
  HWND top;
  {
    std::lock_guard guard(Table().lock);
    top = RootLocked(hwnd);
  }
  if (top) NotifyDamage(top, FromDraw(touched));  // a window held until drawn now shows
}

draw::Surface Screen() {
  MirrorAllSurfaces();
  return gui::TheDesktop().Compose();
}

}  // namespace

void EnsureDcProvider() {
  static std::once_flag once;
  std::call_once(once, [] {
    gdi::WindowDcProvider provider;
    provider.acquire = Acquire;
    provider.beginPaint = BeginPaintTarget;
    provider.released = Released;
    gdi::SetWindowDcProvider(std::move(provider));
    // New system colours repaint every top-level window after telling it.
    gdi::SetSysColorChangeListener([] {
      std::vector<HWND> tops;
      {
        std::lock_guard guard(Table().lock);
        tops = Table().topLevels;
      }
      for (HWND top : tops) {
        Notify(top, WM_SYSCOLORCHANGE, 0, 0);
        RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
      }
    });
  });
}

void Invalidate(HWND hwnd, const RECT* rect, bool erase, bool frame, bool children) {
  InvalidateWith(hwnd, rect, erase, frame, children ? Children::kAll : Children::kDefault);
}

HWND PickPaint(const std::vector<HWND>& candidates) {
  std::lock_guard guard(Table().lock);
  for (HWND hwnd : candidates) {
    bool ancestorPending = false;
    auto window = Find(hwnd);
    for (int depth = 0; window && !window->TopLevel() && depth < 64 && !ancestorPending; ++depth) {
      ancestorPending = std::find(candidates.begin(), candidates.end(), window->parent) != candidates.end();
      window = Find(window->parent);
    }
    if (!ancestorPending) return hwnd;
  }
  return candidates.empty() ? nullptr : candidates.front();
}

}  // namespace tavrin::win::detail

namespace tavrin::win {

bool CaptureWindow(HWND hwnd, draw::Surface& image) {
  std::lock_guard guard(detail::Table().lock);
  auto window = detail::Find(hwnd);
  if (!window) return false;
  POINT offset;
  auto top = detail::SurfaceOf(*window, offset);
  if (!top || !top->surface) return false;
  image.Reset(std::max(window->Width(), 0), std::max(window->Height(), 0), 0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.set(x, y, top->surface->get(x + offset.x, y + offset.y));
  return true;
}

draw::Surface ComposeScreen() { return detail::Screen(); }

void PaintPending() {
  MSG msg;
  // A window that never validates would come back for ever: each window gets one turn per call.
  std::vector<HWND> done;
  while (PeekMessage(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE)) {
    if (std::find(done.begin(), done.end(), msg.hwnd) != done.end()) break;
    done.push_back(msg.hwnd);
    PeekMessage(&msg, msg.hwnd, WM_PAINT, WM_PAINT, PM_REMOVE);
    DispatchMessage(&msg);
  }
}

}  // namespace tavrin::win

using namespace tavrin::win::detail;

BOOL InvalidateRect(HWND hwnd, LPCRECT rect, BOOL erase) {
  if (!hwnd) return RedrawWindow(nullptr, rect, nullptr, RDW_INVALIDATE | (erase ? RDW_ERASE : 0) | RDW_ALLCHILDREN);
  if (!FindLocked(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Invalidate(hwnd, rect, erase, false, false);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, LPCRECT rect) {
  return RedrawWindow(hwnd, rect, nullptr, RDW_VALIDATE | (rect ? 0 : RDW_NOFRAME | RDW_NOERASE));
}

BOOL UpdateWindow(HWND hwnd) {
  if (!FindLocked(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // Sent, not called: from another thread the window's own thread paints.
  if (NeedsPaint(hwnd)) SendMessage(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL RedrawWindow(HWND hwnd, LPCRECT rect, HRGN, UINT flags) {
  if (!hwnd) {  // the desktop: every top-level window
    std::vector<HWND> tops;
    {
      std::lock_guard guard(Table().lock);
      tops = Table().topLevels;
    }
    for (HWND top : tops) RedrawWindow(top, nullptr, nullptr, flags | RDW_FRAME);
    return TRUE;
  }
  if (!FindLocked(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Children children = (flags & RDW_ALLCHILDREN) ? Children::kAll
                      : (flags & RDW_NOCHILDREN) ? Children::kNone
                                                 : Children::kDefault;
  if (flags & RDW_INVALIDATE) InvalidateWith(hwnd, rect, flags & RDW_ERASE, flags & RDW_FRAME, children);
  if (flags & RDW_INTERNALPAINT) {
    std::lock_guard guard(Table().lock);
    if (auto window = Find(hwnd)) window->internalPaint = true;
  }
  if (flags & RDW_VALIDATE) {
    std::vector<HWND> touched;
    {
      std::lock_guard guard(Table().lock);
      std::vector<std::shared_ptr<Window>> stack{Find(hwnd)};
      while (!stack.empty()) {
        auto window = stack.back();
        stack.pop_back();
        if (!window) continue;
        if (rect && window->hwnd == hwnd) window->update -= tavrin::draw::Region(ToDraw(*rect));
        else window->update = tavrin::draw::Region();
        if (flags & RDW_NOFRAME) window->framePending = false;
        if ((flags & RDW_NOERASE) || window->update.empty()) window->erasePending = false;
        if (flags & RDW_NOINTERNALPAINT) window->internalPaint = false;
        if (!rect && !(flags & RDW_NOFRAME) && window->update.empty()) window->internalPaint = false;
        touched.push_back(window->hwnd);
        if (children == Children::kAll)
          for (HWND c : window->children) stack.push_back(Find(c));
      }
    }
    for (HWND h : touched) SyncPaintFlag(h);
  }
  if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) {
    std::vector<HWND> order{hwnd};  // parents before children
    if (children != Children::kNone) {
      std::lock_guard guard(Table().lock);
      for (size_t i = 0; i < order.size(); ++i) {
        auto window = Find(order[i]);
        if (!window) continue;
        for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) order.push_back(*it);
      }
    }
    for (HWND h : order) UpdateWindow(h);
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return FALSE;
  RECT bounds = FromDraw(window->update.bounds());
  if (rect) *rect = bounds;
  return !RectEmpty(bounds);
}

BOOL LockWindowUpdate(HWND) { return TRUE; }
