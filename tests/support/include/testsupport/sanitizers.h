// Whether this build runs under a sanitizer (ASan or TSan), with either compiler: some limits a test
// sets on a process leave the sanitizers' runtime no room, and timings stretch many times over.
#pragma once
#include <chrono>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAVRIN_SANITIZED 1
#endif
#endif

namespace tavrin::test {
#ifdef TAVRIN_SANITIZED
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// How long a test waits for what it expects: under a sanitizer, on a busy computer, programs start and
// answer several times slower, so every bound on a wait stretches with the build.
template <class Rep, class Period>
constexpr std::chrono::milliseconds Patient(std::chrono::duration<Rep, Period> limit) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(limit) * (kSanitized ? 4 : 1);
}
}  // namespace tavrin::test
