#include "mfc/controls.h"

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)

namespace {

HWND MakeControl(LPCSTR className, LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  tavrin::controls::RegisterStandardControls();
  return ::CreateWindowEx(0, className, text, style, rect.left, rect.top, rect.right - rect.left,
                          rect.bottom - rect.top, parent ? parent->GetSafeHwnd() : nullptr,
                          reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
}

}  // namespace

BOOL CButton::Create(LPCSTR caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeControl("Button", caption, style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
UINT CButton::GetState() const { return static_cast<UINT>(::SendMessage(m_hWnd, BM_GETSTATE, 0, 0)); }
void CButton::SetState(BOOL highlight) { ::SendMessage(m_hWnd, BM_SETSTATE, highlight, 0); }
int CButton::GetCheck() const { return static_cast<int>(::SendMessage(m_hWnd, BM_GETCHECK, 0, 0)); }
void CButton::SetCheck(int check) { ::SendMessage(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(check), 0); }
UINT CButton::GetButtonStyle() const { return static_cast<UINT>(GetStyle() & 0xFFFF); }
void CButton::SetButtonStyle(UINT style, BOOL redraw) { ::SendMessage(m_hWnd, BM_SETSTYLE, style, redraw); }
void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    if (result) *result = TRUE;
    return TRUE;
  }
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}

BOOL CStatic::Create(LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeControl("Static", text, style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
  return CreateEx(0, "", WS_POPUP | style, 0, 0, 0, 0, parent ? parent->GetSafeHwnd() : nullptr, 0);
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, LPCSTR text) {
  if (!m_hWnd || !tool) return FALSE;
  tools_[tool->GetSafeHwnd()] = CString(text ? text : "");
  return TRUE;
}

void CToolTipCtrl::UpdateTipText(LPCSTR text, CWnd* tool) {
  if (!tool) return;
  auto it = tools_.find(tool->GetSafeHwnd());
  if (it != tools_.end()) it->second = CString(text ? text : "");
}

CString CToolTipCtrl::GetToolText(CWnd* tool) const {
  if (!tool) return CString();
  auto it = tools_.find(tool->GetSafeHwnd());
  return it == tools_.end() ? CString() : it->second;
}

void CToolTipCtrl::RelayEvent(LPMSG msg) {
  if (!msg) return;
  ++relayed_;
  if (msg->message == WM_LBUTTONDOWN) shown_ = false;
}
