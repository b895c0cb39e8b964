// The owner-drawn menu library: styles, colours, item records, icon sets and the flat look's pixels.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "admin/menus/NewFrameWnd.h"
#include "admin/menus/NewMenu.h"
#include "draw/surface.h"
#include "menu_owner.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/osversion.h"
#include "win32/resources.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

TEST(NewMenuStyles, StyleTwoIsCurrentAtStartAndUnknownModesChangeNothing) {
  EXPECT_EQ(CNewMenu::SetMenuDrawMode(2), 2u);
  EXPECT_EQ(CNewMenu::GetMenuDrawMode(), 2u);
  EXPECT_EQ(CNewMenu::SetMenuDrawMode(10), 0xFFFFFFFFu);
  EXPECT_EQ(CNewMenu::SetMenuDrawMode(0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(CNewMenu::GetMenuDrawMode(), 2u);
  EXPECT_EQ(CNewMenu::SetMenuDrawMode(9), 2u);
  EXPECT_EQ(CNewMenu::SetMenuDrawMode(2), 9u);

  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  ASSERT_EQ(state.m_styles.size(), 10u);
  for (UINT id = 0; id < 10; ++id) {
    ASSERT_NE(state.FindStyle(id), nullptr) << id;
    EXPECT_EQ(state.FindStyle(id)->IsBordered(), id % 2 == 0 ? TRUE : FALSE) << id;
  }
  EXPECT_EQ(state.FindStyle(10), nullptr);
  state.RegisterStyle(state.FindStyle(4));
  EXPECT_EQ(state.m_styles.size(), 10u) << "a style object is listed once";
  // Of two styles with one identifier the first registered is found.
  auto* twin = new CNewMenuStyle(4, CNewMenuStyle::kClassic, TRUE);
  CNewMenuStyle* first = state.FindStyle(4);
  state.RegisterStyle(twin);
  EXPECT_EQ(state.FindStyle(4), first);
  state.m_styles.pop_back();
  delete twin;
}

TEST(NewMenuVersion, TheCodeFollowsTheSystemsVersion) {
  struct Case {
    DWORD major, minor, platform;
    UINT code;
  };
  const Case cases[] = {
      {3, 10, VER_PLATFORM_WIN32s, 0},      {3, 51, VER_PLATFORM_WIN32_NT, 1},
      {4, 0, VER_PLATFORM_WIN32_WINDOWS, 2}, {4, 10, VER_PLATFORM_WIN32_WINDOWS, 3},
      {4, 90, VER_PLATFORM_WIN32_WINDOWS, 4}, {4, 0, VER_PLATFORM_WIN32_NT, 5},
      {5, 0, VER_PLATFORM_WIN32_NT, 6},       {5, 1, VER_PLATFORM_WIN32_NT, 7},
      {6, 1, VER_PLATFORM_WIN32_NT, 7},
  };
  for (const Case& c : cases) {
    tavrin::os::SetVersionForTest(c.major, c.minor, c.platform);
    EXPECT_EQ(CNewMenu::GetWindowsVersion(), c.code) << c.major << "." << c.minor << " on " << c.platform;
  }
  tavrin::os::SetVersionForTest(0, 0, 0);
  EXPECT_EQ(CNewMenu::GetWindowsVersion(), 7u);
}

TEST(NewMenuColours, ArithmeticKeepsChannelsInRange) {
  EXPECT_EQ(DarkenColor(51, RGB(255, 100, 0)), RGB(204, 80, 0));
  EXPECT_EQ(LightenColor(255, RGB(10, 20, 30)), RGB(255, 255, 255));
  EXPECT_EQ(BrightenColor(100, RGB(200, 10, 0)), RGB(255, 110, 100));
  EXPECT_EQ(MixColors86(RGB(100, 0, 200), RGB(0, 100, 0)), RGB(86, 14, 172));
  EXPECT_EQ(MixColors70(RGB(100, 0, 200), RGB(0, 100, 0)), RGB(70, 30, 140));
  EXPECT_EQ(GrayColor(RGB(30, 60, 90)), RGB(60, 60, 60));
  EXPECT_EQ(DimColor(RGB(100, 100, 100)), RGB(70, 70, 108));
  EXPECT_TRUE(IsLightColor(RGB(200, 200, 0)));
  EXPECT_FALSE(IsLightColor(RGB(128, 128, 128)));
}

struct Owner {
  std::function<void(HWND popup, int idle)> onIdle;
  int idles = 0;
};
Owner* g_owner = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (menu_test::ForwardToNewMenu(hwnd, message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_UNINITMENUPOPUP:
      if (auto* menu = dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(wParam))))
        menu->OnUnInitPopupMenu();
      return 0;
    case WM_MENUCHAR:
      return CNewMenu::OnMenuChar(LOWORD(wParam), HIWORD(wParam), CMenu::FromHandle(reinterpret_cast<HMENU>(lParam)));
    case WM_ENTERIDLE:
      if (g_owner && g_owner->onIdle) g_owner->onIdle(reinterpret_cast<HWND>(lParam), g_owner->idles++);
      return 0;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class NewMenuTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_owner = &owner;
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "NewMenuOwner";
    RegisterClass(&wc);
    hwnd = CreateWindowEx(0, "NewMenuOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200, nullptr,
                          nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    UnregisterClass("NewMenuOwner", nullptr);
    g_owner = nullptr;
    SysrootTest::TearDown();
  }
  UINT Track(CNewMenu& menu, std::function<void(HWND, int)> onIdle) {
    owner.idles = 0;
    owner.onIdle = std::move(onIdle);
    return static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD, 100, 100, CWnd::FromHandle(hwnd)));
  }
  Owner owner;
  HWND hwnd = nullptr;
};

