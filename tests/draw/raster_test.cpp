#include <gtest/gtest.h>

#include "draw/png.h"
#include "draw/raster.h"

namespace tavrin::draw {
namespace {

constexpr Pixel kInk = 0x123456;

std::vector<Point> Inked(const Surface& s) {
  std::vector<Point> out;
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x)
      if (s.at(x, y) == kInk) out.push_back({x, y});
  return out;
}

TEST(RasterTest, RectangleOutlineIsTheEdgePixels) {
  Surface s(8, 8, 0);
  LineStyle pen;
  pen.color = kInk;
  DrawRectangle(s, Region(s.bounds()), {1, 1, 6, 5}, &pen, nullptr);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool edge = (x == 1 || x == 5) && y >= 1 && y <= 4;
      edge = edge || ((y == 1 || y == 4) && x >= 1 && x <= 5);
      EXPECT_EQ(s.at(x, y) == kInk, edge) << x << "," << y;
    }
}

TEST(RasterTest, LinesLeaveOutTheirEndPointAndDashesCarryOn) {
  Surface s(10, 10, 0);
  LineStyle pen;
  pen.color = kInk;
  DrawLine(s, Region(s.bounds()), {2, 3}, {7, 3}, pen);
  std::vector<Point> inked = Inked(s);
  ASSERT_EQ(inked.size(), 5u);
  EXPECT_EQ(inked.front(), (Point{2, 3}));
  EXPECT_EQ(inked.back(), (Point{6, 3}));

  Surface t(10, 1, 0);
  pen.dashes = {1, 1};
  int phase = 0;
  DrawLine(t, Region(t.bounds()), {0, 0}, {3, 0}, pen, &phase);
  DrawLine(t, Region(t.bounds()), {3, 0}, {9, 0}, pen, &phase);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(t.at(x, 0) == kInk, x % 2 == 0) << x;
}

TEST(RasterTest, ClipLimitsEveryOperation) {
  Surface s(10, 10, 0), src(10, 10, kInk);
  Region clip({2, 2, 5, 5});
  FillRect(s, clip, {0, 0, 10, 10}, kInk);
  BitBlt(s, clip, {0, 0, 10, 10}, src, {0, 0}, rop3::kSrcCopy);
  EXPECT_EQ(Inked(s).size(), 9u);
}

TEST(RasterTest, OverlappingCopyWithinOneSurface) {
  Surface s(6, 1, 0);
  for (int x = 0; x < 6; ++x) s.set(x, 0, static_cast<Pixel>(x + 1));
  BitBlt(s, Region(s.bounds()), {1, 0, 6, 1}, s, {0, 0}, rop3::kSrcCopy);
  for (int x = 1; x < 6; ++x) EXPECT_EQ(s.at(x, 0), static_cast<Pixel>(x));
}

TEST(RasterTest, RopTableMatchesNamedOperations) {
  Pixel p = 0xF0F0F0, s = 0xCCCCCC, d = 0xAAAAAA;
  EXPECT_EQ(ApplyRop(0xC0, p, s, d), p & s);           // MERGECOPY
  EXPECT_EQ(ApplyRop(0xBB, p, s, d), ~s | d);          // MERGEPAINT
  EXPECT_EQ(ApplyRop(0x5A, p, s, d), p ^ d);           // PATINVERT
  EXPECT_EQ(ApplyRop(Rop3FromRop2(7), p, s, d), p ^ d);  // R2_XORPEN
  EXPECT_EQ(ApplyRop(Rop3FromRop2(6), p, s, d), ~d);     // R2_NOT
  EXPECT_EQ(ApplyRop(Rop3FromRop2(13), p, s, d), p);     // R2_COPYPEN
}

TEST(RasterTest, GradientEndsAreTheGivenColours) {
  Surface s(37, 5, 0);
  Color16 a{0x1200, 0x3400, 0x5600, 0}, b{0xFF00, 0x0000, 0x8000, 0};
  GradientRect(s, Region(s.bounds()), s.bounds(), a, b, false);
  EXPECT_EQ(s.at(0, 2), Rgb(0x12, 0x34, 0x56));
  EXPECT_EQ(s.at(36, 2), Rgb(0xFF, 0x00, 0x80));
  GradientRect(s, Region(s.bounds()), s.bounds(), a, b, true);
  EXPECT_EQ(s.at(10, 0), Rgb(0x12, 0x34, 0x56));
  EXPECT_EQ(s.at(10, 4), Rgb(0xFF, 0x00, 0x80));
}

TEST(RasterTest, AlphaBlendWithPremultipliedSource) {
  Surface dst(1, 1, Rgb(200, 100, 0)), src(1, 1, 0x80000000u | Rgb(50, 0, 0));  // 50% red 100, premultiplied
  AlphaBlend(dst, Region(dst.bounds()), {0, 0, 1, 1}, src, {0, 0, 1, 1}, 255, true);
  Pixel p = dst.at(0, 0);
  EXPECT_NEAR(RedOf(p), 50 + 200 * 127 / 255, 1);
  EXPECT_NEAR(GreenOf(p), 100 * 127 / 255, 1);
}

TEST(RasterTest, PngRoundTripAndDamagedInput) {
  Surface s(13, 7, 0);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) s.set(x, y, Rgb(x * 19, y * 31, (x * y) & 0xFF));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(EncodePng(s, bytes));
  auto back = DecodePng(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) EXPECT_EQ(back->at(x, y) & 0xFFFFFF, s.at(x, y));
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 2);
  EXPECT_FALSE(DecodePng(cut.data(), cut.size()));
  EXPECT_FALSE(DecodePng(bytes.data(), bytes.size(), 50));  // more pixels than allowed
}

}  // namespace
}  // namespace tavrin::draw
