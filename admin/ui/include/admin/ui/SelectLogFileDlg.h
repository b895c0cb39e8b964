// CSelectLogFileDlg ("Select File", dialog 285): asks for a new text file to save a log list into. The
// path is chosen only through "&Browse" (a Save As dialog); a file that exists already is refused.
#pragma once
#include "controls/shaded_button.h"
#include "mfc/dialog.h"

class CSelectLogFileDlg : public CDialog {
 public:
  explicit CSelectLogFileDlg(CWnd* parent = nullptr);

  CEdit m_edtFilePath;
  CShadedButton m_btnOK;
  CShadedButton m_btnCancel;
  CShadedButton m_btnBrowse;
  CString m_strFilePath;

  // "&Browse": the Save As dialog, then the chosen path unless its file exists.
  void OnBrowse();
  // "O&K": refused while no path is chosen.
  void OnOKCheck();

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnOK() override { OnOKCheck(); }
};