TEST_F(NewMenuTest, RecordsStayInStepWithPositions) {
  CNewMenu menu;
  ASSERT_TRUE(menu.CreatePopupMenu());
  EXPECT_TRUE(menu.AppendMenu(MF_STRING, 101, "&Open"));
  EXPECT_TRUE(menu.AppendMenu(MF_SEPARATOR));
  EXPECT_TRUE(menu.AppendMenu(MF_STRING, 102, "E&xit"));
  ASSERT_EQ(menu.m_items.size(), 3u);
  EXPECT_EQ(menu.GetMenuState(0, MF_BYPOSITION) & MF_OWNERDRAW, MF_OWNERDRAW);

  // A failed append leaves no record behind.
  EXPECT_FALSE(menu.AppendMenu(MF_POPUP, 0x7777, "Broken"));
  EXPECT_EQ(menu.m_items.size(), 3u);
  EXPECT_FALSE(menu.InsertMenu(1, MF_BYPOSITION | MF_POPUP, 0x7777, "Broken"));
  EXPECT_EQ(menu.m_items.size(), 3u);

  // The end position inserts at the end, record included.
  EXPECT_TRUE(menu.InsertMenu(0xFFFFFFFF, MF_BYPOSITION | MF_STRING, 103, "Last"));
  ASSERT_EQ(menu.m_items.size(), 4u);
  EXPECT_EQ(menu.m_items[3]->m_nID, 103u);
  EXPECT_EQ(menu.GetMenuItemID(3), 103u);
  EXPECT_EQ(menu.GetMenuItemIndexByText("Last"), 3u);

  // No neighbour before the first or after the last item: refused, nothing removed.
  EXPECT_EQ(menu.RemoveMenuByText("&Open", 1), 0xFFFFFFFFu);
  EXPECT_EQ(menu.RemoveMenuByText("Last", 2), 0xFFFFFFFFu);
  EXPECT_EQ(menu.RemoveMenuByText("Last", 3), 0xFFFFFFFFu);
  EXPECT_EQ(menu.GetMenuItemCount(), 4u);
  EXPECT_EQ(menu.RemoveMenuByText("E&xit", 1), 2u) << "the separator before it";
  EXPECT_EQ(menu.GetMenuItemCount(), 3u);
  EXPECT_EQ(menu.m_items.size(), 3u);

  // A command present twice: deleting it removes both records.
  menu.AppendMenu(MF_STRING, 105, "Twice");
  menu.AppendMenu(MF_STRING, 105, "Twice");
  EXPECT_TRUE(menu.DeleteMenu(105, MF_BYCOMMAND));
  EXPECT_EQ(menu.GetMenuItemCount(), 4u);
  EXPECT_EQ(menu.FindItemRecordById(105), nullptr);

  CString text;
  EXPECT_TRUE(menu.SetMenuText(102, "Quit", MF_BYCOMMAND));
  EXPECT_TRUE(menu.GetItemText(102, text, MF_BYCOMMAND));
  EXPECT_STREQ(text.GetString(), "Quit");
}

