#include "testsupport/eventually.h"

#include <chrono>
#include <thread>

namespace tavrin::test {

bool Eventually(const std::function<bool()>& condition, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

}  // namespace tavrin::test
