#include "base/classic_rand.h"

namespace tavrin::base {
namespace {
thread_local uint32_t g_state = 1;
}

int ClassicRand() {
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 0x7FFF);
}

void ClassicSrand(uint32_t seed) { g_state = seed; }

}  // namespace tavrin::base
