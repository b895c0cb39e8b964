#include "mfc/controls.h"

#include "controls_internal.h"

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)
IMPLEMENT_DYNAMIC(CTabCtrl, CWnd)


BOOL CButton::Create(LPCSTR caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = mfc::detail::MakeControl("Button", caption, style, rect, parent, id);
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
  if (mfc::detail::DrawReflected(*this, message, lParam, result)) return TRUE;
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}

BOOL CStatic::Create(LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = mfc::detail::MakeControl("Static", text, style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
  tavrin::controls::RegisterCommonControls();
  HWND hwnd = ::CreateWindowEx(WS_EX_TOPMOST, TOOLTIPS_CLASS, "", WS_POPUP | style, 0, 0, 0, 0,
                               parent ? parent->GetSafeHwnd() : nullptr, nullptr, nullptr, nullptr);
  active_ = true;
  return hwnd && SubclassWindow(hwnd);
}

TOOLINFO CToolTipCtrl::ToolInfo(CWnd* tool, UINT_PTR id) const {
  TOOLINFO info{};
  info.cbSize = sizeof info;
  HWND window = tool ? tool->GetSafeHwnd() : nullptr;
  if (id == 0) {
    HWND parent = window ? ::GetParent(window) : nullptr;
    info.hwnd = parent ? parent : window;
    info.uFlags = TTF_IDISHWND;
    info.uId = reinterpret_cast<UINT_PTR>(window);
  } else {
    info.hwnd = window;
    info.uId = id;
  }
  return info;
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, LPCSTR text, LPCRECT rect, UINT_PTR id) {
  if (!m_hWnd || !tool) return FALSE;
  TOOLINFO info = ToolInfo(tool, id);
  if (rect) info.rect = *rect;
  else if (id != 0) ::GetClientRect(tool->GetSafeHwnd(), &info.rect);
  info.lpszText = const_cast<LPSTR>(text ? text : "");
  return static_cast<BOOL>(::SendMessage(m_hWnd, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, UINT textId, LPCRECT rect, UINT_PTR id) {
  CString text;
  text.LoadString(textId);
  return AddTool(tool, static_cast<LPCSTR>(text), rect, id);
}

void CToolTipCtrl::DelTool(CWnd* tool, UINT_PTR id) {
  if (!m_hWnd || !tool) return;
  TOOLINFO info = ToolInfo(tool, id);
  ::SendMessage(m_hWnd, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::UpdateTipText(LPCSTR text, CWnd* tool, UINT_PTR id) {
  if (!m_hWnd || !tool) return;
  TOOLINFO info = ToolInfo(tool, id);
  info.lpszText = const_cast<LPSTR>(text ? text : "");
  ::SendMessage(m_hWnd, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::SetToolRect(CWnd* tool, UINT_PTR id, LPCRECT rect) {
  if (!m_hWnd || !tool || !rect) return;
  TOOLINFO info = ToolInfo(tool, id);
  info.rect = *rect;
  ::SendMessage(m_hWnd, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&info));
}

CString CToolTipCtrl::GetToolText(CWnd* tool, UINT_PTR id) const {
  if (!m_hWnd || !tool) return CString();
  char buffer[1024] = {};
  TOOLINFO info = ToolInfo(tool, id);
  info.lpszText = buffer;
  ::SendMessage(m_hWnd, TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&info));
  return CString(buffer);
}

int CToolTipCtrl::GetToolCount() const { return static_cast<int>(::SendMessage(m_hWnd, TTM_GETTOOLCOUNT, 0, 0)); }

void CToolTipCtrl::Activate(BOOL activate) {
  active_ = activate != FALSE;
  if (m_hWnd) ::SendMessage(m_hWnd, TTM_ACTIVATE, activate, 0);
}

int CToolTipCtrl::SetMaxTipWidth(int width) {
  return static_cast<int>(::SendMessage(m_hWnd, TTM_SETMAXTIPWIDTH, 0, width));
}
int CToolTipCtrl::GetMaxTipWidth() const { return static_cast<int>(::SendMessage(m_hWnd, TTM_GETMAXTIPWIDTH, 0, 0)); }
void CToolTipCtrl::SetDelayTime(UINT delay) { ::SendMessage(m_hWnd, TTM_SETDELAYTIME, TTDT_AUTOMATIC, MAKELPARAM(static_cast<int>(delay), 0)); }
void CToolTipCtrl::SetDelayTime(DWORD which, int delay) {
  ::SendMessage(m_hWnd, TTM_SETDELAYTIME, which, MAKELPARAM(delay, 0));
}
int CToolTipCtrl::GetDelayTime(DWORD which) const {
  return static_cast<int>(::SendMessage(m_hWnd, TTM_GETDELAYTIME, which, 0));
}
void CToolTipCtrl::SetTipBkColor(COLORREF color) { ::SendMessage(m_hWnd, TTM_SETTIPBKCOLOR, color, 0); }
void CToolTipCtrl::SetTipTextColor(COLORREF color) { ::SendMessage(m_hWnd, TTM_SETTIPTEXTCOLOR, color, 0); }

void CToolTipCtrl::Pop() {
  ++pops_;
  if (m_hWnd) ::SendMessage(m_hWnd, TTM_POP, 0, 0);
}

void CToolTipCtrl::RelayEvent(LPMSG msg) {
  if (!msg) return;
  ++relayed_;
  if (m_hWnd) ::SendMessage(m_hWnd, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
}

BOOL CTabCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = mfc::detail::MakeControl(WC_TABCONTROL, "", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}

int CTabCtrl::InsertItem(int item, LPCSTR text, int image) {
  TCITEM tc{};
  tc.mask = TCIF_TEXT | (image >= 0 ? TCIF_IMAGE : 0);
  tc.pszText = const_cast<LPSTR>(text ? text : "");
  tc.iImage = image;
  return static_cast<int>(::SendMessage(m_hWnd, TCM_INSERTITEM, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&tc)));
}
BOOL CTabCtrl::GetItem(int item, TCITEM* tcItem) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, TCM_GETITEM, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(tcItem)));
}
int CTabCtrl::GetItemCount() const { return static_cast<int>(::SendMessage(m_hWnd, TCM_GETITEMCOUNT, 0, 0)); }
BOOL CTabCtrl::GetItemRect(int item, LPRECT rect) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, TCM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(rect)));
}
int CTabCtrl::GetCurSel() const { return static_cast<int>(::SendMessage(m_hWnd, TCM_GETCURSEL, 0, 0)); }
int CTabCtrl::SetCurSel(int item) {
  return static_cast<int>(::SendMessage(m_hWnd, TCM_SETCURSEL, static_cast<WPARAM>(item), 0));
}
void CTabCtrl::AdjustRect(BOOL larger, LPRECT rect) {
  ::SendMessage(m_hWnd, TCM_ADJUSTRECT, static_cast<WPARAM>(larger), reinterpret_cast<LPARAM>(rect));
}
CImageList* CTabCtrl::GetImageList() const {
  auto list = reinterpret_cast<HIMAGELIST>(::SendMessage(m_hWnd, TCM_GETIMAGELIST, 0, 0));
  return list ? CImageList::FromHandle(list) : nullptr;
}
CImageList* CTabCtrl::SetImageList(CImageList* images) {
  auto old = reinterpret_cast<HIMAGELIST>(::SendMessage(
      m_hWnd, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images ? images->GetSafeHandle() : nullptr)));
  return old ? CImageList::FromHandle(old) : nullptr;
}
DWORD CTabCtrl::SetExtendedStyle(DWORD newStyle, DWORD exMask) {
  return static_cast<DWORD>(::SendMessage(m_hWnd, TCM_SETEXTENDEDSTYLE, exMask, static_cast<LPARAM>(newStyle)));
}
BOOL CTabCtrl::DeleteAllItems() { return static_cast<BOOL>(::SendMessage(m_hWnd, TCM_DELETEALLITEMS, 0, 0)); }
void CTabCtrl::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CTabCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (mfc::detail::DrawReflected(*this, message, lParam, result)) return TRUE;
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}

IMPLEMENT_DYNAMIC(CHeaderCtrl, CWnd)

BOOL CHeaderCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  tavrin::controls::RegisterListControls();
  HWND hwnd = mfc::detail::MakeControl(WC_HEADER, "", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
int CHeaderCtrl::GetItemCount() const { return static_cast<int>(::SendMessage(m_hWnd, HDM_GETITEMCOUNT, 0, 0)); }
int CHeaderCtrl::InsertItem(int pos, HDITEM* item) {
  return static_cast<int>(::SendMessage(m_hWnd, HDM_INSERTITEM, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(item)));
}
BOOL CHeaderCtrl::GetItem(int pos, HDITEM* item) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, HDM_GETITEM, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(item)));
}
BOOL CHeaderCtrl::SetItem(int pos, HDITEM* item) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, HDM_SETITEM, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(item)));
}
BOOL CHeaderCtrl::GetItemRect(int pos, LPRECT rect) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, HDM_GETITEMRECT, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(rect)));
}
void CHeaderCtrl::DrawItem(LPDRAWITEMSTRUCT) {}
BOOL CHeaderCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (mfc::detail::DrawReflected(*this, message, lParam, result)) return TRUE;
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}

