#include "controls/colored_tabs.h"

#include <algorithm>
#include <cstring>
#include <vector>

IMPLEMENT_DYNAMIC(CColoredTabCtrlBase, CTabCtrl)
IMPLEMENT_DYNAMIC(CColoredTabCtrl, CColoredTabCtrlBase)
IMPLEMENT_DYNCREATE(CColoredTabsPropSheet, CPropertySheet)

namespace {

void Line(HDC hdc, COLORREF color, int x0, int y0, int x1, int y1) {
  HPEN pen = ::CreatePen(PS_SOLID, 1, color);
  HGDIOBJ old = ::SelectObject(hdc, pen);
  ::MoveToEx(hdc, x0, y0, nullptr);
  ::LineTo(hdc, x1, y1);
  ::SelectObject(hdc, old);
  ::DeleteObject(pen);
}

void Fill(HDC hdc, int l, int t, int r, int b, COLORREF color) {
  HBRUSH brush = ::CreateSolidBrush(color);
  RECT rc{l, t, r, b};
  ::FillRect(hdc, &rc, brush);
  ::DeleteObject(brush);
}

}  // namespace

// ---- CColoredTabCtrlBase ----

CColoredTabCtrlBase::CColoredTabCtrlBase(int paintMode) { SetPaintMode(paintMode); }

const mfc::MessageMap* CColoredTabCtrlBase::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {mfc::OnMessage<&CColoredTabCtrlBase::OnEraseBkgnd>(WM_ERASEBKGND)};
  static const mfc::MessageMap map{CTabCtrl::GetMessageMap(), entries};
  return &map;
}

void CColoredTabCtrlBase::SetBkgndColor(COLORREF color) {
  m_clrBkgnd = color;
  if (m_hWnd) Invalidate(TRUE);
}

BOOL CColoredTabCtrlBase::SetPaintMode(int mode) {
  if (mode < 0 || mode > 2) return FALSE;
  m_nPaintMode = mode;
  if (m_hWnd) {
    if (mode == 0) {
      ModifyStyle(TCS_OWNERDRAWFIXED, 0);
    } else {
      ModifyStyle(0, TCS_OWNERDRAWFIXED);
    }
    Invalidate(TRUE);
  }
  return TRUE;
}

COLORREF CColoredTabCtrlBase::GetTabBackColor(BOOL) { return ::GetSysColor(COLOR_BTNFACE); }
COLORREF CColoredTabCtrlBase::GetTabTextColor(BOOL) { return ::GetSysColor(COLOR_WINDOWTEXT); }

void CColoredTabCtrlBase::PreSubclassWindow() {
  CTabCtrl::PreSubclassWindow();
  if (m_nPaintMode != 0) ModifyStyle(0, TCS_OWNERDRAWFIXED);
}

LRESULT CColoredTabCtrlBase::OnEraseBkgnd(WPARAM wParam, LPARAM lParam) {
  DefWindowProc(WM_ERASEBKGND, wParam, lParam);
  return TRUE;
}

void CColoredTabCtrlBase::OnPaint() {
  if (m_nPaintMode != 2) {
    DefWindowProc(WM_PAINT, 0, 0);
    return;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  HGDIOBJ oldFont = nullptr;
  if (auto font = reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT))) oldFont = ::SelectObject(hdc, font);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_TAB;
  item.CtlID = static_cast<UINT>(GetDlgCtrlID());
  item.hwndItem = m_hWnd;
  item.hDC = hdc;
  item.itemAction = ODA_DRAWENTIRE;
  CRect client;
  GetClientRect(&client);
  CRect display(client);
  AdjustRect(FALSE, &display);
  item.rcItem = client;
  item.rcItem.top = display.top - 2;
  DrawControlBorder(&item);
  const int selected = GetCurSel();
  for (int i = GetItemCount() - 1; i >= 0; --i) {
    if (i == selected) continue;
    item.itemID = static_cast<UINT>(i);
    item.itemState = 0;
    GetItemRect(i, &item.rcItem);
    item.rcItem.bottom -= 2;
    DrawItem(&item);
    DrawTabBorder(&item);
  }
  if (selected >= 0 && selected < GetItemCount()) {
    item.itemID = static_cast<UINT>(selected);
    item.itemState = ODS_SELECTED;
    GetItemRect(selected, &item.rcItem);
    item.rcItem.bottom += 2;
    item.rcItem.top -= 2;
    DrawItem(&item);
    DrawTabBorder(&item);
  }
  if (oldFont) ::SelectObject(hdc, oldFont);
  ::EndPaint(m_hWnd, &ps);
}

