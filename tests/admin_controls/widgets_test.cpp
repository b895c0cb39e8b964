// The small widgets and the note panel.
#include <gtest/gtest.h>

#include <climits>

#include "controls/note_panel.h"
#include "controls/shared_colors.h"
#include "controls/small_widgets.h"
#include "test_util.h"
#include "win32/window_manager.h"

namespace {

TEST(CellBuffer, AllocFreesTheOldGridAndRefusesBadSizes) {
  CCellBuffer cells;
  EXPECT_EQ(cells.GetCell(0, 0), nullptr);
  ASSERT_TRUE(cells.Alloc(2, 3));
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cells.GetCell(r, c), nullptr);
  int marker = 0;
  EXPECT_TRUE(cells.SetCell(1, 2, &marker));
  EXPECT_EQ(cells.GetCell(1, 2), &marker);
  EXPECT_FALSE(cells.SetCell(2, 0, &marker));
  EXPECT_FALSE(cells.SetCell(0, -1, &marker));
  // A second Alloc starts a clean grid (the first used to be lost).
  ASSERT_TRUE(cells.Alloc(3, 3));
  EXPECT_EQ(cells.GetCell(1, 2), nullptr);
  EXPECT_FALSE(cells.Alloc(-1, 4));
  EXPECT_EQ(cells.GetRows(), 0);
  EXPECT_FALSE(cells.Alloc(INT_MAX, INT_MAX));
  EXPECT_EQ(cells.GetCols(), 0);
  EXPECT_TRUE(cells.Alloc(0, 5));
  EXPECT_EQ(cells.GetCell(0, 0), nullptr);
}

TEST(UiFontSet, FourBoldFontsByNumber) {
  const size_t before = tavrin::gdi::LiveObjectCount(OBJ_FONT);
  {
    CUiFontSet fonts;
    EXPECT_EQ(fonts.GetFont(0), nullptr);
    EXPECT_EQ(fonts.GetFont(5), nullptr);
    LOGFONT lf{};
    ASSERT_NE(fonts.GetFont(3), nullptr);
    fonts.GetFont(3)->GetObject(sizeof lf, &lf);
    EXPECT_STREQ(lf.lfFaceName, "Courier New");
    fonts.GetFont(1)->GetObject(sizeof lf, &lf);
    EXPECT_STREQ(lf.lfFaceName, "");
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_FONT), before + 4);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_FONT), before);
}

TEST(ColorStatic, RepaintsAtOnceInTheNewColours) {
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 120, 60, nullptr, 0));
  CColorStatic label;
  ASSERT_TRUE(label.Create("", WS_CHILD | WS_VISIBLE, CRect(10, 10, 110, 40), &host, 5));
  const size_t brushes = tavrin::gdi::LiveObjectCount(OBJ_BRUSH);
  label.SetBkColor(RGB(0, 128, 255));
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_BRUSH), brushes) << "the old brush is replaced";
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  EXPECT_EQ(pixels.at(50, 20) & 0xFFFFFF, 0x0080FFu);
  label.SetBkColor(RGB(255, 0, 0));
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  EXPECT_EQ(pixels.at(50, 20) & 0xFFFFFF, 0xFF0000u);
}

TEST(NotePanel, SettersKeepTheirBounds) {
  CNotePanel panel;
  ASSERT_EQ(GetSystemMetrics(SM_CYICON), 32);
  panel.SetHeight(0);
  EXPECT_EQ(panel.GetHeight(), 44);
  panel.SetHeight(200);
  EXPECT_EQ(panel.GetHeight(), 200);
  panel.SetAlign(7);
  EXPECT_EQ(panel.GetAlign(), 0);
  panel.SetFontHeights(8, 9);
  EXPECT_EQ(panel.GetTitleHeight(), 12);
  EXPECT_EQ(panel.GetTextHeight(), 12);
  panel.SetMargin(1);
  EXPECT_EQ(panel.GetMargin(), 2);
  panel.SetTextLeft(-3);
  EXPECT_EQ(panel.GetTextLeft(), 2);
  panel.AttachToWindow(nullptr);
  panel.ShiftHostControls(nullptr);
  EXPECT_EQ(panel.GetSafeHwnd(), nullptr);
}

TEST(NotePanel, AttachGrowsTheHostOnceAndShiftsItsControls) {
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 150, nullptr, 0));
  CStatic label;
  ASSERT_TRUE(label.Create("x", WS_CHILD | WS_VISIBLE, CRect(10, 20, 60, 40), &host, 7));
  CNotePanel panel;
  panel.SetTitle("Title");
  panel.SetText("Body text that wraps.");
  panel.SetHeight(60);
  panel.AttachToWindow(&host);
  panel.ShiftHostControls(&host);
  panel.SetBkColor(RGB(255, 255, 224));
  CRect rc;
  host.GetWindowRect(&rc);
  EXPECT_EQ(rc.Height(), 210);
  panel.AttachToWindow(&host);
  host.GetWindowRect(&rc);
  EXPECT_EQ(rc.Height(), 210) << "attached once";
  label.GetWindowRect(&rc);
  host.ScreenToClient(&rc);
  EXPECT_EQ(rc.top, 80);
  EXPECT_EQ(rc.Width(), 50);
  // Painted: the background inside the frame.
  host.UpdateWindow();
  panel.UpdateWindow();
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  EXPECT_EQ(pixels.at(250, 50) & 0xFFFFFF, 0xFFFFE0u);
  // Fonts are made again at each paint: the old ones go.
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    panel.Invalidate();
    panel.UpdateWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

TEST(NotePanel, TheTitleStartsAfterAnIcon) {
  CNotePanel panel;
  CRect client(0, 0, 300, 60);
  EXPECT_EQ(panel.TitleRect(client).left, 10) << "no icon: the text left";
  ICONINFO info{TRUE, 16, 16, CreateBitmap(32, 32, 1, 1, nullptr), CreateBitmap(32, 32, 1, 32, nullptr)};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  panel.SetIcon(icon);
  EXPECT_EQ(panel.TitleRect(client).left, 5 + 32 + 5);
  panel.SetAlign(1);
  EXPECT_EQ(panel.TitleRect(client).right, 300 - 5 - 1 - 42);
  DestroyIcon(icon);
}

}  // namespace

namespace {

TEST(HeaderListCtrl, TheListsHeaderPaintsInTheSharedColours) {
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 160, nullptr, 0));
  CHeaderListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 300, 160), &host, 9));
  ASSERT_NE(list.m_header.GetSafeHwnd(), nullptr);
  EXPECT_EQ(list.GetHeaderCtrl()->GetSafeHwnd(), list.m_header.GetSafeHwnd());
  list.InsertColumn(0, "Name", 0, 120);
  list.InsertColumn(1, "Address", 0, 120);
  list.InsertItem(0, "server");
  list.SetItemText(0, 1, "10.0.0.2");
  EXPECT_EQ(list.GetItemText(0, 1), CString("10.0.0.2"));
  EXPECT_EQ(list.m_header.GetItemCount(), 2);
  host.UpdateWindow();
  list.UpdateWindow();
  list.m_header.UpdateWindow();
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  auto at = [&](int x, int y) {
    uint32_t p = pixels.at(x, y);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  };
  EXPECT_EQ(at(280, 10), g_clrControlBack) << "beyond the items";
  EXPECT_EQ(at(100, 10), g_clrControlBack) << "inside an item";
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    list.m_header.Invalidate();
    list.m_header.UpdateWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

}  // namespace
