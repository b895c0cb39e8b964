#include "testsupport/xvfb.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace tavrin::test {

std::string XvfbServer::Find() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string path = std::string(dir) + "/Xvfb";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

bool XvfbServer::Start(const std::string& program, int firstDisplay) {
  // A display number of our own, free of lock files.
  for (int n = firstDisplay;; ++n) {
    if (!std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
      name_ = ":" + std::to_string(n);
      break;
    }
  }
  const char* argv[] = {program.c_str(), name_.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) pid_ = 0;
  return spawned == 0;
}

void XvfbServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

}  // namespace tavrin::test
