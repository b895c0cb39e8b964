#include "admin/ui/UpgradeFirmwareDlg.h"

#include <cstdlib>

#include "admin/Resource.h"
#include "admin/Trace.h"
#include "admin/ui/dialogs/DialogLook.h"
#include "admin/upgrade/FirmwareImage.h"
#include "mfc/filedialog.h"

namespace {

constexpr UINT_PTR kStartTimer = 7;
constexpr UINT_PTR kProgressTimer = 8;
constexpr UINT_PTR kShowOKTimer = 9;
constexpr UINT_PTR kCloseTimer = 10;
constexpr COLORREF kNoteBackground = RGB(255, 255, 247);
constexpr COLORREF kNoteText = RGB(127, 0, 0);

}  // namespace

// ---- "Firmware Upgrade Status" ----

CUpgradeFWStatusDlg::CUpgradeFWStatusDlg(CWnd* parent, DialogServices services)
    : CNewDialog(IDD_UPGRADE_STATUS, parent), m_services(services) {}

const mfc::MessageMap* CUpgradeFWStatusDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CUpgradeFWStatusDlg::OnOKButton>(IDC_UPGRADE_OK),
      mfc::OnMessage<&CUpgradeFWStatusDlg::OnUpgradeFWStatus>(WM_UPGRADE_FW_STATUS),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

BOOL CUpgradeFWStatusDlg::PreTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_ESCAPE) return FALSE;
  return CNewDialog::PreTranslateMessage(msg);
}

void CUpgradeFWStatusDlg::SetUp(DWORD imageChosen, const CString& imageFileName, const CString& imageFolder) {
  m_strImageFileName = imageFileName;
  m_Run.SetUp(imageChosen, imageFileName, imageFolder);
}

void CUpgradeFWStatusDlg::SetSelectedServers(const SelectedServerList* servers) {
  m_pSelectedServers = servers;
  m_Run.SetSelectedServers(servers);
}

BOOL CUpgradeFWStatusDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  SetUpDataList(m_lstStatus, this, IDC_UPGRADE_STATUS_LIST, m_fonts,
                {{"S.No.", 45}, {"IP Address", 90}, {"% Completion", 0}, {"Status", 260, LVCFMT_LEFT}});
  StyleDialogButton(m_btnCancel, this, IDCANCEL, -12, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_LEFT);
  StyleDialogButton(m_btnOK, this, IDC_UPGRADE_OK, -12, IDI_OK_BUTTON, IDI_OK_BUTTON_HOT, BS_LEFT);
  m_btnOK.ShowWindow(SW_HIDE);
  CString note;
  note.Format("Uploading file : %s", m_strImageFileName.GetString());
  SetDlgItemText(IDC_UPGRADE_FILE_NOTE, note);
  m_stcNote.SubclassDlgItem(IDC_UPGRADE_WARNING, this);
  m_stcNote.SetBkColor(kNoteBackground);
  m_stcNote.SetTextColor(kNoteText);
  m_Run.SetNotifyWindow(m_hWnd);
  if (m_Run.OpenSharedInfo()) SetTimer(kStartTimer, 100);
  else FailEveryRow();
  return TRUE;
}

void CUpgradeFWStatusDlg::InsertRow(int row, LPCSTR ip, LPCSTR status) {
  CString number;
  number.Format("%d", row + 1);
  m_lstStatus.InsertItem(row, number);
  m_lstStatus.SetItemText(row, 1, ip);
  m_lstStatus.SetItemText(row, kPercentColumn, "0%");
  m_lstStatus.SetItemText(row, kStatusColumn, status);
}

void CUpgradeFWStatusDlg::FailEveryRow() {
  int row = 0;
  for (POSITION position = m_pSelectedServers ? m_pSelectedServers->GetHeadPosition() : nullptr;
       position && row < MAX_UPGRADE_SERVERS; ++row) {
    const SelectedServerEntry& entry = m_pSelectedServers->GetNext(position);
    InsertRow(row, entry.ServerIp, UPGRADE_TEXT_FAIL);
    m_services.AddServerManagerLog(UPGRADE_TEXT_FAIL);
  }
  m_btnOK.ShowWindow(SW_SHOW);
}

