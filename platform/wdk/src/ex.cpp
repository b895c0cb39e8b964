// The executive: timers and DPCs, work items, system threads, cancel, MDLs, the version, Zw registry
// reads and the power manager's few calls.
#include <cctype>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

#include "base/hive.h"
#include "internal.h"
#include "wdk/ntddk.h"

using namespace tavrin::wdk::internal;

struct IO_WORKITEM {
  PDEVICE_OBJECT Device;
};

struct KTHREAD {
  DISPATCHER_HEADER Header;  // signalled when the thread has ended
  std::thread Thread;
  PKSTART_ROUTINE Routine;
  PVOID Context;
  std::atomic<KPRIORITY> Priority;
};

namespace {

using Clock = std::chrono::steady_clock;
const ULONG kWorkItemTag = PoolTag("IoWk");
const ULONG kMdlTag = PoolTag("Mdl ");

int64_t NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

struct TimerOrder {
  bool operator()(const KTIMER* a, const KTIMER* b) const { return a->Due != b->Due ? a->Due < b->Due : a < b; }
};

struct Work {
  PIO_WORKITEM item;
  PIO_WORKITEM_ROUTINE routine;
  PVOID context;
};

// The threads of the executive. One lock guards the timer set, the DPC queue and the work queue.
struct ExecutiveThreads {
  std::mutex lock;
  std::condition_variable timersChanged, dpcsChanged, workChanged, dpcsDone;
  std::set<KTIMER*, TimerOrder> timers;
  std::deque<PKDPC> dpcs;
  uint64_t dpcsQueued = 0, dpcsRun = 0;
  std::deque<Work> work;
  int idleWorkers = 0;
  bool started = false, stopping = false;
  std::thread timerThread, dpcThread;
  std::list<std::thread> workers;

  void StartLocked() {
    if (started) return;
    started = true;
    stopping = false;
    timerThread = std::thread([this] { TimerLoop(); });
    dpcThread = std::thread([this] { DpcLoop(); });
  }

  void Stop() {
    std::list<std::thread> all;
    {
      std::lock_guard guard(lock);
      if (!started) return;
      stopping = true;
      timersChanged.notify_all();
      dpcsChanged.notify_all();
      workChanged.notify_all();
    }
    timerThread.join();
    dpcThread.join();
    {
      std::lock_guard guard(lock);
      all.swap(workers);
    }
    for (auto& t : all) t.join();
    std::lock_guard guard(lock);
    for (KTIMER* t : timers) t->Inserted = FALSE;
    timers.clear();
    for (PKDPC d : dpcs) d->Inserted = FALSE;
    dpcs.clear();
    dpcsRun = dpcsQueued;
    idleWorkers = 0;
    started = false;
    dpcsDone.notify_all();
  }

  bool QueueDpcLocked(PKDPC dpc, PVOID a1, PVOID a2) {
    if (dpc->Inserted) return false;
    StartLocked();
    dpc->Inserted = TRUE;
    dpc->SystemArgument1 = a1;
    dpc->SystemArgument2 = a2;
    dpcs.push_back(dpc);
    ++dpcsQueued;
    dpcsChanged.notify_all();
    return true;
  }

  void TimerLoop() {
    std::unique_lock guard(lock);
    while (!stopping) {
      if (timers.empty()) {
        timersChanged.wait(guard);
        continue;
      }
      KTIMER* first = *timers.begin();
      int64_t now = NowNs();
      if (first->Due > now) {
        timersChanged.wait_for(guard, std::chrono::nanoseconds(first->Due - now));
        continue;
      }
      timers.erase(timers.begin());
      first->Inserted = FALSE;
      if (first->Period > 0) {
        first->Due = now + int64_t{first->Period} * 1000000;
        first->Inserted = TRUE;
        timers.insert(first);
      }
      SignalObject(&first->Header, 1);
      if (first->Dpc) QueueDpcLocked(first->Dpc, nullptr, nullptr);
    }
  }

  void DpcLoop() {
    std::unique_lock guard(lock);
    for (;;) {
      dpcsChanged.wait(guard, [&] { return stopping || !dpcs.empty(); });
      if (dpcs.empty()) return;
      PKDPC dpc = dpcs.front();
      dpcs.pop_front();
      dpc->Inserted = FALSE;
      PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
      PVOID context = dpc->DeferredContext, a1 = dpc->SystemArgument1, a2 = dpc->SystemArgument2;
      guard.unlock();
      KIRQL old;
      KeRaiseIrql(DISPATCH_LEVEL, &old);
      routine(dpc, context, a1, a2);
      KeLowerIrql(old);
      guard.lock();
      ++dpcsRun;
      dpcsDone.notify_all();
    }
  }

