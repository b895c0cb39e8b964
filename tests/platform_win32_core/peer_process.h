// Starts the peer program (a second process of the test's sysroot) and reads its stdout line by line.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/eventually.h"

namespace tavrin::test {

class PeerProcess {
 public:
  explicit PeerProcess(std::vector<std::string> args) {
    args.insert(args.begin(), WIN32_CORE_PEER);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = StartChild(args, ChildSetup().Dup(fds[1], STDOUT_FILENO));
    close(fds[1]);
    out_ = fds[0];
  }
  ~PeerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The next line without its newline; "" on time-out or end of output.
  std::string ReadLine(int timeoutMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd fd{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[256];
      ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }

  // Reads lines until one equals `expected`; false when it does not come.
  bool WaitForLine(const std::string& expected, int timeoutMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      std::string line = ReadLine(static_cast<int>(left.count()));
      if (line == expected) return true;
      if (line.empty()) return false;
    }
    return false;
  }

  // The exit code, or -1 when the process is still running after `timeoutMs`.
  int Wait(int timeoutMs = 10000) {
    const std::optional<int> code = WaitForExit(pid_, std::chrono::milliseconds(timeoutMs));
    if (!code) return -1;
    pid_ = -1;
    return *code;
  }

  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace tavrin::test
