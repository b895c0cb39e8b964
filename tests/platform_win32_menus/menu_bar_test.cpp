// The menu bar in the non-client area: layout, painting, queries, and tracking from the mouse and keys.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::PumpUntil;
using tavrin::test::InjectKeys;
using tavrin::test::SysrootTest;

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

struct BarOwner {
  std::vector<Seen> seen;
  std::vector<DRAWITEMSTRUCT> drawn;
  std::function<void(HWND popup)> onIdle;
  std::function<LRESULT(WPARAM, LPARAM)> onMenuChar;
  int idles = 0;
  UINT command = 0;
  UINT systemCommand = 0;
  bool exited = false;
};
BarOwner* g_bar = nullptr;

LRESULT CALLBACK BarOwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!g_bar) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
    case WM_INITMENU:
    case WM_INITMENUPOPUP:
    case WM_MENUSELECT:
      g_bar->seen.push_back({message, wParam, lParam});
      if (message == WM_EXITMENULOOP) g_bar->exited = true;
      return 0;
    case WM_ENTERIDLE:
      if (g_bar->onIdle) g_bar->onIdle(reinterpret_cast<HWND>(lParam));
      ++g_bar->idles;
      return 0;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      measure->itemWidth = 50;
      measure->itemHeight = 18;
      return TRUE;
    }
    case WM_DRAWITEM:
      g_bar->drawn.push_back(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_MENUCHAR:
      g_bar->seen.push_back({message, wParam, lParam});
      return g_bar->onMenuChar ? g_bar->onMenuChar(wParam, lParam) : 0;
    case WM_COMMAND:
      g_bar->command = LOWORD(wParam);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_CLOSE) break;
      g_bar->systemCommand = static_cast<UINT>(wParam);
      return 0;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class MenuBarTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_bar = &owner;
    WNDCLASS wc{};
    wc.lpfnWndProc = BarOwnerProc;
    wc.lpszClassName = "BarOwner";
    RegisterClass(&wc);
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    UnregisterClass("BarOwner", nullptr);
    g_bar = nullptr;
    SysrootTest::TearDown();
  }
  // File (Open, Exit), Edit (Copy), View (Status): three popups on the bar.
  HMENU MakeBar(bool ownerDrawn = false) {
    HMENU bar = CreateMenu();
    const char* names[] = {"&File", "&Edit", "&View"};
    const UINT first[] = {101, 201, 301};
    for (int i = 0; i < 3; ++i) {
      HMENU popup = CreatePopupMenu();
      AppendMenu(popup, MF_STRING, first[i], "&One");
      AppendMenu(popup, MF_STRING, first[i] + 1, "&Two");
      subs[i] = popup;
      AppendMenu(bar, MF_POPUP | (ownerDrawn ? MF_OWNERDRAW : 0), reinterpret_cast<UINT_PTR>(popup),
                 ownerDrawn ? nullptr : names[i]);
    }
    return bar;
  }
  void Create(HMENU bar) {
    hwnd = CreateWindowEx(0, "BarOwner", "bar owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 400, 300, nullptr,
                          bar, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    tavrin::win::PaintPending();
  }
  POINT ItemCentre(HMENU menu, UINT item) { return tavrin::test::MenuItemCentre(hwnd, menu, item); }
  std::vector<Seen> Of(UINT message) const {
    std::vector<Seen> out;
    for (const Seen& s : owner.seen)
      if (s.message == message) out.push_back(s);
    return out;
  }
  BarOwner owner;
  HWND hwnd = nullptr;
  HMENU subs[3] = {};
};

