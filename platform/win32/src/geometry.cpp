// Window rectangles, the frame (non-client area), z-order, coordinate mapping, hit tests and the
// default window procedure.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <string>
#include <utility>
#include <vector>

#include "menu_internal.h"
#include "window_internal.h"

namespace tavrin::win::detail {

bool RectEmpty(const RECT& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

RECT Intersection(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return RectEmpty(r) ? RECT{0, 0, 0, 0} : r;
}

RECT FrameInsets(DWORD style, DWORD exStyle) {
  int edge = 0;
  if (style & WS_THICKFRAME) edge = 4;
  else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME)) edge = 3;
  else if (style & WS_BORDER) edge = 1;
  if (exStyle & WS_EX_CLIENTEDGE) edge += 2;
  if (exStyle & WS_EX_STATICEDGE) edge += 1;
  return RECT{edge, edge + CaptionHeight(style, exStyle), edge, edge};
}

int CaptionHeight(DWORD style, DWORD exStyle) {
  if ((style & WS_CAPTION) != WS_CAPTION) return 0;
  return (exStyle & WS_EX_TOOLWINDOW) ? 16 : 19;
}

POINT ScreenOrigin(const Window& window) {
  POINT origin{window.rect.left, window.rect.top};
  const Window* current = &window;
  for (int depth = 0; !current->TopLevel() && depth < 64; ++depth) {
    auto parent = Find(current->parent);
    if (!parent) break;
    origin.x += parent->rect.left + parent->client.left;
    origin.y += parent->rect.top + parent->client.top;
    current = parent.get();
  }
  return origin;
}

POINT ClientScreenOrigin(const Window& window) {
  POINT origin = ScreenOrigin(window);
  return POINT{origin.x + window.client.left, origin.y + window.client.top};
}

std::shared_ptr<Window> SurfaceOf(const Window& window, POINT& offset) {
  offset = POINT{0, 0};
  std::shared_ptr<Window> current = Find(window.hwnd);
  for (int depth = 0; current && depth < 64; ++depth) {
    if (current->TopLevel()) return current;
    auto parent = Find(current->parent);
    if (!parent) return nullptr;
    offset.x += current->rect.left + parent->client.left;
    offset.y += current->rect.top + parent->client.top;
    current = parent;
  }
  return nullptr;
}

HWND RootLocked(HWND hwnd) {
  auto window = Find(hwnd);
  for (int depth = 0; window && !window->TopLevel() && depth < 64; ++depth) window = Find(window->parent);
  return window ? window->hwnd : nullptr;
}

bool ReallyVisible(const Window& window) {
  const Window* current = &window;
  for (int depth = 0; depth < 64; ++depth) {
    if (!current->Visible()) return false;
    if (current->TopLevel()) return true;
    auto parent = Find(current->parent);
    if (!parent) return false;
    current = parent.get();
  }
  return false;
}

namespace {

// The properties WM_SETICON keeps a window's icons in.
constexpr char kBigIconProp[] = "tavrin.icon.big";
constexpr char kSmallIconProp[] = "tavrin.icon.small";

bool Passed(HWND hwnd, const std::vector<HWND>& passed) {
  return std::find(passed.begin(), passed.end(), hwnd) != passed.end();
}

// The deepest visible child of `window` holding the screen point, or the window itself.
HWND DeepestAt(const Window& window, POINT screen, bool skipDisabled, const std::vector<HWND>& passed) {
  POINT client = ClientScreenOrigin(window);
  POINT local{screen.x - client.x, screen.y - client.y};
  RECT clientArea{0, 0, window.client.right - window.client.left, window.client.bottom - window.client.top};
  if (PtInRect(&clientArea, local)) {
    for (HWND childHandle : window.children) {
      auto child = Find(childHandle);
      if (!child || !child->Visible() || (child->exStyle & WS_EX_TRANSPARENT) || Passed(childHandle, passed)) continue;
      if (!PtInRect(&child->rect, local)) continue;
      if (skipDisabled && (child->style & WS_DISABLED)) return window.hwnd;
      return DeepestAt(*child, screen, skipDisabled, passed);
    }
  }
  return window.hwnd;
}
}  // namespace

