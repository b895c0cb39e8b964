// Icon sets of resources found by name as well as by number, and bitmaps that follow the system colours.
#include <cstring>
#include <vector>

#include "admin/menus/NewMenu.h"
#include "solid_bitmap.h"
#include "testsupport/sysroot.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

// A 24-bit bitmap of `icons` 16x15 pictures in one colour.
std::vector<uint8_t> Strip(int icons) { return menu_test::SolidBitmap(16 * icons, 15, 70); }

// A 16-colour 8x2 bitmap: colour i of the table in column i (the top row and the bottom row alike).
// The table: black, dark grey, light grey, white, then red.
std::vector<uint8_t> SixteenColours() {
  const int width = 8, height = 2, stride = 4;
  std::vector<uint8_t> bytes(40 + 16 * 4 + stride * height, 0);
  const uint32_t header[3] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  std::memcpy(bytes.data(), header, sizeof header);
  const uint16_t planesAndBits[2] = {1, 4};
  std::memcpy(bytes.data() + 12, planesAndBits, sizeof planesAndBits);
  const uint8_t table[5][4] = {{0, 0, 0, 0}, {128, 128, 128, 0}, {192, 192, 192, 0}, {255, 255, 255, 0}, {0, 0, 200, 0}};
  std::memcpy(bytes.data() + 40, table, sizeof table);
  for (int row = 0; row < height; ++row) {
    uint8_t* pixels = bytes.data() + 40 + 64 + row * stride;
    pixels[0] = 0x01;
    pixels[1] = 0x23;
    pixels[2] = 0x44;
    pixels[3] = 0x44;
  }
  return bytes;
}

class MenuResourcesTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    static const std::vector<uint8_t> strip = Strip(4), colours = SixteenColours();
    // Four buttons among separators: 201, 202, 203, 204.
    static const uint16_t toolbar[] = {1, 16, 15, 7, 201, 0, 202, 203, 0, 204, 0};
    static const tavrin::res::Entry entries[] = {
        {2, 0, "EDITTOOLS", strip.data(), strip.size()},
        {241, 0, "EDITTOOLS", reinterpret_cast<const uint8_t*>(toolbar), sizeof toolbar},
        {2, 970, nullptr, colours.data(), colours.size()},
        {2, 971, nullptr, strip.data(), strip.size()},
    };
    tavrin::res::Register(entries);
  }
};

TEST_F(MenuResourcesTest, AToolbarByNameIsLoadedOnceAndMatchedByItsName) {
  auto& sets = GetNewMenuGlobalState().m_iconSets;
  const size_t before = sets.size();
  CNewMenu menu, other;
  for (CNewMenu* m : {&menu, &other}) {
    m->CreatePopupMenu();
    m->AppendMenu(MF_STRING, 202, "&Copy");
    m->AppendMenu(MF_STRING, 204, "&Paste");
  }
  ASSERT_TRUE(menu.LoadToolBar("EDITTOOLS"));
  CNewMenuIcons* set = menu.FindItemRecordById(204)->m_pMenuIcon;
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->m_keys, (std::vector<UINT>{201, 202, 203, 204})) << "separators give no key";
  EXPECT_EQ(set->FindIndex(204), 9u);
  EXPECT_EQ(menu.FindItemRecordById(204)->m_nMenuIconOffset, 9);
  EXPECT_STREQ(set->GetResourceName(), "EDITTOOLS");
  EXPECT_TRUE(set->MatchesResource("EDITTOOLS", nullptr));
  EXPECT_FALSE(set->MatchesResource("OTHER", nullptr));
  EXPECT_FALSE(set->MatchesResource(MAKEINTRESOURCE(970), nullptr));
  EXPECT_FALSE(set->MatchesResource("EDITTOOLS", reinterpret_cast<HINSTANCE>(1))) << "another module";

  ASSERT_TRUE(other.LoadToolBar("EDITTOOLS"));
  EXPECT_EQ(other.FindItemRecordById(202)->m_pMenuIcon, set) << "the second menu shares the set";
  EXPECT_EQ(sets.size(), before + 1);
  EXPECT_FALSE(menu.LoadToolBar("MISSING"));
  EXPECT_EQ(sets.size(), before + 1);

  // A set of a numbered resource matches the number only.
  CNewMenuIcons numbered;
  numbered.SetResourceName(MAKEINTRESOURCE(971));
  EXPECT_TRUE(numbered.MatchesResource(MAKEINTRESOURCE(971), nullptr));
  EXPECT_FALSE(numbered.MatchesResource("971", nullptr));
  // Reloading after a colour change keeps the set's pictures.
  const int images = set->m_imageList.GetImageCount();
  set->RefreshColors();
  EXPECT_EQ(set->m_imageList.GetImageCount(), images);
}

TEST_F(MenuResourcesTest, SixteenColourBitmapsTakeTheSystemColours) {
  EXPECT_EQ(CNewMenu::LoadSysColorBitmap(MAKEINTRESOURCE(971)), nullptr) << "not a 16-colour bitmap";
  EXPECT_EQ(CNewMenu::LoadSysColorBitmap(MAKEINTRESOURCE(999)), nullptr);
  const INT which[] = {COLOR_BTNTEXT, COLOR_BTNSHADOW, COLOR_BTNFACE, COLOR_BTNHIGHLIGHT};
  COLORREF saved[4];
  for (int i = 0; i < 4; ++i) saved[i] = GetSysColor(which[i]);
  const COLORREF chosen[] = {RGB(1, 2, 3), RGB(10, 20, 30), RGB(100, 110, 120), RGB(250, 240, 230)};
  ASSERT_TRUE(SetSysColors(4, which, chosen));
  HBITMAP bitmap = CNewMenu::LoadSysColorBitmap(MAKEINTRESOURCE(970));
  ASSERT_NE(bitmap, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(GetPixel(dc, i, 0), chosen[i]) << "standard colour " << i;
  EXPECT_EQ(GetPixel(dc, 4, 1), RGB(200, 0, 0)) << "other colours stay";
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);

  // Check-mark images from such a bitmap show the system colours too.
  CNewMenu menu;
  menu.CreatePopupMenu();
  menu.SetIconSize(8, 2);
  menu.SetBitmapBackgroundColor(RGB(200, 0, 0));
  menu.SetCheckMarkImages(970, 970);
  ASSERT_NE(menu.m_pCheckMarkImages, nullptr);
  HICON icon = ImageList_GetIcon(menu.m_pCheckMarkImages->m_hImageList, 0, 0);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  dc = CreateCompatibleDC(nullptr);
  old = SelectObject(dc, info.hbmColor);
  EXPECT_EQ(GetPixel(dc, 2, 0), chosen[2]);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  SetSysColors(4, which, saved);
}

}  // namespace
