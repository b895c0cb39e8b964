#include "admin/ui/UnlockServerDlg.h"

#include "admin/DocPanes.h"
#include "admin/Resource.h"
#include "admin/Trace.h"
#include "admin/ui/dialogs/DialogLook.h"

namespace {

constexpr UINT WM_UNLOCK_REPLY = WM_USER + 8;

}  // namespace

CUnlockServerDlg::CUnlockServerDlg(CWnd* parent, DialogServices services)
    : CNewDialog(IDD_UNLOCK_SERVER, parent), m_services(services) {}

const mfc::MessageMap* CUnlockServerDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CUnlockServerDlg::OnUnlock>(IDC_UNLOCK_OK),
      mfc::OnCommand<&CUnlockServerDlg::OnCancelButton>(IDC_UNLOCK_CANCEL),
      mfc::OnControl<&CUnlockServerDlg::OnPasswordChange>(EN_CHANGE, IDC_UNLOCK_PASSWORD),
      mfc::OnMessage<&CUnlockServerDlg::OnUnlockReply>(WM_UNLOCK_REPLY),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

void CUnlockServerDlg::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_UNLOCK_PASSWORD, m_edtPassword);
  DDX_Text(dx, IDC_UNLOCK_PASSWORD, m_strPassword);
  DDV_MaxChars(dx, m_strPassword, kMaxPassword);
}

BOOL CUnlockServerDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  StyleDialogButton(m_btnOK, this, IDC_UNLOCK_OK, -12, IDI_OK_BUTTON, IDI_OK_BUTTON_HOT, BS_RIGHT);
  StyleDialogButton(m_btnCancel, this, IDC_UNLOCK_CANCEL, -12, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_RIGHT);
  m_btnOK.EnableWindow(FALSE);
  return TRUE;
}

void CUnlockServerDlg::OnPasswordChange() {
  CString text;
  GetDlgItemText(IDC_UNLOCK_PASSWORD, text);
  m_btnOK.EnableWindow(!text.IsEmpty());
}

void CUnlockServerDlg::OnUnlock() {
  if (!UpdateData(TRUE) || m_strPassword.IsEmpty()) return;
  if (m_pServerList == nullptr || m_pServerList->IsEmpty()) return;
  m_btnCancel.EnableWindow(FALSE);
  m_btnOK.EnableWindow(FALSE);
  CString password;
  GetDlgItemText(IDC_UNLOCK_PASSWORD, password);
  // Behind another operation's wait window nothing is sent: its answer is still to come.
  if (!m_services.OpenWaitWindow("Please Wait...", kWaitProgressMoving)) {
    m_btnCancel.EnableWindow(TRUE);
    m_btnOK.EnableWindow(TRUE);
    return;
  }
  const DWORD result = m_ServerComm.UnLockServer(
      m_pServerList->GetHead().ServerIp, reinterpret_cast<const BYTE*>(static_cast<LPCSTR>(password)),
      static_cast<DWORD>(password.GetLength()), &m_nUserData, m_hWnd, WM_UNLOCK_REPLY);
  if (result != 0) PostMessage(WM_UNLOCK_REPLY, result, 0);
}

LRESULT CUnlockServerDlg::OnUnlockReply(WPARAM result, LPARAM) {
  m_services.CloseWaitWindow();
  if (result != 0) {
    m_services.ShowMessageBox(LoadedText(IDS_UNLOCK_FAILED), MB_ICONERROR);
    TraceError("UnLockServer() :: User Defined Error Code : %d\n", static_cast<int>(result));
    EndDialog(IDCANCEL);
  } else {
    m_services.ShowMessageBox(LoadedText(IDS_UNLOCK_DONE), MB_ICONINFORMATION);
    EndDialog(IDOK);
  }
  return 1;
}
