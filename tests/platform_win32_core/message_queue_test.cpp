// Per-thread message queues: posting, sending across threads, WM_QUIT, timers and the message waits.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/user.h"
#include "win32/window_manager.h"

namespace {

using tavrin::test::EventuallyBlocked;
using tavrin::test::KernelThreadId;
using tavrin::test::SysrootTest;

class MessageQueueTest : public SysrootTest {
 protected:
  void TearDown() override {
    for (HWND hwnd : windows_) DestroyWindow(hwnd);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    SysrootTest::TearDown();
  }

  // A window of this thread whose procedure records what it gets.
  HWND MakeWindow(const char* title = "queue test") {
    tavrin::win::WindowSpec spec;
    spec.className = "QueueTest";
    spec.title = title;
    spec.proc = &Record;
    spec.userData = reinterpret_cast<LONG_PTR>(this);
    HWND hwnd = tavrin::win::CreateWindowObject(spec);
    windows_.push_back(hwnd);
    return hwnd;
  }

  static LRESULT CALLBACK Record(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageQueueTest*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
    if (self && message >= WM_USER) {
      self->seen.push_back(message);
      self->seenThread = GetCurrentThreadId();
      return static_cast<LRESULT>(wParam * 2);
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
  }

  std::vector<UINT> seen;
  std::atomic<DWORD> seenThread{0};
  std::vector<HWND> windows_;
};

TEST_F(MessageQueueTest, PostedMessagesComeInOrderThenQuit) {
  HWND hwnd = MakeWindow();
  PostMessage(hwnd, WM_USER + 1, 0, 0);
  PostThreadMessage(GetCurrentThreadId(), WM_USER + 2, 5, 6);
  PostQuitMessage(3);
  PostMessage(hwnd, WM_USER + 3, 0, 0);  // WM_QUIT waits until the posted messages are read

  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(msg.hwnd, hwnd);
  DispatchMessage(&msg);
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER + 2);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, 5u);
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER + 3);
  DispatchMessage(&msg);
  EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_USER + 3}));
}

TEST_F(MessageQueueTest, QuitComesBeforeInputThatIsStillQueued) {
  HWND hwnd = MakeWindow();
  ShowWindow(hwnd, SW_SHOW);
  SetFocus(hwnd);
  ASSERT_EQ(GetFocus(), hwnd);
  // Input keeps coming while the program is asked to end: the end must not wait for the input to stop.
  for (int i = 0; i < 50; ++i) {
    tavrin::win::InjectKey('A', true);
    tavrin::win::InjectKey('A', false);
  }
  PostMessage(hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(4);

  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER + 1);  // posted messages first
  EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.wParam, 4u);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));  // the input is still there, in order
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(msg.hwnd, hwnd);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYUP));
}

TEST_F(MessageQueueTest, PeekFiltersByWindowAndRangeAndCanLeaveTheMessage) {
  HWND first = MakeWindow();
  HWND second = MakeWindow();
  PostMessage(first, WM_USER + 1, 0, 0);
  PostMessage(second, WM_USER + 2, 0, 0);
  PostMessage(second, WM_COMMAND, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, second, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 2);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, second);
  ASSERT_TRUE(PeekMessage(&msg, second, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 2);
  EXPECT_FALSE(PeekMessage(&msg, second, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, first);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, SendFromAnotherThreadRunsOnTheWindowsThread) {
  HWND hwnd = MakeWindow();
  EXPECT_EQ(SendMessage(hwnd, WM_USER + 7, 4, 0), 8);  // same thread: a direct call
  EXPECT_EQ(seenThread.load(), GetCurrentThreadId());

  LRESULT result = 0;
  std::thread sender([&] {
    result = SendMessage(hwnd, WM_USER + 8, 21, 0);
    PostMessage(hwnd, WM_USER + 9, 0, 0);
  });
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));  // handles the sent message inside, returns the post
  EXPECT_EQ(msg.message, WM_USER + 9);
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(seenThread.load(), GetCurrentThreadId());
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 7, WM_USER + 8}));
}

