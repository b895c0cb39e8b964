// Clocks and ids of the process and its threads.
#pragma once
#include <cstdint>

namespace tavrin::base::time {

// Milliseconds since an arbitrary start (the monotonic clock), plus the offset set for tests.
uint64_t Milliseconds();
// Adds `offset` to Milliseconds of this process, so that tests can run code across a 32-bit wrap-around.
void SetOffsetForTest(uint64_t offset);

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();

}  // namespace tavrin::base::time
