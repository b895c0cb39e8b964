#include "testsupport/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

extern char** environ;

namespace tavrin::test {

ChildSetup& ChildSetup::Open(int fd, std::string path, int flags, mode_t mode) {
  actions_.push_back({Action::kOpen, fd, -1, flags, mode, std::move(path)});
  return *this;
}

ChildSetup& ChildSetup::Dup(int from, int to) {
  actions_.push_back({Action::kDup, to, from, 0, 0, {}});
  return *this;
}

ChildSetup& ChildSetup::Close(int fd) {
  actions_.push_back({Action::kClose, fd, -1, 0, 0, {}});
  return *this;
}

ChildSetup& ChildSetup::Set(const std::string& name, const std::string& value) {
  std::erase(unset_, name);
  set_.emplace_back(name, value);
  return *this;
}

ChildSetup& ChildSetup::Unset(const std::string& name) {
  std::erase_if(set_, [&](const auto& entry) { return entry.first == name; });
  unset_.push_back(name);
  return *this;
}

ChildSetup& ChildSetup::Environment(std::vector<std::string> entries) {
  ownEnvironment_ = true;
  environment_ = std::move(entries);
  return *this;
}

std::vector<std::string> ChildSetup::environment() const {
  std::vector<std::string> entries = environment_;
  if (!ownEnvironment_)
    for (char** e = environ; *e; ++e) entries.emplace_back(*e);
  const auto named = [](const std::string& entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
  };
  for (const std::string& name : unset_)
    std::erase_if(entries, [&](const std::string& entry) { return named(entry, name); });
  for (const auto& [name, value] : set_) {
    std::erase_if(entries, [&](const std::string& entry) { return named(entry, name); });
    entries.push_back(name + "=" + value);
  }
  return entries;
}

namespace {

// Runs in the forked child, where only calls that are safe after a fork of a threaded process may be
// made: everything it needs was prepared before the fork. Reports errno on `report` when it fails.
[[noreturn]] void BecomeChild(int report, const std::vector<ChildSetup::Action>& actions, char* const* argv,
                              char* const* envp) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (const ChildSetup::Action& action : actions) {
    bool done = true;
    switch (action.kind) {
      case ChildSetup::Action::kOpen: {
        const int fd = open(action.path.c_str(), action.flags, action.mode);
        if (fd < 0) {
          done = false;
        } else if (fd != action.fd) {
          done = dup2(fd, action.fd) == action.fd;
          close(fd);
        }
        break;
      }
      case ChildSetup::Action::kDup:
        if (action.other == action.fd) done = fcntl(action.fd, F_SETFD, 0) == 0;
        else done = dup2(action.other, action.fd) == action.fd;
        break;
      case ChildSetup::Action::kClose:
        close(action.fd);
        break;
    }
    if (!done) {
      const int error = errno;
      [[maybe_unused]] ssize_t written = write(report, &error, sizeof error);
      _exit(127);
    }
  }
  execve(argv[0], argv, envp);
  const int error = errno;
  [[maybe_unused]] ssize_t written = write(report, &error, sizeof error);
  _exit(127);
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

pid_t ForkChild() {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // SIGKILL once the starting thread ends; a parent that ended before this call was never seen.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
  }
  return pid;
}

pid_t StartChild(const std::vector<std::string>& argv, const ChildSetup& setup) {
  if (argv.empty()) return -1;
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = setup.environment();
  const std::vector<char*> argp = Pointers(arguments);
  const std::vector<char*> envp = Pointers(environment);
  // The child writes why it failed to this pipe; its end closes unread at a successful exec.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ForkChild();
  if (pid == 0) BecomeChild(report[1], setup.actions(), argp.data(), envp.data());
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    return -1;
  }
  int error = 0;
  ssize_t got;
  do got = read(report[0], &error, sizeof error);
  while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got > 0) {
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

int RunChild(const std::vector<std::string>& argv, const ChildSetup& setup, std::string* output) {
  int out[2] = {-1, -1};
  ChildSetup withOutput;
  if (output) {
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    withOutput.Dup(out[1], STDOUT_FILENO);
  }
  for (const ChildSetup::Action& action : setup.actions()) {
    switch (action.kind) {
      case ChildSetup::Action::kOpen: withOutput.Open(action.fd, action.path, action.flags, action.mode); break;
      case ChildSetup::Action::kDup: withOutput.Dup(action.other, action.fd); break;
      case ChildSetup::Action::kClose: withOutput.Close(action.fd); break;
    }
  }
  withOutput.Environment(setup.environment());
  const pid_t pid = StartChild(argv, withOutput);
  if (output) {
    close(out[1]);
    output->clear();
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n > 0) output->append(buffer, static_cast<size_t>(n));
      else if (n == 0 || errno != EINTR) break;
    }
    close(out[0]);
  }
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunShell(const std::string& command, std::string* output) {
  return RunChild({"/bin/sh", "-c", command}, {}, output);
}

}  // namespace tavrin::test
