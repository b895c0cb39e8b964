// CNoticeDlg (dialog 316): a modeless notice with a caption, a text and "OK", which leaves the rest of the
// program usable.
#pragma once
#include "mfc/dialog.h"

class CNoticeDlg : public CDialog {
 public:
  explicit CNoticeDlg(CWnd* parent = nullptr);
  void SetTexts(const CString& strCaption, const CString& strText);
  // Made modeless from dialog 316 without owner and shown.
  BOOL CreateAndShow();

  CString m_strText;
  CString m_strCaption;

 protected:
  BOOL OnInitDialog() override;
};
