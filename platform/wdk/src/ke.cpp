// IRQL, spin locks, events, the bug check and debug output.
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "internal.h"
#include "wdk/ntddk.h"

using tavrin::wdk::internal::SetSignalState;
using tavrin::wdk::internal::SignalStateOf;

namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;

// Events keep their state in the driver's own memory (KEVENT is plain data that drivers zero, copy the
// address of and never destroy). One lock guards every dispatcher object, so that a wait can watch several
// objects at once; each sleeping thread has its own wait block, and a signal wakes only the threads
// watching that object (not every thread waiting anywhere in the kernel). What reads or changes one
// event's state alone, and wakes nobody, goes without the lock: most waits find their event set already.
thread_local char t_waitToken;  // who owns a kernel mutex, and whose wait a block is

struct WaitBlock {
  std::condition_variable wake;
  PVOID* objects;
  ULONG count;
  WaitBlock* next;
  WaitBlock* previous;
  std::atomic<int> notifying{0};  // wakers that chose this block and have not notified it yet
  const char* owner = &t_waitToken;
  int wakeFd = -1;  // an eventfd the waiter watches instead of `wake` while it carries other work
};

// This thread's eventfd for the waits that carry the transport's work.
int ThreadWakeFd() {
  struct Fd {
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Fd() { ::close(fd); }
  };
  thread_local Fd fd;
  return fd.fd;
}

std::atomic<tavrin::wdk::internal::WaitCarrier> g_carrier{nullptr};

// The threads a signal wakes, chosen under the lock and notified once it is released, so that a woken
// thread does not run into the lock its waker still holds. A block stays until its wakers are done.
class Wakes {
 public:
  Wakes() = default;
  Wakes(const Wakes&) = delete;
  ~Wakes() { Notify(); }
  void Add(WaitBlock* w) {
    if (w->owner == &t_waitToken) return;  // a waiter carrying work signals itself: it looks anyway
    if (count_ == kMax) {
      Wake(w, w->wakeFd);  // still under the lock
      return;
    }
    w->notifying.fetch_add(1, std::memory_order_relaxed);
    blocks_[count_] = w;
    fds_[count_++] = w->wakeFd;  // as chosen: the waiter may go back to its condition variable meanwhile
  }
  void Notify() {
    for (int i = 0; i < count_; ++i) {
      Wake(blocks_[i], fds_[i]);
      blocks_[i]->notifying.fetch_sub(1, std::memory_order_release);
    }
    count_ = 0;
  }

 private:
  static void Wake(WaitBlock* w, int fd) {
    if (fd < 0) {
      w->wake.notify_one();
      return;
    }
    uint64_t one = 1;
    if (::write(fd, &one, sizeof one) < 0) {
    }
  }
  static constexpr int kMax = 8;
  WaitBlock* blocks_[kMax];
  int fds_[kMax];
  int count_ = 0;
};

struct Dispatcher {
  std::mutex lock;
  WaitBlock* waiters = nullptr;  // threads sleeping in a wait

  void WakeWatchersLocked(const DISPATCHER_HEADER* object, Wakes& wakes) {
    for (WaitBlock* w = waiters; w; w = w->next)
      for (ULONG i = 0; i < w->count; ++i)
        if (w->objects[i] == object) {
          wakes.Add(w);
          break;
        }
  }
};
Dispatcher& TheDispatcher() {
  static auto* dispatcher = new Dispatcher;  // never destroyed: waits may run during static teardown
  return *dispatcher;
}

tavrin::wdk::internal::UserEventObject* AsUserEvent(PRKEVENT event) {
  if (event->Header.Type != tavrin::wdk::internal::kUserEventType) return nullptr;
  return reinterpret_cast<tavrin::wdk::internal::UserEventObject*>(event);
}

std::mutex& DebugLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::function<void(const std::string&)>& DebugSink() {
  static auto* sink = new std::function<void(const std::string&)>;
  return *sink;
}

}  // namespace

[[noreturn]] void KeBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4) {
  std::fprintf(stderr, "*** STOP: 0x%08X (0x%zX, 0x%zX, 0x%zX, 0x%zX)\n", code, static_cast<size_t>(p1),
               static_cast<size_t>(p2), static_cast<size_t>(p3), static_cast<size_t>(p4));
  std::abort();
}

KIRQL KeGetCurrentIrql() { return t_irql; }

void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
  if (newIrql < t_irql) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, newIrql, 0, 0);
  *oldIrql = t_irql;
  t_irql = newIrql;
}

void KeLowerIrql(KIRQL newIrql) {
  if (newIrql > t_irql) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, newIrql, 1, 0);
  t_irql = newIrql;
}

