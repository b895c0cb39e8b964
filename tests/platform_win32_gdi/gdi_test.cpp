#include <gtest/gtest.h>

#include <cstring>

#include "win32/builtin_modules.h"
#include "win32/gdi_hooks.h"

namespace {

// A memory DC with a w x h colour bitmap, white, released at the end.
struct Canvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  Canvas(int w, int h) {
    dc = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    bitmap = CreateCompatibleBitmap(screen, w, h);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, w, h, WHITENESS);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
};

TEST(GdiTest, RectangleSetsExactlyTheOutline) {
  Canvas c(8, 8);
  SelectObject(c.dc, GetStockObject(NULL_BRUSH));
  ASSERT_TRUE(Rectangle(c.dc, 1, 1, 6, 5));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool outline = ((x == 1 || x == 5) && y >= 1 && y <= 4) || ((y == 1 || y == 4) && x >= 1 && x <= 5);
      EXPECT_EQ(c.at(x, y) == 0, outline) << x << "," << y;
    }
}

TEST(GdiTest, RectangleWithoutPenFillsOneLessOnTheFarSides) {
  Canvas c(8, 8);
  SelectObject(c.dc, GetStockObject(NULL_PEN));
  SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
  Rectangle(c.dc, 1, 1, 6, 5);
  int black = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) black += c.at(x, y) == 0;
  EXPECT_EQ(black, 4 * 3);
  EXPECT_EQ(c.at(4, 3), 0u);
  EXPECT_NE(c.at(5, 3), 0u);
}

TEST(GdiTest, LineToOmitsItsEndPointAndMovesThePosition) {
  Canvas c(10, 10);
  MoveToEx(c.dc, 1, 2, nullptr);
  LineTo(c.dc, 8, 2);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(c.at(x, 2) == 0, x >= 1 && x <= 7) << x;
  POINT p;
  GetCurrentPositionEx(c.dc, &p);
  EXPECT_EQ(p.x, 8);
  // A vertical run too, and the viewport origin moves it.
  SetViewportOrgEx(c.dc, 1, 0, nullptr);
  MoveToEx(c.dc, 0, 4, nullptr);
  LineTo(c.dc, 0, 8);
  for (int y = 3; y < 10; ++y) EXPECT_EQ(c.at(0, y) == 0, y >= 4 && y <= 7) << y;
}

TEST(GdiTest, AlternatePenDrawsEveryOtherPixel) {
  Canvas c(20, 3);
  LOGBRUSH lb{BS_SOLID, RGB(0, 0, 0), 0};
  HPEN pen = ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &lb, 0, nullptr);
  ASSERT_NE(pen, nullptr);
  HGDIOBJ old = SelectObject(c.dc, pen);
  SetBkMode(c.dc, TRANSPARENT);
  MoveToEx(c.dc, 0, 1, nullptr);
  LineTo(c.dc, 20, 1);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(c.at(x, 1) == 0, x % 2 == 0) << x;
  SelectObject(c.dc, old);
  EXPECT_TRUE(DeleteObject(pen));
  // Only cosmetic one-pixel pens take the alternate style.
  EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_ALTERNATE, 1, &lb, 0, nullptr), nullptr);
  EXPECT_EQ(ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 2, &lb, 0, nullptr), nullptr);
}

TEST(GdiTest, DrawFocusRectTwiceRestoresEveryPixel) {
  Canvas c(30, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) SetPixel(c.dc, x, y, RGB(x * 8, y * 12, (x * y) & 0xFF));
  auto before = *tavrin::gdi::SurfaceOfDC(c.dc);
  RECT r{3, 2, 25, 17};
  DrawFocusRect(c.dc, &r);
  EXPECT_FALSE(before.SamePixels(*tavrin::gdi::SurfaceOfDC(c.dc)));
  DrawFocusRect(c.dc, &r);
  EXPECT_TRUE(before.SamePixels(*tavrin::gdi::SurfaceOfDC(c.dc)));
}