HWND WindowAt(POINT screen, const std::vector<HWND>& passed) {
  for (HWND top : Table().topLevels) {
    auto window = Find(top);
    if (!window || !window->Visible() || window->destroying || Passed(top, passed)) continue;
    RECT rect = window->rect;
    if (!PtInRect(&rect, screen)) continue;
    return DeepestAt(*window, screen, true, passed);
  }
  return nullptr;
}

constexpr size_t kMostPassed = 64;  // windows the mouse passes through at most

HWND WindowUnder(POINT screen, bool anyThread, LRESULT* hit) {
  std::vector<HWND> passed;
  for (;;) {
    HWND target;
    bool ask;
    {
      std::lock_guard guard(Table().lock);
      target = WindowAt(screen, passed);
      auto window = target ? Find(target) : nullptr;
      ask = window && (anyThread || window->threadId == GetCurrentThreadId());
    }
    if (!target || !ask) {
      if (hit) *hit = target ? HTCLIENT : HTNOWHERE;
      return target;
    }
    const LRESULT answer = SendMessage(target, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
    if (hit) *hit = answer;
    if (answer != HTTRANSPARENT || passed.size() >= kMostPassed) return target;
    passed.push_back(target);
  }
}

namespace {

// Whether `owner` owns `hwnd`, or owns a window that owns it.
bool OwnedBy(HWND hwnd, HWND owner) {
  for (auto window = Find(hwnd); window && window->owner; window = Find(window->owner))
    if (window->owner == owner) return true;
  return false;
}

}  // namespace

void KeepOwnedAboveOwners(HWND moved) {
  auto& order = Table().topLevels;
  auto at = std::find(order.begin(), order.end(), moved);
  if (at == order.end()) return;
  std::vector<HWND> owned;
  for (HWND hwnd : order)
    if (OwnedBy(hwnd, moved)) owned.push_back(hwnd);
  if (!owned.empty()) {
    std::erase_if(order, [&](HWND hwnd) { return std::find(owned.begin(), owned.end(), hwnd) != owned.end(); });
    order.insert(std::find(order.begin(), order.end(), moved), owned.begin(), owned.end());
  }
  // A window moved below its owner goes directly above it (ownership has no cycles: this ends).
  for (bool again = true; again;) {
    again = false;
    for (size_t i = 0; i < order.size() && !again; ++i) {
      auto window = Find(order[i]);
      if (!window || !window->owner) continue;
      auto owner = std::find(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(i), window->owner);
      if (owner == order.begin() + static_cast<std::ptrdiff_t>(i)) continue;  // below it, or no top-level owner
      const HWND hwnd = order[i];
      order.erase(order.begin() + static_cast<std::ptrdiff_t>(i));
      order.insert(std::find(order.begin(), order.end(), window->owner), hwnd);
      again = true;
    }
  }
}

}  // namespace tavrin::win::detail

