#include "controls/shaded_button.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "icon_loader.h"
#include "win32/crt.h"

using tavrin::CrtRand;

// ---- CButtonDib ----

CButtonDib::CButtonDib() { m_bi.biSize = sizeof(BITMAPINFOHEADER); }
CButtonDib::~CButtonDib() { Free(); }

void CButtonDib::Free() {
  std::free(m_pDib);
  m_pDib = nullptr;
}

BYTE* CButtonDib::Create(int width, int height, int bitCount) {
  Free();
  if (width <= 0 || height <= 0) return nullptr;
  WORD bits = bitCount < 2 ? 1 : bitCount <= 4 ? 4 : bitCount <= 8 ? 8 : 24;
  m_bi = BITMAPINFOHEADER{};
  m_bi.biSize = sizeof(BITMAPINFOHEADER);
  m_bi.biWidth = width;
  m_bi.biHeight = height;
  m_bi.biPlanes = 1;
  m_bi.biBitCount = bits;
  m_bi.biCompression = BI_RGB;
  m_dwLineWidth = static_cast<DWORD>((static_cast<uint64_t>(bits) * static_cast<uint64_t>(width) + 31) / 32 * 4);
  m_bi.biSizeImage = m_dwLineWidth * static_cast<DWORD>(height);
  m_wColors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  size_t size = sizeof(BITMAPINFOHEADER) + 4u * m_wColors + static_cast<size_t>(m_bi.biSizeImage);
  m_pDib = static_cast<BYTE*>(std::calloc(1, size));
  if (m_pDib) std::memcpy(m_pDib, &m_bi, sizeof m_bi);
  return m_pDib;
}

BYTE* CButtonDib::GetBits() const {
  return m_pDib ? m_pDib + sizeof(BITMAPINFOHEADER) + 4u * m_wColors : nullptr;
}

RGBQUAD* CButtonDib::GetPalette() const {
  return m_pDib && m_wColors ? reinterpret_cast<RGBQUAD*>(m_pDib + sizeof(BITMAPINFOHEADER)) : nullptr;
}

BOOL CButtonDib::Draw(HDC hdc, int x, int y) const {
  if (!m_pDib || !hdc) return FALSE;
  ::SetStretchBltMode(hdc, COLORONCOLOR);
  ::SetDIBitsToDevice(hdc, x, y, static_cast<DWORD>(m_bi.biWidth), static_cast<DWORD>(m_bi.biHeight), 0, 0, 0,
                      static_cast<UINT>(m_bi.biHeight), GetBits(), reinterpret_cast<const BITMAPINFO*>(m_pDib),
                      DIB_RGB_COLORS);
  return TRUE;
}

void CButtonDib::SetPaletteEntry(int index, BYTE red, BYTE green, BYTE blue) {
  RGBQUAD* palette = GetPalette();
  if (!palette || index < 0 || index >= m_wColors) return;
  palette[index] = RGBQUAD{blue, green, red, 0};
}

void CButtonDib::SetPixelIndex(int x, int y, BYTE index) {
  if (!m_pDib || !m_wColors || x < 0 || y < 0 || x >= m_bi.biWidth || y >= m_bi.biHeight) return;
  BYTE* row = GetBits() + static_cast<size_t>(m_bi.biHeight - y - 1) * m_dwLineWidth;
  switch (m_bi.biBitCount) {
    case 8:
      row[x] = index;
      break;
    case 4: {
      BYTE& b = row[x / 2];
      b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (index & 0x0F)) : static_cast<BYTE>((b & 0x0F) | (index << 4));
      break;
    }
    case 1: {
      BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
      row[x / 8] = index ? static_cast<BYTE>(row[x / 8] | mask) : static_cast<BYTE>(row[x / 8] & ~mask);
      break;
    }
    default:
      break;
  }
}

