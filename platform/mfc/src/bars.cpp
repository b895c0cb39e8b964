#include "mfc/bars.h"

#include <cstring>

#include "win32/resources.h"

IMPLEMENT_DYNAMIC(CControlBar, CWnd)
IMPLEMENT_DYNAMIC(CToolBar, CControlBar)
IMPLEMENT_DYNAMIC(CStatusBar, CControlBar)

namespace {

constexpr int kGripperWidth = 8;
constexpr int kPanePadding = 6;  // around a pane's text
constexpr int kPaneGap = 2;
constexpr COLORREF kMapColour = RGB(192, 192, 192);

// The part of a command's string before (0) or after (1) its "\n".
CString StringPart(UINT id, int part) {
  CString full;
  if (!full.LoadString(id)) return CString();
  std::string text = static_cast<LPCSTR>(full);
  size_t newline = text.find('\n');
  if (part == 0) return CString(text.substr(0, newline).c_str());
  return newline == std::string::npos ? CString() : CString(text.substr(newline + 1).c_str());
}

}  // namespace

void CControlBar::SetBorders(int left, int top, int right, int bottom) { m_borders = RECT{left, top, right, bottom}; }

namespace mfc {

void RepositionBars(CWnd* parent, RECT& client) {
  if (!parent || !parent->GetSafeHwnd()) return;
  for (HWND child = ::GetWindow(parent->GetSafeHwnd(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    auto* bar = dynamic_cast<CControlBar*>(CWnd::FromHandlePermanent(child));
    // A bar of a hidden frame takes its place too (by its own style): the frame shows laid out.
    if (!bar || !(::GetWindowLongPtr(child, GWL_STYLE) & WS_VISIBLE)) continue;
    const DWORD align = bar->m_dwStyle & CBRS_ALIGN_ANY;
    const bool horizontal = (align & (CBRS_ALIGN_TOP | CBRS_ALIGN_BOTTOM)) != 0 || align == 0;
    CSize size = bar->CalcFixedLayout(TRUE, horizontal);
    if (align & CBRS_ALIGN_BOTTOM) {
      ::MoveWindow(child, client.left, client.bottom - size.cy, client.right - client.left, size.cy, TRUE);
      client.bottom -= size.cy;
    } else if (align & CBRS_ALIGN_LEFT) {
      ::MoveWindow(child, client.left, client.top, size.cx, client.bottom - client.top, TRUE);
      client.left += size.cx;
    } else if (align & CBRS_ALIGN_RIGHT) {
      ::MoveWindow(child, client.right - size.cx, client.top, size.cx, client.bottom - client.top, TRUE);
      client.right -= size.cx;
    } else {
      ::MoveWindow(child, client.left, client.top, client.right - client.left, size.cy, TRUE);
      client.top += size.cy;
    }
    if (client.bottom < client.top) client.bottom = client.top;
    if (client.right < client.left) client.right = client.left;
  }
}

}  // namespace mfc

// ---- CToolBar

CToolBar::~CToolBar() { ctrl_.m_hWnd = nullptr; }

void CToolBar::OnNcDestroy() {
  ctrl_.m_hWnd = nullptr;
  CControlBar::OnNcDestroy();
}

BOOL CToolBar::Create(CWnd* parent, DWORD style, UINT id) { return CreateEx(parent, 0, style, CRect(0, 0, 0, 0), id); }

BOOL CToolBar::CreateEx(CWnd* parent, DWORD ctrlStyle, DWORD style, CRect borders, UINT id) {
  m_dwStyle = style & CBRS_ALL;
  SetBorders(borders.left, borders.top, borders.right, borders.bottom);
  DWORD windowStyle = (style & ~CBRS_ALL) | ctrlStyle | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
  if (style & CBRS_TOOLTIPS) windowStyle |= TBSTYLE_TOOLTIPS;
  if (!mfc::CreateCommonControl(*this, TOOLBARCLASSNAME, "", windowStyle, CRect(0, 0, 0, 0), parent, id)) return FALSE;
  ctrl_.m_hWnd = m_hWnd;
  ctrl_.SetButtonStructSize(sizeof(TBBUTTON));
  ctrl_.SetOwner(parent);
  if (m_dwStyle & CBRS_GRIPPER) ::SendMessage(m_hWnd, TB_SETINDENT, kGripperWidth, 0);
  return TRUE;
}

CToolBarCtrl& CToolBar::GetToolBarCtrl() const {
  ctrl_.m_hWnd = m_hWnd;
  return ctrl_;
}

BOOL CToolBar::LoadBitmap(UINT resourceId) {
  if (!m_hWnd) return FALSE;
  HBITMAP bitmap = ::LoadBitmap(nullptr, MAKEINTRESOURCE(static_cast<WORD>(resourceId)));
  if (!bitmap) return FALSE;
  const int cx = bitmapSize_.cx, cy = bitmapSize_.cy;
  CImageList fresh;
  BOOL ok = fresh.Create(cx, cy, ILC_COLOR24 | ILC_MASK, 8, 8) && fresh.Add(CBitmap::FromHandle(bitmap), kMapColour) >= 0;
  ::DeleteObject(bitmap);
  if (!ok) return FALSE;
  GetToolBarCtrl().SetImageList(fresh.GetSafeHandle());
  images_.DeleteImageList();
  images_.Attach(fresh.Detach());
  Invalidate();
  return TRUE;
}

BOOL CToolBar::LoadToolBar(UINT resourceId) {
  if (!m_hWnd) return FALSE;
  HRSRC res = FindResource(nullptr, MAKEINTRESOURCE(static_cast<WORD>(resourceId)), RT_TOOLBAR);
  if (!res) return FALSE;
  const auto* words = static_cast<const WORD*>(LockResource(LoadResource(nullptr, res)));
  const DWORD bytes = SizeofResource(nullptr, res);
  if (!words || bytes < 8 || words[0] != 1) return FALSE;
  const WORD width = words[1], height = words[2], count = words[3];
  if (bytes < 8 + 2u * count || width == 0 || height == 0) return FALSE;
  std::vector<UINT> ids(words + 4, words + 4 + count);
  SetSizes(CSize(width + 7, height + 7), CSize(width, height));
  if (!SetButtons(ids.data(), static_cast<int>(ids.size()))) return FALSE;
  return LoadBitmap(resourceId);
}

void CToolBar::SetSizes(SIZE button, SIZE image) {
  bitmapSize_ = image;
  GetToolBarCtrl().SetBitmapSize(CSize(image.cx, image.cy));
  GetToolBarCtrl().SetButtonSize(CSize(button.cx, button.cy));
  if (images_.GetSafeHandle()) {
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images_.GetSafeHandle(), &cx, &cy);
    if (cx != image.cx || cy != image.cy) {
      GetToolBarCtrl().SetImageList(nullptr);
      images_.DeleteImageList();
    }
  }
}

BOOL CToolBar::SetButtons(const UINT* ids, int count) {
  if (!m_hWnd || count < 0) return FALSE;
  while (GetToolBarCtrl().GetButtonCount() > 0) GetToolBarCtrl().DeleteButton(0);
  std::vector<TBBUTTON> buttons(static_cast<size_t>(count));
  int image = 0;
  for (int i = 0; i < count; ++i) {
    TBBUTTON& b = buttons[static_cast<size_t>(i)];
    b = TBBUTTON{};
    const UINT id = ids ? ids[i] : 0;
    if (ids && id == ID_SEPARATOR) {
      b.fsStyle = TBSTYLE_SEP;
      b.iBitmap = 6;
    } else {
      b.idCommand = static_cast<int>(id);
      b.iBitmap = image++;
      b.fsState = TBSTATE_ENABLED;
      b.fsStyle = TBSTYLE_BUTTON;
    }
  }
  return count == 0 || GetToolBarCtrl().AddButtons(count, buttons.data());
}

int CToolBar::CommandToIndex(UINT id) const { return GetToolBarCtrl().CommandToIndex(id); }
UINT CToolBar::GetItemID(int index) const {
  TBBUTTON b{};
  if (!GetToolBarCtrl().GetButton(index, &b)) return 0;
  return (b.fsStyle & TBSTYLE_SEP) ? ID_SEPARATOR : static_cast<UINT>(b.idCommand);
}
void CToolBar::GetItemRect(int index, LPRECT rect) const {
  if (rect && !GetToolBarCtrl().GetItemRect(index, rect)) *rect = RECT{0, 0, 0, 0};
}
UINT CToolBar::GetButtonStyle(int index) const {
  TBBUTTON b{};
  if (!GetToolBarCtrl().GetButton(index, &b)) return 0;
  return static_cast<UINT>(b.fsStyle) | (static_cast<UINT>(b.fsState) << 16);
}
void CToolBar::SetButtonStyle(int index, UINT style) {
  TBBUTTON b{};
  if (!GetToolBarCtrl().GetButton(index, &b)) return;
  b.fsStyle = static_cast<BYTE>(style & 0xFF);
  b.fsState = static_cast<BYTE>((style >> 16) & 0xFF);
  GetToolBarCtrl().DeleteButton(index);
  GetToolBarCtrl().InsertButton(index, &b);
}
void CToolBar::GetButtonInfo(int index, UINT& id, UINT& style, int& image) const {
  TBBUTTON b{};
  GetToolBarCtrl().GetButton(index, &b);
  id = static_cast<UINT>(b.idCommand);
  style = static_cast<UINT>(b.fsStyle) | (static_cast<UINT>(b.fsState) << 16);
  image = b.iBitmap;
}
void CToolBar::SetButtonInfo(int index, UINT id, UINT style, int image) {
  TBBUTTON b{};
  if (!GetToolBarCtrl().GetButton(index, &b)) return;
  b.idCommand = static_cast<int>(id);
  b.fsStyle = static_cast<BYTE>(style & 0xFF);
  b.fsState = static_cast<BYTE>((style >> 16) & 0xFF);
  if (!(style >> 16)) b.fsState = TBSTATE_ENABLED;
  b.iBitmap = image;
  GetToolBarCtrl().DeleteButton(index);
  GetToolBarCtrl().InsertButton(index, &b);
}
int CToolBar::GetCount() const { return GetToolBarCtrl().GetButtonCount(); }

CSize CToolBar::CalcFixedLayout(BOOL, BOOL horizontal) {
  CSize button = GetToolBarCtrl().GetButtonSize();
  const int thickness = height_ > 0 ? height_ : button.cy + 4 + m_borders.top + m_borders.bottom;
  RECT parent{0, 0, 0, 0};
  if (HWND owner = ::GetParent(m_hWnd)) ::GetClientRect(owner, &parent);
  return horizontal ? CSize(parent.right, thickness) : CSize(button.cx + 4, parent.bottom);
}

BOOL CToolBar::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  auto* note = reinterpret_cast<const NMTBHOTITEM*>(lParam);
  if (message == WM_NOTIFY && note && note->hdr.code == TBN_HOTITEMCHANGE && (m_dwStyle & CBRS_FLYBY)) {
    HWND parent = ::GetParent(m_hWnd);
    HWND line = parent ? ::GetDlgItem(parent, static_cast<int>(AFX_IDW_STATUS_BAR)) : nullptr;
    if (auto* status = dynamic_cast<CStatusBar*>(CWnd::FromHandlePermanent(line)); status && status->GetCount() > 0) {
      CString text;
      if (note->idNew > 0) text = StringPart(static_cast<UINT>(note->idNew), 0);
      else if (!text.LoadString(AFX_IDS_IDLEMESSAGE)) text = "Ready";
      status->SetPaneText(0, text);
    }
  }
  return CControlBar::OnChildNotify(message, wParam, lParam, result);
}

