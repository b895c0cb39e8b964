// Pieces shared by the kernel stand-in's own sources.
#pragma once
#include <atomic>
#include <chrono>
#include <memory>

#include "wdk/kernel.h"
#include "wdk/wdm.h"

namespace tavrin::wdk::internal {

// Dispatcher type of an event that stands for a user process's event.
constexpr UCHAR kUserEventType = 0x7E;

// ---- Object manager: kernel objects (devices, files, referenced user events) carry a header with a
// reference count in front of their body.
enum class ObjectKind : uint32_t { Device = 1, File = 2, UserEvent = 3, Thread = 4, Key = 5, WorkItem = 6 };

struct alignas(16) ObjectHeader {
  uint32_t magic;
  ObjectKind kind;
  std::atomic<long> references;
  void (*destroy)(void* body);
};

// A zeroed body of `size` bytes with one reference; `destroy` runs when the last reference goes.
void* NewObject(ObjectKind kind, size_t size, void (*destroy)(void* body));
ObjectHeader* HeaderOf(const void* body);  // stops the kernel when body is no kernel object

struct UserEventObject {
  KEVENT event;  // first, so a PKEVENT to it is the object
  std::shared_ptr<UserEventSink> sink;
};

// ---- I/O manager
// A request for `device` (its stack size) that the host sends itself; PnP ones start as STATUS_NOT_SUPPORTED.
PIRP BuildIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor);
// A request built by the I/O manager stays allocated after its completion; its issuer frees it
// (IoFreeIrp), so that a cancel from another thread never reaches a freed request.
void KeepAfterCompletion(PIRP irp);
// Sends a request built by the host to `device` and waits for its completion.
IO_STATUS_BLOCK SendAndWait(PDEVICE_OBJECT device, PIRP irp);
void FreeDeviceObjectMemory(void* body);
// IoDeleteDevice marks a device while requests of other threads may be looking.
inline bool IsDeletePending(PDEVICE_OBJECT device) {
  return std::atomic_ref<BOOLEAN>(device->DeviceObjectExtension->DeletePending).load() != 0;
}

// Resolves a kernel handle (a thread or a transport file) to its object, referenced.
NTSTATUS ReferenceKernelHandle(HANDLE handle, POBJECT_TYPE type, PVOID* object);
// Sets a dispatcher object's state under the dispatcher lock and wakes its waiters.
void SignalObject(DISPATCHER_HEADER* header, LONG state);
// A dispatcher object's state changes under the dispatcher lock; waiters that spin read it without the lock.
inline void SetSignalState(DISPATCHER_HEADER* header, LONG state) {
  std::atomic_ref<LONG>(header->SignalState).store(state, std::memory_order_release);
}
inline LONG SignalStateOf(DISPATCHER_HEADER* header) {
  return std::atomic_ref<LONG>(header->SignalState).load(std::memory_order_acquire);
}
// A wait that would sleep first offers its thread to the transport (tdi.cpp), which may carry a connection's
// work with it until `over(context)` holds or `deadline` passes, woken through the eventfd `wake` when one of
// the wait's objects is signalled; with `standBy`, also when another thread carries it now (this one waits
// its turn). The carrier returns false when it has nothing for this thread: the wait then spins or sleeps as
// usual.
using WaitCarrier = bool (*)(int wake, std::chrono::steady_clock::time_point deadline, bool standBy,
                             bool (*over)(void*), void* context);
void SetWaitCarrier(WaitCarrier carrier);
// The executive's worker, timer and DPC threads: started with the first use, stopped with the kernel.
void StopExecutive();
// The stand-in TCP transport: closes every socket and joins its threads (with the kernel).
void StopTransport();
// What an IRP of a transport file object is for (address or connection, stand-in TCP).
bool IsTransportFile(PFILE_OBJECT file);
PDEVICE_OBJECT TransportDevice();

}  // namespace tavrin::wdk::internal