TEST_F(NewMenuTest, RemovedPopupsStayOwnedAndGoWithTheirMenu) {
  const size_t live = tavrin::win::LiveMenuCount();
  {
    CNewMenu menu;
    menu.CreateMenu();
    CNewMenu* popup = menu.AppendPopup("&File");
    ASSERT_NE(popup, nullptr);
    popup->AppendMenu(MF_STRING, 201, "&New");
    EXPECT_EQ(menu.GetSubMenu(0), popup);
    EXPECT_EQ(menu.GetSubMenuByText("&File"), popup);
    const HMENU handle = popup->m_hMenu;
    EXPECT_TRUE(menu.RemoveMenu(0, MF_BYPOSITION));
    EXPECT_TRUE(IsMenu(handle)) << "removal keeps the popup";
    EXPECT_EQ(CMenu::FromHandlePermanent(handle), popup);
    CNewMenu* second = menu.AppendPopup("&Edit");
    ASSERT_NE(second, nullptr);
    const HMENU secondHandle = second->m_hMenu;
    EXPECT_TRUE(menu.DeleteMenu(0, MF_BYPOSITION));
    EXPECT_FALSE(IsMenu(secondHandle)) << "deletion destroys it";
    EXPECT_EQ(CMenu::FromHandlePermanent(secondHandle), nullptr);
  }
  EXPECT_EQ(tavrin::win::LiveMenuCount(), live) << "the removed popup went with its menu";
}

TEST_F(NewMenuTest, FreeTimersSkipIdentifiersInUse) {
  const UINT first = CNewMenuGlobalState::SetFreeTimer(hwnd, 1000);
  const UINT second = CNewMenuGlobalState::SetFreeTimer(hwnd, 1000);
  EXPECT_EQ(first, 31u);
  EXPECT_EQ(second, 32u);
  EXPECT_EQ(CNewMenuGlobalState::SetFreeTimer(nullptr, 1000), 0u);
  KillTimer(hwnd, first);
  KillTimer(hwnd, second);
}

TEST_F(NewMenuTest, AVerticalTitleNeverMeasuresBelowZero) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "One");
  menu.AppendMenu(MF_STRING, 102, "Two");
  LOGFONT saved;
  CNewMenu::GetMenuTitleFont(&saved);
  LOGFONT tiny = saved;
  tiny.lfHeight = 2;
  CNewMenu::SetMenuTitleFont(&tiny);
  ASSERT_TRUE(menu.SetMenuTitle("t", 2));
  ASSERT_EQ(menu.m_items.size(), 3u);
  EXPECT_EQ(menu.GetMenuState(1, MF_BYPOSITION) & MF_MENUBREAK, MF_MENUBREAK);
  MEASUREITEMSTRUCT measure{ODT_MENU, 0, 0, 0, 0, reinterpret_cast<ULONG_PTR>(menu.m_items[0])};
  menu.MeasureItem(&measure);
  EXPECT_EQ(measure.itemWidth, 0u);
  EXPECT_EQ(measure.itemHeight, 0u);
  CNewMenu::SetMenuTitleFont(&saved);
  EXPECT_TRUE(menu.RemoveMenuTitle());
  EXPECT_EQ(menu.GetMenuItemCount(), 2u);
  EXPECT_EQ(menu.GetMenuState(0, MF_BYPOSITION) & MF_MENUBREAK, 0u);
}

