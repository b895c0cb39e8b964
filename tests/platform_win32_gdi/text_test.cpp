#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win32/gdi_hooks.h"

namespace {

// A white memory canvas with a font selected, black text; an owned font is deleted with the canvas.
struct TextCanvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap, oldFont;
  HFONT font;
  int w, h;
  bool ownsFont;
  TextCanvas(int width, int height, HFONT f, bool own = false) : font(f), w(width), h(height), ownsFont(own) {
    dc = CreateCompatibleDC(nullptr);
    bitmap = tavrin::gdi::CreateBitmapFromSurface(tavrin::draw::Surface(w, h, 0xFFFFFF));
    oldBitmap = SelectObject(dc, bitmap);
    oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
  }
  ~TextCanvas() {
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    if (ownsFont) {
      EXPECT_TRUE(DeleteObject(font));
    }
  }
  // The box of every non-white pixel; empty when none.
  RECT Ink() const {
    RECT r{w, h, 0, 0};
    const tavrin::draw::Surface& s = *tavrin::gdi::SurfaceOfDC(dc);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((s.at(x, y) & 0xFFFFFF) != 0xFFFFFF) {
          r.left = std::min<LONG>(r.left, x);
          r.top = std::min<LONG>(r.top, y);
          r.right = std::max<LONG>(r.right, x + 1);
          r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
    return r.right == 0 ? RECT{0, 0, 0, 0} : r;
  }
};

HFONT MakeFont(const char* face, int height, int weight, int escapement = 0) {
  return CreateFont(height, 0, escapement, escapement, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH, face);
}

TEST(TextTest, FaceNamesMapToTheDejaVuFiles) {
  HFONT tahoma = MakeFont("Tahoma", -12, 700);
  tavrin::draw::ResolvedFace f = tavrin::gdi::ResolvedFaceOf(tahoma);
  EXPECT_EQ(f.family, "DejaVu Sans");
  EXPECT_EQ(f.style, "Bold");
  HFONT courier = MakeFont("Courier New", -12, 400);
  EXPECT_EQ(tavrin::gdi::ResolvedFaceOf(courier).family, "DejaVu Sans Mono");
  HFONT semibold = MakeFont("MS Sans Serif", 0, 600);
  EXPECT_EQ(tavrin::gdi::ResolvedFaceOf(semibold).style, "Bold");
  HFONT arial = MakeFont("Arial", 16, 400);
  EXPECT_EQ(tavrin::gdi::ResolvedFaceOf(arial).style, "Book");

  // The DC reports what was asked for, with metrics of the real file.
  {
    TextCanvas c(10, 10, tahoma);
    char face[LF_FACESIZE];
    GetTextFace(c.dc, sizeof(face), face);
    EXPECT_STREQ(face, "Tahoma");
    TEXTMETRIC tm;
    ASSERT_TRUE(GetTextMetrics(c.dc, &tm));
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 12);
    EXPECT_EQ(tm.tmWeight, 700);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
    LOGFONT lf;
    ASSERT_EQ(GetObject(tahoma, sizeof(lf), &lf), static_cast<int>(sizeof(LOGFONT)));
    EXPECT_EQ(lf.lfHeight, -12);
  }
  for (HFONT f : {tahoma, courier, semibold, arial}) EXPECT_TRUE(DeleteObject(f));
}

TEST(TextTest, CalcRectBoundsEveryPixelDrawn) {
  HFONT font = MakeFont("Tahoma", -13, 400);
  const char* texts[] = {"Hello, World", "gjpqy |[]{} WAVE", "Several words that wrap over a few lines here",
                         "Tab\tand &prefix"};
  UINT formats[] = {DT_SINGLELINE, DT_WORDBREAK, DT_WORDBREAK | DT_CENTER, DT_SINGLELINE | DT_RIGHT | DT_EXPANDTABS,
                    DT_WORDBREAK | DT_EDITCONTROL};
  for (const char* text : texts)
    for (UINT format : formats) {
      TextCanvas c(220, 120, font);
      RECT r{10, 10, 110, 10};
      int height = DrawText(c.dc, text, -1, &r, format | DT_CALCRECT);
      ASSERT_GT(height, 0);
      EXPECT_EQ(r.bottom - r.top, height);
      DrawText(c.dc, text, -1, &r, format | DT_NOCLIP);
      RECT ink = c.Ink();
      ASSERT_FALSE(IsRectEmpty(&ink)) << text;
      EXPECT_GE(ink.left, r.left) << text << " " << format;
      EXPECT_GE(ink.top, r.top) << text << " " << format;
      EXPECT_LE(ink.right, r.right) << text << " " << format;
      EXPECT_LE(ink.bottom, r.bottom) << text << " " << format;
    }
  DeleteObject(font);
}