TEST(GdiTest, BottomUpEightBitDibPutsItsFirstRowAtTheBottom) {
  Canvas c(4, 3);
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
  } info{};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = 4;
  info.h.biHeight = 3;  // bottom-up
  info.h.biPlanes = 1;
  info.h.biBitCount = 8;
  info.colors[1] = {0, 0, 255, 0};  // red
  info.colors[2] = {255, 0, 0, 0};  // blue
  uint8_t bits[3][4] = {{1, 1, 1, 1}, {0, 0, 0, 0}, {2, 2, 2, 2}};  // rows of 4 bytes need no padding
  ASSERT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 4, 3, 0, 0, 0, 3, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 3);
  EXPECT_EQ(c.at(0, 2), RGB(255, 0, 0));  // first row in memory: the bottom
  EXPECT_EQ(c.at(0, 0), RGB(0, 0, 255));
  // Top-down: the same rows the other way.
  info.h.biHeight = -3;
  SetDIBitsToDevice(c.dc, 0, 0, 4, 3, 0, 0, 0, 3, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  EXPECT_EQ(c.at(0, 0), RGB(255, 0, 0));
}

TEST(GdiTest, DibSectionBitsAndDrawingStayInStep) {
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[2];
  } info{};
  info.h = {sizeof(BITMAPINFOHEADER), 16, 2, 1, 1, BI_RGB, 0, 0, 0, 0, 0};
  info.colors[0] = {0, 0, 0, 0};
  info.colors[1] = {255, 255, 255, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  auto* b = static_cast<uint8_t*>(bits);
  b[0] = 0x80;  // bottom row (memory row 0), x = 0 white
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
  SetPixel(dc, 15, 0, RGB(250, 250, 250));  // top row = memory row 1, nearest table colour white
  EXPECT_EQ(b[4 + 1] & 1, 1);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(dib);

  // 32 bits: the drawing lands in the caller's bits directly, bottom-up.
  info.h.biBitCount = 32;
  HBITMAP dib32 = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  dc = CreateCompatibleDC(nullptr);
  old = SelectObject(dc, dib32);
  SetPixel(dc, 2, 0, RGB(1, 2, 3));
  EXPECT_EQ(static_cast<uint32_t*>(bits)[16 + 2] & 0xFFFFFF, 0x010203u);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(dib32);
}

TEST(GdiTest, CombineRgnKindsAndSelectedObjectsSurviveDeletion) {
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(5, 5, 15, 15), c = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(c, a, b, RGN_AND), SIMPLEREGION);
  RECT box;
  GetRgnBox(c, &box);
  EXPECT_EQ(box.left, 5);
  EXPECT_EQ(box.right, 10);
  EXPECT_EQ(CombineRgn(c, a, b, RGN_OR), COMPLEXREGION);
  EXPECT_EQ(CombineRgn(c, a, a, RGN_DIFF), NULLREGION);
  EXPECT_EQ(CombineRgn(c, a, nullptr, RGN_AND), ERROR);
  for (HRGN r : {a, b, c}) EXPECT_TRUE(DeleteObject(r));

  Canvas canvas(4, 4);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  HGDIOBJ old = SelectObject(canvas.dc, brush);
  EXPECT_FALSE(DeleteObject(brush));  // still selected: kept
  EXPECT_EQ(GetObjectType(brush), OBJ_BRUSH);
  SelectObject(canvas.dc, old);
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_EQ(GetObjectType(brush), 0u);
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), OBJ_BRUSH);
}

TEST(GdiTest, ClipRegionLimitsDrawing) {
  Canvas c(10, 10);
  HRGN clip = CreateRectRgn(2, 2, 4, 4);
  SelectClipRgn(c.dc, clip);
  DeleteObject(clip);  // the DC keeps its own copy
  PatBlt(c.dc, 0, 0, 10, 10, BLACKNESS);
  RECT box;
  EXPECT_EQ(GetClipBox(c.dc, &box), SIMPLEREGION);
  EXPECT_EQ(box.right, 4);
  SelectClipRgn(c.dc, nullptr);
  int black = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) black += c.at(x, y) == 0;
  EXPECT_EQ(black, 4);
  ExcludeClipRect(c.dc, 0, 0, 5, 10);
  PatBlt(c.dc, 0, 0, 10, 10, BLACKNESS);
  EXPECT_NE(c.at(4, 0), 0u);
  EXPECT_EQ(c.at(5, 0), 0u);
}

