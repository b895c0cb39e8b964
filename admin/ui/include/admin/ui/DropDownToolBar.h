// CDropDownToolBar: the main frame's toolbar: the framework's toolbar, with buttons that open a menu
// under themselves (registered one by one; the main frame registers none) and 24-bit button pictures
// loaded into masked image lists.
#pragma once
#include <vector>

#include "mfc/bars.h"
#include "mfc/comctl.h"
#include "mfc/mfc.h"
#include "win32/comctl.h"

class CDropDownToolBar : public CToolBar {
  DECLARE_DYNAMIC(CDropDownToolBar)

 public:
  ~CDropDownToolBar() override;

  // The normal, hot and disabled pictures (hot and disabled only when their id is not 0): each bitmap
  // cut into pictures of the button width, its first pixel the transparent colour. FALSE as soon as one
  // cannot be loaded.
  BOOL LoadImages(int buttonWidth, UINT normalId, UINT hotId = 0, UINT disabledId = 0);
  // The command's button opens pop-up 0 of the menu resource, its commands going to owner. The entry's
  // index.
  int AddDropDownButton(CWnd* owner, UINT commandId, UINT menuId);
  // Enables each button as the target's command route decides (the toolbar's share of the frame's
  // regular command updates).
  void UpdateButtons(CCmdTarget* target);

 protected:
  const mfc::MessageMap* GetMessageMap() const override;

 private:
  struct DropDownButton {
    UINT CommandId;
    UINT MenuId;
    CWnd* Owner;
  };

  void OnDropDown(NMHDR* header, LRESULT* result);
  BOOL LoadImageList(UINT message, UINT bitmapId, int buttonWidth);

  std::vector<DropDownButton> m_arrDropDownButtons;
  BOOL m_bDropDownStyle = FALSE;  // the control draws the drop-down arrows
  // The lists given to the control; the control only uses them, so they are freed with the toolbar.
  std::vector<HIMAGELIST> m_ownedLists;
};
