// Coloured tabs: colour arithmetic, paint modes, the drawn faces and the sheet.
#include <gtest/gtest.h>

#include "controls/colored_tabs.h"
#include "test_util.h"
#include "win32/window_manager.h"

namespace {

using controls_test::SurfaceDc;

struct FlagsGuard {
  DWORD saved = g_dwTabDrawFlags;
  ~FlagsGuard() { g_dwTabDrawFlags = saved; }
};

COLORREF Pixel(const tavrin::draw::Surface& s, int x, int y) {
  uint32_t p = s.at(x, y);
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

TEST(ColoredTabs, ColourArithmeticClampsItsFactors) {
  const COLORREF c = 0x12345678;
  EXPECT_EQ(CColoredTabCtrl::DarkenColor(c, 1.5f), 0x00345678u);
  EXPECT_EQ(CColoredTabCtrl::DarkenColor(c, -1.0f), 0u);
  EXPECT_EQ(CColoredTabCtrl::LightenColor(c, 0.5f), 0x00345678u);
  EXPECT_EQ(CColoredTabCtrl::LightenColor(RGB(200, 100, 10), 1.5f), RGB(255, 150, 15));
  EXPECT_EQ(CColoredTabCtrl::DarkenColor(RGB(200, 100, 11), 0.5f), RGB(100, 50, 5));
}

TEST(ColoredTabs, PaintModesAndTheOwnerDrawStyle) {
  FlagsGuard guard;
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CColoredTabCtrl early;
  EXPECT_TRUE(early.SetPaintMode(2));
  EXPECT_EQ(early.GetPaintMode(), 2) << "stored before the window exists";
  EXPECT_FALSE(early.SetPaintMode(3));
  EXPECT_FALSE(early.SetPaintMode(-1));
  EXPECT_EQ(early.GetPaintMode(), 2);
  ASSERT_TRUE(early.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1));
  EXPECT_TRUE(early.GetStyle() & TCS_OWNERDRAWFIXED);
  EXPECT_FALSE(early.SetPaintMode(5));
  EXPECT_TRUE(early.GetStyle() & TCS_OWNERDRAWFIXED);
  EXPECT_TRUE(early.SetPaintMode(0));
  EXPECT_FALSE(early.GetStyle() & TCS_OWNERDRAWFIXED);

  CColoredTabCtrl::EnableCustomDraw(FALSE, 0xFF);
  EXPECT_EQ(g_dwTabDrawFlags, 0u);
  CColoredTabCtrl plain;
  ASSERT_TRUE(plain.Create(WS_CHILD, CRect(0, 0, 200, 100), &host, 2));
  EXPECT_FALSE(plain.GetStyle() & TCS_OWNERDRAWFIXED);
  EXPECT_EQ(plain.SendMessage(TCM_GETEXTENDEDSTYLE), static_cast<LRESULT>(TCS_EX_FLATSEPARATORS));
  CColoredTabCtrl::EnableCustomDraw(TRUE, 2 | 4 | 8);
  CColoredTabCtrl owner;
  ASSERT_TRUE(owner.Create(WS_CHILD, CRect(0, 0, 200, 100), &host, 3));
  EXPECT_TRUE(owner.GetStyle() & TCS_OWNERDRAWFIXED);
}

TEST(ColoredTabs, TabColoursFollowTheFlags) {
  FlagsGuard guard;
  CColoredTabCtrl tabs;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  g_dwTabDrawFlags = 0;
  EXPECT_EQ(tabs.GetTabBackColor(TRUE), face);
  EXPECT_EQ(tabs.GetTabBackColor(FALSE), CColoredTabCtrl::DarkenColor(face, 0.9f));
  tabs.SetBkgndColor(RGB(100, 120, 140));
  g_dwTabDrawFlags = 2 | 4;
  EXPECT_EQ(tabs.GetTabBackColor(TRUE), RGB(140, 168, 196));
  EXPECT_EQ(tabs.GetTabBackColor(FALSE), RGB(90, 108, 126));
  g_dwTabDrawFlags = 1;
  EXPECT_EQ(tabs.GetTabBackColor(FALSE), RGB(100, 120, 140));
  EXPECT_EQ(tabs.GetTabTextColor(FALSE), RGB(50, 60, 70));
  g_dwTabDrawFlags = 0;
  EXPECT_EQ(tabs.GetTabTextColor(FALSE), CColoredTabCtrl::DarkenColor(face, 0.5f));
}

TEST(ColoredTabs, GradientBandsStayInsideAnOddFace) {
  FlagsGuard guard;
  g_dwTabDrawFlags = 2 | 4 | 8;
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CColoredTabCtrl tabs;
  ASSERT_TRUE(tabs.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1));
  tabs.InsertItem(0, "A");
  tabs.InsertItem(1, "B");
  SurfaceDc out(80, 40);
  // Selected: the face ends one above the record's bottom, 21 pixels high here.
  DRAWITEMSTRUCT item{ODT_TAB, 1, 0, ODA_DRAWENTIRE, ODS_SELECTED, tabs.m_hWnd, out.hdc, {0, 0, 60, 22}, 0};
  tabs.DrawItem(&item);
  const COLORREF start = 0xF7F3F7, end = g_clrControlBack;
  auto band = [&](int y, int h) {
    auto ch = [&](int s, int e) { return s + (y * (e - s)) / h; };
    return RGB(ch(GetRValue(start), GetRValue(end)), ch(GetGValue(start), GetGValue(end)), ch(GetBValue(start), GetBValue(end)));
  };
  EXPECT_EQ(out.At(1, 0), start);
  EXPECT_EQ(out.At(1, 1), start);
  EXPECT_EQ(out.At(1, 2), band(2, 21));
  EXPECT_EQ(out.At(1, 4), band(4, 21));
  EXPECT_EQ(out.At(1, 20), band(20, 21));
  EXPECT_EQ(out.At(1, 21), RGB(255, 255, 255)) << "the band of an odd face stops at its bottom";
  // Unselected: the face runs two below the record, from the control colour.
  item.itemID = 1;
  item.itemState = 0;
  item.rcItem = {0, 0, 60, 10};
  SurfaceDc other(80, 40);
  item.hDC = other.hdc;
  tabs.DrawItem(&item);
  EXPECT_EQ(other.At(1, 0), end);
  EXPECT_EQ(other.At(1, 11), end);
  EXPECT_EQ(other.At(1, 12), RGB(255, 255, 255));
}

