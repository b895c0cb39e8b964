// CNewMenu: finding items in the menu tree and changing owner-drawn items in place.
#include <algorithm>
#include <cstring>

#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace {

CNewMenu* AsNewMenu(HMENU menu) { return dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(menu)); }

bool Listed(CNewMenu* menu, int position, const std::vector<CNewMenu*>& menus, const std::vector<int>& positions) {
  for (size_t i = 0; i < menus.size() && i < positions.size(); ++i)
    if (menus[i] == menu && positions[i] == position) return true;
  return false;
}

// The holding menu's icon size grows to the set's.
void TakeIcons(CNewMenu* holder, CNewMenuItemData* record, CNewMenuIcons* icons, int index) {
  record->SetIcons(icons);
  if (icons && index >= 0) {
    record->m_nMenuIconOffset = index;
    const CSize size = icons->GetIconSize();
    holder->m_iconX = std::max<int>(holder->m_iconX, size.cx);
    holder->m_iconY = std::max<int>(holder->m_iconY, size.cy);
  } else {
    record->m_nMenuIconOffset = -1;
  }
}

// The item at the position shows its new text: set as a plain string, then owner-drawn from the record.
BOOL ApplyText(CNewMenu* holder, UINT position, CNewMenuItemData* record) {
  const UINT state = ::GetMenuState(holder->m_hMenu, position, MF_BYPOSITION);
  const UINT_PTR id = (state & MF_POPUP) ? reinterpret_cast<UINT_PTR>(::GetSubMenu(holder->m_hMenu, static_cast<int>(position)))
                                         : record->m_nID;
  const UINT kept = (state & (MF_POPUP | MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_MENUBREAK | MF_MENUBARBREAK));
  const BOOL plain =
      ::ModifyMenu(holder->m_hMenu, position, kept | MF_BYPOSITION | MF_STRING, id, record->m_szMenuText.GetString());
  const BOOL owner = ::ModifyMenu(holder->m_hMenu, position, kept | MF_BYPOSITION | MF_OWNERDRAW, id,
                                  reinterpret_cast<LPCSTR>(record));
  return plain && owner;
}

}  // namespace

CNewMenu* CNewMenu::FindNextCommand(UINT id, int* position, const std::vector<CNewMenu*>& menusFound,
                                    const std::vector<int>& positionsFound) {
  const int count = ::GetMenuItemCount(m_hMenu);
  for (int i = 0; i < count; ++i) {
    if (HMENU sub = ::GetSubMenu(m_hMenu, i)) {
      if (CNewMenu* object = AsNewMenu(sub))
        if (CNewMenu* found = object->FindNextCommand(id, position, menusFound, positionsFound)) return found;
      continue;
    }
    if (::GetMenuItemID(m_hMenu, i) == id && !Listed(this, i, menusFound, positionsFound)) {
      if (position) *position = i;
      return this;
    }
  }
  if (position) *position = -1;
  return nullptr;
}

CNewMenu* CNewMenu::FindCommand(UINT id, int* position) { return FindNextCommand(id, position, {}, {}); }

CNewMenu* CNewMenu::FindItemByText(LPCSTR text, int* position) {
  if (!text) return nullptr;
  for (size_t i = 0; i < m_items.size(); ++i)
    if (std::strcmp(m_items[i]->m_szMenuText.GetString(), text) == 0) {
      if (position) *position = static_cast<int>(i);
      return this;
    }
  const int count = ::GetMenuItemCount(m_hMenu);
  for (int i = 0; i < count; ++i)
    if (CNewMenu* object = AsNewMenu(::GetSubMenu(m_hMenu, i)))
      if (CNewMenu* found = object->FindItemByText(text, position)) return found;
  if (position) *position = -1;
  return nullptr;
}

CNewMenuItemData* CNewMenu::FindItemRecordById(UINT_PTR id) const {
  for (CNewMenuItemData* record : m_items)
    if (record->m_nID == static_cast<UINT>(id)) return record;
  int position = -1;
  CNewMenu* holder = const_cast<CNewMenu*>(this)->FindCommand(static_cast<UINT>(id), &position);
  if (!holder || holder == this) return nullptr;
  for (CNewMenuItemData* record : holder->m_items)
    if (record->m_nID == static_cast<UINT>(id)) return record;
  return nullptr;
}