TEST_F(MenuBarTest, TheBarTakesItsRowOffTheClientAreaAndAnswersGeometryQueries) {
  HMENU bar = MakeBar();
  Create(bar);
  EXPECT_EQ(GetMenu(hwnd), bar);
  RECT withBar;
  GetClientRect(hwnd, &withBar);
  RECT item0, item1;
  ASSERT_TRUE(GetMenuItemRect(hwnd, bar, 0, &item0));
  ASSERT_TRUE(GetMenuItemRect(hwnd, bar, 1, &item1));
  POINT client{0, 0};
  ClientToScreen(hwnd, &client);
  EXPECT_EQ(item0.bottom - item0.top, GetSystemMetrics(SM_CYMENU));
  EXPECT_EQ(item0.top, 60 + 4 + 19) << "under the frame and the caption";
  EXPECT_EQ(item1.left, item0.right) << "side by side";
  EXPECT_EQ(client.y, item0.bottom + 1) << "the client area starts under the bar and its line";
  EXPECT_FALSE(GetMenuItemRect(hwnd, bar, 7, &item0));

  EXPECT_EQ(MenuItemFromPoint(hwnd, bar, ItemCentre(bar, 1)), 1);
  EXPECT_EQ(MenuItemFromPoint(hwnd, bar, POINT{client.x + 5, client.y + 5}), -1);
  const POINT centre = ItemCentre(bar, 2);
  EXPECT_EQ(SendMessage(hwnd, WM_NCHITTEST, 0, MAKELPARAM(centre.x, centre.y)), HTMENU);

  // The bar is painted in the menu colour with its texts.
  tavrin::draw::Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  const int y = (item0.top + item0.bottom) / 2 - 60;
  RECT item2;
  ASSERT_TRUE(GetMenuItemRect(hwnd, bar, 2, &item2));
  const uint32_t beside = image.at(item2.right - 60 + 30, y);
  const COLORREF menu = GetSysColor(COLOR_MENU);
  EXPECT_EQ(RGB((beside >> 16) & 0xFF, (beside >> 8) & 0xFF, beside & 0xFF), menu) << "beside the items";
  int dark = 0;
  for (int x = item0.left - 60; x < item0.right - 60; ++x)
    if ((image.at(x, y) & 0xFF) < 0x60) ++dark;
  EXPECT_GT(dark, 2) << "the item's text";

  // Taking the menu away gives the row back; DrawMenuBar and SetMenu lay it out again.
  ASSERT_TRUE(SetMenu(hwnd, nullptr));
  RECT without;
  GetClientRect(hwnd, &without);
  EXPECT_EQ(without.bottom - withBar.bottom, GetSystemMetrics(SM_CYMENU) + 1);
  ASSERT_TRUE(SetMenu(hwnd, bar));
  AppendMenu(bar, MF_STRING, 900, "&Help");
  EXPECT_FALSE(GetMenuItemRect(hwnd, bar, 3, &item0)) << "not laid out yet";
  EXPECT_TRUE(DrawMenuBar(hwnd));
  EXPECT_TRUE(GetMenuItemRect(hwnd, bar, 3, &item0));
  DestroyWindow(hwnd);
  EXPECT_FALSE(IsMenu(bar)) << "a window's menu goes with it";
}

TEST_F(MenuBarTest, AClickOpensTheItemsPopupUnderItAndAnItemClickChoosesItsCommand) {
  HMENU bar = MakeBar();
  Create(bar);
  RECT item1;
  ASSERT_TRUE(GetMenuItemRect(hwnd, bar, 1, &item1));
  RECT popupRect{};
  owner.onIdle = [&](HWND popup) {
    if (owner.idles > 0) return;
    GetWindowRect(popup, &popupRect);
    const POINT second = ItemCentre(subs[1], 1);
    tavrin::win::InjectClick(second.x, second.y);
  };
  const POINT at = ItemCentre(bar, 1);
  tavrin::win::InjectClick(at.x, at.y);
  ASSERT_TRUE(PumpUntil([&] { return owner.command != 0; }));
  EXPECT_EQ(owner.command, 202u);
  EXPECT_EQ(popupRect.left, item1.left);
  EXPECT_EQ(popupRect.top, item1.bottom);

  ASSERT_FALSE(owner.seen.empty());
  EXPECT_EQ(owner.seen.front().message, static_cast<UINT>(WM_ENTERMENULOOP));
  EXPECT_EQ(owner.seen.front().wParam, static_cast<WPARAM>(FALSE)) << "a bar, not a popup of TrackPopupMenu";
  ASSERT_EQ(Of(WM_INITMENU).size(), 1u);
  EXPECT_EQ(Of(WM_INITMENU)[0].wParam, reinterpret_cast<WPARAM>(bar));
  ASSERT_EQ(Of(WM_INITMENUPOPUP).size(), 1u);
  EXPECT_EQ(Of(WM_INITMENUPOPUP)[0].wParam, reinterpret_cast<WPARAM>(subs[1]));
  EXPECT_EQ(LOWORD(Of(WM_INITMENUPOPUP)[0].lParam), 1);
  EXPECT_EQ(owner.seen.back().message, static_cast<UINT>(WM_EXITMENULOOP));
  EXPECT_EQ(Of(WM_EXITMENULOOP).size(), 1u);
}

