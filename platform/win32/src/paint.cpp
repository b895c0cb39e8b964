// Update regions, painting and window DCs, the top-level surfaces and the composed screen.
#include <algorithm>
#include <atomic>

#include "window_internal.h"

namespace tavrin::win {
namespace {

std::mutex g_providerLock;
DcProvider g_provider;
std::atomic<DisplaySink*> g_sink{nullptr};

// Every DC handed out here, with what it draws on.
struct DcRecord {
  HWND hwnd = nullptr;
  HWND topLevel = nullptr;
  RECT damage{};  // surface coordinates
  std::unique_ptr<Image> screen;  // GetDC(nullptr): a copy of the screen, owned by the DC
  std::unique_ptr<char> cookie;   // the handle itself when no GDI provider is installed
};
std::mutex g_dcLock;
std::map<HDC, DcRecord>& Dcs() {
  static auto* dcs = new std::map<HDC, DcRecord>;  // never destroyed
  return *dcs;
}

HDC OpenTarget(const DcTarget& target, DcRecord record) {
  DcProvider provider = CurrentDcProvider();
  HDC dc = nullptr;
  if (provider.open) dc = provider.open(target);
  if (!dc) {
    record.cookie = std::make_unique<char>();
    dc = reinterpret_cast<HDC>(record.cookie.get());
  }
  std::lock_guard guard(g_dcLock);
  Dcs()[dc] = std::move(record);
  return dc;
}

// Closes a DC made here; false when the handle is none of ours.
bool CloseTarget(HDC dc) {
  DcRecord record;
  {
    std::lock_guard guard(g_dcLock);
    auto it = Dcs().find(dc);
    if (it == Dcs().end()) return false;
    record = std::move(it->second);
    Dcs().erase(it);
  }
  if (!record.cookie) {
    if (auto close = CurrentDcProvider().close) close(dc);
  }
  if (record.topLevel && !detail::RectEmpty(record.damage)) detail::NotifyDamage(record.topLevel, record.damage);
  return true;
}

}  // namespace

void SetDcProvider(const DcProvider& provider) {
  std::lock_guard guard(g_providerLock);
  g_provider = provider;
}

const DcProvider& CurrentDcProvider() {
  std::lock_guard guard(g_providerLock);
  return g_provider;
}

void SetDisplaySink(DisplaySink* sink) { g_sink = sink; }

HDC OpenImageDc(Image& image) {
  DcTarget target;
  target.pixels = image.pixels.data();
  target.width = image.width;
  target.height = image.height;
  target.clip.push_back(RECT{0, 0, image.width, image.height});
  return OpenTarget(target, DcRecord{});
}

void CloseImageDc(HDC dc) { CloseTarget(dc); }

}  // namespace tavrin::win

namespace tavrin::win::detail {

void NotifyDisplayChanged(HWND hwnd) {
  if (auto* sink = g_sink.load()) sink->WindowChanged(hwnd);
}
void NotifyDisplayDestroyed(HWND hwnd) {
  if (auto* sink = g_sink.load()) sink->WindowDestroyed(hwnd);
}
void NotifyDamage(HWND topLevel, const RECT& rect) {
  if (auto* sink = g_sink.load()) sink->SurfaceDamaged(topLevel, rect);
}

void SurfaceResized(Window& window) {
  int w = std::max(window.Width(), 0), h = std::max(window.Height(), 0);
  if (window.surface.width == w && window.surface.height == h) return;
  window.surface.width = w;
  window.surface.height = h;
  window.surface.pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0x00FFFFFF);
}

void SyncPaintFlag(HWND hwnd) {
  bool needs;
  std::shared_ptr<core::MessageQueue> queue;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return;
    needs = !window->update.Empty() || window->framePending || window->internalPaint;
    queue = window->queue.lock();
  }
  if (queue) core::SetNeedsPaint(queue, hwnd, needs);
}

