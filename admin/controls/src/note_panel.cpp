#include "controls/note_panel.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CNotePanel, CWnd)

CNotePanel::CNotePanel()
    : m_cxIcon(::GetSystemMetrics(SM_CXICON)),
      m_cyIcon(::GetSystemMetrics(SM_CYICON)),
      m_cxEdge(::GetSystemMetrics(SM_CXEDGE)),
      m_clrBack(::GetSysColor(COLOR_WINDOW)) {}

CNotePanel::~CNotePanel() = default;

const mfc::MessageMap* CNotePanel::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {mfc::OnMessage<&CNotePanel::OnEraseBkgnd>(WM_ERASEBKGND)};
  static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
  return &map;
}

LRESULT CNotePanel::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

void CNotePanel::Changed() {
  if (m_hWnd) Invalidate(TRUE);
}

int CNotePanel::MinimumHeight() const {
  return std::max(m_cyIcon + 2 * m_nMargin + m_nSpacing, m_nTitleHeight + 2 * m_nMargin + m_nTextHeight + m_nSpacing + 2);
}

void CNotePanel::SetBkColor(COLORREF color) { m_clrBack = color; Changed(); }
void CNotePanel::SetHeight(int height) { m_nHeight = std::max(height, MinimumHeight()); Changed(); }
void CNotePanel::SetMargin(int margin) { m_nMargin = std::max(margin, 2); Changed(); }
void CNotePanel::SetTextLeft(int left) { m_nTextLeft = std::max(left, 2); Changed(); }
void CNotePanel::SetTextIndent(int indent) { m_nTextIndent = indent; Changed(); }
void CNotePanel::SetAlign(int align) { m_nAlign = align >= 0 && align <= 2 ? align : 0; Changed(); }
void CNotePanel::SetFontHeights(int title, int text) {
  m_nTitleHeight = title < 10 ? 12 : title;
  m_nTextHeight = text < 10 ? 12 : text;
  Changed();
}
void CNotePanel::SetIcon(HICON icon) { m_hIcon = icon; Changed(); }
void CNotePanel::SetTitle(LPCSTR title) { m_strTitle = title; Changed(); }
void CNotePanel::SetText(LPCSTR text) { m_strText = text; Changed(); }
void CNotePanel::SetContent(HICON icon, LPCSTR title, LPCSTR text) {
  m_hIcon = icon;
  m_strTitle = title;
  m_strText = text;
  Changed();
}

void CNotePanel::AttachToWindow(CWnd* host) {
  // Attached once: a second call would grow the host again.
  if (!host || !host->GetSafeHwnd() || m_hWnd) return;
  SetHeight(m_nHeight);
  CRect rc;
  host->GetWindowRect(&rc);
  host->SetWindowPos(nullptr, 0, 0, rc.Width(), rc.Height() + m_nHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateEx(0, "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, -1, -1, rc.Width(), m_nHeight, host->GetSafeHwnd(), 0);
}

void CNotePanel::ShiftHostControls(CWnd* host) {
  if (!host || !host->GetSafeHwnd()) return;
  for (HWND child = ::GetWindow(host->GetSafeHwnd(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (child == m_hWnd) continue;
    RECT rc;
    ::GetWindowRect(child, &rc);
    POINT topLeft{rc.left, rc.top};
    ::ScreenToClient(host->GetSafeHwnd(), &topLeft);
    ::SetWindowPos(child, nullptr, topLeft.x, topLeft.y + m_nHeight, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

CRect CNotePanel::TitleRect(const CRect& c) const {
  CRect t(c.left + m_nTextLeft, c.top + m_nMargin, c.right - m_nMargin - m_nSpacing, c.top + m_nMargin + m_nTitleHeight);
  // The title starts after the icon rather than over it.
  if (m_hIcon) t.left = std::max(t.left, c.left + m_nMargin + m_cxIcon + m_nMargin);
  if (m_nAlign == 1) t.right -= t.left - c.left;
  return t;
}

void CNotePanel::OnPaint() {
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  m_fontTitle.DeleteObject();
  m_fontText.DeleteObject();
  m_fontTitle.CreateFont(m_nTitleHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 6, "Tahoma");
  m_fontText.CreateFont(m_nTextHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 6, "Tahoma");
  CRect c;
  GetClientRect(&c);
  CDC* dc = CDC::FromHandle(hdc);
  dc->Draw3dRect(&c, ::GetSysColor(COLOR_BTNHIGHLIGHT), ::GetSysColor(COLOR_BTNSHADOW));
  dc->FillSolidRect(c.left, c.top, c.Width(), c.Height() - m_cxEdge, m_clrBack);
  if (m_hIcon) ::DrawIcon(hdc, m_nMargin, m_nMargin, m_hIcon);
  const UINT flags = static_cast<UINT>(m_nAlign) | DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS;
  CRect t = TitleRect(c);
  ::SetBkMode(hdc, TRANSPARENT);
  HGDIOBJ old = ::SelectObject(hdc, m_fontTitle.GetSafeHandle());
  ::DrawText(hdc, m_strTitle, -1, &t, flags);
  CRect body(t);
  if (m_nAlign == 0) body.left += m_nTextIndent;
  if (m_nAlign == 2) body.right -= m_nTextIndent;
  body.top = t.bottom;
  body.bottom = c.bottom;
  ::SelectObject(hdc, m_fontText.GetSafeHandle());
  ::DrawText(hdc, m_strText, -1, &body, flags);
  ::SelectObject(hdc, old);
  ::EndPaint(m_hWnd, &ps);
}
