// CNewMenu: the object, loading, item records and the owner-drawn item operations.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

CNewMenu* AsNewMenu(HMENU menu) { return dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(menu)); }

}  // namespace

CNewMenu::CNewMenu(HMENU parent) : m_hParent(parent) {}

CNewMenu::~CNewMenu() { DestroyMenu(); }

BOOL CNewMenu::DestroyMenu() {
  for (auto it = m_subMenus.rbegin(); it != m_subMenus.rend(); ++it) delete AsNewMenu(*it);
  m_subMenus.clear();
  for (auto it = m_detachedPopups.rbegin(); it != m_detachedPopups.rend(); ++it) delete *it;
  m_detachedPopups.clear();
  for (CNewMenuItemData* record : m_items) delete record;
  m_items.clear();
  if (!m_bSharedCheckMarks) delete m_pCheckMarkImages;
  m_pCheckMarkImages = nullptr;
  return CMenu::DestroyMenu();
}

void CNewMenu::DrawItem(LPDRAWITEMSTRUCT draw) {
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  const BOOL bar = !m_hParent && !m_bPopup;
  if (bar && state.m_pHotBarItem == reinterpret_cast<void*>(draw->itemData) && !(draw->itemState & ODS_HOTLIGHT))
    state.m_pHotBarItem = nullptr;
  if (state.m_pCurrentStyle) state.m_pCurrentStyle->DrawItem(this, draw, bar);
}

void CNewMenu::MeasureItem(LPMEASUREITEMSTRUCT measure) {
  const HMENU idAsMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(measure->itemID));
  const bool popupItem = IsMenu(idAsMenu) != FALSE;
  CNewMenu* holder = m_hParent ? AsNewMenu(m_hParent) : this;
  BOOL bar = FALSE;
  if (popupItem) bar = holder ? !holder->m_bPopup : TRUE;
  CNewMenu* measuring = this;
  if (!bar && m_hParent && popupItem && AsNewMenu(m_hParent)) measuring = AsNewMenu(m_hParent);
  if (CNewMenuStyle* style = GetNewMenuGlobalState().m_pCurrentStyle) style->MeasureItem(measuring, measure, bar);
}

void CNewMenu::DrawTitle(LPDRAWITEMSTRUCT draw, BOOL barItem) {
  if (CNewMenuStyle* style = GetNewMenuGlobalState().m_pCurrentStyle) style->DrawTitle(this, draw, barItem);
}

BOOL CNewMenu::EraseBkgnd(HWND hwnd, HDC dc) {
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH brush = CreateSolidBrush(GetMenuColor(m_hMenu));
  FillRect(dc, &client, brush);
  DeleteObject(brush);
  return TRUE;
}

BOOL CNewMenu::LoadMenu(UINT idResource) {
  CWinApp* app = AfxGetApp();
  return LoadMenu(::LoadMenu(app ? app->m_hInstance : nullptr,
                             reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(idResource))));
}

BOOL CNewMenu::LoadMenu(LPCSTR name) {
  CWinApp* app = AfxGetApp();
  return LoadMenu(::LoadMenu(app ? app->m_hInstance : nullptr, name));
}

BOOL CNewMenu::LoadMenu(HMENU menu) {
  if (!IsMenu(menu) || !Attach(menu)) return FALSE;
  m_bPopup = FALSE;
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    HMENU sub = ::GetSubMenu(menu, i);
    if (!sub) continue;
    auto* object = new CNewMenu(m_hMenu);
    m_subMenus.push_back(sub);
    object->LoadMenu(sub);
    object->m_bPopup = TRUE;
  }
  RebuildItemRecords();
  return TRUE;
}

