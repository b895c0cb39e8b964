// Items with pictures of their own: icon sets grown one picture at a time and shared by command.
#include "admin/menus/NewMenuBitmaps.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

HBITMAP Picture(int width, int height, COLORREF colour) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, width, height};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

TEST_F(SysrootTest, PicturesOfTheirOwnShareSetsByCommandAndGoWithTheirItems) {
  auto& sets = GetNewMenuGlobalState().m_iconSets;
  const size_t setsBefore = sets.size();
  const size_t objects = tavrin::gdi::LiveObjectCount();
  {
    CImageList list;
    ASSERT_TRUE(list.Create(16, 15, ILC_COLORDDB | ILC_MASK, 0, 4));
    CBitmap blue, small;
    blue.Attach(Picture(16, 15, RGB(0, 0, 200)));
    small.Attach(Picture(8, 8, RGB(0, 200, 0)));
    ASSERT_EQ(list.Add(&blue, RGB(192, 192, 192)), 0);

    CNewMenu menu;
    menu.CreatePopupMenu();
    ASSERT_TRUE(menu.AppendMenu(MF_STRING, 301, "&Picture", &list, 0));
    CNewMenuItemData* first = menu.FindItemRecordById(301);
    ASSERT_NE(first, nullptr);
    auto* set = dynamic_cast<CNewMenuBitmaps*>(first->m_pMenuIcon);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(first->m_nMenuIconOffset, 0);
    EXPECT_EQ(set->m_imageList.GetImageCount(), 3) << "the picture and its two variants";
    EXPECT_EQ(set->m_colors.front(), 0xFFFFFFFFu) << "an icon has no transparent colour";

    // The same command again: the set that holds it takes the icon in place.
    ASSERT_TRUE(menu.InsertMenu(0, MF_BYPOSITION | MF_STRING, 301, "&Again", &list, 0));
    EXPECT_EQ(menu.m_items[0]->m_pMenuIcon, set);
    EXPECT_EQ(set->m_imageList.GetImageCount(), 3);
    EXPECT_EQ(set->GetRefCount(), 2);

    ASSERT_TRUE(menu.AppendMenu(MF_STRING, 302, "&Bitmap", &blue));
    auto* other = dynamic_cast<CNewMenuBitmaps*>(menu.FindItemRecordById(302)->m_pMenuIcon);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, set);
    EXPECT_EQ(other->AddBitmap(static_cast<HBITMAP>(small.m_hObject), RGB(192, 192, 192)), 0xFFFFFFFFu)
        << "another size is refused";
    EXPECT_EQ(other->AddBitmap(static_cast<HBITMAP>(blue.m_hObject), RGB(192, 192, 192)), 3u);
    const int images = other->m_imageList.GetImageCount();
    other->RefreshColors();
    EXPECT_EQ(other->m_imageList.GetImageCount(), images) << "variants replaced in place";
    EXPECT_EQ(sets.size(), setsBefore + 2);

    // A picture that cannot be taken leaves no set behind.
    CBitmap none;
    EXPECT_TRUE(menu.AppendMenu(MF_STRING, 303, "&None", &none));
    EXPECT_EQ(menu.FindItemRecordById(303)->m_pMenuIcon, nullptr);
    EXPECT_EQ(sets.size(), setsBefore + 2);
    // A set of its own takes the size of its first picture.
    EXPECT_TRUE(menu.AppendMenu(MF_STRING, 304, "&Small", &small));
    EXPECT_EQ(menu.FindItemRecordById(304)->m_pMenuIcon->GetIconSize().cx, 8);
  }
  EXPECT_EQ(sets.size(), setsBefore) << "released with the last item";
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), objects);
}

}  // namespace
