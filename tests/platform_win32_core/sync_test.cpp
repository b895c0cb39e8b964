// Events, waits, threads, critical sections, the tick count and interlocked operations in one process.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "testsupport/sysroot.h"
#include "win32/sync.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavrin::test::SysrootTest;

class SyncTest : public SysrootTest {};

struct Handle {
  HANDLE value;
  explicit Handle(HANDLE h) : value(h) {}
  ~Handle() {
    if (value) CloseHandle(value);
  }
  operator HANDLE() const { return value; }
};

DWORD WINAPI WaitOnce(LPVOID event) { return WaitForSingleObject(event, 5000); }

TEST_F(SyncTest, AutoResetEventReleasesExactlyOneWaiter) {
  Handle event(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle first(CreateThread(nullptr, 0, WaitOnce, event, 0, nullptr));
  Handle second(CreateThread(nullptr, 0, WaitOnce, event, 0, nullptr));
  ASSERT_TRUE(SetEvent(event));
  HANDLE threads[] = {first, second};
  DWORD woken = WaitForMultipleObjects(2, threads, FALSE, 5000);
  ASSERT_LT(woken, WAIT_OBJECT_0 + 2);
  // The other one stays asleep until the event is set again, and the signal was taken.
  EXPECT_EQ(WaitForSingleObject(threads[1 - woken], 50), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(threads[1 - woken], 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(threads[1 - woken], &code));
  EXPECT_EQ(code, WAIT_OBJECT_0);
}

TEST_F(SyncTest, ManualResetEventReleasesEveryWaiterAndStaysSet) {
  Handle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  std::vector<HANDLE> threads;
  for (int i = 0; i < 3; ++i) threads.push_back(CreateThread(nullptr, 0, WaitOnce, event, 0, nullptr));
  EXPECT_EQ(WaitForMultipleObjects(3, threads.data(), TRUE, 30), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(WaitForMultipleObjects(3, threads.data(), TRUE, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  for (HANDLE t : threads) CloseHandle(t);
}

TEST_F(SyncTest, WaitTimesOutAfterItsTime) {
  Handle event(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 40), WAIT_TIMEOUT);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST_F(SyncTest, WaitRejectsBadHandlesAndCounts) {
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7777), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Handle event(CreateEvent(nullptr, FALSE, TRUE, nullptr));
  HANDLE twice[] = {event, event};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777)));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SyncTest, WaitAnyAnswersTheLowestSignalledIndexAndTakesOnlyThatOne) {
  Handle a(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle b(CreateEvent(nullptr, FALSE, TRUE, nullptr));
  Handle c(CreateEvent(nullptr, FALSE, TRUE, nullptr));
  HANDLE events[] = {a, b, c};
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 20), WAIT_TIMEOUT);
}

TEST_F(SyncTest, WaitAllTakesEveryObjectOnlyWhenAllAreSignalled) {
  Handle a(CreateEvent(nullptr, FALSE, TRUE, nullptr));
  Handle b(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  HANDLE events[] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0) << "a failed wait-all must not take a";
  SetEvent(a);
  std::thread setter([&] { SetEvent(b); });
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
}

TEST_F(SyncTest, WaitMixesLocalAndNamedEvents) {
  Handle local(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle named(CreateEvent(nullptr, FALSE, FALSE, "MixedWaitEvent"));
  HANDLE events[] = {local, named};
  std::thread setter([&] { SetEvent(named); });
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 5000), WAIT_OBJECT_0 + 1);
  setter.join();
  SetEvent(local);
  SetEvent(named);
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
}

DWORD WINAPI ReturnParameter(LPVOID parameter) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

struct GatedThread {
  HANDLE gate;
  DWORD seenId;
};

DWORD WINAPI WaitForGate(LPVOID parameter) {
  auto* state = static_cast<GatedThread*>(parameter);
  state->seenId = GetCurrentThreadId();
  WaitForSingleObject(state->gate, 5000);
  return 7;
}

TEST_F(SyncTest, ThreadExitCodeIsStillActiveUntilItReturns) {
  GatedThread state{CreateEvent(nullptr, TRUE, FALSE, nullptr), 0};
  DWORD id = 0;
  Handle thread(CreateThread(nullptr, 0, WaitForGate, &state, 0, &id));
  ASSERT_NE(thread.value, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(state.gate);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(state.seenId, id);
  EXPECT_NE(id, GetCurrentThreadId());
  CloseHandle(state.gate);
}

TEST_F(SyncTest, ThreadRunsOnAfterItsHandleIsClosed) {
  GatedThread state{CreateEvent(nullptr, TRUE, FALSE, nullptr), 0};
  Handle done(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  struct Work {
    GatedThread* state;
    HANDLE done;
  } work{&state, done};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* w = static_cast<Work*>(p);
        WaitForGate(w->state);
        SetEvent(w->done);
        return 0;
      },
      &work, 0, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  SetEvent(state.gate);
  EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
  CloseHandle(state.gate);
}

TEST_F(SyncTest, SuspendedThreadStartsOnResume) {
  Handle thread(CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(42), CREATE_SUSPENDED, nullptr));
  EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(ResumeThread(thread), 0u);
}

TEST_F(SyncTest, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    SetLastError(ERROR_GEN_FAILURE);
  });
  other.join();
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SyncTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  std::thread other([&] { EXPECT_FALSE(TryEnterCriticalSection(&section)); });
  other.join();
  LeaveCriticalSection(&section);
  std::thread stillHeld([&] { EXPECT_FALSE(TryEnterCriticalSection(&section)); });
  stillHeld.join();
  LeaveCriticalSection(&section);
  std::thread free([&] {
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    LeaveCriticalSection(&section);
  });
  free.join();
  {
    tavrin::CriticalSectionGuard hold(section);  // held for the scope only
    std::thread guarded([&] { EXPECT_FALSE(TryEnterCriticalSection(&section)); });
    guarded.join();
  }
  std::thread released([&] {
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    LeaveCriticalSection(&section);
  });
  released.join();
  DeleteCriticalSection(&section);
}

TEST_F(SyncTest, TickCountWrapsAndDifferencesStayRight) {
  tavrin::SetTickCountOffsetForTest(0);
  ULONGLONG now64 = GetTickCount64();
  // Put the 32-bit count 15 ms before its wrap.
  tavrin::SetTickCountOffsetForTest(0x100000000ULL - 15 - (now64 & 0xFFFFFFFFULL));
  DWORD before = GetTickCount();
  EXPECT_GT(before, 0xFFFFFF00u);
  Sleep(30);
  DWORD after = GetTickCount();
  tavrin::SetTickCountOffsetForTest(0);
  EXPECT_LT(after, before);  // wrapped
  DWORD elapsed = after - before;
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 5000u);
}

TEST_F(SyncTest, InterlockedOperationsAreAtomicAndReturnWin32Values) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 0), 12);  // no match: unchanged
  EXPECT_EQ(value, 12);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
  EXPECT_EQ(value, 1);

  volatile LONG counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) InterlockedIncrement(&counter);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
