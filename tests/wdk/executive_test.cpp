// The executive's services the bus driver relies on: timers and DPCs, work items, system threads and
// multi-object waits, kernel and fast mutexes, the Zw registry, and the TCP transport's requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "testsupport/machine_settings.h"
#include "testsupport/sysroot.h"
#include "transport_support.h"
#include "wdk/kernel.h"
#include "wdk/tdi.h"

namespace {

using namespace std::chrono_literals;

using wdk_test::OpenTcp;
using wdk_test::Relative;

struct DpcRecord {
  KEVENT ran;
  std::atomic<KIRQL> irql{0xFF};
  std::atomic<int> count{0};
};

void RecordDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto* r = static_cast<DpcRecord*>(context);
  r->irql = KeGetCurrentIrql();
  r->count++;
  KeSetEvent(&r->ran, IO_NO_INCREMENT, FALSE);
}

TEST(TimerTest, ADueTimerQueuesItsDpcAtDispatchLevelAndACancelledOneDoesNot) {
  DpcRecord record;
  KeInitializeEvent(&record.ran, NotificationEvent, FALSE);
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, RecordDpc, &record);
  EXPECT_FALSE(KeSetTimer(&timer, Relative(5000ms), &dpc));
  EXPECT_TRUE(KeSetTimer(&timer, Relative(10ms), &dpc));  // armed already: set anew, sooner
  ASSERT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  ASSERT_EQ(KeWaitForSingleObject(&record.ran, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(record.irql.load(), DISPATCH_LEVEL);
  EXPECT_FALSE(KeCancelTimer(&timer));  // fired: no longer in the queue

  KeSetTimer(&timer, Relative(30ms), &dpc);
  EXPECT_TRUE(KeCancelTimer(&timer));
  LARGE_INTEGER wait = Relative(80ms);
  EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &wait), STATUS_TIMEOUT);
  KeFlushQueuedDpcs();
  EXPECT_EQ(record.count.load(), 1);
}

struct WorkRecord {
  KEVENT done;
  PDEVICE_OBJECT device = nullptr;
  KIRQL irql = 0xFF;
  std::thread::id thread;
};

TEST(WorkItemTest, RunsOnAWorkerAtPassiveLevelWithItsDevice) {
  DRIVER_OBJECT driver{};
  PDEVICE_OBJECT device = nullptr;
  ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
  WorkRecord record;
  KeInitializeEvent(&record.done, NotificationEvent, FALSE);
  PIO_WORKITEM item = IoAllocateWorkItem(device);
  ASSERT_NE(item, nullptr);
  IoQueueWorkItem(
      item,
      [](PDEVICE_OBJECT d, PVOID context) {
        auto* r = static_cast<WorkRecord*>(context);
        r->device = d;
        r->irql = KeGetCurrentIrql();
        r->thread = std::this_thread::get_id();
        KeSetEvent(&r->done, IO_NO_INCREMENT, FALSE);
      },
      DelayedWorkQueue, &record);
  KeWaitForSingleObject(&record.done, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(record.device, device);
  EXPECT_EQ(record.irql, PASSIVE_LEVEL);
  EXPECT_NE(record.thread, std::this_thread::get_id());
  IoFreeWorkItem(item);
  IoDeleteDevice(device);
}

TEST(ThreadTest, WaitsOnThreadsAndOnSeveralObjects) {
  KEVENT go, other;
  KeInitializeEvent(&go, NotificationEvent, FALSE);
  KeInitializeEvent(&other, SynchronizationEvent, FALSE);
  HANDLE handle = nullptr;
  ASSERT_EQ(PsCreateSystemThread(
                &handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                [](PVOID context) {
                  KeSetPriorityThread(KeGetCurrentThread(), HIGH_PRIORITY);
                  KeWaitForSingleObject(context, Executive, KernelMode, FALSE, nullptr);
                },
                &go),
            STATUS_SUCCESS);
  PVOID thread = nullptr;
  ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr),
            STATUS_SUCCESS);
  ZwClose(handle);
  PVOID objects[2] = {&other, thread};
  LARGE_INTEGER shortWait = Relative(20ms);
  EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &shortWait, nullptr),
            STATUS_TIMEOUT);
  KeSetEvent(&other, IO_NO_INCREMENT, FALSE);
  EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr), STATUS_WAIT_0);
  EXPECT_EQ(KeReadStateEvent(&other), 0);  // a synchronisation event goes back to not signalled
  KeSetEvent(&go, IO_NO_INCREMENT, FALSE);
  EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr),
            STATUS_WAIT_0 + 1);
  KeSetEvent(&other, IO_NO_INCREMENT, FALSE);
  EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, nullptr, nullptr), STATUS_WAIT_0);
  ObDereferenceObject(thread);
}

