// Window objects of this process: creation and destruction, text, long values, visibility, activation and
// the owner/parent links. Calls on windows of other processes go to foreign_window.cpp.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "user_internal.h"

namespace tavrin::win::detail {
namespace {

struct Window {
  HWND hwnd = nullptr;
  DWORD threadId = 0;
  std::weak_ptr<core::MessageQueue> queue;
  std::string className;
  std::string title;
  WNDPROC proc = nullptr;
  LONG_PTR userData = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  UINT_PTR id = 0;
  HWND parent = nullptr;  // child windows
  HWND owner = nullptr;   // top-level windows
  bool visible = false;
  bool iconic = false;
  HWND lastActivePopup = nullptr;
  bool destroying = false;
  std::filesystem::path record;  // the run directory's entry of a top-level window

  bool TopLevel() const { return !(style & WS_CHILD); }
};

// Guarded by its lock, which is never held while taking WaitLock() (the queues take it the other way).
struct WindowTable {
  std::mutex lock;
  std::map<HWND, std::shared_ptr<Window>> windows;  // by handle: creation order
  uint32_t nextSerial = 1;
  HWND foreground = nullptr;
};

WindowTable& Table() {
  static auto* table = new WindowTable;  // never destroyed: threads may end after exit starts
  return *table;
}

// A handle holds the creating process in its upper half, so any process can tell whose window it names.
HWND MakeHandle(uint32_t serial) {
  return reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) << 32) | serial);
}

std::shared_ptr<Window> Find(HWND hwnd) {  // with the table lock held
  auto& windows = Table().windows;
  auto it = windows.find(hwnd);
  return it == windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindLocked(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  return Find(hwnd);
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
    for (auto& [handle, other] : table.windows)
      if (other->lastActivePopup == hwnd) other->lastActivePopup = nullptr;
  }
  if (auto queue = window->queue.lock()) core::ForgetWindow(queue, hwnd);
  if (!window->record.empty()) Unpublish(window->record);
}

void Destroy(HWND hwnd) {
  std::vector<HWND> owned, children;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window || window->destroying) return;
    window->destroying = true;
    for (auto& [handle, other] : Table().windows) {
      if (other->owner == hwnd) owned.push_back(handle);
      if (other->parent == hwnd) children.push_back(handle);
    }
  }
  for (HWND o : owned) Destroy(o);
  CallProc(hwnd, WM_DESTROY, 0, 0);
  for (HWND c : children) Destroy(c);
  CallProc(hwnd, WM_NCDESTROY, 0, 0);
  Remove(hwnd);
}

// What a ShowWindow command does to visibility and the minimised state.
void ApplyShow(Window& window, int command) {
  switch (command) {
    case SW_HIDE:
      window.visible = false;
      break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
      window.visible = true;
      window.iconic = false;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      window.visible = true;
      window.iconic = true;
      break;
    case SW_FORCEMINIMIZE:
      window.iconic = true;
      break;
    default:  // SW_SHOW, SW_SHOWNOACTIVATE, SW_SHOWNA
      window.visible = true;
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
  auto window = FindLocked(hwnd);
  if (!window) return 0;
  WNDPROC proc;
  {
    std::lock_guard guard(Table().lock);
    proc = window->proc;
  }
  return proc ? proc(hwnd, message, wParam, lParam) : DefWindowProc(hwnd, message, wParam, lParam);
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
    CallProc(hwnd, message, wParam, lParam);
  else
    PostMessage(hwnd, message, wParam, lParam);
}

bool QueryLocal(HWND hwnd, WindowState& state) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return false;
  state.visible = window->visible;
  state.iconic = window->iconic;
  state.lastActivePopup = window->lastActivePopup && Find(window->lastActivePopup) ? window->lastActivePopup : hwnd;
  state.owner = window->TopLevel() ? window->owner : window->parent;
  state.threadId = window->threadId;
  return true;
}