void CButtonDib::BlendPalette(COLORREF color, int percent) {
  RGBQUAD* palette = GetPalette();
  if (!palette) return;
  percent = std::clamp(percent, 0, 100);
  auto mix = [percent](int entry, int c) { return static_cast<BYTE>((entry * (100 - percent) + c * percent) / 100); };
  for (int i = 0; i < m_wColors; ++i) {
    palette[i].rgbRed = mix(palette[i].rgbRed, GetRValue(color));
    palette[i].rgbGreen = mix(palette[i].rgbGreen, GetGValue(color));
    palette[i].rgbBlue = mix(palette[i].rgbBlue, GetBValue(color));
  }
}

void CButtonDib::CopyFrom(const CButtonDib& other) {
  if (&other == this) return;
  if (!other.m_pDib) {
    Free();
    return;
  }
  if (!Create(other.GetWidth(), other.GetHeight(), other.GetBitCount())) return;
  std::memcpy(m_pDib, other.m_pDib, sizeof(BITMAPINFOHEADER) + 4u * m_wColors + m_bi.biSizeImage);
}

void CButtonDib::Fill(BYTE value) {
  if (m_pDib) std::memset(GetBits(), value, m_bi.biSizeImage);
}

// ---- CShadedButton ----

IMPLEMENT_DYNAMIC(CShadedButton, CButton)

CShadedButton::CShadedButton() : m_clrText(::GetSysColor(COLOR_BTNTEXT)) {}

CShadedButton::~CShadedButton() {
  DestroyIcons();
  delete m_pLF;
  if (m_tooltip.GetSafeHwnd()) m_tooltip.DestroyWindow();
}

const mfc::MessageMap* CShadedButton::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CShadedButton::OnEraseBkgnd>(WM_ERASEBKGND),
      mfc::OnMessage<&CShadedButton::OnLButtonDown>(WM_LBUTTONDOWN),
      mfc::OnMessage<&CShadedButton::OnLButtonUp>(WM_LBUTTONUP),
      mfc::OnMessage<&CShadedButton::OnMouseMove>(WM_MOUSEMOVE),
      mfc::OnMessage<&CShadedButton::OnLButtonDblClk>(WM_LBUTTONDBLCLK),
      mfc::OnMessage<&CShadedButton::OnMouseLeave>(WM_MOUSELEAVE),
      mfc::OnMessage<&CShadedButton::OnKillFocus>(WM_KILLFOCUS),
      mfc::OnMessage<&CShadedButton::OnKeyDown>(WM_KEYDOWN),
      mfc::OnMessage<&CShadedButton::OnSetCheck>(BM_SETCHECK),
      mfc::OnMessage<&CShadedButton::OnGetCheck>(BM_GETCHECK),
      mfc::OnMessage<&CShadedButton::OnUncheck>(WM_SHADED_UNCHECK),
  };
  static const mfc::MessageMap map{CButton::GetMessageMap(), entries};
  return &map;
}

const CButtonDib& CShadedButton::GetFace(int which) const {
  switch (which) {
    case 1: return m_dibDown;
    case 2: return m_dibDisabled;
    case 3: return m_dibOver;
    case 4: return m_dibHLine;
    case 5: return m_dibVLine;
    default: return m_dibNormal;
  }
}

void CShadedButton::DestroyIcons() {
  // The pressed and hover icons may be the normal one: each handle is destroyed once.
  if (m_hIconDown && m_hIconDown != m_hIcon) ::DestroyIcon(m_hIconDown);
  if (m_hIconHighlight && m_hIconHighlight != m_hIcon && m_hIconHighlight != m_hIconDown) {
    ::DestroyIcon(m_hIconHighlight);
  }
  if (m_hIcon) ::DestroyIcon(m_hIcon);
  m_hIcon = m_hIconDown = m_hIconHighlight = nullptr;
}

