// Tool tips: tools and texts, the hover that shows the tip after its delay, what hides it, and its look.
#include "comctl_test_util.h"
#include "mfc/controls.h"

namespace {

using namespace comctl_test;

MSG Mouse(HWND hwnd, UINT message, int x, int y) {
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.lParam = MAKELPARAM(x, y);
  return msg;
}

struct TipFixture : ::testing::Test {
  Host host;
  CWnd tool;
  CToolTipCtrl tip;
  void SetUp() override {
    ASSERT_TRUE(MakeHost(host));
    ASSERT_TRUE(tool.CreateEx(0, "tool", WS_CHILD | WS_VISIBLE, 20, 20, 80, 30, host.m_hWnd, 5));
    ASSERT_TRUE(tip.Create(&host));
    tip.SetDelayTime(TTDT_INITIAL, 1);
  }
  bool Shown() { return tip.IsTipShown() != FALSE; }
};

TEST_F(TipFixture, ToolsAndTheirTexts) {
  EXPECT_TRUE(tip.IsActive());
  EXPECT_TRUE(tip.AddTool(&tool, "Connect the device"));
  EXPECT_EQ(tip.GetToolCount(), 1);
  EXPECT_EQ(tip.GetToolText(&tool), CString("Connect the device"));
  tip.UpdateTipText("Disconnect", &tool);
  EXPECT_EQ(tip.GetToolText(&tool), CString("Disconnect"));
  EXPECT_TRUE(tip.AddTool(&tool, "a rectangle", CRect(0, 0, 10, 10), 42));
  EXPECT_EQ(tip.GetToolCount(), 2);
  EXPECT_EQ(tip.GetToolText(&tool, 42), CString("a rectangle"));
  TTHITTESTINFO hit{};
  hit.hwnd = tool.m_hWnd;
  hit.pt = POINT{5, 5};
  EXPECT_TRUE(tip.SendMessage(TTM_HITTESTA, 0, reinterpret_cast<LPARAM>(&hit)));
  EXPECT_EQ(hit.ti.uId, 42u);
  hit.pt = POINT{50, 5};
  ASSERT_TRUE(tip.SendMessage(TTM_HITTESTA, 0, reinterpret_cast<LPARAM>(&hit)));
  EXPECT_EQ(hit.ti.uId, reinterpret_cast<UINT_PTR>(tool.m_hWnd)) << "outside the rectangle: the whole window";
  tip.DelTool(&tool, 42);
  EXPECT_EQ(tip.GetToolCount(), 1);
  EXPECT_EQ(tip.GetToolText(&tool, 42), CString(""));
  EXPECT_EQ(tip.SetMaxTipWidth(300), -1);
  EXPECT_EQ(tip.GetMaxTipWidth(), 300);
  tip.SetDelayTime(250);
  EXPECT_EQ(tip.GetDelayTime(TTDT_INITIAL), 250);
  EXPECT_EQ(tip.GetDelayTime(TTDT_AUTOPOP), 2500);
  EXPECT_EQ(tip.GetDelayTime(TTDT_RESHOW), 50);
  // A text asked of the tool's owner when it is shown.
  TOOLINFO info{};
  info.cbSize = sizeof info;
  info.hwnd = host.m_hWnd;
  info.uId = 77;
  info.lpszText = LPSTR_TEXTCALLBACK;
  ASSERT_TRUE(tip.SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
  host.onNotify = [](NMHDR* header) -> LRESULT {
    if (header->code != TTN_GETDISPINFOA) return 0;
    auto* disp = reinterpret_cast<NMTTDISPINFO*>(header);
    if (header->idFrom == 77) strcpy(disp->szText, "asked");
    return 0;
  };
  char text[80] = {};
  info.lpszText = text;
  tip.SendMessage(TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
  EXPECT_STREQ(text, "asked");
  TOOLINFO bad{};
  bad.cbSize = 4;
  EXPECT_FALSE(tip.SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&bad))) << "a record too small";
}

TEST_F(TipFixture, HoverShowsTheTipBelowThePointerAndAClickHidesIt) {
  ASSERT_TRUE(tip.AddTool(&tool, "Start Device Mapping"));
  MSG move = Mouse(tool.m_hWnd, WM_MOUSEMOVE, 10, 10);
  tip.RelayEvent(&move);
  EXPECT_FALSE(Shown()) << "only after the delay";
  ASSERT_TRUE(RunUntil([&] { return Shown(); }));
  EXPECT_EQ(host.CountNotes(TTN_SHOW), 1);
  CRect shown, toolRect;
  tip.GetWindowRect(&shown);
  tool.GetWindowRect(&toolRect);
  EXPECT_EQ(shown.left, toolRect.left + 10);
  EXPECT_GE(shown.top, toolRect.top + 10 + 16) << "below the pointer";
  // Drawn on the tip colours with a frame.
  auto image = Capture(tip.m_hWnd);
  EXPECT_EQ(Pixel(image, 0, 0), GetSysColor(COLOR_WINDOWFRAME));
  EXPECT_EQ(Pixel(image, 2, shown.Height() / 2), GetSysColor(COLOR_INFOBK));
  bool text = false;
  for (int x = 3; x < shown.Width() - 3; ++x) text = text || Pixel(image, x, shown.Height() / 2) == GetSysColor(COLOR_INFOTEXT);
  EXPECT_TRUE(text);
  ExpectNoGdiGrowth(tip.m_hWnd);
  MSG click = Mouse(tool.m_hWnd, WM_LBUTTONDOWN, 10, 10);
  tip.RelayEvent(&click);
  EXPECT_FALSE(Shown());
  EXPECT_EQ(host.CountNotes(TTN_POP), 1);
  tip.RelayEvent(&move);
  EXPECT_FALSE(RunUntil([&] { return Shown(); }, 60)) << "not again until the pointer moves to another tool";
  EXPECT_EQ(tip.RelayedCount(), 3);
}

TEST_F(TipFixture, LeavingDeactivatingAndTheAutoPopHide) {
  ASSERT_TRUE(tip.AddTool(&tool, "tip"));
  MSG move = Mouse(tool.m_hWnd, WM_MOUSEMOVE, 10, 10);
  tip.RelayEvent(&move);
  ASSERT_TRUE(RunUntil([&] { return Shown(); }));
  MSG away = Mouse(host.m_hWnd, WM_MOUSEMOVE, 250, 150);
  tip.RelayEvent(&away);
  EXPECT_FALSE(Shown()) << "the pointer left the tool";
  tip.Activate(FALSE);
  tip.RelayEvent(&move);
  EXPECT_FALSE(RunUntil([&] { return Shown(); }, 60)) << "an inactive tip never shows";
  tip.Activate(TRUE);
  tip.SetDelayTime(TTDT_AUTOPOP, 20);
  tip.RelayEvent(&away);
  // Shown and hidden again within 20 ms: the notices tell, where a look between two messages may miss it.
  const int shows = host.CountNotes(TTN_SHOW), pops = host.CountNotes(TTN_POP);
  tip.RelayEvent(&move);
  ASSERT_TRUE(RunUntil([&] { return host.CountNotes(TTN_SHOW) == shows + 1; }));
  EXPECT_TRUE(RunUntil([&] { return host.CountNotes(TTN_POP) == pops + 1; })) << "hidden after the auto-pop delay";
  EXPECT_FALSE(Shown());
  tip.UpdateTipText("", &tool);
  tip.RelayEvent(&away);
  tip.RelayEvent(&move);
  EXPECT_FALSE(RunUntil([&] { return Shown(); }, 60)) << "an empty text shows nothing";
}

TEST_F(TipFixture, ASubclassedToolPassesItsOwnMouseMessages) {
  TOOLINFO info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = host.m_hWnd;
  info.uId = reinterpret_cast<UINT_PTR>(tool.m_hWnd);
  info.lpszText = const_cast<LPSTR>("by itself");
  ASSERT_TRUE(tip.SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
  // Real pointer moves: over the tool, then off it (the tool's leave tracking ends the tip).
  CRect rc;
  tool.GetWindowRect(&rc);
  tavrin::win::InjectMouseMove(rc.left + 5, rc.top + 5);
  ASSERT_TRUE(RunUntil([&] { return Shown(); }));
  tavrin::win::InjectMouseMove(rc.right + 40, rc.bottom + 40);
  EXPECT_TRUE(RunUntil([&] { return !Shown(); }));
  // The tip goes first: the tool's window keeps working without it.
  tip.DestroyWindow();
  tool.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_TRUE(::IsWindow(tool.m_hWnd));
}

}  // namespace