CNewMenuItemData* CNewMenu::CreateItemRecord(UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
  auto* record = new CNewMenuItemData;
  record->m_nFlags = flags;
  record->m_nID = static_cast<UINT>(id);
  record->m_szMenuText = text ? text : "";
  if (flags & MF_POPUP)
    if (CNewMenu* sub = AsNewMenu(reinterpret_cast<HMENU>(id))) sub->m_hParent = m_hMenu;
  BOOL ok = TRUE;
  if (flags & MF_OWNERDRAW)
    ok = ::ModifyMenu(m_hMenu, position, flags | MF_BYPOSITION, id, reinterpret_cast<LPCSTR>(record));
  else if (!(flags & MF_SEPARATOR))
    ok = ::ModifyMenu(m_hMenu, position, flags | MF_BYPOSITION, id, record->m_szMenuText.GetString());
  if (!ok) CNewMenuGlobalState::ShowLastError();
  return record;
}

void CNewMenu::RebuildItemRecords() {
  for (CNewMenuItemData* record : m_items) record->m_bMatched = FALSE;
  std::vector<CNewMenuItemData*> fresh;
  auto take = [&](UINT_PTR id) -> CNewMenuItemData* {
    for (CNewMenuItemData* record : m_items)
      if (!record->m_bMatched && record->m_nID == static_cast<UINT>(id)) {
        record->m_bMatched = TRUE;
        return record;
      }
    return nullptr;
  };
  const int count = ::GetMenuItemCount(m_hMenu);
  for (int i = 0; i < count; ++i) {
    const UINT position = static_cast<UINT>(i);
    const UINT state = ::GetMenuState(m_hMenu, position, MF_BYPOSITION);
    char buffer[256] = {};
    ::GetMenuString(m_hMenu, position, buffer, sizeof buffer, MF_BYPOSITION);
    CNewMenuItemData* record = nullptr;
    if (state & MF_POPUP) {
      HMENU sub = ::GetSubMenu(m_hMenu, i);
      const UINT_PTR id = reinterpret_cast<UINT_PTR>(sub);
      record = take(id);
      if (record) {
        if (buffer[0]) record->m_szMenuText = buffer;
      } else {
        record = CreateItemRecord(position, ((state & 0xFF) & ~0xA00u) | 0x510u, id, buffer);
      }
      if (CNewMenu* object = AsNewMenu(sub); object && object->m_hParent != m_hMenu) object->m_hParent = m_hMenu;
    } else if (state & MF_BITMAP) {
      const UINT id = ::GetMenuItemID(m_hMenu, i);
      record = take(id);
      if (!record) {
        record = new CNewMenuItemData;
        record->m_nFlags = state;
        record->m_nID = id;
      }
    } else if (state & MF_SEPARATOR) {
      const UINT flags = state | 0x500;
      record = take(0);
      if (record) {
        record->m_nFlags = flags;
        ::ModifyMenu(m_hMenu, position, flags, 0, reinterpret_cast<LPCSTR>(record));
      } else {
        record = CreateItemRecord(position, flags, 0, "");
      }
    } else {
      const UINT id = ::GetMenuItemID(m_hMenu, i);
      const UINT flags = (state & 0xFFFF) | 0x500;
      record = take(id);
      if (record) {
        record->m_nFlags = flags;
        if (buffer[0]) record->m_szMenuText = buffer;
        ::ModifyMenu(m_hMenu, position, flags, id, reinterpret_cast<LPCSTR>(record));
      } else {
        record = CreateItemRecord(position, flags, id, buffer);
      }
    }
    if (record) fresh.push_back(record);
  }
  for (CNewMenuItemData* record : m_items)
    if (std::find(fresh.begin(), fresh.end(), record) == fresh.end()) delete record;
  m_items.swap(fresh);
}


namespace {

void FillRecord(CNewMenu* menu, CNewMenuItemData* record, LPCSTR text, UINT flags, UINT_PTR id,
                CNewMenuIcons* icons, int index) {
  record->m_szMenuText = text ? text : "";
  record->SetIcons(icons);
  record->m_nFlags = flags;
  record->m_nID = static_cast<UINT>(id);
  if (icons && index >= 0) {
    record->m_nMenuIconOffset = index;
    const CSize size = icons->GetIconSize();
    menu->m_iconX = std::max<int>(menu->m_iconX, size.cx);
    menu->m_iconY = std::max<int>(menu->m_iconY, size.cy);
  } else {
    record->m_nMenuIconOffset = -1;
  }
}

}  // namespace

