// The progress bar and the status bar: their messages, what they draw, and the MFC bars over them.
#include "comctl_test_util.h"
#include "mfc/bars.h"

namespace {

using namespace comctl_test;

TEST(ProgressBar, RangePositionAndSteps) {
  Host host;
  ASSERT_TRUE(MakeHost(host));
  CProgressCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 20), &host, 7));
  int low = -1, high = -1;
  bar.GetRange(low, high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 100);
  bar.SetRange(0, 100);
  EXPECT_EQ(bar.SetPos(50), 0);
  EXPECT_EQ(bar.SetPos(500), 50);
  EXPECT_EQ(bar.GetPos(), 100) << "clamped to the range";
  bar.SetPos(-3);
  EXPECT_EQ(bar.GetPos(), 0);
  EXPECT_EQ(bar.SetStep(10), 10);
  bar.SetPos(90);
  bar.StepIt();
  EXPECT_EQ(bar.GetPos(), 100);
  bar.StepIt();
  EXPECT_EQ(bar.GetPos(), 10) << "past the top it starts again";
  bar.OffsetPos(-50);
  EXPECT_EQ(bar.GetPos(), 0);
  bar.SetRange32(-20, 20);
  bar.GetRange(low, high);
  EXPECT_EQ(low, -20);
  EXPECT_EQ(high, 20);
  EXPECT_EQ(bar.SendMessage(PBM_GETRANGE, FALSE, 0), 20);
}

TEST(ProgressBar, DrawsBlocksUpToThePosition) {
  Host host;
  ASSERT_TRUE(MakeHost(host));
  CProgressCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 20), &host, 7));
  bar.SetRange(0, 100);
  bar.SetPos(50);
  auto image = Capture(bar.m_hWnd);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT), face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(Pixel(image, 3, 10), highlight) << "the first block";
  EXPECT_EQ(Pixel(image, 150, 10), face) << "beyond the position";
  EXPECT_EQ(Pixel(image, 0, 0), GetSysColor(COLOR_3DSHADOW)) << "the sunken well";
  // Blocks leave gaps: somewhere in the filled half a column of the face shows.
  bool gap = false;
  for (int x = 3; x < 95; ++x) gap = gap || Pixel(image, x, 10) == face;
  EXPECT_TRUE(gap);
  bar.ModifyStyle(0, PBS_SMOOTH);
  bar.Invalidate();
  image = Capture(bar.m_hWnd);
  for (int x = 3; x < 95; ++x) ASSERT_EQ(Pixel(image, x, 10), highlight) << x;
  bar.SetBarColor(RGB(0, 200, 0));
  image = Capture(bar.m_hWnd);
  EXPECT_EQ(Pixel(image, 3, 10), RGB(0, 200, 0));
  ExpectNoGdiGrowth(bar.m_hWnd);
}

TEST(StatusBar, PartsTextsAndPlace) {
  Host host;
  ASSERT_TRUE(MakeHost(host, 300, 200));
  CStatusBarCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, CRect(0, 0, 0, 0), &host, 9));
  CRect rc;
  bar.GetWindowRect(&rc);
  host.ScreenToClient(&rc);
  EXPECT_EQ(rc.bottom, 200) << "along the parent's bottom";
  EXPECT_EQ(rc.Width(), 300);
  const int edges[] = {100, 180, -1};
  EXPECT_TRUE(bar.SetParts(3, edges));
  int got[3] = {};
  EXPECT_EQ(bar.GetParts(3, got), 3);
  EXPECT_EQ(got[1], 180);
  EXPECT_FALSE(bar.SetParts(0, edges));
  EXPECT_FALSE(bar.SetParts(300, edges)) << "too many parts";
  EXPECT_TRUE(bar.SetText("Ready", 0, 0));
  EXPECT_TRUE(bar.SetText("left\tmiddle\tright", 1, SBT_POPOUT));
  int type = 0;
  EXPECT_EQ(bar.GetText(0), CString("Ready"));
  EXPECT_EQ(bar.GetTextLength(1, &type), 17);
  EXPECT_EQ(type, static_cast<int>(SBT_POPOUT));
  EXPECT_FALSE(bar.SetText("x", 5, 0)) << "no such part";
  CRect part;
  ASSERT_TRUE(bar.GetRect(2, &part));
  EXPECT_EQ(part.left, 182);
  EXPECT_EQ(part.right, 300);
  // The parent passes its size on: the bar follows.
  host.MoveWindow(10, 10, 400, 250);
  bar.SendMessage(WM_SIZE, 0, 0);
  bar.GetWindowRect(&rc);
  host.ScreenToClient(&rc);
  EXPECT_EQ(rc.bottom, 250);
  EXPECT_EQ(rc.Width(), 400);
  // The grip answers as the frame's corner.
  POINT corner{398, 248};
  host.ClientToScreen(&corner);
  EXPECT_EQ(bar.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)), HTBOTTOMRIGHT);
  bar.SetSimple(TRUE);
  EXPECT_TRUE(bar.IsSimple());
  bar.SendMessage(SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>("simple"));
  EXPECT_EQ(bar.GetText(SB_SIMPLEID), CString("simple"));
  EXPECT_EQ(bar.GetText(0), CString("Ready")) << "the parts keep their texts";
}

