// Popup menu windows under the library: reserved frame, soft shadow over the screen beneath, high
// contrast, joining a bar item, detaching, and what the records hold on to.
#include <functional>
#include <memory>

#include "admin/menus/NewMenu.h"
#include "draw/surface.h"
#include "menu_owner.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

uint32_t Px(COLORREF c) { return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c); }

std::function<void(HWND, int)>* g_onIdle = nullptr;
int g_idles = 0;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (menu_test::ForwardToNewMenu(hwnd, message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_ENTERIDLE:
      if (g_onIdle && *g_onIdle) (*g_onIdle)(reinterpret_cast<HWND>(lParam), g_idles++);
      return 0;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

// A copy of the whole screen, read pixel by pixel.
class ScreenCopy {
 public:
  ScreenCopy() {
    HDC screen = GetDC(nullptr);
    width_ = GetDeviceCaps(screen, HORZRES);
    height_ = GetDeviceCaps(screen, VERTRES);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width_, height_);
    old_ = SelectObject(dc_, bitmap_);
    BitBlt(dc_, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
    ReleaseDC(nullptr, screen);
  }
  ~ScreenCopy() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  COLORREF at(int x, int y) const { return GetPixel(dc_, x, y); }

 private:
  int width_ = 0, height_ = 0;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

class MenuBorderTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    SystemParametersInfo(SPI_GETDROPSHADOW, 0, &savedShadow, 0);
    savedMode = CNewMenu::SetMenuDrawMode(2);
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "MenuBorderOwner";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_ACTIVECAPTION + 1));
    RegisterClass(&wc);
    hwnd = CreateWindowEx(0, "MenuBorderOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 300, nullptr,
                          nullptr, nullptr, nullptr);
    tavrin::win::PaintPending();
    menu.CreatePopupMenu();
    menu.AppendMenu(MF_STRING, 101, "&Open\tCtrl+O");
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING | MF_CHECKED, 102, "Checked");
    menu.AppendMenu(MF_STRING, SC_CLOSE, "Close");
    menu.AppendMenu(MF_STRING | MF_GRAYED, 103, "Grayed");
  }
  void TearDown() override {
    menu.DestroyMenu();
    DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    UnregisterClass("MenuBorderOwner", nullptr);
    CNewMenu::SetMenuDrawMode(savedMode);
    SystemParametersInfo(SPI_SETDROPSHADOW, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(savedShadow)), 0);
    g_onIdle = nullptr;
    SysrootTest::TearDown();
  }
  static void SetShadow(BOOL on) {
    SystemParametersInfo(SPI_SETDROPSHADOW, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(on)), 0);
  }
  // Tracks a menu; the idle callback sees the open popup (idle count from 0); Escape is posted for it
  // when it returns false.
  void Track(CNewMenu& which, std::function<bool(HWND, int)> onIdle) {
    std::function<void(HWND, int)> idle = [&](HWND popup, int count) {
      if (!onIdle(popup, count)) PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    };
    g_onIdle = &idle;
    g_idles = 0;
    which.TrackPopupMenu(TPM_RETURNCMD, 120, 120, CWnd::FromHandle(hwnd));
    g_onIdle = nullptr;
  }
  struct Shot {
    tavrin::draw::Surface image;
    RECT window{};
    RECT client{};  // window coordinates
    int w = 0, h = 0;
    uint32_t at(int x, int y) const { return image.at(x, y) & 0xFFFFFF; }
  };
  static Shot Take(HWND popup) {
    tavrin::win::PaintPending();
    Shot shot;
    EXPECT_TRUE(tavrin::win::CaptureWindow(popup, shot.image));
    GetWindowRect(popup, &shot.window);
    GetClientRect(popup, &shot.client);
    POINT origin{0, 0};
    ClientToScreen(popup, &origin);
    OffsetRect(&shot.client, origin.x - shot.window.left, origin.y - shot.window.top);
    shot.w = shot.window.right - shot.window.left;
    shot.h = shot.window.bottom - shot.window.top;
    return shot;
  }

  BOOL savedShadow = TRUE;
  UINT savedMode = 2;
  HWND hwnd = nullptr;
  CNewMenu menu;
};