BOOL CNewMenu::FinishAdd(UINT position, CNewMenuItemData* record, UINT flags, UINT_PTR id, bool appended) {
  const UINT plain = flags & ~(MF_OWNERDRAW | MF_BYPOSITION);
  const LPCSTR text = record->m_szMenuText.GetString();
  const BOOL added = appended ? ::AppendMenu(m_hMenu, plain, id, text)
                              : ::InsertMenu(m_hMenu, position, plain | MF_BYPOSITION, id, text);
  if (!added) {
    // The record would stand for no item: take it out so records and positions stay in step.
    m_items.erase(std::remove(m_items.begin(), m_items.end(), record), m_items.end());
    delete record;
    return FALSE;
  }
  const UINT at = appended ? static_cast<UINT>(::GetMenuItemCount(m_hMenu) - 1) : position;
  return ::ModifyMenu(m_hMenu, at, flags | MF_BYPOSITION | MF_OWNERDRAW, id, reinterpret_cast<LPCSTR>(record));
}

BOOL CNewMenu::AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CNewMenuIcons* icons, int index) {
  if (id != 0)
    flags |= MF_OWNERDRAW;
  else
    flags = (flags & MF_BYPOSITION) ? 0xD00 : 0x900;
  if (flags & MF_POPUP)
    if (CNewMenu* sub = AsNewMenu(reinterpret_cast<HMENU>(id))) sub->m_hParent = m_hMenu;
  auto* record = new CNewMenuItemData;
  m_items.push_back(record);
  FillRecord(this, record, text, flags, id, icons, index);
  return FinishAdd(0, record, flags, id, true);
}

BOOL CNewMenu::AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, int) {
  return AppendOwnerDrawItem(text, flags, id, static_cast<CNewMenuIcons*>(nullptr), -1);
}

BOOL CNewMenu::InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CNewMenuIcons* icons,
                                   int index) {
  if (!(flags & MF_BYPOSITION)) {
    int found = -1;
    CNewMenu* holder = FindCommand(position, &found);
    if (!holder) return FALSE;
    return holder->InsertOwnerDrawItem(static_cast<UINT>(found), text, flags | MF_BYPOSITION, id, icons, index);
  }
  if (id == 0)
    flags = 0xD00;
  else
    flags |= MF_OWNERDRAW;
  if (flags & MF_POPUP)
    if (CNewMenu* sub = AsNewMenu(reinterpret_cast<HMENU>(id))) sub->m_hParent = m_hMenu;
  const UINT count = static_cast<UINT>(std::max(::GetMenuItemCount(m_hMenu), 0));
  if (position == 0xFFFFFFFF || position > count) position = count;
  // Records follow positions; an end position beyond a shorter record array goes to its end.
  const size_t slot = std::min<size_t>(position, m_items.size());
  auto* record = new CNewMenuItemData;
  m_items.insert(m_items.begin() + static_cast<ptrdiff_t>(slot), record);
  FillRecord(this, record, text, flags, id, icons, index);
  return FinishAdd(position, record, flags, id, false);
}

CNewMenu* CNewMenu::AppendPopup(LPCSTR text) {
  auto* popup = new CNewMenu(m_hMenu);
  popup->m_selectedCheckId = m_selectedCheckId;
  popup->m_normalCheckId = m_normalCheckId;
  popup->m_pCheckMarkImages = m_pCheckMarkImages;
  popup->m_bSharedCheckMarks = TRUE;
  if (!popup->CreatePopupMenu() ||
      !AppendOwnerDrawItem(text, MF_POPUP | MF_OWNERDRAW, reinterpret_cast<UINT_PTR>(popup->m_hMenu))) {
    delete popup;
    return nullptr;
  }
  m_subMenus.push_back(popup->m_hMenu);
  return popup;
}