LRESULT CToolBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) {
    // The tip asks for a button's text: the part of the command's string after "\n".
    auto* info = reinterpret_cast<NMTTDISPINFO*>(lParam);
    if (info && info->hdr.code == TTN_GETDISPINFOA) {
      CString tip = StringPart(static_cast<UINT>(info->hdr.idFrom), 1);
      std::string text = static_cast<LPCSTR>(tip);
      size_t n = std::min(text.size(), sizeof info->szText - 1);
      std::memcpy(info->szText, text.data(), n);
      info->szText[n] = 0;
      info->lpszText = info->szText;
      return TRUE;
    }
  }
  LRESULT result = CControlBar::WindowProc(message, wParam, lParam);
  if (message == WM_PAINT && (m_dwStyle & CBRS_GRIPPER) && m_hWnd) {
    // The gripper: two raised bars before the first button.
    HDC hdc = ::GetDC(m_hWnd);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    for (int bar = 0; bar < 2; ++bar) {
      RECT grip{2 + bar * 3, 3, 5 + bar * 3, client.bottom - 3};
      ::DrawEdge(hdc, &grip, BDR_RAISEDINNER, BF_RECT);
    }
    ::ReleaseDC(m_hWnd, hdc);
  }
  return result;
}

// ---- CStatusBar

