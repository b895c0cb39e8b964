// Waiting on what another process changes, where no event of ours tells when it happens.
#pragma once
#include <functional>

namespace tavrin::test {

// Polls the condition every 20 ms until it holds or `ms` milliseconds have gone; its last value.
bool Eventually(const std::function<bool()>& condition, int ms = 10000);

}  // namespace tavrin::test
