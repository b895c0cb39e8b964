// The menu bar of a top-level window: laid out and painted in the non-client area under the caption,
// hot-tracked under the mouse, and tracked modally from a click, Alt, F10 or Alt+mnemonic. Popups of
// the bar run in the popup loop of menu.cpp, which hands back why they ended so that the bar can move
// to a neighbouring item.
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "menu_internal.h"
#include "win32/user_draw.h"
#include "window_internal.h"

namespace tavrin::win::menus {

namespace {

constexpr int kSystem = -1;       // the system menu's place among the bar items
constexpr int kStringPadding = 6;  // on each side of a string item's text
constexpr int kOwnerPadding = 8;   // on each side of what an owner-drawn item measured

struct BarItem {
  RECT rect{};  // window coordinates
  UINT type = 0;
  UINT state = 0;
  UINT id = 0;
  HMENU sub = nullptr;
  ULONG_PTR data = 0;
  std::string text;
};

struct BarState {
  HMENU menu = nullptr;
  RECT bar{};  // window coordinates, the line under the items included
  std::vector<BarItem> items;
  int hot = -1;       // the item under the mouse
  int selected = -1;  // the item of a bar tracking
};

std::mutex g_lock;  // never held while a message is sent
std::map<HWND, BarState>& States() {
  static auto* states = new std::map<HWND, BarState>;
  return *states;
}

bool Find(HWND hwnd, BarState* copy) {
  std::lock_guard guard(g_lock);
  auto it = States().find(hwnd);
  if (it == States().end()) return false;
  *copy = it->second;
  return true;
}

// The bar menu of a top-level window (child windows have none).
HMENU BarMenu(HWND hwnd) {
  if (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_CHILD) return nullptr;
  return GetMenu(hwnd);
}

std::vector<BarItem> Snapshot(HMENU menu) {
  std::vector<BarItem> items;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    MENUITEMINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    if (!GetMenuItemInfo(menu, static_cast<UINT>(i), TRUE, &info)) break;
    BarItem item;
    item.type = info.fType;
    item.state = info.fState;
    item.id = info.wID;
    item.sub = info.hSubMenu;
    item.data = info.dwItemData;
    item.text = text;
    items.push_back(std::move(item));
  }
  return items;
}

HFONT BarFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

std::string Shown(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

bool Active(HWND hwnd) { return GetForegroundWindow() == hwnd; }

UINT ItemDrawState(const BarItem& item, bool selected, bool hot, bool active) {
  UINT state = 0;
  if (selected) state |= ODS_SELECTED;
  if (hot) state |= ODS_HOTLIGHT;
  if (!active) state |= ODS_INACTIVE;
  if (item.state & MF_GRAYED) state |= ODS_GRAYED;
  if (item.state & MF_DISABLED) state |= ODS_DISABLED;
  if (item.state & MF_DEFAULT) state |= ODS_DEFAULT;
  return state;
}

HBRUSH Background(HMENU menu) {
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  if (GetMenuInfo(menu, &info) && info.hbrBack) return info.hbrBack;
  return GetSysColorBrush(COLOR_MENU);
}

void PaintItem(HWND hwnd, HDC dc, const BarState& state, size_t index, bool active) {
  const BarItem& item = state.items[index];
  const bool selected = static_cast<int>(index) == state.selected;
  const bool hot = static_cast<int>(index) == state.hot;
  RECT rect = item.rect;
  if (item.type & MF_OWNERDRAW) {
    DRAWITEMSTRUCT draw{ODT_MENU, 0, item.id, ODA_DRAWENTIRE, ItemDrawState(item, selected, hot, active),
                        reinterpret_cast<HWND>(state.menu), dc, rect, item.data};
    SendMessage(hwnd, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
    return;
  }
  const bool lit = (selected || hot) && !(item.type & MF_SEPARATOR);
  FillRect(dc, &rect, lit ? GetSysColorBrush(COLOR_HIGHLIGHT) : Background(state.menu));
  if (item.type & (MF_SEPARATOR | MF_BITMAP)) return;
  HGDIOBJ oldFont = SelectObject(dc, BarFont());
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const bool grey = (item.state & (MF_GRAYED | MF_DISABLED)) || !active;
  const COLORREF oldColour =
      SetTextColor(dc, GetSysColor(grey ? COLOR_GRAYTEXT : lit ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
  DrawText(dc, item.text.c_str(), static_cast<int>(item.text.size()), &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

// Paints one item again on the window's DC.
void RepaintItem(HWND hwnd, int index) {
  BarState state;
  if (index < 0 || !Find(hwnd, &state) || static_cast<size_t>(index) >= state.items.size()) return;
  HDC dc = GetWindowDC(hwnd);
  if (!dc) return;
  PaintItem(hwnd, dc, state, static_cast<size_t>(index), Active(hwnd));
  ReleaseDC(hwnd, dc);
}

// The item under a point in window coordinates: an index, -1 on the bar but on no item, -2 off the bar.
int ItemAtWindowPoint(const BarState& state, POINT p) {
  for (size_t i = 0; i < state.items.size(); ++i)
    if (PtInRect(&state.items[i].rect, p)) return static_cast<int>(i);
  return PtInRect(&state.bar, p) ? -1 : -2;
}

POINT WindowOrigin(HWND hwnd) {
  RECT window{};
  GetWindowRect(hwnd, &window);
  return POINT{window.left, window.top};
}

int ItemAtScreenPoint(HWND hwnd, POINT screen) {
  BarState state;
  if (!Find(hwnd, &state)) return -2;
  const POINT origin = WindowOrigin(hwnd);
  return ItemAtWindowPoint(state, POINT{screen.x - origin.x, screen.y - origin.y});
}

// ---- hot tracking ----

thread_local HWND t_hotWindow = nullptr;
thread_local UINT_PTR t_hotTimer = 0;

void SetHot(HWND hwnd, int index) {
  int old;
  {
    std::lock_guard guard(g_lock);
    auto it = States().find(hwnd);
    if (it == States().end()) return;
    old = it->second.hot;
    if (old == index) return;
    it->second.hot = index;
  }
  RepaintItem(hwnd, old);
  RepaintItem(hwnd, index);
}

void CALLBACK HotTimer(HWND, UINT, UINT_PTR, DWORD);

void ClearHot() {
  if (t_hotWindow && IsWindow(t_hotWindow)) SetHot(t_hotWindow, -1);
  t_hotWindow = nullptr;
  if (t_hotTimer) KillTimer(nullptr, t_hotTimer);
  t_hotTimer = 0;
}

// The mouse may leave the bar for a child window or another program: a thread timer looks after it.
void CALLBACK HotTimer(HWND, UINT, UINT_PTR, DWORD) {
  POINT cursor{};
  GetCursorPos(&cursor);
  if (!t_hotWindow || !IsWindow(t_hotWindow) || WindowFromPoint(cursor) != t_hotWindow ||
      ItemAtScreenPoint(t_hotWindow, cursor) < 0)
    ClearHot();
}

void TrackHot(HWND hwnd, POINT screen);

// ---- tracking ----

struct Tracking {
  HWND hwnd = nullptr;
  bool done = false;
};
thread_local Tracking* t_tracking = nullptr;

class Link : public BarLink {
 public:
  explicit Link(HWND hwnd) : hwnd_(hwnd) {}
  int ItemAt(POINT screen) override { return ItemAtScreenPoint(hwnd_, screen); }
  // The bar item is drawn again once its popup is initialised: an owner that counts open popups draws
  // its open look.
  void PopupInitialised() override {
    if (!sysMenu) RepaintItem(hwnd_, current);
  }

 private:
  HWND hwnd_;
};

// The positions a keyboard walk visits: the system menu first (when the window has one), then the items
// that are not separators.
std::vector<int> Stops(HWND hwnd, const BarState& state) {
  std::vector<int> stops;
  if (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_SYSMENU) stops.push_back(kSystem);
  for (size_t i = 0; i < state.items.size(); ++i)
    if (!(state.items[i].type & MF_SEPARATOR)) stops.push_back(static_cast<int>(i));
  return stops;
}

int Neighbour(HWND hwnd, int current, int step) {
  BarState state;
  Find(hwnd, &state);
  const std::vector<int> stops = Stops(hwnd, state);
  if (stops.empty()) return current;
  auto it = std::find(stops.begin(), stops.end(), current);
  const int n = static_cast<int>(stops.size());
  const int at = it == stops.end() ? 0 : static_cast<int>(it - stops.begin());
  return stops[static_cast<size_t>((at + step + n) % n)];
}

// Selects a bar item for the tracking (or none), repainting the old and new ones and telling the owner.
void Select(HWND hwnd, int index, bool mouse) {
  int old;
  HMENU menu;
  BarItem item;
  {
    std::lock_guard guard(g_lock);
    auto it = States().find(hwnd);
    if (it == States().end()) {
      old = -1;
      menu = nullptr;
    } else {
      old = it->second.selected;
      it->second.selected = index;
      menu = it->second.menu;
      if (index >= 0 && static_cast<size_t>(index) < it->second.items.size()) item = it->second.items[index];
    }
  }
  if (old != index) {
    RepaintItem(hwnd, old);
    RepaintItem(hwnd, index);
  }
  const UINT mouseFlag = mouse ? MF_MOUSESELECT : 0;
  if (index == kSystem) {
    SendMessage(hwnd, WM_MENUSELECT, MAKEWPARAM(0, MF_POPUP | MF_HILITE | MF_SYSMENU | mouseFlag),
                reinterpret_cast<LPARAM>(GetSystemMenu(hwnd, FALSE)));
  } else if (index >= 0 && menu) {
    const UINT flags = (item.type | item.state | MF_HILITE | (item.sub ? MF_POPUP : 0) | mouseFlag) & 0xFFFF;
    SendMessage(hwnd, WM_MENUSELECT, MAKEWPARAM(item.sub ? index : static_cast<int>(item.id), flags),
                reinterpret_cast<LPARAM>(menu));
  }
}

// Where the popup of a bar item opens from (screen coordinates): under the item, or under the caption's
// left corner for the system menu.
RECT ItemScreenRect(HWND hwnd, int index) {
  RECT rect{};
  const POINT origin = WindowOrigin(hwnd);
  if (index == kSystem) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_EXSTYLE));
    const int edge = detail::FrameInsets(style, exStyle).left;
    const int caption = detail::CaptionHeight(style, exStyle);
    rect = RECT{edge, edge, edge + caption, edge + caption};
  } else {
    BarState state;
    if (Find(hwnd, &state) && index >= 0 && static_cast<size_t>(index) < state.items.size())
      rect = state.items[static_cast<size_t>(index)].rect;
  }
  OffsetRect(&rect, origin.x, origin.y);
  return rect;
}

// The bar item whose mnemonic is `ch` (string items; owner-drawn ones answer WM_MENUCHAR), and what the
// owner asks for when none has it: the item and whether to open it, or false for nothing.
bool ItemOfMnemonic(HWND hwnd, int ch, int* index, bool* open) {
  BarState state;
  if (!Find(hwnd, &state)) return false;
  const int key = std::tolower(ch);
  for (size_t i = 0; i < state.items.size(); ++i) {
    const BarItem& item = state.items[i];
    if (!(item.type & (MF_OWNERDRAW | MF_SEPARATOR | MF_BITMAP)) && MnemonicOf(item.text) == key) {
      *index = static_cast<int>(i);
      *open = true;
      return true;
    }
  }
  const LRESULT answer =
      SendMessage(hwnd, WM_MENUCHAR, MAKEWPARAM(ch & 0xFF, 0), reinterpret_cast<LPARAM>(state.menu));
  const int item = LOWORD(static_cast<uintptr_t>(answer));
  const int kind = HIWORD(static_cast<uintptr_t>(answer));
  if ((kind != MNC_EXECUTE && kind != MNC_SELECT) || static_cast<size_t>(item) >= state.items.size()) return false;
  *index = item;
  *open = kind == MNC_EXECUTE;
  return true;
}

bool HasPopup(HWND hwnd, int index) {
  if (index == kSystem) return GetSystemMenu(hwnd, FALSE) != nullptr;
  return GetSubMenu(GetMenu(hwnd), index) != nullptr;
}

// A command item of the bar itself (no popup), or 0.
UINT CommandOf(HWND hwnd, int index) {
  if (index < 0) return 0;
  HMENU menu = GetMenu(hwnd);
  if (GetSubMenu(menu, index)) return 0;
  const UINT state = GetMenuState(menu, static_cast<UINT>(index), MF_BYPOSITION);
  if (state == 0xFFFFFFFF || (state & (MF_GRAYED | MF_DISABLED | MF_SEPARATOR))) return 0;
  return GetMenuItemID(menu, index);
}

// The modal tracking of the bar: `current` selected, its popup open or not; keyboard tells whether the
// popups it opens get their first item selected.
void RunTracking(HWND hwnd, int current, bool open, bool keyboard) {
  if (t_tracking) return;
  Tracking tracking{hwnd};
  t_tracking = &tracking;
  ClearHot();
  SendMessage(hwnd, WM_ENTERMENULOOP, FALSE, 0);
  SendMessage(hwnd, WM_INITMENU,
              reinterpret_cast<WPARAM>(current == kSystem ? GetSystemMenu(hwnd, FALSE) : GetMenu(hwnd)), 0);
  Select(hwnd, current, !keyboard);
  UINT chosen = 0;
  bool chosenSystem = false;
  bool quit = false;
  WPARAM quitCode = 0;
  bool captured = false;
  while (!tracking.done && IsWindow(hwnd)) {
    if (open && HasPopup(hwnd, current)) {
      if (captured) {
        ReleaseCapture();
        captured = false;
      }
      Link link(hwnd);
      link.current = current;
      link.sysMenu = current == kSystem;
      HMENU popup = current == kSystem ? GetSystemMenu(hwnd, FALSE) : GetSubMenu(GetMenu(hwnd), current);
      const UINT command = TrackBarPopup(popup, hwnd, ItemScreenRect(hwnd, current), keyboard, link);
      switch (link.exit) {
        case BarExit::kChosen:
          chosen = command;
          chosenSystem = link.sysMenu;
          tracking.done = true;
          break;
        case BarExit::kEscape:
          open = false;
          keyboard = true;
          break;
        case BarExit::kLeft:
        case BarExit::kRight:
          current = Neighbour(hwnd, current, link.exit == BarExit::kLeft ? -1 : 1);
          keyboard = true;
          Select(hwnd, current, false);
          break;
        case BarExit::kSwitch:
          current = link.target;
          keyboard = false;
          Select(hwnd, current, true);
          break;
        default:
          tracking.done = true;
          break;
      }
      continue;
    }
    open = false;
    // An item selected without its popup: keys move along the bar, a click opens or leaves.
    if (!captured) {
      SetCapture(hwnd);
      captured = true;
    }
    MSG msg;
    if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (GetMessage(&msg, nullptr, 0, 0) <= 0) {
        quit = true;
        quitCode = msg.wParam;
        break;
      }
    }
    if (msg.message == WM_QUIT) {
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    const UINT m = msg.message;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
      switch (msg.wParam) {
        case VK_LEFT:
        case VK_RIGHT:
          current = Neighbour(hwnd, current, msg.wParam == VK_LEFT ? -1 : 1);
          Select(hwnd, current, false);
          break;
        case VK_DOWN:
        case VK_UP:
        case VK_RETURN:
          if (HasPopup(hwnd, current)) {
            open = true;
            keyboard = true;
          } else if (msg.wParam == VK_RETURN && (chosen = CommandOf(hwnd, current)) != 0) {
            tracking.done = true;
          }
          break;
        case VK_ESCAPE:
        case VK_MENU:
        case VK_F10:
          tracking.done = true;
          break;
        default:
          TranslateMessage(&msg);
          break;
      }
      continue;
    }
    if (m == WM_CHAR || m == WM_SYSCHAR) {
      int index;
      bool execute;
      if (ItemOfMnemonic(hwnd, static_cast<int>(msg.wParam), &index, &execute)) {
        current = index;
        Select(hwnd, current, false);
        if (execute && HasPopup(hwnd, current)) {
          open = true;
          keyboard = true;
        } else if (execute && (chosen = CommandOf(hwnd, current)) != 0) {
          tracking.done = true;
        }
      }
      continue;
    }
    if (m == WM_KEYUP || m == WM_SYSKEYUP) continue;
    const bool client = m >= WM_MOUSEMOVE && m <= WM_MBUTTONDBLCLK;
    const bool nonClient = m >= WM_NCMOUSEMOVE && m <= 0x00A9;
    if (client || nonClient) {
      POINT pt{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
      if (client) ClientToScreen(msg.hwnd, &pt);
      const UINT base = client ? m : m - WM_NCMOUSEMOVE + WM_MOUSEMOVE;
      if (base == WM_LBUTTONDOWN || base == WM_RBUTTONDOWN || base == WM_MBUTTONDOWN || base == WM_LBUTTONDBLCLK) {
        const int index = ItemAtScreenPoint(hwnd, pt);
        if (index >= 0) {
          current = index;
          Select(hwnd, current, true);
          open = true;
          keyboard = false;
          if (!HasPopup(hwnd, current)) {
            chosen = CommandOf(hwnd, current);
            tracking.done = true;
          }
        } else {
          tracking.done = true;
        }
      }
      continue;
    }
    DispatchMessage(&msg);
  }
  if (captured) ReleaseCapture();
  if (IsWindow(hwnd)) {
    Select(hwnd, -1, false);
    SendMessage(hwnd, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    SendMessage(hwnd, WM_EXITMENULOOP, FALSE, 0);
  }
  t_tracking = nullptr;
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  if (chosen && IsWindow(hwnd)) PostMessage(hwnd, chosenSystem ? WM_SYSCOMMAND : WM_COMMAND, chosen, 0);
}

void TrackHot(HWND hwnd, POINT screen) {
  if (t_tracking) return;
  const int index = ItemAtScreenPoint(hwnd, screen);
  if (t_hotWindow && t_hotWindow != hwnd) ClearHot();
  SetHot(hwnd, index >= 0 ? index : -1);
  if (index < 0) {
    ClearHot();
    return;
  }
  t_hotWindow = hwnd;
  if (!t_hotTimer) t_hotTimer = SetTimer(nullptr, 0, 100, HotTimer);
}

// Alt, F10 or Alt+key (SC_KEYMENU) on a window.
void KeyMenu(HWND hwnd, int ch) {
  BarState state;
  const bool hasBar = Find(hwnd, &state) && !state.items.empty();
  const bool hasSystem = (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_SYSMENU) != 0;
  if (ch == ' ') {
    if (hasSystem) RunTracking(hwnd, kSystem, true, true);
    return;
  }
  if (ch) {
    int index;
    bool open;
    if (hasBar && ItemOfMnemonic(hwnd, ch, &index, &open)) RunTracking(hwnd, index, open, true);
    return;
  }
  if (hasBar) {
    std::vector<int> stops = Stops(hwnd, state);
    auto first = std::find_if(stops.begin(), stops.end(), [](int s) { return s >= 0; });
    if (first != stops.end()) RunTracking(hwnd, *first, false, true);
  } else if (hasSystem) {
    RunTracking(hwnd, kSystem, false, true);
  }
}

thread_local bool t_altAlone = false;  // Alt went down and no other key since

}  // namespace

int LayoutBar(HWND hwnd, const RECT& client) {
  HMENU menu = BarMenu(hwnd);
  if (!menu) {
    std::lock_guard guard(g_lock);
    States().erase(hwnd);
    return 0;
  }
  std::vector<BarItem> items = Snapshot(menu);
  const int rowHeight = GetSystemMetrics(SM_CYMENU);
  HDC dc = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, BarFont());
  std::vector<int> widths;
  for (BarItem& item : items) {
    int width = 0;
    if (item.type & MF_OWNERDRAW) {
      MEASUREITEMSTRUCT measure{ODT_MENU, 0, item.id, 0, 0, item.data};
      SendMessage(hwnd, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
      width = static_cast<int>(measure.itemWidth) + 2 * kOwnerPadding;
    } else if (item.type & MF_SEPARATOR) {
      width = kStringPadding;
    } else {
      const std::string shown = Shown(item.text);
      SIZE size{0, 0};
      GetTextExtentPoint32(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
      width = size.cx + 2 * kStringPadding;
    }
    widths.push_back(width);
  }
  SelectObject(dc, oldFont);
  ReleaseDC(nullptr, dc);
  // Rows: an item that does not fit, or one that asks for a break, starts the next row; the items from a
  // right-justified one on go to the row's right end.
  int x = client.left, top = client.top, rows = 1;
  size_t rowStart = 0;
  int justified = -1;
  auto finishRow = [&](size_t end) {
    if (justified < 0 || end == 0) return;
    const int shift = client.right - items[end - 1].rect.right;
    if (shift > 0)
      for (size_t k = static_cast<size_t>(justified); k < end; ++k) OffsetRect(&items[k].rect, shift, 0);
  };
  for (size_t i = 0; i < items.size(); ++i) {
    const bool forced = i > rowStart && (items[i].type & (MF_MENUBARBREAK | MF_MENUBREAK));
    if (forced || (x + widths[i] > client.right && x > client.left)) {
      finishRow(i);
      justified = -1;
      rowStart = i;
      x = client.left;
      top += rowHeight;
      ++rows;
    }
    if ((items[i].type & MF_RIGHTJUSTIFY) && justified < 0) justified = static_cast<int>(i);
    items[i].rect = RECT{x, top, x + widths[i], top + rowHeight};
    x += widths[i];
  }
  finishRow(items.size());
  const int height = rows * rowHeight + 1;  // a line under the items
  std::lock_guard guard(g_lock);
  BarState& state = States()[hwnd];
  state.menu = menu;
  state.bar = RECT{client.left, client.top, client.right, client.top + height};
  state.items = std::move(items);
  if (state.hot >= static_cast<int>(state.items.size())) state.hot = -1;
  if (state.selected >= static_cast<int>(state.items.size())) state.selected = -1;
  return height;
}

void PaintBar(HWND hwnd, HDC dc) {
  BarState state;
  if (!dc || !Find(hwnd, &state)) return;
  FillRect(dc, &state.bar, Background(state.menu));
  const bool active = Active(hwnd);
  for (size_t i = 0; i < state.items.size(); ++i) PaintItem(hwnd, dc, state, i, active);
}

bool BarContains(HWND hwnd, POINT windowPoint) {
  std::lock_guard guard(g_lock);
  auto it = States().find(hwnd);
  return it != States().end() && PtInRect(&it->second.bar, windowPoint);
}

bool BarItemRect(HWND hwnd, HMENU menu, UINT item, RECT* rect) {
  BarState state;
  if (!Find(hwnd, &state) || state.menu != menu) return false;
  if (item >= state.items.size()) return false;
  *rect = state.items[item].rect;
  const POINT origin = WindowOrigin(hwnd);
  OffsetRect(rect, origin.x, origin.y);
  return true;
}

bool BarItemFromPoint(HWND hwnd, HMENU menu, POINT screen, int* index) {
  BarState state;
  if (!Find(hwnd, &state) || state.menu != menu) return false;
  const POINT origin = WindowOrigin(hwnd);
  *index = std::max(-1, ItemAtWindowPoint(state, POINT{screen.x - origin.x, screen.y - origin.y}));
  return true;
}

void ForgetBar(HWND hwnd) {
  std::lock_guard guard(g_lock);
  States().erase(hwnd);
}

void BarChanged(HWND hwnd) {
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

bool EndBarTracking() {
  if (!t_tracking) return false;
  t_tracking->done = true;
  return true;
}

bool BarDefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_NCMOUSEMOVE:
      if (wParam == HTMENU)
        TrackHot(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      else if (t_hotWindow == hwnd)
        ClearHot();
      return false;
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:  // a second click soon after the first is a click on the bar again
      if (wParam != HTMENU) return false;
      SendMessage(hwnd, WM_SYSCOMMAND, SC_MOUSEMENU | HTMENU, lParam);
      *result = 0;
      return true;
    case WM_KEYDOWN:
      t_altAlone = false;
      return false;
    case WM_SYSKEYDOWN:
      if (wParam == VK_MENU) {
        if (!(lParam & (1L << 30))) t_altAlone = true;
      } else {
        t_altAlone = false;
      }
      return false;
    case WM_SYSKEYUP:
      if ((wParam == VK_MENU && t_altAlone) || wParam == VK_F10) {
        t_altAlone = false;
        SendMessage(GetAncestor(hwnd, GA_ROOT), WM_SYSCOMMAND, SC_KEYMENU, 0);
        *result = 0;
        return true;
      }
      return false;
    case WM_SYSCHAR:
      t_altAlone = false;
      if (!(lParam & (1L << 29))) return false;  // Alt was not down
      SendMessage(GetAncestor(hwnd, GA_ROOT), WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(wParam & 0xFF));
      *result = 0;
      return true;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_KEYMENU:
          if (GetWindowLongPtr(hwnd, GWL_STYLE) & WS_CHILD) return false;
          KeyMenu(hwnd, static_cast<int>(lParam & 0xFF));
          *result = 0;
          return true;
        case SC_MOUSEMENU: {
          const int index = ItemAtScreenPoint(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
          if (index >= 0) {
            if (HasPopup(hwnd, index)) {
              RunTracking(hwnd, index, true, false);
            } else if (UINT command = CommandOf(hwnd, index)) {
              PostMessage(hwnd, WM_COMMAND, command, 0);
            }
          }
          *result = 0;
          return true;
        }
        default:
          return false;
      }
    default:
      return false;
  }
}

}  // namespace tavrin::win::menus