void CShadedButton::SetShade(UINT shadeType, BYTE granularity, BYTE highlight, BYTE coloring, COLORREF color) {
  CRect wr;
  if (m_hWnd) GetWindowRect(&wr);
  const int w = wr.Width();
  const int h0 = wr.Height();
  const int m = m_nFocusMargin;
  const int g = granularity;
  m_dibHLine.Create(std::max(w - 2 * m - 1, 1), 1, 8);
  m_dibVLine.Create(1, std::max(h0 - 2 * m, 1), 8);
  if (w <= 0 || h0 <= 0 || !m_dibNormal.Create(w, h0, 8)) {
    m_dibNormal.Create(0, 0, 8);  // frees: a button without size has no faces
    m_dibDisabled.Create(0, 0, 8);
    m_dibOver.Create(0, 0, 8);
    m_dibDown.Create(0, 0, 8);
  }

  COLORREF dark = ::GetSysColor(COLOR_BTNSHADOW), face = ::GetSysColor(COLOR_BTNFACE),
           light = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  auto mix = [](COLORREF a, COLORREF b, int i, int& r, int& gr, int& bl) {
    r = ((128 - i) * GetRValue(a) + i * GetRValue(b)) / 128;
    gr = ((128 - i) * GetGValue(a) + i * GetGValue(b)) / 128;
    bl = ((128 - i) * GetBValue(a) + i * GetBValue(b)) / 128;
  };
  for (CButtonDib* dib : {&m_dibNormal, &m_dibHLine, &m_dibVLine}) {
    int r, gr, bl;
    for (int i = 0; i <= 128; ++i) {
      mix(dark, face, i, r, gr, bl);
      dib->SetPaletteEntry(i, static_cast<BYTE>(r), static_cast<BYTE>(gr), static_cast<BYTE>(bl));
    }
    for (int i = 1; i <= 128; ++i) {
      mix(face, light, i, r, gr, bl);
      dib->SetPaletteEntry(127 + i, static_cast<BYTE>(r), static_cast<BYTE>(gr), static_cast<BYTE>(bl));
    }
  }
  m_dibNormal.BlendPalette(color, coloring);

  // Dotted focus lines.
  if (BYTE* bits = m_dibHLine.GetBits()) {
    for (int k = 0; k < m_dibHLine.GetWidth(); ++k) bits[k] = (k & 1) ? 255 : 0;
  }
  if (BYTE* bits = m_dibVLine.GetBits()) {
    for (int k = 0; k < m_dibVLine.GetHeight(); ++k) bits[static_cast<size_t>(k) * m_dibVLine.GetLineWidth()] = (k & 1) ? 255 : 0;
  }

  BYTE* bits = m_dibNormal.GetBits();
  if (bits) {
    const int lo = g, hi = 255 - g;
    const int noiseDiv = 32767 / std::max(2 * g, 1);
    auto noise = [&] { return CrtRand() / noiseDiv - g; };
    auto cube = [](int t) { return t * t * t / 128 / 128; };
    const DWORD line = m_dibNormal.GetLineWidth();
    auto px = [&](int x, int y) -> BYTE& { return bits[static_cast<size_t>(y) * line + static_cast<size_t>(x)]; };
    auto store = [](int v) { return static_cast<BYTE>(v); };
    switch (shadeType) {
      case 1: {
        int a = (hi - lo) / 2;
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) px(x, y) = store(lo + a * y / h0 + a * (w - x) / w + noise());
        break;
      }
      case 2:
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) px(x, y) = store(lo + (hi - lo) * y / h0 + noise());
        break;
      case 3:
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) px(x, y) = store(lo + (hi - lo) * (w - x) / w + noise());
        break;
      case 4:
      case 7: {
        int span = shadeType == 4 ? 128 - g : 128 - 2 * g;
        for (int y = 0; y < h0; ++y) {
          int t = y * 255 / h0 - 127;
          for (int x = 0; x < w; ++x) px(x, y) = store(cube(t) * span / 128 + 128 + noise());
        }
        if (shadeType == 7) {
          const int r = std::min(w / 6, 16);
          const int q = h0 * h0 / 4;
          // The rounded ends divide by both: a button under 2 pixels high or 6 wide keeps the first pass.
          if (r > 0 && q > 0) {
            for (int y = 0; y < h0; ++y) {
              for (int x = 0; x < w; ++x) {
                int dy = y - h0 / 2, dx = x - w / 2;
                int e = (w / 2 - r) + dy * dy * r / q;
                int v = px(x, y);
                if (dx > e) v = lo + (w - x) * 128 / r;
                if (dx + e < 0) v = hi - ((x * 128 / r) % 256);
                px(x, y) = store(v + noise());
              }
            }
          }
        }
        break;
      }
      case 5:
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) {
            int t = (w - x) * 255 / w - 127;
            px(x, y) = store(cube(t) * (128 - g) / 128 + 128 + noise());
          }
        break;
      case 6:
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) {
            int ty = y * 255 / h0 - 127, tx = (w - x) * 255 / w - 127;
            int v = std::clamp((cube(ty) + cube(tx)) * (128 - g) / 128 + 128, lo, hi);
            px(x, y) = store(v + noise());
          }
        break;
      case 8: {
        m_dibNormal.Fill(0);
        for (int s = 0; s < 200; ++s) {
          int x0 = CrtRand() / (32767 / w);
          int y0 = CrtRand() / (32767 / h0);
          int length = CrtRand() / (32767 / std::min(w, h0)) / 2;
          BYTE index = static_cast<BYTE>(CrtRand() / (32767 / 40));
          for (int i = 0; i < length; ++i) {
            if (x0 - i > 0 && y0 + i < h0) m_dibNormal.SetPixelIndex(x0 - i, y0 + i, index);
            if (x0 + i < w && y0 - i > 0) m_dibNormal.SetPixelIndex(w - x0 + i, y0 - i, index);
          }
        }
        int a = (hi - lo - 40) / 2;
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) {
            int v = px(x, y) + a * y / h0 + a * (w - x) / w;
            px(x, y) = store(v + CrtRand() / noiseDiv);
          }
        break;
      }
      default:
        for (int y = 0; y < h0; ++y)
          for (int x = 0; x < w; ++x) px(x, y) = store(CrtRand() / noiseDiv + 128 - g);
        break;
    }
  }

  m_dibDisabled.CopyFrom(m_dibNormal);
  m_dibOver.CopyFrom(m_dibNormal);
  m_dibOver.BlendPalette(light, highlight);
  m_dibDown.CopyFrom(m_dibOver);
}

