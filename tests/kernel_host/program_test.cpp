// The kernel-host program as a process of its own: the user side reaches it and its events cross over.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "host_fixture.h"

extern char** environ;

namespace kernel_host_test {
namespace {

// Runs the program for the test's sysroot and waits for its ready line.
class HostProcess {
 public:
  explicit HostProcess(const std::string& sysroot) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = KERNEL_HOST_PROGRAM;
    char* argv[] = {program.data(), const_cast<char*>("--sysroot"), const_cast<char*>(sysroot.c_str()), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
  }
  ~HostProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
  }

  bool WaitReady(int milliseconds) {
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

  // SIGTERM and the exit status (-1 when it did not end normally).
  int Terminate() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};

TEST_F(KernelHostTest, ProgramServesAnotherProcessAndSetsItsEvent) {
  HostProcess process(root().string());
  ASSERT_TRUE(process.WaitReady(10000));

  HWND window = MakeWindow();
  DEV_BROADCAST_DEVICEINTERFACE filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_BUSDRIVER;
  HDEVNOTIFY notify = RegisterDeviceNotification(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  ASSERT_NE(notify, nullptr);

  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  uint64_t value = reinterpret_cast<uintptr_t>(event);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0).ok);
  auto request = ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  SERVER_ARRIVALREMOVAL_INFO answer{};
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer).ok);
  EXPECT_EQ(+answer.Status, ARRM_STATUS_ALREADY_PRESENT);

  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEARRIVAL);
  HANDLE control = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  EXPECT_NE(control, INVALID_HANDLE_VALUE);
  CloseHandle(control);

  CloseHandle(busEnum);
  UnregisterDeviceNotification(notify);
  EXPECT_EQ(process.Terminate(), 0);
  // The host is gone: no interface is left to find, and nothing was left behind in run/.
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  EXPECT_FALSE(std::filesystem::exists(root() / "run" / "kernel-host.sock"));
  CloseHandle(event);
  DestroyWindow(window);
}

}  // namespace
}  // namespace kernel_host_test
