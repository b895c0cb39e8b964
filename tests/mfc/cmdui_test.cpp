// The command update pass a frame runs over a popup before it shows.
#include "mfc/mfc.h"
#include "testsupport/sysroot.h"

namespace {

using tavrin::test::SysrootTest;

constexpr UINT kDisabled = 101, kChecked = 102, kHandled = 103, kUnhandled = 104, kInPopup = 105, kRemover = 106,
               kAfterRemover = 107, kRenamed = 108;

class UpdateFrame : public CFrameWnd {
 public:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateDisabled>(kDisabled),
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateChecked>(kChecked),
        mfc::OnCommand<&UpdateFrame::OnHandled>(kHandled),
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateDisabled>(kInPopup),
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateRemover>(kRemover),
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateChecked>(kAfterRemover),
        mfc::OnUpdateCommand<&UpdateFrame::OnUpdateRenamed>(kRenamed),
    };
    static const mfc::MessageMap map{CFrameWnd::GetMessageMap(), entries};
    return &map;
  }
  void OnUpdateDisabled(CCmdUI* ui) { ui->Enable(FALSE); }
  void OnUpdateChecked(CCmdUI* ui) {
    ++checkedCalls;
    ui->SetCheck(1);
  }
  void OnUpdateRemover(CCmdUI* ui) { ui->m_pMenu->RemoveMenu(ui->m_nIndex, MF_BYPOSITION); }
  void OnUpdateRenamed(CCmdUI* ui) { ui->SetText("&Renamed"); }
  void OnHandled() {}
  int checkedCalls = 0;

 protected:
  void PostNcDestroy() override {}  // a member of the test
};

TEST_F(SysrootTest, FramesEnableCheckAndRenameItemsBeforeTheirPopupShows) {
  UpdateFrame frame;
  ASSERT_TRUE(frame.CreateEx(0, "frame", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, 0));
  CMenu popup;
  ASSERT_TRUE(popup.CreatePopupMenu());
  popup.AppendMenu(MF_STRING, kDisabled, "Disabled");
  popup.AppendMenu(MF_SEPARATOR);
  popup.AppendMenu(MF_STRING, kChecked, "Checked");
  popup.AppendMenu(MF_STRING, kHandled, "Handled");
  popup.AppendMenu(MF_STRING, kUnhandled, "Unhandled");
  popup.AppendMenu(MF_STRING, SC_CLOSE, "Close");
  HMENU sub = CreatePopupMenu();
  ::AppendMenu(sub, MF_STRING, kInPopup, "Inner");
  popup.AppendMenu(MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub");
  popup.AppendMenu(MF_STRING, kRemover, "Goes");
  popup.AppendMenu(MF_STRING, kAfterRemover, "After");
  popup.AppendMenu(MF_STRING, kRenamed, "Old");

  frame.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), MAKELPARAM(0, FALSE));

  EXPECT_NE(popup.GetMenuState(kDisabled, MF_BYCOMMAND) & MF_GRAYED, 0u) << "disabled by its handler";
  EXPECT_NE(popup.GetMenuState(kChecked, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_NE(popup.GetMenuState(kChecked, MF_BYCOMMAND) & MF_GRAYED, 0u)
      << "its handler did not enable it and nobody handles the command";
  EXPECT_EQ(popup.GetMenuState(kHandled, MF_BYCOMMAND) & MF_GRAYED, 0u) << "a command handler exists";
  EXPECT_NE(popup.GetMenuState(kUnhandled, MF_BYCOMMAND) & MF_GRAYED, 0u) << "nobody handles it";
  EXPECT_EQ(popup.GetMenuState(SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED, 0u) << "system commands are left alone";
  EXPECT_NE(popup.GetMenuState(6, MF_BYPOSITION) & MF_GRAYED, 0u) << "the popup item follows its first item";
  EXPECT_EQ(GetMenuState(sub, kInPopup, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(popup.GetMenuState(kRemover, MF_BYCOMMAND), 0xFFFFFFFFu) << "removed by its own handler";
  EXPECT_NE(popup.GetMenuState(kAfterRemover, MF_BYCOMMAND) & MF_CHECKED, 0u) << "the next item still updated";
  EXPECT_EQ(frame.checkedCalls, 2) << "each item once";
  CString text;
  popup.GetMenuString(kRenamed, text, MF_BYCOMMAND);
  EXPECT_STREQ(text.GetString(), "&Renamed");

  // The system menu gets no pass.
  popup.EnableMenuItem(kUnhandled, MF_BYCOMMAND | MF_ENABLED);
  frame.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), MAKELPARAM(0, TRUE));
  EXPECT_EQ(popup.GetMenuState(kUnhandled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  // Nor do frames that ask for no automatic disabling disable unhandled items.
  frame.m_bAutoMenuEnable = FALSE;
  frame.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), MAKELPARAM(0, FALSE));
  EXPECT_EQ(popup.GetMenuState(kUnhandled, MF_BYCOMMAND) & MF_GRAYED, 0u);
  frame.DestroyWindow();
}

}  // namespace