  void WorkerLoop() {
    std::unique_lock guard(lock);
    for (;;) {
      ++idleWorkers;
      workChanged.wait(guard, [&] { return stopping || !work.empty(); });
      --idleWorkers;
      if (work.empty()) return;
      Work w = work.front();
      work.pop_front();
      guard.unlock();
      PDEVICE_OBJECT device = w.item->Device;
      w.routine(device, w.context);
      ObDereferenceObject(device);  // taken when the item was queued
      guard.lock();
    }
  }
};

ExecutiveThreads& Exec() {
  static auto* executive = new ExecutiveThreads;  // never destroyed: stopped with the kernel
  return *executive;
}

thread_local PKTHREAD t_currentThread = nullptr;
struct TerminateThread {};

OBJECT_TYPE* const kThreadType = reinterpret_cast<OBJECT_TYPE*>(static_cast<uintptr_t>(3));
POBJECT_TYPE g_threadType = kThreadType;

KSPIN_LOCK g_cancelLock = 0;

}  // namespace

POBJECT_TYPE* PsThreadType = &g_threadType;

namespace tavrin::wdk::internal {
void StopExecutive() { Exec().Stop(); }
}  // namespace tavrin::wdk::internal

// ---- Timers and DPCs -----------------------------------------------------------------------------------

void KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context) {
  *dpc = KDPC{};
  dpc->DeferredRoutine = routine;
  dpc->DeferredContext = context;
}

BOOLEAN KeInsertQueueDpc(PKDPC dpc, PVOID a1, PVOID a2) {
  ExecutiveThreads& e = Exec();
  std::lock_guard guard(e.lock);
  return e.QueueDpcLocked(dpc, a1, a2);
}

BOOLEAN KeRemoveQueueDpc(PKDPC dpc) {
  ExecutiveThreads& e = Exec();
  std::lock_guard guard(e.lock);
  if (!dpc->Inserted) return FALSE;
  for (auto it = e.dpcs.begin(); it != e.dpcs.end(); ++it) {
    if (*it == dpc) {
      e.dpcs.erase(it);
      break;
    }
  }
  dpc->Inserted = FALSE;
  ++e.dpcsRun;  // counts as done for a flush
  e.dpcsDone.notify_all();
  return TRUE;
}

void KeFlushQueuedDpcs() {
  ExecutiveThreads& e = Exec();
  std::unique_lock guard(e.lock);
  uint64_t target = e.dpcsQueued;
  e.dpcsDone.wait(guard, [&] { return e.dpcsRun >= target || !e.started; });
}

void KeInitializeTimer(PKTIMER timer) { KeInitializeTimerEx(timer, NotificationTimer); }

void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type) {
  *timer = KTIMER{};
  timer->Header.Type = kDispatcherTimer;
  timer->TimerType = static_cast<UCHAR>(type);
}

BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
  ExecutiveThreads& e = Exec();
  SignalObject(&timer->Header, 0);
  std::lock_guard guard(e.lock);
  e.StartLocked();
  BOOLEAN was = timer->Inserted;
  if (was) e.timers.erase(timer);
  int64_t due;
  if (dueTime.QuadPart <= 0) {
    due = NowNs() + (-dueTime.QuadPart) * 100;
  } else {
    constexpr int64_t k1601To1970 = 116444736000000000LL;
    int64_t untilEpoch = (dueTime.QuadPart - k1601To1970) * 100;
    int64_t wallNow =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    due = NowNs() + (untilEpoch - wallNow);
  }
  timer->Due = due;
  timer->Period = period;
  timer->Dpc = dpc;
  timer->Inserted = TRUE;
  e.timers.insert(timer);
  e.timersChanged.notify_all();
  return was;
}

BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc) { return KeSetTimerEx(timer, dueTime, 0, dpc); }

BOOLEAN KeCancelTimer(PKTIMER timer) {
  ExecutiveThreads& e = Exec();
  std::lock_guard guard(e.lock);
  BOOLEAN was = timer->Inserted;
  if (was) e.timers.erase(timer);
  timer->Inserted = FALSE;
  return was;
}

BOOLEAN KeReadStateTimer(PKTIMER timer) {
  LARGE_INTEGER zero{};
  zero.QuadPart = 0;
  // A notification timer stays signalled; testing it does not change it.
  return timer->TimerType == NotificationTimer
             ? KeWaitForSingleObject(timer, Executive, KernelMode, FALSE, &zero) == STATUS_SUCCESS
             : SignalStateOf(&timer->Header) > 0;
}

