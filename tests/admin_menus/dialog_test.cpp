// Dialogs with owner-drawn menus: the system menu binding and the update pass before a popup shows.
#include "../platform_win32_dialogs/template_builder.h"
#include "admin/menus/NewDialog.h"
#include "testsupport/sysroot.h"
#include "win32/resources.h"

namespace {

using tavrin::test::SysrootTest;

constexpr UINT kDisabled = 501, kChecked = 502, kUnhandled = 503, kHandled = 504;

class UpdatedDialog : public CNewDialog {
 public:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnUpdateCommand<&UpdatedDialog::OnUpdateDisabled>(kDisabled),
        mfc::OnUpdateCommand<&UpdatedDialog::OnUpdateChecked>(kChecked),
        mfc::OnCommand<&UpdatedDialog::OnHandled>(kHandled),
    };
    static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
    return &map;
  }
  void OnUpdateDisabled(CCmdUI* ui) { ui->Enable(FALSE); }
  void OnUpdateChecked(CCmdUI* ui) {
    ui->Enable(TRUE);
    ui->SetCheck(1);
  }
  void OnHandled() {}
};

TEST_F(SysrootTest, NewDialogsTakeTheirSystemMenuAndUpdatePopupItemsBeforeTheyShow) {
  const CNewDialog byId(77);
  EXPECT_EQ(byId.m_nIDHelp, 77u);
  EXPECT_EQ(byId.m_lpszTemplateName, MAKEINTRESOURCE(77));
  EXPECT_TRUE(byId.IsKindOf(RUNTIME_CLASS(CDialog)));

  dialog_test::TemplateBuilder form(WS_POPUP | WS_CAPTION | WS_SYSMENU, 10, 10, 120, 60, "Menus");
  UpdatedDialog dialog;
  ASSERT_TRUE(dialog.CreateIndirect(form.Get(), nullptr));
  EXPECT_NE(dialog.m_SystemNewMenu.m_hMenu, nullptr);
  EXPECT_EQ(dialog.m_SystemNewMenu.m_hMenu, GetSystemMenu(dialog.m_hWnd, FALSE));

  CNewMenu popup;
  popup.CreatePopupMenu();
  popup.AppendMenu(MF_STRING, kDisabled, "&Disabled");
  popup.AppendMenu(MF_STRING, kChecked, "&Checked");
  popup.AppendMenu(MF_STRING, kUnhandled, "&Unhandled");
  popup.AppendMenu(MF_STRING, kHandled, "&Handled");
  popup.AppendMenu(MF_STRING, SC_CLOSE, "C&lose");
  dialog.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), MAKELPARAM(0, FALSE));
  EXPECT_NE(popup.GetMenuState(kDisabled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_NE(popup.GetMenuState(kChecked, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_EQ(popup.GetMenuState(kChecked, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_NE(popup.GetMenuState(kUnhandled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(popup.GetMenuState(kHandled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(popup.GetMenuState(SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(popup.m_hOwner, dialog.m_hWnd) << "then the popup set-up";
  EXPECT_EQ(popup.GetMenuState(0, MF_BYPOSITION) & MF_OWNERDRAW, MF_OWNERDRAW);

  // The system menu gets the set-up only.
  popup.EnableMenuItem(kUnhandled, MF_BYCOMMAND | MF_ENABLED);
  dialog.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), MAKELPARAM(0, TRUE));
  EXPECT_EQ(popup.GetMenuState(kUnhandled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  dialog.DestroyWindow();
}

}  // namespace
