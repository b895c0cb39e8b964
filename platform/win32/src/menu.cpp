// Menu objects, menu resources and the popup loop.
#include "win32/menu.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "menu_internal.h"
#include "win32/resources.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

struct Item {
  UINT type = 0;   // MFT_ bits
  UINT state = 0;  // MFS_ bits
  UINT id = 0;
  HMENU sub = nullptr;
  HBITMAP checked = nullptr, unchecked = nullptr, bitmap = nullptr;
  ULONG_PTR data = 0;
  std::string text;
  RECT rect{};  // in the popup window's client area while it is open
};

struct Menu {
  bool popup = false;
  std::vector<Item> items;
  DWORD style = 0;
  UINT cyMax = 0;
  HBRUSH background = nullptr;
  DWORD helpId = 0;
  ULONG_PTR data = 0;
  HWND window = nullptr;  // the popup window showing it
};

std::recursive_mutex g_lock;
std::map<HMENU, std::unique_ptr<Menu>>& Menus() {
  static auto* menus = new std::map<HMENU, std::unique_ptr<Menu>>;
  return *menus;
}
std::map<HWND, HMENU>& Bars() {
  static auto* bars = new std::map<HWND, HMENU>;
  return *bars;
}
std::map<HWND, HMENU>& SystemMenus() {
  static auto* menus = new std::map<HWND, HMENU>;
  return *menus;
}
uintptr_t g_nextHandle = 0x4000;
constexpr DWORD kErrorInvalidMenuHandle = 1401;

Menu* Find(HMENU menu) {
  auto it = Menus().find(menu);
  return it == Menus().end() ? nullptr : it->second.get();
}

HMENU NewMenu(bool popup) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  g_nextHandle += 4;
  HMENU handle = reinterpret_cast<HMENU>(g_nextHandle);
  auto menu = std::make_unique<Menu>();
  menu->popup = popup;
  Menus()[handle] = std::move(menu);
  return handle;
}

// The index of an item by position or by command (searching sub-menus: the menu holding it is returned).
Menu* Locate(HMENU handle, UINT item, UINT flags, size_t* index, HMENU* holder = nullptr) {
  Menu* menu = Find(handle);
  if (!menu) return nullptr;
  if (flags & MF_BYPOSITION) {
    if (item >= menu->items.size()) return nullptr;
    *index = item;
    if (holder) *holder = handle;
    return menu;
  }
  for (size_t i = 0; i < menu->items.size(); ++i) {
    const Item& it = menu->items[i];
    if (!it.sub && it.id == item) {
      *index = i;
      if (holder) *holder = handle;
      return menu;
    }
  }
  for (size_t i = 0; i < menu->items.size(); ++i) {
    if (!menu->items[i].sub) continue;
    if (Menu* found = Locate(menu->items[i].sub, item, flags, index, holder)) return found;
  }
  // A popup item is found by its menu handle too.
  for (size_t i = 0; i < menu->items.size(); ++i) {
    if (menu->items[i].sub && reinterpret_cast<UINT_PTR>(menu->items[i].sub) == item) {
      *index = i;
      if (holder) *holder = handle;
      return menu;
    }
  }
  return nullptr;
}

void FillItem(Item& item, UINT flags, UINT_PTR id, LPCSTR text) {
  item.type = flags & (MF_BITMAP | MF_OWNERDRAW | MF_SEPARATOR | MF_MENUBARBREAK | MF_MENUBREAK | MFT_RADIOCHECK |
                       MF_RIGHTJUSTIFY);
  item.state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT);
  if (flags & MF_POPUP) {
    item.sub = reinterpret_cast<HMENU>(id);
    item.id = static_cast<UINT>(id);
    if (Menu* sub = Find(item.sub)) sub->popup = true;
  } else {
    item.sub = nullptr;
    item.id = static_cast<UINT>(id);
  }
  item.text.clear();
  item.data = 0;
  item.bitmap = nullptr;
  if (item.type & MF_OWNERDRAW)
    item.data = reinterpret_cast<ULONG_PTR>(text);
  else if (item.type & MF_BITMAP)
    item.bitmap = reinterpret_cast<HBITMAP>(const_cast<char*>(text));
  else if (!(item.type & MF_SEPARATOR) && text)
    item.text = text;
}

bool ValidNewItem(UINT flags, UINT_PTR id) {
  if ((flags & MF_POPUP) && !Find(reinterpret_cast<HMENU>(id))) return false;
  return true;
}

void DestroyTree(HMENU handle) {
  auto it = Menus().find(handle);
  if (it == Menus().end()) return;
  std::unique_ptr<Menu> menu = std::move(it->second);
  Menus().erase(it);
  for (auto& item : menu->items)
    if (item.sub) DestroyTree(item.sub);
}

}  // namespace

HMENU CreateMenu() { return NewMenu(false); }
HMENU CreatePopupMenu() { return NewMenu(true); }

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (!Find(menu)) {
    SetLastError(kErrorInvalidMenuHandle);
    return FALSE;
  }
  DestroyTree(menu);
  for (auto* map : {&Bars(), &SystemMenus()})
    for (auto it = map->begin(); it != map->end();) it = it->second == menu ? map->erase(it) : std::next(it);
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return Find(menu) != nullptr;
}

