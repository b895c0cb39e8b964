// The processes a test starts: set up as asked, and gone with the test when it is killed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "testsupport/child_process.h"
#include "testsupport/sanitizers.h"

namespace {

using namespace std::chrono_literals;
using tavrin::test::ChildSetup;

// A test's time-out kills it with SIGKILL: the program it started goes too, although it would wait for
// its input forever.
TEST(ChildProcessTest, AProgramGoesWithTheKilledTestThatStartedIt) {
  int input[2], report[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  // The test-like parent: starts the program, says its pid and waits to be killed.
  const pid_t parent = tavrin::test::ForkChild();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    const pid_t program = tavrin::test::StartChild({"/bin/cat"}, ChildSetup().Dup(input[0], STDIN_FILENO));
    [[maybe_unused]] ssize_t written = write(report[1], &program, sizeof program);
    for (;;) pause();
  }
  close(input[0]);
  close(report[1]);
  pid_t program = -1;
  ASSERT_EQ(read(report[0], &program, sizeof program), static_cast<ssize_t>(sizeof program));
  close(report[0]);
  ASSERT_GT(program, 0);
  const int watch = static_cast<int>(syscall(SYS_pidfd_open, program, 0));
  ASSERT_GE(watch, 0);
  pollfd ended{watch, POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 0), 0) << "the program ended before its parent";

  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  EXPECT_EQ(poll(&ended, 1, static_cast<int>(tavrin::test::Patient(10s).count())), 1) << "the program outlived its parent";
  if (poll(&ended, 1, 0) == 0) kill(program, SIGKILL);
  close(watch);
  close(input[1]);
}

TEST(ChildProcessTest, ProgramsRunWithTheirDescriptorsAndEnvironment) {
  std::string output;
  setenv("GONE", "from the test", 1);
  EXPECT_EQ(tavrin::test::RunChild({"/bin/sh", "-c", "echo \"$GREETING $GONE\"; echo to-errors >&2; exit 3"},
                                   ChildSetup().Dup(STDOUT_FILENO, STDERR_FILENO).Set("GREETING", "hello").Unset("GONE"),
                                   &output),
            3);
  unsetenv("GONE");
  EXPECT_EQ(output, "hello \nto-errors\n");
  // Set after Unset, and a whole environment of its own.
  EXPECT_EQ(tavrin::test::RunChild({"/bin/sh", "-c", "echo \"$A$B\""},
                                   ChildSetup().Environment({"A=1", "B=2"}).Unset("A").Set("A", "3"), &output),
            0);
  EXPECT_EQ(output, "32\n");
  // A killed program reports its signal; one that cannot start, -1.
  EXPECT_EQ(tavrin::test::RunShell("kill -9 $$"), 128 + SIGKILL);
  EXPECT_EQ(tavrin::test::StartChild({"/nonexistent/program"}), -1);
  EXPECT_EQ(tavrin::test::RunChild({"/bin/true"}, ChildSetup().Open(STDIN_FILENO, "/nonexistent/input", O_RDONLY)), -1);
}

}  // namespace
