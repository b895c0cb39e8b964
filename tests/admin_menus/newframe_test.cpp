// The host frame's menu bar: owner-drawn by the current style, opened by click and keys, hot-tracked by
// the library where the system does not, with the bar's background.
#include <chrono>
#include <functional>
#include <initializer_list>
#include <utility>

#include "admin/menus/NewFrameWnd.h"
#include "admin/menus/NewMenu.h"
#include "draw/surface.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::PumpUntil;
using tavrin::test::InjectKeys;
using tavrin::test::SysrootTest;

class BarFrame : public CNewFrameWnd {
 public:
  std::function<void(HWND)> onIdle;
  int idles = 0;
  UINT command = 0;
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnMessage<&BarFrame::OnEnterIdle>(WM_ENTERIDLE),
    };
    static const mfc::MessageMap map{CNewFrameWnd::GetMessageMap(), entries};
    return &map;
  }
  LRESULT OnEnterIdle(WPARAM, LPARAM lParam) {
    if (onIdle) onIdle(reinterpret_cast<HWND>(lParam));
    ++idles;
    return 0;
  }
  BOOL OnCommand(WPARAM wParam, LPARAM) override {
    command = LOWORD(wParam);
    return TRUE;
  }
};

class NewFrameTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    frame = new BarFrame;  // deletes itself when its window goes
    frame->m_bAutoMenuEnable = FALSE;  // the items have no update handlers and stay enabled
    // File (Open, Exit), Device (Start, Stop): loaded as an owner-drawn bar.
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenu(file, MF_STRING, 101, "&Open");
    AppendMenu(file, MF_STRING, 102, "E&xit");
    HMENU device = CreatePopupMenu();
    AppendMenu(device, MF_STRING, 301, "&Start");
    AppendMenu(device, MF_STRING, 302, "S&top");
    AppendMenu(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenu(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(device), "&Device");
    ASSERT_TRUE(frame->m_DefaultNewMenu.LoadMenu(bar));
    ASSERT_TRUE(frame->CreateEx(0, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 80, 80, 360, 240, nullptr, 0));
    hwnd = frame->m_hWnd;
    SetMenuBarBackground(frame->m_DefaultNewMenu.m_hMenu);
    DrawMenuBar(hwnd);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    tavrin::win::PaintPending();
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    SysrootTest::TearDown();
  }
  CNewMenu* Popup(int position) { return frame->m_DefaultNewMenu.GetSubMenu(position); }
  POINT ItemCentre(HMENU menu, UINT item) { return tavrin::test::MenuItemCentre(hwnd, menu, item); }
  BarFrame* frame = nullptr;
  HWND hwnd = nullptr;
};

TEST_F(NewFrameTest, TheBarIsOwnerDrawnOnTheFlatLooksBackground) {
  HMENU bar = frame->m_DefaultNewMenu.m_hMenu;
  EXPECT_EQ(GetMenu(hwnd), bar);
  EXPECT_FALSE(frame->m_DefaultNewMenu.m_bPopup) << "loaded as a bar";
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  ASSERT_TRUE(GetMenuInfo(bar, &info));
  ASSERT_NE(info.hbrBack, nullptr);
  EXPECT_EQ(CNewMenu::GetMenuColor(bar), GetSysColor(COLOR_BTNFACE));

  RECT item{};
  ASSERT_TRUE(GetMenuItemRect(hwnd, bar, 1, &item));
  EXPECT_GT(item.right - item.left, 30) << "measured through the frame by the style";
  tavrin::draw::Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  RECT window;
  GetWindowRect(hwnd, &window);
  const int y = (item.top + item.bottom) / 2 - window.top;
  int dark = 0;
  for (int x = item.left - window.left; x < item.right - window.left; ++x)
    if ((image.at(x, y) & 0xFF) < 0x60) ++dark;
  EXPECT_GT(dark, 2) << "the item's text";
  const uint32_t beside = image.at(item.right - window.left + 40, y);
  EXPECT_EQ(RGB((beside >> 16) & 0xFF, (beside >> 8) & 0xFF, beside & 0xFF), GetSysColor(COLOR_BTNFACE));
}

