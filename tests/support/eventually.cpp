#include "testsupport/eventually.h"
#include "testsupport/sanitizers.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace tavrin::test {

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + Patient(limit);
  std::chrono::milliseconds pause(1);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  return condition();
}

pid_t KernelThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

namespace {

// The state letter of a thread of this process ('S' or 'D' while it sleeps in the kernel), or 0.
char ThreadState(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : 0;
}

}  // namespace

bool EventuallyBlocked(const std::atomic<pid_t>& tid, std::chrono::milliseconds limit) {
  return Eventually(
      [&] {
        const pid_t id = tid.load();
        if (id == 0) return false;
        const char state = ThreadState(id);
        return state == 'S' || state == 'D';
      },
      limit);
}

std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  int status = 0;
  auto reaped = [&] { return waitpid(pid, &status, WNOHANG) == pid; };
  bool ended = false;
  // A process descriptor becomes readable when the process ends; without one (an old kernel), poll.
  const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (descriptor >= 0) {
    pollfd p{descriptor, POLLIN, 0};
    int ready;
    do ready = poll(&p, 1, static_cast<int>(limit.count()));
    while (ready < 0 && errno == EINTR);
    ended = ready > 0 && reaped();
    close(descriptor);
  } else {
    ended = Eventually(reaped, limit);
  }
  if (!ended) return std::nullopt;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tavrin::test
