// TavrinAdmin as a real process: single instance, shut-down through the named event, missing product.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "testsupport/child_process.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/sysroot.h"
#include "win32/windows.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kLimit = 20s;

// One run of the program; killed if a test leaves it running.
class Program {
 public:
  Program() {
    pid_ = tavrin::test::StartChild({TAVRIN_ADMIN_PATH});
    started_ = pid_ > 0;
  }
  ~Program() {
    if (started_ && !exitCode_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return started_; }
  // The exit code, or nullopt while it still runs after `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    if (!exitCode_) exitCode_ = tavrin::test::WaitForExit(pid_, limit);
    return exitCode_;
  }

 private:
  pid_t pid_ = 0;
  bool started_ = false;
  std::optional<int> exitCode_;
};

std::string ReadLog() {
  std::ifstream in(tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.log"), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

const std::string kEndBanner = "\r\n--------- End of Pelko Admin---------\r\n";

class ProgramTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    setenv("TAVRIN_MSGBOX_ANSWER", "1", 1);
  }
  void InstallWithInformationalTrace() {
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel", 1),
              ERROR_SUCCESS);
  }
  // Waits until the program's exit monitor waits for the shut-down event.
  bool WaitUntilRunning(Program& program) {
    return tavrin::test::Eventually(
               [&] { return ReadLog().find("ExitMonitorTh ==>\r\n") != std::string::npos || program.Wait(0ms); },
               kLimit) &&
           !program.Wait(0ms);
  }
  void ShutDown(Program& program) {
    HANDLE event = OpenEvent(EVENT_MODIFY_STATE, FALSE, "TavrinAdminShutDownEvent");
    ASSERT_NE(event, nullptr) << "the program has no shut-down event";
    ASSERT_TRUE(SetEvent(event));
    CloseHandle(event);
    EXPECT_EQ(program.Wait(kLimit), 0);
  }
};

TEST_F(ProgramTest, ShutDownEventFromAnotherProcessEndsTheProgramWithItsLogClosed) {
  InstallWithInformationalTrace();
  Program program;
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(WaitUntilRunning(program));
  HWND window = FindWindow(nullptr, "Pelko Admin");
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));  // the program lives in the notification area

  ShutDown(program);
  const std::string log = ReadLog();
  EXPECT_NE(log.find("ExitMonitorTh >> AppExitEvent signalled...\r\nExitMonitorTh <== Status=0\r\n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(EndsWith(log, kEndBanner)) << log;
  EXPECT_EQ(FindWindow(nullptr, "Pelko Admin"), nullptr);
}

TEST_F(ProgramTest, SecondCopyBringsTheFirstForwardAndEnds) {
  InstallWithInformationalTrace();
  Program first;
  ASSERT_TRUE(WaitUntilRunning(first));
  HWND window = FindWindow(nullptr, "Pelko Admin");
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window));

  Program second;
  EXPECT_EQ(second.Wait(kLimit), 0);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_FALSE(IsIconic(window));
  EXPECT_FALSE(first.Wait(0ms)) << "the first copy must go on";
  EXPECT_EQ(Count(ReadLog(), "--------- Start of Pelko Admin"), 1);  // the second copy left the log alone

  ShutDown(first);
  EXPECT_TRUE(EndsWith(ReadLog(), kEndBanner));
}

TEST_F(ProgramTest, WithoutTheProductKeyTheProgramEndsAfterItsBox) {
  Program program;
  EXPECT_EQ(program.Wait(kLimit), 0);
  EXPECT_TRUE(EndsWith(ReadLog(), "\r\nClient software is not installed !!\r\n" + kEndBanner)) << ReadLog();
  EXPECT_EQ(FindWindow(nullptr, "Pelko Admin"), nullptr);
}

}  // namespace