void KeInitializeSpinLock(PKSPIN_LOCK spinLock) { std::atomic_ref<KSPIN_LOCK>(*spinLock).store(0); }

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock) {
  std::atomic_ref<KSPIN_LOCK> word(*spinLock);
  for (int spins = 0;; ++spins) {
    KSPIN_LOCK expected = 0;
    if (word.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
    if (spins > 64) std::this_thread::yield();
  }
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock) {
  std::atomic_ref<KSPIN_LOCK>(*spinLock).store(0, std::memory_order_release);
}

void KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql) {
  KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
  KeAcquireSpinLockAtDpcLevel(spinLock);
}

void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql) {
  KeReleaseSpinLockFromDpcLevel(spinLock);
  KeLowerIrql(newIrql);
}

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  // Nobody waits on an event being initialised.
  event->Header = DISPATCHER_HEADER{};
  event->Header.Type = static_cast<UCHAR>(type);
  SetSignalState(&event->Header, state ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
  if (auto* user = AsUserEvent(event)) {
    user->sink->Set();
    return 0;
  }
  Dispatcher& d = TheDispatcher();
  Wakes wakes;  // notified once the lock is released
  std::lock_guard guard(d.lock);
  LONG previous = std::atomic_ref<LONG>(event->Header.SignalState).exchange(1);
  if (!previous) d.WakeWatchersLocked(&event->Header, wakes);
  return previous;
}

LONG KeResetEvent(PRKEVENT event) {
  if (auto* user = AsUserEvent(event)) {
    user->sink->Reset();
    return 0;
  }
  return std::atomic_ref<LONG>(event->Header.SignalState).exchange(0);
}

void KeClearEvent(PRKEVENT event) { KeResetEvent(event); }

LONG KeReadStateEvent(PRKEVENT event) { return SignalStateOf(&event->Header); }

