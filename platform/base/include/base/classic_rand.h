// The small linear congruential generator of the classic C runtimes: 15-bit results (0..0x7FFF), seed 1
// until seeded, one sequence per thread. Pictures textured with it come out the same on every run.
#pragma once
#include <cstdint>

namespace tavrin::base {

constexpr int kClassicRandMax = 0x7FFF;
int ClassicRand();
void ClassicSrand(uint32_t seed);

}  // namespace tavrin::base