TEST_F(NewFrameTest, AClickOpensTheOwnerDrawnPopupAndTheBarItemRemembersWhereItIs) {
  HMENU bar = frame->m_DefaultNewMenu.m_hMenu;
  CNewMenu* device = Popup(1);
  ASSERT_NE(device, nullptr);
  RECT barItem{}, stored{};
  int open = -1;
  RECT first{};
  frame->onIdle = [&](HWND) {
    if (frame->idles) return;
    GetMenuItemRect(hwnd, bar, 1, &barItem);
    stored = frame->m_DefaultNewMenu.m_lastBarItem;
    open = frame->m_DefaultNewMenu.m_openPopups;
    GetMenuItemRect(hwnd, device->m_hMenu, 0, &first);
    const POINT second = ItemCentre(device->m_hMenu, 1);
    tavrin::win::InjectClick(second.x, second.y);
  };
  const POINT at = ItemCentre(bar, 1);
  tavrin::win::InjectClick(at.x, at.y);
  ASSERT_TRUE(PumpUntil([&] { return frame->command != 0; }));
  EXPECT_EQ(frame->command, 302u);
  EXPECT_EQ(open, 1) << "the bar counts its open popup";
  EXPECT_TRUE(EqualRect(&stored, &barItem)) << "the selected bar item was drawn and stored";
  EXPECT_EQ(device->m_hOwner, hwnd);
  EXPECT_GT(first.bottom - first.top, GetSystemMetrics(SM_CYMENU) - 1) << "measured by the flat style";
  EXPECT_EQ(frame->m_DefaultNewMenu.m_openPopups, 0);
  EXPECT_FALSE(frame->m_bInMenuLoop);
}

TEST_F(NewFrameTest, AltWithAMnemonicFindsTheOwnerDrawnItemThroughTheLibrary) {
  CNewMenu* device = Popup(1);
  frame->onIdle = [&](HWND) {
    if (frame->idles == 0) InjectKeys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
  };
  InjectKeys({{VK_MENU, true}, {'D', true}, {'D', false}, {VK_MENU, false}});
  ASSERT_TRUE(PumpUntil([&] { return frame->command != 0; }));
  EXPECT_EQ(frame->command, 302u) << "opened with its first item selected, Down to the second";
  EXPECT_EQ(device->m_hOwner, hwnd);
}

TEST_F(NewFrameTest, TheLibrarysHotTrackingGivesBackTheWindowDcAndItsFont) {
  CNewMenuGlobalState& global = GetNewMenuGlobalState();
  const BOOL remote = global.m_bRemoteSession;
  global.m_bRemoteSession = TRUE;  // where the library draws hot bar items itself
  HMENU bar = frame->m_DefaultNewMenu.m_hMenu;
  const POINT file = ItemCentre(bar, 0), device = ItemCentre(bar, 1);
  RECT window;
  GetWindowRect(hwnd, &window);
  auto hit = [&](POINT p) { return SendMessage(hwnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)); };
  hit(file);
  hit(POINT{window.left + 100, window.top + 8});
  const size_t dcs = tavrin::gdi::LiveObjectCount(OBJ_DC);
  const size_t fonts = tavrin::gdi::LiveObjectCount(OBJ_FONT);
  const size_t all = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(hit(file), HTMENU);
    EXPECT_EQ(frame->m_menubarItemIndex, 0);
    EXPECT_NE(frame->m_TimerID, 0u);
    hit(device);
    EXPECT_EQ(frame->m_menubarItemIndex, 1);
    hit(POINT{window.left + 100, window.top + 8});  // the caption
    EXPECT_EQ(frame->m_menubarItemIndex, -1);
    EXPECT_EQ(frame->m_TimerID, 0u);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_DC), dcs);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_FONT), fonts);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), all);

  // A menu loop takes the hot drawing away before the menu opens.
  hit(device);
  ASSERT_EQ(frame->m_menubarItemIndex, 1);
  SendMessage(hwnd, WM_ENTERMENULOOP, FALSE, 0);
  EXPECT_EQ(frame->m_menubarItemIndex, -1);
  EXPECT_EQ(frame->m_TimerID, 0u);
  EXPECT_EQ(hit(device), HTMENU);
  EXPECT_EQ(frame->m_menubarItemIndex, -1) << "no hot item inside a menu loop";
  SendMessage(hwnd, WM_EXITMENULOOP, FALSE, 0);
  global.m_bRemoteSession = remote;
}

TEST_F(NewFrameTest, TheSystemTracksHotItemsOutsideRemoteSessions) {
  const POINT device = ItemCentre(frame->m_DefaultNewMenu.m_hMenu, 1);
  EXPECT_EQ(SendMessage(hwnd, WM_NCHITTEST, 0, MAKELPARAM(device.x, device.y)), HTMENU);
  EXPECT_EQ(frame->m_menubarItemIndex, -1);
  EXPECT_EQ(frame->m_TimerID, 0u);
}

}  // namespace
