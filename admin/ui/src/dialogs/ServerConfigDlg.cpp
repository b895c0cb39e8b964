#include "admin/ui/ServerConfigDlg.h"

#include "admin/DocPanes.h"
#include "admin/Resource.h"
#include "admin/Trace.h"
#include "admin/comm/Discovery.h"
#include "admin/ui/dialogs/DialogLook.h"
#include "admin/util/FixedText.h"
#include "mfc/app.h"

namespace {

constexpr UINT WM_GET_CONFIG_REPLY = WM_USER + 9;
constexpr UINT WM_SET_CONFIG_REPLY = WM_USER + 10;
constexpr UINT_PTR kReadTimer = 6;
constexpr UINT kReadDelayMs = 50;
constexpr DWORD kFillFailed = 13;

// The control's address as dotted text; FALSE unless all four fields are filled (a half-typed address
// would be sent as it is).
BOOL AddressText(CIPAddressCtrl& control, CString* text) {
  DWORD address = 0;
  if (control.GetAddress(address) != 4) return FALSE;
  text->Format("%d.%d.%d.%d", FIRST_IPADDRESS(address), SECOND_IPADDRESS(address), THIRD_IPADDRESS(address),
               FOURTH_IPADDRESS(address));
  return TRUE;
}

// A check's message: exclamation box and trace; FALSE for the check's result.
BOOL Refuse(const DialogServices& services, UINT stringId) {
  const CString text = LoadedText(stringId);
  services.ShowMessageBox(text, MB_ICONEXCLAMATION);
  TraceInfo("%s\n", text.GetString());
  return FALSE;
}

}  // namespace

// ---- the pages ----

void CConfigPage::EnableControls(std::initializer_list<UINT> ids, BOOL enable) {
  for (UINT id : ids)
    if (HWND control = ::GetDlgItem(m_hWnd, static_cast<int>(id))) ::EnableWindow(control, enable);
}

CBasicPage::CBasicPage() : CConfigPage(IDD_BASIC_PAGE) {}

const mfc::MessageMap* CBasicPage::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CBasicPage::OnModify>(IDC_BASIC_MODIFY),
  };
  static const mfc::MessageMap map{CConfigPage::GetMessageMap(), entries};
  return &map;
}

void CBasicPage::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_BASIC_MODIFY, m_chkModify);
  DDX_Control(dx, IDC_BASIC_NAME, m_edtServerName);
  DDX_Text(dx, IDC_BASIC_NAME, m_strServerName);
  DDV_MaxChars(dx, m_strServerName, kMaxServerName);
}

BOOL CBasicPage::OnInitDialog() {
  CConfigPage::OnInitDialog();
  m_edtServerName.EnableWindow(FALSE);
  if (m_pConfInfo) m_strServerName = CString(m_pConfInfo->server_name).Left(kMaxServerName);
  UpdateData(FALSE);
  return TRUE;
}

void CBasicPage::OnModify() {
  m_bModify = m_chkModify.GetCheck() == BST_CHECKED;
  EnableControls({IDC_BASIC_NAME_LABEL, IDC_BASIC_NAME}, m_bModify);
}

BOOL CBasicPage::Validate(const DialogServices& services) {
  if (!m_bModify) return TRUE;
  if (!UpdateData(TRUE)) return FALSE;
  if (m_strServerName.IsEmpty()) {
    Refuse(services, IDS_ENTER_SERVER_NAME);
    m_edtServerName.SetFocus();
    return FALSE;
  }
  return TRUE;
}

void CBasicPage::WriteTo(TavrinConfInfo& record) {
  if (!m_bModify) return;
  record.basic_changed = 1;
  CopyFixedText(record.server_name, m_strServerName.Left(kMaxServerName).GetString());
}

CNetWorkPage::CNetWorkPage() : CConfigPage(IDD_NETWORK_PAGE) {}

const mfc::MessageMap* CNetWorkPage::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CNetWorkPage::OnModify>(IDC_NETWORK_MODIFY),
  };
  static const mfc::MessageMap map{CConfigPage::GetMessageMap(), entries};
  return &map;
}

void CNetWorkPage::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_NETWORK_GATEWAY, m_ipGateway);
  DDX_Control(dx, IDC_NETWORK_MASK, m_ipSubnetMask);
  DDX_Control(dx, IDC_NETWORK_CONFIG, m_cboIPConfig);
  DDX_Control(dx, IDC_NETWORK_IP, m_ipAddress);
  DDX_Control(dx, IDC_NETWORK_MODIFY, m_chkModify);
}