TEST(GdiTest, MonochromeBlitsUseTheTextAndBackgroundColours) {
  HBITMAP mono = CreateBitmap(2, 1, 1, 1, nullptr);
  HDC mdc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldMono = SelectObject(mdc, mono);
  SetPixel(mdc, 1, 0, RGB(255, 255, 255));
  Canvas c(2, 1);
  SetTextColor(c.dc, RGB(255, 0, 0));
  SetBkColor(c.dc, RGB(0, 0, 255));
  BitBlt(c.dc, 0, 0, 2, 1, mdc, 0, 0, SRCCOPY);
  EXPECT_EQ(c.at(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(c.at(1, 0), RGB(0, 0, 255));
  // Colour to mono: the source's background colour turns white.
  SetBkColor(c.dc, RGB(255, 0, 0));
  BitBlt(mdc, 0, 0, 2, 1, c.dc, 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(mdc, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(mdc, 1, 0), RGB(0, 0, 0));
  // A bitmap compatible with a fresh memory DC is monochrome, as on the real system.
  HDC fresh = CreateCompatibleDC(nullptr);
  HBITMAP b = CreateCompatibleBitmap(fresh, 3, 3);
  BITMAP bm;
  GetObject(b, sizeof(bm), &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  DeleteObject(b);
  DeleteDC(fresh);
  SelectObject(mdc, oldMono);
  DeleteDC(mdc);
  DeleteObject(mono);
}

TEST(GdiTest, GradientFillEndsAndBuiltInLibrary) {
  Canvas c(50, 4);
  TRIVERTEX v[2] = {{0, 0, 0xFF00, 0x0000, 0x0000, 0}, {50, 4, 0x0000, 0x0000, 0xFF00, 0}};
  GRADIENT_RECT g{0, 1};
  using Fill = BOOL (*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
  auto fill = reinterpret_cast<Fill>(tavrin::modules::BuiltinExport("C:\\WINDOWS\\system32\\Msimg32.dll", "GradientFill"));
  ASSERT_NE(fill, nullptr);
  EXPECT_TRUE(fill(c.dc, v, 2, &g, 1, GRADIENT_FILL_RECT_H));
  EXPECT_EQ(c.at(0, 1), RGB(255, 0, 0));
  EXPECT_EQ(c.at(49, 1), RGB(0, 0, 255));
  GRADIENT_RECT bad{0, 7};
  EXPECT_FALSE(GradientFill(c.dc, v, 2, &bad, 1, GRADIENT_FILL_RECT_H));

  tavrin::modules::SetBuiltinModuleEnabled("msimg32.dll", false);
  EXPECT_FALSE(tavrin::modules::IsBuiltinModule("msimg32"));
  EXPECT_EQ(tavrin::modules::BuiltinExport("msimg32", "GradientFill"), nullptr);
  tavrin::modules::SetBuiltinModuleEnabled("msimg32.dll", true);
  EXPECT_TRUE(tavrin::modules::IsBuiltinModule("UxTheme.DLL"));
  EXPECT_NE(tavrin::modules::BuiltinExport("uxtheme", "IsThemeActive"), nullptr);
  EXPECT_EQ(tavrin::modules::BuiltinExport("uxtheme", "NoSuchExport"), nullptr);
  EXPECT_FALSE(tavrin::modules::IsBuiltinModule("kernel32.dll"));
}

TEST(GdiTest, IconsDrawThroughTheirMaskAndGiveTheirParts) {
  HBITMAP mask = CreateBitmap(4, 4, 1, 1, nullptr);
  HBITMAP color = tavrin::gdi::CreateBitmapFromSurface(tavrin::draw::Surface(4, 4, 0x00FF00));
  {
    HDC m = CreateCompatibleDC(nullptr);
    HGDIOBJ o = SelectObject(m, mask);
    PatBlt(m, 0, 0, 4, 4, BLACKNESS);
    SetPixel(m, 0, 0, RGB(255, 255, 255));  // transparent corner
    SelectObject(m, o);
    DeleteDC(m);
  }
  ICONINFO ii{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&ii);
  ASSERT_NE(icon, nullptr);
  DeleteObject(mask);
  DeleteObject(color);
  Canvas c(6, 6);
  PatBlt(c.dc, 0, 0, 6, 6, BLACKNESS);
  SetPixel(c.dc, 1, 1, RGB(10, 20, 30));
  // The transparent pixel keeps the destination; the corner's colour is black in a well-formed icon, but
  // ours is green there, so the XOR shows it: destination XOR colour.
  ASSERT_TRUE(DrawIconEx(c.dc, 1, 1, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.at(1, 1), RGB(10, 20, 30) ^ RGB(0, 255, 0));
  EXPECT_EQ(c.at(2, 2), RGB(0, 255, 0));
  ICONINFO out{};
  ASSERT_TRUE(GetIconInfo(icon, &out));
  EXPECT_EQ(out.xHotspot, 2u);
  EXPECT_EQ(out.yHotspot, 2u);
  ASSERT_NE(out.hbmColor, nullptr);
  DeleteObject(out.hbmMask);
  DeleteObject(out.hbmColor);
  EXPECT_TRUE(DestroyIcon(icon));
}

TEST(GdiTest, DrawEdgeColoursAndAdjust) {
  Canvas c(10, 10);
  RECT r{0, 0, 10, 10};
  ASSERT_TRUE(DrawEdge(c.dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST));
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.bottom, 8);
  EXPECT_EQ(c.at(0, 0), GetSysColor(COLOR_3DSHADOW));
  EXPECT_EQ(c.at(9, 9), GetSysColor(COLOR_3DHILIGHT));
  EXPECT_EQ(c.at(9, 0), GetSysColor(COLOR_3DHILIGHT));  // the far corner belongs to the right side
  EXPECT_EQ(c.at(1, 1), GetSysColor(COLOR_3DDKSHADOW));
}

TEST(GdiTest, SystemColoursBrushesAndParameters) {
  HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
  INT index = COLOR_BTNFACE;
  COLORREF old = GetSysColor(COLOR_BTNFACE), changed = RGB(1, 2, 3);
  int told = 0;
  tavrin::gdi::SetSysColorChangeListener([&] { ++told; });
  SetSysColors(1, &index, &changed);
  LOGBRUSH lb;
  GetObject(face, sizeof(lb), &lb);
  EXPECT_EQ(lb.lbColor, changed);
  EXPECT_EQ(told, 1);
  SetSysColors(1, &index, &old);
  tavrin::gdi::SetSysColorChangeListener({});
  EXPECT_FALSE(DeleteObject(face) && GetObjectType(face) == 0);

  NONCLIENTMETRICS ncm{};
  ncm.cbSize = sizeof(ncm);
  ASSERT_TRUE(SystemParametersInfo(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0));
  EXPECT_GT(ncm.lfMenuFont.lfHeight != 0, 0);
  ncm.cbSize = 4;
  EXPECT_FALSE(SystemParametersInfo(SPI_GETNONCLIENTMETRICS, 0, &ncm, 0));
  HIGHCONTRAST hc{sizeof(hc), 0, nullptr};
  ASSERT_TRUE(SystemParametersInfo(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0));
  EXPECT_FALSE(hc.dwFlags & HCF_HIGHCONTRASTON);
  BOOL flat = TRUE;
  SystemParametersInfo(SPI_SETFLATMENU, 0, nullptr, 0);
  ASSERT_TRUE(SystemParametersInfo(SPI_GETFLATMENU, 0, &flat, 0));
  EXPECT_FALSE(flat);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), GetDeviceCaps(screen, HORZRES));
  ReleaseDC(nullptr, screen);
}

}  // namespace

namespace {

TEST(GdiTest, FourAndTwentyFourBitDibsAndGetDIBits) {
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[16];
  } info{};
  info.h = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 4, BI_RGB, 0, 0, 0, 0, 0};  // top-down
  info.colors[5] = {0, 255, 0, 0};
  info.colors[10] = {255, 0, 0, 0};
  uint8_t bits[2][4] = {{0x5A, 0x50, 0, 0}, {0xA0, 0x00, 0, 0}};  // rows padded to 4 bytes
  Canvas c(3, 2);
  ASSERT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 3, 2, 0, 0, 0, 2, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 2);
  EXPECT_EQ(c.at(0, 0), RGB(0, 255, 0));
  EXPECT_EQ(c.at(1, 0), RGB(0, 0, 255));
  EXPECT_EQ(c.at(2, 0), RGB(0, 255, 0));
  EXPECT_EQ(c.at(0, 1), RGB(0, 0, 255));
  EXPECT_EQ(c.at(1, 1), RGB(0, 0, 0));

  // A 24-bit top-down section: drawing writes B, G, R bytes into the caller's rows.
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* raw = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &raw, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  SetPixel(dc, 1, 1, RGB(10, 20, 30));
  auto* p = static_cast<uint8_t*>(raw);
  EXPECT_EQ(p[8 + 3], 30);  // row 1 starts at byte 8 (6 bytes padded to 8), pixel 1 at +3: blue first
  EXPECT_EQ(p[8 + 5], 10);
  DIBSECTION ds{};
  ASSERT_EQ(GetObject(dib, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 8);
  EXPECT_EQ(ds.dsBm.bmBits, raw);
  SelectObject(dc, old);

  // Read back as 32-bit bottom-up rows.
  BITMAPINFO out{};
  out.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  uint32_t pixels[4] = {};
  EXPECT_EQ(GetDIBits(dc, dib, 0, 2, pixels, &out, DIB_RGB_COLORS), 2);
  EXPECT_EQ(pixels[1] & 0xFFFFFF, 0x0A141Eu);  // bottom row first: (1, 1)
  DeleteDC(dc);
  DeleteObject(dib);
}

TEST(GdiTest, DottedPenFillsItsGapsWhenOpaque) {
  Canvas c(12, 1);
  HPEN dot = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
  HGDIOBJ old = SelectObject(c.dc, dot);
  SetBkColor(c.dc, RGB(255, 0, 0));
  MoveToEx(c.dc, 0, 0, nullptr);
  LineTo(c.dc, 12, 0);
  for (int x = 0; x < 12; ++x) EXPECT_EQ(c.at(x, 0), (x / 3) % 2 ? RGB(255, 0, 0) : RGB(0, 0, 0)) << x;
  SetBkMode(c.dc, TRANSPARENT);
  PatBlt(c.dc, 0, 0, 12, 1, WHITENESS);
  MoveToEx(c.dc, 0, 0, nullptr);
  LineTo(c.dc, 12, 0);
  EXPECT_EQ(c.at(4, 0), RGB(255, 255, 255));
  SelectObject(c.dc, old);
  DeleteObject(dot);
}

}  // namespace

namespace {

TEST(GdiTest, SixteenBitSectionsKeepTheirChannelMasks) {
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
  } info{{sizeof(BITMAPINFOHEADER), 2, 1, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0}, {0xF800, 0x07E0, 0x001F}};
  void* raw = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &raw, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  SetPixel(dc, 0, 0, RGB(255, 0, 0));
  SetPixel(dc, 1, 0, RGB(0, 255, 0));
  auto* words = static_cast<uint16_t*>(raw);
  EXPECT_EQ(words[0], 0xF800);
  EXPECT_EQ(words[1], 0x07E0);
  words[0] = 0x001F;  // the caller writes blue
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 255));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(dib);
  info.masks[1] = 0;
  EXPECT_EQ(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &raw, nullptr, 0), nullptr);
}

}  // namespace
