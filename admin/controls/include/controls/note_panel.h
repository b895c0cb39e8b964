// The banner across the top of a dialog: icon, bold title and wrapped text in a 3D frame. Attaching it
// makes the host taller by the panel's height.
#pragma once
#include "mfc/gdi.h"
#include "mfc/wnd.h"

class CNotePanel : public CWnd {
  DECLARE_DYNAMIC(CNotePanel)

 public:
  CNotePanel();
  ~CNotePanel() override;

  void SetBkColor(COLORREF color);
  void SetHeight(int height);
  void SetMargin(int margin);
  void SetTextLeft(int left);
  void SetTextIndent(int indent);
  void SetAlign(int align);
  void SetFontHeights(int title, int text);
  void SetIcon(HICON icon);
  void SetTitle(LPCSTR title);
  void SetText(LPCSTR text);
  void SetContent(HICON icon, LPCSTR title, LPCSTR text);
  void AttachToWindow(CWnd* host);
  void ShiftHostControls(CWnd* host);

  int GetHeight() const { return m_nHeight; }
  int GetMargin() const { return m_nMargin; }
  int GetTextLeft() const { return m_nTextLeft; }
  int GetAlign() const { return m_nAlign; }
  int GetTitleHeight() const { return m_nTitleHeight; }
  int GetTextHeight() const { return m_nTextHeight; }
  int MinimumHeight() const;
  // Where the title is drawn in a client rectangle (the icon, when set, is kept clear).
  CRect TitleRect(const CRect& client) const;

  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  void OnPaint() override;

 private:
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  void Changed();

  int m_nTitleHeight = 18;
  int m_nTextHeight = 13;
  int m_nHeight = 120;
  int m_cxIcon, m_cyIcon;
  int m_cxEdge;
  int m_nSpacing = 1;
  int m_nMargin = 5;
  int m_nTextLeft = 10;
  int m_nTextIndent = 10;
  int m_nAlign = 0;
  HICON m_hIcon = nullptr;
  CFont m_fontTitle;
  CFont m_fontText;
  CString m_strTitle;
  CString m_strText;
  COLORREF m_clrBack;
};
