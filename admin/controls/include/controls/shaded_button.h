// The owner-drawn button of every dialog: shaded palette faces, icon, caption in its own font, hover
// highlight and tooltip; and the palette bitmap it draws its faces with.
#pragma once
#include "mfc/controls.h"
#include "mfc/gdi.h"

// A DIB in one heap block: header, colour table, pixel rows (bottom row first).
class CButtonDib {
 public:
  CButtonDib();
  ~CButtonDib();
  CButtonDib(const CButtonDib&) = delete;
  CButtonDib& operator=(const CButtonDib&) = delete;

  BYTE* Create(int width, int height, int bitCount);
  BOOL IsValid() const { return m_pDib != nullptr; }
  int GetWidth() const { return m_bi.biWidth; }
  int GetHeight() const { return m_bi.biHeight; }
  int GetBitCount() const { return m_bi.biBitCount; }
  DWORD GetLineWidth() const { return m_dwLineWidth; }
  WORD GetColorCount() const { return m_wColors; }
  BYTE* GetBits() const;
  RGBQUAD* GetPalette() const;
  BOOL Draw(HDC hdc, int x, int y) const;
  void SetPaletteEntry(int index, BYTE red, BYTE green, BYTE blue);
  void SetPixelIndex(int x, int y, BYTE index);
  void BlendPalette(COLORREF color, int percent);
  void CopyFrom(const CButtonDib& other);
  void Fill(BYTE value);

 private:
  void Free();
  BYTE* m_pDib = nullptr;
  BITMAPINFOHEADER m_bi{};
  DWORD m_dwLineWidth = 0;
  WORD m_wColors = 0;
};

// The private message that unchecks the other radio buttons of a group.
constexpr UINT WM_SHADED_UNCHECK = 0x0500;

class CShadedButton : public CButton {
  DECLARE_DYNAMIC(CShadedButton)

 public:
  CShadedButton();
  ~CShadedButton() override;

  void SetShade(UINT shadeType, BYTE granularity = 8, BYTE highlight = 10, BYTE coloring = 0, COLORREF color = 0);
  void SetIcon(UINT iconId, UINT align = BS_CENTER, UINT pressedId = 0, UINT hoverId = 0);
  COLORREF SetTextColor(COLORREF color);
  BOOL SetTextFont(const LOGFONT* font);
  BOOL SetTextFontByName(LPCSTR face, LONG height, LONG weight = FW_NORMAL, BYTE italic = 0, BYTE underline = 0);
  const LOGFONT* GetTextFont() const { return m_pLF; }
  void SetTextAlign(UINT align);
  void SetFlat(BOOL flat);
  void SetButtonStyle(UINT style, BOOL redraw = TRUE);
  void SetToolTipText(LPCSTR text, LPCSTR checkedText = nullptr);

  // State, for the dialogs and for checks.
  BOOL IsChecked() const { return m_bChecked; }
  BOOL IsHovering() const { return m_bOver; }
  UINT GetKind() const { return m_nKind; }
  const CRect& GetIconRect() const { return m_rcIcon; }
  UINT GetTextAlign() const { return m_nTextAlign; }
  CToolTipCtrl& GetToolTip() { return m_tooltip; }
  const CButtonDib& GetFace(int which) const;  // 0 normal, 1 down, 2 disabled, 3 over, 4 hline, 5 vline

  void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  void PreSubclassWindow() override;

 private:
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnLButtonUp(WPARAM, LPARAM);
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnLButtonDblClk(WPARAM, LPARAM);
  LRESULT OnMouseLeave(WPARAM, LPARAM);
  LRESULT OnKillFocus(WPARAM, LPARAM);
  LRESULT OnKeyDown(WPARAM, LPARAM);
  LRESULT OnSetCheck(WPARAM, LPARAM);
  LRESULT OnGetCheck(WPARAM, LPARAM);
  LRESULT OnUncheck(WPARAM, LPARAM);
  void RelayToTip(UINT message, WPARAM wParam, LPARAM lParam);
  void DecodeStyle(DWORD style);
  void DestroyIcons();
  BOOL MakeFont();

  CFont m_font;
  LOGFONT* m_pLF = nullptr;
  CString m_strTip;
  CString m_strTipChecked;
  BYTE m_bChecked = 0;
  BYTE m_bPushLike = 0;
  UINT m_nKind = 0;
  CButtonDib m_dibNormal, m_dibDown, m_dibDisabled, m_dibOver, m_dibHLine, m_dibVLine;
  BYTE m_bOver = 0;
  BYTE m_bCaptured = 0;
  CToolTipCtrl m_tooltip;
  short m_nFocusMargin = 4;
  COLORREF m_clrText;
  BOOL m_bBorder = 1;
  HICON m_hIcon = nullptr;
  HICON m_hIconDown = nullptr;
  HICON m_hIconHighlight = nullptr;
  CRect m_rcIcon;
  UINT m_nTextAlign = DT_CENTER;
  UINT m_nIconAlign = BS_CENTER;
  BYTE m_bFlat = 0;
};
