// Focus, capture, mouse tracking, hooks, key state, window properties and atoms, and the injection of
// mouse and keyboard input.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include <strings.h>

#include "gui/automation.h"
#include "win32/comctl.h"
#include "win32/controls.h"
#include "window_internal.h"

namespace tavrin::win::detail {
namespace {

struct Hook {
  int id;
  HOOKPROC proc;
  DWORD threadId;  // 0: every thread of the process
  HHOOK handle;
};

struct InputState {
  std::mutex lock;
  POINT cursor{0, 0};
  bool keys[256] = {};
  HWND tracked = nullptr;
  DWORD trackFlags = 0;
  // The last button press, for double clicks.
  HWND lastDownWindow = nullptr;
  UINT lastDownMessage = 0;
  DWORD lastDownTime = 0;
  POINT lastDownPoint{0, 0};
  std::vector<Hook> hooks;  // most recent first
  uintptr_t nextHook = 1;
};

InputState& State() {
  static auto* state = new InputState;  // never destroyed
  return *state;
}

thread_local MSG t_lastMessage{};

std::atomic<UINT> g_doubleClickMs{500};

WPARAM MouseKeys() {  // with the state lock held
  auto& s = State();
  return (s.keys[VK_LBUTTON] ? MK_LBUTTON : 0) | (s.keys[VK_RBUTTON] ? MK_RBUTTON : 0) |
         (s.keys[VK_MBUTTON] ? MK_MBUTTON : 0) | (s.keys[VK_SHIFT] ? MK_SHIFT : 0) |
         (s.keys[VK_CONTROL] ? MK_CONTROL : 0);
}

std::vector<Hook> HooksFor(int id) {
  auto& s = State();
  std::lock_guard guard(s.lock);
  std::vector<Hook> chain;
  DWORD thread = GetCurrentThreadId();
  for (auto& hook : s.hooks)
    if (hook.id == id && (hook.threadId == 0 || hook.threadId == thread)) chain.push_back(hook);
  return chain;
}

}  // namespace

POINT CursorPosition() {
  std::lock_guard guard(State().lock);
  return State().cursor;
}

// The key state a thread sees follows the input messages it has read, as GetKeyState promises.
thread_local bool t_keys[256];
thread_local bool t_toggled[256];

void NoteRetrieved(const MSG& msg) {
  t_lastMessage = msg;
  if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSKEYUP && msg.message != WM_CHAR && msg.message != WM_DEADCHAR) {
    auto vk = static_cast<size_t>(msg.wParam & 0xFF);
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    if (down && !t_keys[vk]) t_toggled[vk] = !t_toggled[vk];
    t_keys[vk] = down;
  } else if (msg.message >= WM_LBUTTONDOWN && msg.message <= WM_MBUTTONDBLCLK) {
    t_keys[VK_LBUTTON] = msg.wParam & MK_LBUTTON;
    t_keys[VK_RBUTTON] = msg.wParam & MK_RBUTTON;
    t_keys[VK_MBUTTON] = msg.wParam & MK_MBUTTON;
  }
}

bool HasMouseHooks() {
  auto& s = State();
  std::lock_guard guard(s.lock);
  return std::any_of(s.hooks.begin(), s.hooks.end(), [](const Hook& h) { return h.id == WH_MOUSE; });
}

bool RunMouseHooks(const MSG& msg) {
  auto chain = HooksFor(WH_MOUSE);
  if (chain.empty()) return false;
  MOUSEHOOKSTRUCT info{msg.pt, msg.hwnd, static_cast<UINT>(HTCLIENT), 0};
  if (msg.message >= WM_NCMOUSEMOVE && msg.message <= WM_NCMBUTTONUP) info.wHitTestCode = static_cast<UINT>(msg.wParam);
  return chain.front().proc(HC_ACTION, msg.message, reinterpret_cast<LPARAM>(&info)) != 0;
}

void RunCallWndProcHooks(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool fromThisThread) {
  {
    auto& s = State();
    std::lock_guard guard(s.lock);
    if (s.hooks.empty()) return;
  }
  auto chain = HooksFor(WH_CALLWNDPROC);
  if (chain.empty()) return;
  CWPSTRUCT info{lParam, wParam, message, hwnd};
  chain.front().proc(HC_ACTION, fromThisThread ? 1 : 0, reinterpret_cast<LPARAM>(&info));
}