BOOL CNetWorkPage::OnInitDialog() {
  CConfigPage::OnInitDialog();
  EnableControls({IDC_NETWORK_IP, IDC_NETWORK_CONFIG, IDC_NETWORK_GATEWAY, IDC_NETWORK_MASK}, FALSE);
  m_cboIPConfig.AddString("Static");
  m_cboIPConfig.AddString("DHCP");
  m_cboIPConfig.SetCurSel(0);
  if (m_pConfInfo) {
    m_ipAddress.SetWindowText(m_pConfInfo->ip_address);
    m_ipSubnetMask.SetWindowText(m_pConfInfo->net_mask);
    m_ipGateway.SetWindowText(m_pConfInfo->gate_way);
    m_cboIPConfig.SetCurSel(static_cast<int>(m_pConfInfo->ip_config));
  }
  return TRUE;
}

void CNetWorkPage::OnModify() {
  m_bModify = m_chkModify.GetCheck() == BST_CHECKED;
  EnableControls({IDC_NETWORK_CONFIG_LABEL, IDC_NETWORK_IP_LABEL, IDC_NETWORK_MASK_LABEL, IDC_NETWORK_GATEWAY_LABEL,
                  IDC_NETWORK_IP, IDC_NETWORK_CONFIG, IDC_NETWORK_GATEWAY, IDC_NETWORK_MASK},
                 m_bModify);
}

BOOL CNetWorkPage::Validate(const DialogServices& services) {
  if (!m_bModify) return TRUE;
  if (!UpdateData(TRUE)) return FALSE;
  // Whatever the combo says, the three addresses must be there.
  CString text;
  if (!AddressText(m_ipAddress, &text)) {
    Refuse(services, IDS_ENTER_IP_ADDRESS);
    m_ipAddress.SetFocus();
    return FALSE;
  }
  m_strNewIP = text;
  if (!AddressText(m_ipSubnetMask, &text)) {
    Refuse(services, IDS_ENTER_SUBNET_MASK);
    m_ipSubnetMask.SetFocus();
    return FALSE;
  }
  if (!AddressText(m_ipGateway, &text)) {
    Refuse(services, IDS_ENTER_GATEWAY);
    m_ipGateway.SetFocus();
    return FALSE;
  }
  return TRUE;
}

void CNetWorkPage::WriteTo(TavrinConfInfo& record) {
  if (!m_bModify) return;
  record.network_changed = 1;
  CString text;
  AddressText(m_ipAddress, &text);
  CopyFixedText(record.ip_address, text.GetString());
  AddressText(m_ipSubnetMask, &text);
  CopyFixedText(record.net_mask, text.GetString());
  AddressText(m_ipGateway, &text);
  CopyFixedText(record.gate_way, text.GetString());
  const int selected = m_cboIPConfig.GetCurSel();
  record.ip_config = selected == 0 || selected == 1 ? static_cast<DWORD>(selected) : 2;
}

CPasswordPage::CPasswordPage() : CConfigPage(IDD_PASSWORD_PAGE) {}

const mfc::MessageMap* CPasswordPage::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CPasswordPage::OnModifyEnable>(IDC_PASSWORD_MODIFY_ENABLE),
      mfc::OnCommand<&CPasswordPage::OnModifyPassword>(IDC_PASSWORD_MODIFY),
      mfc::OnCommand<&CPasswordPage::OnEnablePassword>(IDC_PASSWORD_ENABLE),
  };
  static const mfc::MessageMap map{CConfigPage::GetMessageMap(), entries};
  return &map;
}

void CPasswordPage::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_PASSWORD_MODIFY, m_chkModifyPassword);
  DDX_Control(dx, IDC_PASSWORD_ENABLE, m_chkEnablePassword);
  DDX_Control(dx, IDC_PASSWORD_MODIFY_ENABLE, m_chkModifyEnable);
  DDX_Text(dx, IDC_PASSWORD_CONFIRM, m_strConfirmPassword);
  DDV_MaxChars(dx, m_strConfirmPassword, kMaxPassword);
  DDX_Text(dx, IDC_PASSWORD_NEW, m_strNewPassword);
  DDV_MaxChars(dx, m_strNewPassword, kMaxPassword);
}

