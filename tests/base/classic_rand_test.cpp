#include <gtest/gtest.h>

#include "base/classic_rand.h"

namespace tavrin::base {
namespace {

TEST(ClassicRandTest, FifteenBitRepeatableSequence) {
  ClassicSrand(1);
  // The classic generator's first values from seed 1.
  EXPECT_EQ(ClassicRand(), 41);
  EXPECT_EQ(ClassicRand(), 18467);
  EXPECT_EQ(ClassicRand(), 6334);
  for (int i = 0; i < 1000; ++i) {
    int v = ClassicRand();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, kClassicRandMax);
  }
}

}  // namespace
}  // namespace tavrin::base
