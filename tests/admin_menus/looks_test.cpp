// The looks of the drawing styles, probed pixel by pixel on items drawn into a memory context.
#include <string>

#include "admin/menus/NewMenu.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

class LooksTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    saved = CNewMenu::SetMenuDrawMode(2);
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, 300, 60);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
    popup.CreatePopupMenu();
    popup.AppendMenu(MF_STRING, 101, "&Open\tCtrl+O");
    popup.AppendMenu(MF_SEPARATOR);
    popup.AppendMenu(MF_STRING, SC_CLOSE, "");
    popup.AppendMenu(MF_STRING | MF_GRAYED, 103, "Grayed");
    popup.AppendMenu(MF_STRING | MF_CHECKED, 104, "Checked");
    bar.CreateMenu();
    CNewMenu* file = bar.AppendPopup("&File");
    file->AppendMenu(MF_STRING, 201, "&New");
    bar.m_bPopup = FALSE;
  }
  void TearDown() override {
    popup.DestroyMenu();
    bar.DestroyMenu();
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    CNewMenu::SetMenuDrawMode(saved);
    SysrootTest::TearDown();
  }
  // Draws the item at a position of the menu, in a rectangle of the given size at (10, 10).
  void Draw(CNewMenu& menu, int position, UINT state, int width = 200, int height = 22) {
    RECT wipe{0, 0, 300, 60};
    FillRect(dc, &wipe, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    rect = RECT{10, 10, 10 + width, 10 + height};
    const UINT id = ::GetSubMenu(menu.m_hMenu, position)
                        ? static_cast<UINT>(reinterpret_cast<UINT_PTR>(::GetSubMenu(menu.m_hMenu, position)))
                        : ::GetMenuItemID(menu.m_hMenu, position);
    DRAWITEMSTRUCT draw{ODT_MENU, 0, id, ODA_DRAWENTIRE, state, reinterpret_cast<HWND>(menu.m_hMenu), dc, rect,
                        reinterpret_cast<ULONG_PTR>(menu.m_items[static_cast<size_t>(position)])};
    menu.DrawItem(&draw);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
  // Within a few steps a channel of the colour: a smooth gradient reaches its ends only at its edges.
  static bool Near(COLORREF a, COLORREF b) {
    auto close = [](int x, int y) { return x - y <= 6 && y - x <= 6; };
    return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) && close(GetBValue(a), GetBValue(b));
  }
  int Count(const RECT& area, COLORREF colour) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) n += At(x, y) == colour;
    return n;
  }

  UINT saved = 2;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  RECT rect{};
  CNewMenu popup;
  CNewMenu bar;
};

TEST_F(LooksTest, ClassicPopupsHighlightTheTextPartAndSinkTheirChecks) {
  for (UINT style : {0u, 1u, 4u, 5u}) {
    SCOPED_TRACE(style);
    CNewMenu::SetMenuDrawMode(style);
    Draw(popup, 0, 0);
    EXPECT_EQ(At(rect.left + 1, rect.top + 1), GetSysColor(COLOR_MENU));
    Draw(popup, 0, ODS_SELECTED);
    EXPECT_EQ(At(rect.left + 1, rect.top + 1), GetSysColor(COLOR_HIGHLIGHT)) << "no icon: the whole item";
    EXPECT_GT(Count(rect, GetSysColor(COLOR_HIGHLIGHTTEXT)), 10) << "selected text";
    Draw(popup, 1, 0);
    const int centre = (rect.top + rect.bottom) / 2;
    EXPECT_EQ(At(rect.left + 30, centre + 1), GetSysColor(COLOR_BTNSHADOW)) << "etched separator";
    EXPECT_EQ(At(rect.left + 30, centre + 2), GetSysColor(COLOR_3DHILIGHT));
    Draw(popup, 3, ODS_GRAYED);
    EXPECT_GT(Count(rect, GetSysColor(COLOR_3DHILIGHT)), 3) << "a grayed text is embossed";
    EXPECT_GT(Count(rect, GetSysColor(COLOR_GRAYTEXT)), 3);
    Draw(popup, 4, ODS_CHECKED);
    const int top = rect.top + ((rect.bottom - rect.top) - popup.m_iconY) / 2;
    EXPECT_EQ(At(rect.left + 4, top + 1), GetSysColor(COLOR_BTNSHADOW)) << "sunken check box";
    RECT box{rect.left + 3, top, rect.left + 3 + popup.m_iconX, top + popup.m_iconY};
    EXPECT_GT(Count(box, GetSysColor(COLOR_MENUTEXT)), 3) << "the check glyph";
  }
}

