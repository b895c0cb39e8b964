// What the tests of the installed programs share: the install medium, running the programs as a user
// does, and finding and watching the TavrinAdmin that setup started.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport/child_process.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"

namespace installed {

namespace fs = std::filesystem;

// A program's exit status (128 + the signal when a signal ended it) from its command line (a program and
// its arguments, which the shell takes apart); its error output is dropped unless asked for.
inline int RunCommand(const std::string& command, bool showErrors = false) {
  return tavrin::test::RunShell("exec " + (showErrors ? command : command + " 2>/dev/null"));
}

// The install medium under D:\Setup\ of the sysroot.
// Why a file could not be staged (a full disk, say) is shown with the test's failure.
inline int StageMedia() {
  return RunCommand(std::string("'") + TAVRIN_CTL_PROGRAM + "' stage-media 'D:\\Setup\\'", true);
}

// TavrinSetup from the medium, as a user starts it.
inline int RunSetup(const std::string& arguments = "'PATH=D:\\Setup\\'") {
  return RunCommand("'" + tavrin::sysroot::MapPath("D:\\Setup\\TavrinSetup.exe").string() + "' " + arguments);
}

inline std::string Text(const std::string& windowsPath) {
  std::ifstream in(tavrin::sysroot::MapPath(windowsPath));
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What setup wrote of its run, shown when it failed.
inline std::string SetupLog() { return Text("C:\\TavrinSetup.log"); }

// The TavrinAdmin running from this sysroot's Windows directory, or -1.
inline pid_t AdminPid() {
  std::error_code ec;
  auto image = fs::canonical(tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.exe"), ec);
  if (ec) return -1;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code e;
    if (fs::read_symlink(entry.path() / "exe", e) == image) return static_cast<pid_t>(std::stoi(name));
  }
  return -1;
}

// A descriptor that becomes readable when the process ends (any process, not only a child); -1 when
// it has gone already.
inline int WatchProcess(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
inline bool Exited(int watch, int milliseconds) {
  pollfd p{watch, POLLIN, 0};
  return poll(&p, 1, milliseconds) > 0;
}

inline void KillAdmin() {
  pid_t pid = AdminPid();
  if (pid <= 0) return;
  int watch = WatchProcess(pid);
  kill(pid, SIGKILL);
  if (watch >= 0) {
    Exited(watch, 5000);
    close(watch);
  }
}

// A sysroot with the install medium staged in "D:\\Setup\\" and the programs set to run unattended: no
// pauses, message boxes answered as by the user's OK.
class MediumTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    setenv("TAVRIN_SETUP_PAUSE_MS", "0", 1);
    setenv("TAVRIN_MSGBOX_ANSWER", "1", 1);
    ASSERT_EQ(StageMedia(), 0);
  }
  void TearDown() override {
    unsetenv("TAVRIN_SETUP_PAUSE_MS");
    unsetenv("TAVRIN_MSGBOX_ANSWER");
    SysrootTest::TearDown();
  }
};

}  // namespace installed
