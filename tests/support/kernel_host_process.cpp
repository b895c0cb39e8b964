#include "testsupport/kernel_host_process.h"

#include "testsupport/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::test {

KernelHostProcess::KernelHostProcess(const std::string& program, const std::string& sysroot,
                                     const std::vector<std::string>& options) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv = {program, "--sysroot", sysroot};
  argv.insert(argv.end(), options.begin(), options.end());
  pid_ = StartChild(argv, ChildSetup().Dup(out[1], STDOUT_FILENO));
  close(out[1]);
  output_ = out[0];
}

KernelHostProcess::~KernelHostProcess() {
  Kill();
  if (output_ >= 0) close(output_);
}

bool KernelHostProcess::WaitReady(int milliseconds) {
  std::string line;
  while (line.find('\n') == std::string::npos) {
    pollfd p{output_, POLLIN, 0};
    if (poll(&p, 1, milliseconds) <= 0) return false;
    char buffer[256];
    ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) return false;
    line.append(buffer, static_cast<size_t>(n));
  }
  return line.rfind("kernel-host ready ", 0) == 0;
}

void KernelHostProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int KernelHostProcess::Terminate(int limitMs) {
  if (pid_ <= 0) return -1;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  kill(pid_, SIGTERM);
  bool ended = true;
  if (limitMs >= 0 && pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    ended = poll(&p, 1, limitMs) > 0;
    if (!ended) kill(pid_, SIGKILL);
  }
  if (pidfd >= 0) close(pidfd);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (!ended) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tavrin::test
