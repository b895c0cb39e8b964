#include "admin/ui/DropDownToolBar.h"

#include "mfc/cmdui.h"
#include "mfc/imagelist.h"
#include "win32/resources.h"

IMPLEMENT_DYNAMIC(CDropDownToolBar, CToolBar)

namespace {

// Enables or disables one toolbar button for the command route.
class CToolBarCmdUI : public CCmdUI {
 public:
  explicit CToolBarCmdUI(CToolBarCtrl& control) : control_(control) {}
  void Enable(BOOL on) override {
    m_bEnableChanged = TRUE;
    control_.EnableButton(static_cast<int>(m_nID), on);
  }
  void SetCheck(int check) override { control_.CheckButton(static_cast<int>(m_nID), check != 0); }

 private:
  CToolBarCtrl& control_;
};

}  // namespace

const mfc::MessageMap* CDropDownToolBar::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnNotifyReflect<&CDropDownToolBar::OnDropDown>(TBN_DROPDOWN),
  };
  static const mfc::MessageMap map{CToolBar::GetMessageMap(), entries};
  return &map;
}

CDropDownToolBar::~CDropDownToolBar() {
  for (HIMAGELIST list : m_ownedLists) ImageList_Destroy(list);
}

BOOL CDropDownToolBar::LoadImageList(UINT message, UINT bitmapId, int buttonWidth) {
  auto bitmap = static_cast<HBITMAP>(LoadImage(nullptr, MAKEINTRESOURCE(static_cast<WORD>(bitmapId)), IMAGE_BITMAP, 0,
                                               0, LR_CREATEDIBSECTION | LR_DEFAULTSIZE));
  if (!bitmap) return FALSE;
  DIBSECTION section{};
  BOOL ok = GetObject(bitmap, sizeof section, &section) == sizeof section && buttonWidth > 0 &&
            section.dsBm.bmWidth >= buttonWidth;
  HIMAGELIST list = nullptr;
  if (ok) {
    const int count = section.dsBm.bmWidth / buttonWidth, height = section.dsBm.bmHeight;
    // The transparent colour: the first pixel of the bits (of a bottom-up picture, its bottom-left one),
    // blue, green, red.
    const auto* first = static_cast<const BYTE*>(section.dsBm.bmBits);
    const COLORREF mask = first ? RGB(first[2], first[1], first[0]) : RGB(192, 192, 192);
    list = ImageList_Create(buttonWidth, height, ILC_COLOR24 | ILC_MASK, count, 0);
    ok = list && ImageList_AddMasked(list, bitmap, mask) >= 0;
  }
  DeleteObject(bitmap);
  if (!ok) {
    if (list) ImageList_Destroy(list);
    return FALSE;
  }
  SendMessage(message, 0, reinterpret_cast<LPARAM>(list));
  m_ownedLists.push_back(list);
  return TRUE;
}

BOOL CDropDownToolBar::LoadImages(int buttonWidth, UINT normalId, UINT hotId, UINT disabledId) {
  if (!LoadImageList(TB_SETIMAGELIST, normalId, buttonWidth)) return FALSE;
  if (hotId && !LoadImageList(TB_SETHOTIMAGELIST, hotId, buttonWidth)) return FALSE;
  if (disabledId && !LoadImageList(TB_SETDISABLEDIMAGELIST, disabledId, buttonWidth)) return FALSE;
  return TRUE;
}

int CDropDownToolBar::AddDropDownButton(CWnd* owner, UINT commandId, UINT menuId) {
  if (!m_bDropDownStyle) {
    GetToolBarCtrl().SendMessage(TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    m_bDropDownStyle = TRUE;
  }
  const int index = CommandToIndex(commandId);
  if (index >= 0) SetButtonStyle(index, GetButtonStyle(index) | TBSTYLE_DROPDOWN);
  m_arrDropDownButtons.push_back({commandId, menuId, owner});
  return static_cast<int>(m_arrDropDownButtons.size()) - 1;
}

void CDropDownToolBar::OnDropDown(NMHDR* header, LRESULT* result) {
  *result = 0;
  const auto* notice = reinterpret_cast<const NMTOOLBAR*>(header);
  for (const DropDownButton& entry : m_arrDropDownButtons) {
    if (entry.CommandId != static_cast<UINT>(notice->iItem)) continue;
    CMenu menu;
    if (!menu.LoadMenu(entry.MenuId)) return;
    if (CMenu* popup = menu.GetSubMenu(0)) {
      RECT button{};
      SendMessage(TB_GETRECT, notice->iItem, reinterpret_cast<LPARAM>(&button));
      ClientToScreen(&button);
      TPMPARAMS params{sizeof(TPMPARAMS), button};
      popup->TrackPopupMenuEx(TPM_LEFTALIGN | TPM_LEFTBUTTON, button.left, button.bottom, entry.Owner,
                              &params);
    }
    menu.DestroyMenu();
    return;
  }
}

void CDropDownToolBar::UpdateButtons(CCmdTarget* target) {
  if (!m_hWnd || !target) return;
  CToolBarCmdUI ui(GetToolBarCtrl());
  const int count = GetCount();
  for (int index = 0; index < count; ++index) {
    const UINT id = GetItemID(index);
    if (id == ID_SEPARATOR) continue;
    ui.m_nID = id;
    ui.m_nIndex = static_cast<UINT>(index);
    ui.m_nIndexMax = static_cast<UINT>(count);
    ui.DoUpdate(target, TRUE);
  }
}