BOOL CNewMenu::ModifyOwnerDrawItem(LPCSTR text, UINT id, CNewMenuIcons* icons, int index) {
  std::vector<CNewMenu*> menus;
  std::vector<int> positions;
  int position = -1;
  CNewMenu* holder = FindCommand(id, &position);
  if (!holder) return FALSE;
  BOOL ok = TRUE;
  for (; holder; holder = FindNextCommand(id, &position, menus, positions)) {
    menus.push_back(holder);
    positions.push_back(position);
    const auto at = static_cast<UINT>(position);
    if (static_cast<size_t>(::GetMenuItemCount(holder->m_hMenu)) != holder->m_items.size()) holder->RebuildItemRecords();
    if (at >= holder->m_items.size()) {
      ok = FALSE;
      continue;
    }
    CNewMenuItemData* record = holder->m_items[at];
    const bool textChanged = text && record->m_szMenuText != text;
    if (textChanged) record->m_szMenuText = text;
    TakeIcons(holder, record, icons, index);
    record->m_nFlags = (record->m_nFlags & ~MF_BYPOSITION) | MF_OWNERDRAW;
    record->m_nID = id;
    // Each occurrence is rewritten by its own position, so every item keeps its own record.
    if (textChanged)
      ok = ApplyText(holder, at, record) && ok;
    else
      ok = ::ModifyMenu(holder->m_hMenu, at,
                        (::GetMenuState(holder->m_hMenu, at, MF_BYPOSITION) & 0xFF & ~MF_BITMAP) | MF_BYPOSITION |
                            MF_OWNERDRAW,
                        id, reinterpret_cast<LPCSTR>(record)) &&
           ok;
  }
  return ok;
}

BOOL CNewMenu::ModifyOwnerDrawItemByText(LPCSTR newText, LPCSTR currentText, int bitmapId) {
  int position = -1;
  CNewMenu* holder = FindItemByText(currentText, &position);
  if (!holder) return FALSE;
  CNewMenuItemData* record = holder->m_items[static_cast<size_t>(position)];
  const bool textChanged = newText && record->m_szMenuText != newText;
  if (textChanged) record->m_szMenuText = newText;
  if (bitmapId >= 0) {
    holder->WithResourceIcon(record->m_nID, bitmapId, [&](CNewMenuIcons* set, int index) {
      TakeIcons(holder, record, set, index);
      return TRUE;
    });
  } else {
    record->SetIcons(nullptr);
    record->m_nMenuIconOffset = bitmapId;
  }
  if (!textChanged) return TRUE;
  return ApplyText(holder, static_cast<UINT>(position), record);
}

BOOL CNewMenu::ModifyMenu(UINT item, UINT flags, UINT_PTR newId, LPCSTR text) {
  if (!(flags & MF_BYPOSITION)) {
    int position = -1;
    if (CNewMenu* holder = FindCommand(item, &position))
      return holder->ModifyMenu(static_cast<UINT>(position), flags | MF_BYPOSITION, newId, text);
    return CMenu::ModifyMenu(item, flags, newId, text);
  }
  const UINT state = ::GetMenuState(m_hMenu, item, MF_BYPOSITION);
  if (state == 0xFFFFFFFF) return FALSE;
  HMENU oldSub = (state & MF_POPUP) ? ::GetSubMenu(m_hMenu, static_cast<int>(item)) : nullptr;
  const UINT_PTR oldId = oldSub ? reinterpret_cast<UINT_PTR>(oldSub) : ::GetMenuItemID(m_hMenu, static_cast<int>(item));
  CNewMenuItemData* record = item < m_items.size() && m_items[item]->m_nID == static_cast<UINT>(oldId)
                                 ? m_items[item]
                                 : FindItemRecordById(oldId);
  const bool bitmap = (flags & MF_BITMAP) != 0;
  if (!CMenu::ModifyMenu(item, flags & ~MF_OWNERDRAW, newId, text)) return FALSE;
  // A popup replaced by something else went with its handle: its object goes too.
  if (oldSub && !((flags & MF_POPUP) && reinterpret_cast<HMENU>(newId) == oldSub)) {
    auto owned = std::find(m_subMenus.begin(), m_subMenus.end(), oldSub);
    if (owned != m_subMenus.end()) {
      m_subMenus.erase(owned);
      if (CNewMenu* object = AsNewMenu(oldSub)) {
        object->Detach();
        delete object;
      }
    }
  }
  if (!record) {
    RebuildItemRecords();
    return TRUE;
  }
  record->m_nID = static_cast<UINT>(newId);
  record->m_szMenuText = bitmap || !text ? "" : text;
  record->m_nFlags = (flags & ~MF_BITMAP) | MF_BYPOSITION | MF_OWNERDRAW;
  if (flags & MF_POPUP)
    if (CNewMenu* sub = AsNewMenu(reinterpret_cast<HMENU>(newId))) sub->m_hParent = m_hMenu;
  return ::ModifyMenu(m_hMenu, item, record->m_nFlags, newId, reinterpret_cast<LPCSTR>(record));
}

BOOL CNewMenu::ModifyMenu(UINT item, UINT flags, UINT_PTR newId, CBitmap* bitmap) {
  return ModifyMenu(item, flags | MF_BITMAP, newId,
                    reinterpret_cast<LPCSTR>(bitmap ? static_cast<HBITMAP>(bitmap->m_hObject) : nullptr));
}
