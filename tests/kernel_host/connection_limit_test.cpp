// The kernel host's connections are bounded: the excess is refused, silent ones are dropped, and the host
// goes on serving.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "host_fixture.h"
#include "notice_window.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sanitizers.h"
#include "win32/devices/kernel_link.h"

namespace kernel_host_test {
namespace {

namespace link = tavrin::kernel_link;

// True when the host closed the connection (it reads end of file), false when the host holds it open
// until the test's own deadline or answers (what it answered stays to be read).
bool ClosedByHost(int fd, int milliseconds) {
  timeval tv{milliseconds / 1000, milliseconds % 1000 * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char byte;
  return recv(fd, &byte, 1, MSG_PEEK) == 0;
}

TEST_F(KernelHostTest, ConnectionsBeyondTheLimitAreRefusedAndTheHostServesOn) {
  tavrin::kernel_host::Options options;
  options.maxConnections = 16;
  options.firstRequestTimeout = std::chrono::minutes(5);
  StartHost(options);

  std::vector<int> idle;
  for (int i = 0; i < 16; ++i) {
    idle.push_back(link::Connect());
    ASSERT_GE(idle.back(), 0);
  }
  // The enumeration needs a connection of its own: refused while the idle ones hold every place.
  for (int i = 0; i < 200; ++i) {
    int fd = link::Connect();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(ClosedByHost(fd, 10000));
    close(fd);
  }
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  // The places the idle ones held are the host's again once they go.
  EXPECT_FALSE(ClosedByHost(idle.front(), 1));
  for (int fd : idle) close(fd);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string path;
  while ((path = FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM)).empty() && std::chrono::steady_clock::now() < deadline) {
  }
  EXPECT_NE(path, "");
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status,
            ARRM_STATUS_ALREADY_PRESENT);
  CloseHandle(busEnum);
}

TEST_F(KernelHostTest, AConnectionThatSaysNothingIsClosed) {
  tavrin::kernel_host::Options options;
  options.firstRequestTimeout = std::chrono::milliseconds(20);
  StartHost(options);
  int fd = link::Connect();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(ClosedByHost(fd, 10000));
  close(fd);
  // Handles and subscriptions, once made, are not timed out.
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  HWND window = MakeWindow();
  HDEVNOTIFY notify = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(notify, nullptr);
  int probe = link::Connect();
  ASSERT_GE(probe, 0);
  EXPECT_TRUE(ClosedByHost(probe, 10000));  // well past the time-out
  close(probe);
  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status,
            ARRM_STATUS_ALREADY_PRESENT);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEARRIVAL);
  UnregisterDeviceNotification(notify);
  CloseHandle(busEnum);
  DestroyWindow(window);
}

TEST_F(KernelHostTest, AConnectionWithoutAThreadIsRefusedAndTheHostLivesOn) {
#ifdef TAVRIN_SANITIZED
  GTEST_SKIP() << "the sanitizers' own address space cannot be limited";
#else
  auto addressSpace = [](pid_t pid) {  // mapped, in bytes
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  };
  tavrin::test::KernelHostProcess process(KERNEL_HOST_PROGRAM, root().string());
  ASSERT_TRUE(process.WaitReady(10000));
  int first = link::Connect();  // its thread lives on while the limit holds
  ASSERT_GE(first, 0);
  ASSERT_FALSE(ClosedByHost(first, 100));
  // No room for another thread's stack.
  rlimit old{};
  ASSERT_EQ(prlimit(process.pid(), RLIMIT_AS, nullptr, &old), 0);
  rlimit tight{addressSpace(process.pid()) + 2 * 1024 * 1024, old.rlim_max};
  ASSERT_EQ(prlimit(process.pid(), RLIMIT_AS, &tight, nullptr), 0);
  int refused = link::Connect();
  ASSERT_GE(refused, 0);
  EXPECT_TRUE(ClosedByHost(refused, 10000));
  close(refused);
  ASSERT_EQ(prlimit(process.pid(), RLIMIT_AS, &old, nullptr), 0);
  close(first);
  EXPECT_NE(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  EXPECT_EQ(process.Terminate(), 0);
#endif
}

}  // namespace
}  // namespace kernel_host_test
