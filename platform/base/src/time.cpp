#include "base/time.h"

#include <time.h>
#include <unistd.h>

#include <atomic>

namespace tavrin::base::time {
namespace {
std::atomic<uint64_t> g_offset{0};
}

uint64_t Milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  return ms + g_offset.load();
}

void SetOffsetForTest(uint64_t offset) { g_offset = offset; }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(gettid());
  return id;
}

}  // namespace tavrin::base::time