void ForgetInput(HWND hwnd) {
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    if (table.focus && IsSelfOrDescendantLocked(hwnd, table.focus)) table.focus = nullptr;
    if (table.capture && IsSelfOrDescendantLocked(hwnd, table.capture)) table.capture = nullptr;
    MirrorInputLocked();
  }
  auto& s = State();
  std::lock_guard guard(s.lock);
  if (s.tracked == hwnd) s.tracked = nullptr;
  if (s.lastDownWindow == hwnd) s.lastDownWindow = nullptr;
}

HWND KeyboardTarget(DWORD threadId, HWND queuedFor) {
  auto& table = Table();
  std::lock_guard guard(table.lock);
  auto ownWindow = [&](HWND hwnd) {
    auto window = hwnd ? Find(hwnd) : nullptr;
    return window && window->threadId == threadId;
  };
  if (ownWindow(table.focus)) return table.focus;
  if (ownWindow(table.foreground)) return table.foreground;
  return queuedFor;
}

bool IsSelfOrDescendantLocked(HWND ancestor, HWND hwnd) {
  for (int depth = 0; hwnd && depth < 64; ++depth) {
    if (hwnd == ancestor) return true;
    auto window = Find(hwnd);
    hwnd = window ? window->parent : nullptr;
  }
  return false;
}

}  // namespace tavrin::win::detail

using namespace tavrin::win::detail;

// ---- focus and capture ----

HWND SetFocus(HWND hwnd) {
  HWND previous, top = nullptr;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    previous = table.focus;
    if (hwnd) {
      auto window = Find(hwnd);
      if (!window) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
      if (window->style & WS_DISABLED) return nullptr;
      top = RootLocked(hwnd);
    }
    if (previous == hwnd) return previous;
    table.focus = hwnd;
    MirrorInputLocked();
  }
  if (top && GetForegroundWindow() != top) SetForegroundWindow(top);
  if (previous && IsWindow(previous)) SendNow(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && IsWindow(hwnd)) SendNow(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND GetFocus() {
  std::lock_guard guard(Table().lock);
  return Table().focus;
}

HWND SetCapture(HWND hwnd) {
  HWND previous;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    if (!Find(hwnd)) return nullptr;
    previous = table.capture;
    table.capture = hwnd;
    MirrorInputLocked();
  }
  if (previous && previous != hwnd && IsWindow(previous))
    SendNow(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return previous;
}

BOOL ReleaseCapture() {
  HWND previous;
  {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    previous = table.capture;
    table.capture = nullptr;
    MirrorInputLocked();
  }
  if (previous && IsWindow(previous)) SendNow(previous, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  std::lock_guard guard(Table().lock);
  return Table().capture;
}

BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) {
  if (!track || track->cbSize < sizeof(TRACKMOUSEEVENT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto& s = State();
  if (track->dwFlags & TME_QUERY) {
    std::lock_guard guard(s.lock);
    track->dwFlags = s.tracked ? s.trackFlags : 0;
    track->hwndTrack = s.tracked;
    return TRUE;
  }
  if (track->dwFlags & TME_CANCEL) {
    std::lock_guard guard(s.lock);
    if (s.tracked == track->hwndTrack) s.tracked = nullptr;
    return TRUE;
  }
  if (!IsWindow(track->hwndTrack)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!(track->dwFlags & TME_LEAVE)) return TRUE;
  POINT cursor = CursorPosition();
  HWND under = WindowFromPoint(cursor);
  bool inside = under == track->hwndTrack;
  if (inside) {
    POINT p = cursor;
    ScreenToClient(under, &p);
    RECT client;
    GetClientRect(under, &client);
    inside = PtInRect(&client, p);
  }
  if (!inside) {  // not over the window: the leave comes at once
    PostMessage(track->hwndTrack, WM_MOUSELEAVE, 0, 0);
    return TRUE;
  }
  std::lock_guard guard(s.lock);
  s.tracked = track->hwndTrack;
  s.trackFlags = track->dwFlags & (TME_LEAVE | TME_HOVER | TME_NONCLIENT);
  return TRUE;
}

BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track) { return _TrackMouseEvent(track); }

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  *point = CursorPosition();
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  std::lock_guard guard(State().lock);
  State().cursor = POINT{x, y};
  return TRUE;
}

DWORD GetMessagePos() {
  return static_cast<DWORD>(MAKELPARAM(t_lastMessage.pt.x, t_lastMessage.pt.y));
}

LONG GetMessageTime() { return static_cast<LONG>(t_lastMessage.time); }

short GetKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  return static_cast<short>((t_keys[virtualKey] ? 0x8000 : 0) | (t_toggled[virtualKey] ? 1 : 0));
}

short GetAsyncKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  auto& s = State();
  std::lock_guard guard(s.lock);
  return static_cast<short>(s.keys[virtualKey] ? 0x8000 : 0);
}

UINT GetDoubleClickTime() { return g_doubleClickMs; }

BOOL SetDoubleClickTime(UINT ms) {
  g_doubleClickMs = ms ? std::min<UINT>(ms, 5000) : 500;  // 0 asks for the default; 5 s at most
  return TRUE;
}

// ---- hooks ----

HHOOK SetWindowsHookEx(int idHook, HOOKPROC proc, HINSTANCE, DWORD threadId) {
  if (!proc || (idHook != WH_CALLWNDPROC && idHook != WH_MOUSE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto& s = State();
  std::lock_guard guard(s.lock);
  HHOOK handle = reinterpret_cast<HHOOK>(s.nextHook++);
  s.hooks.insert(s.hooks.begin(), Hook{idHook, proc, threadId, handle});
  return handle;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  auto& s = State();
  std::lock_guard guard(s.lock);
  auto erased = std::erase_if(s.hooks, [&](const Hook& h) { return h.handle == hook; });
  if (!erased) SetLastError(ERROR_INVALID_PARAMETER);
  return erased ? TRUE : FALSE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  int id = 0;
  {
    auto& s = State();
    std::lock_guard guard(s.lock);
    for (auto& h : s.hooks)
      if (h.handle == hook) id = h.id;
  }
  if (!id) return 0;
  auto chain = HooksFor(id);
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    if (chain[i].handle == hook) return chain[i + 1].proc(code, wParam, lParam);
  return 0;
}

// ---- properties and atoms ----

namespace {

struct AtomEntry {
  std::string name;
  int references = 0;
};
struct AtomTable {
  std::mutex lock;
  std::map<ATOM, AtomEntry> byAtom;
  std::map<std::string, ATOM> byName;  // upper case
  ATOM next = 0xC000;
};
AtomTable& Atoms() {
  static auto* atoms = new AtomTable;  // never destroyed
  return *atoms;
}

// "#123" names the integer atom 123.
ATOM IntegerAtom(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
  if (name[0] != '#') return 0;
  char* end = nullptr;
  unsigned long value = strtoul(name + 1, &end, 10);
  return (*end == '\0' && value > 0 && value < 0xC000) ? static_cast<ATOM>(value) : 0;
}

ATOM AddAtomName(LPCSTR name, bool reference) {
  if (!name) return 0;
  if (ATOM atom = IntegerAtom(name)) return atom;
  if (!*name || strlen(name) > 255) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& atoms = Atoms();
  std::lock_guard guard(atoms.lock);
  std::string key = UpperName(name);
  auto it = atoms.byName.find(key);
  if (it != atoms.byName.end()) {
    if (reference) ++atoms.byAtom[it->second].references;
    return it->second;
  }
  if (atoms.next == 0) {  // the table is full
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  ATOM atom = atoms.next++;
  atoms.byName[key] = atom;
  atoms.byAtom[atom] = AtomEntry{name, 1};
  return atom;
}

ATOM FindAtomName(LPCSTR name) {
  if (!name) return 0;
  if (ATOM atom = IntegerAtom(name)) return atom;
  auto& atoms = Atoms();
  std::lock_guard guard(atoms.lock);
  auto it = atoms.byName.find(UpperName(name));
  if (it == atoms.byName.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return it->second;
}

// The key of a property: its name, whether given as text or as an atom.
std::string PropKey(LPCSTR name) {
  if (!name) return {};
  if (!IS_INTRESOURCE(name)) return UpperName(name);
  ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
  auto& atoms = Atoms();
  std::lock_guard guard(atoms.lock);
  auto it = atoms.byAtom.find(atom);
  return it == atoms.byAtom.end() ? "#" + std::to_string(atom) : UpperName(it->second.name);
}

}  // namespace

BOOL SetProp(HWND hwnd, LPCSTR name, HANDLE data) {
  std::string key = PropKey(name);
  if (key.empty()) return FALSE;
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  window->props[key] = data;
  return TRUE;
}

HANDLE GetProp(HWND hwnd, LPCSTR name) {
  std::string key = PropKey(name);
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return nullptr;
  auto it = window->props.find(key);
  return it == window->props.end() ? nullptr : it->second;
}

HANDLE RemoveProp(HWND hwnd, LPCSTR name) {
  std::string key = PropKey(name);
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  if (!window) return nullptr;
  auto it = window->props.find(key);
  if (it == window->props.end()) return nullptr;
  HANDLE data = it->second;
  window->props.erase(it);
  return data;
}

ATOM GlobalAddAtom(LPCSTR name) { return AddAtomName(name, true); }
ATOM GlobalFindAtom(LPCSTR name) { return FindAtomName(name); }
ATOM GlobalDeleteAtom(ATOM atom) {
  if (atom < 0xC000) return 0;
  auto& atoms = Atoms();
  std::lock_guard guard(atoms.lock);
  auto it = atoms.byAtom.find(atom);
  if (it == atoms.byAtom.end()) return atom;  // failure returns the atom
  if (--it->second.references <= 0) {
    atoms.byName.erase(UpperName(it->second.name));
    atoms.byAtom.erase(it);
  }
  return 0;
}
UINT GlobalGetAtomName(ATOM atom, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::string name;
  if (atom > 0 && atom < 0xC000) {
    name = "#" + std::to_string(atom);
  } else {
    auto& atoms = Atoms();
    std::lock_guard guard(atoms.lock);
    auto it = atoms.byAtom.find(atom);
    if (it == atoms.byAtom.end()) return 0;
    name = it->second.name;
  }
  size_t copied = std::min(name.size(), static_cast<size_t>(size - 1));
  memcpy(buffer, name.data(), copied);
  buffer[copied] = '\0';
  return static_cast<UINT>(copied);
}
ATOM AddAtom(LPCSTR name) { return GlobalAddAtom(name); }
ATOM FindAtom(LPCSTR name) { return GlobalFindAtom(name); }
ATOM DeleteAtom(ATOM atom) { return GlobalDeleteAtom(atom); }
UINT GetAtomName(ATOM atom, LPSTR buffer, int size) { return GlobalGetAtomName(atom, buffer, size); }
UINT RegisterWindowMessage(LPCSTR name) { return name && !IntegerAtom(name) ? AddAtomName(name, false) : 0; }

// ---- keyboard translation ----

namespace {
// The character a key makes, 0 for none.
char KeyChar(int vk, bool shift) {
  if (vk >= 'A' && vk <= 'Z') return static_cast<char>(shift ? vk : vk - 'A' + 'a');
  if (vk >= '0' && vk <= '9' && !shift) return static_cast<char>(vk);
  switch (vk) {
    case VK_SPACE: return ' ';
    case VK_RETURN: return '\r';
    case VK_TAB: return '\t';
    case VK_ESCAPE: return 0x1B;
    case VK_BACK: return 0x08;
    default: return 0;
  }
}
}  // namespace

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  char c = KeyChar(static_cast<int>(msg->wParam), GetKeyState(VK_SHIFT) < 0);
  if (!c || GetKeyState(VK_CONTROL) < 0) return FALSE;
  UINT charMessage = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
  auto wParam = static_cast<WPARAM>(static_cast<BYTE>(c));
  // The character comes next, before keys pressed after it (typed text and Enter keep their order).
  if (GetWindowThreadProcessId(msg->hwnd, nullptr) == GetCurrentThreadId()) {
    MSG character = *msg;
    character.message = charMessage;
    character.wParam = wParam;
    tavrin::core::PostFirstToOwnQueue(character);
    return TRUE;
  }
  PostMessage(msg->hwnd, charMessage, wParam, msg->lParam);
  return TRUE;
}

// ---- injection ----

namespace tavrin::win {

namespace {

// The window that takes mouse input at a screen point and its hit-test code.
HWND MouseTarget(POINT point, LRESULT& hit) {
  HWND capture = GetCapture();
  if (capture) {
    hit = HTCLIENT;
    return capture;
  }
  return WindowUnder(point, true, &hit);
}

// Leaving the tracked window's client area ends the tracking with WM_MOUSELEAVE.
void CheckLeave(POINT point) {
  auto& s = State();
  HWND tracked;
  {
    std::lock_guard guard(s.lock);
    tracked = s.tracked;
  }
  if (!tracked) return;
  bool inside = WindowUnder(point, true, nullptr) == tracked;
  if (inside) {
    POINT p = point;
    ScreenToClient(tracked, &p);
    RECT client;
    GetClientRect(tracked, &client);
    inside = PtInRect(&client, p);
  }
  if (inside) return;
  {
    std::lock_guard guard(s.lock);
    if (s.tracked != tracked) return;
    s.tracked = nullptr;
  }
  PostMessage(tracked, WM_MOUSELEAVE, 0, 0);
}

void PostMouse(HWND target, LRESULT hit, UINT clientMessage, POINT point, WPARAM keys) {
  if (hit == HTCLIENT) {
    POINT p = point;
    ScreenToClient(target, &p);
    PostInput(target, clientMessage, keys, MAKELPARAM(p.x, p.y));
  } else if (hit != HTNOWHERE && hit != HTERROR && hit != HTTRANSPARENT) {
    PostInput(target, clientMessage - WM_MOUSEMOVE + WM_NCMOUSEMOVE, static_cast<WPARAM>(hit),
              MAKELPARAM(point.x, point.y));
  }
}

bool ClassHasDoubleClicks(HWND hwnd) {
  std::lock_guard guard(Table().lock);
  auto window = Find(hwnd);
  return window && window->cls && (window->cls->style & CS_DBLCLKS);
}

}  // namespace

void InjectMouseMove(int x, int y) {
  POINT point{x, y};
  {
    std::lock_guard guard(State().lock);
    State().cursor = point;
  }
  CheckLeave(point);
  LRESULT hit;
  HWND target = MouseTarget(point, hit);
  if (!target) return;
  WPARAM keys;
  {
    std::lock_guard guard(State().lock);
    keys = MouseKeys();
  }
  PostMouse(target, hit, WM_MOUSEMOVE, point, keys);
}

void InjectMouseButton(MouseButton button, bool down, int x, int y, std::optional<DWORD> time) {
  POINT point{x, y};
  POINT cursor = CursorPosition();
  if (cursor.x != x || cursor.y != y) InjectMouseMove(x, y);
  int vk = button == MouseButton::kLeft ? VK_LBUTTON : button == MouseButton::kRight ? VK_RBUTTON : VK_MBUTTON;
  UINT downMessage = button == MouseButton::kLeft    ? WM_LBUTTONDOWN
                     : button == MouseButton::kRight ? WM_RBUTTONDOWN
                                                     : WM_MBUTTONDOWN;
  LRESULT hit;
  HWND target = MouseTarget(point, hit);
  WPARAM keys;
  {
    std::lock_guard guard(State().lock);
    State().keys[vk] = down;
    keys = MouseKeys();
  }
  if (!target) return;
  if (!IsWindowEnabled(target)) return;
  UINT message = down ? downMessage : downMessage + 1;
  const bool doubleClicks = ClassHasDoubleClicks(target);
  if (down) {
    HWND top = GetAncestor(target, GA_ROOT);
    if (top && GetForegroundWindow() != top) SetForegroundWindow(top);
    const DWORD now = time ? *time : GetTickCount();
    auto& s = State();
    std::lock_guard guard(s.lock);
    // Presses timed by different clocks (the display's, ours) may come out of order: apart by the distance.
    const LONG apart = std::abs(static_cast<LONG>(now - s.lastDownTime));
    bool twice = s.lastDownWindow == target && s.lastDownMessage == downMessage &&
                 static_cast<DWORD>(apart) <= g_doubleClickMs && std::abs(s.lastDownPoint.x - x) <= 2 &&
                 std::abs(s.lastDownPoint.y - y) <= 2;
    if (twice) {
      s.lastDownWindow = nullptr;
    } else {
      s.lastDownWindow = target;
      s.lastDownMessage = downMessage;
      s.lastDownTime = now;
      s.lastDownPoint = point;
    }
    if (twice && (hit != HTCLIENT || doubleClicks)) message = downMessage + 2;
  }
  PostMouse(target, hit, message, point, keys);
}

void InjectClick(int x, int y, MouseButton button) {
  InjectMouseButton(button, true, x, y);
  InjectMouseButton(button, false, x, y);
}

void InjectKey(int virtualKey, bool down) {
  if (virtualKey <= 0 || virtualKey > 255) return;
  bool wasDown, alt;
  {
    auto& s = State();
    std::lock_guard guard(s.lock);
    wasDown = s.keys[virtualKey];
    s.keys[virtualKey] = down;
    alt = s.keys[VK_MENU];
  }
  // The key is queued on the thread that has the focus now; which of its windows takes it is decided when
  // the thread reads it (KeyboardTarget).
  HWND target = GetFocus();
  if (!target) target = GetActiveWindow();
  if (!target) return;
  bool system = alt || virtualKey == VK_F10 || virtualKey == VK_MENU;
  UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  LPARAM lParam = 1 | (static_cast<LPARAM>(virtualKey & 0xFF) << 16);
  if (alt) lParam |= 1L << 29;
  if (wasDown) lParam |= 1L << 30;
  if (!down) lParam |= (1L << 30) | (1L << 31);
  PostInput(target, message, static_cast<WPARAM>(virtualKey), lParam);
}

void InjectText(const std::string& text) {
  for (char c : text) {
    int vk = 0;
    bool shift = false;
    if (c >= 'a' && c <= 'z') vk = c - 'a' + 'A';
    else if (c >= 'A' && c <= 'Z') vk = c, shift = true;
    else if (c >= '0' && c <= '9') vk = c;
    else if (c == ' ') vk = VK_SPACE;
    else if (c == '\n' || c == '\r') vk = VK_RETURN;
    else if (c == '\t') vk = VK_TAB;
    else if (c == 0x1B) vk = VK_ESCAPE;
    else if (c == '\b') vk = VK_BACK;
    if (!vk) {  // no key of ours makes it: the character alone
      HWND target = GetFocus();
      if (!target) target = GetActiveWindow();
      if (target) PostInput(target, WM_CHAR, static_cast<WPARAM>(static_cast<BYTE>(c)), 1);
      continue;
    }
    if (shift) InjectKey(VK_SHIFT, true);
    InjectKey(vk, true);
    InjectKey(vk, false);
    if (shift) InjectKey(VK_SHIFT, false);
  }
}

namespace {

constexpr int kListedRows = 200;  // a list's rows listed at most

// A line under a window's own, indented one level deeper.
std::string Indented(int depth, const std::string& text) {
  return std::string(static_cast<size_t>(depth) * 2 + 2, ' ') + text;
}

// " rect=l,t,r,b" of a control's item rectangle, in screen coordinates.
std::string ScreenRect(HWND control, RECT bounds) {
  MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&bounds), 2);
  char at[64];
  snprintf(at, sizeof at, " rect=%d,%d,%d,%d", static_cast<int>(bounds.left), static_cast<int>(bounds.top),
           static_cast<int>(bounds.right), static_cast<int>(bounds.bottom));
  return at;
}

// The rows of a list view, each line "row=\"cell|cell|...\"", asked of the list itself (its own
// thread keeps its items).
void AppendListRows(HWND list, int depth, std::vector<std::string>& lines) {
  const int rows = static_cast<int>(SendMessage(list, LVM_GETITEMCOUNT, 0, 0));
  HWND header = reinterpret_cast<HWND>(SendMessage(list, LVM_GETHEADER, 0, 0));
  const int columns = std::max(1, header ? static_cast<int>(SendMessage(header, HDM_GETITEMCOUNT, 0, 0)) : 1);
  for (int row = 0; row < rows && row < kListedRows; ++row) {
    std::string cells;
    for (int column = 0; column < columns; ++column) {
      char text[260] = {};
      LVITEM item{};
      item.iSubItem = column;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessage(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
      if (column) cells += '|';
      cells += text;
    }
    // Where the row shows on the screen (as the window lines give it), for a click on it.
    RECT bounds{LVIR_BOUNDS, 0, 0, 0};
    SendMessage(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    lines.push_back(Indented(depth, "row=\"" + cells + "\"" + ScreenRect(list, bounds)));
  }
  if (rows > kListedRows)
    lines.push_back(Indented(depth, "rows=" + std::to_string(rows)));
}

// A tab control's tabs, one row each with its text and where it shows.
void AppendTabs(HWND tabs, int depth, std::vector<std::string>& lines) {
  const int count = static_cast<int>(SendMessage(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int tab = 0; tab < count && tab < kListedRows; ++tab) {
    char text[260] = {};
    TCITEM item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessage(tabs, TCM_GETITEM, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item));
    RECT bounds{};
    SendMessage(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&bounds));
    lines.push_back(Indented(depth, "row=\"" + std::string(text) + "\"" + ScreenRect(tabs, bounds)));
  }
}

// A list box's entries, one row each, where they show (an entry scrolled away has an empty rectangle).
void AppendListBoxRows(HWND list, int depth, std::vector<std::string>& lines) {
  const int count = static_cast<int>(SendMessage(list, LB_GETCOUNT, 0, 0));
  for (int row = 0; row < count && row < kListedRows; ++row) {
    const LRESULT length = SendMessage(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length < 0) continue;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessage(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(strnlen(text.c_str(), text.size()));
    RECT bounds{};
    SendMessage(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    lines.push_back(Indented(depth, "row=\"" + text + "\"" + ScreenRect(list, bounds)));
  }
}

// The panes of a status bar as one row.
void AppendStatusPanes(HWND bar, int depth, std::vector<std::string>& lines) {
  const int parts = static_cast<int>(SendMessage(bar, SB_GETPARTS, 0, 0));
  std::string cells;
  for (int part = 0; part < parts && part < 64; ++part) {
    const int length = LOWORD(SendMessage(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessage(bar, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
    text.resize(strnlen(text.c_str(), text.size()));
    if (part) cells += '|';
    cells += text;
  }
  lines.push_back(Indented(depth, "row=\"" + cells + "\""));
}

}  // namespace

std::vector<std::string> ListWindows() {
  struct Listed {
    HWND hwnd;
    std::string className;
    int depth;
    DWORD style;
    std::string line;
  };
  std::vector<Listed> listed;
  {
    std::lock_guard guard(Table().lock);
    auto describe = [&](auto& self, HWND hwnd, int depth) -> void {
      auto window = Find(hwnd);
      if (!window) return;
      POINT origin = ScreenOrigin(*window);
      gui::automation::ListedWindow shown;
      shown.depth = depth;
      shown.handle = reinterpret_cast<uintptr_t>(hwnd);
      shown.className = window->className;
      shown.id = window->id;
      shown.text = window->title;
      shown.rect = draw::Rect{static_cast<int>(origin.x), static_cast<int>(origin.y),
                              static_cast<int>(origin.x + window->Width()), static_cast<int>(origin.y + window->Height())};
      shown.visible = ReallyVisible(*window);
      shown.enabled = !(window->style & WS_DISABLED);
      shown.role = RoleOf(*window);
      const std::string line = gui::automation::ListLine(shown);
      listed.push_back({hwnd, window->className, depth, window->style, line});
      for (HWND child : window->children) self(self, child, depth + 1);
    };
    for (HWND top : Table().topLevels) describe(describe, top, 0);
  }
  // What controls hold is asked of them outside the table's lock: a check box's state, a list's rows.
  std::vector<std::string> described;
  for (const Listed& window : listed) {
    std::string line = window.line;
    const DWORD type = window.style & BS_TYPEMASK;
    if (strcasecmp(window.className.c_str(), "Button") == 0 && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON &&
        type != BS_GROUPBOX && type != BS_OWNERDRAW)
      line += " checked=" + std::to_string(SendMessage(window.hwnd, BM_GETCHECK, 0, 0));
    described.push_back(line);
    if (strcasecmp(window.className.c_str(), "SysListView32") == 0) AppendListRows(window.hwnd, window.depth, described);
    if (strcasecmp(window.className.c_str(), "msctls_statusbar32") == 0)
      AppendStatusPanes(window.hwnd, window.depth, described);
    if (strcasecmp(window.className.c_str(), "SysTabControl32") == 0) AppendTabs(window.hwnd, window.depth, described);
    if (strcasecmp(window.className.c_str(), "ListBox") == 0) AppendListBoxRows(window.hwnd, window.depth, described);
  }
  return described;
}

}  // namespace tavrin::win
