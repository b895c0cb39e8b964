#include <gtest/gtest.h>

#include "win32/gdi_hooks.h"

namespace {

using tavrin::draw::Surface;

// A memory DC over a bitmap made from `pixels`.
struct Memory {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  explicit Memory(const Surface& pixels) {
    dc = CreateCompatibleDC(nullptr);
    bitmap = tavrin::gdi::CreateBitmapFromSurface(pixels);
    old = SelectObject(dc, bitmap);
  }
  ~Memory() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
};

TEST(BlitTest, StretchTransparentAndAlpha) {
  Surface checker(2, 2, 0);
  checker.set(0, 0, 0xFF0000);
  checker.set(1, 1, 0xFF0000);
  Memory src(checker), dst(Surface(8, 8, 0xFFFFFF));
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 8, 8, src.dc, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(dst.at(3, 3), RGB(255, 0, 0));
  EXPECT_EQ(dst.at(4, 3), RGB(0, 0, 0));
  EXPECT_EQ(dst.at(7, 7), RGB(255, 0, 0));
  // Mirrored by a negative width.
  StretchBlt(dst.dc, 7, 0, -8, 8, src.dc, 0, 0, 2, 2, SRCCOPY);
  EXPECT_EQ(dst.at(0, 0), RGB(0, 0, 0));

  Memory plain(Surface(4, 4, 0xFFFFFF));
  ASSERT_TRUE(TransparentBlt(plain.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, RGB(0, 0, 0)));
  EXPECT_EQ(plain.at(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(plain.at(3, 0), RGB(255, 255, 255));  // black source left out

  Memory half(Surface(1, 1, 0x000000));
  Memory white(Surface(1, 1, 0xFFFFFF));
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 128, 0};
  ASSERT_TRUE(AlphaBlend(half.dc, 0, 0, 1, 1, white.dc, 0, 0, 1, 1, blend));
  EXPECT_NEAR(GetRValue(half.at(0, 0)), 128, 1);
  // A source rectangle outside the source is refused.
  EXPECT_FALSE(AlphaBlend(half.dc, 0, 0, 1, 1, white.dc, 0, 0, 2, 2, blend));
}

TEST(BlitTest, PatternBrushFollowsTheBrushOrigin) {
  Surface tile(2, 1, 0);
  tile.set(0, 0, 0x0000FF);  // blue, then black
  HBITMAP pattern = tavrin::gdi::CreateBitmapFromSurface(tile);
  HBRUSH brush = CreatePatternBrush(pattern);
  DeleteObject(pattern);  // the brush keeps its copy
  Memory m(Surface(4, 1, 0xFFFFFF));
  RECT r{0, 0, 4, 1};
  FillRect(m.dc, &r, brush);
  EXPECT_EQ(m.at(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(m.at(1, 0), RGB(0, 0, 0));
  SetBrushOrgEx(m.dc, 1, 0, nullptr);
  FillRect(m.dc, &r, brush);
  EXPECT_EQ(m.at(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(m.at(1, 0), RGB(0, 0, 255));
  DeleteObject(brush);

  // A hatch on a transparent background leaves the gaps alone.
  HBRUSH hatch = CreateHatchBrush(HS_HORIZONTAL, RGB(255, 0, 0));
  Memory h(Surface(8, 8, 0x00FF00));
  SetBkMode(h.dc, TRANSPARENT);
  RECT all{0, 0, 8, 8};
  FillRect(h.dc, &all, hatch);
  EXPECT_EQ(h.at(3, 7), RGB(255, 0, 0));
  EXPECT_EQ(h.at(3, 3), RGB(0, 255, 0));
  DeleteObject(hatch);
}

TEST(BlitTest, DrawStateDisabledAndMono) {
  Surface picture(4, 4, 0xFFFFFF);
  picture.set(1, 1, 0x000000);
  HBITMAP bm = tavrin::gdi::CreateBitmapFromSurface(picture);
  Memory m(Surface(8, 8, 0xC8D0D4));
  ASSERT_TRUE(DrawState(m.dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bm), 0, 2, 2, 0, 0, DST_BITMAP | DSS_DISABLED));
  EXPECT_EQ(m.at(3, 3), GetSysColor(COLOR_3DSHADOW));
  EXPECT_EQ(m.at(4, 4), GetSysColor(COLOR_3DHILIGHT));
  EXPECT_EQ(m.at(2, 2), RGB(0xC8, 0xD0, 0xD4));  // background untouched
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  DrawState(m.dc, red, nullptr, reinterpret_cast<LPARAM>(bm), 0, 0, 0, 4, 4, DST_BITMAP | DSS_MONO);
  EXPECT_EQ(m.at(1, 1), RGB(255, 0, 0));
  DeleteObject(red);
  DeleteObject(bm);
}

TEST(BlitTest, WindowDcsDrawOnTheProvidersSurfaceAndReportWhatTheyTouched) {
  auto surface = std::make_shared<Surface>(40, 30, 0);
  HWND window = reinterpret_cast<HWND>(0x1234);
  tavrin::draw::Rect touched;
  int ended = 0;
  tavrin::gdi::WindowDcProvider provider;
  provider.acquire = [&](HWND hwnd, bool whole, tavrin::gdi::WindowDcTarget& target) {
    if (hwnd != window) return false;
    target.surface = surface;
    target.origin = whole ? tavrin::draw::Point{0, 0} : tavrin::draw::Point{4, 20};  // client area below a caption
    target.visible = tavrin::draw::Region(tavrin::draw::Rect{0, 0, 30, 10});
    return true;
  };
  provider.beginPaint = [&](HWND hwnd, tavrin::gdi::WindowDcTarget& target, PAINTSTRUCT& ps) {
    provider.acquire(hwnd, false, target);
    ps.rcPaint = {0, 0, 5, 5};
    ps.fErase = TRUE;
    return true;
  };
  provider.endPaint = [&](HWND, const PAINTSTRUCT&) { ++ended; };
  provider.released = [&](HWND, const tavrin::draw::Rect& r) { touched = r; };
  tavrin::gdi::SetWindowDcProvider(provider);

  HDC dc = GetDC(window);
  EXPECT_EQ(WindowFromDC(dc), window);
  RECT r{0, 0, 100, 100};
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EXPECT_EQ(surface->at(4, 20), 0xFFFFFFu);
  EXPECT_EQ(surface->at(33, 29), 0xFFFFFFu);
  EXPECT_EQ(surface->at(34, 29), 0u);  // outside the visible part
  EXPECT_EQ(surface->at(3, 19), 0u);
  RECT clip;
  GetClipBox(dc, &clip);
  EXPECT_EQ(clip.right, 30);
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_FALSE(touched.empty());

  PAINTSTRUCT ps;
  HDC paint = BeginPaint(window, &ps);
  ASSERT_NE(paint, nullptr);
  EXPECT_EQ(ps.hdc, paint);
  EXPECT_TRUE(ps.fErase);
  EXPECT_EQ(ps.rcPaint.right, 5);
  EndPaint(window, &ps);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(GetObjectType(paint), 0u);

  tavrin::gdi::SetWindowDcProvider({});
  // Without a window manager a window DC draws nowhere but still measures text.
  HDC nowhere = GetDC(window);
  SIZE size;
  EXPECT_TRUE(GetTextExtentPoint32(nowhere, "abc", 3, &size));
  EXPECT_GT(size.cx, 0);
  ReleaseDC(window, nowhere);
}

TEST(BlitTest, SaveAndRestoreDcState) {
  Memory m(Surface(4, 4, 0));
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
  int saved = SaveDC(m.dc);
  HGDIOBJ old = SelectObject(m.dc, pen);
  SetTextColor(m.dc, RGB(9, 9, 9));
  IntersectClipRect(m.dc, 0, 0, 1, 1);
  ASSERT_TRUE(RestoreDC(m.dc, saved));
  EXPECT_EQ(GetTextColor(m.dc), RGB(0, 0, 0));
  EXPECT_EQ(GetCurrentObject(m.dc, OBJ_PEN), old);
  EXPECT_TRUE(DeleteObject(pen));  // no longer selected
  RECT box;
  GetClipBox(m.dc, &box);
  EXPECT_EQ(box.right, 4);
  EXPECT_FALSE(RestoreDC(m.dc, 5));
}

}  // namespace
