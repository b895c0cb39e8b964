#include "admin/menus/NewDialog.h"

#include <strings.h>

#include "mfc/cmdui.h"
#include "win32/resources.h"
#include "win32/windows.h"

IMPLEMENT_DYNAMIC(CNewDialog, CDialog)

CNewDialog::CNewDialog(LPCSTR templateName, CWnd* parent) {
  m_lpszTemplateName = templateName;
  m_pParentWnd = parent;
  if (IS_INTRESOURCE(templateName)) m_nIDHelp = static_cast<UINT>(reinterpret_cast<UINT_PTR>(templateName));
}

CNewDialog::CNewDialog(UINT idTemplate, CWnd* parent)
    : CNewDialog(MAKEINTRESOURCE(static_cast<WORD>(idTemplate)), parent) {}

const mfc::MessageMap* CNewDialog::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CNewDialog::OnInitMenuPopupDialog>(WM_INITMENUPOPUP),
  };
  static const mfc::MessageMap map{CMenuHostFrame<CDialog>::GetMessageMap(), entries};
  return &map;
}

BOOL CNewDialog::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  HMENU system = ::GetSystemMenu(m_hWnd, FALSE);
  if (m_SystemNewMenu.m_hMenu) {
    HMENU old = m_SystemNewMenu.Detach();
    if (old != system && ::IsMenu(old) && !::DestroyMenu(old)) CNewMenuGlobalState::ShowLastError();
  }
  m_SystemNewMenu.Attach(system);
  if (HMENU bar = ::GetMenu(m_hWnd)) SetMenuBarBackground(bar);
  return result;
}

LRESULT CNewDialog::OnInitMenuPopupDialog(WPARAM wParam, LPARAM lParam) {
  AfxCancelModes(m_hWnd);
  if (!HIWORD(lParam)) AfxUpdateMenuPopup(this, CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), TRUE);
  return OnInitMenuPopupMessage(wParam, lParam);
}

namespace {

bool IsComboBox(HWND hwnd) {
  char name[16] = {};
  return hwnd && ::GetClassName(hwnd, name, sizeof name) && strcasecmp(name, "ComboBox") == 0;
}

}  // namespace

void AfxCancelModes(HWND receiver) {
  // A combo box of another window with its list dropped (the focus in it or in its edit) closes the list.
  HWND cancel = ::GetFocus();
  if (!cancel || cancel == receiver) return;
  if (!IsComboBox(cancel)) {
    cancel = ::GetParent(cancel);
    if (cancel == receiver || !IsComboBox(cancel)) return;
  }
  ::SendMessage(cancel, CB_SHOWDROPDOWN, FALSE, 0);
}