// Drops the records a popup has in this menu: its place among the owned submenus (true when it was owned)
// and its item record.
bool CNewMenu::ForgetPopupRecords(HMENU sub) {
  bool owned = false;
  for (auto it = m_subMenus.rbegin(); it != m_subMenus.rend();)
    if (*it == sub) {
      it = std::make_reverse_iterator(m_subMenus.erase(std::next(it).base()));
      owned = true;
    } else {
      ++it;
    }
  for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
    if ((*it)->m_nID == static_cast<UINT>(reinterpret_cast<UINT_PTR>(sub))) {
      delete *it;
      m_items.erase(std::next(it).base());
      break;
    }
  return owned;
}

BOOL CNewMenu::RemoveMenu(UINT position, UINT flags) {
  if (!(flags & MF_BYPOSITION)) {
    int found = -1;
    if (CNewMenu* holder = FindCommand(position, &found))
      return holder->RemoveMenu(static_cast<UINT>(found), MF_BYPOSITION);
    return CMenu::RemoveMenu(position, flags);
  }
  const UINT state = ::GetMenuState(m_hMenu, position, MF_BYPOSITION);
  if (state == 0xFFFFFFFF) return FALSE;
  if (state & MF_POPUP) {
    HMENU sub = ::GetSubMenu(m_hMenu, static_cast<int>(position));
    const bool owned = ForgetPopupRecords(sub);
    // The popup leaves the menu but stays owned by it, so it is freed with the menu.
    if (owned)
      if (CNewMenu* object = AsNewMenu(sub)) m_detachedPopups.push_back(object);
  } else if (!(state & MF_SEPARATOR)) {
    const UINT id = ::GetMenuItemID(m_hMenu, static_cast<int>(position));
    for (auto it = m_items.begin(); it != m_items.end(); ++it)
      if ((*it)->m_nID == id) {
        delete *it;
        m_items.erase(it);
        break;
      }
  } else if (position < m_items.size()) {
    delete m_items[position];
    m_items.erase(m_items.begin() + position);
  }
  return CMenu::RemoveMenu(position, MF_BYPOSITION);
}

BOOL CNewMenu::DeleteMenu(UINT position, UINT flags) {
  if (!(flags & MF_BYPOSITION)) {
    int found = -1;
    if (CNewMenu* holder = FindCommand(position, &found))
      return holder->DeleteMenu(static_cast<UINT>(found), MF_BYPOSITION);
    return CMenu::DeleteMenu(position, flags);
  }
  const UINT state = ::GetMenuState(m_hMenu, position, MF_BYPOSITION);
  if (state == 0xFFFFFFFF) return FALSE;
  if (state & MF_POPUP) {
    HMENU sub = ::GetSubMenu(m_hMenu, static_cast<int>(position));
    const bool owned = ForgetPopupRecords(sub);
    if (owned) {
      CNewMenu* object = AsNewMenu(sub);
      if (object) object->Detach();  // the Windows delete below destroys the handle
      delete object;
    }
  } else if (!(state & MF_SEPARATOR)) {
    const UINT id = ::GetMenuItemID(m_hMenu, static_cast<int>(position));
    for (auto it = m_items.begin(); it != m_items.end();)
      if ((*it)->m_nID == id) {
        delete *it;
        it = m_items.erase(it);
      } else {
        ++it;
      }
  } else if (position < m_items.size()) {
    delete m_items[position];
    m_items.erase(m_items.begin() + position);
  }
  return CMenu::DeleteMenu(position, MF_BYPOSITION);
}

UINT CNewMenu::GetMenuItemIndexByText(LPCSTR text) const {
  bool anyPlain = false;
  const int count = ::GetMenuItemCount(m_hMenu);
  for (int i = 0; i < count && !anyPlain; ++i) anyPlain = ::GetSubMenu(m_hMenu, i) == nullptr;
  if (!anyPlain || !text) return 0xFFFFFFFF;
  for (size_t i = 0; i < m_items.size(); ++i)
    if (std::strcmp(m_items[i]->m_szMenuText.GetString(), text) == 0) return static_cast<UINT>(i);
  return 0xFFFFFFFF;
}

