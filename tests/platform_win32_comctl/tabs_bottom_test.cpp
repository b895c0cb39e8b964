// Tabs along the bottom: their rectangles, the display area and the drawn frame.
#include "comctl_test_util.h"
#include "mfc/controls.h"

namespace {

using namespace comctl_test;

TEST(TabsAtTheBottom, RectanglesDisplayAreaAndLook) {
  Host host;
  ASSERT_TRUE(MakeHost(host, 300, 200));
  CTabCtrl tabs;
  ASSERT_TRUE(tabs.Create(WS_CHILD | WS_VISIBLE | TCS_BOTTOM, CRect(0, 0, 300, 150), &host, 1));
  tabs.InsertItem(0, "Device Mapping Log");
  tabs.InsertItem(1, "Server Manager Log");
  CRect first, second;
  ASSERT_TRUE(tabs.GetItemRect(0, &first));
  ASSERT_TRUE(tabs.GetItemRect(1, &second));
  EXPECT_EQ(first.bottom, 148) << "along the bottom edge";
  EXPECT_EQ(second.top, first.top);
  EXPECT_EQ(second.left, first.right);
  CRect display(0, 0, 300, 150);
  tabs.AdjustRect(FALSE, &display);
  EXPECT_EQ(display.top, 4);
  EXPECT_LT(display.bottom, first.top) << "the lists sit above the tabs";
  CRect back = display;
  tabs.AdjustRect(TRUE, &back);
  EXPECT_EQ(back, CRect(0, 0, 300, 150)) << "the two directions undo each other";
  tabs.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(second.left + 3, second.bottom - 3));
  EXPECT_EQ(tabs.GetCurSel(), 1);
  auto image = Capture(tabs.m_hWnd);
  EXPECT_EQ(Pixel(image, 150, 0), GetSysColor(COLOR_3DLIGHT)) << "the frame's top edge";
  EXPECT_NE(Pixel(image, first.left + 10, first.bottom - 1), GetSysColor(COLOR_BTNFACE)) << "a tab's bottom edge";
  ExpectNoGdiGrowth(tabs.m_hWnd);
}

}  // namespace