namespace tavrin::win {

namespace {
RECT g_screenTold{};  // what GDI's metrics were last given
std::mutex g_screenLock;
}  // namespace

RECT ScreenRect() {
  const RECT screen = detail::FromDraw(gui::TheDesktop().ScreenBounds());
  std::lock_guard guard(g_screenLock);
  if (!EqualRect(&screen, &g_screenTold)) {
    gdi::SetScreenSize(screen.right, screen.bottom);
    g_screenTold = screen;
  }
  return screen;
}

void SetScreenSize(int width, int height) {
  gui::TheDesktop().SetScreenSize(width, height);
  ScreenRect();
}

void CenterWindowOver(HWND hwnd, HWND over, bool child) {
  const RECT screen = ScreenRect();
  RECT outer = screen;
  if (over && child) GetClientRect(over, &outer);
  else if (over) GetWindowRect(over, &outer);
  RECT own{};
  GetWindowRect(hwnd, &own);
  const int w = own.right - own.left, h = own.bottom - own.top;
  int x = outer.left + (outer.right - outer.left - w) / 2;
  int y = outer.top + (outer.bottom - outer.top - h) / 2;
  if (child) {  // in the parent's client coordinates
    x = std::max(0, x);
    y = std::max(0, y);
  } else {
    x = std::clamp<int>(x, screen.left, std::max<int>(screen.left, screen.right - w));
    y = std::clamp<int>(y, screen.top, std::max<int>(screen.top, screen.bottom - h));
  }
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace tavrin::win

using namespace tavrin::win::detail;

namespace {

bool InvalidWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

HWND DesktopHandle() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(getpid()) << 32); }
bool IsDesktop(HWND hwnd) { return hwnd == DesktopHandle(); }

// Re-orders a window among its siblings (with the lock held).
void PlaceInZOrder(Window& window, HWND after) {
  auto& table = Table();
  std::vector<HWND>* order = &table.topLevels;
  if (!window.TopLevel()) {
    auto parent = Find(window.parent);
    if (!parent) return;
    order = &parent->children;
  }
  std::erase(*order, window.hwnd);
  if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
    if (after == HWND_TOPMOST) window.exStyle |= WS_EX_TOPMOST;
    if (after == HWND_NOTOPMOST) window.exStyle &= ~WS_EX_TOPMOST;
    order->insert(order->begin(), window.hwnd);
  } else if (after == HWND_BOTTOM) {
    order->push_back(window.hwnd);
  } else {
    auto it = std::find(order->begin(), order->end(), after);
    order->insert(it == order->end() ? order->begin() : it + 1, window.hwnd);
  }
  if (window.TopLevel()) {  // topmost windows stay above the others
    std::stable_partition(order->begin(), order->end(), [&](HWND h) {
      auto w = Find(h);
      return w && (w->exStyle & WS_EX_TOPMOST);
    });
    KeepOwnedAboveOwners(window.hwnd);
  }
}

}  // namespace

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  WINDOWPOS pos{hwnd, insertAfter, x, y, cx, cy, flags};
  RECT oldRect{};
  DWORD style;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return InvalidWindow();
    oldRect = window->rect;
    style = window->style;
  }
  if (flags & SWP_NOMOVE) pos.x = oldRect.left, pos.y = oldRect.top;
  if (flags & SWP_NOSIZE) pos.cx = oldRect.right - oldRect.left, pos.cy = oldRect.bottom - oldRect.top;
  if (!(flags & SWP_NOSENDCHANGING)) {
    SendNow(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    flags = pos.flags;  // the window may have changed what happens (taken SWP_SHOWWINDOW away...)
  }
  pos.cx = std::max(pos.cx, 0);
  pos.cy = std::max(pos.cy, 0);
  RECT newRect{pos.x, pos.y, pos.x + pos.cx, pos.y + pos.cy};
  const bool moved = newRect.left != oldRect.left || newRect.top != oldRect.top;
  const bool resized = (newRect.right - newRect.left) != (oldRect.right - oldRect.left) ||
                       (newRect.bottom - newRect.top) != (oldRect.bottom - oldRect.top);
  const bool frameChanged = flags & SWP_FRAMECHANGED;
  bool show = (flags & SWP_SHOWWINDOW) && !(style & WS_VISIBLE);
  bool hide = (flags & SWP_HIDEWINDOW) && (style & WS_VISIBLE);
  HWND parent = nullptr;
  bool topLevel;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return FALSE;
    window->rect = newRect;
    if (!(pos.flags & SWP_NOZORDER)) PlaceInZOrder(*window, pos.hwndInsertAfter);
    if (show) window->style |= WS_VISIBLE;
    if (hide) window->style &= ~WS_VISIBLE;
    parent = window->parent;
    topLevel = window->TopLevel();
  }
  if (resized || frameChanged) {
    NCCALCSIZE_PARAMS calc{};
    calc.rgrc[0] = RECT{0, 0, pos.cx, pos.cy};
    calc.lppos = &pos;
    SendNow(hwnd, WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&calc));
    std::lock_guard guard(Table().lock);
    if (auto window = Find(hwnd)) {
      window->client = calc.rgrc[0];
      if (window->TopLevel() && resized) SurfaceResized(*window);
    }
  }
  if (hide) ForgetInput(hwnd);
  if (show || hide) SyncPaintFlags(hwnd);
  if (!(flags & SWP_NOREDRAW) || resized) {
    bool visibleNow = IsWindowVisible(hwnd);
    if (visibleNow && (resized || frameChanged || show || (moved && !topLevel) || !(flags & SWP_NOZORDER)))
      Invalidate(hwnd, nullptr, true, true, true);
    if (parent && (moved || resized || hide)) {
      RECT exposed = oldRect;
      Invalidate(parent, &exposed, true, false, false);
    }
  }
  // What did not change is not announced as changed.
  pos.flags = flags | (moved ? 0 : SWP_NOMOVE) | (resized ? 0 : SWP_NOSIZE);
  SendNow(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  if (topLevel) NotifyDisplayChanged(hwnd);
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  if (!rect) return FALSE;
  if (!hwnd || IsDesktop(hwnd)) {
    *rect = tavrin::win::ScreenRect();
    return TRUE;
  }
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow();
  POINT origin = ScreenOrigin(*window);
  *rect = RECT{origin.x, origin.y, origin.x + window->Width(), origin.y + window->Height()};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  if (!rect) return FALSE;
  if (!hwnd || IsDesktop(hwnd)) return GetWindowRect(nullptr, rect);
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow();
  *rect = RECT{0, 0, std::max(0, window->client.right - window->client.left),
               std::max(0, window->client.bottom - window->client.top)};
  return TRUE;
}