void CShadedButton::SetIcon(UINT iconId, UINT align, UINT pressedId, UINT hoverId) {
  DestroyIcons();
  auto load = controls_detail::LoadProgramIcon;
  m_hIcon = load(iconId);
  m_hIconDown = load(pressedId);
  m_hIconHighlight = load(hoverId);
  if (!m_hIconDown) m_hIconDown = m_hIcon;
  if (!m_hIconHighlight) m_hIconHighlight = m_hIcon;

  // Without an icon (or its size) there is no icon area: the caption keeps the whole face.
  m_rcIcon.SetRectEmpty();
  ICONINFO info{};
  if (!m_hIcon || !::GetIconInfo(m_hIcon, &info)) return;
  int iw = static_cast<int>(info.xHotspot) * 2, ih = static_cast<int>(info.yHotspot) * 2;
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  CRect client;
  if (m_hWnd) GetWindowRect(&client);
  int W = client.Width(), H = client.Height();
  m_rcIcon.SetRect(0, 0, iw, ih);
  switch (align) {
    case BS_LEFT:
      m_rcIcon.OffsetRect(m_nFocusMargin, std::max(H / 2 - ih / 2, 0));
      m_nIconAlign = BS_LEFT;
      break;
    case BS_RIGHT:
      m_rcIcon.OffsetRect(W - iw - m_nFocusMargin, std::max(H / 2 - ih / 2, 0));
      m_nIconAlign = BS_RIGHT;
      break;
    default:
      m_rcIcon.OffsetRect(std::max(W / 2 - iw / 2, 0), std::max(H / 2 - ih, 0));
      m_nIconAlign = BS_CENTER;
      break;
  }
}

COLORREF CShadedButton::SetTextColor(COLORREF color) {
  COLORREF old = m_clrText;
  m_clrText = color;
  return old;
}

BOOL CShadedButton::MakeFont() {
  m_font.DeleteObject();
  return m_font.CreateFontIndirect(m_pLF);
}

BOOL CShadedButton::SetTextFont(const LOGFONT* font) {
  if (!font) return FALSE;
  if (!m_pLF) m_pLF = new LOGFONT{};
  std::memcpy(m_pLF, font, sizeof(LOGFONT));
  return MakeFont();
}