namespace {

// One level of a menu template; false when the bytes end before the level does.
bool ParseLevel(const BYTE*& p, const BYTE* end, HMENU menu, int depth) {
  if (depth > 16) return false;
  for (;;) {
    if (end - p < 2) return false;
    WORD option;
    std::memcpy(&option, p, 2);
    p += 2;
    WORD id = 0;
    if (!(option & MF_POPUP)) {
      if (end - p < 2) return false;
      std::memcpy(&id, p, 2);
      p += 2;
    }
    std::string text;
    for (;;) {
      if (end - p < 2) return false;
      WORD ch;
      std::memcpy(&ch, p, 2);
      p += 2;
      if (!ch) break;
      text += ch < 0x80 ? static_cast<char>(ch) : '?';
    }
    const UINT flags = option & ~(MF_END | MF_POPUP);
    if (option & MF_POPUP) {
      HMENU sub = CreatePopupMenu();
      if (!ParseLevel(p, end, sub, depth + 1) || !AppendMenu(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub),
                                                              text.c_str())) {
        DestroyMenu(sub);
        return false;
      }
    } else {
      const UINT kind = (id == 0 && text.empty() && !(flags & (MF_GRAYED | MF_DISABLED))) ? MF_SEPARATOR : 0;
      AppendMenu(menu, flags | kind, id, kind ? nullptr : text.c_str());
    }
    if (option & MF_END) return true;
  }
}

}  // namespace

HMENU LoadMenuIndirectSized(const void* bytes, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(bytes);
  if (!p || size < 4) return nullptr;
  WORD version, offset;
  std::memcpy(&version, p, 2);
  std::memcpy(&offset, p + 2, 2);
  if (version != 0 || size < 4u + offset) return nullptr;  // the extended layout is not read
  const BYTE* cursor = p + 4 + offset;
  HMENU menu = CreateMenu();
  if (!ParseLevel(cursor, p + size, menu, 0)) {
    DestroyMenu(menu);
    return nullptr;
  }
  return menu;
}

HMENU LoadMenuIndirect(const void* bytes) { return LoadMenuIndirectSized(bytes, 0x10000); }

HMENU LoadMenu(HINSTANCE instance, LPCSTR name) {
  HRSRC resource = FindResource(instance, name, RT_MENU);
  if (!resource) return nullptr;
  HGLOBAL data = LoadResource(instance, resource);
  return LoadMenuIndirectSized(LockResource(data), SizeofResource(instance, resource));
}

BOOL InsertMenu(HMENU handle, UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || !ValidNewItem(flags, id)) return FALSE;
  size_t index = menu->items.size();
  if (flags & MF_BYPOSITION) {
    if (position < menu->items.size()) index = position;
  } else if (position != 0xFFFFFFFF) {
    HMENU holder = nullptr;
    Menu* at = Locate(handle, position, flags, &index, &holder);
    if (!at) return FALSE;
    menu = at;
  }
  Item item;
  FillItem(item, flags, id, text);
  menu->items.insert(menu->items.begin() + static_cast<ptrdiff_t>(index), item);
  return TRUE;
}

BOOL AppendMenu(HMENU handle, UINT flags, UINT_PTR id, LPCSTR text) {
  return InsertMenu(handle, 0xFFFFFFFF, (flags | MF_BYPOSITION), id, text);
}

BOOL ModifyMenu(HMENU handle, UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu || !ValidNewItem(flags, id)) return FALSE;
  Item& item = menu->items[index];
  const HMENU oldSub = item.sub;
  FillItem(item, flags, id, text);
  if (oldSub && oldSub != item.sub) DestroyTree(oldSub);
  return TRUE;
}

BOOL RemoveMenu(HMENU handle, UINT position, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu) return FALSE;
  menu->items.erase(menu->items.begin() + static_cast<ptrdiff_t>(index));
  return TRUE;
}

BOOL DeleteMenu(HMENU handle, UINT position, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu) return FALSE;
  HMENU sub = menu->items[index].sub;
  menu->items.erase(menu->items.begin() + static_cast<ptrdiff_t>(index));
  if (sub) DestroyTree(sub);
  return TRUE;
}

int GetMenuItemCount(HMENU handle) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  return menu ? static_cast<int>(menu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU handle, int position) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || position < 0 || static_cast<size_t>(position) >= menu->items.size()) return 0xFFFFFFFF;
  const Item& item = menu->items[static_cast<size_t>(position)];
  return item.sub ? 0xFFFFFFFF : item.id;
}

UINT GetMenuState(HMENU handle, UINT position, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu) return 0xFFFFFFFF;
  const Item& item = menu->items[index];
  UINT state = item.type | item.state;
  if (item.sub) {
    Menu* sub = Find(item.sub);
    state = (state & 0xFF) | MF_POPUP | ((sub ? static_cast<UINT>(sub->items.size()) : 0) << 8);
  }
  return state;
}

int GetMenuString(HMENU handle, UINT position, LPSTR buffer, int size, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu) return 0;
  const std::string& text = menu->items[index].text;
  if (!buffer || size <= 0) return static_cast<int>(text.size());
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

HMENU GetSubMenu(HMENU handle, int position) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || position < 0 || static_cast<size_t>(position) >= menu->items.size()) return nullptr;
  return menu->items[static_cast<size_t>(position)].sub;
}

DWORD CheckMenuItem(HMENU handle, UINT position, UINT check) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, check, &index);
  if (!menu) return 0xFFFFFFFF;
  Item& item = menu->items[index];
  const DWORD previous = item.state & MF_CHECKED;
  item.state = (item.state & ~MF_CHECKED) | (check & MF_CHECKED);
  return previous;
}