namespace {
bool ClientOrigin(HWND hwnd, POINT& origin) {
  if (!hwnd || IsDesktop(hwnd)) {
    origin = POINT{0, 0};
    return true;
  }
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return false;
  origin = ClientScreenOrigin(*window);
  return true;
}
}  // namespace

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  POINT origin;
  if (!point || !ClientOrigin(hwnd, origin)) return InvalidWindow();
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  POINT origin;
  if (!point || !ClientOrigin(hwnd, origin)) return InvalidWindow();
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  POINT a, b;
  if (!ClientOrigin(from, a) || !ClientOrigin(to, b)) {
    InvalidWindow();
    return 0;
  }
  int dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  SetLastError(0);
  return static_cast<int>(MAKELPARAM(dx, dy));
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
  if (!rect) return FALSE;
  RECT insets = FrameInsets(style, exStyle);
  rect->left -= insets.left;
  rect->top -= insets.top + (menu ? 19 : 0);
  rect->right += insets.right;
  rect->bottom += insets.bottom;
  return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }

HWND WindowFromPoint(POINT point) { return WindowUnder(point, false, nullptr); }

HWND ChildWindowFromPoint(HWND parent, POINT point) {
  std::lock_guard guard(Table().lock);
  auto window = Find(parent);
  if (!window) return nullptr;
  RECT client{0, 0, window->client.right - window->client.left, window->client.bottom - window->client.top};
  if (!PtInRect(&client, point)) return nullptr;
  for (HWND child : window->children) {
    auto c = Find(child);
    if (c && PtInRect(&c->rect, point)) return child;
  }
  return parent;
}