UINT CNewMenu::RemoveMenuByText(LPCSTR text, int mode) {
  const UINT found = GetMenuItemIndexByText(text);
  if (found == 0xFFFFFFFF) return 0xFFFFFFFF;
  const UINT last = static_cast<UINT>(::GetMenuItemCount(m_hMenu)) - 1;
  // A neighbour that does not exist is refused before anything is removed.
  if ((mode == 1 || mode == 3) && found == 0) return 0xFFFFFFFF;
  if ((mode == 2 || mode == 3) && found >= last) return 0xFFFFFFFF;
  switch (mode) {
    case 0: RemoveMenu(found, MF_BYPOSITION); break;
    case 1: RemoveMenu(found - 1, MF_BYPOSITION); break;
    case 2: RemoveMenu(found + 1, MF_BYPOSITION); break;
    case 3:
      RemoveMenu(found + 1, MF_BYPOSITION);
      RemoveMenu(found - 1, MF_BYPOSITION);
      break;
    default: return 0xFFFFFFFF;
  }
  return found;
}

CNewMenu* CNewMenu::GetSubMenu(int position) const { return AsNewMenu(::GetSubMenu(m_hMenu, position)); }

CNewMenu* CNewMenu::GetSubMenuByText(LPCSTR text) const {
  const int count = ::GetMenuItemCount(m_hMenu);
  for (int i = 0; i < count; ++i) {
    char buffer[256] = {};
    ::GetMenuString(m_hMenu, static_cast<UINT>(i), buffer, sizeof buffer, MF_BYPOSITION);
    std::string itemText = buffer;
    if (itemText.empty()) {
      MENUITEMINFO info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_DATA;
      ::GetMenuItemInfo(m_hMenu, static_cast<UINT>(i), TRUE, &info);
      for (CNewMenuItemData* record : m_items)
        if (reinterpret_cast<ULONG_PTR>(record) == info.dwItemData) itemText = record->m_szMenuText.GetString();
    }
    if (text && itemText == text) return AsNewMenu(::GetSubMenu(m_hMenu, i));
  }
  return nullptr;
}

BOOL CNewMenu::SetMenuText(UINT item, LPCSTR text, UINT flags) {
  if (!(flags & MF_BYPOSITION)) {
    int found = -1;
    CNewMenu* holder = FindCommand(item, &found);
    return holder ? holder->SetMenuText(static_cast<UINT>(found), text, MF_BYPOSITION) : FALSE;
  }
  if (item >= m_items.size()) return FALSE;
  CNewMenuItemData* record = m_items[item];
  record->m_szMenuText = text ? text : "";
  const UINT state = ::GetMenuState(m_hMenu, item, MF_BYPOSITION) & ~(MF_SEPARATOR | MF_OWNERDRAW | MF_BITMAP);
  if (!::ModifyMenu(m_hMenu, item, (state & 0xFF) | MF_BYPOSITION, record->m_nID, record->m_szMenuText.GetString()))
    return FALSE;
  return ::ModifyMenu(m_hMenu, item, MF_BYPOSITION | MF_OWNERDRAW, record->m_nID, reinterpret_cast<LPCSTR>(record));
}

BOOL CNewMenu::GetItemText(UINT item, CString& text, UINT flags) const {
  if (flags & MF_BYPOSITION) {
    if (item >= m_items.size()) return FALSE;
    text = m_items[item]->m_szMenuText;
    return TRUE;
  }
  int found = -1;
  CNewMenu* holder = const_cast<CNewMenu*>(this)->FindCommand(item, &found);
  return holder ? holder->GetItemText(static_cast<UINT>(found), text, MF_BYPOSITION) : FALSE;
}