// ---- CColoredTabCtrl ----

const mfc::MessageMap* CColoredTabCtrl::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnReflect<&CColoredTabCtrl::OnCtlColor>(WM_CTLCOLORSTATIC),
      mfc::OnReflect<&CColoredTabCtrl::OnCtlColor>(WM_CTLCOLORDLG),
      mfc::OnReflect<&CColoredTabCtrl::OnCtlColor>(WM_CTLCOLORBTN),
  };
  static const mfc::MessageMap map{CColoredTabCtrlBase::GetMessageMap(), entries};
  return &map;
}

void CColoredTabCtrl::EnableCustomDraw(BOOL enable, DWORD flags) { g_dwTabDrawFlags = enable ? flags : 0; }

COLORREF CColoredTabCtrl::DarkenColor(COLORREF color, float factor) {
  if (factor >= 1.0f) factor = 1.0f;
  if (factor <= 0.0f) factor = 0.0f;
  auto ch = [factor](int c) { return static_cast<int>(static_cast<float>(c) * factor); };
  return RGB(ch(GetRValue(color)), ch(GetGValue(color)), ch(GetBValue(color)));
}

COLORREF CColoredTabCtrl::LightenColor(COLORREF color, float factor) {
  if (factor <= 1.0f) factor = 1.0f;
  auto ch = [factor](int c) { return std::min(static_cast<int>(static_cast<float>(c) * factor), 255); };
  return RGB(ch(GetRValue(color)), ch(GetGValue(color)), ch(GetBValue(color)));
}

COLORREF CColoredTabCtrl::OwnColor() const {
  return m_clrBkgnd == 0xFFFFFFFF ? ::GetSysColor(COLOR_BTNFACE) : m_clrBkgnd;
}

COLORREF CColoredTabCtrl::GetTabBackColor(BOOL selected) {
  const DWORD f = g_dwTabDrawFlags;
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  if (selected) return (f & 4) ? LightenColor((f & 2) ? OwnColor() : face, 1.4f) : face;
  if (!(f & 16) && (f & 1)) return OwnColor();
  return DarkenColor((f & 2) && m_clrBkgnd != 0xFFFFFFFF ? m_clrBkgnd : face, 0.9f);
}

COLORREF CColoredTabCtrl::GetTabTextColor(BOOL selected) {
  const DWORD f = g_dwTabDrawFlags;
  if (selected) return ::GetSysColor(COLOR_WINDOWTEXT);
  return DarkenColor((f & 3) == 0 ? ::GetSysColor(COLOR_BTNFACE) : OwnColor(), 0.5f);
}

void CColoredTabCtrl::PreSubclassWindow() {
  CColoredTabCtrlBase::PreSubclassWindow();
  ::SendMessage(m_hWnd, TCM_SETEXTENDEDSTYLE, 0, TCS_EX_FLATSEPARATORS);
  if (g_dwTabDrawFlags) ModifyStyle(0, TCS_OWNERDRAWFIXED);
}

LRESULT CColoredTabCtrl::OnCtlColor(WPARAM wParam, LPARAM) {
  HDC hdc = reinterpret_cast<HDC>(wParam);
  LRESULT brush = reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
  ::SetBkMode(hdc, TRANSPARENT);
  ::SetBkColor(hdc, g_clrControlBack);
  return brush;
}