HWND GetWindow(HWND hwnd, UINT command) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow(), nullptr;
  if (command == GW_OWNER) return window->TopLevel() ? window->owner : nullptr;
  if (command == GW_CHILD) return window->children.empty() ? nullptr : window->children.front();
  const std::vector<HWND>* siblings = &Table().topLevels;
  if (!window->TopLevel()) {
    auto parent = Find(window->parent);
    if (!parent) return nullptr;
    siblings = &parent->children;
  }
  if (siblings->empty()) return nullptr;
  auto it = std::find(siblings->begin(), siblings->end(), hwnd);
  switch (command) {
    case GW_HWNDFIRST: return siblings->front();
    case GW_HWNDLAST: return siblings->back();
    case GW_HWNDNEXT: return it == siblings->end() || it + 1 == siblings->end() ? nullptr : *(it + 1);
    case GW_HWNDPREV: return it == siblings->begin() || it == siblings->end() ? nullptr : *(it - 1);
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

HWND GetTopWindow(HWND hwnd) {
  if (!hwnd) {
    std::lock_guard guard(Table().lock);
    return Table().topLevels.empty() ? nullptr : Table().topLevels.front();
  }
  return GetWindow(hwnd, GW_CHILD);
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return nullptr;
  if (flags == GA_PARENT) return window->TopLevel() ? DesktopHandle() : window->parent;
  for (int depth = 0; !window->TopLevel() && depth < 64; ++depth) {
    auto parent = Find(window->parent);
    if (!parent) break;
    window = parent;
  }
  if (flags == GA_ROOTOWNER) {
    for (int depth = 0; window->owner && depth < 64; ++depth) {
      auto owner = Find(window->owner);
      if (!owner) break;
      window = owner;
    }
  }
  return window->hwnd;
}

HWND GetDesktopWindow() { return DesktopHandle(); }

HWND SetParent(HWND child, HWND newParent) {
  HWND previous;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(child);
    if (!window || (newParent && !Find(newParent))) return InvalidWindow(), nullptr;
    if (window->TopLevel() || !newParent) return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
    previous = window->parent;
    if (auto old = Find(previous)) std::erase(old->children, child);
    window->parent = newParent;
    Find(newParent)->children.insert(Find(newParent)->children.begin(), child);
  }
  Invalidate(child, nullptr, true, true, true);
  return previous;
}

BOOL IsChild(HWND parent, HWND hwnd) { return hwnd != parent && parent && IsSelfOrDescendant(parent, hwnd); }

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard guard(Table().lock);
  auto window = Find(dialog);
  if (!window) return InvalidWindow(), nullptr;
  for (HWND child : window->children) {
    auto c = Find(child);
    if (c && static_cast<int>(c->id) == id) return child;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  return window && !window->TopLevel() ? static_cast<int>(window->id) : 0;
}

BOOL BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
  std::vector<HWND> all;
  {
    std::lock_guard guard(Table().lock);
    std::vector<HWND> stack{parent};
    while (!stack.empty()) {
      auto window = Find(stack.back());
      stack.pop_back();
      if (!window) continue;
      for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) stack.push_back(*it);
      if (window->hwnd != parent) all.push_back(window->hwnd);
    }
  }
  for (HWND hwnd : all)
    if (IsWindow(hwnd) && !proc(hwnd, lParam)) return FALSE;
  return TRUE;
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  std::vector<HWND> tops;
  {
    std::lock_guard guard(Table().lock);
    tops = Table().topLevels;
  }
  for (HWND hwnd : tops)
    if (IsWindow(hwnd) && !proc(hwnd, lParam)) return FALSE;
  return TRUE;
}

// ---- the default window procedure ----

namespace {

LRESULT HitTest(HWND hwnd, POINT screen) {
  RECT insets, rect, client;
  DWORD style, exStyle;
  POINT origin;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return HTNOWHERE;
    origin = ScreenOrigin(*window);
    rect = RECT{0, 0, window->Width(), window->Height()};
    client = window->client;
    style = window->style;
    exStyle = window->exStyle;
    insets = FrameInsets(style, exStyle);
  }
  POINT p{screen.x - origin.x, screen.y - origin.y};
  if (!PtInRect(&rect, p)) return HTNOWHERE;
  if (PtInRect(&client, p)) return HTCLIENT;
  if (tavrin::win::menus::BarContains(hwnd, p)) return HTMENU;
  int caption = CaptionHeight(style, exStyle);
  int edge = insets.left;
  if (caption && p.y >= edge && p.y < edge + caption && p.x >= edge && p.x < rect.right - edge) {
    if ((style & WS_SYSMENU) && p.x >= rect.right - edge - caption) return HTCLOSE;
    return HTCAPTION;
  }
  if (style & WS_THICKFRAME) {
    bool left = p.x < edge, right = p.x >= rect.right - edge, top = p.y < edge, bottom = p.y >= rect.bottom - edge;
    if (top && left) return HTTOPLEFT;
    if (top && right) return HTTOPRIGHT;
    if (bottom && left) return HTBOTTOMLEFT;
    if (bottom && right) return HTBOTTOMRIGHT;
    if (left) return HTLEFT;
    if (right) return HTRIGHT;
    if (top) return HTTOP;
    if (bottom) return HTBOTTOM;
  }
  return HTBORDER;
}