BOOL CNewMenu::SetMenuTitle(LPCSTR text, UINT titleFlags) {
  if (!IsMenu(m_hMenu)) return FALSE;
  if (static_cast<size_t>(::GetMenuItemCount(m_hMenu)) != m_items.size()) RebuildItemRecords();
  if (m_items.empty() || !(m_items[0]->m_nFlags & MF_SEPARATOR))
    InsertOwnerDrawItem(0, nullptr, MF_BYPOSITION | MF_SEPARATOR, 0, -1);
  if (m_items.empty() || !(m_items[0]->m_nFlags & MF_SEPARATOR)) return FALSE;
  m_items[0]->m_szMenuText = text ? text : "";
  m_items[0]->m_nTitleFlags = titleFlags | 1;
  if (m_items.size() > 1) {
    CNewMenuItemData* second = m_items[1];
    if (titleFlags & 2)
      second->m_nFlags |= MF_MENUBREAK;
    else
      second->m_nFlags &= ~MF_MENUBREAK;
    RewriteItemUnderTitle();
  }
  return TRUE;
}

BOOL CNewMenu::RemoveMenuTitle() {
  if (m_items.empty() || !(m_items[0]->m_nFlags & MF_SEPARATOR) || !(m_items[0]->m_nTitleFlags & 1)) return FALSE;
  if (m_items.size() > 1 && (m_items[1]->m_nFlags & MF_MENUBREAK)) {
    CNewMenuItemData* second = m_items[1];
    second->m_nFlags &= ~MF_MENUBREAK;
    RewriteItemUnderTitle();
  }
  return RemoveMenu(0, MF_BYPOSITION);
}

void CNewMenu::RewriteItemUnderTitle() {
  CNewMenuItemData* second = m_items[1];
  // A popup stays one: without MF_POPUP and its handle the item would lose, and destroy, its sub-menu.
  const UINT_PTR id = (second->m_nFlags & MF_POPUP) ? reinterpret_cast<UINT_PTR>(::GetSubMenu(m_hMenu, 1))
                                                    : second->m_nID;
  ::ModifyMenu(m_hMenu, 1, second->m_nFlags | MF_BYPOSITION | MF_OWNERDRAW, id, reinterpret_cast<LPCSTR>(second));
}

COLORREF CNewMenu::SetBitmapBackgroundColor(COLORREF colour) { return std::exchange(m_bitmapBackground, colour); }
COLORREF CNewMenu::GetBitmapBackgroundColor() const {
  return m_bitmapBackground == 0xFF000000 ? GetSysColor(COLOR_BTNFACE) : m_bitmapBackground;
}

BOOL CNewMenu::SetItemUserData(UINT item, void* data, BOOL byPosition) {
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  if (!::GetMenuItemInfo(m_hMenu, item, byPosition, &info)) return FALSE;
  for (CNewMenuItemData* record : m_items)
    if (reinterpret_cast<ULONG_PTR>(record) == info.dwItemData) {
      record->m_pData = data;
      return TRUE;
    }
  return FALSE;
}

void* CNewMenu::GetItemUserData(UINT item, BOOL byPosition) const {
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  if (!::GetMenuItemInfo(m_hMenu, item, byPosition, &info)) return reinterpret_cast<void*>(-1);
  for (CNewMenuItemData* record : m_items)
    if (reinterpret_cast<ULONG_PTR>(record) == info.dwItemData) return record->m_pData;
  return reinterpret_cast<void*>(-1);
}

void CNewMenu::StoreBarItemRect(HDC dc, const RECT* rect) {
  if (m_bPopup || !rect) return;
  HWND hwnd = WindowFromDC(dc);
  if (!hwnd) return;
  RECT window;
  GetWindowRect(hwnd, &window);
  m_lastBarItem = *rect;
  OffsetRect(&m_lastBarItem, window.left, window.top);
}

