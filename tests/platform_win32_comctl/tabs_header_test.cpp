// Tabs along the bottom (their rectangles, the display area and the drawn frame) and the header's mouse.
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

namespace {

using namespace comctl_test;

struct HeaderFixture : ::testing::Test {
  Host host;
  CHeaderCtrl header;
  std::vector<std::pair<UINT, int>> seen;  // (code, item)
  bool refuseTrack = false;
  int widthCap = 1000;
  void SetUp() override {
    ASSERT_TRUE(MakeHost(host));
    ASSERT_TRUE(header.Create(WS_CHILD | WS_VISIBLE | HDS_BUTTONS, CRect(0, 0, 300, 20), &host, 3));
    for (int i = 0; i < 3; ++i) {
      HDITEM item{};
      item.mask = HDI_WIDTH | HDI_TEXT;
      item.cxy = 80;
      item.pszText = const_cast<LPSTR>("col");
      header.InsertItem(i, &item);
    }
    host.onNotify = [this](NMHDR* hdr) -> LRESULT {
      auto* note = reinterpret_cast<NMHEADER*>(hdr);
      seen.emplace_back(hdr->code, note->iItem);
      if (hdr->code == HDN_BEGINTRACK) return refuseTrack;
      if (hdr->code == HDN_ITEMCHANGING) return note->pitem && note->pitem->cxy > widthCap;
      return 0;
    };
  }
  int Width(int item) {
    HDITEM hd{};
    hd.mask = HDI_WIDTH;
    header.GetItem(item, &hd);
    return hd.cxy;
  }
  int Count(UINT code) {
    int n = 0;
    for (auto& s : seen) n += s.first == code;
    return n;
  }
};

TEST_F(HeaderFixture, DividerDragsResizeAndTellTheParent) {
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(80, 5));  // the first divider
  header.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, Point(100, 5));
  EXPECT_EQ(Width(0), 100);
  header.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, Point(-40, 5));
  EXPECT_EQ(Width(0), 0) << "never below zero";
  header.SendMessage(WM_LBUTTONUP, 0, Point(120, 5));
  EXPECT_EQ(Width(0), 120);
  EXPECT_EQ(Count(HDN_BEGINTRACK), 1);
  EXPECT_EQ(Count(HDN_TRACK), 3);
  EXPECT_EQ(Count(HDN_ITEMCHANGED), 3);
  EXPECT_EQ(Count(HDN_ENDTRACK), 1);
  EXPECT_EQ(seen.back(), std::make_pair(HDN_ENDTRACK, 0));
  EXPECT_EQ(::GetCapture(), nullptr);
  // The parent may refuse a width, or the whole drag.
  widthCap = 150;
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(120, 5));
  header.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, Point(200, 5));
  EXPECT_EQ(Width(0), 120);
  header.SendMessage(WM_LBUTTONUP, 0, Point(140, 5));
  EXPECT_EQ(Width(0), 140);
  refuseTrack = true;
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(140, 5));
  header.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, Point(60, 5));
  header.SendMessage(WM_LBUTTONUP, 0, Point(60, 5));
  EXPECT_EQ(Width(0), 140);
}

TEST_F(HeaderFixture, ClicksAndDoubleClicks) {
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(120, 5));  // item 1 (80..160)
  header.SendMessage(WM_LBUTTONUP, 0, Point(120, 5));
  EXPECT_EQ(seen.back(), std::make_pair(HDN_ITEMCLICK, 1));
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(120, 5));
  header.SendMessage(WM_LBUTTONUP, 0, Point(290, 5));
  EXPECT_EQ(Count(HDN_ITEMCLICK), 1) << "released over another item";
  header.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, Point(160, 5));
  EXPECT_EQ(seen.back(), std::make_pair(HDN_DIVIDERDBLCLICK, 1));
  header.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, Point(120, 5));
  EXPECT_EQ(seen.back(), std::make_pair(HDN_ITEMDBLCLICK, 1));
  header.ModifyStyle(HDS_BUTTONS, 0);
  header.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(200, 5));
  header.SendMessage(WM_LBUTTONUP, 0, Point(200, 5));
  EXPECT_EQ(Count(HDN_ITEMCLICK), 1) << "items without HDS_BUTTONS are not buttons";
}

}  // namespace