TEST_F(LooksTest, HighlightedBarLightsHotAndOpenBarItems) {
  CNewMenu::SetMenuDrawMode(4);
  Draw(bar, 0, ODS_HOTLIGHT, 60, 20);
  EXPECT_EQ(At(rect.left + 1, rect.top + 1), GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_GT(Count(rect, GetSysColor(COLOR_HIGHLIGHTTEXT)), 5);
  Draw(bar, 0, 0, 60, 20);
  EXPECT_EQ(At(rect.left + 1, rect.top + 1), CNewMenu::GetMenuBarColor(nullptr));
  EXPECT_GT(Count(rect, GetSysColor(COLOR_MENUTEXT)), 5);
  // The classic bar raises a hot item and sinks an open one.
  CNewMenu::SetMenuDrawMode(0);
  Draw(bar, 0, ODS_HOTLIGHT, 60, 20);
  EXPECT_EQ(At(rect.left, rect.top), GetSysColor(COLOR_3DHILIGHT));
  EXPECT_EQ(At(rect.right - 1, rect.bottom - 1), GetSysColor(COLOR_BTNSHADOW));
  bar.m_openPopups = 1;
  Draw(bar, 0, ODS_SELECTED, 60, 20);
  EXPECT_EQ(At(rect.left, rect.top), GetSysColor(COLOR_BTNSHADOW));
  bar.m_openPopups = 0;
  Draw(bar, 0, ODS_SELECTED, 60, 20);
  EXPECT_EQ(At(rect.left, rect.top), GetSysColor(COLOR_3DHILIGHT)) << "selected by keyboard: drawn hot";
}

TEST_F(LooksTest, TintedItemsShadeFromLightToDark) {
  CNewMenu::SetMenuDrawMode(6);
  const COLORREF M = CNewMenu::GetMenuColor(nullptr);
  Draw(popup, 0, 0);
  EXPECT_EQ(At(rect.left + 5, rect.top), LightenColor(30, M));
  EXPECT_TRUE(Near(At(rect.left + 5, rect.bottom - 2), DarkenColor(30, M)));
  Draw(popup, 0, ODS_SELECTED);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  EXPECT_EQ(At(rect.left, rect.top + 5), DarkenColor(60, M)) << "sunken selection";
  EXPECT_EQ(At(rect.right - 1, rect.top + 5), LightenColor(60, M));
  EXPECT_TRUE(Near(At(rect.left + 5, rect.top + 1), LightenColor(30, highlight)));
  Draw(popup, 1, 0, 200, 9);
  EXPECT_EQ(At(rect.left + 5, rect.top + 1), LightenColor(60, M)) << "separator background";
  Draw(bar, 0, ODS_HOTLIGHT, 60, 20);
  EXPECT_EQ(At(rect.left, rect.top), LightenColor(60, M)) << "raised hot bar item";
  EXPECT_TRUE(Near(At(rect.left + 5, rect.top + 1), LightenColor(30, M)));
}

TEST_F(LooksTest, WarmLookUsesItsFixedFillsAndAGradientIconColumn) {
  CNewMenu::SetMenuDrawMode(8);
  const COLORREF W10 = DarkenColor(10, GetSysColor(COLOR_WINDOW));
  const COLORREF T = MixColors86(W10, CNewMenu::GetMenuColor(nullptr));
  Draw(popup, 0, 0);
  EXPECT_EQ(At(rect.left, rect.top + 5), T) << "the icon column starts at the text colour";
  EXPECT_EQ(At(rect.right - 2, rect.top + 5), T) << "text area";
  Draw(popup, 0, ODS_SELECTED);
  EXPECT_EQ(At(rect.left + 2, rect.top + 2), COLORREF{0xC2EEFF});
  EXPECT_EQ(At(rect.left, rect.top + 5), GetSysColor(COLOR_HIGHLIGHT)) << "framed";
  Draw(popup, 4, ODS_CHECKED);
  EXPECT_EQ(At(rect.left + 2, rect.top + 2), COLORREF{0x6FC0FF});
  Draw(popup, 4, ODS_CHECKED | ODS_SELECTED);
  EXPECT_EQ(At(rect.left + 2, rect.top + 2), COLORREF{0x3E80FE});
  Draw(popup, 2, 0);
  RECT column{rect.left, rect.top, rect.left + popup.m_iconX + 8, rect.bottom};
  EXPECT_GT(Count(column, GetSysColor(COLOR_MENUTEXT)), 3) << "the close command's Marlett glyph";
}

TEST_F(LooksTest, AnOpenFlatBarItemCastsItsShadowToTheRight) {
  CNewMenu::SetMenuDrawMode(2);
  const COLORREF M = CNewMenu::GetMenuBarColor(bar.m_hMenu);
  bar.m_openPopups = 1;
  Draw(bar, 0, ODS_SELECTED, 60, 20);
  EXPECT_EQ(At(rect.right - 1, rect.top + 10), DarkenColor(30, M)) << "outermost column";
  EXPECT_EQ(At(rect.right - 4, rect.top + 10), DarkenColor(120, M)) << "next to the item";
  EXPECT_EQ(At(rect.right - 2, rect.top + 5), DarkenColor(2 * 6 * 2, M));
  EXPECT_EQ(At(rect.right - 1, rect.top + 2), M);
  EXPECT_EQ(At(rect.left, rect.top + 10), DarkenColor(128, CNewMenu::GetMenuBarColor(nullptr))) << "darker frame";
  bar.m_openPopups = 0;
  Draw(bar, 0, ODS_SELECTED, 60, 20);
  EXPECT_EQ(At(rect.right - 4, rect.top + 10), M) << "selected by keyboard: hot, no shadow";
}

TEST_F(LooksTest, TitlesMeasureAndPaintTheirOptions) {
  ASSERT_TRUE(popup.SetMenuTitle("Title", 1 | 4 | 0x10));
  CNewMenu::SetMenuDrawMode(2);
  MEASUREITEMSTRUCT measure{ODT_MENU, 0, 0, 0, 0, reinterpret_cast<ULONG_PTR>(popup.m_items[0])};
  popup.MeasureItem(&measure);
  const UINT plain = measure.itemHeight;
  popup.m_items[0]->m_nTitleFlags = 1;
  popup.MeasureItem(&measure);
  EXPECT_EQ(plain, measure.itemHeight + 8) << "the etched line takes 8 pixels";
  popup.m_items[0]->m_nTitleFlags = 1 | 4 | 0x10;
  Draw(popup, 0, 0, 200, static_cast<int>(plain));
  EXPECT_EQ(At(rect.left, rect.top + 2), GetSysColor(COLOR_ACTIVECAPTION)) << "the gradient starts at the caption";
  EXPECT_EQ(At(rect.left + 2, rect.bottom - 7), GetSysColor(COLOR_3DHILIGHT)) << "raised line";
  EXPECT_EQ(At(rect.left + 12, rect.bottom - 4), GetSysColor(COLOR_BTNSHADOW)) << "sunken line";
}

TEST_F(LooksTest, SystemCommandsTakeTheMenuHeightAndTheNextCommandsWidth) {
  for (UINT style : {2u, 0u, 6u}) {
    SCOPED_TRACE(style);
    CNewMenu::SetMenuDrawMode(style);
    auto measure = [&](int position) {
      MEASUREITEMSTRUCT item{ODT_MENU, 0, 0, 0, 0, reinterpret_cast<ULONG_PTR>(popup.m_items[static_cast<size_t>(position)])};
      popup.MeasureItem(&item);
      return item;
    };
    const MEASUREITEMSTRUCT close = measure(2), grayed = measure(3);
    EXPECT_EQ(close.itemHeight, static_cast<UINT>(GetSystemMetrics(SM_CYMENU)));
    EXPECT_EQ(close.itemWidth, grayed.itemWidth) << "its own text is empty: the next command is wider";
  }
}

TEST_F(LooksTest, AGrayedItemReachedByKeyboardIsFramedNotFilled) {
  CNewMenu::SetMenuDrawMode(2);
  const BOOL saved = CNewMenu::SetHighlightGrayedItems(FALSE);
  GetNewMenuGlobalState().m_lastMessagePos = GetMessagePos() + 1;
  const COLORREF W = GetSysColor(COLOR_WINDOW), M = CNewMenu::GetMenuBarColor(popup.m_hMenu);
  COLORREF T = MixColors86(W, M), G = MixColors86(M, W);
  if (T == G) T = W, G = M;
  Draw(popup, 3, ODS_GRAYED | ODS_SELECTED);  // the mouse moved: no selection at all
  const int middle = (rect.top + rect.bottom) / 2;
  EXPECT_EQ(At(rect.left, middle), G);
  Draw(popup, 3, ODS_GRAYED | ODS_SELECTED);  // the same place: the keyboard moved the selection
  EXPECT_EQ(At(rect.left, middle), GetSysColor(COLOR_HIGHLIGHT)) << "framed";
  EXPECT_EQ(At(rect.left + 2, rect.top + 2), T) << "over the text-area colour";
  CNewMenu::SetHighlightGrayedItems(saved);
}

TEST_F(LooksTest, EveryLookFreesWhatItPaintsWith) {
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (UINT style = 0; style < 10; ++style) {
    CNewMenu::SetMenuDrawMode(style);
    for (UINT state : {0u, UINT{ODS_SELECTED}, UINT{ODS_GRAYED | ODS_SELECTED}, UINT{ODS_CHECKED}})
      for (int position = 0; position < 5; ++position) Draw(popup, position, state);
    for (UINT state : {0u, UINT{ODS_HOTLIGHT}, UINT{ODS_SELECTED}, UINT{0x80}}) Draw(bar, 0, state, 60, 20);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

}  // namespace
