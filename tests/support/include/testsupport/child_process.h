// The processes a test starts (displays, kernel hosts, simulators, the programs under test). Every one
// of them is killed when the thread that started it ends, so that a test killed at its time-out, or one
// that crashes, leaves nothing running behind it. Start them from the test's own thread (or a thread
// that outlives them).
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrin::test {

// What is done in the child before its program runs: descriptors (in the order given) and environment.
class ChildSetup {
 public:
  // `path` opened as descriptor `fd`.
  ChildSetup& Open(int fd, std::string path, int flags, mode_t mode = 0644);
  // Descriptor `to` made a copy of `from` (also when they are the same, which keeps it across the exec).
  ChildSetup& Dup(int from, int to);
  ChildSetup& Close(int fd);
  // The test's environment with NAME set to `value`, or without NAME.
  ChildSetup& Set(const std::string& name, const std::string& value);
  ChildSetup& Unset(const std::string& name);
  // This environment instead of the test's (NAME=VALUE entries); Set and Unset then change it.
  ChildSetup& Environment(std::vector<std::string> entries);

  struct Action {
    enum Kind { kOpen, kDup, kClose } kind;
    int fd, other, flags;
    mode_t mode;
    std::string path;
  };
  const std::vector<Action>& actions() const { return actions_; }
  // The environment the child gets, in NAME=VALUE form.
  std::vector<std::string> environment() const;

 private:
  std::vector<Action> actions_;
  bool ownEnvironment_ = false;
  std::vector<std::string> environment_;
  std::vector<std::pair<std::string, std::string>> set_;
  std::vector<std::string> unset_;
};

// fork() whose child is killed when the calling thread ends: for a test that runs part of itself in a
// process of its own. In the child, only what is safe after the fork of a threaded process.
pid_t ForkChild();

// Starts the program at `argv[0]` (a path, not looked up) with `argv`: its pid, or -1 when it could not
// be started (missing, not executable, a descriptor that could not be opened).
pid_t StartChild(const std::vector<std::string>& argv, const ChildSetup& setup = {});

// Runs the program to its end: its exit code, 128 + the signal when a signal ended it, -1 when it could
// not start. With `output`, what it wrote on its standard output (and standard error where the setup
// makes that a copy of it).
int RunChild(const std::vector<std::string>& argv, const ChildSetup& setup = {}, std::string* output = nullptr);

// A command line run by /bin/sh the same way. The shell's own children are not killed with the test:
// a program that must not outlive it is started with "exec" as the command's last step.
int RunShell(const std::string& command, std::string* output = nullptr);

}  // namespace tavrin::test