namespace {

bool Signalled(DISPATCHER_HEADER* h) {
  if (h->Type == kDispatcherMutex)
    return SignalStateOf(h) > 0 || reinterpret_cast<KMUTEX*>(h)->OwnerThread == &t_waitToken;
  return SignalStateOf(h) > 0;
}

void Acquire(DISPATCHER_HEADER* h) {
  if (h->Type == SynchronizationEvent) {
    SetSignalState(h, 0);
  } else if (h->Type == kDispatcherMutex) {
    auto* mutex = reinterpret_cast<KMUTEX*>(h);
    mutex->OwnerThread = &t_waitToken;
    mutex->Recursion++;
    SetSignalState(h, 0);
  } else if (h->Type == kDispatcherTimer && reinterpret_cast<KTIMER*>(h)->TimerType == SynchronizationTimer) {
    SetSignalState(h, 0);
  }
}

using Clock = std::chrono::steady_clock;

// A wait that ends within a few tens of microseconds (a request's round trip to a server on another core)
// costs less spun than slept: the sleeping thread's wake-up is most of such a wait. Each thread spins as
// long as its recent waits lasted, up to a bound, and stops spinning when its waits are long.
constexpr auto kMostSpin = std::chrono::microseconds(100);
thread_local Clock::duration t_spin{};

// Spins until the objects look signalled or this thread's spin is up; the caller looks again under the lock.
// The clock is read once every kSpinsPerClockRead looks (a read costs far more than a look).
constexpr int kSpinsPerClockRead = 32;
// Whether the objects look signalled, read without the lock.
struct Watched {
  PVOID* objects;
  ULONG count;
  WAIT_TYPE waitType;
  static bool LookOver(void* self) {
    auto* w = static_cast<Watched*>(self);
    ULONG set = 0;
    for (ULONG i = 0; i < w->count; ++i) set += SignalStateOf(static_cast<DISPATCHER_HEADER*>(w->objects[i])) > 0;
    return w->waitType == WaitAny ? set > 0 : set == w->count;
  }
};

void SpinFor(PVOID objects[], ULONG count, WAIT_TYPE waitType, Clock::time_point deadline) {
  Clock::time_point until = std::min(deadline, Clock::now() + t_spin);
  Watched watched{objects, count, waitType};
  for (;;) {
    for (int spin = 0; spin < kSpinsPerClockRead; ++spin) {
      if (Watched::LookOver(&watched)) return;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    if (Clock::now() >= until) return;
  }
}

// Learns from a wait that slept how long this thread's next spin may be.
void LearnSpin(Clock::duration waited) {
  t_spin = waited <= kMostSpin ? std::min<Clock::duration>(kMostSpin, waited * 2) : t_spin / 2;
  if (t_spin < std::chrono::microseconds(1)) t_spin = {};
}

void List(Dispatcher& d, WaitBlock& block, bool& listed) {
  if (listed) return;
  block.next = d.waiters;
  if (d.waiters) d.waiters->previous = &block;
  d.waiters = &block;
  listed = true;
}

Clock::time_point DeadlineOf(PLARGE_INTEGER timeout) {
  if (!timeout) return Clock::time_point::max();
  if (timeout->QuadPart <= 0) return Clock::now() + std::chrono::nanoseconds(-timeout->QuadPart * 100);
  // Absolute: 100 ns units since 1601.
  constexpr int64_t k1601To1970 = 116444736000000000LL;
  auto untilEpoch = std::chrono::nanoseconds((timeout->QuadPart - k1601To1970) * 100);
  return Clock::now() + (untilEpoch - std::chrono::system_clock::now().time_since_epoch());
}

}  // namespace

NTSTATUS KeWaitForMultipleObjects(ULONG count, PVOID objects[], WAIT_TYPE waitType, KWAIT_REASON, KPROCESSOR_MODE,
                                  BOOLEAN, PLARGE_INTEGER timeout, PKWAIT_BLOCK) {
  bool testOnly = timeout && timeout->QuadPart == 0;
  if (!testOnly && t_irql > APC_LEVEL) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, 0, 0, 2);
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) return STATUS_INVALID_PARAMETER;
  for (ULONG i = 0; i < count; ++i)
    if (AsUserEvent(static_cast<PRKEVENT>(objects[i]))) return STATUS_INVALID_PARAMETER;  // drivers only set those
  // A notification event already set: nothing to take from it.
  if (count == 1 && static_cast<DISPATCHER_HEADER*>(objects[0])->Type == NotificationEvent &&
      SignalStateOf(static_cast<DISPATCHER_HEADER*>(objects[0])) > 0)
    return STATUS_WAIT_0;
  Clock::time_point deadline = DeadlineOf(timeout);
  Dispatcher& d = TheDispatcher();
  std::unique_lock guard(d.lock);
  WaitBlock block{{}, objects, count, nullptr, nullptr, {}};
  bool listed = false, spun = testOnly || t_spin == Clock::duration{}, slept = false;
  // A wait at PASSIVE_LEVEL offers its thread to the transport: to carry a connection's work before it
  // spins, and once it has spun, also to wait for its turn at that work.
  int offers = testOnly || t_irql != PASSIVE_LEVEL ? 2 : 0;
  // A wait that slept tells the thread how long to spin next time.
  struct Learn {
    bool& slept;
    Clock::time_point start = Clock::now();
    ~Learn() {
      if (slept) LearnSpin(Clock::now() - start);
    }
  } learn{slept};
  // Off the list however the wait ends.
  struct Unlist {
    Dispatcher& d;
    WaitBlock& block;
    bool& listed;
    ~Unlist() {
      if (!listed) return;
      (block.previous ? block.previous->next : d.waiters) = block.next;
      if (block.next) block.next->previous = block.previous;
      // A waker that chose this block notifies it outside the lock: the block lives until it has.
      while (block.notifying.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    }
  } unlist{d, block, listed};
  for (;;) {
    if (waitType == WaitAny) {
      for (ULONG i = 0; i < count; ++i) {
        auto* h = static_cast<DISPATCHER_HEADER*>(objects[i]);
        if (Signalled(h)) {
          Acquire(h);
          return STATUS_WAIT_0 + static_cast<NTSTATUS>(i);
        }
      }
    } else {
      bool all = true;
      for (ULONG i = 0; i < count && all; ++i) all = Signalled(static_cast<DISPATCHER_HEADER*>(objects[i]));
      if (all) {
        for (ULONG i = 0; i < count; ++i) Acquire(static_cast<DISPATCHER_HEADER*>(objects[i]));
        return STATUS_WAIT_0;
      }
    }
    if (testOnly) return STATUS_TIMEOUT;
    if (offers == 0 || (offers == 1 && spun)) {
      const bool standBy = offers++ == 1;
      if (auto carrier = g_carrier.load(std::memory_order_acquire)) {
        List(d, block, listed);
        block.wakeFd = ThreadWakeFd();
        guard.unlock();
        Watched watched{objects, count, waitType};
        const bool carried = carrier(block.wakeFd, deadline, standBy, &Watched::LookOver, &watched);
        guard.lock();
        block.wakeFd = -1;
        if (carried) {
          offers = 2;
          spun = true;  // it has waited already
          slept = standBy;  // as long as a sleep would have
          if (Clock::now() >= deadline) testOnly = true;  // one last look
        }
        continue;  // a signal meanwhile went to the eventfd: look again before sleeping
      }
      offers = 2;
    }
    if (!spun) {
      spun = true;
      guard.unlock();
      SpinFor(objects, count, waitType, deadline);
      guard.lock();
      continue;  // signalled or not, it may have changed while the lock was free
    }
    List(d, block, listed);
    slept = true;
    if (deadline == Clock::time_point::max()) {
      block.wake.wait(guard);
    } else if (block.wake.wait_until(guard, deadline) == std::cv_status::timeout && Clock::now() >= deadline) {
      testOnly = true;  // one last look
    }
  }
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                               PLARGE_INTEGER timeout) {
  PVOID objects[1] = {object};
  return KeWaitForMultipleObjects(1, objects, WaitAny, reason, mode, alertable, timeout, nullptr);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
  if (t_irql > APC_LEVEL) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, 0, 0, 3);
  std::this_thread::sleep_until(DeadlineOf(interval));
  return STATUS_SUCCESS;
}