BOOL CPasswordPage::OnInitDialog() {
  CConfigPage::OnInitDialog();
  EnableControls({IDC_PASSWORD_ENABLE, IDC_PASSWORD_NEW, IDC_PASSWORD_CONFIRM}, FALSE);
  m_chkEnablePassword.SetCheck(m_pConfInfo && m_pConfInfo->enable != 0 ? BST_CHECKED : BST_UNCHECKED);
  m_strNewPassword.Empty();
  m_strConfirmPassword.Empty();
  UpdateData(FALSE);
  return TRUE;
}

void CPasswordPage::OnModifyEnable() {
  m_bModifyEnable = m_chkModifyEnable.GetCheck() == BST_CHECKED;
  EnableControls({IDC_PASSWORD_ENABLE}, m_bModifyEnable);
}

void CPasswordPage::OnModifyPassword() {
  m_bModifyPassword = m_chkModifyPassword.GetCheck() == BST_CHECKED;
  EnableControls({IDC_PASSWORD_NEW_LABEL, IDC_PASSWORD_CONFIRM_LABEL, IDC_PASSWORD_NEW, IDC_PASSWORD_CONFIRM},
                 m_bModifyPassword);
}

void CPasswordPage::OnEnablePassword() { m_nNewEnable = m_chkEnablePassword.GetCheck() == BST_CHECKED ? 1 : 0; }

BOOL CPasswordPage::Validate(const DialogServices& services) {
  if (!m_bModifyEnable && !m_bModifyPassword) return TRUE;
  if (!UpdateData(TRUE)) return FALSE;
  if (!m_bModifyPassword) return TRUE;
  if (m_strNewPassword.IsEmpty() || m_strConfirmPassword.IsEmpty()) return Refuse(services, IDS_ENTER_PASSWORD);
  if (m_strNewPassword != m_strConfirmPassword) {
    m_strNewPassword.Empty();
    m_strConfirmPassword.Empty();
    UpdateData(FALSE);
    return Refuse(services, IDS_PASSWORD_MISMATCH);
  }
  return TRUE;
}

void CPasswordPage::WriteTo(TavrinConfInfo& record) {
  if (m_bModifyEnable) {
    record.enable_changed = 1;
    record.enable = m_chkEnablePassword.GetCheck() == BST_CHECKED ? 1 : 0;
  }
  if (m_bModifyPassword) {
    record.password_changed = 1;
    CopyFixedText(record.password, m_strConfirmPassword.Left(kMaxPassword).GetString());
  }
}

// ---- the dialog ----

CServerConfigDlg::CServerConfigDlg(CWnd* parent, DialogServices services)
    : CNewDialog(IDD_SERVER_CONFIG, parent), m_services(services) {}

const mfc::MessageMap* CServerConfigDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CServerConfigDlg::OnCancelButton>(IDC_CONFIG_CANCEL),
      mfc::OnCommand<&CServerConfigDlg::OnSave>(IDC_CONFIG_SAVE),
      mfc::OnMessage<&CServerConfigDlg::OnWindowPosChanging>(WM_WINDOWPOSCHANGING),
      mfc::OnMessage<&CServerConfigDlg::OnGetConfigReply>(WM_GET_CONFIG_REPLY),
      mfc::OnMessage<&CServerConfigDlg::OnSetConfigReply>(WM_SET_CONFIG_REPLY),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

BOOL CServerConfigDlg::PreTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_ESCAPE) return FALSE;
  return CNewDialog::PreTranslateMessage(msg);
}

BOOL CServerConfigDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  StyleDialogButton(m_btnSave, this, IDC_CONFIG_SAVE, -12, IDI_OK_BUTTON, IDI_OK_BUTTON_HOT, BS_LEFT);
  StyleDialogButton(m_btnCancel, this, IDC_CONFIG_CANCEL, -12, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_LEFT);
  m_stcSheetFrame.SubclassDlgItem(IDC_CONFIG_SHEET_FRAME, this);
  CenterWindow();
  SetTimer(kReadTimer, kReadDelayMs);
  return TRUE;
}

LRESULT CServerConfigDlg::OnWindowPosChanging(WPARAM wParam, LPARAM lParam) {
  if (!m_bShow && lParam) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  return CNewDialog::DefWindowProc(WM_WINDOWPOSCHANGING, wParam, lParam);
}