void CColoredTabCtrl::DrawItem(LPDRAWITEMSTRUCT item) {
  if (!item) return;
  HDC hdc = item->hDC;
  CImageList* images = GetImageList();
  const bool selected = static_cast<int>(item->itemID) == GetCurSel();
  CRect face(item->rcItem);
  face.bottom += selected ? -1 : 2;
  const COLORREF start = selected ? 0xF7F3F7 : g_clrControlBack;
  if ((g_dwTabDrawFlags & 8) && ::GetDeviceCaps(hdc, BITSPIXEL) >= 16) {
    const int h = face.Height();
    const COLORREF end = g_clrControlBack;
    auto ch = [h](int s, int e, int y) { return s + (y * (e - s)) / h; };
    for (int y = 0; y < h; y += 2) {
      COLORREF band = RGB(ch(GetRValue(start), GetRValue(end), y), ch(GetGValue(start), GetGValue(end), y),
                          ch(GetBValue(start), GetBValue(end), y));
      // The last band of an odd height is one pixel: it stays inside the face.
      Fill(hdc, face.left, face.top + y, face.right, face.top + std::min(y + 2, h), band);
    }
  } else {
    Fill(hdc, face.left, face.top, face.right, face.bottom, start);
  }

  CRect text(item->rcItem);
  text.left += 3;
  text.top += selected ? 4 : 3;
  ::SetBkMode(hdc, TRANSPARENT);
  char caption[100] = {};
  TCITEM tc{};
  tc.mask = TCIF_TEXT | TCIF_IMAGE;
  tc.pszText = caption;
  tc.cchTextMax = 99;
  GetItem(static_cast<int>(item->itemID), &tc);
  if (images && images->GetSafeHandle()) {
    ImageList_Draw(images->GetSafeHandle(), tc.iImage, hdc, text.left, text.top, ILD_TRANSPARENT);
    text.left += 19;
  }
  text.right -= 3;
  // The caption cut to the width with an ellipsis (room for it added to the buffer).
  std::vector<char> fitted(std::strlen(caption) + 5, 0);
  std::memcpy(fitted.data(), caption, std::strlen(caption));
  RECT measure{0, 0, text.Width(), 20};
  ::DrawText(hdc, fitted.data(), -1, &measure, DT_CALCRECT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING);
  ::SetTextColor(hdc, g_clrControlText);
  ::DrawText(hdc, fitted.data(), -1, &text, DT_CENTER | DT_NOPREFIX);
}

void CColoredTabCtrl::DrawTabBorder(LPDRAWITEMSTRUCT item) {
  if (!item) return;
  const bool selected = (item->itemState & ODS_SELECTED) != 0;
  const COLORREF back = GetTabBackColor(selected);
  const COLORREF light = LightenColor(back, 1.5f), dark = DarkenColor(back, 0.75f);
  int l = item->rcItem.left, t = item->rcItem.top, r = item->rcItem.right, b = item->rcItem.bottom;
  HDC hdc = item->hDC;
  if (!selected && !(g_dwTabDrawFlags & 16)) {
    Line(hdc, dark, l - 1, t, l - 1, b);
    Line(hdc, dark, r - 1, t, r - 1, b);
    return;
  }
  b += selected ? -1 : 1;
  Line(hdc, light, l, t, l, b);
  Line(hdc, light, l, t, r, t);
  Line(hdc, dark, r - 1, t, r - 1, b);
}

void CColoredTabCtrl::DrawControlBorder(LPDRAWITEMSTRUCT item) {
  if (!item) return;
  const COLORREF back = GetTabBackColor(FALSE);
  CDC::FromHandle(item->hDC)->Draw3dRect(&item->rcItem, LightenColor(back, 1.5f), DarkenColor(back, 0.75f));
}

// ---- CColoredTabsPropSheet ----

CColoredTabsPropSheet::CColoredTabsPropSheet() = default;
CColoredTabsPropSheet::CColoredTabsPropSheet(UINT captionId, CWnd* parent, UINT selectPage)
    : CPropertySheet(captionId, parent, selectPage) {}
CColoredTabsPropSheet::CColoredTabsPropSheet(LPCSTR caption, CWnd* parent, UINT selectPage)
    : CPropertySheet(caption, parent, selectPage) {}
CColoredTabsPropSheet::~CColoredTabsPropSheet() {
  if (m_tabCtrl.GetSafeHwnd()) m_tabCtrl.DestroyWindow();
}

void CColoredTabsPropSheet::OnPaint() {
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  m_tabCtrl.SetBkgndColor(g_clrControlBack);
  m_tabCtrl.SetPaintMode(m_bPaintWholeTabCtrl ? 2 : 1);
  if (!m_tabCtrl.GetSafeHwnd()) {
    if (auto tabs = reinterpret_cast<HWND>(SendMessage(PSM_GETTABCONTROL))) m_tabCtrl.SubclassWindow(tabs);
  }
  // The whole client area, whatever the sheet's size.
  CRect client;
  GetClientRect(&client);
  Fill(hdc, client.left, client.top, client.right, client.bottom, g_clrWindowBack);
  ::EndPaint(m_hWnd, &ps);
}