void KeInitializeMutex(PRKMUTEX mutex, ULONG) {
  std::lock_guard guard(TheDispatcher().lock);
  *mutex = KMUTEX{};
  mutex->Header.Type = kDispatcherMutex;
  mutex->Header.SignalState = 1;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN) {
  Dispatcher& d = TheDispatcher();
  Wakes wakes;
  std::lock_guard guard(d.lock);
  if (mutex->OwnerThread != &t_waitToken) KeBugCheckEx(0x39 /* THREAD_NOT_MUTEX_OWNER */, 0, 0, 0, 0);
  LONG previous = mutex->Header.SignalState;
  if (--mutex->Recursion == 0) {
    mutex->OwnerThread = nullptr;
    SetSignalState(&mutex->Header, 1);
    d.WakeWatchersLocked(&mutex->Header, wakes);
  }
  return previous;
}

void ExInitializeFastMutex(PFAST_MUTEX mutex) {
  mutex->Count = 1;
  mutex->Owner = nullptr;
  mutex->OldIrql = PASSIVE_LEVEL;
  KeInitializeEvent(&mutex->Event, SynchronizationEvent, TRUE);
}

void ExAcquireFastMutex(PFAST_MUTEX mutex) {
  if (t_irql > APC_LEVEL) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, 0, 0, 4);
  // Taking it twice on one thread would hang for ever: stop instead.
  if (__atomic_load_n(&mutex->Owner, __ATOMIC_RELAXED) == &t_waitToken)
    KeBugCheckEx(0xC4 /* DRIVER_VERIFIER_DETECTED_VIOLATION */, 0x3E, 0, 0, 0);
  KeWaitForSingleObject(&mutex->Event, Executive, KernelMode, FALSE, nullptr);
  KIRQL old;
  KeRaiseIrql(APC_LEVEL, &old);
  mutex->OldIrql = old;
  __atomic_store_n(&mutex->Owner, static_cast<PVOID>(&t_waitToken), __ATOMIC_RELAXED);
  __atomic_store_n(&mutex->Count, 0, __ATOMIC_RELAXED);
}

void ExReleaseFastMutex(PFAST_MUTEX mutex) {
  KIRQL old = mutex->OldIrql;
  __atomic_store_n(&mutex->Owner, nullptr, __ATOMIC_RELAXED);
  __atomic_store_n(&mutex->Count, 1, __ATOMIC_RELAXED);
  KeLowerIrql(old);
  KeSetEvent(&mutex->Event, IO_NO_INCREMENT, FALSE);
}

namespace tavrin::wdk::internal {

// Sets a dispatcher object's state and wakes its waiters (timers and threads).
void SignalObject(DISPATCHER_HEADER* header, LONG state) {
  Dispatcher& d = TheDispatcher();
  Wakes wakes;
  std::lock_guard guard(d.lock);
  SetSignalState(header, state);
  if (state) d.WakeWatchersLocked(header, wakes);
}

void SetWaitCarrier(WaitCarrier carrier) { g_carrier.store(carrier, std::memory_order_release); }

}  // namespace tavrin::wdk::internal

ULONG DbgPrint(PCSTR format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard guard(DebugLock());
  if (DebugSink()) {
    DebugSink()(text);
  } else if (std::getenv("TAVRIN_KDPRINT")) {
    std::fputs(text, stderr);
  }
  return static_cast<ULONG>(length < 0 ? 0 : length);
}

namespace tavrin::wdk {

void SetDebugOutput(std::function<void(const std::string& text)> sink) {
  std::lock_guard guard(DebugLock());
  DebugSink() = std::move(sink);
}

}  // namespace tavrin::wdk