CStatusBar::~CStatusBar() { ctrl_.m_hWnd = nullptr; }

void CStatusBar::OnNcDestroy() {
  ctrl_.m_hWnd = nullptr;
  CControlBar::OnNcDestroy();
}

BOOL CStatusBar::Create(CWnd* parent, DWORD style, UINT id) {
  m_dwStyle = style & CBRS_ALL;
  DWORD windowStyle = (style & ~CBRS_ALL) | CCS_NOPARENTALIGN | CCS_NORESIZE;
  if (parent && (parent->GetStyle() & WS_THICKFRAME)) windowStyle |= SBARS_SIZEGRIP;
  if (!mfc::CreateCommonControl(*this, STATUSCLASSNAME, "", windowStyle, CRect(0, 0, 0, 0), parent, id)) return FALSE;
  ctrl_.m_hWnd = m_hWnd;
  return TRUE;
}

CStatusBarCtrl& CStatusBar::GetStatusBarCtrl() const {
  ctrl_.m_hWnd = m_hWnd;
  return ctrl_;
}

BOOL CStatusBar::SetIndicators(const UINT* ids, int count) {
  if (!m_hWnd || count <= 0 || count > 256) return FALSE;
  panes_.assign(static_cast<size_t>(count), Pane{});
  HDC hdc = ::GetDC(m_hWnd);
  HGDIOBJ old = ::SelectObject(hdc, ::GetStockObject(DEFAULT_GUI_FONT));
  BOOL ok = TRUE;
  for (int i = 0; i < count; ++i) {
    Pane& pane = panes_[static_cast<size_t>(i)];
    pane.id = ids ? ids[i] : ID_SEPARATOR;
    if (pane.id == ID_SEPARATOR) {
      pane.width = 0;
      if (i == 0) pane.style = SBPS_NOBORDERS | SBPS_STRETCH;
      continue;
    }
    CString text;
    if (!text.LoadString(pane.id)) {
      ok = FALSE;
      continue;
    }
    pane.text = static_cast<LPCSTR>(text);
    SIZE size{0, 0};
    ::GetTextExtentPoint32(hdc, pane.text.c_str(), static_cast<int>(pane.text.size()), &size);
    pane.width = size.cx;
  }
  ::SelectObject(hdc, old);
  ::ReleaseDC(m_hWnd, hdc);
  UpdateParts();
  return ok;
}