// Messages.
LRESULT CNewMenu::OnMeasureItem(const MSG* msg) {
  if (!msg || msg->message != WM_MEASUREITEM) return 0;
  auto* measure = reinterpret_cast<LPMEASUREITEMSTRUCT>(msg->lParam);
  if (!measure || measure->CtlType != ODT_MENU) return 0;
  const HMENU asMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(measure->itemID));
  if (IsMenu(asMenu)) {
    if (CMenu* object = CMenu::FromHandlePermanent(asMenu)) {
      object->MeasureItem(measure);
      return 1;
    }
  }
  CMenu* owner = nullptr;
  if (CMenu::GetTrackingWindow() == msg->hwnd)
    owner = CMenu::FindOwnerOfItem(CMenu::GetTrackingMenu(), measure->itemID, measure->itemData);
  if (!owner && GetMenu(msg->hwnd)) owner = CMenu::FindOwnerOfItem(GetMenu(msg->hwnd), measure->itemID, measure->itemData);
  if (!owner && IsWindow(msg->hwnd))
    owner = CMenu::FindOwnerOfItem(GetSystemMenu(msg->hwnd, FALSE), measure->itemID, measure->itemData);
  if (!owner) return 0;
  owner->MeasureItem(measure);
  return 1;
}

LRESULT CNewMenu::OnMenuChar(UINT ch, UINT, CMenu* menu) {
  auto* object = dynamic_cast<CNewMenu*>(menu);
  if (!object) return 0;
  const std::string key = Lower(std::string("&") + static_cast<char>(ch));
  if (static_cast<size_t>(::GetMenuItemCount(object->m_hMenu)) != object->m_items.size())
    object->RebuildItemRecords();
  for (size_t i = 0; i < object->m_items.size(); ++i)
    if (Lower(object->m_items[i]->m_szMenuText.GetString()).find(key) != std::string::npos)
      return MAKELPARAM(static_cast<int>(i), static_cast<int>(MNC_EXECUTE));
  return 0;
}

void CNewMenu::OnInitMenuPopup(HWND hwnd, CMenu* popup, UINT, BOOL) {
  if (!popup) return;
  auto* object = dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(popup->m_hMenu));
  GetNewMenuGlobalState().m_pPendingPopup = object;
  GetNewMenuGlobalState().m_hPendingPopup = popup->m_hMenu;
  if (object) {
    object->m_hOwner = hwnd;
    object->OnInitMenuPopup();
    if (CNewMenu* holder = AsNewMenu(object->m_hParent)) {
      if (++holder->m_openPopups == 1 && !holder->m_bPopup && !IsRectEmpty(&holder->m_lastBarItem)) {
        RECT rect = holder->m_lastBarItem;
        rect.right += 10;
        rect.bottom += 10;
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&rect), 2);
        RedrawWindow(hwnd, &rect, nullptr, RDW_INVALIDATE | RDW_FRAME);
      }
    }
  }
}

void CNewMenu::OnInitMenuPopup() {
  m_bPopup = TRUE;
  RebuildItemRecords();
  if (GetWindowsVersion() == 7)
    for (CNewMenuItemData* record : m_items)
      if (record->m_nID == SC_RESTORE || record->m_nID == SC_CLOSE || record->m_nID == SC_MINIMIZE) ++record->m_nID;
}

BOOL CNewMenu::OnUnInitPopupMenu() {
  bool closeFound = false;
  if (GetWindowsVersion() == 7)
    for (CNewMenuItemData* record : m_items) {
      if (record->m_nID == SC_CLOSE + 1) closeFound = true;
      if (record->m_nID == SC_RESTORE + 1 || record->m_nID == SC_CLOSE + 1 || record->m_nID == SC_MINIMIZE + 1)
        --record->m_nID;
    }
  if (closeFound && m_hOwner)
    SetWindowPos(m_hOwner, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
  CNewMenu* holder = AsNewMenu(m_hParent);
  if (!holder) return FALSE;
  --holder->m_openPopups;
  if (holder->m_bPopup) return FALSE;
  holder->m_openPopups = 0;
  if (m_hOwner && !IsRectEmpty(&holder->m_lastBarItem)) {
    RECT rect = holder->m_lastBarItem;
    rect.right += 10;
    rect.bottom += 10;
    MapWindowPoints(nullptr, m_hOwner, reinterpret_cast<POINT*>(&rect), 2);
    RedrawWindow(m_hOwner, &rect, nullptr, RDW_INVALIDATE | RDW_FRAME);
  }
  return TRUE;
}

CNewMenu* CNewMenu::FindMenuByCommand(HMENU root, UINT id) {
  CNewMenu* object = AsNewMenu(root);
  if (!object) return nullptr;
  int position = -1;
  return object->FindCommand(id, &position);
}

CNewMenuMemDC::CNewMenuMemDC(HDC target, const RECT& rect) : m_rect(rect), m_target(target) {
  m_hDC = ::CreateCompatibleDC(target);
  m_bitmap = ::CreateCompatibleBitmap(target, rect.right - rect.left, rect.bottom - rect.top);
  m_oldBitmap = ::SelectObject(m_hDC, m_bitmap);
  ::SetWindowOrgEx(m_hDC, rect.left, rect.top, nullptr);
}

CNewMenuMemDC::~CNewMenuMemDC() {
  if (!m_bCancel)
    ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top, m_hDC,
           m_rect.left, m_rect.top, SRCCOPY);
  ::SelectObject(m_hDC, m_oldBitmap);
  ::DeleteObject(m_bitmap);
  ::DeleteDC(m_hDC);
  m_hDC = nullptr;
}

