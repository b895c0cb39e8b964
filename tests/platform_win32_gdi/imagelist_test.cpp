#include <gtest/gtest.h>

#include "win32/gdi_hooks.h"
#include "win32/imagelist.h"

namespace {

using tavrin::draw::Surface;

// Two 4x4 images side by side: red with a grey (0xC0C0C0) corner, then blue.
HBITMAP Strip() {
  Surface s(8, 4, 0xFF0000);
  for (int y = 0; y < 4; ++y)
    for (int x = 4; x < 8; ++x) s.set(x, y, 0x0000FF);
  s.set(0, 0, 0xC0C0C0);
  return tavrin::gdi::CreateBitmapFromSurface(s);
}

struct Target {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = tavrin::gdi::CreateBitmapFromSurface(Surface(10, 10, 0x00FF00));
  HGDIOBJ old = SelectObject(dc, bm);
  ~Target() {
    SelectObject(dc, old);
    DeleteObject(bm);
    DeleteDC(dc);
  }
};

TEST(ImageListTest, MaskedImagesDrawTransparentlyAndBlend) {
  size_t baseline = tavrin::gdi::LiveObjectCount();
  HIMAGELIST list = ImageList_Create(4, 4, ILC_COLORDDB | ILC_MASK, 2, 10);
  ASSERT_NE(list, nullptr);
  HBITMAP strip = Strip();
  EXPECT_EQ(ImageList_AddMasked(list, strip, RGB(0xC0, 0xC0, 0xC0)), 0);
  DeleteObject(strip);
  EXPECT_EQ(ImageList_GetImageCount(list), 2);
  int cx = 0, cy = 0;
  ASSERT_TRUE(ImageList_GetIconSize(list, &cx, &cy));
  EXPECT_EQ(cx, 4);

  {
    Target t;
    ASSERT_TRUE(ImageList_Draw(list, 0, t.dc, 1, 1, ILD_TRANSPARENT));
    EXPECT_EQ(GetPixel(t.dc, 1, 1), RGB(0, 255, 0));  // the masked corner shows the background
    EXPECT_EQ(GetPixel(t.dc, 2, 1), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(t.dc, 5, 5), RGB(0, 255, 0));  // nothing past the image
    ImageList_SetBkColor(list, RGB(1, 2, 3));
    ImageList_Draw(list, 0, t.dc, 1, 1, ILD_NORMAL);
    EXPECT_EQ(GetPixel(t.dc, 1, 1), RGB(1, 2, 3));
    ImageList_DrawEx(list, 1, t.dc, 0, 0, 0, 0, CLR_NONE, RGB(255, 255, 255), ILD_BLEND50);
    EXPECT_EQ(GetPixel(t.dc, 0, 0), RGB(127, 127, 255));
    EXPECT_FALSE(ImageList_Draw(list, 2, t.dc, 0, 0, ILD_NORMAL));

    // Round trip through an icon.
    HICON icon = ImageList_GetIcon(list, 0, 0);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(ImageList_ReplaceIcon(list, -1, icon), 2);
    ImageList_Draw(list, 2, t.dc, 5, 5, ILD_TRANSPARENT);
    EXPECT_EQ(GetPixel(t.dc, 5, 5), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(t.dc, 6, 5), RGB(255, 0, 0));
    DestroyIcon(icon);
  }

  EXPECT_TRUE(ImageList_Remove(list, 0));
  EXPECT_EQ(ImageList_GetImageCount(list), 2);
  EXPECT_FALSE(DeleteObject(list));  // not a GDI object
  EXPECT_TRUE(ImageList_Destroy(list));
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

}  // namespace
