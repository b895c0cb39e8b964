#include <gtest/gtest.h>

#include <random>

#include "draw/region.h"

namespace tavrin::draw {
namespace {

constexpr int kSize = 24;

using Mask = std::vector<bool>;

Mask MaskOf(const Region& r) {
  Mask m(kSize * kSize);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) m[y * kSize + x] = r.contains(x, y);
  return m;
}

Mask MaskOfRects(const std::vector<Rect>& rects) {
  Mask m(kSize * kSize);
  for (const Rect& r : rects)
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) m[y * kSize + x] = true;
  return m;
}

Rect RandomRect(std::mt19937& rng) {
  std::uniform_int_distribution<int> d(0, kSize);
  int a = d(rng), b = d(rng), c = d(rng), e = d(rng);
  return Rect{std::min(a, b), std::min(c, e), std::max(a, b), std::max(c, e)};
}

bool Apply(Region::Op op, bool a, bool b) {
  switch (op) {
    case Region::Op::kAnd: return a && b;
    case Region::Op::kOr: return a || b;
    case Region::Op::kXor: return a != b;
    case Region::Op::kDiff: return a && !b;
    case Region::Op::kCopy: return a;
  }
  return false;
}

// Every combine agrees with a per-pixel oracle, the rectangles it lists cover exactly its pixels, and the
// bands are canonical (equal sets compare equal whatever way they were built).
TEST(RegionTest, CombineAgreesWithMaskOracleOnRandomPairs) {
  std::mt19937 rng(12345);
  const Region::Op ops[] = {Region::Op::kAnd, Region::Op::kOr, Region::Op::kXor, Region::Op::kDiff};
  for (int i = 0; i < 1000; ++i) {
    // Each side is itself a small union so complex bands meet.
    Region a(RandomRect(rng)), b(RandomRect(rng));
    if (i % 2) a |= Region(RandomRect(rng));
    if (i % 3 == 0) b |= Region(RandomRect(rng));
    Mask ma = MaskOf(a), mb = MaskOf(b);
    for (Region::Op op : ops) {
      Region c = Region::Combine(a, b, op);
      Mask mc = MaskOf(c);
      for (int p = 0; p < kSize * kSize; ++p)
        ASSERT_EQ(mc[p], Apply(op, ma[p], mb[p])) << "pair " << i << " op " << static_cast<int>(op) << " pixel " << p;
      ASSERT_EQ(MaskOfRects(c.rects()), mc);
      for (size_t k = 1; k < c.bands().size(); ++k)
        ASSERT_FALSE(c.bands()[k - 1].bottom == c.bands()[k].top && c.bands()[k - 1].xs == c.bands()[k].xs);
    }
  }
}

TEST(RegionTest, EqualSetsHaveEqualBandsAndBounds) {
  Region a = Region::Combine(Region({0, 0, 10, 5}), Region({0, 5, 10, 10}), Region::Op::kOr);
  EXPECT_EQ(a, Region({0, 0, 10, 10}));
  EXPECT_TRUE(a.simple());
  Region hole = Region::Combine(Region({0, 0, 10, 10}), Region({3, 3, 6, 6}), Region::Op::kDiff);
  EXPECT_FALSE(hole.simple());
  EXPECT_EQ(hole.bounds(), (Rect{0, 0, 10, 10}));
  EXPECT_FALSE(hole.contains(4, 4));
  EXPECT_TRUE(hole.intersects({2, 2, 4, 4}));
  EXPECT_FALSE(hole.intersects({3, 3, 6, 6}));
  EXPECT_TRUE(Region::Combine(hole, hole, Region::Op::kXor).empty());
}

}  // namespace
}  // namespace tavrin::draw