TEST(StatusBar, DrawsSunkenPartsAndTheGrip) {
  Host host;
  ASSERT_TRUE(MakeHost(host, 300, 200));
  CStatusBarCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, CRect(0, 0, 0, 0), &host, 9));
  const int edges[] = {100, -1};
  bar.SetParts(2, edges);
  bar.SetText("Ready", 0, 0);
  bar.SetText("", 1, SBT_NOBORDERS);
  auto image = Capture(bar.m_hWnd);
  const COLORREF shadow = GetSysColor(COLOR_3DSHADOW), light = GetSysColor(COLOR_3DHIGHLIGHT);
  EXPECT_EQ(Pixel(image, 50, 2), shadow) << "top edge of part 0 (sunken)";
  EXPECT_EQ(Pixel(image, 99, 10), light) << "right edge of part 0";
  EXPECT_EQ(Pixel(image, 150, 2), GetSysColor(COLOR_BTNFACE)) << "part 1 has no border";
  // The grip's strokes in the corner.
  bool stroke = false;
  for (int x = 286; x < 300; ++x) stroke = stroke || Pixel(image, x, 18) == shadow;
  EXPECT_TRUE(stroke);
  ExpectNoGdiGrowth(bar.m_hWnd);
}

TEST(StatusBar, OwnerDrawnPartsGoToTheParent) {
  struct Owner : Host {
    int drawn = 0;
    ULONG_PTR data = 0;
    RECT rect{};
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
      if (message == WM_DRAWITEM) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        ++drawn;
        data = item->itemData;
        rect = item->rcItem;
        return TRUE;
      }
      return Host::WindowProc(message, wParam, lParam);
    }
  } owner;
  ASSERT_TRUE(MakeHost(owner));
  CStatusBarCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), &owner, 9));
  const int edges[] = {120, -1};
  bar.SetParts(2, edges);
  bar.SendMessage(SB_SETTEXTA, 1 | SBT_OWNERDRAW, 0x1234);
  EXPECT_EQ(bar.SendMessage(SB_GETTEXTA, 1, 0), 0x1234) << "the part's value comes back";
  Capture(bar.m_hWnd);
  EXPECT_GE(owner.drawn, 1);
  EXPECT_EQ(owner.data, 0x1234u);
  EXPECT_EQ(owner.rect.left, 123);
}

TEST(StatusBar, TheFrameBarPanesStretchAndLayOut) {
  Host host;
  ASSERT_TRUE(MakeHost(host, 400, 300, WS_POPUP | WS_VISIBLE | WS_THICKFRAME));
  CStatusBar status;
  ASSERT_TRUE(status.Create(&host));
  EXPECT_TRUE(status.GetStyle() & SBARS_SIZEGRIP) << "a sizable parent gets the grip";
  const UINT indicators[] = {ID_SEPARATOR, ID_SEPARATOR, ID_SEPARATOR};
  ASSERT_TRUE(status.SetIndicators(indicators, 3));
  EXPECT_EQ(status.GetCount(), 3);
  EXPECT_EQ(status.GetPaneStyle(0), SBPS_NOBORDERS | SBPS_STRETCH);
  RECT client;
  host.GetClientRect(&client);
  RECT left = client;
  mfc::RepositionBars(&host, left);
  EXPECT_EQ(left.bottom, client.bottom - kStatusBarHeight);
  status.SetPaneInfo(0, 0, SBPS_NORMAL, 100);
  status.SetPaneInfo(1, 0, SBPS_NORMAL, 140);
  status.SetPaneInfo(2, 0, SBPS_NORMAL, 90);
  int edges[3] = {};
  status.GetStatusBarCtrl().GetParts(3, edges);
  EXPECT_EQ(edges[0], 106);
  EXPECT_EQ(edges[1], 108 + 146);
  UINT id = 9, style = 9;
  int width = 0;
  status.GetPaneInfo(1, id, style, width);
  EXPECT_EQ(width, 140);
  EXPECT_TRUE(status.SetPaneText(1, "Connected"));
  EXPECT_EQ(status.GetPaneText(1), CString("Connected"));
  EXPECT_EQ(status.GetStatusBarCtrl().GetText(1), CString("Connected"));
  EXPECT_FALSE(status.SetPaneText(3, "none"));
  EXPECT_EQ(status.CommandToIndex(0), 0);
}

}  // namespace
