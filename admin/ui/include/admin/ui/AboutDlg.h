// CAboutDlg: "About Pelko": the program's title, icon and the file version of the installed program.
#pragma once
#include "admin/menus/NewDialog.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"

// The program's icon in place of a static control.
class CProgramIconStatic : public CStatic {
 protected:
  void OnPaint() override;
};

class CAboutDlg : public CNewDialog {
 public:
  // versionText: the line the version control shows ("  Version 1.0.0.1\n", or empty).
  explicit CAboutDlg(LPCSTR versionText = "");
  ~CAboutDlg() override;

  CString m_strVersion;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;

 private:
  CStatic m_stcTitle;
  CShadedButton m_btnOK;
  CProgramIconStatic m_stcIcon;
  CUiFontSet m_fonts;
};