TEST_F(MenuBorderTest, WithoutSystemShadowsPopupsReserveRoomAndDarkenWhatWasBeneath) {
  for (UINT style : {2u, 0u}) {
    SCOPED_TRACE(style);
    CNewMenu::SetMenuDrawMode(style);
    SIZE withShadow{}, withoutShadow{};
    SetShadow(TRUE);
    Track(menu, [&](HWND popup, int) {
      const Shot shot = Take(popup);
      withShadow = {shot.w, shot.h};
      EXPECT_EQ(shot.client.left, 2);
      EXPECT_EQ(shot.client.top, 2);
      EXPECT_EQ(shot.w - shot.client.right, 2);
      EXPECT_EQ(shot.h - shot.client.bottom, 2);
      const COLORREF edge = style == 2 ? DarkenColor(128, CNewMenu::GetMenuColor(menu.m_hMenu))
                                       : GetSysColor(COLOR_HIGHLIGHT);
      EXPECT_EQ(shot.at(shot.w - 1, shot.h / 2), Px(edge)) << "the frame reaches the window's edge";
      return false;
    });
    SetShadow(FALSE);
    tavrin::win::PaintPending();
    const ScreenCopy before;
    Track(menu, [&](HWND popup, int) {
      const Shot shot = Take(popup);
      withoutShadow = {shot.w, shot.h};
      EXPECT_EQ(shot.client.left, 2);
      EXPECT_EQ(shot.w - shot.client.right, 5);
      EXPECT_EQ(shot.h - shot.client.bottom, 6);
      auto beneath = [&](int x, int y) { return before.at(shot.window.left + x, shot.window.top + y); };
      const int w = shot.w, h = shot.h, row = h / 2, column = w / 2;
      EXPECT_EQ(shot.at(w - 1, row), Px(DarkenColor(30, beneath(w - 1, row)))) << "outermost column";
      EXPECT_EQ(shot.at(w - 4, row), Px(DarkenColor(120, beneath(w - 4, row)))) << "fourth column";
      EXPECT_EQ(shot.at(w - 2, 5), Px(DarkenColor(2 * 6 * 2, beneath(w - 2, 5)))) << "the shadow fades in";
      EXPECT_EQ(shot.at(w - 1, 2), Px(beneath(w - 1, 2))) << "no shadow beside the top corner";
      EXPECT_EQ(shot.at(column, h - 1), Px(DarkenColor(30, beneath(column, h - 1)))) << "outermost row";
      EXPECT_EQ(shot.at(column, h - 4), Px(DarkenColor(120, beneath(column, h - 4)))) << "fourth row";
      EXPECT_EQ(shot.at(1, h - 1), Px(beneath(1, h - 1)));
      return false;
    });
    EXPECT_EQ(withoutShadow.cx - withShadow.cx, 4) << "2 wider than the system's, not 2 narrower";
    EXPECT_EQ(withoutShadow.cy - withShadow.cy, 4);
  }
}

TEST_F(MenuBorderTest, HighContrastFramesPopupsWithOneButtonTextRectangleAndNoShadow) {
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  const BOOL saved = state.m_bHighContrast;
  state.m_bHighContrast = TRUE;
  SetShadow(FALSE);
  for (UINT style : {2u, 8u, 0u, 6u}) {
    SCOPED_TRACE(style);
    CNewMenu::SetMenuDrawMode(style);
    Track(menu, [&](HWND popup, int) {
      const Shot shot = Take(popup);
      const uint32_t text = Px(GetSysColor(COLOR_BTNTEXT));
      const int right = shot.w - 5, bottom = shot.h - 5;
      EXPECT_EQ(shot.at(0, 0), text);
      EXPECT_EQ(shot.at(right, shot.h / 2), text);
      EXPECT_EQ(shot.at(shot.w / 2, bottom), text);
      EXPECT_EQ(shot.at(0, shot.h / 2), text);
      EXPECT_NE(shot.at(1, shot.h / 2), text) << "one rectangle only";
      return false;
    });
  }
  state.m_bHighContrast = saved;
}