BOOL EnableMenuItem(HMENU handle, UINT position, UINT enable) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, enable, &index);
  if (!menu) return -1;
  Item& item = menu->items[index];
  const BOOL previous = static_cast<BOOL>(item.state & (MF_GRAYED | MF_DISABLED));
  item.state = (item.state & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return previous;
}

BOOL CheckMenuRadioItem(HMENU handle, UINT first, UINT last, UINT check, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu) return FALSE;
  bool found = false;
  for (size_t i = 0; i < menu->items.size(); ++i) {
    Item& item = menu->items[i];
    const UINT key = (flags & MF_BYPOSITION) ? static_cast<UINT>(i) : item.id;
    if (key < first || key > last || item.sub) continue;
    if (key == check) {
      item.state |= MF_CHECKED;
      item.type |= MFT_RADIOCHECK;
      found = true;
    } else {
      item.state &= ~MF_CHECKED;
    }
  }
  return found;
}

BOOL HiliteMenuItem(HWND, HMENU handle, UINT position, UINT hilite) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, hilite, &index);
  if (!menu) return FALSE;
  Item& item = menu->items[index];
  item.state = (item.state & ~MF_HILITE) | (hilite & MF_HILITE);
  return TRUE;
}

BOOL SetMenuDefaultItem(HMENU handle, UINT position, UINT byPosition) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu) return FALSE;
  size_t index = SIZE_MAX;
  if (position != 0xFFFFFFFF && !Locate(handle, position, byPosition ? MF_BYPOSITION : 0, &index)) return FALSE;
  for (size_t i = 0; i < menu->items.size(); ++i)
    menu->items[i].state = (menu->items[i].state & ~MF_DEFAULT) | (i == index ? MF_DEFAULT : 0);
  return TRUE;
}

UINT GetMenuDefaultItem(HMENU handle, UINT byPosition, UINT) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu) return 0xFFFFFFFF;
  for (size_t i = 0; i < menu->items.size(); ++i)
    if (menu->items[i].state & MF_DEFAULT) return byPosition ? static_cast<UINT>(i) : menu->items[i].id;
  return 0xFFFFFFFF;
}

BOOL SetMenuItemBitmaps(HMENU handle, UINT position, UINT flags, HBITMAP unchecked, HBITMAP checked) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = Locate(handle, position, flags, &index);
  if (!menu) return FALSE;
  menu->items[index].unchecked = unchecked;
  menu->items[index].checked = checked;
  return TRUE;
}

BOOL GetMenuItemInfo(HMENU handle, UINT position, BOOL byPosition, LPMENUITEMINFO info) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = info ? Locate(handle, position, byPosition ? MF_BYPOSITION : 0, &index) : nullptr;
  if (!menu) return FALSE;
  const Item& item = menu->items[index];
  if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = item.type;
  if (info->fMask & MIIM_STATE) info->fState = item.state;
  if (info->fMask & MIIM_ID) info->wID = item.id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = item.sub;
  if (info->fMask & MIIM_CHECKMARKS) {
    info->hbmpChecked = item.checked;
    info->hbmpUnchecked = item.unchecked;
  }
  if (info->fMask & MIIM_DATA) info->dwItemData = item.data;
  if (info->fMask & MIIM_BITMAP) info->hbmpItem = item.bitmap;
  if (info->fMask & (MIIM_STRING | MIIM_TYPE)) {
    if (info->dwTypeData && info->cch > 0) {
      const size_t n = std::min<size_t>(item.text.size(), info->cch - 1);
      std::memcpy(info->dwTypeData, item.text.data(), n);
      info->dwTypeData[n] = 0;
      info->cch = static_cast<UINT>(n);
    } else {
      info->cch = static_cast<UINT>(item.text.size());
    }
  }
  return TRUE;
}

namespace {

void ApplyInfo(Item& item, LPCMENUITEMINFO info) {
  if (info->fMask & MIIM_FTYPE) item.type = info->fType;
  if (info->fMask & MIIM_TYPE) {
    item.type = info->fType;
    if (!(info->fType & (MFT_OWNERDRAW | MFT_SEPARATOR | MFT_BITMAP)))
      item.text = info->dwTypeData ? info->dwTypeData : "";
  }
  if (info->fMask & MIIM_STATE) item.state = info->fState;
  if (info->fMask & MIIM_ID) item.id = info->wID;
  if (info->fMask & MIIM_SUBMENU) item.sub = info->hSubMenu;
  if (info->fMask & MIIM_CHECKMARKS) {
    item.checked = info->hbmpChecked;
    item.unchecked = info->hbmpUnchecked;
  }
  if (info->fMask & MIIM_DATA) item.data = info->dwItemData;
  if (info->fMask & MIIM_BITMAP) item.bitmap = info->hbmpItem;
  if (info->fMask & MIIM_STRING) item.text = info->dwTypeData ? info->dwTypeData : "";
}

}  // namespace

BOOL SetMenuItemInfo(HMENU handle, UINT position, BOOL byPosition, LPCMENUITEMINFO info) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  size_t index;
  Menu* menu = info ? Locate(handle, position, byPosition ? MF_BYPOSITION : 0, &index) : nullptr;
  if (!menu) return FALSE;
  if ((info->fMask & MIIM_SUBMENU) && info->hSubMenu && !Find(info->hSubMenu)) return FALSE;
  ApplyInfo(menu->items[index], info);
  return TRUE;
}