void CUpgradeFWStatusDlg::StartFileTransfer() {
  if (!m_Run.StartFileTransfer()) {
    FailEveryRow();
    return;
  }
  for (int row = 0; row < m_Run.GetRowCount(); ++row) InsertRow(row, m_Run.GetRowIp(row), "Initializing.");
  m_nOutstanding = m_Run.GetRowCount();
  SetTimer(kProgressTimer, 500);
}

void CUpgradeFWStatusDlg::RefreshProgress() {
  for (int row = 0; row < m_lstStatus.GetItemCount(); ++row) {
    const int percent = m_Run.GetRowPercent(row);
    CString text;
    text.Format("Uploaded - %d%%", percent);
    m_lstStatus.SetItemText(row, kPercentColumn, text);
    m_lstStatus.SetItemText(row, kStatusColumn, NextUploadStatusText(m_lstStatus.GetItemText(row, kStatusColumn), percent));
  }
}

void CUpgradeFWStatusDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kStartTimer:
      KillTimer(kStartTimer);
      if (!m_Run.IsCancelled()) StartFileTransfer();  // cancelled before anything started
      break;
    case kProgressTimer: RefreshProgress(); break;
    case kShowOKTimer:
      KillTimer(kShowOKTimer);
      m_btnOK.ShowWindow(SW_SHOW);
      break;
    case kCloseTimer:
      if (m_nOutstanding == 0) {
        TraceInfo("OnUpgradeFWStatus():: Closing the Upgrade FW Status Dlg.!!");
        KillTimer(kCloseTimer);
        EndDialog(IDOK);
      }
      break;
    default: break;
  }
  CNewDialog::OnTimer(id);
}

LRESULT CUpgradeFWStatusDlg::OnUpgradeFWStatus(WPARAM ipBlock, LPARAM result) {
  char* ip = reinterpret_cast<char*>(ipBlock);
  const char* text = UpgradeResultText(static_cast<DWORD>(result));
  for (int row = 0; ip && row < m_lstStatus.GetItemCount(); ++row) {
    if (m_lstStatus.GetItemText(row, 1) != ip) continue;
    m_lstStatus.SetItemText(row, kStatusColumn, text);
    m_services.AddServerManagerLog(text);
    TraceError("%s\n", text);
    if (m_nOutstanding > 0 && --m_nOutstanding == 0) {
      TraceInfo("OnUpgradeFWStatus():: Closing the Upgrade FW Status Dlg.!!");
      KillTimer(kProgressTimer);
      SetTimer(kShowOKTimer, 10);
    }
    break;
  }
  free(ip);
  return 1;
}

void CUpgradeFWStatusDlg::OnCancel() {
  m_Run.Cancel();
  KillTimer(kProgressTimer);
  m_btnCancel.EnableWindow(FALSE);
  SetDlgItemText(IDC_UPGRADE_PROGRESS_NOTE, "Stoping...Please wait.!!");
  SetTimer(kCloseTimer, 100);
}

void CUpgradeFWStatusDlg::OnOKButton() {
  KillTimer(kProgressTimer);
  SetTimer(kCloseTimer, 100);
}

// ---- "Select File" ----

CUpgradeFirmwareDlg::CUpgradeFirmwareDlg(CWnd* parent, DialogServices services)
    : CNewDialog(IDD_UPGRADE_FIRMWARE, parent), m_services(services) {}

const mfc::MessageMap* CUpgradeFirmwareDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CUpgradeFirmwareDlg::OnBrowse>(IDC_UPGRADE_BROWSE),
      mfc::OnCommand<&CUpgradeFirmwareDlg::OnTransfer>(IDC_UPGRADE_TRANSFER),
      mfc::OnCommand<&CUpgradeFirmwareDlg::OnCancelButton>(IDC_UPGRADE_CANCEL),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