TEST(TextTest, EndEllipsisFitsAndModifiesTheBuffer) {
  HFONT font = MakeFont("Tahoma", -12, 700);
  TextCanvas c(200, 30, font, true);
  const char* original = "A caption far too long for its column";
  char buffer[64];
  std::strcpy(buffer, original);
  RECT r{0, 0, 80, 20};
  DrawText(c.dc, buffer, -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING);
  EXPECT_LE(r.right, 80);
  std::string shown = buffer;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.substr(shown.size() - 3), "...");
  EXPECT_EQ(std::string(original).rfind(shown.substr(0, shown.size() - 3), 0), 0u);
  SIZE size;
  GetTextExtentPoint32(c.dc, buffer, static_cast<int>(shown.size()), &size);
  EXPECT_LE(size.cx, 80);
  // Drawn into the narrow rectangle, nothing passes its right edge.
  RECT narrow{0, 0, 80, 20};
  std::strcpy(buffer, original);
  DrawText(c.dc, buffer, -1, &narrow, DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_STREQ(buffer, original);  // without DT_MODIFYSTRING the text is left alone
  EXPECT_LE(c.Ink().right, 80);
}

TEST(TextTest, EscapementNineHundredDrawsUpward) {
  HFONT font = MakeFont("Arial", 16, 700, 900);
  TextCanvas c(40, 200, font, true);
  SIZE size;
  GetTextExtentPoint32(c.dc, "Vertical", 8, &size);
  TextOut(c.dc, 5, 190, "Vertical", 8);
  RECT ink = c.Ink();
  ASSERT_FALSE(IsRectEmpty(&ink));
  // Taller than wide, above the reference point, to its right.
  EXPECT_GT(ink.bottom - ink.top, 2 * (ink.right - ink.left));
  EXPECT_LE(ink.bottom, 190);
  EXPECT_GE(ink.top, 190 - size.cx);
  EXPECT_GE(ink.left, 5);
  EXPECT_LE(ink.right, 5 + size.cy);
}

TEST(TextTest, DrawnSymbolFaceAndAlignment) {
  HFONT marlett = MakeFont("Marlett", -16, 400);
  EXPECT_EQ(tavrin::gdi::ResolvedFaceOf(marlett).family, "Marlett");
  TextCanvas c(20, 20, marlett, true);
  RECT r{0, 0, 20, 20};
  DrawText(c.dc, "r", 1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  RECT ink = c.Ink();
  EXPECT_FALSE(IsRectEmpty(&ink));  // the close glyph is drawn

  HFONT font = MakeFont("Tahoma", -12, 400);
  TextCanvas t(100, 30, font, true);
  SetTextAlign(t.dc, TA_RIGHT | TA_BOTTOM);
  TextOut(t.dc, 90, 25, "right", 5);
  RECT right = t.Ink();
  EXPECT_LE(right.right, 90);
  EXPECT_LE(right.bottom, 25);
}

TEST(TextTest, LiveObjectCountReturnsToBaseline) {
  size_t baseline = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bm = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ oldBm = SelectObject(mem, bm);
    HPEN pen = CreatePen(PS_DOT, 1, RGB(1, 1, 1));
    HBRUSH brush = CreateHatchBrush(HS_CROSS, RGB(2, 2, 2));
    HFONT font = MakeFont("Tahoma", -11, 400);
    HRGN rgn = CreateEllipticRgn(0, 0, 10, 10);
    HGDIOBJ oldPen = SelectObject(mem, pen), oldBrush = SelectObject(mem, brush), oldFont = SelectObject(mem, font);
    SelectClipRgn(mem, rgn);
    Ellipse(mem, 0, 0, 16, 16);
    TextOut(mem, 0, 0, "x", 1);
    RECT r{0, 0, 16, 16};
    DrawState(mem, nullptr, nullptr, reinterpret_cast<LPARAM>("ab"), 2, 0, 0, 0, 0, DST_TEXT | DSS_DISABLED);
    DrawText(mem, "&Menu", -1, &r, DT_SINGLELINE);
    SelectObject(mem, oldPen);
    SelectObject(mem, oldBrush);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBm);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(pen), static_cast<HGDIOBJ>(brush), static_cast<HGDIOBJ>(font),
                      static_cast<HGDIOBJ>(rgn), static_cast<HGDIOBJ>(bm)})
      ASSERT_TRUE(DeleteObject(o));
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_DC), 0u);
}

}  // namespace

