// The log-file dialog and the notice dialog.
#include "admin/ui/NoticeDlg.h"
#include "admin/Resource.h"
#include "admin/ui/SelectLogFileDlg.h"
#include "PaneUtil.h"
#include "mfc/filedialog.h"

// --- CSelectLogFileDlg ---

CSelectLogFileDlg::CSelectLogFileDlg(CWnd* parent) : CDialog(IDD_SELECT_LOG_FILE, parent) {}

const mfc::MessageMap* CSelectLogFileDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CSelectLogFileDlg::OnBrowse>(IDC_LOG_FILE_BROWSE),
  };
  static const mfc::MessageMap map{CDialog::GetMessageMap(), entries};
  return &map;
}

void CSelectLogFileDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_LOG_FILE_PATH, m_edtFilePath);
  DDX_Control(dx, IDOK, m_btnOK);
  DDX_Control(dx, IDCANCEL, m_btnCancel);
  DDX_Control(dx, IDC_LOG_FILE_BROWSE, m_btnBrowse);
  DDX_Text(dx, IDC_LOG_FILE_PATH, m_strFilePath);
}

BOOL CSelectLogFileDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetUpDialogButton(m_btnBrowse, IDI_BROWSE, IDI_BROWSE_PRESSED);
  SetUpDialogButton(m_btnOK, IDI_OK, IDI_OK_PRESSED);
  SetUpDialogButton(m_btnCancel, IDI_CANCEL, IDI_CANCEL_PRESSED);
  return TRUE;
}

void CSelectLogFileDlg::OnBrowse() {
  CFileDialog dialog(FALSE, ".txt", "", OFN_HIDEREADONLY, "LogFile(*.txt)|*.txt||", this);
  if (dialog.DoModal() != IDOK) return;
  m_strFilePath = dialog.GetPathName();
  WIN32_FIND_DATA found;
  HANDLE find = ::FindFirstFile(m_strFilePath, &found);
  if (find != INVALID_HANDLE_VALUE) {
    ::FindClose(find);
    m_strFilePath.Empty();
    ShowMainFrameMessage(LoadStringText(IDS_LOG_FILE_EXISTS), MB_ICONEXCLAMATION);
    return;
  }
  m_edtFilePath.SetWindowText(m_strFilePath);
}

void CSelectLogFileDlg::OnOKCheck() {
  if (m_strFilePath.IsEmpty()) {
    ShowMainFrameMessage("Please Enter the file path !!", 0);
    return;
  }
  CDialog::OnOK();
}

// --- CNoticeDlg ---

CNoticeDlg::CNoticeDlg(CWnd* parent) : CDialog(IDD_NOTICE, parent) {}

void CNoticeDlg::SetTexts(const CString& strCaption, const CString& strText) {
  m_strCaption = strCaption;
  m_strText = strText;
}

BOOL CNoticeDlg::CreateAndShow() {
  if (!Create(IDD_NOTICE, nullptr)) return FALSE;
  // No owner: the notice stays usable beside the main window, also while that is hidden or disabled.
  ::SetWindowLongPtr(m_hWnd, GWLP_HWNDPARENT, 0);
  ShowWindow(SW_SHOWNORMAL);
  return TRUE;
}

BOOL CNoticeDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetDlgItemText(IDC_NOTICE_TEXT, m_strText);
  SetWindowText(m_strCaption);
  CenterWindow();
  return TRUE;
}