BOOL CShadedButton::SetTextFontByName(LPCSTR face, LONG height, LONG weight, BYTE italic, BYTE underline) {
  if (!m_pLF) m_pLF = new LOGFONT{};
  std::memset(m_pLF->lfFaceName, 0, sizeof m_pLF->lfFaceName);
  if (face) std::strncpy(m_pLF->lfFaceName, face, 31);
  m_pLF->lfHeight = height;
  m_pLF->lfWeight = weight;
  m_pLF->lfItalic = italic;
  m_pLF->lfUnderline = underline;
  return MakeFont();
}

void CShadedButton::SetTextAlign(UINT align) {
  m_nTextAlign = (align == BS_LEFT ? DT_LEFT : align == BS_RIGHT ? DT_RIGHT : DT_CENTER) | DT_VCENTER | DT_SINGLELINE;
}

void CShadedButton::SetFlat(BOOL flat) { m_bFlat = flat ? 1 : 0; }

void CShadedButton::DecodeStyle(DWORD style) {
  m_bPushLike = (style & BS_PUSHLIKE) ? 1 : 0;
  m_bFlat = (style & BS_FLAT) ? 1 : 0;
  SetTextAlign(style & 0x300);
  DWORD type = style & 0xFF;
  if ((type & 3) == 3) {
    m_nKind = 2;
  } else if ((type & 9) == 9) {
    m_nKind = 4;
  } else {
    m_nKind = 0;
    m_bPushLike = 1;
  }
  if (!m_bPushLike) m_bBorder = 0;
}

void CShadedButton::SetButtonStyle(UINT style, BOOL redraw) {
  DecodeStyle(style);
  if (m_nKind == 0) m_bChecked = 0;
  if (redraw && m_hWnd) Invalidate();
}

void CShadedButton::SetToolTipText(LPCSTR text, LPCSTR checkedText) {
  m_strTip = text ? text : "";
  m_strTipChecked = checkedText ? checkedText : "";
  const CString& shown = m_bChecked && !m_strTipChecked.IsEmpty() ? m_strTipChecked : m_strTip;
  if (m_tooltip.GetSafeHwnd()) {
    m_tooltip.UpdateTipText(shown, this);
    return;
  }
  if (!m_tooltip.Create(this)) return;
  m_tooltip.AddTool(this, shown);
  m_tooltip.Activate(TRUE);
  m_tooltip.SetMaxTipWidth(300);
}

void CShadedButton::PreSubclassWindow() {
  DecodeStyle(GetStyle());
  CButton::PreSubclassWindow();
  ModifyStyle(0, BS_OWNERDRAW);
}

void CShadedButton::RelayToTip(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!m_tooltip.GetSafeHwnd()) return;
  MSG msg{};
  msg.hwnd = m_hWnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = 0;
  msg.pt.x = LOWORD(static_cast<uintptr_t>(lParam));
  msg.pt.y = HIWORD(static_cast<uintptr_t>(lParam));
  m_tooltip.RelayEvent(&msg);
}

LRESULT CShadedButton::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

LRESULT CShadedButton::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
  RelayToTip(WM_LBUTTONDOWN, wParam, lParam);
  if (m_bOver) {
    TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_CANCEL | TME_LEAVE, m_hWnd, 0};
    if (::_TrackMouseEvent(&track)) m_bOver = 0;
  }
  LRESULT r = DefWindowProc(WM_LBUTTONDOWN, wParam, lParam);
  m_bCaptured = 1;
  return r;
}

LRESULT CShadedButton::OnLButtonUp(WPARAM wParam, LPARAM lParam) {
  if (m_nKind == 2 || m_nKind == 4) {
    CRect rc;
    GetClientRect(&rc);
    POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (rc.PtInRect(p) && m_bCaptured) {
      SendMessage(BM_SETCHECK, m_nKind == 2 ? !m_bChecked : TRUE, 0);
    }
  }
  RelayToTip(WM_LBUTTONUP, wParam, lParam);
  m_bCaptured = 0;
  return DefWindowProc(WM_LBUTTONUP, wParam, lParam);
}