// ---- Work items ----------------------------------------------------------------------------------------

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject) {
  auto* item = static_cast<PIO_WORKITEM>(ExAllocatePoolWithTag(NonPagedPool, sizeof(IO_WORKITEM), kWorkItemTag));
  if (!item) return nullptr;
  item->Device = deviceObject;
  return item;
}

void IoFreeWorkItem(PIO_WORKITEM item) { ExFreePoolWithTag(item, kWorkItemTag); }

void IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE, PVOID context) {
  ObReferenceObject(item->Device);
  ExecutiveThreads& e = Exec();
  std::lock_guard guard(e.lock);
  e.StartLocked();
  e.work.push_back({item, routine, context});
  // A work routine may wait for a long time (a connection, another work item): never let the queue starve.
  if (e.idleWorkers == 0) {
    e.workers.emplace_back([&e] { e.WorkerLoop(); });
  } else {
    e.workChanged.notify_one();
  }
}

// ---- System threads ------------------------------------------------------------------------------------

NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE, CLIENT_ID*,
                              PKSTART_ROUTINE startRoutine, PVOID startContext) {
  void* body = NewObject(ObjectKind::Thread, sizeof(KTHREAD), [](void* p) {
    auto* thread = static_cast<KTHREAD*>(p);
    if (thread->Thread.joinable()) {
      if (thread->Thread.get_id() == std::this_thread::get_id()) {
        thread->Thread.detach();  // its last reference went on the thread itself, which is ending
      } else {
        thread->Thread.join();
      }
    }
    thread->~KTHREAD();
  });
  if (!body) return STATUS_INSUFFICIENT_RESOURCES;
  auto* thread = new (body) KTHREAD{};
  thread->Header.Type = kDispatcherThread;
  thread->Routine = startRoutine;
  thread->Context = startContext;
  thread->Priority = 8;
  ObReferenceObject(thread);  // the running thread's own
  thread->Thread = std::thread([thread] {
    t_currentThread = thread;
    try {
      thread->Routine(thread->Context);
    } catch (const TerminateThread&) {
    }
    t_currentThread = nullptr;
    SignalObject(&thread->Header, 1);
    ObDereferenceObject(thread);
  });
  *threadHandle = thread;  // the handle's reference is the creation one
  return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS) {
  if (!t_currentThread) return STATUS_INVALID_PARAMETER;
  throw TerminateThread{};
}

PKTHREAD KeGetCurrentThread() { return t_currentThread; }

KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority) {
  if (!thread) return 0;
  return thread->Priority.exchange(priority);  // recorded; the host schedules every thread alike
}

KPRIORITY KeQueryPriorityThread(PKTHREAD thread) { return thread ? thread->Priority.load() : 0; }

NTSTATUS ZwClose(HANDLE handle) {
  if (!handle) return STATUS_INVALID_HANDLE;
  ObDereferenceObject(handle);
  return STATUS_SUCCESS;
}

namespace tavrin::wdk::internal {
// Kernel handles are referenced objects; resolving one of the wanted kind adds a reference.
NTSTATUS ReferenceKernelHandle(HANDLE handle, POBJECT_TYPE type, PVOID* object) {
  if (!handle) return STATUS_INVALID_HANDLE;
  ObjectHeader* header = HeaderOf(handle);
  bool match = (type == *PsThreadType && header->kind == ObjectKind::Thread) ||
               (type == *IoFileObjectType && header->kind == ObjectKind::File);
  if (!match) return STATUS_OBJECT_TYPE_MISMATCH;
  ObReferenceObject(handle);
  *object = handle;
  return STATUS_SUCCESS;
}
}  // namespace tavrin::wdk::internal

// ---- Cancel --------------------------------------------------------------------------------------------

PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
  return __atomic_exchange_n(&irp->CancelRoutine, routine, __ATOMIC_SEQ_CST);
}

void IoAcquireCancelSpinLock(PKIRQL irql) { KeAcquireSpinLock(&g_cancelLock, irql); }
void IoReleaseCancelSpinLock(KIRQL irql) { KeReleaseSpinLock(&g_cancelLock, irql); }

BOOLEAN IoCancelIrp(PIRP irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  __atomic_store_n(&irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
  PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
  if (!routine) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  irp->CancelIrql = irql;
  routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);  // releases the cancel lock
  return TRUE;
}

