// CFileDialog: the common Save As / Open dialog. Until it has a window of its own it answers Cancel, so a
// program that asks for a file goes on as if the person had cancelled.
#pragma once
#include "mfc/dialog.h"

constexpr DWORD OFN_HIDEREADONLY = 4;

class CFileDialog : public CDialog {
 public:
  CFileDialog(BOOL /*openFileDialog*/, LPCSTR /*defaultExt*/, LPCSTR fileName, DWORD /*flags*/, LPCSTR /*filter*/,
              CWnd* parent = nullptr)
      : CDialog(0u, parent), m_path(fileName ? fileName : "") {}
  INT_PTR DoModal() override { return IDCANCEL; }
  CString GetPathName() const { return m_path; }
  // Whether DoModal shows a window a person can answer.
  static bool HasWindow() { return false; }

 private:
  CString m_path;
};
