#include "mfc/propsheet.h"

#include "dialog_internal.h"
#include "win32/controls.h"

IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)
IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

namespace {
constexpr UINT kTabId = 0x3020;
}

CPropertyPage::CPropertyPage(UINT idTemplate, UINT captionId) : CDialog(idTemplate) {
  if (captionId) m_strCaption.LoadString(captionId);
  else m_strCaption = mfc::detail::DialogTemplateTitle(m_lpszTemplateName).c_str();
}

BOOL CPropertyPage::OnSetActive() {
  if (firstActive_) {
    firstActive_ = false;
    return TRUE;
  }
  return UpdateData(FALSE);
}

BOOL CPropertyPage::OnKillActive() { return UpdateData(TRUE); }

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage) : parent_(parent), startPage_(selectPage) {
  m_strCaption.LoadString(captionId);
}
CPropertySheet::CPropertySheet(LPCSTR caption, CWnd* parent, UINT selectPage)
    : m_strCaption(caption), parent_(parent), startPage_(selectPage) {}

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (!page) return;
  pages_.push_back(page);
  if (tabs_) {
    TCITEM tc{TCIF_TEXT, 0, 0, const_cast<LPSTR>(static_cast<LPCSTR>(page->m_strCaption)), 0, -1, 0};
    ::SendMessage(tabs_, TCM_INSERTITEM, pages_.size() - 1, reinterpret_cast<LPARAM>(&tc));
  }
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(CPropertyPage* page) const {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i] == page) return static_cast<int>(i);
  return -1;
}

BOOL CPropertySheet::Create(CWnd* parent, DWORD style, int width, int height) {
  if (parent) parent_ = parent;
  if (!CreateEx(WS_EX_CONTROLPARENT, m_strCaption, style, 0, 0, width, height, parent_ ? parent_->GetSafeHwnd() : nullptr,
                0))
    return FALSE;
  tavrin::controls::RegisterTabControl();
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  tabs_ = ::CreateWindowEx(0, WC_TABCONTROL, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 4, 4, client.right - 8,
                           client.bottom - 8, m_hWnd, reinterpret_cast<HMENU>(static_cast<uintptr_t>(kTabId)), nullptr,
                           nullptr);
  for (size_t i = 0; i < pages_.size(); ++i) {
    TCITEM tc{TCIF_TEXT, 0, 0, const_cast<LPSTR>(static_cast<LPCSTR>(pages_[i]->m_strCaption)), 0, -1, 0};
    ::SendMessage(tabs_, TCM_INSERTITEM, i, reinterpret_cast<LPARAM>(&tc));
  }
  if (startPage_ < pages_.size()) SetActivePage(static_cast<int>(startPage_));
  return tabs_ != nullptr;
}

// The tab control's display area, in the sheet's client coordinates.
RECT CPropertySheet::PageRect() const {
  RECT rc{};
  if (!tabs_) return rc;
  ::GetClientRect(tabs_, &rc);
  ::SendMessage(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&rc));
  ::MapWindowPoints(tabs_, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

BOOL CPropertySheet::SetActivePage(int index) {
  CPropertyPage* page = GetPage(index);
  if (!page) return FALSE;
  if (!m_hWnd) {  // before Create: where the sheet starts
    startPage_ = static_cast<UINT>(index);
    return TRUE;
  }
  CPropertyPage* current = GetPage(active_);
  if (current && current != page && current->GetSafeHwnd() && !current->OnKillActive()) {
    ::SendMessage(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(active_), 0);
    return FALSE;
  }
  if (page->HasTemplate() && !page->GetSafeHwnd()) {
    if (!mfc::detail::CreateChildDialog(page, page->m_lpszTemplateName, m_hWnd, 0, 0)) return FALSE;
    RECT rc = PageRect();
    ::SetWindowPos(page->GetSafeHwnd(), tabs_, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOACTIVATE);
  }
  if (page->GetSafeHwnd() && !page->OnSetActive()) return FALSE;
  if (current && current != page && current->GetSafeHwnd()) ::ShowWindow(current->GetSafeHwnd(), SW_HIDE);
  active_ = index;
  if (static_cast<int>(::SendMessage(tabs_, TCM_GETCURSEL, 0, 0)) != index)
    ::SendMessage(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  if (page->GetSafeHwnd()) ::ShowWindow(page->GetSafeHwnd(), SW_SHOWNA);
  return TRUE;
}

LRESULT CPropertySheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PSM_GETTABCONTROL) return reinterpret_cast<LRESULT>(tabs_);
  if (message == WM_NOTIFY && lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
      int chosen = static_cast<int>(::SendMessage(tabs_, TCM_GETCURSEL, 0, 0));
      if (chosen != active_) SetActivePage(chosen);
    }
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

BOOL CPropertySheet::PreTranslateMessage(MSG* msg) {
  if (!m_hWnd || !msg || (GetStyle() & WS_CHILD)) return FALSE;
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  return ::IsDialogMessage(m_hWnd, msg);
}
