// Window objects of this process: classes, creation and destruction, text, long values, styles,
// visibility, activation and the owner/parent links. Calls on windows of other processes go to
// foreign_window.cpp; geometry, painting and input have files of their own.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "dialog_internal.h"
#include "menu_internal.h"
#include "window_internal.h"

namespace tavrin::win::detail {

WindowTable& Table() {
  static auto* table = new WindowTable;  // never destroyed: threads may end after exit starts
  return *table;
}

std::shared_ptr<Window> Find(HWND hwnd) {
  auto& windows = Table().windows;
  auto it = windows.find(hwnd);
  return it == windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindLocked(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  return Find(hwnd);
}

std::string UpperName(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return upper;
}

namespace {

// A handle holds the creating process in its upper half, so any process can tell whose window it names.
HWND MakeHandle(uint32_t serial) {
  return reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) << 32) | serial);
}

// Removes the window from the table and from everything that refers to it.
void Remove(HWND hwnd) {
  std::shared_ptr<Window> window;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    window = Find(hwnd);
    if (!window) return;
    table.windows.erase(hwnd);
    if (table.foreground == hwnd) table.foreground = nullptr;
    std::erase(table.topLevels, hwnd);
    if (auto parent = Find(window->parent)) std::erase(parent->children, hwnd);
    for (auto& [handle, other] : table.windows)
      if (other->lastActivePopup == hwnd) other->lastActivePopup = nullptr;
  }
  ForgetInput(hwnd);
  if (auto queue = window->queue.lock()) core::ForgetWindow(queue, hwnd);
  if (window->surfaceId) gui::TheDesktop().Destroy(window->surfaceId);
  if (!window->record.empty()) {
    Unpublish(window->record);
    NotifyDisplayDestroyed(hwnd);
  }
}

// WM_PARENTNOTIFY up the parent chain: a child was made or is going.
void NotifyParents(HWND child, UINT event, UINT_PTR id) {
  std::vector<HWND> parents;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(child);
    for (int depth = 0; window && !window->TopLevel() && depth < 64; ++depth) {
      auto parent = Find(window->parent);
      if (!parent) break;
      parents.push_back(parent->hwnd);
      if (parent->exStyle & WS_EX_NOPARENTNOTIFY) break;
      window = parent;
    }
  }
  for (HWND parent : parents)
    SendNow(parent, WM_PARENTNOTIFY, MAKEWPARAM(static_cast<int>(event), static_cast<int>(id)),
            reinterpret_cast<LPARAM>(child));
}

void Destroy(HWND hwnd) {
  std::vector<HWND> owned, children;
  RECT area{};
  HWND parent = nullptr;
  bool wasVisible = false;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window || window->destroying) return;
    window->destroying = true;
    for (auto& [handle, other] : Table().windows)
      if (other->owner == hwnd) owned.push_back(handle);
    children = window->children;
    area = window->rect;
    parent = window->parent;
    wasVisible = window->Visible();
  }
  for (HWND o : owned) Destroy(o);
  if (parent) {
    auto window = FindLocked(hwnd);
    if (window && !(window->exStyle & WS_EX_NOPARENTNOTIFY)) NotifyParents(hwnd, WM_DESTROY, window->id);
  }
  SendNow(hwnd, WM_DESTROY, 0, 0);
  for (HWND c : children) Destroy(c);
  SendNow(hwnd, WM_NCDESTROY, 0, 0);
  Remove(hwnd);
  tavrin::win::menus::ForgetWindowMenus(hwnd);
  if (parent && wasVisible) {  // what the child covered shows its parent again
    std::lock_guard guard(Table().lock);
    if (auto p = Find(parent)) OffsetRect(&area, -p->client.left, -p->client.top);
  }
  if (parent && wasVisible && IsWindow(parent)) Invalidate(parent, &area, true, false, false);
}

// What a ShowWindow command does to visibility and the minimised state.
void ApplyShow(Window& window, int command) {
  auto set = [&](DWORD bit, bool on) { window.style = on ? window.style | bit : window.style & ~bit; };
  switch (command) {
    case SW_HIDE:
      set(WS_VISIBLE, false);
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
      set(WS_VISIBLE, true);
      set(WS_MINIMIZE, false);
      set(WS_MAXIMIZE, false);
      break;
    case SW_SHOWMAXIMIZED:
      set(WS_VISIBLE, true);
      set(WS_MINIMIZE, false);
      set(WS_MAXIMIZE, true);
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      set(WS_VISIBLE, true);
      set(WS_MINIMIZE, true);
      break;
    case SW_FORCEMINIMIZE:
      set(WS_MINIMIZE, true);
      break;
    default:  // SW_SHOW, SW_SHOWNOACTIVATE, SW_SHOWNA
      set(WS_VISIBLE, true);
      break;
  }
}