TEST_F(NewMenuTest, ATitleOverAPopupKeepsThePopupAndItsMenu) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  CNewMenu* popup = menu.AppendPopup("&More");
  ASSERT_NE(popup, nullptr);
  popup->AppendMenu(MF_STRING, 201, "&Inner");
  menu.AppendMenu(MF_STRING, 102, "Two");
  const HMENU handle = popup->m_hMenu;
  for (UINT flags : {2u, 0u}) {  // with the column break on the popup, and without
    ASSERT_TRUE(menu.SetMenuTitle("Title", flags));
    EXPECT_TRUE(IsMenu(handle)) << flags;
    EXPECT_EQ(::GetSubMenu(menu.m_hMenu, 1), handle) << flags;
    EXPECT_EQ(menu.GetSubMenu(1), popup) << flags;
    EXPECT_EQ(menu.GetMenuState(1, MF_BYPOSITION) & MF_MENUBREAK, flags & 2 ? MF_MENUBREAK : 0u) << flags;
  }
  ASSERT_TRUE(menu.SetMenuTitle("Title", 2));
  EXPECT_TRUE(menu.RemoveMenuTitle());
  EXPECT_TRUE(IsMenu(handle));
  EXPECT_EQ(menu.GetSubMenu(0), popup);
  EXPECT_EQ(menu.GetMenuState(0, MF_BYPOSITION) & MF_MENUBREAK, 0u);
  EXPECT_EQ(popup->GetMenuItemCount(), 1u);
}

TEST_F(NewMenuTest, MnemonicsOfOwnerDrawnItemsExecuteThroughMenuChar) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "&Open");
  menu.AppendMenu(MF_STRING, 102, "E&xit");
  EXPECT_EQ(Track(menu, [](HWND popup, int) { PostMessage(popup, WM_CHAR, 'X', 0); }), 102u);
  EXPECT_EQ(CNewMenu::OnMenuChar('q', 0, &menu), 0);
}

uint32_t Px(COLORREF c) { return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c); }

TEST_F(NewMenuTest, FlatLookPaintsColumnsSelectionSeparatorAndSystemGlyph) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "&Open");
  menu.AppendMenu(MF_SEPARATOR);
  menu.AppendMenu(MF_STRING, SC_CLOSE, "");
  menu.AppendMenu(MF_STRING, 103, "Plain");
  bool probed = false;
  HWND seen = nullptr;
  Track(menu, [&](HWND popup, int idle) {
    if (idle == 0) {
      seen = popup;
      EXPECT_NE(GetProp(popup, "OldMenuProc"), nullptr) << "the hook took the menu window";
      PostMessage(popup, WM_KEYDOWN, VK_DOWN, 0);
      return;
    }
    tavrin::win::PaintPending();
    tavrin::draw::Surface image;
    ASSERT_TRUE(tavrin::win::CaptureWindow(popup, image));
    RECT window;
    GetWindowRect(popup, &window);
    auto at = [&](int x, int y) { return image.at(x - window.left, y - window.top) & 0xFFFFFF; };
    const COLORREF W = GetSysColor(COLOR_WINDOW), M = CNewMenu::GetMenuBarColor(menu.m_hMenu);
    COLORREF T = MixColors86(W, M), G = MixColors86(M, W);
    if (T == G) T = W, G = M;
    const COLORREF S = GetSelectionColor(), B = GetSysColor(COLOR_HIGHLIGHT);
    RECT selected, separator, close, plain;
    ASSERT_TRUE(GetMenuItemRect(hwnd, menu.m_hMenu, 0, &selected));
    GetMenuItemRect(hwnd, menu.m_hMenu, 1, &separator);
    GetMenuItemRect(hwnd, menu.m_hMenu, 2, &close);
    GetMenuItemRect(hwnd, menu.m_hMenu, 3, &plain);
    const int column = menu.m_iconX + 8;
    EXPECT_EQ(at(plain.left + 1, plain.top + 1), Px(G)) << "icon column";
    EXPECT_EQ(at(plain.right - 3, plain.top + 1), Px(T)) << "text area";
    EXPECT_EQ(at(selected.left, selected.top + 3), Px(B)) << "selection frame";
    EXPECT_EQ(at(selected.left + 2, selected.top + 2), Px(S)) << "selection fill";
    const int centre = (separator.top + separator.bottom) / 2;
    EXPECT_EQ(at(separator.left + column + 6, centre), Px(GetSysColor(COLOR_GRAYTEXT))) << "separator line";
    EXPECT_EQ(at(separator.left + column + 6, centre - 1), Px(T));
    int glyph = 0;
    for (int y = close.top; y < close.bottom; ++y)
      for (int x = close.left; x < close.left + column; ++x) glyph += at(x, y) == Px(GetSysColor(COLOR_MENUTEXT));
    EXPECT_GT(glyph, 3) << "the close glyph";
    probed = true;
    PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  EXPECT_TRUE(probed);
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_EQ(GlobalFindAtom("OldMenuProc"), 0) << "detached when the window went";
}

TEST_F(NewMenuTest, FiftyPopupsLeaveTheGdiObjectCountWhereItWas) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "&Open\tCtrl+O");
  menu.AppendMenu(MF_SEPARATOR);
  menu.AppendMenu(MF_STRING | MF_CHECKED, 102, "Checked");
  menu.AppendMenu(MF_STRING, SC_CLOSE, "Close");
  auto once = [&] {
    Track(menu, [](HWND popup, int idle) {
      PostMessage(popup, WM_KEYDOWN, idle == 0 ? VK_DOWN : VK_ESCAPE, 0);
    });
  };
  once();
  const size_t baseline = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 50; ++i) once();
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