TEST(MutexTest, KernelMutexIsRecursiveForItsOwnerAndFastMutexRaisesToApcLevel) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
  KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
  std::atomic<bool> taken{false};
  std::thread other([&] {
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    taken = true;
    KeReleaseMutex(&mutex, FALSE);
  });
  KeReleaseMutex(&mutex, FALSE);
  LARGE_INTEGER test{};
  EXPECT_FALSE(taken.load());  // still held once
  KeReleaseMutex(&mutex, FALSE);
  other.join();
  EXPECT_TRUE(taken.load());
  EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &test), STATUS_SUCCESS);
  KeReleaseMutex(&mutex, FALSE);

  FAST_MUTEX fast;
  ExInitializeFastMutex(&fast);
  ExAcquireFastMutex(&fast);
  EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
  ExReleaseFastMutex(&fast);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

class ZwRegistryTest : public tavrin::test::SysrootTest {};

TEST_F(ZwRegistryTest, ValuesOfAServiceKeyAreReadWithTheirTypeAndASmallBufferSaysTheSize) {
  ASSERT_TRUE(tavrin::test::SetMachineDword("SYSTEM\\CurrentControlSet\\Services\\VUSB\\Parameters", "MaxPipeCount", 7));
  UNICODE_STRING name;
  static char16_t kKey[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\VUSB\\Parameters";
  RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(kKey));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  HANDLE key = nullptr;
  ASSERT_EQ(ZwOpenKey(&key, KEY_QUERY_VALUE_ACCESS, &attributes), STATUS_SUCCESS);
  UNICODE_STRING value;
  static char16_t kValue[] = u"MaxPipeCount";
  RtlInitUnicodeString(&value, reinterpret_cast<PCWSTR>(kValue));
  alignas(8) UCHAR small[8];
  ULONG needed = 0;
  EXPECT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, small, sizeof small, &needed), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(needed, offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + 4);
  alignas(8) UCHAR buffer[32];
  ASSERT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof buffer, &needed), STATUS_SUCCESS);
  auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
  EXPECT_EQ(info->Type, REG_DWORD);
  ULONG read;
  std::memcpy(&read, info->Data, 4);
  EXPECT_EQ(read, 7u);
  static char16_t kMissing[] = u"NoSuchValue";
  RtlInitUnicodeString(&value, reinterpret_cast<PCWSTR>(kMissing));
  EXPECT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof buffer, &needed),
            STATUS_OBJECT_NAME_NOT_FOUND);
  ZwClose(key);
}

// ---- The TCP transport

struct Transport {
  HANDLE addressHandle = nullptr, connectionHandle = nullptr;
  PFILE_OBJECT address = nullptr, connection = nullptr;
};

// A request waited for; with `kept`, left pending with the caller's event and status block.
template <class Fill>
NTSTATUS Request(PFILE_OBJECT file, UCHAR minor, Fill fill, PIRP* kept = nullptr, PKEVENT keptEvent = nullptr,
                 PIO_STATUS_BLOCK keptIosb = nullptr) {
  PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
  KEVENT event;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(0, device, nullptr, 0, nullptr, 0, TRUE, kept ? keptEvent : &event,
                                           kept ? keptIosb : &iosb);
  TdiBuildRequest(irp, device, file, minor, nullptr, nullptr);
  fill(irp);
  if (kept) *kept = irp;
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING && !kept) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = iosb.Status;
  }
  return status;
}

struct Disconnects {
  std::atomic<int> count{0};
  std::atomic<ULONG> flags{0};
};

NTSTATUS OnDisconnect(PVOID context, PVOID, LONG, PVOID, LONG, PVOID, ULONG flags) {
  auto* d = static_cast<Disconnects*>(context);
  d->flags = flags;
  d->count++;
  return STATUS_SUCCESS;
}