bool Activates(int command) {
  return command == SW_SHOWNORMAL || command == SW_SHOW || command == SW_SHOWMAXIMIZED ||
         command == SW_RESTORE || command == SW_SHOWDEFAULT;
}

// Makes `hwnd` the last active pop-up of each window up its owner chain (with the table lock held).
void NoteActivePopup(const Window& window) {
  HWND owner = window.owner;
  for (int depth = 0; owner && depth < 64; ++depth) {  // the depth bound guards against an owner loop
    auto ownerWindow = Find(owner);
    if (!ownerWindow) break;
    ownerWindow->lastActivePopup = window.hwnd;
    owner = ownerWindow->owner;
  }
}

void CopyText(const std::string& text, LPSTR buffer, int bufferSize, int& copied) {
  copied = 0;
  if (!buffer || bufferSize <= 0) return;
  copied = static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(bufferSize - 1)));
  memcpy(buffer, text.data(), static_cast<size_t>(copied));
  buffer[copied] = '\0';
}

bool InvalidWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

DWORD ProcessOfWindow(HWND hwnd) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hwnd) >> 32); }

bool IsForeign(HWND hwnd) { return hwnd && ProcessOfWindow(hwnd) != static_cast<DWORD>(getpid()); }

bool FindTarget(HWND hwnd, Target& target) {
  auto window = FindLocked(hwnd);
  if (!window) return false;
  target.threadId = window->threadId;
  target.queue = window->queue.lock();
  return target.queue != nullptr;
}

bool IsSelfOrDescendant(HWND ancestor, HWND hwnd) {
  std::lock_guard guard(Table().lock);
  for (int depth = 0; hwnd && depth < 64; ++depth) {
    if (hwnd == ancestor) return true;
    auto window = Find(hwnd);
    hwnd = window ? window->parent : nullptr;
  }
  return false;
}

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return 0;
    proc = window->proc;
  }
  return proc ? proc(hwnd, message, wParam, lParam) : DefWindowProc(hwnd, message, wParam, lParam);
}

LRESULT SendNow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  RunCallWndProcHooks(hwnd, message, wParam, lParam, true);
  return CallProc(hwnd, message, wParam, lParam);
}

void DropThreadWindows(DWORD threadId) {
  std::vector<HWND> gone;
  {
    std::lock_guard guard(Table().lock);
    for (auto& [handle, window] : Table().windows)
      if (window->threadId == threadId) gone.push_back(handle);
  }
  for (HWND hwnd : gone) Remove(hwnd);
}

void Notify(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Target target;
  if (!FindTarget(hwnd, target)) return;
  if (target.threadId == GetCurrentThreadId())
    SendNow(hwnd, message, wParam, lParam);
  else
    PostMessage(hwnd, message, wParam, lParam);
}

bool QueryLocal(HWND hwnd, WindowState& state) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return false;
  state.visible = window->Visible();
  state.iconic = window->style & WS_MINIMIZE;
  state.lastActivePopup = window->lastActivePopup && Find(window->lastActivePopup) ? window->lastActivePopup : hwnd;
  state.owner = window->TopLevel() ? window->owner : window->parent;
  state.threadId = window->threadId;
  return true;
}