void CStatusBar::UpdateParts() {
  if (!m_hWnd || panes_.empty()) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  int total = 0;
  for (const Pane& p : panes_) total += p.width + kPanePadding + kPaneGap;
  const int grip = (GetStyle() & SBARS_SIZEGRIP) ? kSizeGripWidth : 0;
  const int extra = std::max(0, static_cast<int>(client.right) - grip - total);
  std::vector<int> edges;
  int x = 0;
  bool stretched = false;
  for (const Pane& p : panes_) {
    int width = p.width + kPanePadding;
    if ((p.style & SBPS_STRETCH) && !stretched) {
      width += extra;
      stretched = true;
    }
    x += width;
    edges.push_back(x);
    x += kPaneGap;
  }
  GetStatusBarCtrl().SetParts(static_cast<int>(edges.size()), edges.data());
  for (size_t i = 0; i < panes_.size(); ++i) {
    const Pane& p = panes_[i];
    const int type = static_cast<int>(p.style & (SBPS_NOBORDERS | SBPS_POPOUT));
    GetStatusBarCtrl().SetText((p.style & SBPS_DISABLED) ? "" : p.text.c_str(), static_cast<int>(i), type);
  }
}

void CStatusBar::SetPaneInfo(int index, UINT id, UINT style, int width) {
  if (index < 0 || index >= GetCount()) return;
  Pane& p = panes_[static_cast<size_t>(index)];
  p.id = id;
  p.style = style;
  p.width = std::max(width, 0);
  UpdateParts();
}

