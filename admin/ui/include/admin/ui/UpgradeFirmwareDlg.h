// The firmware upgrade's two dialogs: "Select File", where the image is chosen and checked against every
// selected server before the TFTP server starts, and "Firmware Upgrade Status", one row per server while
// the upgrade run's workers fetch, flash and confirm.
#pragma once
#include "admin/menus/NewDialog.h"
#include "admin/ui/dialogs/DialogServices.h"
#include "admin/upgrade/FirmwareUpgrade.h"
#include "admin/upgrade/TftpServerControl.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"

class CUpgradeFWStatusDlg : public CNewDialog {
 public:
  explicit CUpgradeFWStatusDlg(CWnd* parent = nullptr, DialogServices services = DialogServices());
  const mfc::MessageMap* GetMessageMap() const override;
  // Esc does not cancel.
  BOOL PreTranslateMessage(MSG* msg) override;

  // What the "Select File" step hands over before DoModal.
  void SetUp(DWORD imageChosen, const CString& imageFileName, const CString& imageFolder);
  void SetImageSize(ULONGLONG bytes) { m_Run.SetImageSize(bytes); }
  void SetSelectedServers(const SelectedServerList* servers);

  CFirmwareUpgradeRun m_Run;
  CString m_strImageFileName;
  int m_nOutstanding = 0;  // rows whose result has not arrived (user-interface thread only)
  CColorStatic m_stcNote;
  CShadedButton m_btnOK;
  CShadedButton m_btnCancel;
  CHeaderListCtrl m_lstStatus;
  CUiFontSet m_fonts;

  static constexpr int kStatusColumn = 3;
  static constexpr int kPercentColumn = 2;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  void OnTimer(UINT_PTR id) override;

 private:
  void StartFileTransfer();
  // The table could not be had or the run refused to start: every server's row failed, and OK shows.
  void FailEveryRow();
  void InsertRow(int row, LPCSTR ip, LPCSTR status);
  void RefreshProgress();
  void OnOKButton();
  LRESULT OnUpgradeFWStatus(WPARAM ipBlock, LPARAM result);

  const SelectedServerList* m_pSelectedServers = nullptr;
  DialogServices m_services;
};

class CUpgradeFirmwareDlg : public CNewDialog {
 public:
  explicit CUpgradeFirmwareDlg(CWnd* parent = nullptr, DialogServices services = DialogServices());
  const mfc::MessageMap* GetMessageMap() const override;
  // Esc does not close the dialog.
  BOOL PreTranslateMessage(MSG* msg) override;

  // The path the Open dialog gave: split into folder and file name, its size read; FALSE (nothing chosen)
  // when the file cannot be opened.
  BOOL TakeImagePath(const CString& path);

  BOOL StartTftpServer();
  BOOL StopTftpServer();
  BOOL IsTftpServerRunning();

  DWORD m_bImageChosen = 0;
  ULONGLONG m_nImageSize = 0;
  CString m_strImageFileName;
  CString m_strImageFolder;
  CEdit m_edtPath;
  CString m_strPath;
  CShadedButton m_btnTransfer;
  CShadedButton m_btnCancel;
  CShadedButton m_btnBrowse;
  const SelectedServerList* m_pSelectedServers = nullptr;  // the document's, set by the opener
  CTftpServerControl m_Tftp;
  // The status dialog's result of the last run (-1 when none ran).
  INT_PTR m_nStatusResult = -1;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override { OnTransfer(); }
  // The status dialog of a run; tests give their own.
  virtual INT_PTR RunStatusDialog(CUpgradeFWStatusDlg& status) { return status.DoModal(); }

 private:
  void OnBrowse();
  void OnTransfer();
  void OnCancelButton() { EndDialog(IDCANCEL); }
  void Tell(LPCSTR text, UINT style);

  DialogServices m_services;
};