// ---- MDLs ----------------------------------------------------------------------------------------------

PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN, BOOLEAN, PIRP irp) {
  auto* mdl = static_cast<PMDL>(ExAllocatePoolWithTag(NonPagedPool, sizeof(MDL), kMdlTag));
  if (!mdl) return nullptr;
  *mdl = MDL{nullptr, virtualAddress, length, FALSE};
  if (irp && !irp->MdlAddress) irp->MdlAddress = mdl;
  return mdl;
}

void IoFreeMdl(PMDL mdl) { ExFreePoolWithTag(mdl, kMdlTag); }
void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE, LOCK_OPERATION) { mdl->Locked = TRUE; }
void MmUnlockPages(PMDL mdl) { mdl->Locked = FALSE; }
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, MM_PAGE_PRIORITY) { return mdl ? mdl->StartVa : nullptr; }

// ---- Version -------------------------------------------------------------------------------------------

NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW info) {
  if (!info) return STATUS_INVALID_PARAMETER;
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = 2;
  info->szCSDVersion[0] = 0;
  if (info->dwOSVersionInfoSize >= sizeof(RTL_OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<RTL_OSVERSIONINFOEXW*>(info);
    ex->wServicePackMajor = 0;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = 1;
  }
  return STATUS_SUCCESS;
}

// ---- Zw registry ---------------------------------------------------------------------------------------

namespace {

namespace hive = tavrin::base::hive;

// An open key: where it is in the machine's hive.
struct KeyObject {
  hive::KeyPath path;
};

}  // namespace

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES attributes) {
  if (!keyHandle || !attributes || !attributes->ObjectName || !attributes->ObjectName->Buffer)
    return STATUS_INVALID_PARAMETER;
  std::string name = tavrin::wdk::Narrow(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(WCHAR));
  static const std::string kMachine = "\\REGISTRY\\MACHINE\\";
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.rfind(kMachine, 0) != 0) return STATUS_OBJECT_NAME_NOT_FOUND;
  hive::KeyPath path{hive::kMachineRoot};
  std::string_view rest = std::string_view(name).substr(kMachine.size());
  while (!rest.empty()) {
    size_t sep = rest.find('\\');
    if (sep != 0) path.emplace_back(rest.substr(0, sep));
    rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
  }
  bool found = false;
  hive::Read([&](hive::Key& root) { found = hive::Find(root, path) != nullptr; });
  if (!found) return STATUS_OBJECT_NAME_NOT_FOUND;
  void* body = NewObject(ObjectKind::Key, sizeof(KeyObject), [](void* p) { static_cast<KeyObject*>(p)->~KeyObject(); });
  if (!body) return STATUS_INSUFFICIENT_RESOURCES;
  new (body) KeyObject{std::move(path)};
  *keyHandle = body;
  return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, KEY_VALUE_INFORMATION_CLASS infoClass,
                         PVOID information, ULONG length, PULONG resultLength) {
  if (!keyHandle || HeaderOf(keyHandle)->kind != ObjectKind::Key) return STATUS_INVALID_HANDLE;
  if (infoClass != KeyValuePartialInformation) return STATUS_INVALID_PARAMETER;
  const hive::KeyPath& path = static_cast<KeyObject*>(keyHandle)->path;
  std::string name = valueName && valueName->Buffer ? tavrin::wdk::Narrow(valueName->Buffer, valueName->Length / sizeof(WCHAR)) : "";
  std::optional<hive::Value> value;
  hive::Read([&](hive::Key& root) {
    hive::Key* key = hive::Find(root, path);
    if (const hive::Value* found = key ? key->FindValue(name) : nullptr) value = *found;
  });
  if (!value) return STATUS_OBJECT_NAME_NOT_FOUND;
  const std::string data = hive::AnsweredData(*value);
  ULONG needed = static_cast<ULONG>(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + data.size());
  if (resultLength) *resultLength = needed;
  if (length < needed) return STATUS_BUFFER_TOO_SMALL;
  auto* partial = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(information);
  RtlCopyMemory(partial->Data, data.data(), data.size());
  partial->TitleIndex = 0;
  partial->Type = value->type;
  partial->DataLength = static_cast<ULONG>(data.size());
  return STATUS_SUCCESS;
}

// ---- Power ---------------------------------------------------------------------------------------------

void PoStartNextPowerIrp(PIRP) {}
NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) { return IoCallDriver(deviceObject, irp); }
POWER_STATE PoSetPowerState(PDEVICE_OBJECT, POWER_STATE_TYPE, POWER_STATE state) { return state; }
