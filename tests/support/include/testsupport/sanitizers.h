// Whether this build runs under a sanitizer (ASan or TSan), with either compiler: some limits a test
// sets on a process leave the sanitizers' runtime no room, and timings stretch many times over.
#pragma once

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
}  // namespace tavrin::test