TEST_F(MenuBorderTest, APopupHangingFromABarItemOpensItsBorderTowardsIt) {
  CNewMenu bar;
  bar.CreateMenu();
  CNewMenu* file = bar.AppendPopup("&File");
  ASSERT_NE(file, nullptr);
  file->AppendMenu(MF_STRING, 201, "&New");
  file->AppendMenu(MF_STRING, 202, "&Close");
  bar.m_bPopup = FALSE;  // a menu bar
  SetShadow(TRUE);
  uint32_t joined = 0, edge = 0;
  Track(*file, [&](HWND popup, int) {
    RECT window;
    GetWindowRect(popup, &window);
    bar.m_lastBarItem = RECT{window.left + 5, window.top - 18, window.left + 60, window.top + 1};
    RedrawWindow(popup, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE);
    const Shot shot = Take(popup);
    joined = shot.at(20, 0);
    edge = shot.at(80, 0);
    return false;
  });
  const COLORREF c = CNewMenu::GetMenuColor(file->m_hMenu);
  EXPECT_EQ(joined, Px(MixColors86(CNewMenu::GetMenuBarColor(file->m_hMenu), GetSysColor(COLOR_WINDOW))));
  EXPECT_EQ(edge, Px(DarkenColor(128, c)));
}

TEST_F(MenuBorderTest, HidingDetachesAndPutsTheWindowBackAsItWas) {
  HWND seen = nullptr;
  Track(menu, [&](HWND popup, int) {
    seen = popup;
    CNewMenuWindowRecord* record = FindMenuWindowRecord(popup);
    EXPECT_NE(record, nullptr);
    if (!record) return false;
    EXPECT_TRUE(record->draw);
    EXPECT_EQ(record->popup, &menu);
    EXPECT_EQ(GetWindowLongPtr(popup, GWL_STYLE) & WS_BORDER, 0) << "the style paints the border itself";
    const auto own = reinterpret_cast<LONG_PTR>(GetProp(popup, "OldMenuProc"));
    EXPECT_NE(own, 0);
    EXPECT_NE(GlobalFindAtom("OldMenuProc"), 0);
    SendMessage(popup, WM_SHOWWINDOW, FALSE, 0);
    EXPECT_EQ(GetProp(popup, "OldMenuProc"), nullptr) << "nothing left to read after the detach";
    EXPECT_EQ(FindMenuWindowRecord(popup), nullptr);
    EXPECT_EQ(GetWindowLongPtr(popup, GWLP_WNDPROC), own);
    EXPECT_EQ(GlobalFindAtom("OldMenuProc"), 0);
    EXPECT_NE(GetWindowLongPtr(popup, GWL_STYLE) & WS_BORDER, 0) << "the window's style is back";
    EXPECT_NE(GetWindowLongPtr(popup, GWL_STYLE) & WS_VISIBLE, 0) << "and it still shows";
    return false;
  });
  EXPECT_NE(seen, nullptr);
  EXPECT_FALSE(IsWindow(seen));
}

TEST_F(MenuBorderTest, AMoveWithoutResizeRetakesTheBackgroundAndAResizeDetaches) {
  SetShadow(FALSE);
  Track(menu, [&](HWND popup, int) {
    Take(popup);
    CNewMenuWindowRecord* record = FindMenuWindowRecord(popup);
    EXPECT_NE(record, nullptr);
    if (!record) return false;
    EXPECT_NE(record->background, nullptr) << "taken before the first frame painting";
    RECT window;
    GetWindowRect(popup, &window);
    const size_t objects = tavrin::gdi::LiveObjectCount();
    SetWindowPos(popup, nullptr, window.left + 30, window.top + 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(record->background, nullptr) << "thrown away with the old place";
    EXPECT_EQ(record->lastPosition.x, window.left + 30);
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), objects - 1);
    RedrawWindow(popup, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE);
    Take(popup);
    EXPECT_NE(record->background, nullptr) << "taken again at the new place";
    SetWindowPos(popup, nullptr, window.left, window.top, 200, 200, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(FindMenuWindowRecord(popup), nullptr);
    return false;
  });
}