TEST_F(MessageQueueTest, SendToAThreadThatEndsReturnsZero) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> target{nullptr};
  std::thread owner([&] {
    tavrin::win::WindowSpec spec;
    spec.title = "short-lived";
    target = tavrin::win::CreateWindowObject(spec);
    SetEvent(ready);
    WaitForSingleObject(go, 5000);  // never reads its queue, then ends
  });
  WaitForSingleObject(ready, 5000);
  LRESULT result = -1;
  std::atomic<pid_t> senderId{0};
  std::thread sender([&] {
    senderId = KernelThreadId();
    result = SendMessage(target, WM_USER, 1, 0);
  });
  ASSERT_TRUE(EventuallyBlocked(senderId));  // waiting for an answer that never comes
  SetEvent(go);
  owner.join();
  sender.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(IsWindow(target)) << "a thread's windows end with it";
  CloseHandle(ready);
  CloseHandle(go);
}

TEST_F(MessageQueueTest, PostReachesTheWindowsOwnThread) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> target{nullptr};
  std::atomic<UINT> got{0};
  DWORD ownerId = 0;
  std::thread owner([&] {
    ownerId = GetCurrentThreadId();
    tavrin::win::WindowSpec spec;
    target = tavrin::win::CreateWindowObject(spec);
    SetEvent(ready);
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) got = msg.message;
    DestroyWindow(target);
  });
  WaitForSingleObject(ready, 5000);
  EXPECT_TRUE(PostMessage(target, WM_USER + 16, 0, 0));
  EXPECT_TRUE(PostThreadMessage(ownerId, WM_QUIT, 0, 0));
  owner.join();
  EXPECT_EQ(got.load(), WM_USER + 16);
  EXPECT_FALSE(PostThreadMessage(ownerId, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  CloseHandle(ready);
}

TEST_F(MessageQueueTest, TimersComeAfterPostedMessagesAndRepeatUntilKilled) {
  HWND hwnd = MakeWindow();
  constexpr auto kPeriod = std::chrono::milliseconds(10);
  ASSERT_EQ(SetTimer(hwnd, 5, kPeriod.count(), nullptr), 5u);
  ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_TIMER), WAIT_OBJECT_0);  // due
  PostMessage(hwnd, WM_USER + 1, 0, 0);
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER + 1) << "a due timer waits behind posted messages";
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.hwnd, hwnd);
  EXPECT_EQ(msg.wParam, 5u);

  // Periods gone unread make one WM_TIMER, not a backlog: right after it none is due, which can be
  // judged only when the reading took less than a period (a busy computer may need several tries).
  bool judged = false;
  for (int attempt = 0; attempt < 100 && !judged; ++attempt) {
    Sleep(4 * kPeriod.count());  // periods that must pass unread
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_TIMER);
    const bool another = PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE);
    if (std::chrono::steady_clock::now() - before < kPeriod) {
      EXPECT_FALSE(another) << "one WM_TIMER per period, not a backlog";
      judged = true;
    }
  }
  EXPECT_TRUE(judged);
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));  // blocks until the next period
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_TRUE(KillTimer(hwnd, 5));
  EXPECT_FALSE(KillTimer(hwnd, 5));
  // No WM_TIMER in three periods.
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 3 * kPeriod.count(), QS_TIMER), WAIT_TIMEOUT);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

std::atomic<int> g_timerCalls{0};
void CALLBACK CountTimer(HWND, UINT message, UINT_PTR, DWORD) {
  if (message == WM_TIMER) ++g_timerCalls;
}

TEST_F(MessageQueueTest, ThreadTimerCallsItsProcedureThroughDispatch) {
  g_timerCalls = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 10, CountTimer);
  ASSERT_NE(id, 0u);
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, id);
  DispatchMessage(&msg);
  EXPECT_EQ(g_timerCalls.load(), 1);
  EXPECT_TRUE(KillTimer(nullptr, id));

  // A posted WM_TIMER names no timer of ours: its lParam is not called.
  PostThreadMessage(GetCurrentThreadId(), WM_TIMER, id, reinterpret_cast<LPARAM>(&CountTimer));
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  DispatchMessage(&msg);
  EXPECT_EQ(g_timerCalls.load(), 1);
}

