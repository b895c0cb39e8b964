// Spin locks with the per-thread IRQL, events, pool tags and object references.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "wdk/kernel.h"
#include "wdk/ntddk.h"
#include "wdk/wdm.h"

namespace {

TEST(SpinLockTest, RaisesIrqlPerThreadAndExcludesOtherThreads) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      KIRQL old;
      KeAcquireSpinLock(&lock, &old);
      EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
      ++counter;
      KeReleaseSpinLock(&lock, old);
      ASSERT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(SpinLockDeathTest, WaitingAtDispatchLevelStopsTheKernel) {
  EXPECT_DEATH(
      {
        KSPIN_LOCK lock;
        KeInitializeSpinLock(&lock);
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
      },
      "STOP: 0x0000000A");
}

TEST(EventTest, SynchronizationEventsReleaseOneWaiterNotificationEventsStaySet) {
  KEVENT sync, notification;
  KeInitializeEvent(&sync, SynchronizationEvent, TRUE);
  KeInitializeEvent(&notification, NotificationEvent, TRUE);
  LARGE_INTEGER poll{};
  EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
  EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
  EXPECT_EQ(KeSetEvent(&sync, IO_NO_INCREMENT, FALSE), 0);
  EXPECT_EQ(KeResetEvent(&notification), 1);

  LARGE_INTEGER shortWait;
  shortWait.QuadPart = -10 * 1000 * 20;  // 20 ms, relative
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &shortWait), STATUS_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));

  std::thread setter([&] { KeSetEvent(&notification, IO_NO_INCREMENT, FALSE); });
  EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  setter.join();
}

// Events are read, reset and waited for without the dispatcher's lock where nobody needs waking: a signal
// must still reach a thread that is just going to sleep, and a fast mutex still lets one thread in at a time.
TEST(EventTest, HandOversBetweenThreadsNeverLoseAWakeUpAndAFastMutexExcludes) {
  KEVENT ping, pong;
  KeInitializeEvent(&ping, SynchronizationEvent, FALSE);
  KeInitializeEvent(&pong, NotificationEvent, FALSE);
  constexpr int kRounds = 20000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      KeWaitForSingleObject(&ping, Executive, KernelMode, FALSE, nullptr);
      KeSetEvent(&pong, IO_NO_INCREMENT, FALSE);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    KeSetEvent(&ping, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&pong, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(KeReadStateEvent(&pong), 1);
    KeClearEvent(&pong);
  }
  other.join();
  EXPECT_EQ(KeReadStateEvent(&ping), 0);

  FAST_MUTEX mutex;
  ExInitializeFastMutex(&mutex);
  int inside = 0, most = 0;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        ExAcquireFastMutex(&mutex);
        most = std::max(most, ++inside);
        ++counter;
        --inside;
        ExReleaseFastMutex(&mutex);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 20000);
  EXPECT_EQ(most, 1);
}

TEST(PoolTest, TracksBlocksByTagAndFailsOnRequest) {
  const ULONG tag = PoolTag("Tst1");
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(tag), 0u);
  void* a = ExAllocatePoolWithTag(NonPagedPool, 10, tag);
  void* b = ExAllocatePoolWithTag(PagedPool, 0, tag);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(tag), 2u);
  ExFreePoolWithTag(a, tag);
  ExFreePool(b);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(tag), 0u);

  tavrin::wdk::FailPoolAllocations(tag, 1);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, tag), nullptr);
  void* c = ExAllocatePoolWithTag(NonPagedPool, 8, tag);
  EXPECT_NE(c, nullptr);
  ExFreePoolWithTag(c, tag);
}

TEST(PoolDeathTest, FreeingWithAnotherTagOrPagedAtDispatchStopsTheKernel) {
  EXPECT_DEATH(
      {
        void* p = ExAllocatePoolWithTag(NonPagedPool, 8, PoolTag("Tst2"));
        ExFreePoolWithTag(p, PoolTag("Tst3"));
      },
      "STOP: 0x000000C2");
  EXPECT_DEATH(
      {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        ExAllocatePoolWithTag(PagedPool, 8, PoolTag("Tst2"));
      },
      "STOP: 0x0000000A");
}

// A process context that knows one event handle.
class FakeRequestor : public tavrin::wdk::Requestor {
 public:
  struct Sink : tavrin::wdk::UserEventSink {
    explicit Sink(FakeRequestor& r) : owner(r) {}
    ~Sink() override { ++owner.released; }
    void Set() override { ++owner.sets; }
    void Reset() override {}
    FakeRequestor& owner;
  };
  NTSTATUS ReferenceEvent(HANDLE handle, std::shared_ptr<tavrin::wdk::UserEventSink>* sink) override {
    if (handle != reinterpret_cast<HANDLE>(0x104)) return STATUS_INVALID_HANDLE;
    *sink = std::make_shared<Sink>(*this);
    return STATUS_SUCCESS;
  }
  NTSTATUS ReadMemory(uint64_t address, void* buffer, size_t length) override {
    if (address != 0x5000 || length > sizeof memory) return STATUS_ACCESS_VIOLATION;
    std::memcpy(buffer, memory, length);
    return STATUS_SUCCESS;
  }
  char memory[4] = {'a', 'b', 'c', 'd'};
  int sets = 0, released = 0;
};

TEST(ObjectTest, UserEventHandlesResolveInTheRequestorsContextOnly) {
  PVOID object = nullptr;
  auto handle = reinterpret_cast<HANDLE>(0x104);
  EXPECT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *ExEventObjectType, UserMode, &object, nullptr),
            STATUS_INVALID_HANDLE);  // no process context on this thread
  FakeRequestor requestor;
  {
    tavrin::wdk::ScopedRequestor context(&requestor);
    EXPECT_EQ(ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(0x108), SYNCHRONIZE, *ExEventObjectType, UserMode,
                                        &object, nullptr),
              STATUS_INVALID_HANDLE);
    EXPECT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *IoFileObjectType, UserMode, &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    ASSERT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *ExEventObjectType, UserMode, &object, nullptr),
              STATUS_SUCCESS);
  }
  char copy[4] = {};
  EXPECT_EQ(tavrin::wdk::ReadRequestorMemory(0x5000, copy, 4), STATUS_ACCESS_VIOLATION);  // no process context
  {
    tavrin::wdk::ScopedRequestor context(&requestor);
    EXPECT_EQ(tavrin::wdk::ReadRequestorMemory(0x5000, copy, 4), STATUS_SUCCESS);
    EXPECT_EQ(tavrin::wdk::ReadRequestorMemory(0x6000, copy, 4), STATUS_ACCESS_VIOLATION);
  }
  EXPECT_EQ(std::string(copy, 4), "abcd");
  // Set from any thread, later: the object outlives the request that referenced it.
  std::thread([&] { KeSetEvent(static_cast<PKEVENT>(object), IO_NO_INCREMENT, FALSE); }).join();
  EXPECT_EQ(requestor.sets, 1);
  ObReferenceObject(object);
  ObDereferenceObject(object);
  EXPECT_EQ(requestor.released, 0);
  ObDereferenceObject(object);
  EXPECT_EQ(requestor.released, 1);
}

}  // namespace