LRESULT CShadedButton::OnMouseMove(WPARAM wParam, LPARAM lParam) {
  RelayToTip(WM_MOUSEMOVE, wParam, lParam);
  if (m_bCaptured && ::GetCapture() == m_hWnd) {
    CRect rc;
    GetClientRect(&rc);
    POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    BOOL over = rc.PtInRect(p);
    if (over != ((GetState() & BST_PUSHED) != 0)) {
      SetState(over);
      UpdateWindow();
    }
  } else if (!m_bOver) {
    TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, m_hWnd, 0};
    if (::_TrackMouseEvent(&track)) {
      m_bOver = 1;
      Invalidate(FALSE);
    }
  }
  return DefWindowProc(WM_MOUSEMOVE, wParam, lParam);
}

LRESULT CShadedButton::OnLButtonDblClk(WPARAM wParam, LPARAM lParam) {
  return SendMessage(WM_LBUTTONDOWN, wParam, lParam);
}

LRESULT CShadedButton::OnMouseLeave(WPARAM, LPARAM) {
  m_bOver = 0;
  Invalidate(FALSE);
  return 0;
}

LRESULT CShadedButton::OnKillFocus(WPARAM wParam, LPARAM lParam) {
  if (::GetCapture() == m_hWnd) ::ReleaseCapture();
  m_bCaptured = 0;
  return DefWindowProc(WM_KILLFOCUS, wParam, lParam);
}

LRESULT CShadedButton::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  if (wParam == VK_SPACE) {
    if (m_nKind == 2) SendMessage(BM_SETCHECK, !m_bChecked, 0);
    if (m_nKind == 4) SendMessage(BM_SETCHECK, TRUE, 0);
  }
  return DefWindowProc(WM_KEYDOWN, wParam, lParam);
}

LRESULT CShadedButton::OnSetCheck(WPARAM wParam, LPARAM) {
  m_bChecked = (wParam != 0 && m_nKind != 0) ? 1 : 0;
  if (m_bChecked && m_nKind == 4) {
    HWND dialog = ::GetParent(m_hWnd);
    for (HWND other = ::GetNextDlgGroupItem(dialog, m_hWnd, FALSE); other && other != m_hWnd;
         other = ::GetNextDlgGroupItem(dialog, other, FALSE)) {
      // The private message means something else to other controls.
      if (dynamic_cast<CShadedButton*>(CWnd::FromHandlePermanent(other))) ::PostMessage(other, WM_SHADED_UNCHECK, 0, 0);
    }
  }
  if (m_tooltip.GetSafeHwnd()) {
    m_tooltip.Pop();
    m_tooltip.UpdateTipText(m_bChecked && !m_strTipChecked.IsEmpty() ? m_strTipChecked : m_strTip, this);
  }
  Invalidate(FALSE);
  return 0;
}

LRESULT CShadedButton::OnGetCheck(WPARAM, LPARAM) { return m_bChecked; }

LRESULT CShadedButton::OnUncheck(WPARAM, LPARAM) {
  if (m_bChecked) {
    m_bChecked = 0;
    if (m_tooltip.GetSafeHwnd()) m_tooltip.UpdateTipText(m_strTip, this);
    Invalidate(FALSE);
  }
  return 0;
}