BOOL ShowLocal(HWND hwnd, int command) {
  bool wasVisible, isVisible;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasVisible = window->visible;
    ApplyShow(*window, command);
    isVisible = window->visible;
    if (!isVisible && Table().foreground == hwnd) Table().foreground = nullptr;
    if (isVisible && Activates(command)) NoteActivePopup(*window);
  }
  if (wasVisible != isVisible) Notify(hwnd, WM_SHOWWINDOW, isVisible ? TRUE : FALSE, 0);
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
  }
  if (previous != hwnd) {
    if (previous && !IsForeign(previous)) Notify(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
    Notify(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
  }
  return TRUE;
}

}  // namespace tavrin::win::detail

namespace tavrin::win {

HWND CreateWindowObject(const WindowSpec& spec) {
  using namespace detail;
  const bool child = spec.style & WS_CHILD;
  if ((child && !spec.parent) || (spec.parent && !FindLocked(spec.parent))) {
    SetLastError(child && !spec.parent ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto window = std::make_shared<Window>();
  window->threadId = GetCurrentThreadId();
  window->queue = core::CurrentQueue();
  window->className = spec.className;
  window->title = spec.title;
  window->proc = spec.proc;
  window->userData = spec.userData;
  window->style = spec.style & ~WS_VISIBLE;  // WS_VISIBLE is shown below, with its WM_SHOWWINDOW
  window->exStyle = spec.exStyle;
  window->id = spec.id;
  (child ? window->parent : window->owner) = spec.parent;
  window->iconic = spec.style & WS_MINIMIZE;
  HWND hwnd;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    hwnd = window->hwnd = MakeHandle(table.nextSerial++);
    table.windows.emplace(hwnd, window);
  }
  if (!child) {
    auto record = Publish(hwnd, spec.className, spec.title);
    std::lock_guard guard(Table().lock);
    window->record = std::move(record);
  }
  CREATESTRUCT create{};
  create.lpCreateParams = spec.createParam;
  create.hwndParent = spec.parent;
  create.style = static_cast<LONG>(spec.style);
  create.lpszName = spec.title.c_str();
  create.lpszClass = spec.className.c_str();
  create.dwExStyle = spec.exStyle;
  if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  if (spec.style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

}  // namespace tavrin::win

using namespace tavrin::win::detail;

namespace {
bool InvalidWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}
}  // namespace

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT:
      ValidateRect(hwnd, nullptr);
      return 0;
    default:
      return 0;
  }
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
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return InvalidWindow();
    window->title = title;
    record = window->record;
    className = window->className;
  }
  if (!record.empty()) Publish(hwnd, className, title, record);
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
    case GWL_STYLE: return static_cast<LONG_PTR>(window->style | (window->visible ? WS_VISIBLE : 0) |
                                                 (window->iconic ? WS_MINIMIZE : 0));
    case GWL_EXSTYLE: return window->exStyle;
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(window->TopLevel() ? window->owner : window->parent);
    case GWLP_HINSTANCE: return 0;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
  }
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
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
    case GWL_STYLE:
      previous = static_cast<LONG_PTR>(window->style);
      window->style = (static_cast<DWORD>(value) & ~(WS_VISIBLE | WS_MINIMIZE)) | (window->style & WS_CHILD);
      return previous;
    case GWL_EXSTYLE:
      previous = window->exStyle;
      window->exStyle = static_cast<DWORD>(value);
      return previous;
    default:
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
  // Visible when the window and every parent up the chain are.
  for (int depth = 0; depth < 64; ++depth) {
    auto window = Find(hwnd);
    if (!window || !window->visible) return FALSE;
    if (window->TopLevel()) return TRUE;
    hwnd = window->parent;
  }
  return FALSE;
}

BOOL IsIconic(HWND hwnd) {
  WindowState state;
  bool found = IsForeign(hwnd) ? ForeignQuery(hwnd, state) : QueryLocal(hwnd, state);
  return found && state.iconic;
}

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