namespace {

enum class Children { kNone, kDefault, kAll };

// With the lock held: adds to the update state of a window and, as asked, of the children under the area.
void InvalidateLocked(Window& window, const RECT* rect, bool erase, bool frame, Children children,
                      std::vector<HWND>& touched) {
  RECT client{0, 0, window.client.right - window.client.left, window.client.bottom - window.client.top};
  RECT area = rect ? Intersection(*rect, client) : client;
  window.update.Add(area);
  window.erasePending = window.erasePending || (erase && !RectEmpty(area));
  window.framePending = window.framePending || frame;
  touched.push_back(window.hwnd);
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
  return window && (!window->update.Empty() || window->framePending || window->internalPaint);
}

// The visible part of a window (its client area, or all of it) in surface coordinates.
void VisibleArea(const Window& window, bool clientOnly, POINT offset, RectSet& clip) {
  RECT base = clientOnly ? window.client : RECT{0, 0, window.Width(), window.Height()};
  OffsetRect(&base, offset.x, offset.y);
  clip.rects.clear();
  clip.Add(base);
  // Parents' client areas bound the window.
  POINT childOffset = offset;
  const Window* current = &window;
  for (int depth = 0; !current->TopLevel() && depth < 64; ++depth) {
    auto parent = Find(current->parent);
    if (!parent) break;
    POINT parentClient{childOffset.x - current->rect.left, childOffset.y - current->rect.top};
    RECT parentArea{parentClient.x, parentClient.y, parentClient.x + parent->client.right - parent->client.left,
                    parentClient.y + parent->client.bottom - parent->client.top};
    clip.Intersect(parentArea);
    if (current->style & WS_CLIPSIBLINGS) {  // siblings above it are cut out
      for (HWND sibling : parent->children) {
        if (sibling == current->hwnd) break;
        auto s = Find(sibling);
        if (!s || !s->Visible()) continue;
        RECT r = s->rect;
        OffsetRect(&r, parentClient.x, parentClient.y);
        clip.Subtract(r);
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
      clip.Subtract(r);
    }
  }
}

// A DC on a window's part of its surface; `update` (client coordinates) narrows it when given.
HDC OpenWindowDc(HWND hwnd, bool clientOnly, const RectSet* update) {
  DcTarget target;
  DcRecord record;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return nullptr;
    POINT offset;
    auto top = SurfaceOf(*window, offset);
    if (!top) return nullptr;
    RectSet clip;
    VisibleArea(*window, clientOnly, offset, clip);
    POINT origin = clientOnly ? POINT{offset.x + window->client.left, offset.y + window->client.top} : offset;
    if (update) {
      RectSet area = *update;
      area.Offset(origin.x, origin.y);
      RectSet narrowed;
      for (auto& r : area.rects)
        for (auto& c : clip.rects) narrowed.Add(Intersection(r, c));
      clip = std::move(narrowed);
    }
    clip.Intersect(RECT{0, 0, top->surface.width, top->surface.height});
    target.hwnd = hwnd;
    target.pixels = top->surface.pixels.data();
    target.width = top->surface.width;
    target.height = top->surface.height;
    target.origin = origin;
    target.clip = clip.rects;
    record.hwnd = hwnd;
    record.topLevel = top->hwnd;
    record.damage = clip.Bounds();
  }
  return OpenTarget(target, std::move(record));
}

}  // namespace

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

bool CaptureWindow(HWND hwnd, Image& image) {
  std::lock_guard guard(detail::Table().lock);
  auto window = detail::Find(hwnd);
  if (!window) return false;
  POINT offset;
  auto top = detail::SurfaceOf(*window, offset);
  if (!top) return false;
  image.width = window->Width();
  image.height = window->Height();
  image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0);
  for (int y = 0; y < image.height; ++y) {
    int sy = y + offset.y;
    if (sy < 0 || sy >= top->surface.height) continue;
    for (int x = 0; x < image.width; ++x) {
      int sx = x + offset.x;
      if (sx < 0 || sx >= top->surface.width) continue;
      image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] =
          top->surface.pixels[static_cast<size_t>(sy) * static_cast<size_t>(top->surface.width) + static_cast<size_t>(sx)];
    }
  }
  return true;
}

