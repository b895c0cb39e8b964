#include "admin/ui/dialogs/DialogServices.h"

CString LoadedText(UINT id) {
  CString text;
  text.LoadString(id);
  return text;
}

int DialogServices::ShowMessageBox(LPCSTR text, UINT style) const {
  if (m_pPanes) return m_pPanes->ShowMessageBox(text, style);
  return ::MessageBox(nullptr, text, "Pelko Admin", style);
}

BOOL DialogServices::OpenWaitWindow(LPCSTR text, int kind) const {
  return m_pPanes ? m_pPanes->OpenWaitWindow(text, kind) : TRUE;
}

void DialogServices::CloseWaitWindow() const {
  if (m_pPanes) m_pPanes->CloseWaitWindow();
}

void DialogServices::AddServerManagerLog(LPCSTR text) const {
  if (m_pPanes) m_pPanes->AddServerManagerLog(text);
}

HWND DialogServices::GetMainWindow() const { return m_pPanes ? m_pPanes->GetMainWindow() : nullptr; }