LRESULT EraseBackground(HWND hwnd, HDC dc) {
  HBRUSH brush = nullptr;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window || !window->cls) return 0;
    brush = window->cls->background;
  }
  if (!brush || !dc) return 0;
  RECT client{};
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, brush);
  return 1;
}

// The frame and caption of a window, drawn on a whole-window DC: border lines, the sizing or dialog
// frame in the border colour, the caption bar with the title and a close box.
void PaintFrame(HWND hwnd, HDC dc) {
  if (!dc) return;
  RECT window{}, client{};
  DWORD style, exStyle;
  bool active;
  std::string title;
  {
    std::lock_guard guard(Table().lock);
    auto w = Find(hwnd);
    if (!w) return;
    window = RECT{0, 0, w->Width(), w->Height()};
    client = w->client;
    style = w->style;
    exStyle = w->exStyle;
    title = w->title;
    active = Table().foreground == RootLocked(hwnd);
  }
  if (RectEmpty(window) || EqualRect(&window, &client)) return;
  // Everything outside the client area first, in the frame's colour.
  HBRUSH face = GetSysColorBrush(active ? COLOR_ACTIVEBORDER : COLOR_INACTIVEBORDER);
  RECT part;
  SetRect(&part, 0, 0, window.right, client.top);
  FillRect(dc, &part, face);
  SetRect(&part, 0, client.bottom, window.right, window.bottom);
  FillRect(dc, &part, face);
  SetRect(&part, 0, client.top, client.left, client.bottom);
  FillRect(dc, &part, face);
  SetRect(&part, client.right, client.top, window.right, client.bottom);
  FillRect(dc, &part, face);
  RECT outer = window;
  if (style & (WS_THICKFRAME | WS_DLGFRAME)) DrawEdge(dc, &outer, EDGE_RAISED, BF_RECT);
  else if (style & WS_BORDER) FrameRect(dc, &outer, GetSysColorBrush(COLOR_WINDOWFRAME));
  if (exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) {
    RECT edge = client;
    int width = ((exStyle & WS_EX_CLIENTEDGE) ? 2 : 0) + ((exStyle & WS_EX_STATICEDGE) ? 1 : 0);
    InflateRect(&edge, width, width);
    DrawEdge(dc, &edge, (exStyle & WS_EX_CLIENTEDGE) ? EDGE_SUNKEN : BDR_SUNKENOUTER, BF_RECT);
  }
  tavrin::win::menus::PaintBar(hwnd, dc);
  int caption = CaptionHeight(style, exStyle);
  if (!caption) return;
  int edge = FrameInsets(style, exStyle).left;
  RECT bar{edge, edge, window.right - edge, edge + caption - 1};
  FillRect(dc, &bar, GetSysColorBrush(active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION));
  HFONT font = CreateFont(-((exStyle & WS_EX_TOOLWINDOW) ? 11 : 12), 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
  RECT text = bar;
  text.left += 4;
  if (style & WS_SYSMENU) {
    text.right -= caption;
    // The small icon (else the big one, made small) before the title, as the system menu's button.
    HICON icon = reinterpret_cast<HICON>(GetProp(hwnd, kSmallIconProp));
    if (!icon) icon = reinterpret_cast<HICON>(GetProp(hwnd, kBigIconProp));
    if (icon) {
      const int side = std::min(16, caption - 2);
      DrawIconEx(dc, text.left, bar.top + (bar.bottom - bar.top - side) / 2, icon, side, side, 0, nullptr, DI_NORMAL);
      text.left += side + 4;
    }
  }
  DrawText(dc, title.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  if (style & WS_SYSMENU) {  // the close box: a raised button with a cross
    RECT box{bar.right - caption + 2, bar.top + 2, bar.right - 2, bar.bottom - 2};
    FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &box, EDGE_RAISED, BF_RECT);
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    int inset = 4;
    for (int d = 0; d < 2; ++d) {
      MoveToEx(dc, box.left + inset + d, box.top + inset, nullptr);
      LineTo(dc, box.right - inset + d, box.bottom - inset);
      MoveToEx(dc, box.right - inset - 1 + d, box.top + inset, nullptr);
      LineTo(dc, box.left + inset - 1 + d, box.bottom - inset);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
}

// A control's colours by default: the text and background of its kind, and the brush behind it.
LRESULT ControlColour(UINT message, HDC dc) {
  int background = (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX) ? COLOR_WINDOW : COLOR_3DFACE;
  if (message == WM_CTLCOLORSCROLLBAR) background = COLOR_SCROLLBAR;
  if (dc) {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(background));
  }
  return reinterpret_cast<LRESULT>(GetSysColorBrush(background));
}

// WM_PRINT: the window drawn on the given DC in window coordinates, as its flags ask; children at their
// places on top.
void Print(HWND hwnd, HDC dc, LPARAM flags) {
  if ((flags & PRF_CHECKVISIBLE) && !IsWindowVisible(hwnd)) return;
  if (flags & PRF_NONCLIENT) PaintFrame(hwnd, dc);
  RECT client{};
  std::vector<std::pair<HWND, POINT>> children;  // bottom first, with their window positions
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return;
    client = window->client;
    for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) {
      auto child = Find(*it);
      if (child && child->Visible())
        children.emplace_back(*it, POINT{client.left + child->rect.left, client.top + child->rect.top});
    }
  }
  POINT saved;
  OffsetViewportOrgEx(dc, client.left, client.top, &saved);
  if (flags & PRF_ERASEBKGND) SendNow(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  if (flags & PRF_CLIENT) SendNow(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), flags);
  SetViewportOrgEx(dc, saved.x, saved.y, nullptr);
  if (!(flags & PRF_CHILDREN)) return;
  for (auto& [child, at] : children) {
    OffsetViewportOrgEx(dc, at.x, at.y, &saved);
    SendNow(child, WM_PRINT, reinterpret_cast<WPARAM>(dc), flags & ~PRF_CHECKVISIBLE);
    SetViewportOrgEx(dc, saved.x, saved.y, nullptr);
  }
}

}  // namespace