Image ComposeScreen() {
  SIZE size = ScreenSize();
  Image screen;
  screen.width = size.cx;
  screen.height = size.cy;
  screen.pixels.assign(static_cast<size_t>(size.cx) * static_cast<size_t>(size.cy), 0x003A6EA5);
  std::lock_guard guard(detail::Table().lock);
  auto& order = detail::Table().topLevels;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    auto window = detail::Find(*it);
    if (!window || !window->Visible() || (window->style & WS_MINIMIZE)) continue;
    auto& surface = window->surface;
    for (int y = 0; y < surface.height; ++y) {
      int sy = window->rect.top + y;
      if (sy < 0 || sy >= screen.height) continue;
      for (int x = 0; x < surface.width; ++x) {
        int sx = window->rect.left + x;
        if (sx < 0 || sx >= screen.width) continue;
        screen.pixels[static_cast<size_t>(sy) * static_cast<size_t>(screen.width) + static_cast<size_t>(sx)] =
            surface.pixels[static_cast<size_t>(y) * static_cast<size_t>(surface.width) + static_cast<size_t>(x)];
      }
    }
  }
  return screen;
}

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
  if (NeedsPaint(hwnd)) SendNow(hwnd, WM_PAINT, 0, 0);
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
        if (rect && window->hwnd == hwnd) window->update.Subtract(*rect);
        else window->update.rects.clear();
        if (flags & RDW_NOFRAME) window->framePending = false;
        if ((flags & RDW_NOERASE) || window->update.Empty()) window->erasePending = false;
        if (flags & RDW_NOINTERNALPAINT) window->internalPaint = false;
        if (!rect && !(flags & RDW_NOFRAME) && window->update.Empty()) window->internalPaint = false;
        touched.push_back(window->hwnd);
        if (children == Children::kAll) for (HWND c : window->children) stack.push_back(Find(c));
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
        if (children == Children::kDefault && (window->style & WS_CLIPCHILDREN) && i == 0) {
          // Children with their own update regions still paint now.
        }
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
  RECT bounds = window->update.Bounds();
  if (rect) *rect = bounds;
  return !RectEmpty(bounds);
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  *paint = PAINTSTRUCT{};
  bool frame;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    frame = window->framePending;
    window->framePending = false;
  }
  if (frame) SendNow(hwnd, WM_NCPAINT, 1, 0);
  RectSet update;
  bool erase;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return nullptr;
    update = std::move(window->update);
    window->update.rects.clear();
    erase = window->erasePending;
    window->erasePending = false;
    window->internalPaint = false;
  }
  SyncPaintFlag(hwnd);
  HDC dc = OpenWindowDc(hwnd, true, &update);
  paint->hdc = dc;
  paint->rcPaint = update.Bounds();
  if (erase) paint->fErase = SendNow(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
  return dc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (paint && paint->hdc) tavrin::win::CloseTarget(paint->hdc);
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  if (!hwnd) {
    auto screen = std::make_unique<tavrin::win::Image>(tavrin::win::ComposeScreen());
    tavrin::win::DcTarget target;
    target.pixels = screen->pixels.data();
    target.width = screen->width;
    target.height = screen->height;
    target.clip.push_back(RECT{0, 0, screen->width, screen->height});
    tavrin::win::DcRecord record;
    record.screen = std::move(screen);
    return tavrin::win::OpenTarget(target, std::move(record));
  }
  return OpenWindowDc(hwnd, true, nullptr);
}

HDC GetWindowDC(HWND hwnd) { return hwnd ? OpenWindowDc(hwnd, false, nullptr) : GetDC(nullptr); }

int ReleaseDC(HWND, HDC dc) { return tavrin::win::CloseTarget(dc) ? 1 : 0; }

HWND WindowFromDC(HDC dc) {
  std::lock_guard guard(tavrin::win::g_dcLock);
  auto it = tavrin::win::Dcs().find(dc);
  return it == tavrin::win::Dcs().end() ? nullptr : it->second.hwnd;
}

BOOL LockWindowUpdate(HWND) { return TRUE; }