// A 24-bit bitmap resource (BITMAPINFOHEADER then rows) of two 16x15 icons, and a toolbar resource whose
// count claims more items than it holds.
std::vector<uint8_t> BitmapBytes() {
  const int width = 32, height = 15, stride = width * 3;
  std::vector<uint8_t> bytes(40 + stride * height, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); };
  put32(0, 40);
  put32(4, width);
  put32(8, height);
  put16(12, 1);
  put16(14, 24);
  for (int i = 0; i < stride * height; ++i) bytes[40 + i] = static_cast<uint8_t>(i % 3 == 0 ? 200 : 40);
  return bytes;
}

TEST_F(NewMenuTest, ToolbarIconsAttachByCommandAndBoundTheirCount) {
  static const std::vector<uint8_t> bitmap = BitmapBytes();
  static const uint16_t toolbar[] = {1, 16, 15, 200, 101, 0, 102};
  static const tavrin::res::Entry entries[] = {
      {2, 900, nullptr, bitmap.data(), bitmap.size()},
      {241, 900, nullptr, reinterpret_cast<const uint8_t*>(toolbar), sizeof toolbar},
  };
  tavrin::res::Register(entries);
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "&Open");
  menu.AppendMenu(MF_STRING, 102, "&Save");
  ASSERT_TRUE(menu.LoadToolBar(900u));
  CNewMenuItemData* save = menu.FindItemRecordById(102);
  ASSERT_NE(save, nullptr);
  ASSERT_NE(save->m_pMenuIcon, nullptr);
  EXPECT_EQ(save->m_nMenuIconOffset, 3) << "the separator gives no key";
  EXPECT_EQ(save->m_pMenuIcon->m_keys.size(), 2u);
  EXPECT_EQ(save->m_pMenuIcon->m_imageList.GetImageCount(), 6);

  // Tables: the same one matches, a longer one does not.
  CNewMenuIcons set;
  static const WORD table[] = {900, 16, 15, 101, 102, 0};
  static const WORD longer[] = {900, 16, 15, 101, 102, 103, 0};
  ASSERT_TRUE(set.LoadFromTable(table, RGB(192, 192, 192)));
  EXPECT_TRUE(set.MatchesTable(table, RGB(192, 192, 192)));
  EXPECT_FALSE(set.MatchesTable(longer, RGB(192, 192, 192)));
  EXPECT_FALSE(set.MatchesTable(table, RGB(0, 0, 0)));
  EXPECT_EQ(set.FindIndex(102), 3u);
  EXPECT_EQ(set.FindIndex(999), 0xFFFFFFFFu);

  // Rebuilding the variants leaves nothing behind.
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 5; ++i) set.RefreshColors();
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

}  // namespace

