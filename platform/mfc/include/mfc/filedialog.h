// CFileDialog: the common Save As / Open dialog (GetSaveFileName / GetOpenFileName), its filter given in
// the "Description|*.ext||" form.
#pragma once
#include <vector>

#include "mfc/dialog.h"
#include "win32/commdlg.h"

class CFileDialog : public CDialog {
 public:
  CFileDialog(BOOL openFileDialog, LPCSTR defaultExt, LPCSTR fileName, DWORD flags, LPCSTR filter,
              CWnd* parent = nullptr);
  INT_PTR DoModal() override;
  CString GetPathName() const { return m_path; }
  CString GetFileName() const;

  OPENFILENAME m_ofn{};

 private:
  BOOL m_open;
  CString m_defaultExt;
  std::vector<char> m_filter;  // '\0'-separated pairs
  std::vector<char> m_file;
  CString m_path;
};