TEST_F(MenuBarTest, AltSelectsTheFirstItemAndTheArrowsWalkTheBarAndItsPopups) {
  HMENU bar = MakeBar();
  Create(bar);
  // Alt alone, Right (Edit), Down (its popup, first item), Right (no sub-menu: View's popup), Left (back to
  // Edit's), Down (second item), Enter.
  InjectKeys({{VK_MENU, true}, {VK_MENU, false}, {VK_RIGHT, true}, {VK_RIGHT, false}, {VK_DOWN, true}, {VK_DOWN, false},
        {VK_RIGHT, true}, {VK_RIGHT, false}, {VK_LEFT, true}, {VK_LEFT, false}, {VK_DOWN, true}, {VK_DOWN, false},
        {VK_RETURN, true}, {VK_RETURN, false}});
  ASSERT_TRUE(PumpUntil([&] { return owner.command != 0; }));
  EXPECT_EQ(owner.command, 202u);
  std::vector<HMENU> opened;
  for (const Seen& s : Of(WM_INITMENUPOPUP)) opened.push_back(reinterpret_cast<HMENU>(s.wParam));
  EXPECT_EQ(opened, (std::vector<HMENU>{subs[1], subs[2], subs[1]}));
  const std::vector<Seen> selects = Of(WM_MENUSELECT);
  ASSERT_GE(selects.size(), 2u);
  EXPECT_EQ(LOWORD(selects[0].wParam), 0) << "Alt selects the first bar item";
  EXPECT_EQ(selects[0].lParam, reinterpret_cast<LPARAM>(bar));
  EXPECT_TRUE(HIWORD(selects[0].wParam) & MF_POPUP);
}

TEST_F(MenuBarTest, AltWithAMnemonicOpensThatPopupAndEscapeLeavesStepByStep) {
  HMENU bar = MakeBar();
  Create(bar);
  owner.onIdle = [&](HWND) {
    if (owner.idles == 0) InjectKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
  };
  InjectKeys({{VK_MENU, true}, {'V', true}, {'V', false}, {VK_MENU, false}});
  ASSERT_TRUE(PumpUntil([&] { return owner.exited; }));
  ASSERT_EQ(Of(WM_INITMENUPOPUP).size(), 1u);
  EXPECT_EQ(Of(WM_INITMENUPOPUP)[0].wParam, reinterpret_cast<WPARAM>(subs[2]));
  EXPECT_EQ(owner.command, 0u);

  // F10 enters the bar too; an owner-drawn bar finds its mnemonics through WM_MENUCHAR.
  owner = BarOwner{};
  DestroyWindow(hwnd);
  HMENU drawn = MakeBar(true);
  Create(drawn);
  owner.onMenuChar = [](WPARAM wParam, LPARAM) -> LRESULT {
    return LOWORD(wParam) == 'e' ? MAKELPARAM(1, MNC_EXECUTE) : 0;
  };
  owner.onIdle = [&](HWND) {
    if (owner.idles == 0) InjectKeys({{VK_RETURN, true}, {VK_RETURN, false}});
  };
  InjectKeys({{VK_MENU, true}, {'E', true}, {'E', false}, {VK_MENU, false}});
  ASSERT_TRUE(PumpUntil([&] { return owner.command != 0; }));
  EXPECT_EQ(owner.command, 201u) << "the first item of the popup is selected when the keyboard opened it";
  ASSERT_FALSE(Of(WM_MENUCHAR).empty());
  EXPECT_EQ(Of(WM_MENUCHAR)[0].lParam, reinterpret_cast<LPARAM>(drawn));

  owner = BarOwner{};
  owner.onIdle = [&](HWND) {
    if (owner.idles == 0) InjectKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
  };
  InjectKeys({{VK_F10, true}, {VK_F10, false}, {VK_DOWN, true}, {VK_DOWN, false}});
  ASSERT_TRUE(PumpUntil([&] { return owner.exited; }));
  ASSERT_EQ(Of(WM_INITMENUPOPUP).size(), 1u);
  EXPECT_EQ(Of(WM_INITMENUPOPUP)[0].wParam, reinterpret_cast<WPARAM>(subs[0]));
}