void CStatusBar::GetPaneInfo(int index, UINT& id, UINT& style, int& width) const {
  if (index < 0 || index >= GetCount()) {
    id = style = 0;
    width = 0;
    return;
  }
  const Pane& p = panes_[static_cast<size_t>(index)];
  id = p.id;
  style = p.style;
  width = p.width;
}

UINT CStatusBar::GetPaneStyle(int index) const {
  return index >= 0 && index < GetCount() ? panes_[static_cast<size_t>(index)].style : 0;
}

void CStatusBar::SetPaneStyle(int index, UINT style) {
  if (index < 0 || index >= GetCount()) return;
  panes_[static_cast<size_t>(index)].style = style;
  UpdateParts();
}

BOOL CStatusBar::SetPaneText(int index, LPCSTR text, BOOL update) {
  if (index < 0 || index >= GetCount()) return FALSE;
  Pane& p = panes_[static_cast<size_t>(index)];
  if (m_hWnd && p.text == (text ? text : "")) return TRUE;  // as it stands: nothing to draw again
  p.text = text ? text : "";
  const int type = static_cast<int>(p.style & (SBPS_NOBORDERS | SBPS_POPOUT));
  GetStatusBarCtrl().SetText((p.style & SBPS_DISABLED) ? "" : p.text.c_str(), index, type);
  if (update) UpdateWindow();
  return TRUE;
}

CString CStatusBar::GetPaneText(int index) const {
  return index >= 0 && index < GetCount() ? CString(panes_[static_cast<size_t>(index)].text.c_str()) : CString();
}

int CStatusBar::CommandToIndex(UINT id) const {
  for (size_t i = 0; i < panes_.size(); ++i) {
    if (panes_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

UINT CStatusBar::GetItemID(int index) const {
  return index >= 0 && index < GetCount() ? panes_[static_cast<size_t>(index)].id : 0;
}

void CStatusBar::GetItemRect(int index, LPRECT rect) const {
  if (rect && !GetStatusBarCtrl().GetRect(index, rect)) *rect = RECT{0, 0, 0, 0};
}

CSize CStatusBar::CalcFixedLayout(BOOL, BOOL) {
  RECT parent{0, 0, 0, 0};
  if (HWND owner = ::GetParent(m_hWnd)) ::GetClientRect(owner, &parent);
  return CSize(parent.right, kStatusBarHeight);
}

LRESULT CStatusBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = CControlBar::WindowProc(message, wParam, lParam);
  if (message == WM_SIZE) UpdateParts();  // the stretching pane follows the width
  return result;
}