namespace {

class HostFrame : public CNewFrameWnd {
 public:
  std::function<void(HWND)> onIdle;
  int idles = 0;
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&HostFrame::OnEnterIdle>(WM_ENTERIDLE)};
    static const mfc::MessageMap map{CNewFrameWnd::GetMessageMap(), entries};
    return &map;
  }
  LRESULT OnEnterIdle(WPARAM, LPARAM lParam) {
    if (idles++ == 0 && onIdle) onIdle(reinterpret_cast<HWND>(lParam));
    return 0;
  }
};

TEST_F(NewMenuTest, HostFrameRoutesMeasuringMnemonicsAndPopupSetUpToTheLibrary) {
  auto* host = new HostFrame;  // a frame deletes itself when its window goes
  HostFrame& frame = *host;
  ASSERT_TRUE(frame.CreateEx(0, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 300, 200, nullptr, 0));
  EXPECT_EQ(frame.m_SystemNewMenu.m_hMenu, GetSystemMenu(frame.m_hWnd, FALSE));
  frame.m_bAutoMenuEnable = FALSE;  // no handlers for the commands below
  CNewMenu bar;
  bar.CreateMenu();
  CNewMenu* popup = bar.AppendPopup("&Device");
  ASSERT_NE(popup, nullptr);
  popup->AppendMenu(MF_STRING, 301, "&Start");
  popup->AppendMenu(MF_STRING, 302, "S&top");
  RECT item{};
  frame.onIdle = [&](HWND window) {
    GetMenuItemRect(frame.m_hWnd, popup->m_hMenu, 1, &item);
    PostMessage(window, WM_CHAR, 't', 0);
  };
  EXPECT_EQ(popup->TrackPopupMenu(TPM_RETURNCMD, 120, 120, &frame), 302);
  EXPECT_GT(item.bottom - item.top, 0) << "measured by the style through the frame";
  EXPECT_GT(item.right - item.left, 0);
  EXPECT_EQ(popup->m_hOwner, frame.m_hWnd) << "popup set-up ran";
  EXPECT_FALSE(frame.m_bInMenuLoop);
  frame.DestroyWindow();
}

}  // namespace

namespace {

TEST_F(NewMenuTest, GlyphsAndFramedBitmapsFreeTheirPaintingTools) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP target = CreateCompatibleBitmap(screen, 40, 40);
  HGDIOBJ old = SelectObject(dc, target);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 10; ++i) {
    RECT rect{0, 0, 20, 20};
    CNewMenu::DrawMarlettGlyph(dc, rect, 'r', i % 2);
    CBitmap bitmap;
    ASSERT_TRUE(CNewMenu::CreateFramedBitmap(dc, bitmap, CSize(16, 15), RGB(255, 0, 0), RGB(0, 0, 255)));
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before + 1) << "only the bitmap handed out";
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

}  // namespace

namespace {

LRESULT CALLBACK PlainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, message, wParam, lParam);
}