BOOL InsertMenuItem(HMENU handle, UINT position, BOOL byPosition, LPCMENUITEMINFO info) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || !info) return FALSE;
  if ((info->fMask & MIIM_SUBMENU) && info->hSubMenu && !Find(info->hSubMenu)) return FALSE;
  size_t index = menu->items.size();
  if (byPosition) {
    if (position < menu->items.size()) index = position;
  } else if (Menu* at = Locate(handle, position, 0, &index)) {
    menu = at;
  }
  Item item;
  ApplyInfo(item, info);
  menu->items.insert(menu->items.begin() + static_cast<ptrdiff_t>(index), item);
  return TRUE;
}

BOOL GetMenuInfo(HMENU handle, LPMENUINFO info) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || !info) return FALSE;
  if (info->fMask & MIM_STYLE) info->dwStyle = menu->style;
  if (info->fMask & MIM_MAXHEIGHT) info->cyMax = menu->cyMax;
  if (info->fMask & MIM_BACKGROUND) info->hbrBack = menu->background;
  if (info->fMask & MIM_HELPID) info->dwContextHelpID = menu->helpId;
  if (info->fMask & MIM_MENUDATA) info->dwMenuData = menu->data;
  return TRUE;
}

BOOL SetMenuInfo(HMENU handle, LPCMENUINFO info) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu || !info) return FALSE;
  if (info->fMask & MIM_STYLE) menu->style = info->dwStyle;
  if (info->fMask & MIM_MAXHEIGHT) menu->cyMax = info->cyMax;
  if (info->fMask & MIM_BACKGROUND) menu->background = info->hbrBack;
  if (info->fMask & MIM_HELPID) menu->helpId = info->dwContextHelpID;
  if (info->fMask & MIM_MENUDATA) menu->data = info->dwMenuData;
  if (info->fMask & MIM_APPLYTOSUBMENUS)
    for (auto& item : menu->items)
      if (item.sub) SetMenuInfo(item.sub, info);
  return TRUE;
}

HMENU GetMenu(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  auto it = Bars().find(hwnd);
  return it == Bars().end() ? nullptr : it->second;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
  if (!IsWindow(hwnd)) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    if (menu && !Find(menu)) return FALSE;
    if (menu)
      Bars()[hwnd] = menu;
    else
      Bars().erase(hwnd);
  }
  tavrin::win::menus::BarChanged(hwnd);
  return TRUE;
}

BOOL DrawMenuBar(HWND hwnd) {
  if (!IsWindow(hwnd)) return FALSE;
  tavrin::win::menus::BarChanged(hwnd);
  return TRUE;
}

namespace tavrin::win::menus {

void AttachBarAtCreation(HWND hwnd, HMENU menu) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (Find(menu)) Bars()[hwnd] = menu;
}

void ForgetWindowMenus(HWND hwnd) {
  ForgetBar(hwnd);
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  for (auto* map : {&Bars(), &SystemMenus()}) {
    auto it = map->find(hwnd);
    if (it == map->end()) continue;
    const HMENU menu = it->second;
    map->erase(it);
    DestroyTree(menu);  // a window's menus go with it
  }
}

int MnemonicOf(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::tolower(static_cast<unsigned char>(text[i + 1]));
  }
  return -1;
}

}  // namespace tavrin::win::menus

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
  if (!IsWindow(hwnd)) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  auto it = SystemMenus().find(hwnd);
  if (revert) {
    if (it != SystemMenus().end()) {
      DestroyTree(it->second);
      SystemMenus().erase(it);
    }
    return nullptr;
  }
  if (it != SystemMenus().end() && Find(it->second)) return it->second;
  HMENU menu = CreatePopupMenu();
  AppendMenu(menu, MF_STRING, SC_RESTORE, "&Restore");
  AppendMenu(menu, MF_STRING, SC_MOVE, "&Move");
  AppendMenu(menu, MF_STRING, SC_SIZE, "&Size");
  AppendMenu(menu, MF_STRING, SC_MINIMIZE, "Mi&nimize");
  AppendMenu(menu, MF_STRING, SC_MAXIMIZE, "Ma&ximize");
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING | MF_DEFAULT, SC_CLOSE, "&Close\tAlt+F4");
  SystemMenus()[hwnd] = menu;
  return menu;
}

LONG GetMenuCheckMarkDimensions() {
  return MAKELPARAM(GetSystemMetrics(SM_CXMENUCHECK), GetSystemMetrics(SM_CYMENUCHECK));
}

namespace tavrin::win {
size_t LiveMenuCount() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return Menus().size();
}
}  // namespace tavrin::win

// The popup loop.
namespace {

bool Snapshot(HMENU handle, std::vector<Item>* items, HBRUSH* background) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  Menu* menu = Find(handle);
  if (!menu) return false;
  *items = menu->items;
  *background = menu->background;
  return true;
}

void SetWindow(HMENU handle, HWND hwnd) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (Menu* menu = Find(handle)) menu->window = hwnd;
}

struct Level {
  HMENU menu = nullptr;
  HWND hwnd = nullptr;
  std::vector<Item> items;
  HBRUSH background = nullptr;
  int selected = -1;
};

struct Tracker {
  HWND owner = nullptr;
  UINT flags = 0;
  bool notify = true;
  std::vector<Level> levels;
  bool done = false;
  UINT chosen = 0;
  tavrin::win::menus::BarLink* bar = nullptr;  // set when the popup was opened from a menu bar
};

thread_local Tracker* t_tracker = nullptr;

HFONT MenuFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