TEST_F(MenuBorderTest, PrintingPaintsTheFrameAndTheClientIntoTheTarget) {
  SetShadow(TRUE);
  Track(menu, [&](HWND popup, int) {
    const Shot shot = Take(popup);
    HDC screen = GetDC(nullptr);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, shot.w, shot.h);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(target, bitmap);
    const size_t objects = tavrin::gdi::LiveObjectCount();
    SendMessage(popup, WM_PRINT, reinterpret_cast<WPARAM>(target), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), objects);
    const COLORREF c = CNewMenu::GetMenuColor(menu.m_hMenu);
    EXPECT_EQ(GetPixel(target, 0, shot.h / 2), DarkenColor(128, c)) << "the frame";
    EXPECT_EQ(GetPixel(target, shot.client.left + 5, shot.client.top + 1), CNewMenu::GetMenuBarColor(menu.m_hMenu))
        << "the erased client";
    CNewMenuWindowRecord* record = FindMenuWindowRecord(popup);
    EXPECT_TRUE(record && !(record->flags & CNewMenuWindowRecord::kPrinting));
    SelectObject(target, old);
    DeleteObject(bitmap);
    DeleteDC(target);
    return false;
  });
}

// A popup that left one object behind would show as one more per round: a few rounds of every style tell.
TEST_F(MenuBorderTest, RepeatedPopupsOfEveryStyleLeaveNoGdiObjectBehind) {
  for (BOOL shadow : {FALSE, TRUE}) {
    SetShadow(shadow);
    for (UINT style = 0; style < 10; ++style) {
      SCOPED_TRACE(testing::Message() << "style " << style << " shadow " << shadow);
      CNewMenu::SetMenuDrawMode(style);
      auto once = [&] {
        Track(menu, [](HWND popup, int idle) {
          if (idle > 0) return false;
          PostMessage(popup, WM_KEYDOWN, VK_DOWN, 0);
          return true;
        });
      };
      once();
      const size_t baseline = tavrin::gdi::LiveObjectCount();
      for (int i = 0; i < 5; ++i) once();
      EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
    }
  }
}

TEST(MenuWindowRecord, KeepsItsOwnCopyOfTheUpdateRegionAndFreesIt) {
  const size_t before = tavrin::gdi::LiveObjectCount();
  HRGN last = CreateRectRgn(0, 0, 2, 2);
  HRGN given = CreateRectRgn(0, 0, 10, 10);
  {
    CNewMenuWindowRecord record;
    record.SetUpdateRegion(given);
    EXPECT_NE(record.updateRegion, given);
    DeleteObject(given);  // the caller's, gone; the copy stays usable
    RECT box{};
    EXPECT_NE(GetRgnBox(record.updateRegion, &box), 0);
    EXPECT_EQ(box.right, 10);
    HRGN next = CreateRectRgn(0, 0, 4, 4);
    record.SetUpdateRegion(next);  // the first copy goes
    DeleteObject(next);
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before + 2);
    record.SetUpdateRegion(reinterpret_cast<HRGN>(1));
    EXPECT_EQ(record.updateRegion, reinterpret_cast<HRGN>(1));
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before + 1);
    record.SetUpdateRegion(last);  // a copy left for the end
    HDC screen = GetDC(nullptr);
    record.background = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);
  }
  DeleteObject(last);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "the record freed its copy and its bitmap";
}

}  // namespace
