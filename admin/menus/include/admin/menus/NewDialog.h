// Dialogs with owner-drawn menus: the system menu (and a menu bar, when the template has one) are CNewMenu
// objects, and popups get the command update pass a frame would run before they show.
#pragma once
#include "admin/menus/NewMenu.h"
#include "mfc/dialog.h"

class CNewDialog : public CMenuHostFrame<CDialog> {
  DECLARE_DYNAMIC(CNewDialog)

 public:
  CNewDialog() = default;
  // A name below 0x10000 is a numeric identifier, which is also the dialog's help identifier.
  explicit CNewDialog(LPCSTR templateName, CWnd* parent = nullptr);
  explicit CNewDialog(UINT idTemplate, CWnd* parent = nullptr);

  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  // Binds the system-menu member to the window's system menu and gives a menu bar its background.
  BOOL OnInitDialog() override;

 private:
  LRESULT OnInitMenuPopupDialog(WPARAM wParam, LPARAM lParam);
};

// Ends the modes a window may be in (capture, a dropped list) before a menu takes over.
void AfxCancelModes(HWND receiver);