void CShadedButton::DrawItem(LPDRAWITEMSTRUCT item) {
  if (!item) return;
  if (m_bCaptured && ::GetCapture() == m_hWnd) {
    POINT cursor;
    ::GetCursorPos(&cursor);
    bool on = ::WindowFromPoint(cursor) == m_hWnd;
    bool pushed = (GetState() & BST_PUSHED) != 0;
    if (!on && pushed) {
      SetState(FALSE);
      return;
    }
    if (on && !pushed) {
      SetState(TRUE);
      return;
    }
  }
  CRect R(item->rcItem);
  const int w = R.Width(), h = R.Height();
  const int m = m_nFocusMargin;
  HDC target = item->hDC;
  HDC dc = ::CreateCompatibleDC(target);
  HBITMAP bitmap = ::CreateCompatibleBitmap(target, std::max(w, 1), std::max(h, 1));
  HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
  ::SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = ::SelectObject(dc, m_font.GetSafeHandle() ? static_cast<HGDIOBJ>(m_font.GetSafeHandle())
                                                               : ::GetStockObject(DEFAULT_GUI_FONT));
  CString caption;
  GetWindowText(caption);

  CRect T(R.left + m + 2, R.top, R.right - m - 2, R.bottom);
  if (m_hIcon) {
    if (m_nIconAlign == BS_LEFT) {
      T.left += m_rcIcon.Width();
    } else if (m_nIconAlign == BS_RIGHT) {
      T.right -= m_rcIcon.Width();
    } else {
      T.top += m_rcIcon.bottom;
      T.bottom -= m + 1;
    }
  }
  auto drawFace = [&](const CButtonDib& dib, int x, int y) {
    if (dib.IsValid()) {
      dib.Draw(dc, x, y);
    } else {
      ::FillRect(dc, &R, ::GetSysColorBrush(COLOR_BTNFACE));
    }
  };
  auto drawIcon = [&](HICON icon, int dx, int dy, UINT flags) {
    if (icon) {
      ::DrawState(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, m_rcIcon.left + dx, m_rcIcon.top + dy,
                  m_rcIcon.Width(), m_rcIcon.Height(), DST_ICON | flags);
    }
  };
  auto draw3d = [&](int topLeft, int bottomRight) {
    CDC* cdc = CDC::FromHandle(dc);
    cdc->Draw3dRect(&R, ::GetSysColor(topLeft), ::GetSysColor(bottomRight));
  };

  const bool disabled = (item->itemState & ODS_DISABLED) != 0;
  if (disabled) {
    drawFace(m_dibDisabled, 0, 0);
    drawIcon(m_hIcon, 0, 0, DSS_DISABLED);
    if (m_bBorder && !m_bFlat) {
      CRect edge(R);
      ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    }
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
    CRect t(T);
    ::DrawText(dc, caption, -1, &t, m_nTextAlign);
    t.OffsetRect(-1, -1);
    ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    ::DrawText(dc, caption, -1, &t, m_nTextAlign);
  } else {
    const bool pressed = (item->itemState & ODS_SELECTED) || m_bChecked;
    if (!pressed) {
      drawFace(m_bOver && m_dibOver.IsValid() ? m_dibOver : m_dibNormal, 0, 0);
      drawIcon(m_bOver && m_hIconHighlight ? m_hIconHighlight : m_hIcon, 0, 0, DSS_NORMAL);
      if (m_bBorder && (m_bOver || !m_bFlat)) {
        CRect edge(R);
        if (item->itemState & ODS_DEFAULT) {
          ::DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
          edge.DeflateRect(1, 1);
          ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
        } else if (!m_bFlat) {
          ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
        } else {
          draw3d(COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
        }
      }
    } else {
      drawFace(m_dibDown, m_bBorder ? 1 : 0, m_bBorder ? 1 : 0);
      int shift = m_bPushLike ? 1 : 0;
      drawIcon(m_hIconDown, shift, shift, DSS_NORMAL);
      T.OffsetRect(shift, shift);
      if (m_bBorder) {
        if (m_bFlat) {
          draw3d(COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
        } else {
          CRect edge(R);
          ::DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
        }
      }
    }
    if ((item->itemState & ODS_FOCUS) && m >= 1) {
      CRect f(R);
      f.DeflateRect(m, m);
      m_dibHLine.Draw(dc, f.left + 1, f.top);
      m_dibHLine.Draw(dc, f.left + 1, f.bottom);
      m_dibVLine.Draw(dc, f.left, f.top + 1);
      m_dibVLine.Draw(dc, f.right, f.top + 1);
    }
    ::SetTextColor(dc, m_clrText);
    ::DrawText(dc, caption, -1, &T, m_nTextAlign);
  }

  ::BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  ::SelectObject(dc, oldFont);
  ::SelectObject(dc, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
}
