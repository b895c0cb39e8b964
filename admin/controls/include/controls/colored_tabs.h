// Owner-drawn tab controls in the program's colours, and the property sheet whose own tab control is
// taken over by one at its first paint.
#pragma once
#include "controls/shared_colors.h"
#include "mfc/controls.h"

class CColoredTabCtrlBase : public CTabCtrl {
  DECLARE_DYNAMIC(CColoredTabCtrlBase)

 public:
  explicit CColoredTabCtrlBase(int paintMode = 0);
  void SetBkgndColor(COLORREF color);
  COLORREF GetBkgndColor() const { return m_clrBkgnd; }
  BOOL SetPaintMode(int mode);
  int GetPaintMode() const { return m_nPaintMode; }

  void DrawItem(LPDRAWITEMSTRUCT) override {}
  virtual void DrawControlBorder(LPDRAWITEMSTRUCT) {}
  virtual void DrawTabBorder(LPDRAWITEMSTRUCT) {}
  virtual COLORREF GetTabBackColor(BOOL selected);
  virtual COLORREF GetTabTextColor(BOOL selected);

  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  void PreSubclassWindow() override;
  void OnPaint() override;
  LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);

  COLORREF m_clrBkgnd = 0xFFFFFFFF;
  int m_nPaintMode = 0;
};

class CColoredTabCtrl : public CColoredTabCtrlBase {
  DECLARE_DYNAMIC(CColoredTabCtrl)

 public:
  CColoredTabCtrl() : CColoredTabCtrlBase(0) {}
  ~CColoredTabCtrl() override = default;

  static void EnableCustomDraw(BOOL enable, DWORD flags);
  static COLORREF DarkenColor(COLORREF color, float factor);
  static COLORREF LightenColor(COLORREF color, float factor);

  void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
  void DrawControlBorder(LPDRAWITEMSTRUCT drawItem) override;
  void DrawTabBorder(LPDRAWITEMSTRUCT drawItem) override;
  COLORREF GetTabBackColor(BOOL selected) override;
  COLORREF GetTabTextColor(BOOL selected) override;

  const mfc::MessageMap* GetMessageMap() const override;

 protected:
  void PreSubclassWindow() override;

 private:
  COLORREF OwnColor() const;
  LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);
};

class CColoredTabsPropSheet : public CPropertySheet {
  DECLARE_DYNCREATE(CColoredTabsPropSheet)

 public:
  CColoredTabsPropSheet();
  CColoredTabsPropSheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  CColoredTabsPropSheet(LPCSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CColoredTabsPropSheet() override;

  CColoredTabCtrl m_tabCtrl;
  BOOL m_bPaintWholeTabCtrl = FALSE;

 protected:
  void OnPaint() override;
};
