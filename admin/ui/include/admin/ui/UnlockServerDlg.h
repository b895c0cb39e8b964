// "PassWord": asks for a locked server's password and sends the unlock command; IDOK once the server
// took it.
#pragma once
#include "admin/comm/ServerComm.h"
#include "admin/menus/NewDialog.h"
#include "admin/ui/dialogs/DialogServices.h"
#include "admin/upgrade/SelectedServerEntry.h"
#include "controls/shaded_button.h"

class CUnlockServerDlg : public CNewDialog {
 public:
  explicit CUnlockServerDlg(CWnd* parent = nullptr, DialogServices services = DialogServices());
  const mfc::MessageMap* GetMessageMap() const override;

  static constexpr int kMaxPassword = 7;

  CShadedButton m_btnOK;
  CShadedButton m_btnCancel;
  CEdit m_edtPassword;
  CString m_strPassword;
  DWORD m_nUserData = 0;
  CServerComm m_ServerComm;
  const SelectedServerList* m_pServerList = nullptr;  // the document's; its first server is unlocked

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override { OnUnlock(); }

 private:
  void OnUnlock();
  void OnCancelButton() { EndDialog(IDCANCEL); }
  void OnPasswordChange();
  LRESULT OnUnlockReply(WPARAM result, LPARAM);
  DialogServices m_services;
};
