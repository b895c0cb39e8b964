// Waiting for what another thread or process changes, where no event of ours tells when it happens.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace tavrin::test {

// Polls the condition (every millisecond at first, then less often) until it holds or `limit` (stretched
// in sanitizer builds) has gone; its last value. A wait that ends at the event is long, since a busy
// computer is slow; a check that nothing happens within a time passes a short limit and expects false.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

// The calling thread's id in the kernel, which a thread under test publishes for EventuallyBlocked.
pid_t KernelThreadId();

// Waits until the thread whose id `tid` holds (0 until it is published) sleeps in the kernel, as it does
// inside a blocking wait, receive or poll: the test then acts only once that thread is in the call it
// tests, instead of guessing how long it takes to get there. False after `limit`.
bool EventuallyBlocked(const std::atomic<pid_t>& tid, std::chrono::milliseconds limit = std::chrono::seconds(30));

// Waits for the child process `pid` to end, at most `limit`, and reaps it: its exit code (128 + the signal
// when a signal ended it), or nullopt while it still runs.
std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds limit);

}  // namespace tavrin::test
