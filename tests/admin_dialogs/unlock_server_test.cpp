// The unlock dialog: OK only with a password, the unlock command against a locked simulated server, and
// its answers.
#include <cstring>
#include <string>

#include "admin/Resource.h"
#include "admin/ui/UnlockServerDlg.h"
#include "dialog_fixture.h"

namespace {

// Types the password when the dialog opens and presses OK.
class TypedUnlock : public CUnlockServerDlg {
 public:
  std::string typed;
  BOOL okBeforeTyping = TRUE;
  BOOL okAfterTyping = FALSE;
  UINT limit = 0;

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CUnlockServerDlg::OnInitDialog();
    okBeforeTyping = m_btnOK.IsWindowEnabled();
    limit = m_edtPassword.GetLimitText();
    SetDlgItemText(IDC_UNLOCK_PASSWORD, typed.c_str());
    okAfterTyping = m_btnOK.IsWindowEnabled();
    PostMessage(WM_COMMAND, IDC_UNLOCK_OK, 0);
    return result;
  }
};

void Locked(int, zarnet::sim::ServerOptions& options) {
  options.password_enable = true;
  options.password = "lab";
}

void Select(SelectedServerList& list, const char* ip) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strcpy(entry.ServerIp, ip);
  list.AddTail(entry);
}

TEST_F(DialogTest, UnlockSendsThePasswordAndReportsTheServersAnswer) {
  StartServers(31, 1, Locked);
  SelectedServerList servers;
  Select(servers, "127.0.0.31");
  {
    TypedUnlock dialog;
    dialog.m_pServerList = &servers;
    dialog.typed = "wrong";
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(dialog.okBeforeTyping);
    EXPECT_TRUE(dialog.okAfterTyping);
    EXPECT_EQ(dialog.limit, 7u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Unlock Failed!!");
    EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONERROR});
  }
  boxes_.clear();
  {
    TypedUnlock dialog;
    dialog.m_pServerList = &servers;
    dialog.typed = "lab";
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Unlock successful !!");
    EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONINFORMATION});
  }
}

TEST_F(DialogTest, UnlockOfAServerThatDoesNotAnswerFails) {
  StartServers(32, 1, Locked);
  SelectedServerList servers;
  Select(servers, "127.0.0.33");  // no server there
  TypedUnlock dialog;
  dialog.m_pServerList = &servers;
  dialog.typed = "lab";
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Unlock Failed!!");
}

}  // namespace