BOOL ShowLocal(HWND hwnd, int command) {
  bool wasVisible, isVisible, topLevel;
  DWORD style;
  RECT area{};
  HWND parent = nullptr;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasVisible = window->Visible();
    const DWORD before = window->style;
    ApplyShow(*window, command);
    style = window->style;
    window->style = before;  // committed below, after the window has had its say
  }
  // As on Windows, the change goes through WM_WINDOWPOSCHANGING, which may take SWP_SHOWWINDOW away.
  WINDOWPOS pos{hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE};
  const bool changes = wasVisible != bool(style & WS_VISIBLE);
  if (changes) {
    const UINT showFlag = (style & WS_VISIBLE) ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
    pos.flags |= showFlag;
    Notify(hwnd, WM_SHOWWINDOW, (style & WS_VISIBLE) ? TRUE : FALSE, 0);
    SendMessage(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    if (!(pos.flags & showFlag)) style = (style & ~WS_VISIBLE) | (wasVisible ? WS_VISIBLE : 0);
  }
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return wasVisible ? TRUE : FALSE;
    window->style = style;
    isVisible = window->Visible();
    topLevel = window->TopLevel();
    parent = window->parent;
    area = window->rect;
    if (!isVisible && Table().foreground == hwnd) Table().foreground = nullptr;
    if (isVisible && Activates(command)) NoteActivePopup(*window);
    // A shown window of a CS_SAVEBITS class leaves the screen beneath it showing until it first draws.
    if (isVisible && !wasVisible && window->cls && (window->cls->style & CS_SAVEBITS) && window->surfaceId)
      gui::TheDesktop().HoldUntilDrawn(window->surfaceId);
    if (isVisible && !wasVisible && topLevel) {  // a shown top-level window comes to the front
      auto& order = Table().topLevels;
      std::erase(order, hwnd);
      order.insert(order.begin(), hwnd);
      KeepOwnedAboveOwners(hwnd);
    }
  }
  if (wasVisible != isVisible) {
    if (isVisible) Invalidate(hwnd, nullptr, true, true, true);
    else if (parent) Invalidate(parent, &area, true, false, false);
    SyncPaintFlags(hwnd);
    if (!isVisible) ForgetInput(hwnd);
    SendMessage(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if (topLevel) NotifyDisplayChanged(hwnd);
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL ActivateLocal(HWND hwnd) {
  HWND previous;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    auto window = Find(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    previous = table.foreground;
    table.foreground = hwnd;
    NoteActivePopup(*window);
    if (window->TopLevel()) {
      auto& order = table.topLevels;
      std::erase(order, hwnd);
      order.insert(order.begin(), hwnd);
      KeepOwnedAboveOwners(hwnd);
    }
  }
  if (previous != hwnd) {
    if (previous && !IsForeign(previous)) {
      Notify(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
      if (IsWindow(previous)) Invalidate(previous, nullptr, false, true, false);  // the caption dims
    }
    Notify(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
    Invalidate(hwnd, nullptr, false, true, false);
    NotifyDisplayChanged(hwnd);
  }
  return TRUE;
}

HWND CreateInternal(DWORD exStyle, const std::string& className, std::shared_ptr<WindowClass> cls,
                    const std::string& title, WNDPROC proc, LONG_PTR userData, DWORD style, int x, int y,
                    int width, int height, HWND parent, UINT_PTR id, LPVOID param) {
  const bool child = style & WS_CHILD;
  if ((child && !parent) || (parent && !FindLocked(parent))) {
    SetLastError(child && !parent ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto window = std::make_shared<Window>();
  window->threadId = GetCurrentThreadId();
  window->queue = core::CurrentQueue();
  window->className = className;
  window->cls = std::move(cls);
  window->title = title;
  window->proc = proc;
  window->userData = userData;
  window->style = style & ~WS_VISIBLE;  // WS_VISIBLE is shown below, with its WM_SHOWWINDOW
  window->exStyle = exStyle;
  window->id = id;
  (child ? window->parent : window->owner) = parent;
  // Top-level windows without a place get one, as the desktop would give them.
  EnsureDcProvider();
  RECT screen = ScreenRect();
  if (x == CW_USEDEFAULT) x = child ? 0 : screen.right / 16, y = child ? 0 : screen.bottom / 16;
  if (width == CW_USEDEFAULT || (!child && width == 0 && height == 0 && !(style & WS_POPUP)))
    width = child ? 0 : screen.right * 3 / 4, height = child ? 0 : screen.bottom * 3 / 4;
  width = std::max(width, 0);
  height = std::max(height, 0);
  window->rect = RECT{x, y, x + width, y + height};
  window->client = RECT{0, 0, width, height};
  HWND hwnd;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    hwnd = window->hwnd = MakeHandle(table.nextSerial++);
    table.windows.emplace(hwnd, window);
    if (child) {
      Find(parent)->children.push_back(hwnd);  // a new child goes to the bottom
    } else {
      table.topLevels.push_back(hwnd);
      CreateSurfaceLocked(*window);
    }
  }
  if (!child) {
    auto record = Publish(hwnd, className, title);
    std::lock_guard guard(Table().lock);
    window->record = std::move(record);
  }
  CREATESTRUCT create{};
  create.lpCreateParams = param;
  create.hwndParent = parent;
  create.hMenu = reinterpret_cast<HMENU>(id);
  if (!child && id) tavrin::win::menus::AttachBarAtCreation(hwnd, create.hMenu);  // a top-level window's menu bar
  create.style = static_cast<LONG>(style);
  create.lpszName = title.c_str();
  create.lpszClass = className.c_str();
  create.dwExStyle = exStyle;
  create.x = x;
  create.y = y;
  create.cx = width;
  create.cy = height;
  if (!SendNow(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  // The frame: WM_NCCALCSIZE turns the window rectangle into the client rectangle.
  NCCALCSIZE_PARAMS calc{};
  calc.rgrc[0] = RECT{0, 0, width, height};
  SendNow(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&calc.rgrc[0]));
  {
    std::lock_guard guard(Table().lock);
    if (auto w = Find(hwnd)) w->client = calc.rgrc[0];
  }
  if (SendNow(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  if (child && !(exStyle & WS_EX_NOPARENTNOTIFY)) NotifyParents(hwnd, WM_CREATE, id);
  RECT client{};
  GetClientRect(hwnd, &client);
  SendNow(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  POINT origin{0, 0};
  {
    std::lock_guard guard(Table().lock);
    if (auto w = Find(hwnd)) origin = POINT{w->rect.left + w->client.left, w->rect.top + w->client.top};
  }
  SendNow(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

}  // namespace tavrin::win::detail

namespace tavrin::win {

HWND CreateWindowObject(const WindowSpec& spec) {
  auto cls = std::make_shared<detail::WindowClass>();  // a class of the window's own
  cls->name = spec.className;
  cls->style = spec.classStyle;
  cls->proc = spec.proc;
  cls->background = spec.background;
  cls->cursor = spec.cursor;
  cls->icon = spec.icon;
  return detail::CreateInternal(spec.exStyle, spec.className, cls, spec.title, spec.proc, spec.userData,
                                spec.style, spec.x, spec.y, spec.width, spec.height, spec.parent, spec.id,
                                spec.createParam);
}

}  // namespace tavrin::win

using namespace tavrin::win::detail;

namespace {
ATOM g_nextClassAtom = 0xC000;
}

ATOM RegisterClass(const WNDCLASS* wndClass) {
  if (!wndClass || !wndClass->lpszClassName || IS_INTRESOURCE(wndClass->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto cls = std::make_shared<WindowClass>();
  cls->name = wndClass->lpszClassName;
  cls->style = wndClass->style;
  cls->proc = wndClass->lpfnWndProc;
  cls->background = wndClass->hbrBackground;
  cls->cursor = wndClass->hCursor;
  cls->icon = wndClass->hIcon;
  std::lock_guard guard(Table().lock);
  auto& classes = Table().classes;
  auto key = UpperName(cls->name);
  if (classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  cls->atom = g_nextClassAtom++;
  classes.emplace(key, cls);
  return cls->atom;
}

ATOM RegisterClassEx(const WNDCLASSEX* wndClass) {
  if (!wndClass) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WNDCLASS plain{wndClass->style, wndClass->lpfnWndProc, wndClass->cbClsExtra, wndClass->cbWndExtra,
                 wndClass->hInstance, wndClass->hIcon, wndClass->hCursor, wndClass->hbrBackground,
                 wndClass->lpszMenuName, wndClass->lpszClassName};
  return RegisterClass(&plain);
}

BOOL UnregisterClass(LPCSTR className, HINSTANCE) {
  if (!className || IS_INTRESOURCE(className)) return FALSE;
  std::lock_guard guard(Table().lock);
  auto key = UpperName(className);
  for (auto& [handle, window] : Table().windows)
    if (window->cls && window->cls->atom && UpperName(window->cls->name) == key) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);  // the class still has windows
      return FALSE;
    }
  if (!Table().classes.erase(key)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

BOOL GetClassInfo(HINSTANCE, LPCSTR className, LPWNDCLASS wndClass) {
  if (!className || IS_INTRESOURCE(className) || !wndClass) return FALSE;
  std::lock_guard guard(Table().lock);
  auto it = Table().classes.find(UpperName(className));
  if (it == Table().classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  auto& cls = *it->second;
  *wndClass = WNDCLASS{cls.style, cls.proc, 0, 0, nullptr, cls.icon, cls.cursor, cls.background, nullptr,
                       className};
  return TRUE;
}

HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU menu, HINSTANCE, LPVOID param) {
  if (!className || IS_INTRESOURCE(className)) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  std::shared_ptr<WindowClass> cls;
  {
    std::lock_guard guard(Table().lock);
    auto it = Table().classes.find(UpperName(className));
    if (it != Table().classes.end()) cls = it->second;
  }
  if (!cls) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  WNDPROC proc = cls->proc;
  std::string name = cls->name;
  return CreateInternal(exStyle, name, std::move(cls), windowName ? windowName : "", proc, 0, style, x, y,
                        width, height, parent, reinterpret_cast<UINT_PTR>(menu), param);
}

HWND CreateWindow(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                  HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  return CreateWindowEx(0, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, message, wParam, lParam) : DefWindowProc(hwnd, message, wParam, lParam);
}

BOOL DestroyWindow(HWND hwnd) {
  if (IsForeign(hwnd)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto window = FindLocked(hwnd);
  if (!window) return InvalidWindow();
  if (window->threadId != GetCurrentThreadId()) {  // only the owning thread destroys a window
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Destroy(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  if (IsForeign(hwnd)) return ForeignAlive(hwnd);
  return FindLocked(hwnd) != nullptr;
}

BOOL SetWindowText(HWND hwnd, LPCSTR text) {
  std::filesystem::path record;
  std::string className, title = text ? text : "";
  bool caption;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return InvalidWindow();
    window->title = title;
    record = window->record;
    className = window->className;
    caption = (window->style & WS_CAPTION) == WS_CAPTION;
  }
  if (!record.empty()) Publish(hwnd, className, title, record);
  if (caption) Invalidate(hwnd, nullptr, false, true, false);
  if (!record.empty()) NotifyDisplayChanged(hwnd);
  return TRUE;
}

namespace {

// The title and class name of a window of this process or of another; false (error set) for no window.
bool WindowTexts(HWND hwnd, std::string& className, std::string& title) {
  if (IsForeign(hwnd)) {
    if (!ForeignText(hwnd, className, title)) return InvalidWindow(), false;
    return true;
  }
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow(), false;
  className = window->className;
  title = window->title;
  return true;
}

}  // namespace

int GetWindowText(HWND hwnd, LPSTR buffer, int bufferSize) {
  std::string title, className;
  if (!WindowTexts(hwnd, className, title)) return 0;
  int copied;
  CopyText(title, buffer, bufferSize, copied);
  return copied;
}

int GetWindowTextLength(HWND hwnd) {
  std::string title, className;
  if (!WindowTexts(hwnd, className, title)) return 0;
  return static_cast<int>(title.size());
}

int GetClassName(HWND hwnd, LPSTR buffer, int bufferSize) {
  std::string title, className;
  if (!WindowTexts(hwnd, className, title)) return 0;
  int copied;
  CopyText(className, buffer, bufferSize, copied);
  return copied;
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow(), 0;
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(window->proc);
    case GWLP_USERDATA: return window->userData;
    case GWLP_ID: return static_cast<LONG_PTR>(window->id);
    case GWL_STYLE: return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE: return window->exStyle;
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(window->TopLevel() ? window->owner : window->parent);
    case GWLP_HINSTANCE: return 0;
    default: {
      LONG_PTR value = 0;
      if (index >= 0 && tavrin::controls::detail::DialogLong(hwnd, index, nullptr, value)) return value;
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
    }
  }
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  if (index == GWL_STYLE || index == GWL_EXSTYLE) {
    // Style changes are announced before and after (WM_STYLECHANGING may adjust the new value). A change
    // of WS_VISIBLE takes effect without WM_SHOWWINDOW; the frame is recomputed by SWP_FRAMECHANGED.
    STYLESTRUCT change{};
    {
      std::lock_guard guard(Table().lock);
      auto window = Find(hwnd);
      if (!window) return InvalidWindow(), 0;
      change.styleOld = index == GWL_STYLE ? window->style : window->exStyle;
    }
    change.styleNew = static_cast<DWORD>(value);
    if (index == GWL_STYLE) change.styleNew = (change.styleNew & ~WS_CHILD) | (change.styleOld & WS_CHILD);
    SendNow(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&change));
    bool visibilityChanged = false;
    {
      std::lock_guard guard(Table().lock);
      auto window = Find(hwnd);
      if (!window) return 0;
      if (index == GWL_STYLE) {
        if (window->TopLevel() == bool(change.styleNew & WS_CHILD)) change.styleNew ^= WS_CHILD;
        visibilityChanged = (window->style ^ change.styleNew) & WS_VISIBLE;
        window->style = change.styleNew;
      } else {
        window->exStyle = change.styleNew;
      }
    }
    SendNow(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&change));
    if (visibilityChanged) {
      Invalidate(hwnd, nullptr, true, true, true);
      SyncPaintFlags(hwnd);
      NotifyDisplayChanged(hwnd);
    }
    return static_cast<LONG_PTR>(change.styleOld);
  }
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return InvalidWindow(), 0;
  LONG_PTR previous;
  switch (index) {
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(window->proc);
      window->proc = reinterpret_cast<WNDPROC>(value);
      return previous;
    case GWLP_USERDATA:
      previous = window->userData;
      window->userData = value;
      return previous;
    case GWLP_ID:
      previous = static_cast<LONG_PTR>(window->id);
      window->id = static_cast<UINT_PTR>(value);
      return previous;
    case GWLP_HWNDPARENT:
      if (!window->TopLevel()) return SetLastError(ERROR_INVALID_PARAMETER), 0;
      previous = reinterpret_cast<LONG_PTR>(window->owner);
      window->owner = reinterpret_cast<HWND>(value);
      return previous;
    default:
      if (index >= 0 && tavrin::controls::detail::DialogLong(hwnd, index, &value, previous)) return previous;
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

BOOL ShowWindow(HWND hwnd, int command) {
  if (IsForeign(hwnd)) {
    BOOL wasVisible = FALSE;
    if (!ForeignShow(hwnd, command, wasVisible)) return InvalidWindow();
    return wasVisible;
  }
  return ShowLocal(hwnd, command);
}

BOOL IsWindowVisible(HWND hwnd) {
  if (IsForeign(hwnd)) {
    WindowState state;
    return ForeignQuery(hwnd, state) && state.visible;
  }
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  return window && ReallyVisible(*window);
}

BOOL IsIconic(HWND hwnd) {
  WindowState state;
  bool found = IsForeign(hwnd) ? ForeignQuery(hwnd, state) : QueryLocal(hwnd, state);
  return found && state.iconic;
}

BOOL IsZoomed(HWND hwnd) { return (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_MAXIMIZE) != 0; }

BOOL SetForegroundWindow(HWND hwnd) {
  if (!IsForeign(hwnd)) return ActivateLocal(hwnd);
  if (!ForeignActivate(hwnd)) return InvalidWindow();
  std::lock_guard guard(Table().lock);
  Table().foreground = hwnd;
  return TRUE;
}

HWND GetForegroundWindow() {
  std::lock_guard guard(Table().lock);
  return Table().foreground;
}

HWND GetActiveWindow() {
  std::lock_guard guard(Table().lock);
  HWND foreground = Table().foreground;
  return foreground && !IsForeign(foreground) ? foreground : nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
  HWND previous = GetActiveWindow();
  if (!ActivateLocal(hwnd)) return nullptr;
  return previous;
}

HWND GetLastActivePopup(HWND hwnd) {
  WindowState state;
  bool found = IsForeign(hwnd) ? ForeignQuery(hwnd, state) : QueryLocal(hwnd, state);
  if (!found) return InvalidWindow(), nullptr;
  return state.lastActivePopup;
}

HWND GetParent(HWND hwnd) {
  WindowState state;
  bool found = IsForeign(hwnd) ? ForeignQuery(hwnd, state) : QueryLocal(hwnd, state);
  if (!found) return InvalidWindow(), nullptr;
  return state.owner;
}

HWND FindWindow(LPCSTR className, LPCSTR windowName) {
  {
    std::lock_guard guard(Table().lock);
    for (auto& [handle, window] : Table().windows) {
      if (!window->TopLevel() || window->destroying) continue;
      if (className && !EqualsNoCase(window->className, className)) continue;
      if (windowName && !EqualsNoCase(window->title, windowName)) continue;
      return handle;
    }
  }
  return FindForeign(className, windowName);
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  WindowState state;
  bool found = IsForeign(hwnd) ? ForeignQuery(hwnd, state) : QueryLocal(hwnd, state);
  if (!found) return InvalidWindow(), 0;
  if (processId) *processId = ProcessOfWindow(hwnd);
  return state.threadId;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  bool wasDisabled;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return InvalidWindow();
    wasDisabled = window->style & WS_DISABLED;
    if (wasDisabled == !enable) return wasDisabled;
    window->style = enable ? window->style & ~WS_DISABLED : window->style | WS_DISABLED;
  }
  if (!enable) ForgetInput(hwnd);
  // Another thread's window hears of it through its queue: that thread may be waiting on this one (a
  // modal dialog's owner).
  if (GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) {
    PostMessage(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
  }
  SendNow(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  return window && !(window->style & WS_DISABLED);
}