TEST(ColoredTabs, WholeControlPaintDrawsTheSelectedFaceAndKeepsGdiObjects) {
  FlagsGuard guard;
  g_dwTabDrawFlags = 0;
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CColoredTabCtrl tabs;
  tabs.SetPaintMode(2);
  ASSERT_TRUE(tabs.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1));
  tabs.InsertItem(0, "First");
  tabs.InsertItem(1, "Second");
  tabs.SetCurSel(1);
  host.UpdateWindow();
  tabs.UpdateWindow();
  CRect second, first;
  tabs.GetItemRect(1, &second);
  tabs.GetItemRect(0, &first);
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  EXPECT_EQ(Pixel(pixels, second.left + 2, second.top + 1), 0xF7F3F7u);
  EXPECT_EQ(Pixel(pixels, first.left + 2, first.top + 1), g_clrControlBack);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    tabs.Invalidate();
    tabs.UpdateWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

TEST(ColoredTabs, TheSheetTakesOverItsTabsAndFillsItsWholeClientArea) {
  FlagsGuard guard;
  CColoredTabsPropSheet sheet("Settings");
  CPropertyPage one("One"), two("Two");
  sheet.AddPage(&one);
  sheet.AddPage(&two);
  ASSERT_TRUE(sheet.Create(nullptr, WS_POPUP | WS_VISIBLE, 1020, 300));
  EXPECT_EQ(sheet.m_tabCtrl.GetSafeHwnd(), nullptr);
  sheet.UpdateWindow();
  EXPECT_EQ(sheet.m_tabCtrl.GetSafeHwnd(), sheet.GetTabControlWindow());
  EXPECT_TRUE(sheet.m_tabCtrl.GetStyle() & TCS_OWNERDRAWFIXED);
  EXPECT_EQ(sheet.m_tabCtrl.GetPaintMode(), 1);
  EXPECT_EQ(sheet.m_tabCtrl.GetBkgndColor(), g_clrControlBack);
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(sheet.m_hWnd, pixels));
  EXPECT_EQ(Pixel(pixels, 1018, 150), g_clrWindowBack) << "beyond 1000 pixels too";
  EXPECT_EQ(Pixel(pixels, 2, 298), g_clrWindowBack);
  CObject* made = RUNTIME_CLASS(CColoredTabsPropSheet)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->GetRuntimeClass()->m_lpszClassName, "CColoredTabsPropSheet");
  delete made;
}

}  // namespace