TEST_F(MessageQueueTest, TimerOfAWindowTicksInItsOwnersQueue) {
  HWND hwnd = MakeWindow();
  std::thread other([&] { EXPECT_EQ(SetTimer(hwnd, 9, 10, nullptr), 9u); });
  other.join();
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, hwnd, 0, 0));
  EXPECT_EQ(msg.message, WM_TIMER);
  DestroyWindow(hwnd);  // its timers go with it
  windows_.clear();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_TIMER), WAIT_TIMEOUT);  // three periods
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, MsgWaitWakesOnAPostedMessage) {
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  DWORD me = GetCurrentThreadId();
  MSG msg;
  PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue exists before anyone posts to it
  const std::atomic<pid_t> waiter{KernelThreadId()};
  std::thread poster([&] {
    EXPECT_TRUE(EventuallyBlocked(waiter));  // posted while the wait is under way
    EXPECT_TRUE(PostThreadMessage(me, WM_USER + 4, 0, 0));
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  poster.join();
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 4);

  SetEvent(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  // A mask without posted messages ignores them.
  PostThreadMessage(me, WM_USER + 5, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_TIMER), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, 0xFF), WAIT_OBJECT_0);
  PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE);
  CloseHandle(event);
}

TEST_F(MessageQueueTest, MsgWaitWakesOnTimersAndOnNamedEvents) {
  HANDLE named = CreateEvent(nullptr, FALSE, FALSE, "MsgWaitNamed");
  UINT_PTR id = SetTimer(nullptr, 0, 10, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &named, FALSE, 5000, QS_TIMER), WAIT_OBJECT_0 + 1);
  KillTimer(nullptr, id);
  const std::atomic<pid_t> waiter{KernelThreadId()};
  std::thread setter([&] {
    HANDLE other = OpenEvent(EVENT_MODIFY_STATE, FALSE, "MsgWaitNamed");
    EXPECT_TRUE(EventuallyBlocked(waiter));  // set while the wait is under way
    SetEvent(other);
    CloseHandle(other);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &named, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(named);
}

TEST_F(MessageQueueTest, InvalidatedWindowGetsPaintAfterPostedMessagesUntilValidated) {
  HWND hwnd = MakeWindow();
  ShowWindow(hwnd, SW_SHOW);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);  // what showing it brought
  InvalidateRect(hwnd, nullptr, TRUE);
  PostMessage(hwnd, WM_USER + 1, 0, 0);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_PAINT);
  DispatchMessage(&msg);  // DefWindowProc validates
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, AHiddenWindowPaintsWhatWasInvalidatedOnlyOnceItIsShown) {
  // Nothing of a hidden window (nor of a child of a hidden parent) can be seen: it does not paint, however
  // often it is invalidated, and paints when it is shown.
  HWND hwnd = MakeWindow();
  tavrin::win::WindowSpec spec;
  spec.className = "QueueTest";
  spec.style = WS_CHILD | WS_VISIBLE;
  spec.parent = hwnd;
  spec.x = spec.y = 0;
  spec.width = spec.height = 20;
  HWND child = tavrin::win::CreateWindowObject(spec);
  MSG msg;
  for (int i = 0; i < 3; ++i) {
    InvalidateRect(hwnd, nullptr, TRUE);
    InvalidateRect(child, nullptr, TRUE);
    UpdateWindow(child);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  }
  ShowWindow(hwnd, SW_SHOW);
  std::vector<HWND> painted;
  while (PeekMessage(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE) && painted.size() < 10) {
    painted.push_back(msg.hwnd);
    DispatchMessage(&msg);  // DefWindowProc validates
  }
  EXPECT_EQ(painted, (std::vector<HWND>{hwnd, child}));
  DestroyWindow(child);
}

}  // namespace