namespace tavrin::win::detail {
UINT CaptureMessage() {
  static const UINT message = RegisterWindowMessage("TavrinCaptureWindow");
  return message;
}
}  // namespace tavrin::win::detail

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == CaptureMessage() && lParam) {
    auto* request = reinterpret_cast<CaptureRequest*>(lParam);
    request->done = tavrin::win::CaptureWindow(hwnd, *request->image);
    return 0;
  }
  if (message == PlaceMessage()) {
    MoveToPlace(hwnd, wParam != 0, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    return 0;
  }
  if (LRESULT result; tavrin::win::menus::BarDefWindowProc(hwnd, message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_NCCALCSIZE: {
      auto* rect = reinterpret_cast<RECT*>(lParam);  // also the first member of NCCALCSIZE_PARAMS
      if (!rect) return 0;
      DWORD style = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE));
      DWORD exStyle = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_EXSTYLE));
      RECT insets = FrameInsets(style, exStyle);
      rect->left += insets.left;
      rect->top += insets.top;
      rect->right = std::max(rect->left, rect->right - insets.right);
      rect->bottom = std::max(rect->top, rect->bottom - insets.bottom);
      if (!(style & WS_CHILD))  // a top-level window's menu bar sits under its caption
        rect->top = std::min(rect->bottom, rect->top + tavrin::win::menus::LayoutBar(hwnd, *rect));
      return 0;
    }
    case WM_NCHITTEST:
      return HitTest(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    case WM_NCPAINT: {
      HDC dc = GetWindowDC(hwnd);
      if (wParam > 1) {  // only the update region (screen coordinates) is painted
        RECT window{};
        GetWindowRect(hwnd, &window);
        HRGN clip = CreateRectRgn(0, 0, 0, 0);
        if (CombineRgn(clip, reinterpret_cast<HRGN>(wParam), nullptr, RGN_COPY) != ERROR) {
          OffsetRgn(clip, -window.left, -window.top);
          ExtSelectClipRgn(dc, clip, RGN_AND);
        }
        DeleteObject(clip);
      }
      PaintFrame(hwnd, dc);
      ReleaseDC(hwnd, dc);
      return 0;
    }
    case WM_NCACTIVATE:
      return TRUE;
    case WM_SETICON: {  // kept as properties of the window; the caption shows the small one
      const char* name = wParam == ICON_BIG ? kBigIconProp : kSmallIconProp;
      HANDLE previous = GetProp(hwnd, name);
      SetProp(hwnd, name, reinterpret_cast<HANDLE>(lParam));
      if ((GetWindowLongPtr(hwnd, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
      return reinterpret_cast<LRESULT>(GetProp(hwnd, wParam == ICON_BIG ? kBigIconProp : kSmallIconProp));
    case WM_ERASEBKGND:
      return EraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd, &paint);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINT:
      Print(hwnd, reinterpret_cast<HDC>(wParam), lParam);
      return 0;
    case WM_WINDOWPOSCHANGED: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!pos) return 0;
      if (!(pos->flags & SWP_NOMOVE)) {
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        if (HWND parent = GetAncestor(hwnd, GA_PARENT); parent && !IsDesktop(parent)) ScreenToClient(parent, &origin);
        SendNow(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
      }
      if (!(pos->flags & SWP_NOSIZE) || (pos->flags & SWP_FRAMECHANGED)) {
        RECT client;
        GetClientRect(hwnd, &client);
        WPARAM kind = IsIconic(hwnd) ? SIZE_MINIMIZED : IsZoomed(hwnd) ? SIZE_MAXIMIZED : SIZE_RESTORED;
        SendNow(hwnd, WM_SIZE, kind, MAKELPARAM(client.right, client.bottom));
      }
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == 0xF060) SendMessage(hwnd, WM_CLOSE, 0, 0);  // SC_CLOSE
      return 0;
    case WM_NCLBUTTONUP:
      if (static_cast<LRESULT>(wParam) == HTCLOSE) PostMessage(hwnd, WM_SYSCOMMAND, 0xF060, lParam);
      return 0;
    case WM_SETTEXT:
      SetWindowText(hwnd, reinterpret_cast<LPCSTR>(lParam));
      return TRUE;
    case WM_GETTEXT:
      return GetWindowText(hwnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLength(hwnd);
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_SETCURSOR:
      return DefSetCursor(hwnd, wParam, lParam);
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_SETREDRAW: {
      // Redrawing off: the window counts as hidden (nothing paints it) until redrawing is back on; what
      // was invalidated meanwhile stays for the next paint.
      std::lock_guard guard(Table().lock);
      auto window = Find(hwnd);
      if (!window) return 0;
      if (!wParam && window->Visible()) {
        window->style &= ~WS_VISIBLE;
        window->redrawOff = true;
      } else if (wParam && window->redrawOff) {
        window->style |= WS_VISIBLE;
        window->redrawOff = false;
      }
      return 0;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return ControlColour(message, reinterpret_cast<HDC>(wParam));
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL:
      // Unhandled by a child: its parent may take it.
      if (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_CHILD) return SendMessage(GetParent(hwnd), message, wParam, lParam);
      return 0;
    default:
      return 0;
  }
}
