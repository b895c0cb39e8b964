// IRQL, spin locks, events, the bug check and debug output.
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "internal.h"

namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;

// Events keep their state in the driver's own memory (KEVENT is plain data that drivers zero, copy the
// address of and never destroy); the waiting happens on a few shared mutex/condition pairs picked by address.
struct WaitStripe {
  std::mutex lock;
  std::condition_variable changed;
};
constexpr size_t kStripes = 64;
WaitStripe& StripeOf(const void* object) {
  static auto* stripes = new WaitStripe[kStripes];  // never destroyed: waits may run during static teardown
  return stripes[(reinterpret_cast<uintptr_t>(object) >> 4) % kStripes];
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
  auto& stripe = StripeOf(event);
  std::lock_guard guard(stripe.lock);
  event->Header = DISPATCHER_HEADER{};
  event->Header.Type = static_cast<UCHAR>(type);
  event->Header.SignalState = state ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
  if (auto* user = AsUserEvent(event)) {
    user->sink->Set();
    return 0;
  }
  auto& stripe = StripeOf(event);
  std::lock_guard guard(stripe.lock);
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  stripe.changed.notify_all();
  return previous;
}

LONG KeResetEvent(PRKEVENT event) {
  if (auto* user = AsUserEvent(event)) {
    user->sink->Reset();
    return 0;
  }
  auto& stripe = StripeOf(event);
  std::lock_guard guard(stripe.lock);
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 0;
  return previous;
}

void KeClearEvent(PRKEVENT event) { KeResetEvent(event); }

LONG KeReadStateEvent(PRKEVENT event) {
  auto& stripe = StripeOf(event);
  std::lock_guard guard(stripe.lock);
  return event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout) {
  auto* event = static_cast<PRKEVENT>(object);
  bool testOnly = timeout && timeout->QuadPart == 0;
  if (!testOnly && t_irql > APC_LEVEL) KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, t_irql, 0, 0, 2);
  if (AsUserEvent(event)) return STATUS_INVALID_PARAMETER;  // drivers only set user events

  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::time_point::max();
  if (timeout && timeout->QuadPart < 0) {
    deadline = Clock::now() + std::chrono::nanoseconds(-timeout->QuadPart * 100);
  } else if (timeout && timeout->QuadPart > 0) {
    // Absolute: 100 ns units since 1601.
    constexpr int64_t k1601To1970 = 116444736000000000LL;
    auto untilEpoch = std::chrono::nanoseconds((timeout->QuadPart - k1601To1970) * 100);
    deadline = Clock::now() + (untilEpoch - std::chrono::system_clock::now().time_since_epoch());
  }

  auto& stripe = StripeOf(event);
  std::unique_lock guard(stripe.lock);
  while (event->Header.SignalState == 0) {
    if (testOnly) return STATUS_TIMEOUT;
    if (deadline == Clock::time_point::max()) {
      stripe.changed.wait(guard);
    } else if (stripe.changed.wait_until(guard, deadline) == std::cv_status::timeout &&
               event->Header.SignalState == 0) {
      return STATUS_TIMEOUT;
    }
  }
  if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
  return STATUS_SUCCESS;
}

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
