// The small free functions: closing sockets and waiting while window messages keep flowing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "admin/util/Utilities.h"
#include "comm_test_util.h"
#include "trace_capture.h"
#include "win32/user.h"

namespace {

using namespace std::chrono_literals;

constexpr UINT kPing = WM_USER + 40;
std::atomic<int> g_pings{0};

LRESULT CALLBACK CountPings(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPing) {
    ++g_pings;
    return 0;
  }
  return DefWindowProc(window, message, wParam, lParam);
}

class UtilitiesTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    g_pings = 0;
    tavrin::win::WindowSpec spec;
    spec.className = "UtilitiesTestWindow";
    spec.proc = CountPings;
    window_ = tavrin::win::CreateWindowObject(spec);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    CommTest::TearDown();
  }
  HWND window_ = nullptr;
};

TEST_F(UtilitiesTest, CloseSocketIgnoresTheInvalidSocketAndClosesAWokenOne) {
  TraceCapture trace;
  CloseSocket(INVALID_SOCKET);
  EXPECT_EQ(trace.Text().find("Closing the socket"), std::string::npos);

  SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
  std::atomic<int> received{1};
  std::atomic<pid_t> receiverId{0};
  std::thread receiver([&] {
    receiverId = tavrin::test::KernelThreadId();
    char buffer[8];
    received = recv(socket, buffer, sizeof(buffer), 0);
  });
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(receiverId));
  // As the broadcast listener's stop does: wake the receiver and let it go before the socket is closed
  // (closing a descriptor another thread still uses is a race).
  shutdown(socket, SD_BOTH);
  receiver.join();
  EXPECT_LE(received.load(), 0);  // woken: no datagram ever came
  CloseSocket(socket);
  EXPECT_TRUE(trace.Contains("Closing the socket...\n"));
  char buffer[8];
  EXPECT_EQ(recv(socket, buffer, sizeof(buffer), 0), SOCKET_ERROR);  // closed
}

TEST_F(UtilitiesTest, WaitOnASignalledHandleReturnsWithoutDispatching) {
  HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  PostMessage(window_, kPing, 0, 0);
  WaitWithMessageLoop(&event, 1);
  EXPECT_EQ(g_pings.load(), 0);
  MSG msg;
  EXPECT_TRUE(PeekMessage(&msg, window_, kPing, kPing, PM_REMOVE));  // still waiting in the queue
  CloseHandle(event);
}

TEST_F(UtilitiesTest, WaitDispatchesMessagesUntilEveryHandleIsSignalled) {
  HANDLE first = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HWND window = window_;
  std::thread worker([&] {
    PostMessage(window, kPing, 0, 0);
    Eventually([] { return g_pings.load() >= 1; }, 5000ms);  // handled while the owner waits
    SetEvent(second);
    PostMessage(window, kPing, 0, 0);
    Eventually([] { return g_pings.load() >= 2; }, 5000ms);
    SetEvent(first);
  });
  HANDLE handles[] = {first, second};
  WaitWithMessageLoop(handles, 2);
  worker.join();
  EXPECT_EQ(g_pings.load(), 2);
  CloseHandle(first);
  CloseHandle(second);
}

TEST(SystemErrorText, KnownCodesHaveTheirTextAndUnknownOnesNone) {
  CString text;
  GetSystemErrorText(ERROR_FILE_NOT_FOUND, text);
  EXPECT_STREQ((LPCSTR)text, "The system cannot find the file specified.\r\n");
  GetSystemErrorText(10060, text);
  EXPECT_NE(text.Find("did not properly respond"), -1);
  GetSystemErrorText(0xDEADBEEF, text);
  EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