TEST_F(MenuBarTest, TheMouseMovesBetweenPopupsAndHotTracksTheBar) {
  HMENU bar = MakeBar(true);
  Create(bar);
  // Hot tracking: the item under the mouse is drawn hot, and normal again when the mouse leaves the bar.
  owner.drawn.clear();
  const POINT second = ItemCentre(bar, 1);
  tavrin::win::InjectMouseMove(second.x, second.y);
  ASSERT_TRUE(PumpUntil([&] {
    return !owner.drawn.empty() && (owner.drawn.back().itemState & ODS_HOTLIGHT) &&
           owner.drawn.back().hwndItem == reinterpret_cast<HWND>(bar);
  }));
  EXPECT_EQ(owner.drawn.back().itemID, static_cast<UINT>(reinterpret_cast<UINT_PTR>(subs[1])));
  EXPECT_EQ(owner.drawn.back().CtlType, static_cast<UINT>(ODT_MENU));
  RECT window;
  GetWindowRect(hwnd, &window);
  tavrin::win::InjectMouseMove(window.left + 100, window.top + 10);  // the caption
  ASSERT_TRUE(PumpUntil([&] { return !(owner.drawn.back().itemState & ODS_HOTLIGHT); }));

  // A popup open, the mouse on the next bar item opens that one's popup instead.
  owner.seen.clear();
  owner.onIdle = [&](HWND) {
    if (owner.idles == 0) {
      const POINT third = ItemCentre(bar, 2);
      tavrin::win::InjectMouseMove(third.x, third.y);
    } else if (owner.idles == 1) {
      InjectKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
    }
  };
  const POINT first = ItemCentre(bar, 0);
  tavrin::win::InjectClick(first.x, first.y);
  ASSERT_TRUE(PumpUntil([&] { return owner.exited; }));
  std::vector<HMENU> opened;
  for (const Seen& s : Of(WM_INITMENUPOPUP)) opened.push_back(reinterpret_cast<HMENU>(s.wParam));
  EXPECT_EQ(opened, (std::vector<HMENU>{subs[0], subs[2]}));
  bool selectedDrawn = false;
  for (const DRAWITEMSTRUCT& d : owner.drawn)
    if (d.itemState & ODS_SELECTED) selectedDrawn = true;
  EXPECT_TRUE(selectedDrawn) << "the open item is drawn selected";
}

TEST_F(MenuBarTest, AltSpaceOpensTheSystemMenuWhoseChoiceComesAsASystemCommand) {
  Create(MakeBar());
  owner.onIdle = [&](HWND) {
    if (owner.idles == 0) InjectKeys({{'C', true}, {'C', false}});  // "&Close"
  };
  InjectKeys({{VK_MENU, true}, {VK_SPACE, true}, {VK_SPACE, false}, {VK_MENU, false}});
  ASSERT_TRUE(PumpUntil([&] { return owner.systemCommand != 0; }));
  EXPECT_EQ(owner.systemCommand, SC_CLOSE);
  ASSERT_EQ(Of(WM_INITMENUPOPUP).size(), 1u);
  EXPECT_EQ(HIWORD(Of(WM_INITMENUPOPUP)[0].lParam), 1) << "the system menu";
}

TEST_F(MenuBarTest, OpeningAndClosingBarPopupsLeavesNoGdiObjectOrMenuBehind) {
  const size_t before = tavrin::win::LiveMenuCount();
  HMENU bar = MakeBar();
  Create(bar);
  const POINT at = ItemCentre(bar, 1);
  auto once = [&] {
    owner.exited = false;
    owner.idles = 0;
    owner.onIdle = [&](HWND) {
      if (owner.idles == 0) InjectKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
    };
    tavrin::win::InjectClick(at.x, at.y);
    return PumpUntil([&] { return owner.exited; });
  };
  ASSERT_TRUE(once());
  const size_t objects = tavrin::gdi::LiveObjectCount();
  const size_t menus = tavrin::win::LiveMenuCount();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(once());
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), objects);
  EXPECT_EQ(tavrin::win::LiveMenuCount(), menus);
  DestroyWindow(hwnd);
  EXPECT_EQ(tavrin::win::LiveMenuCount(), before) << "the window's menus went with it";
}

}  // namespace