namespace {

TEST(TextTest, WordBreakingEditControlAndPathEllipsis) {
  HFONT font = MakeFont("Tahoma", -12, 400);
  TextCanvas c(300, 200, font, true);
  TEXTMETRIC tm;
  GetTextMetrics(c.dc, &tm);
  // A word wider than the box overflows unless in the edit-control manner, which cuts it.
  const char* word = "Unbreakablewordthatislong";
  RECT plain{0, 0, 40, 0};
  EXPECT_EQ(DrawText(c.dc, word, -1, &plain, DT_WORDBREAK | DT_CALCRECT), tm.tmHeight);
  EXPECT_GT(plain.right, 40);
  RECT edit{0, 0, 40, 0};
  EXPECT_GT(DrawText(c.dc, word, -1, &edit, DT_WORDBREAK | DT_EDITCONTROL | DT_CALCRECT), tm.tmHeight);
  EXPECT_LE(edit.right, 40);
  // The edit-control manner shows no partly visible last line.
  RECT box{0, 0, 40, tm.tmHeight * 2 - 1};
  DrawText(c.dc, word, -1, &box, DT_WORDBREAK | DT_EDITCONTROL | DT_NOCLIP);
  EXPECT_LE(c.Ink().bottom, tm.tmHeight);

  char path[80] = "C:\\Program Files\\Tavrin\\Firmware\\image.bin";
  RECT narrow{0, 0, 120, 20};
  DrawText(c.dc, path, -1, &narrow, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_CALCRECT);
  std::string shown = path;
  EXPECT_NE(shown.find("..."), std::string::npos);
  EXPECT_EQ(shown.substr(shown.size() - 10), "\\image.bin");
  EXPECT_LE(narrow.right, 120);

  // Prefix characters: "&&" shows one ampersand, "&x" underlines x and is measured without the "&".
  SIZE plainSize;
  GetTextExtentPoint32(c.dc, "AB", 2, &plainSize);
  RECT prefix{0, 0, 200, 0};
  DrawText(c.dc, "A&B", -1, &prefix, DT_SINGLELINE | DT_CALCRECT);
  EXPECT_EQ(prefix.right, plainSize.cx);
  RECT literal{0, 0, 200, 0};
  DrawText(c.dc, "A&B", -1, &literal, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
  EXPECT_GT(literal.right, plainSize.cx);
}

}  // namespace

namespace {

// A list's column dragged to nothing leaves its cell's text rectangle inside out: clipped to it, the text
// shows nothing, not even its ellipsis spilling into the next column.
TEST(TextTest, ClippedTextInARectangleWithNoRoomShowsNothing) {
  HFONT font = MakeFont("Tahoma", -12, 400);
  TextCanvas c(200, 40, font, true);
  RECT inverted{104, 0, 96, 20};
  DrawText(c.dc, "0%", -1, &inverted, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  RECT none{100, 0, 100, 20};
  DrawText(c.dc, "0%", -1, &none, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  RECT ink = c.Ink();
  EXPECT_EQ(ink.right, 0) << "ink at " << ink.left << ".." << ink.right;
  DrawText(c.dc, "0%", -1, &none, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);  // unclipped, it shows
  EXPECT_GT(c.Ink().right, 100);
}

TEST(TextTest, EditControlEllipsisMarksTextCutOffBelow) {
  HFONT font = MakeFont("Tahoma", -12, 400);
  TextCanvas c(200, 100, font, true);
  TEXTMETRIC tm;
  GetTextMetrics(c.dc, &tm);
  char text[128] = "one two three four five six seven eight nine ten eleven twelve";
  RECT r{0, 0, 70, tm.tmHeight * 2};
  DrawText(c.dc, text, -1, &r, DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS | DT_NOCLIP);
  RECT ink = c.Ink();
  EXPECT_LE(ink.bottom, tm.tmHeight * 2);
  EXPECT_LE(ink.right, 70);
  // The second line differs from the same text without the ellipsis.
  tavrin::draw::Surface with = *tavrin::gdi::SurfaceOfDC(c.dc);
  RECT clear{0, 0, 200, 100};
  FillRect(c.dc, &clear, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawText(c.dc, text, -1, &r, DT_WORDBREAK | DT_EDITCONTROL | DT_NOCLIP);
  EXPECT_FALSE(with.SamePixels(*tavrin::gdi::SurfaceOfDC(c.dc)));
  // All of it fits: no ellipsis, the text drawn as it is.
  RECT all{0, 0, 200, 100};
  EXPECT_EQ(DrawText(c.dc, "one two", -1, &all, DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS | DT_CALCRECT),
            tm.tmHeight);
}

}  // namespace
