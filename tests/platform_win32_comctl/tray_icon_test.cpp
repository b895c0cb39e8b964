// Tray icons: each icon's own topmost window with its tip, the mouse on it reported to the owner as the
// icon's callback message, the tip's changes, and the window's going with the icon.
#include <gtest/gtest.h>

#include <vector>

#include "testsupport/message_pump.h"
#include "testsupport/tray_owner.h"
#include "win32/shell.h"
#include "win32/window_manager.h"

namespace {

constexpr UINT kCallback = tavrin::test::kTrayCallback;
constexpr UINT kIconId = 128;

struct TrayIconTest : ::testing::Test {
  void SetUp() override {
    owner = tavrin::test::MakeTrayOwner(&heard);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    DestroyWindow(owner);
    tavrin::test::DiscardMessages();
  }

  NOTIFYICONDATA Data(UINT flags, const char* tip = "") {
    NOTIFYICONDATA data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = kCallback;
    data.hIcon = LoadIconResource(kIconId);
    snprintf(data.szTip, sizeof data.szTip, "%s", tip);
    return data;
  }
  static HWND Shown() {
    const auto icons = tavrin::tray::Icons();
    return icons.empty() ? nullptr : icons[0].shown;
  }
  static std::string Text(HWND hwnd) {
    char text[128] = {};
    GetWindowText(hwnd, text, sizeof text);
    return text;
  }
  bool Heard(LPARAM mouseMessage) {
    for (const auto& [id, message] : heard)
      if (id == kIconId && message == mouseMessage) return true;
    return false;
  }

  HWND owner = nullptr;
  tavrin::test::TrayNotices heard;
};

TEST_F(TrayIconTest, TheIconsWindowCarriesItsTipAndReportsTheMouseToTheOwner) {
  NOTIFYICONDATA data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP, "Pelko Admin Utility");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &data)) << "an icon is added once";
  const HWND shown = Shown();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(FindWindow(tavrin::tray::kTrayWindowClass, nullptr), shown);
  EXPECT_EQ(Text(shown), "Pelko Admin Utility");
  EXPECT_TRUE(IsWindowVisible(shown));
  EXPECT_TRUE(GetWindowLongPtr(shown, GWL_EXSTYLE) & WS_EX_TOPMOST);
  RECT rect{};
  GetWindowRect(shown, &rect);
  const RECT screen = tavrin::win::ScreenRect();
  EXPECT_GT(rect.left, screen.right / 2);
  EXPECT_GT(rect.top, screen.bottom / 2) << "at the bottom right";

  // A double click and a right click as a person gives them.
  const int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
  tavrin::win::InjectClick(x, y);
  tavrin::win::InjectClick(x, y);
  ASSERT_TRUE(tavrin::test::PumpUntil([&] { return Heard(WM_LBUTTONDBLCLK); }));
  tavrin::win::InjectClick(x, y, tavrin::win::MouseButton::kRight);
  ASSERT_TRUE(tavrin::test::PumpUntil([&] { return Heard(WM_RBUTTONDOWN) && Heard(WM_RBUTTONUP); }));

  // A new tip; then the icon goes with its window.
  NOTIFYICONDATA retip = Data(NIF_TIP, "Mapping");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &retip));
  EXPECT_EQ(Text(shown), "Mapping");
  EXPECT_EQ(tavrin::tray::Icons()[0].callbackMessage, kCallback) << "a modification keeps what it does not name";
  ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_FALSE(IsWindow(shown));
  EXPECT_TRUE(tavrin::tray::Icons().empty());
  EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &data)) << "an icon is removed once";
  EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &retip));
}

}  // namespace
