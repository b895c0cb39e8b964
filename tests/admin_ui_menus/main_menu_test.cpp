// TavrinAdmin's main frame carries its menu 128 as an owner-drawn bar with the menu icons; the
// "&Device Mapping" popup, opened by a click on the bar, is drawn in the flat look.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "admin/TavrinAdminApp.h"
#include "admin/menus/NewFrameWnd.h"
#include "admin/ui/MainFrame.h"
#include "draw/surface.h"
#include "main_frame_fixture.h"
#include "reference_image.h"
#include "testsupport/admin_app.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::PumpUntil;

class MainMenuTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(menu_test::StartWithMainFrame(app_, &frame_, true));
    hwnd_ = frame_->m_hWnd;
  }
  void TearDown() override {
    menu_test::Stop(app_);
    SysrootTest::TearDown();
  }
  POINT ItemCentre(HMENU menu, UINT item) { return tavrin::test::MenuItemCentre(hwnd_, menu, item); }
  std::unique_ptr<CTavrinAdminApp> app_;
  CMainFrame* frame_ = nullptr;
  HWND hwnd_ = nullptr;
};

TEST_F(MainMenuTest, TheBarHoldsTheFunctionPopupsAndTheCommandsCarryTheMenuIcons) {
  CNewMenu* bar = frame_->GetMainMenu();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetMenu(hwnd_), bar->m_hMenu);
  ASSERT_EQ(GetMenuItemCount(bar->m_hMenu), 5);
  const char* texts[] = {"&File", "Fu&nctions", "&Device Mapping", "&View", "&Help"};
  for (UINT i = 0; i < 5; ++i) {
    CString text;
    ASSERT_TRUE(bar->GetItemText(i, text, MF_BYPOSITION));
    EXPECT_STREQ(text.GetString(), texts[i]);
    MENUITEMINFO item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfo(bar->m_hMenu, i, TRUE, &item));
    EXPECT_TRUE(item.fType & MFT_OWNERDRAW);
  }
  ASSERT_NE(frame_->GetDeviceMappingPopup(), nullptr);
  EXPECT_EQ(bar->GetSubMenu(2), frame_->GetDeviceMappingPopup());
  ASSERT_NE(frame_->GetServerManagerPopup(), nullptr);
  EXPECT_TRUE(IsMenu(frame_->GetServerManagerPopup()->m_hMenu)) << "off the bar, still the frame's";

  CNewMenuItemData* start = frame_->GetDeviceMappingPopup()->FindItemRecordById(32866);
  ASSERT_NE(start, nullptr);
  ASSERT_NE(start->m_pMenuIcon, nullptr);
  EXPECT_EQ(start->m_nMenuIconOffset, 27) << "the tenth icon of bitmap 130";
  EXPECT_EQ(start->m_pMenuIcon->GetIconSize(), CSize(20, 20));
  CNewMenuItemData* search = frame_->GetServerManagerPopup()->FindItemRecordById(32818);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->m_nMenuIconOffset, 12);
  EXPECT_EQ(search->m_pMenuIcon, start->m_pMenuIcon) << "one icon set for the whole menu";

  // The bar has the flat look's background.
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  ASSERT_TRUE(GetMenuInfo(bar->m_hMenu, &info));
  EXPECT_NE(info.hbrBack, nullptr);
}

TEST_F(MainMenuTest, TheDeviceMappingPopupOpensFromTheBarAndMatchesItsReferencePicture) {
  CNewMenu* popup = frame_->GetDeviceMappingPopup();
  ASSERT_NE(popup, nullptr);
  tavrin::draw::Surface picture;
  RECT client{}, barItem{}, popupRect{};
  bool seen = false;
  menu_test::OnMenuIdle([&](HWND window) {
    if (seen) return;
    seen = true;
    GetWindowRect(window, &popupRect);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    // The items (the client area): the popup's frame belongs to the border painter.
    const tavrin::draw::Surface whole = tavrin::test::RenderWindow(window);
    const int dx = origin.x - popupRect.left, dy = origin.y - popupRect.top;
    picture = tavrin::draw::Surface(client.right, client.bottom);
    for (int y = 0; y < client.bottom; ++y)
      for (int x = 0; x < client.right; ++x) picture.set(x, y, whole.get(x + dx, y + dy));
    EndMenu();
  });
  ASSERT_TRUE(GetMenuItemRect(hwnd_, frame_->GetMainMenu()->m_hMenu, 2, &barItem));
  const POINT at = ItemCentre(frame_->GetMainMenu()->m_hMenu, 2);
  tavrin::win::InjectClick(at.x, at.y);
  ASSERT_TRUE(PumpUntil([&] { return seen; }));
  EXPECT_EQ(popupRect.left, barItem.left) << "under its bar item";
  ASSERT_EQ(picture.width(), client.right);

  // Probes: the icon column and text area colours of the flat look, the separator in COLOR_GRAYTEXT.
  auto colour = [&](int x, int y) {
    const uint32_t p = picture.at(x, y);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  };
  const COLORREF W = GetSysColor(COLOR_WINDOW), M = CNewMenu::GetMenuBarColor(popup->m_hMenu);
  EXPECT_EQ(colour(2, 2), MixColors86(M, W)) << "the icon column";
  EXPECT_EQ(colour(client.right - 3, 2), MixColors86(W, M)) << "the text area";
  bool grayLine = false;
  for (int y = 0; y < client.bottom && !grayLine; ++y)
    grayLine = colour(client.right - 3, y) == GetSysColor(COLOR_GRAYTEXT);
  EXPECT_TRUE(grayLine) << "a separator";
  EXPECT_TRUE(tavrin::test::MatchesReference(picture, TAVRIN_REFERENCE_DIR "/device_mapping_popup.png"));
}

}  // namespace
