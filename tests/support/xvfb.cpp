#include "testsupport/xvfb.h"

#include "testsupport/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::test {

std::string XvfbServer::Find() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string path = std::string(dir) + "/Xvfb";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

bool XvfbServer::Start(const std::string& program) {
  // The server takes the first free display (no race between two tests choosing the same number) and
  // writes its number to this pipe once it accepts connections.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  const int childFd = ready[1] == 3 ? 4 : 3;
  const std::string childFdText = std::to_string(childFd);
  pid_ = StartChild({program, "-displayfd", childFdText, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                    ChildSetup()
                        .Open(STDOUT_FILENO, "/dev/null", O_WRONLY)
                        .Open(STDERR_FILENO, "/dev/null", O_WRONLY)
                        .Dup(ready[1], childFd));
  close(ready[1]);
  if (pid_ < 0) {
    pid_ = 0;
    close(ready[0]);
    return false;
  }
  std::string number;
  while (number.find('\n') == std::string::npos) {
    pollfd p{ready[0], POLLIN, 0};
    char buffer[16];
    if (poll(&p, 1, 20000) <= 0) break;
    const ssize_t n = read(ready[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  close(ready[0]);
  if (number.find('\n') == std::string::npos) {
    Stop();
    return false;
  }
  name_ = ":" + number.substr(0, number.find('\n'));
  return true;
}

void XvfbServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

}  // namespace tavrin::test
