#include <gtest/gtest.h>

#include "mfc/mfc.h"
#include "win32/gdi_hooks.h"

namespace {

TEST(MfcGdiTest, ObjectsDeleteTheirHandlesAndMemoryDcDraws) {
  size_t baseline = tavrin::gdi::LiveObjectCount();
  {
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(nullptr));
    CClientDC screen(nullptr);
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 10, 10));
    EXPECT_EQ(bitmap.GetBitmapDimension(), CSize(10, 10));
    CBitmap* oldBitmap = mem.SelectObject(&bitmap);
    ASSERT_NE(oldBitmap, nullptr);
    mem.FillSolidRect(0, 0, 10, 10, RGB(255, 255, 255));
    mem.Draw3dRect(CRect(0, 0, 10, 10), RGB(1, 1, 1), RGB(2, 2, 2));
    EXPECT_EQ(mem.GetPixel(0, 0), RGB(1, 1, 1));
    EXPECT_EQ(mem.GetPixel(9, 0), RGB(2, 2, 2));  // far corners take the bottom-right colour
    EXPECT_EQ(mem.GetPixel(0, 9), RGB(2, 2, 2));
    EXPECT_EQ(mem.GetPixel(5, 5), RGB(255, 255, 255));

    CPen pen(PS_SOLID, 1, RGB(9, 9, 9));
    CBrush brush(RGB(7, 7, 7));
    CPen* oldPen = mem.SelectObject(&pen);
    CBrush* oldBrush = mem.SelectObject(&brush);
    mem.Rectangle(CRect(2, 2, 6, 6));
    EXPECT_EQ(mem.GetPixel(2, 2), RGB(9, 9, 9));
    EXPECT_EQ(mem.GetPixel(3, 3), RGB(7, 7, 7));
    EXPECT_EQ(mem.GetCurrentPen()->m_hObject, pen.m_hObject);
    mem.SelectObject(oldPen);
    mem.SelectObject(oldBrush);

    CFont font;
    ASSERT_TRUE(font.CreatePointFont(80, "MS Sans Serif"));
    LOGFONT lf;
    font.GetLogFont(&lf);
    EXPECT_EQ(lf.lfHeight, -11);  // 8 points at 96 pixels per inch
    CFont* oldFont = mem.SelectObject(&font);
    EXPECT_GT(mem.GetTextExtent(CString("Text")).cx, 0);
    mem.SelectObject(oldFont);

    CRgn a, b, c;
    a.CreateRectRgn(0, 0, 4, 4);
    b.CreateRectRgn(2, 2, 6, 6);
    c.CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(c.CombineRgn(&a, &b, RGN_XOR), COMPLEXREGION);
    EXPECT_FALSE(c.PtInRegion(3, 3));
    mem.SelectObject(oldBitmap);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

TEST(MfcGdiTest, RectPointAndSizeArithmetic) {
  CRect r(10, 20, 30, 60);
  EXPECT_EQ(r.Width(), 20);
  EXPECT_EQ(r.Height(), 40);
  EXPECT_EQ(r.CenterPoint(), CPoint(20, 40));
  r.DeflateRect(2, 3);
  EXPECT_EQ(r, CRect(12, 23, 28, 57));
  r.OffsetRect(CPoint(-12, -23));
  EXPECT_EQ(r.TopLeft(), CPoint(0, 0));
  EXPECT_EQ(r.Size(), CSize(16, 34));
  CRect i = r & CRect(10, 10, 100, 100);
  EXPECT_EQ(i, CRect(10, 10, 16, 34));
  EXPECT_TRUE((r & CRect(50, 50, 60, 60)).IsRectEmpty());
  CRect inverted(5, 5, 1, 1);
  inverted.NormalizeRect();
  EXPECT_EQ(inverted, CRect(1, 1, 5, 5));
  EXPECT_EQ(CPoint(static_cast<LPARAM>(0xFFFE0003)), CPoint(3, -2));
  EXPECT_EQ(MulDiv(7, 3, 2), 11);
  EXPECT_EQ(MulDiv(-7, 3, 2), -11);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(MfcGdiTest, TemporaryWrappersOwnNothing) {
  HBRUSH raw = CreateSolidBrush(RGB(1, 2, 3));
  CBrush* temp = CBrush::FromHandle(raw);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(temp, CBrush::FromHandle(raw));
  EXPECT_EQ(static_cast<HBRUSH>(*temp), raw);
  EXPECT_EQ(GetObjectType(raw), OBJ_BRUSH);
  EXPECT_TRUE(DeleteObject(raw));
  HDC hdc = CreateCompatibleDC(nullptr);
  CDC* dc = CDC::FromHandle(hdc);
  EXPECT_EQ(dc->GetSafeHdc(), hdc);
  EXPECT_TRUE(DeleteDC(hdc));
}

}  // namespace

namespace {

TEST(MfcGdiTest, ImageListOwnsItsList) {
  size_t baseline = tavrin::gdi::LiveObjectCount();
  {
    CImageList list;
    ASSERT_TRUE(list.Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 4));
    CBitmap strip;
    strip.Attach(tavrin::gdi::CreateBitmapFromSurface(tavrin::draw::Surface(48, 16, 0x808080)));
    EXPECT_EQ(list.Add(&strip, RGB(255, 0, 255)), 0);
    EXPECT_EQ(list.GetImageCount(), 3);
    EXPECT_EQ(CImageList::FromHandle(list.m_hImageList)->GetImageCount(), 3);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

}  // namespace
