// A modeless property sheet: a tab control whose tabs select among the pages shown in its display area.
// A page made from a dialog template becomes a child dialog of the sheet when it is first activated;
// a page with a caption only has its tab and no window.
#pragma once
#include <vector>

#include "mfc/dialog.h"

constexpr UINT PSM_GETTABCONTROL = WM_USER + 116;

class CPropertyPage : public CDialog {
  DECLARE_DYNAMIC(CPropertyPage)

 public:
  explicit CPropertyPage(LPCSTR caption = "") : m_strCaption(caption) {}
  // The tab text is string `captionId`, or the template's title when 0.
  explicit CPropertyPage(UINT idTemplate, UINT captionId = 0);
  CString m_strCaption;

  // The page comes to the front: its controls are loaded again from the members (not the first time,
  // when OnInitDialog did it). FALSE keeps it from showing.
  virtual BOOL OnSetActive();
  // The page is left: its data are taken and checked; FALSE keeps it in front.
  virtual BOOL OnKillActive();
  BOOL HasTemplate() const { return m_lpszTemplateName != nullptr; }
  // Keys are the sheet's (or its dialog's) to navigate: a page is no dialog of its own.
  BOOL PreTranslateMessage(MSG*) override { return FALSE; }

 private:
  friend class CPropertySheet;
  bool firstActive_ = true;
};

class CPropertySheet : public CWnd {
  DECLARE_DYNAMIC(CPropertySheet)

 public:
  CPropertySheet() = default;
  CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  CPropertySheet(LPCSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);
  void AddPage(CPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetPageIndex(CPropertyPage* page) const;
  CPropertyPage* GetActivePage() const { return GetPage(active_); }
  int GetActiveIndex() const { return active_; }
  // Brings the page to the front (its window made first when it has a template); FALSE when the page
  // in front refuses to be left or the index is out of range.
  BOOL SetActivePage(int index);
  BOOL SetActivePage(CPropertyPage* page) { return SetActivePage(GetPageIndex(page)); }
  // Makes the sheet window (a pop-up, or a child with WS_CHILD, of the parent given here or at
  // construction) with its tab control, and activates the start page.
  BOOL Create(CWnd* parent = nullptr, DWORD style = WS_POPUP | WS_VISIBLE, int width = 360, int height = 260);
  HWND GetTabControlWindow() const { return tabs_; }
  CString m_strCaption;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // A pop-up sheet navigates its pages' controls itself; a child sheet leaves it to its dialog.
  BOOL PreTranslateMessage(MSG* msg) override;

 private:
  RECT PageRect() const;
  std::vector<CPropertyPage*> pages_;
  CWnd* parent_ = nullptr;
  UINT startPage_ = 0;
  HWND tabs_ = nullptr;
  int active_ = -1;
};