TEST(TransportTest, ConnectSendReceiveCancelAndThePeersCloseReachTheOwner) {
  sockaddr_in at;
  int listener = wdk_test::ListenOnLoopback(&at);
  ASSERT_GE(listener, 0);

  Transport t;
  ASSERT_EQ(OpenTcp(TdiTransportAddress, sizeof(TA_IP_ADDRESS), &t.addressHandle, &t.address), STATUS_SUCCESS);
  ASSERT_EQ(OpenTcp(TdiConnectionContext, 8, &t.connectionHandle, &t.connection), STATUS_SUCCESS);
  ASSERT_EQ(Request(t.connection, TDI_ASSOCIATE_ADDRESS,
                    [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_ASSOCIATE{t.addressHandle, nullptr}); }),
            STATUS_SUCCESS);
  Disconnects disconnects;
  ASSERT_EQ(Request(t.address, TDI_SET_EVENT_HANDLER,
                    [&](PIRP irp) {
                      TdiSetParameters(irp, TDI_REQUEST_KERNEL_SET_EVENT{
                                                TDI_EVENT_DISCONNECT, reinterpret_cast<PVOID>(&OnDisconnect), &disconnects});
                    }),
            STATUS_SUCCESS);
  TA_IP_ADDRESS remote = wdk_test::TransportAddress(at);
  TDI_CONNECTION_INFORMATION info{};
  info.RemoteAddressLength = sizeof remote;
  info.RemoteAddress = &remote;
  ASSERT_EQ(Request(t.connection, TDI_CONNECT,
                    [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_CONNECT{0, &info, nullptr, nullptr}); }),
            STATUS_SUCCESS);
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 1);
  int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  char hello[] = "hello";
  PMDL mdl = IoAllocateMdl(hello, 5, FALSE, FALSE, nullptr);
  ASSERT_EQ(Request(t.connection, TDI_SEND,
                    [&](PIRP irp) {
                      TdiSetParameters(irp, TDI_REQUEST_KERNEL_SEND{5, 0});
                      irp->MdlAddress = mdl;
                    }),
            STATUS_SUCCESS);
  IoFreeMdl(mdl);
  char got[8] = {};
  EXPECT_EQ(::recv(peer, got, sizeof got, 0), 5);

  // A receive waits for data; cancelled, it ends as cancelled.
  char room[16];
  mdl = IoAllocateMdl(room, sizeof room, FALSE, FALSE, nullptr);
  PIRP pending = nullptr;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK result{};
  EXPECT_EQ(Request(
                t.connection, TDI_RECEIVE,
                [&](PIRP irp) {
                  TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{sizeof room, TDI_RECEIVE_NORMAL});
                  irp->MdlAddress = mdl;
                },
                &pending, &done, &result),
            STATUS_PENDING);
  EXPECT_TRUE(IoCancelIrp(pending));
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(result.Status, STATUS_CANCELLED);

  // The peer's close ends the next receive with no bytes and tells the address's handler.
  ::close(peer);
  IO_STATUS_BLOCK last{};
  KeClearEvent(&done);
  EXPECT_EQ(Request(
                t.connection, TDI_RECEIVE,
                [&](PIRP irp) {
                  TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{sizeof room, TDI_RECEIVE_NORMAL});
                  irp->MdlAddress = mdl;
                },
                &pending, &done, &last),
            STATUS_PENDING);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(last.Status, STATUS_SUCCESS);
  EXPECT_EQ(last.Information, 0u);
  EXPECT_EQ(disconnects.count.load(), 1);
  EXPECT_EQ(disconnects.flags.load(), TDI_DISCONNECT_RELEASE);
  IoFreeMdl(mdl);

  EXPECT_EQ(Request(t.connection, TDI_DISCONNECT, [](PIRP) {}), STATUS_SUCCESS);
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
  EXPECT_EQ(Request(t.connection, TDI_DISASSOCIATE_ADDRESS, [](PIRP) {}), STATUS_SUCCESS);
  ObDereferenceObject(t.connection);
  ZwClose(t.connectionHandle);
  ObDereferenceObject(t.address);
  ZwClose(t.addressHandle);
  ::close(listener);
}

}  // namespace