bool Selectable(const Item& item) { return !(item.type & MF_SEPARATOR); }
bool Enabled(const Item& item) { return !(item.state & (MF_GRAYED | MF_DISABLED)); }

UINT DrawState(const Item& item, bool selected) {
  UINT state = 0;
  if (selected) state |= ODS_SELECTED;
  if (item.state & MF_GRAYED) state |= ODS_GRAYED;
  if (item.state & MF_DISABLED) state |= ODS_DISABLED;
  if (item.state & MF_CHECKED) state |= ODS_CHECKED;
  if (item.state & MF_DEFAULT) state |= ODS_DEFAULT;
  return state;
}

LRESULT Notify(Tracker& tracker, UINT message, WPARAM wParam, LPARAM lParam) {
  return IsWindow(tracker.owner) ? SendMessage(tracker.owner, message, wParam, lParam) : 0;
}

// Sizes every item and lays them out one under the other; returns the client size.
SIZE Layout(Tracker& tracker, Level& level) {
  HDC dc = CreateCompatibleDC(nullptr);  // text metrics only: the screen need not be composed
  HGDIOBJ oldFont = SelectObject(dc, MenuFont());
  const int check = GetSystemMetrics(SM_CXMENUCHECK);
  int width = 0, y = 0;
  std::vector<SIZE> sizes;
  for (Item& item : level.items) {
    SIZE size{0, 0};
    if (item.type & MF_OWNERDRAW) {
      MEASUREITEMSTRUCT measure{ODT_MENU, 0, item.id, 0, 0, item.data};
      Notify(tracker, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
      // As for every popup item, room for a check mark is added to what the owner asks for.
      size = {static_cast<LONG>(measure.itemWidth) + check - 1, static_cast<LONG>(measure.itemHeight)};
    } else if (item.type & MF_SEPARATOR) {
      size = {0, 8};
    } else {
      std::string shown;
      for (char c : item.text)
        if (c != '&') shown += c;
      SIZE text{0, 0};
      GetTextExtentPoint32(dc, shown.c_str(), static_cast<int>(shown.size()), &text);
      size = {text.cx + 2 * check + 24, std::max<LONG>(text.cy + 6, GetSystemMetrics(SM_CYMENU))};
    }
    item.rect = {0, y, 0, y + size.cy};
    y += size.cy;
    width = std::max<int>(width, size.cx);
  }
  for (Item& item : level.items) item.rect.right = width;
  SelectObject(dc, oldFont);
  DeleteDC(dc);
  return {width, y};
}

void PaintLevel(Tracker& tracker, Level& level, HDC dc) {
  RECT client;
  GetClientRect(level.hwnd, &client);
  HGDIOBJ oldFont = SelectObject(dc, MenuFont());
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < level.items.size(); ++i) {
    const Item& item = level.items[i];
    const bool selected = static_cast<int>(i) == level.selected;
    RECT rect = item.rect;
    if (item.type & MF_OWNERDRAW) {
      DRAWITEMSTRUCT draw{ODT_MENU, 0, item.id, ODA_DRAWENTIRE, DrawState(item, selected),
                          reinterpret_cast<HWND>(level.menu), dc, rect, item.data};
      Notify(tracker, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
      continue;
    }
    if (item.type & MF_SEPARATOR) {
      RECT line{rect.left + 1, (rect.top + rect.bottom) / 2 - 1, rect.right - 1, (rect.top + rect.bottom) / 2 + 1};
      DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
      continue;
    }
    FillRect(dc, &rect, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
    SetTextColor(dc, GetSysColor(!Enabled(item) ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    const int check = GetSystemMetrics(SM_CXMENUCHECK);
    RECT text = rect;
    text.left += check + 4;
    text.right -= check;
    const size_t tab = item.text.find('\t');
    const std::string left = item.text.substr(0, tab);
    DrawText(dc, left.c_str(), static_cast<int>(left.size()), &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    if (tab != std::string::npos) {
      const std::string right = item.text.substr(tab + 1);
      DrawText(dc, right.c_str(), static_cast<int>(right.size()), &text, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
    }
    if (item.state & MF_CHECKED) {
      RECT mark{rect.left + 4, rect.top + (rect.bottom - rect.top) / 2 - 2, rect.left + 8,
                rect.top + (rect.bottom - rect.top) / 2 + 2};
      FillRect(dc, &mark, GetSysColorBrush(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    }
  }
  SelectObject(dc, oldFont);
}

Level* LevelOf(HWND hwnd) {
  if (!t_tracker) return nullptr;
  for (Level& level : t_tracker->levels)
    if (level.hwnd == hwnd) return &level;
  return nullptr;
}

LRESULT CALLBACK PopupProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEACTIVATE:
      return 3;  // MA_NOACTIVATE
    case WM_ERASEBKGND: {
      Level* level = LevelOf(hwnd);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client,
               level && level->background ? level->background : GetSysColorBrush(COLOR_MENU));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      if (Level* level = LevelOf(hwnd)) PaintLevel(*t_tracker, *level, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    default:
      return DefWindowProc(hwnd, message, wParam, lParam);
  }
}

void RegisterPopupClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.style = CS_SAVEBITS | CS_DBLCLKS;
    wc.lpfnWndProc = PopupProc;
    wc.lpszClassName = kPopupMenuClass;
    RegisterClass(&wc);
  });
}

constexpr DWORD kPopupExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;

// Keeps a w x h popup at (x, y) on the screen; with an exclude rectangle it moves past the rectangle rather
// than over it: sideways by default, up or down with TPM_VERTICAL.
void PlacePopup(int& x, int& y, int w, int h, UINT flags, const RECT* exclude) {
  const RECT screen = tavrin::win::ScreenRect();
  const bool vertical = (flags & TPM_VERTICAL) != 0;
  if (x + w > screen.right) x = exclude && !vertical ? exclude->left - w : screen.right - w;
  if (y + h > screen.bottom) {
    y = screen.bottom - h;
    // Below the rectangle does not fit: above it.
    if (exclude && vertical && y < exclude->bottom && y + h > exclude->top) y = exclude->top - h;
  }
  if (exclude && vertical && y < screen.top) {
    // Not above either: below it again, as far as the screen lets it.
    y = std::min<int>(exclude->bottom, screen.bottom - h);
  }
  x = std::max<int>(x, screen.left);
  y = std::max<int>(y, screen.top);
}

bool OpenLevel(Tracker& tracker, HMENU menu, int x, int y, UINT flags, const RECT* exclude) {
  Level level;
  level.menu = menu;
  if (!Snapshot(menu, &level.items, &level.background)) return false;
  const SIZE size = Layout(tracker, level);
  RECT frame{0, 0, std::max<LONG>(size.cx, 1), std::max<LONG>(size.cy, 1)};
  AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, kPopupExStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  if (flags & TPM_RIGHTALIGN) x -= w;
  else if (flags & TPM_CENTERALIGN) x -= w / 2;
  if (flags & TPM_BOTTOMALIGN) y -= h;
  else if (flags & TPM_VCENTERALIGN) y -= h / 2;
  PlacePopup(x, y, w, h, flags, exclude);
  RegisterPopupClass();
  tracker.levels.push_back(std::move(level));
  HWND hwnd = CreateWindowEx(kPopupExStyle, kPopupMenuClass, "", WS_POPUP | WS_BORDER, x, y, w, h, tracker.owner,
                             nullptr, nullptr, nullptr);
  if (!hwnd) {
    tracker.levels.pop_back();
    return false;
  }
  tracker.levels.back().hwnd = hwnd;
  SetWindow(menu, hwnd);
  // Placed once more before it shows, so that a window that changed its frame at creation gets it computed.
  SetWindowPos(hwnd, HWND_TOPMOST, x, y, w, h, SWP_NOACTIVATE);
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  return true;
}

void CloseLevelsFrom(Tracker& tracker, size_t first) {
  while (tracker.levels.size() > first) {
    Level& level = tracker.levels.back();
    SetWindow(level.menu, nullptr);
    if (tracker.notify) Notify(tracker, WM_UNINITMENUPOPUP, reinterpret_cast<WPARAM>(level.menu), 0);
    HWND hwnd = level.hwnd;
    tracker.levels.pop_back();
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
  }
  if (!tracker.levels.empty() && IsWindow(tracker.levels.back().hwnd)) SetCapture(tracker.levels.back().hwnd);
}

void Select(Tracker& tracker, size_t depth, int index, bool mouse) {
  Level& level = tracker.levels[depth];
  if (level.selected == index) return;
  level.selected = index;
  InvalidateRect(level.hwnd, nullptr, TRUE);
  if (index < 0 || !tracker.notify) return;
  const Item& item = level.items[static_cast<size_t>(index)];
  const UINT flags = (item.type | item.state | MF_HILITE | (item.sub ? MF_POPUP : 0) | (mouse ? MF_MOUSESELECT : 0)) &
                     0xFFFF;
  Notify(tracker, WM_MENUSELECT, MAKEWPARAM(item.sub ? index : static_cast<int>(item.id), static_cast<int>(flags)),
         reinterpret_cast<LPARAM>(level.menu));
}

// Opens the popup of the selected item of a level (closing anything deeper first).
void OpenSelected(Tracker& tracker, size_t depth, bool selectFirst) {
  Level& level = tracker.levels[depth];
  if (level.selected < 0) return;
  const Item item = level.items[static_cast<size_t>(level.selected)];
  if (!item.sub || !Enabled(item)) return;
  if (tracker.levels.size() > depth + 1 && tracker.levels[depth + 1].menu == item.sub) return;
  CloseLevelsFrom(tracker, depth + 1);
  if (tracker.notify)
    Notify(tracker, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(item.sub), MAKELPARAM(level.selected, FALSE));
  RECT rect = item.rect;
  MapWindowPoints(tracker.levels[depth].hwnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  if (!OpenLevel(tracker, item.sub, rect.right, rect.top, 0, &rect)) return;
  SetCapture(tracker.levels.back().hwnd);
  if (selectFirst) {
    Level& sub = tracker.levels.back();
    for (size_t i = 0; i < sub.items.size(); ++i)
      if (Selectable(sub.items[i])) {
        Select(tracker, tracker.levels.size() - 1, static_cast<int>(i), false);
        break;
      }
  }
}

void Execute(Tracker& tracker, size_t depth, int index) {
  Level& level = tracker.levels[depth];
  if (index < 0 || static_cast<size_t>(index) >= level.items.size()) return;
  const Item& item = level.items[static_cast<size_t>(index)];
  if (!Selectable(item) || !Enabled(item)) return;
  Select(tracker, depth, index, false);
  if (item.sub) {
    OpenSelected(tracker, depth, true);
    return;
  }
  tracker.chosen = item.id;
  tracker.done = true;
}

// The level and item under a screen point; false when it is outside every popup.
bool HitTest(Tracker& tracker, POINT pt, size_t* depth, int* index) {
  for (size_t d = tracker.levels.size(); d-- > 0;) {
    Level& level = tracker.levels[d];
    RECT window;
    if (!GetWindowRect(level.hwnd, &window) || !PtInRect(&window, pt)) continue;
    *depth = d;
    *index = -1;
    POINT client = pt;
    ScreenToClient(level.hwnd, &client);
    for (size_t i = 0; i < level.items.size(); ++i)
      if (PtInRect(&level.items[i].rect, client)) *index = static_cast<int>(i);
    return true;
  }
  return false;
}

void MenuChar(Tracker& tracker, int ch) {
  const size_t depth = tracker.levels.size() - 1;
  Level& level = tracker.levels[depth];
  std::vector<int> matches;
  const int key = std::tolower(ch);
  for (size_t i = 0; i < level.items.size(); ++i)
    if (!(level.items[i].type & MF_OWNERDRAW) && tavrin::win::menus::MnemonicOf(level.items[i].text) == key)
      matches.push_back(static_cast<int>(i));
  if (matches.size() == 1) {
    Execute(tracker, depth, matches[0]);
    return;
  }
  if (!matches.empty()) {
    auto next = std::upper_bound(matches.begin(), matches.end(), level.selected);
    Select(tracker, depth, next == matches.end() ? matches[0] : *next, false);
    return;
  }
  const LRESULT answer = Notify(tracker, WM_MENUCHAR, MAKEWPARAM(ch & 0xFF, MF_POPUP),
                                reinterpret_cast<LPARAM>(level.menu));
  const int item = LOWORD(static_cast<uintptr_t>(answer));
  switch (HIWORD(static_cast<uintptr_t>(answer))) {
    case MNC_EXECUTE:
      Execute(tracker, depth, item);
      break;
    case MNC_SELECT:
      if (static_cast<size_t>(item) < level.items.size()) Select(tracker, depth, item, false);
      break;
    case MNC_CLOSE:
      tracker.done = true;
      break;
    default:
      break;
  }
}

void MoveSelection(Tracker& tracker, int step) {
  const size_t depth = tracker.levels.size() - 1;
  Level& level = tracker.levels[depth];
  const int count = static_cast<int>(level.items.size());
  int index = level.selected;
  for (int n = 0; n < count; ++n) {
    index = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
    if (Selectable(level.items[static_cast<size_t>(index)])) {
      Select(tracker, depth, index, false);
      return;
    }
  }
}

// True when the message was the menu's input.
bool HandleInput(Tracker& tracker, const MSG& msg) {
  const UINT m = msg.message;
  const bool client = m >= WM_MOUSEMOVE && m <= WM_MBUTTONDBLCLK;
  const bool nonClient = m >= WM_NCMOUSEMOVE && m <= 0x00A9;
  if (client || nonClient) {
    POINT pt{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
    if (client) ClientToScreen(msg.hwnd, &pt);
    const UINT base = client ? m : m - WM_NCMOUSEMOVE + WM_MOUSEMOVE;
    size_t depth;
    int index;
    const bool inside = HitTest(tracker, pt, &depth, &index);
    const bool down = base == WM_LBUTTONDOWN || base == WM_RBUTTONDOWN || base == WM_MBUTTONDOWN ||
                      base == WM_LBUTTONDBLCLK || base == WM_RBUTTONDBLCLK;
    const bool up = base == WM_LBUTTONUP || (base == WM_RBUTTONUP && (tracker.flags & TPM_RIGHTBUTTON));
    if (!inside) {
      using tavrin::win::menus::BarExit;
      if (tracker.bar) {
        const int item = tracker.bar->ItemAt(pt);
        if (item >= 0 && item != tracker.bar->current && (base == WM_MOUSEMOVE || down)) {
          tracker.bar->exit = BarExit::kSwitch;
          tracker.bar->target = item;
          tracker.done = true;
        } else if (item != -2 && down) {
          tracker.done = true;  // the open item's entry again, or the bar beside the items
        }
        if (item != -2) return true;
      }
      if (down) tracker.done = true;
      return true;
    }
    if (index >= 0 && Selectable(tracker.levels[depth].items[static_cast<size_t>(index)])) {
      if (tracker.levels.size() > depth + 1 &&
          tracker.levels[depth + 1].menu != tracker.levels[depth].items[static_cast<size_t>(index)].sub)
        CloseLevelsFrom(tracker, depth + 1);
      Select(tracker, depth, index, true);
      OpenSelected(tracker, depth, false);
      if (up) Execute(tracker, depth, index);
    }
    return true;
  }
  if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
    switch (msg.wParam) {
      case VK_DOWN: MoveSelection(tracker, 1); return true;
      case VK_UP: MoveSelection(tracker, -1); return true;
      case VK_RIGHT: {
        const size_t before = tracker.levels.size();
        OpenSelected(tracker, before - 1, true);
        if (tracker.bar && tracker.levels.size() == before) {
          tracker.bar->exit = tavrin::win::menus::BarExit::kRight;
          tracker.done = true;
        }
        return true;
      }
      case VK_LEFT:
        if (tracker.levels.size() > 1) {
          CloseLevelsFrom(tracker, tracker.levels.size() - 1);
        } else if (tracker.bar) {
          tracker.bar->exit = tavrin::win::menus::BarExit::kLeft;
          tracker.done = true;
        }
        return true;
      case VK_ESCAPE:
        if (tracker.levels.size() > 1) {
          CloseLevelsFrom(tracker, tracker.levels.size() - 1);
        } else {
          if (tracker.bar) tracker.bar->exit = tavrin::win::menus::BarExit::kEscape;
          tracker.done = true;
        }
        return true;
      case VK_F10:
        if (tracker.bar) tracker.done = true;
        else TranslateMessage(&msg);
        return true;
      case VK_MENU: tracker.done = true; return true;
      case VK_RETURN: {
        const size_t depth = tracker.levels.size() - 1;
        const int selected = tracker.levels[depth].selected;
        if (selected < 0) tracker.done = true;
        else Execute(tracker, depth, selected);
        return true;
      }
      default:
        TranslateMessage(&msg);
        return true;
    }
  }
  if (m == WM_CHAR || m == WM_SYSCHAR) {
    if (msg.wParam != '\r' && msg.wParam != 0x1B) MenuChar(tracker, static_cast<int>(msg.wParam));
    return true;
  }
  return m == WM_KEYUP || m == WM_SYSKEYUP;
}

UINT Track(HMENU menu, UINT flags, int x, int y, HWND owner, const RECT* exclude,
           tavrin::win::menus::BarLink* bar = nullptr, bool selectFirst = false) {
  if (t_tracker || !IsMenu(menu) || !IsWindow(owner)) return 0;
  Tracker tracker;
  tracker.owner = owner;
  tracker.flags = flags;
  tracker.notify = !(flags & TPM_NONOTIFY);
  tracker.bar = bar;
  t_tracker = &tracker;
  if (tracker.notify) {
    if (!bar) Notify(tracker, WM_ENTERMENULOOP, TRUE, 0);
    Notify(tracker, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu),
           bar ? MAKELPARAM(bar->sysMenu ? 0 : bar->current, bar->sysMenu ? 1 : 0) : MAKELPARAM(0, FALSE));
  }
  if (bar) bar->PopupInitialised();
  bool quit = false;
  WPARAM quitCode = 0;
  if (OpenLevel(tracker, menu, x, y, flags, exclude)) {
    SetCapture(tracker.levels.back().hwnd);
    if (selectFirst) MoveSelection(tracker, 1);
    while (!tracker.done && !tracker.levels.empty()) {
      MSG msg;
      if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (tracker.notify)
          Notify(tracker, WM_ENTERIDLE, MSGF_MENU, reinterpret_cast<LPARAM>(tracker.levels.back().hwnd));
        if (tracker.done || tracker.levels.empty()) break;
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
      if (!HandleInput(tracker, msg)) DispatchMessage(&msg);
    }
  }
  ReleaseCapture();
  CloseLevelsFrom(tracker, 0);
  if (tracker.notify && !bar) {
    Notify(tracker, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    Notify(tracker, WM_EXITMENULOOP, TRUE, 0);
  }
  t_tracker = nullptr;
  if (bar) {
    if (tracker.chosen) bar->exit = tavrin::win::menus::BarExit::kChosen;
    else if (bar->exit == tavrin::win::menus::BarExit::kNone) bar->exit = tavrin::win::menus::BarExit::kCancelled;
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  if (flags & TPM_RETURNCMD) return tracker.chosen;
  if (tracker.chosen && IsWindow(owner)) PostMessage(owner, WM_COMMAND, tracker.chosen, 0);
  return tracker.chosen ? TRUE : FALSE;
}

}  // namespace

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, LPCRECT) {
  return static_cast<BOOL>(Track(menu, flags, x, y, owner, nullptr));
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params) {
  return static_cast<BOOL>(Track(menu, flags, x, y, owner, params ? &params->rcExclude : nullptr));
}

namespace tavrin::win::menus {
UINT TrackBarPopup(HMENU popup, HWND owner, const RECT& item, bool selectFirst, BarLink& link) {
  link.exit = BarExit::kNone;
  link.target = -1;
  return Track(popup, TPM_RETURNCMD | TPM_VERTICAL, item.left, item.bottom, owner, &item, &link, selectFirst);
}
}  // namespace tavrin::win::menus

BOOL EndMenu() {
  bool ended = tavrin::win::menus::EndBarTracking();
  if (t_tracker) {
    t_tracker->done = true;
    ended = true;
  }
  return ended;
}

BOOL GetMenuItemRect(HWND hwnd, HMENU menu, UINT item, LPRECT rect) {
  if (rect && hwnd && tavrin::win::menus::BarItemRect(hwnd, menu, item, rect)) return TRUE;
  if (!t_tracker || !rect) return FALSE;
  for (Level& level : t_tracker->levels) {
    if (level.menu != menu || item >= level.items.size()) continue;
    *rect = level.items[item].rect;
    MapWindowPoints(level.hwnd, nullptr, reinterpret_cast<POINT*>(rect), 2);
    return TRUE;
  }
  return FALSE;
}

int MenuItemFromPoint(HWND hwnd, HMENU menu, POINT point) {
  int index = -1;
  if (hwnd && tavrin::win::menus::BarItemFromPoint(hwnd, menu, point, &index)) return index;
  if (!t_tracker) return -1;
  for (Level& level : t_tracker->levels) {
    if (level.menu != menu) continue;
    POINT client = point;
    ScreenToClient(level.hwnd, &client);
    for (size_t i = 0; i < level.items.size(); ++i)
      if (PtInRect(&level.items[i].rect, client)) return static_cast<int>(i);
  }
  return -1;
}