BOOL CUpgradeFirmwareDlg::PreTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_ESCAPE) return FALSE;
  return CNewDialog::PreTranslateMessage(msg);
}

void CUpgradeFirmwareDlg::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_UPGRADE_PATH, m_edtPath);
  DDX_Text(dx, IDC_UPGRADE_PATH, m_strPath);
}

BOOL CUpgradeFirmwareDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  StyleDialogButton(m_btnTransfer, this, IDC_UPGRADE_TRANSFER, -12, IDI_OK_BUTTON, IDI_OK_BUTTON_HOT, BS_LEFT);
  StyleDialogButton(m_btnCancel, this, IDC_UPGRADE_CANCEL, -12, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_LEFT);
  StyleDialogButton(m_btnBrowse, this, IDC_UPGRADE_BROWSE, -12, IDI_BROWSE, IDI_BROWSE_PRESSED, BS_LEFT);
  return TRUE;
}

BOOL CUpgradeFirmwareDlg::TakeImagePath(const CString& path) {
  m_strPath = path;
  ULONGLONG size = 0;
  if (!GetImageFileSize(path, &size)) {
    m_bImageChosen = 0;
    m_strImageFileName.Empty();
    m_strImageFolder.Empty();
    return FALSE;
  }
  SplitImagePath(path, m_strImageFolder, m_strImageFileName);
  m_nImageSize = size;
  m_bImageChosen = 1;
  return TRUE;
}

void CUpgradeFirmwareDlg::OnBrowse() {
  CFileDialog open(TRUE, "*.*", "*.*", OFN_FILEMUSTEXIST, "*.*", this);
  if (open.DoModal() == IDOK) TakeImagePath(open.GetPathName());
  UpdateData(FALSE);
}

void CUpgradeFirmwareDlg::Tell(LPCSTR text, UINT style) {
  TraceInfo("%s\n", text);
  m_services.ShowMessageBox(text, style);
}

void CUpgradeFirmwareDlg::OnTransfer() {
  if (m_strImageFileName.IsEmpty()) {
    Tell(UPGRADE_MSG_ENTER_PATH, MB_ICONINFORMATION);
    return;
  }
  // No server is upgraded when any one of them fails the check (or there are too many of them).
  static const SelectedServerList kNone;
  const DWORD check = CheckUpgradeRun(m_pSelectedServers ? *m_pSelectedServers : kNone, m_strImageFileName);
  if (check != FW_CHECK_GO) {
    Tell(FirmwareCheckMessage(check), MB_ICONINFORMATION);
    CNewDialog::OnOK();
    return;
  }
  if (!StartTftpServer()) {
    if (m_Tftp.GetCreateProcessError() != 0) m_services.ShowMessageBox(m_Tftp.GetCreateProcessMessage(), MB_ICONHAND);
    TraceError("%s\n", UPGRADE_MSG_START_FAILED);
    m_services.ShowMessageBox(UPGRADE_MSG_START_FAILED, MB_ICONERROR);
    EndDialog(IDCANCEL);
    return;
  }
  {
    CUpgradeFWStatusDlg status(this, m_services);
    status.SetUp(m_bImageChosen, m_strImageFileName, m_strImageFolder);
    status.SetImageSize(m_nImageSize);
    status.SetSelectedServers(m_pSelectedServers);
    m_nStatusResult = RunStatusDialog(status);
  }
  if (!StopTftpServer()) {
    TraceError("%s\n", UPGRADE_MSG_STOP_FAILED);
    m_services.ShowMessageBox(UPGRADE_MSG_STOP_FAILED, MB_ICONERROR);
  }
  EndDialog(IDOK);
}

BOOL CUpgradeFirmwareDlg::StartTftpServer() { return m_Tftp.StartTftpServer(m_strImageFolder); }
BOOL CUpgradeFirmwareDlg::StopTftpServer() { return m_Tftp.StopTftpServer(); }
BOOL CUpgradeFirmwareDlg::IsTftpServerRunning() { return m_Tftp.IsTftpServerRunning(); }