namespace {
constexpr char kTempHandlerProp[] = "CNewMenuTempHandler";
}

CNewMenuTempHandler::CNewMenuTempHandler(HWND hwnd) : m_hWnd(hwnd) {
  SetProp(hwnd, kTempHandlerProp, this);
  m_oldWndProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtr(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CNewMenuTempHandler::WindowProc)));
}

CNewMenuTempHandler::~CNewMenuTempHandler() {
  if (m_oldWndProc && IsWindow(m_hWnd))
    SetWindowLongPtr(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldWndProc));
  RemoveProp(m_hWnd, kTempHandlerProp);
  m_SystemNewMenu.Detach();  // the system menu is the window's
}

CNewMenuTempHandler* CNewMenuTempHandler::FromWindow(HWND hwnd) {
  return static_cast<CNewMenuTempHandler*>(GetProp(hwnd, kTempHandlerProp));
}

LRESULT CALLBACK CNewMenuTempHandler::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CNewMenuTempHandler* handler = FromWindow(hwnd);
  if (!handler) return DefWindowProc(hwnd, message, wParam, lParam);
  const WNDPROC previous = handler->m_oldWndProc;
  switch (message) {
    case WM_INITMENUPOPUP: {
      const LRESULT result = CallWindowProc(previous, hwnd, message, wParam, lParam);
      CNewMenu::OnInitMenuPopup(hwnd, CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam),
                                HIWORD(lParam));
      return result;
    }
    case WM_MENUCHAR: {
      CMenu* menu = CMenu::FromHandle(reinterpret_cast<HMENU>(lParam));
      if (dynamic_cast<CNewMenu*>(menu)) return CNewMenu::OnMenuChar(LOWORD(wParam), HIWORD(wParam), menu);
      break;
    }
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
      if (handler->m_SystemNewMenu.m_hMenu && draw && draw->CtlType == ODT_MENU)
        if (auto* menu = dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(draw->hwndItem)))) {
          menu->DrawItem(draw);
          return 1;
        }
      break;
    }
    case WM_MEASUREITEM: {
      MSG msg{hwnd, message, wParam, lParam, 0, {0, 0}};
      if (CNewMenu::OnMeasureItem(&msg)) return 1;
      break;
    }
    case 0x0110:  // WM_INITDIALOG
      if (GetNewMenuGlobalState().m_dwDialogOptions & 2) {
        const LRESULT result = CallWindowProc(previous, hwnd, message, wParam, lParam);
        HMENU system = GetSystemMenu(hwnd, FALSE);
        if (system && !dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(system)))
          handler->m_SystemNewMenu.Attach(system);
        return result;
      }
      break;
    case WM_DESTROY: {
      const LRESULT result = CallWindowProc(previous, hwnd, message, wParam, lParam);
      delete handler;
      return result;
    }
    default:
      break;
  }
  return CallWindowProc(previous, hwnd, message, wParam, lParam);
}
