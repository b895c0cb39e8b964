// "Server Configuration": reads one server's configuration, lets the user change its name, its IP settings
// and its password protection on three pages, and writes the changes back. IDOK once the server took them.
#pragma once
#include "admin/comm/ServerComm.h"
#include "admin/menus/NewDialog.h"
#include "admin/ui/dialogs/DialogServices.h"
#include "admin/upgrade/SelectedServerEntry.h"
#include "controls/colored_tabs.h"
#include "controls/shaded_button.h"
#include "mfc/comctl.h"
#include "mfc/propsheet.h"

// What every page shares: its place in the sheet, the record it edits, and the rule that a page whose
// "Modify" box is not ticked neither checks nor writes anything.
class CConfigPage : public CPropertyPage {
 public:
  explicit CConfigPage(UINT idTemplate) : CPropertyPage(idTemplate) {}
  UINT m_nPageIndex = 0;
  TavrinConfInfo* m_pConfInfo = nullptr;

  // Takes the page's data from its controls and checks them; FALSE after telling the user (the focus
  // is on the field to mend).
  virtual BOOL Validate(const DialogServices& services) = 0;
  // Writes the page's part into the record and sets its change flag (nothing when not ticked).
  virtual void WriteTo(TavrinConfInfo& record) = 0;

 protected:
  // Enables the controls of one group by the state of its check box.
  void EnableControls(std::initializer_list<UINT> ids, BOOL enable);
};

class CBasicPage : public CConfigPage {
 public:
  CBasicPage();
  static constexpr int kMaxServerName = 15;

  CButton m_chkModify;
  CEdit m_edtServerName;
  CString m_strServerName;
  DWORD m_bModify = 0;

  BOOL Validate(const DialogServices& services) override;
  void WriteTo(TavrinConfInfo& record) override;
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;

 private:
  void OnModify();
};

class CNetWorkPage : public CConfigPage {
 public:
  CNetWorkPage();

  CIPAddressCtrl m_ipGateway;
  CIPAddressCtrl m_ipSubnetMask;
  CComboBox m_cboIPConfig;
  CIPAddressCtrl m_ipAddress;
  CButton m_chkModify;
  DWORD m_bModify = 0;
  CString m_strNewIP;  // the address taken by the last check

  BOOL Validate(const DialogServices& services) override;
  void WriteTo(TavrinConfInfo& record) override;
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;

 private:
  void OnModify();
};

class CPasswordPage : public CConfigPage {
 public:
  CPasswordPage();
  static constexpr int kMaxPassword = 7;

  CButton m_chkModifyPassword;
  CButton m_chkEnablePassword;
  CButton m_chkModifyEnable;
  CString m_strConfirmPassword;
  CString m_strNewPassword;
  DWORD m_bModifyEnable = 0;
  DWORD m_bModifyPassword = 0;
  DWORD m_nNewEnable = static_cast<DWORD>(-1);

  BOOL Validate(const DialogServices& services) override;
  void WriteTo(TavrinConfInfo& record) override;
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;

 private:
  void OnModifyEnable();
  void OnModifyPassword();
  void OnEnablePassword();
};

class CServerConfigDlg : public CNewDialog {
 public:
  explicit CServerConfigDlg(CWnd* parent = nullptr, DialogServices services = DialogServices());
  const mfc::MessageMap* GetMessageMap() const override;
  // Esc does not close the dialog (the caption's close box does).
  BOOL PreTranslateMessage(MSG* msg) override;

  // The record the pages edit is m_ServerComm.m_TavrinConfInfo; it holds the server's configuration and
  // changes only once the server confirmed a save.
  CServerComm m_ServerComm;
  DWORD m_bShow = 0;  // 0 keeps the window hidden until the configuration arrived
  DWORD m_nUserData = 0;
  int m_nPasswordEnable = -1;  // results: the new password-enable state (-1 unchanged)
  CString m_strNewIP;          // and the new address when the IP settings changed
  const SelectedServerList* m_pServerList = nullptr;  // the document's; its first server is configured
  CShadedButton m_btnCancel;
  CShadedButton m_btnSave;
  CStatic m_stcSheetFrame;
  CColoredTabsPropSheet m_Sheet;
  CBasicPage m_pageBasic;
  CNetWorkPage m_pageNetwork;
  CPasswordPage m_pagePassword;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override { OnSave(); }
  void OnCancel() override { OnCancelButton(); }
  void OnTimer(UINT_PTR id) override;

 private:
  CString ServerIp() const;
  DWORD GetConfigurationInfo();
  void InitPropertySheet();
  void OnSave();
  void OnCancelButton() { EndDialog(IDCANCEL); }
  // 0 when every page passed and wrote its part; 13 when one failed (brought to the front).
  DWORD FillTavrinConfInfoFromGUI();
  void SetConfigurationInfo();
  void ExportServerInfo();
  void EnableButtons(BOOL enable);
  // Closes the wait window this dialog opened (never another operation's).
  void CloseWaitWindow();
  // Error box, Server Manager log and error trace of a string, then IDCANCEL.
  void FailAndClose(UINT stringId);
  LRESULT OnWindowPosChanging(WPARAM, LPARAM lParam);
  LRESULT OnGetConfigReply(WPARAM result, LPARAM);
  LRESULT OnSetConfigReply(WPARAM result, LPARAM);

  DialogServices m_services;
  TavrinConfInfo m_ConfirmedConf{};  // the record as the server last confirmed it
  BOOL m_bWaitOpen = FALSE;
};