CString CServerConfigDlg::ServerIp() const {
  return m_pServerList && !m_pServerList->IsEmpty() ? CString(m_pServerList->GetHead().ServerIp) : CString();
}

void CServerConfigDlg::OnTimer(UINT_PTR id) {
  if (id == kReadTimer) {
    KillTimer(kReadTimer);
    if (DWORD result = GetConfigurationInfo()) PostMessage(WM_GET_CONFIG_REPLY, result, 0);
  }
  CNewDialog::OnTimer(id);
}

DWORD CServerConfigDlg::GetConfigurationInfo() {
  // Behind another operation's wait window nothing is read: that operation's answer is still to come.
  if (!m_services.OpenWaitWindow("Please Wait...", kWaitProgressMoving)) return CMD_RESULT_THREAD_NOT_STARTED;
  m_bWaitOpen = TRUE;
  const CString ip = ServerIp();
  if (ip.IsEmpty()) return CMD_RESULT_NOT_DONE;
  TraceInfo("Extracting the %s Server Info...\n", ip.GetString());
  const DWORD result = m_ServerComm.GetConfigInfo(ip, &m_nUserData, m_hWnd, WM_GET_CONFIG_REPLY);
  if (result != 0)
    TraceError("GetConfigurationInfo() >> Probelm in extracting server(%s ) info. Error Code:%d\n", ip.GetString(),
               static_cast<int>(result));
  return result;
}

void CServerConfigDlg::CloseWaitWindow() {
  if (m_bWaitOpen) m_services.CloseWaitWindow();
  m_bWaitOpen = FALSE;
}

void CServerConfigDlg::FailAndClose(UINT stringId) {
  const CString text = LoadedText(stringId);
  m_services.AddServerManagerLog(text);
  m_services.ShowMessageBox(text, MB_ICONERROR);
  TraceError("%s\n", text.GetString());
  EndDialog(IDCANCEL);
}

LRESULT CServerConfigDlg::OnGetConfigReply(WPARAM result, LPARAM) {
  CloseWaitWindow();
  if (result != 0) {
    FailAndClose(IDS_CONFIG_READ_FAILED);
    return 1;
  }
  m_ConfirmedConf = m_ServerComm.m_TavrinConfInfo;
  InitPropertySheet();
  m_bShow = 1;
  ShowWindow(SW_SHOW);
  return 1;
}

