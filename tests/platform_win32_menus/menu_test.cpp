// Menu objects, menu resources and the popup loop.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

struct Owner {
  std::vector<UINT> messages;
  std::function<void(HWND popup)> onIdle;
  std::function<LRESULT(WPARAM, LPARAM)> onMenuChar;
  std::vector<DRAWITEMSTRUCT> drawn;
  UINT measuredHeight = 0;
  UINT command = 0;
  bool idled = false;
};
Owner* g_owner = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!g_owner) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
    case WM_INITMENUPOPUP:
    case WM_MENUSELECT:
    case WM_UNINITMENUPOPUP:
      g_owner->messages.push_back(message);
      return 0;
    case WM_ENTERIDLE:
      if (!g_owner->idled && g_owner->onIdle) {
        g_owner->idled = true;
        g_owner->onIdle(reinterpret_cast<HWND>(lParam));
      }
      return 0;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      measure->itemWidth = 120;
      measure->itemHeight = 22;
      g_owner->measuredHeight = measure->itemHeight;
      return TRUE;
    }
    case WM_DRAWITEM:
      g_owner->drawn.push_back(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_MENUCHAR:
      g_owner->messages.push_back(message);
      return g_owner->onMenuChar ? g_owner->onMenuChar(wParam, lParam) : 0;
    case WM_COMMAND:
      g_owner->command = LOWORD(wParam);
      return 0;
    default:
      return DefWindowProc(hwnd, message, wParam, lParam);
  }
}

class MenuTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_owner = &owner;
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "MenuOwner";
    RegisterClass(&wc);
    hwnd = CreateWindowEx(0, "MenuOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300, nullptr,
                          nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    UnregisterClass("MenuOwner", nullptr);
    g_owner = nullptr;
    SysrootTest::TearDown();
  }
  HMENU ThreeItems() {
    HMENU menu = CreatePopupMenu();
    AppendMenu(menu, MF_STRING, 101, "&Open");
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING, 102, "E&xit\tAlt+F4");
    return menu;
  }
  static void ClickItem(HMENU menu, UINT position) {
    RECT rect;
    ASSERT_TRUE(GetMenuItemRect(nullptr, menu, position, &rect));
    tavrin::win::InjectClick((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  }

  Owner owner;
  HWND hwnd = nullptr;
};

TEST_F(MenuTest, ItemsKeepTheirPositionsStatesAndTexts) {
  HMENU menu = ThreeItems();
  EXPECT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_TRUE(InsertMenu(menu, 1, MF_BYPOSITION | MF_STRING, 103, "&Save"));
  EXPECT_EQ(GetMenuItemID(menu, 1), 103u);
  EXPECT_EQ(GetMenuItemID(menu, 3), 102u);
  EXPECT_TRUE(InsertMenu(menu, 102, MF_BYCOMMAND | MF_STRING, 104, "Before exit"));
  EXPECT_EQ(GetMenuItemID(menu, 3), 104u);
  EXPECT_EQ(CheckMenuItem(menu, 101, MF_CHECKED), 0u);
  EXPECT_EQ(EnableMenuItem(menu, 102, MF_GRAYED), 0);
  EXPECT_EQ(GetMenuState(menu, 101, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
  EXPECT_EQ(GetMenuState(menu, 102, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(GetMenuState(menu, 999, MF_BYCOMMAND), 0xFFFFFFFFu);
  char text[32];
  EXPECT_EQ(GetMenuString(menu, 102, text, sizeof text, MF_BYCOMMAND), 12);
  EXPECT_STREQ(text, "E&xit\tAlt+F4");
  EXPECT_TRUE(ModifyMenu(menu, 0, MF_BYPOSITION | MF_STRING, 105, "Renamed"));
  EXPECT_EQ(GetMenuItemID(menu, 0), 105u);

  // A popup found by a command inside it; RemoveMenu keeps the popup's menu, DeleteMenu destroys it.
  HMENU sub = CreatePopupMenu();
  AppendMenu(sub, MF_STRING, 201, "Inner");
  AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub");
  EXPECT_EQ(GetSubMenu(menu, 5), sub);
  EXPECT_EQ(GetMenuItemID(menu, 5), 0xFFFFFFFFu);
  EXPECT_EQ(GetMenuState(menu, 5, MF_BYPOSITION), MF_POPUP | (1u << 8));
  EXPECT_TRUE(CheckMenuItem(menu, 201, MF_CHECKED) == 0);
  EXPECT_EQ(GetMenuState(sub, 0, MF_BYPOSITION) & MF_CHECKED, MF_CHECKED);
  EXPECT_TRUE(RemoveMenu(menu, 5, MF_BYPOSITION));
  EXPECT_TRUE(IsMenu(sub));
  AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub");
  EXPECT_TRUE(DeleteMenu(menu, 5, MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(sub));
  EXPECT_FALSE(RemoveMenu(menu, 9, MF_BYPOSITION));
  EXPECT_FALSE(AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "gone")) << "not a menu any more";
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(DestroyMenu(menu));
}

TEST_F(MenuTest, ItemAndMenuInfoReadBackWhatWasSet) {
  const size_t before = tavrin::win::LiveMenuCount();
  HMENU menu = ThreeItems();
  HMENU sub = CreatePopupMenu();
  AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub");
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA | MIIM_FTYPE;
  info.fType = MFT_OWNERDRAW;
  info.dwItemData = 0x1234;
  EXPECT_TRUE(SetMenuItemInfo(menu, 101, FALSE, &info));
  MENUITEMINFO back{};
  back.cbSize = sizeof back;
  back.fMask = MIIM_DATA | MIIM_FTYPE | MIIM_ID;
  EXPECT_TRUE(GetMenuItemInfo(menu, 0, TRUE, &back));
  EXPECT_EQ(back.dwItemData, 0x1234u);
  EXPECT_EQ(back.fType, MFT_OWNERDRAW);
  EXPECT_EQ(back.wID, 101u);
  HBRUSH brush = GetSysColorBrush(COLOR_BTNFACE);
  MENUINFO menuInfo{};
  menuInfo.cbSize = sizeof menuInfo;
  menuInfo.fMask = MIM_BACKGROUND | MIM_APPLYTOSUBMENUS;
  menuInfo.hbrBack = brush;
  EXPECT_TRUE(SetMenuInfo(menu, &menuInfo));
  MENUINFO read{};
  read.cbSize = sizeof read;
  read.fMask = MIM_BACKGROUND;
  EXPECT_TRUE(GetMenuInfo(sub, &read));
  EXPECT_EQ(read.hbrBack, brush);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(tavrin::win::LiveMenuCount(), before) << "sub-menus go with their menu";
}

// A menu template: header, then items; a level ends with the MF_END item.
std::vector<BYTE> Template() {
  std::vector<BYTE> bytes{0, 0, 0, 0};
  auto word = [&](WORD w) {
    bytes.push_back(static_cast<BYTE>(w));
    bytes.push_back(static_cast<BYTE>(w >> 8));
  };
  auto text = [&](const char* s) {
    for (; *s; ++s) word(static_cast<BYTE>(*s));
    word(0);
  };
  word(MF_POPUP);
  text("&File");
  word(0);
  word(40001);
  text("&New");
  word(0);
  word(0);
  text("");
  word(MF_END | MF_GRAYED);
  word(40002);
  text("E&xit");
  word(MF_END);
  word(40003);
  text("&Help");
  return bytes;
}

TEST_F(MenuTest, MenuTemplatesLoadAndTruncatedOnesAreRefused) {
  const std::vector<BYTE> bytes = Template();
  HMENU menu = LoadMenuIndirectSized(bytes.data(), bytes.size());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuItemCount(menu), 2);
  HMENU file = GetSubMenu(menu, 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(GetMenuItemCount(file), 3);
  EXPECT_EQ(GetMenuState(file, 1, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
  EXPECT_EQ(GetMenuState(file, 40002, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(GetMenuItemID(menu, 1), 40003u);
  DestroyMenu(menu);
  const size_t live = tavrin::win::LiveMenuCount();
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_EQ(LoadMenuIndirectSized(bytes.data(), cut), nullptr) << cut;
  EXPECT_EQ(tavrin::win::LiveMenuCount(), live) << "nothing left from the refused loads";
}

HHOOK g_hook = nullptr;
std::vector<std::string> g_created;
LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code >= 0 && call->message == WM_CREATE) {
    char name[64] = {};
    GetClassName(call->hwnd, name, sizeof name);
    g_created.push_back(name);
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

TEST_F(MenuTest, AClickOnAnItemReturnsItsCommandAndTheOwnerHearsTheLoop) {
  HMENU menu = ThreeItems();
  g_created.clear();
  g_hook = SetWindowsHookEx(WH_CALLWNDPROC, CreationHook, nullptr, GetCurrentThreadId());
  owner.onIdle = [&](HWND popup) {
    char name[16] = {};
    GetClassName(popup, name, sizeof name);
    EXPECT_STREQ(name, "#32768");
    ClickItem(menu, 2);
  };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 102);
  UnhookWindowsHookEx(g_hook);
  EXPECT_NE(std::find(g_created.begin(), g_created.end(), "#32768"), g_created.end());
  ASSERT_GE(owner.messages.size(), 4u);
  EXPECT_EQ(owner.messages.front(), WM_ENTERMENULOOP);
  EXPECT_EQ(owner.messages[1], WM_INITMENUPOPUP);
  EXPECT_NE(std::find(owner.messages.begin(), owner.messages.end(), WM_MENUSELECT), owner.messages.end());
  EXPECT_EQ(owner.messages.back(), WM_EXITMENULOOP);
  EXPECT_EQ(owner.command, 0u) << "a returned command is not posted";

  // Without TPM_RETURNCMD the command arrives as WM_COMMAND; a click outside cancels.
  owner.idled = false;
  owner.onIdle = [&](HWND) { ClickItem(menu, 0); };
  EXPECT_TRUE(TrackPopupMenu(menu, 0, 100, 100, 0, hwnd, nullptr));
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(owner.command, 101u);
  owner.idled = false;
  owner.onIdle = [&](HWND) { tavrin::win::InjectClick(5, 700); };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 0);
  DestroyMenu(menu);
}

TEST_F(MenuTest, MnemonicsKeysAndMenuCharChooseItems) {
  HMENU menu = ThreeItems();
  owner.onIdle = [&](HWND popup) { PostMessage(popup, WM_CHAR, 'x', 0); };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 102);
  owner.idled = false;
  owner.onIdle = [&](HWND popup) {
    PostMessage(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessage(popup, WM_KEYDOWN, VK_DOWN, 0);  // over the separator
    PostMessage(popup, WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 102);
  owner.idled = false;
  owner.onIdle = [&](HWND popup) { PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0); };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 0);

  // Owner-drawn items have no text to match: the owner answers WM_MENUCHAR.
  HMENU drawn = CreatePopupMenu();
  AppendMenu(drawn, MF_OWNERDRAW, 301, reinterpret_cast<LPCSTR>(0x11));
  AppendMenu(drawn, MF_OWNERDRAW, 302, reinterpret_cast<LPCSTR>(0x22));
  owner.idled = false;
  owner.onMenuChar = [&](WPARAM wParam, LPARAM lParam) -> LRESULT {
    EXPECT_EQ(LOWORD(wParam), 'q');
    EXPECT_EQ(reinterpret_cast<HMENU>(lParam), drawn);
    return MAKELPARAM(1, MNC_EXECUTE);
  };
  owner.onIdle = [&](HWND popup) {
    RECT rect;
    GetMenuItemRect(nullptr, drawn, 1, &rect);
    EXPECT_EQ(rect.bottom - rect.top, 22);
    EXPECT_EQ(rect.right - rect.left, 120 + GetSystemMetrics(SM_CXMENUCHECK) - 1) << "with room for a check mark";
    PostMessage(popup, WM_CHAR, 'q', 0);
  };
  EXPECT_EQ(TrackPopupMenu(drawn, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 302);
  ASSERT_FALSE(owner.drawn.empty());
  EXPECT_EQ(owner.drawn.front().CtlType, ODT_MENU);
  EXPECT_EQ(owner.drawn.front().itemData, 0x11u);
  EXPECT_EQ(reinterpret_cast<HMENU>(owner.drawn.front().hwndItem), drawn);
  DestroyMenu(drawn);
  DestroyMenu(menu);
}

TEST_F(MenuTest, SubMenusOpenFromTheKeyboardAndReturnTheirCommands) {
  HMENU menu = ThreeItems();
  HMENU sub = CreatePopupMenu();
  AppendMenu(sub, MF_STRING, 201, "&Inner");
  AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "&More");
  owner.onIdle = [&](HWND popup) {
    PostMessage(popup, WM_CHAR, 'm', 0);
    PostMessage(popup, WM_CHAR, 'i', 0);
  };
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr), 201);
  int opened = 0;
  for (UINT m : owner.messages) opened += m == WM_INITMENUPOPUP;
  EXPECT_EQ(opened, 2);
  DestroyMenu(menu);
}

// Where a popup tracked at (x, y) with an exclude rectangle opens (its window rectangle).
RECT PopupPlace(Owner& owner, HWND hwnd, HMENU menu, UINT flags, int x, int y, const RECT& exclude) {
  RECT placed{};
  owner.idled = false;
  owner.onIdle = [&](HWND popup) {
    GetWindowRect(popup, &placed);
    PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  };
  TPMPARAMS params{sizeof(TPMPARAMS), exclude};
  TrackPopupMenuEx(menu, flags | TPM_RETURNCMD, x, y, hwnd, &params);
  return placed;
}

TEST_F(MenuTest, APopupThatDoesNotFitMovesPastTheExcludedRectangleSidewaysOrWithTpmVerticalUpOrDown) {
  HMENU menu = ThreeItems();
  const RECT screen = tavrin::win::ScreenRect();
  // A button at the bottom right: below it there is no room.
  const RECT button{screen.right - 40, screen.bottom - 30, screen.right - 10, screen.bottom - 10};
  RECT up = PopupPlace(owner, hwnd, menu, TPM_VERTICAL, button.left, button.bottom, button);
  EXPECT_EQ(up.bottom, button.top) << "above the button";
  EXPECT_LE(up.right, screen.right);
  RECT side = PopupPlace(owner, hwnd, menu, TPM_HORIZONTAL, button.left, button.bottom, button);
  EXPECT_EQ(side.right, button.left) << "beside the button";
  EXPECT_LE(side.bottom, screen.bottom);
  // Room below: TPM_VERTICAL opens right under it, as a drop-down does.
  const RECT high{200, 100, 240, 120};
  RECT below = PopupPlace(owner, hwnd, menu, TPM_VERTICAL, high.left, high.bottom, high);
  EXPECT_EQ(below.top, high.bottom);
  EXPECT_EQ(below.left, high.left);
  DestroyMenu(menu);
}

TEST_F(MenuTest, ManyPopupsLeaveNoGdiObjectsOrWindowsBehind) {
  HMENU menu = ThreeItems();
  const size_t baseline = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 50; ++i) {
    owner.idled = false;
    owner.onIdle = [&](HWND popup) { PostMessage(popup, WM_KEYDOWN, VK_ESCAPE, 0); };
    TrackPopupMenu(menu, TPM_RETURNCMD, 100, 100, 0, hwnd, nullptr);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
  DestroyMenu(menu);
}

}  // namespace
