// Control bars of a frame: CToolBar (buttons from a toolbar resource and its bitmap) and CStatusBar
// (panes from indicator ids). A frame lays them along its edges before its view (mfc::RepositionBars).
#pragma once
#include <string>
#include <vector>

#include "mfc/comctl.h"

// Control-bar styles (CControlBar::m_dwStyle).
constexpr DWORD CBRS_ALIGN_LEFT = 0x1000;
constexpr DWORD CBRS_ALIGN_TOP = 0x2000;
constexpr DWORD CBRS_ALIGN_RIGHT = 0x4000;
constexpr DWORD CBRS_ALIGN_BOTTOM = 0x8000;
constexpr DWORD CBRS_ALIGN_ANY = 0xF000;
constexpr DWORD CBRS_LEFT = CBRS_ALIGN_LEFT;
constexpr DWORD CBRS_TOP = CBRS_ALIGN_TOP;
constexpr DWORD CBRS_RIGHT = CBRS_ALIGN_RIGHT;
constexpr DWORD CBRS_BOTTOM = CBRS_ALIGN_BOTTOM;
constexpr DWORD CBRS_TOOLTIPS = 0x0010;
constexpr DWORD CBRS_FLYBY = 0x0020;
constexpr DWORD CBRS_SIZE_DYNAMIC = 0x0400;
constexpr DWORD CBRS_GRIPPER = 0x00400000;
constexpr DWORD CBRS_ALL = 0x0040FFFF;
constexpr UINT AFX_IDW_TOOLBAR = 0xE800;
constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;
constexpr UINT ID_SEPARATOR = 0;
constexpr UINT AFX_IDS_IDLEMESSAGE = 0xE001;  // "Ready"

// Status-bar pane styles.
constexpr UINT SBPS_NORMAL = 0x0000;
constexpr UINT SBPS_NOBORDERS = SBT_NOBORDERS;
constexpr UINT SBPS_POPOUT = SBT_POPOUT;
constexpr UINT SBPS_OWNERDRAW = SBT_OWNERDRAW;
constexpr UINT SBPS_DISABLED = 0x04000000;
constexpr UINT SBPS_STRETCH = 0x08000000;

class CControlBar : public CWnd {
  DECLARE_DYNAMIC(CControlBar)

 public:
  DWORD GetBarStyle() const { return m_dwStyle; }
  void SetBarStyle(DWORD style) { m_dwStyle = style; }
  void EnableDocking(DWORD style) { m_dwDockStyle = style & CBRS_ALIGN_ANY; }
  void SetBorders(int left = 0, int top = 0, int right = 0, int bottom = 0);
  // The bar's size along its edge of a frame whose client is `available` wide (or high).
  virtual CSize CalcFixedLayout(BOOL stretch, BOOL horizontal) = 0;

  DWORD m_dwStyle = 0;
  DWORD m_dwDockStyle = 0;
  RECT m_borders{0, 0, 0, 0};
};

namespace mfc {
// Places the visible control bars among parent's children along their edges of `client` (top bars from
// the top, bottom bars from the bottom) and leaves in `client` what remains for the view.
void RepositionBars(CWnd* parent, RECT& client);
}  // namespace mfc

class CToolBar : public CControlBar {
  DECLARE_DYNAMIC(CToolBar)

 public:
  ~CToolBar() override;
  BOOL Create(CWnd* parent, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_TOP, UINT id = AFX_IDW_TOOLBAR);
  BOOL CreateEx(CWnd* parent, DWORD ctrlStyle = TBSTYLE_FLAT, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_ALIGN_TOP,
                CRect borders = CRect(0, 0, 0, 0), UINT id = AFX_IDW_TOOLBAR);
  using CWnd::CreateEx;
  // A toolbar resource (RT_TOOLBAR: version 1, image width and height, item count, the command ids, 0 for
  // a separator) and the bitmap of the same id. FALSE when either is missing.
  BOOL LoadToolBar(UINT resourceId);
  // The button images from a bitmap resource (its grey 0xC0C0C0 transparent), replacing earlier ones.
  BOOL LoadBitmap(UINT resourceId);
  BOOL SetButtons(const UINT* ids, int count);
  void SetSizes(SIZE button, SIZE image);
  void SetHeight(int height) { height_ = height; }
  int CommandToIndex(UINT id) const;
  UINT GetItemID(int index) const;
  void GetItemRect(int index, LPRECT rect) const;
  // The button's style in the low word, its state in the high word.
  UINT GetButtonStyle(int index) const;
  void SetButtonStyle(int index, UINT style);
  void GetButtonInfo(int index, UINT& id, UINT& style, int& image) const;
  void SetButtonInfo(int index, UINT id, UINT style, int image);
  int GetCount() const;
  CToolBarCtrl& GetToolBarCtrl() const;
  CSize CalcFixedLayout(BOOL stretch, BOOL horizontal) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnNcDestroy() override;
  // CBRS_FLYBY: the hot button's prompt in pane 0 of the frame's status bar, "Ready" again after.
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  mutable CToolBarCtrl ctrl_;  // the same window, for the control's own calls (never attached)
  CImageList images_;
  SIZE bitmapSize_{16, 15};
  int height_ = 0;
};

class CStatusBar : public CControlBar {
  DECLARE_DYNAMIC(CStatusBar)

 public:
  ~CStatusBar() override;
  BOOL Create(CWnd* parent, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, UINT id = AFX_IDW_STATUS_BAR);
  using CWnd::CreateEx;
  // One pane per id: a separator (0) starts empty; another id takes its string as text and width.
  BOOL SetIndicators(const UINT* ids, int count);
  void SetPaneInfo(int index, UINT id, UINT style, int width);
  void GetPaneInfo(int index, UINT& id, UINT& style, int& width) const;
  UINT GetPaneStyle(int index) const;
  void SetPaneStyle(int index, UINT style);
  BOOL SetPaneText(int index, LPCSTR text, BOOL update = TRUE);
  CString GetPaneText(int index) const;
  int CommandToIndex(UINT id) const;
  UINT GetItemID(int index) const;
  void GetItemRect(int index, LPRECT rect) const;
  int GetCount() const { return static_cast<int>(panes_.size()); }
  CStatusBarCtrl& GetStatusBarCtrl() const;
  CSize CalcFixedLayout(BOOL stretch, BOOL horizontal) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnNcDestroy() override;

 private:
  struct Pane {
    UINT id = 0;
    UINT style = 0;
    int width = 0;
    std::string text;
  };
  void UpdateParts();
  mutable CStatusBarCtrl ctrl_;
  std::vector<Pane> panes_;
};