TEST_F(NewMenuTest, DialogsAreTakenOverOnlyWhenAskedAndLetGoWhenTheyGo) {
  WNDCLASS wc{};
  if (!GetClassInfo(nullptr, "#32770", &wc)) {
    wc.lpfnWndProc = PlainDialogProc;
    wc.lpszClassName = "#32770";
    RegisterClass(&wc);
  }
  HWND plain = CreateWindowEx(0, "#32770", "d", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(CNewMenuTempHandler::FromWindow(plain), nullptr);
  DestroyWindow(plain);

  GetNewMenuGlobalState().m_dwDialogOptions = 1;
  HWND taken = CreateWindowEx(0, "#32770", "d", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  GetNewMenuGlobalState().m_dwDialogOptions = 0;
  CNewMenuTempHandler* handler = CNewMenuTempHandler::FromWindow(taken);
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(GetWindowLongPtr(taken, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(handler->m_oldWndProc), true);
  DestroyWindow(taken);
  EXPECT_FALSE(IsWindow(taken));
}

}  // namespace

namespace {

TEST_F(NewMenuTest, HighContrastFramesTheSelectionInButtonText) {
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 101, "&Open");
  menu.AppendMenu(MF_STRING, 102, "&Close");
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  const BOOL saved = state.m_bHighContrast;
  state.m_bHighContrast = TRUE;
  uint32_t frame = 0, fill = 0;
  Track(menu, [&](HWND popup, int idle) {
    if (idle == 0) {
      PostMessage(popup, WM_KEYDOWN, VK_DOWN, 0);
      return;
    }
    tavrin::win::PaintPending();
    tavrin::draw::Surface image;
    ASSERT_TRUE(tavrin::win::CaptureWindow(popup, image));
    RECT window, item;
    GetWindowRect(popup, &window);
    GetMenuItemRect(hwnd, menu.m_hMenu, 0, &item);
    frame = image.at(item.left - window.left, item.top + 3 - window.top) & 0xFFFFFF;
    fill = image.at(item.left + 2 - window.left, item.top + 2 - window.top) & 0xFFFFFF;
    PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  state.m_bHighContrast = saved;
  EXPECT_EQ(frame, Px(GetSysColor(COLOR_BTNTEXT)));
  EXPECT_EQ(fill, Px(GetSysColor(COLOR_HIGHLIGHT))) << "the selection colour under high contrast";
}

}  // namespace

namespace {

std::vector<uint8_t> IconBitmap(uint8_t blue) {
  const int width = 16, height = 15, stride = width * 3;
  std::vector<uint8_t> bytes(40 + stride * height, 0);
  const uint32_t header[3] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  std::memcpy(bytes.data(), header, sizeof header);
  const uint16_t planesAndBits[2] = {1, 24};
  std::memcpy(bytes.data() + 12, planesAndBits, sizeof planesAndBits);
  for (int i = 0; i < stride * height; i += 3) bytes[40 + i] = blue;
  return bytes;
}

TEST_F(NewMenuTest, CheckMarkImagesNeedBothBitmaps) {
  static const std::vector<uint8_t> normal = IconBitmap(10), selected = IconBitmap(250);
  static const tavrin::res::Entry entries[] = {{2, 911, nullptr, normal.data(), normal.size()},
                                               {2, 912, nullptr, selected.data(), selected.size()}};
  tavrin::res::Register(entries);
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING | MF_CHECKED, 101, "Checked");
  menu.SetCheckMarkImages(0, 912);
  EXPECT_EQ(menu.m_pCheckMarkImages, nullptr) << "an id below 1 changes nothing";
  menu.SetCheckMarkImages(911, 912);
  ASSERT_NE(menu.m_pCheckMarkImages, nullptr);
  EXPECT_EQ(menu.m_pCheckMarkImages->GetImageCount(), 2);
  const size_t before = tavrin::gdi::LiveObjectCount();
  menu.SetCheckMarkImages(911, 999);
  EXPECT_EQ(menu.m_pCheckMarkImages, nullptr) << "a missing bitmap leaves glyphs";
  EXPECT_LT(tavrin::gdi::LiveObjectCount(), before) << "the list went, nothing else stayed";
  menu.SetCheckMarkImages(911, 912);
  uint32_t pixel = 0;
  Track(menu, [&](HWND popup, int) {
    tavrin::win::PaintPending();
    tavrin::draw::Surface image;
    ASSERT_TRUE(tavrin::win::CaptureWindow(popup, image));
    RECT window, item;
    GetWindowRect(popup, &window);
    GetMenuItemRect(hwnd, menu.m_hMenu, 0, &item);
    pixel = image.at(item.left + 8 - window.left, item.top + 8 - window.top) & 0xFFFFFF;
    PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  EXPECT_EQ(pixel, 0x00000Au) << "the normal check image, not a glyph";
}

}  // namespace
