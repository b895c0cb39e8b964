#include "mfc/filedialog.h"

#include <cstring>

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExt, LPCSTR fileName, DWORD flags, LPCSTR filter,
                         CWnd* parent)
    : CDialog(0u, parent), m_open(openFileDialog), m_defaultExt(defaultExt ? defaultExt : ""), m_file(MAX_PATH, '\0') {
  if (fileName) strncpy(m_file.data(), fileName, m_file.size() - 1);
  // "Text(*.txt)|*.txt||" becomes "Text(*.txt)\0*.txt\0\0".
  for (const char* c = filter ? filter : ""; *c; ++c) m_filter.push_back(*c == '|' ? '\0' : *c);
  m_filter.push_back('\0');
  m_filter.push_back('\0');
  m_ofn.lStructSize = sizeof m_ofn;
  m_ofn.Flags = flags;
  m_ofn.nFilterIndex = 1;
}

INT_PTR CFileDialog::DoModal() {
  m_ofn.hwndOwner = m_pParentWnd ? ::GetAncestor(m_pParentWnd->GetSafeHwnd(), GA_ROOT) : nullptr;
  m_ofn.lpstrFilter = m_filter.size() > 2 ? m_filter.data() : nullptr;
  m_ofn.lpstrFile = m_file.data();
  m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
  m_ofn.lpstrDefExt = m_defaultExt.IsEmpty() ? nullptr : m_defaultExt.GetString();
  const BOOL chosen = m_open ? ::GetOpenFileName(&m_ofn) : ::GetSaveFileName(&m_ofn);
  if (!chosen) return IDCANCEL;
  m_path = m_file.data();
  return IDOK;
}

CString CFileDialog::GetFileName() const {
  const int slash = m_path.ReverseFind('\\');
  return slash < 0 ? m_path : m_path.Mid(slash + 1);
}
