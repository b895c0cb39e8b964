// CListView in a frame with a toolbar and a status bar: the view is the list control, and the frame's
// layout gives the bars their edges and the view the rest.
#include "comctl_test_util.h"
#include "mfc/bars.h"
#include "mfc/listview.h"

namespace {

using namespace comctl_test;

constexpr DWORD kSingleSelection = 0x0004;  // LVS_SINGLESEL

class NavigationView : public CListView {
 public:
  BOOL PreCreateWindow(CREATESTRUCT& cs) override {
    if (!CListView::PreCreateWindow(cs)) return FALSE;
    cs.style |= kSingleSelection;
    return TRUE;
  }
};

class Frame : public CFrameWnd {
 public:
  void Activate(CView* view) { m_pViewActive = view; }
};

TEST(ListViewInAFrame, TheViewIsTheListAndTheBarsTakeTheEdges) {
  auto* frame = new Frame;  // deletes itself with its window
  ASSERT_TRUE(frame->CreateEx(0, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, 0));
  CToolBar toolbar;
  ASSERT_TRUE(toolbar.CreateEx(frame, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP));
  const UINT buttons[] = {32866, 32867};
  ASSERT_TRUE(toolbar.SetButtons(buttons, 2));
  CStatusBar status;
  ASSERT_TRUE(status.Create(frame));
  const UINT indicators[] = {ID_SEPARATOR, ID_SEPARATOR};
  ASSERT_TRUE(status.SetIndicators(indicators, 2));
  auto* view = new NavigationView;
  ASSERT_TRUE(view->CreateEx(WS_EX_CLIENTEDGE, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, frame->m_hWnd, 0xE900));
  char name[64] = {};
  ::GetClassName(view->m_hWnd, name, sizeof name);
  EXPECT_STREQ(name, WC_LISTVIEW);
  EXPECT_TRUE(view->GetStyle() & kSingleSelection) << "the view's own styles reach the control";
  frame->Activate(view);
  frame->RecalcLayout();
  CRect client, bar, line, list;
  frame->GetClientRect(&client);
  toolbar.GetWindowRect(&bar);
  status.GetWindowRect(&line);
  view->GetWindowRect(&list);
  frame->ScreenToClient(&bar);
  frame->ScreenToClient(&line);
  frame->ScreenToClient(&list);
  EXPECT_EQ(bar.top, 0);
  EXPECT_EQ(list.top, bar.bottom);
  EXPECT_EQ(list.bottom, line.top);
  EXPECT_EQ(line.bottom, client.bottom);
  EXPECT_EQ(list.Width(), client.Width());
  // Hiding the toolbar gives its room to the view.
  toolbar.ShowWindow(SW_HIDE);
  frame->RecalcLayout();
  view->GetWindowRect(&list);
  frame->ScreenToClient(&list);
  EXPECT_EQ(list.top, 0);
  CListCtrl& control = view->GetListCtrl();
  EXPECT_EQ(control.m_hWnd, view->m_hWnd);
  control.InsertColumn(0, "Function", 0, 120);
  EXPECT_EQ(control.InsertItem(0, "Device Mapping"), 0);
  EXPECT_EQ(control.InsertItem(1, "Server Manager"), 1);
  EXPECT_EQ(control.GetItemCount(), 2);
  EXPECT_EQ(control.GetItemText(1, 0), CString("Server Manager"));
  auto image = Capture(view->m_hWnd);
  EXPECT_EQ(Pixel(image, list.Width() - 5, list.Height() - 5), GetSysColor(COLOR_WINDOW)) << "the control paints the view";
  frame->DestroyWindow();  // the view goes with it and deletes itself
}

}  // namespace