void CServerConfigDlg::InitPropertySheet() {
  const TavrinConfInfo& record = m_ServerComm.m_TavrinConfInfo;
  CString model;
  GetServerModelName(record.server_model, model);
  SetDlgItemText(IDC_CONFIG_MODEL, model);
  SetDlgItemText(IDC_CONFIG_MAC, CString(record.mac_addr));
  CString serial;
  serial.Format("%ld", static_cast<long>(record.serial_no));
  SetDlgItemText(IDC_CONFIG_SERIAL, serial);
  SetDlgItemText(IDC_CONFIG_FIRMWARE, CString(record.fw_version));

  CConfigPage* pages[] = {&m_pageBasic, &m_pageNetwork, &m_pagePassword};
  for (CConfigPage* page : pages) {
    page->m_pConfInfo = &m_ServerComm.m_TavrinConfInfo;
    m_Sheet.AddPage(page);
    page->m_nPageIndex = static_cast<UINT>(m_Sheet.GetPageIndex(page));
  }
  CRect frame;
  m_stcSheetFrame.GetWindowRect(&frame);
  ScreenToClient(&frame);
  constexpr int kShiftX = -5, kShiftY = 10;
  m_Sheet.Create(this, WS_CHILD | WS_VISIBLE, frame.Width(), frame.Height() - kShiftY);
  m_Sheet.ModifyStyleEx(0, WS_EX_CONTROLPARENT | WS_EX_TOOLWINDOW);
  m_Sheet.ModifyStyle(0, WS_TABSTOP);
  m_Sheet.SetWindowPos(nullptr, frame.left + kShiftX, frame.top + kShiftY, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Every page gets its window and its values now; Basic stays in front.
  for (CConfigPage* page : {static_cast<CConfigPage*>(&m_pagePassword), static_cast<CConfigPage*>(&m_pageNetwork),
                            static_cast<CConfigPage*>(&m_pageBasic)})
    m_Sheet.SetActivePage(static_cast<int>(page->m_nPageIndex));
}

void CServerConfigDlg::EnableButtons(BOOL enable) {
  m_btnSave.EnableWindow(enable);
  m_btnCancel.EnableWindow(enable);
}

void CServerConfigDlg::OnSave() {
  if (!m_bShow) return;  // Enter before the configuration arrived
  if (!m_pageBasic.m_bModify && !m_pageNetwork.m_bModify && !m_pagePassword.m_bModifyEnable &&
      !m_pagePassword.m_bModifyPassword) {
    EndDialog(IDCANCEL);
    return;
  }
  const CString ip = ServerIp();
  if (m_pageNetwork.m_bModify) {
    TraceInfo("Getting the connected clients info of %s Server..\n", ip.GetString());
    DWORD result;
    {
      CWaitCursor wait;
      result = m_ServerComm.GetConnectedClientDetails(ip, &m_nUserData, nullptr, 0);
    }
    if (result != 0) {
      TraceError("Problem in Getting the Connected clients info of %s Server, Error Code : %d\n", ip.GetString(),
                 static_cast<int>(result));
      FailAndClose(IDS_CONFIG_SAVE_FAILED);
      return;
    }
    if (m_ServerComm.m_ConnectedClientsInfo.first != nullptr) {
      m_services.ShowMessageBox(LoadedText(IDS_CLIENTS_CONNECTED), MB_ICONINFORMATION);
      return;
    }
  }
  SetConfigurationInfo();
}

DWORD CServerConfigDlg::FillTavrinConfInfoFromGUI() {
  EnableButtons(FALSE);
  CConfigPage* pages[] = {&m_pageBasic, &m_pageNetwork, &m_pagePassword};
  for (CConfigPage* page : pages) {
    if (page->GetSafeHwnd() && !page->Validate(m_services)) {
      m_Sheet.SetActivePage(static_cast<int>(page->m_nPageIndex));
      EnableButtons(TRUE);
      return kFillFailed;
    }
  }
  for (CConfigPage* page : pages)
    if (page->GetSafeHwnd()) page->WriteTo(m_ServerComm.m_TavrinConfInfo);
  return 0;
}

void CServerConfigDlg::SetConfigurationInfo() {
  if (FillTavrinConfInfoFromGUI() == kFillFailed) {
    TraceError("%s\n", LoadedText(IDS_FILL_FAILED).GetString());
    return;
  }
  ExportServerInfo();
}

void CServerConfigDlg::ExportServerInfo() {
  const CString ip = ServerIp();
  TraceInfo("Updating the %s Server Info...\n", ip.GetString());
  if (!m_services.OpenWaitWindow("Please Wait...", kWaitProgressMoving)) {
    // Another operation's answer is still to come: nothing is sent, and Save can be pressed again.
    m_ServerComm.m_TavrinConfInfo = m_ConfirmedConf;
    EnableButtons(TRUE);
    return;
  }
  m_bWaitOpen = TRUE;
  const DWORD result = m_ServerComm.SetConfigInfo(ip, &m_nUserData, m_hWnd, WM_SET_CONFIG_REPLY);
  if (result != 0) {
    TraceError("Probelm in Updating the %s Server, Error Code : %d\n", ip.GetString(), static_cast<int>(result));
    TraceError("%s\n", LoadedText(IDS_EXPORT_FAILED).GetString());
    PostMessage(WM_SET_CONFIG_REPLY, result, 0);
  }
}

LRESULT CServerConfigDlg::OnSetConfigReply(WPARAM result, LPARAM) {
  CloseWaitWindow();
  if (result != 0) {
    // Not saved: the record keeps what the server holds.
    m_ServerComm.m_TavrinConfInfo = m_ConfirmedConf;
    FailAndClose(IDS_CONFIG_SAVE_FAILED);
    return 1;
  }
  m_ConfirmedConf = m_ServerComm.m_TavrinConfInfo;
  if (!m_pageNetwork.m_strNewIP.IsEmpty()) m_strNewIP = m_pageNetwork.m_strNewIP;
  if (m_pagePassword.m_bModifyEnable && m_pagePassword.m_nNewEnable != static_cast<DWORD>(-1))
    m_nPasswordEnable = static_cast<int>(m_pagePassword.m_nNewEnable);
  TraceInfo("Updated the Server Info properly..!!\n");
  EndDialog(IDOK);
  return 1;
}
