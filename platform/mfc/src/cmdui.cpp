#include "mfc/cmdui.h"

#include <string>

void CCmdUI::Enable(BOOL on) {
  m_bEnableChanged = TRUE;
  if (!m_pMenu) return;
  // A popup item is enabled in its own menu, by position.
  m_pMenu->EnableMenuItem(m_nIndex, MF_BYPOSITION | (on ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(int check) {
  if (!m_pMenu || m_pSubMenu) return;  // a popup item carries no check
  m_pMenu->CheckMenuItem(m_nIndex, MF_BYPOSITION | (check ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetRadio(BOOL on) {
  if (!m_pMenu || m_pSubMenu) return;
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  if (m_pMenu->GetMenuItemInfo(m_nIndex, &info, TRUE)) {
    info.fType = on ? (info.fType | MFT_RADIOCHECK) : (info.fType & ~MFT_RADIOCHECK);
    m_pMenu->SetMenuItemInfo(m_nIndex, &info, TRUE);
  }
  SetCheck(on ? 1 : 0);
}

void CCmdUI::SetText(LPCSTR text) {
  if (!m_pMenu || m_pSubMenu || !text) return;
  const UINT state = m_pMenu->GetMenuState(m_nIndex, MF_BYPOSITION);
  if (state == 0xFFFFFFFF) return;
  // An owner-drawn item keeps its data: only the string changes.
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  std::string copy(text);
  info.dwTypeData = copy.data();
  m_pMenu->SetMenuItemInfo(m_nIndex, &info, TRUE);
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler) {
  if (!target || m_nID == 0) return TRUE;
  m_bEnableChanged = FALSE;
  const BOOL handled = target->OnUpdateCommand(this);
  if (disableIfNoHandler && !m_bEnableChanged) Enable(target->HasCommandHandler(m_nID));
  return handled;
}

void AfxUpdateMenuPopup(CCmdTarget* target, CMenu* popup, BOOL disableIfNoHandler) {
  if (!target || !popup || !::IsMenu(popup->m_hMenu)) return;
  CCmdUI state;
  state.m_pMenu = popup;
  state.m_nIndexMax = popup->GetMenuItemCount();
  for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
    state.m_nID = popup->GetMenuItemID(static_cast<int>(state.m_nIndex));
    if (state.m_nID == 0) continue;  // a separator
    if (state.m_nID == 0xFFFFFFFF) {
      // A popup item stands for the first command of its menu.
      HMENU sub = ::GetSubMenu(popup->m_hMenu, static_cast<int>(state.m_nIndex));
      if (!sub) continue;
      state.m_pSubMenu = CMenu::FromHandle(sub);
      state.m_nID = ::GetMenuItemID(sub, 0);
      if (state.m_nID == 0 || state.m_nID == 0xFFFFFFFF) {
        state.m_pSubMenu = nullptr;
        continue;
      }
      state.DoUpdate(target, FALSE);
      state.m_pSubMenu = nullptr;
    } else {
      state.DoUpdate(target, disableIfNoHandler && state.m_nID < 0xF000);
    }
    // A handler may have removed or added items: carry on after the item just updated.
    const UINT count = popup->GetMenuItemCount();
    if (count < state.m_nIndexMax) {
      // Unsigned on purpose: one before position 0 wraps, and the loop's step brings it back to 0.
      state.m_nIndex -= state.m_nIndexMax - count;
      while (state.m_nIndex < count && popup->GetMenuItemID(static_cast<int>(state.m_nIndex)) == state.m_nID)
        ++state.m_nIndex;
    }
    state.m_nIndexMax = count;
  }
}
