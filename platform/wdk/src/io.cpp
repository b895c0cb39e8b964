// I/O manager: device objects and their stacks, IRPs, IoCallDriver and IoCompleteRequest with completion
// routines, and the requests it builds itself.
#include <algorithm>
#include <mutex>
#include <new>

#include "internal.h"

using namespace tavrin::wdk::internal;

struct IrpHostData {
  bool buffered;
  PVOID output;
  ULONG outputLength;
  bool kept;  // the issuer frees the IRP after its completion
};

namespace {

constexpr CSHORT kIoTypeDevice = 3;
constexpr CSHORT kIoTypeIrp = 6;
const ULONG kIrpTag = PoolTag("Irp ");
const ULONG kIoBufferTag = PoolTag("IoBf");

// Guards device lists and the links of device stacks.
std::mutex& StackLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

void FinishIrp(PIRP irp) {
  IrpHostData* host = irp->HostData;
  if (!host) {
    // A driver's own IRP came back all the way: it is done, so completing it again is a fault.
    irp->CurrentLocation = static_cast<CCHAR>(irp->StackCount + 2);
    return;
  }
  if (host->buffered && irp->AssociatedIrp.SystemBuffer) {
    if (!NT_ERROR(irp->IoStatus.Status) && host->output) {
      SIZE_T length = std::min<ULONG_PTR>(irp->IoStatus.Information, host->outputLength);
      RtlCopyMemory(host->output, irp->AssociatedIrp.SystemBuffer, length);
    }
    ExFreePoolWithTag(irp->AssociatedIrp.SystemBuffer, kIoBufferTag);
  }
  if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
  PKEVENT event = irp->UserEvent;
  const bool kept = host->kept;
  ExFreePoolWithTag(host, kIoBufferTag);
  irp->HostData = nullptr;
  if (!kept) IoFreeIrp(irp);
  if (event) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

bool RoutineApplies(PIRP irp, UCHAR control) {
  if (__atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) && (control & SL_INVOKE_ON_CANCEL)) return true;
  return NT_SUCCESS(irp->IoStatus.Status) ? (control & SL_INVOKE_ON_SUCCESS) : (control & SL_INVOKE_ON_ERROR);
}

}  // namespace

// ---- Devices -----------------------------------------------------------------------------------------------

namespace tavrin::wdk::internal {
void FreeDeviceObjectMemory(void*) {}  // the object manager frees the block
}

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING,
                        DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject) {
  size_t extensionOffset = (sizeof(DEVICE_OBJECT) + sizeof(DEVOBJ_EXTENSION) + 15) / 16 * 16;
  void* body = NewObject(ObjectKind::Device, extensionOffset + deviceExtensionSize, FreeDeviceObjectMemory);
  if (!body) return STATUS_INSUFFICIENT_RESOURCES;
  auto* device = new (body) DEVICE_OBJECT{};
  auto* objectExtension = new (reinterpret_cast<char*>(body) + sizeof(DEVICE_OBJECT)) DEVOBJ_EXTENSION{};
  objectExtension->DeviceObject = device;
  device->Type = kIoTypeDevice;
  device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT));
  device->DriverObject = driverObject;
  device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
  device->Characteristics = deviceCharacteristics;
  device->DeviceExtension = deviceExtensionSize ? reinterpret_cast<char*>(body) + extensionOffset : nullptr;
  device->DeviceType = deviceType;
  device->StackSize = 1;
  device->DeviceObjectExtension = objectExtension;
  {
    std::lock_guard guard(StackLock());
    device->NextDevice = driverObject->DeviceObject;
    driverObject->DeviceObject = device;
  }
  *deviceObject = device;
  return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
  {
    std::lock_guard guard(StackLock());
    for (PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject; *link; link = &(*link)->NextDevice) {
      if (*link == deviceObject) {
        *link = deviceObject->NextDevice;
        break;
      }
    }
    deviceObject->NextDevice = nullptr;
    std::atomic_ref<BOOLEAN>(deviceObject->DeviceObjectExtension->DeletePending).store(TRUE);
  }
  ObDereferenceObject(deviceObject);  // the creation reference
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice, PDEVICE_OBJECT targetDevice) {
  std::lock_guard guard(StackLock());
  PDEVICE_OBJECT top = targetDevice;
  while (top->AttachedDevice) top = top->AttachedDevice;
  if (IsDeletePending(top)) return nullptr;
  top->AttachedDevice = sourceDevice;
  sourceDevice->DeviceObjectExtension->AttachedTo = top;
  sourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  return top;
}

void IoDetachDevice(PDEVICE_OBJECT targetDevice) {
  std::lock_guard guard(StackLock());
  if (PDEVICE_OBJECT above = targetDevice->AttachedDevice) above->DeviceObjectExtension->AttachedTo = nullptr;
  targetDevice->AttachedDevice = nullptr;
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject) {
  std::lock_guard guard(StackLock());
  while (deviceObject->AttachedDevice) deviceObject = deviceObject->AttachedDevice;
  return deviceObject;
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject) {
  std::lock_guard guard(StackLock());
  while (deviceObject->AttachedDevice) deviceObject = deviceObject->AttachedDevice;
  ObReferenceObject(deviceObject);
  return deviceObject;
}

// ---- IRPs --------------------------------------------------------------------------------------------------

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
  if (stackSize < 1) stackSize = 1;
  size_t size = sizeof(IRP) + sizeof(IO_STACK_LOCATION) * stackSize;
  auto* irp = static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPool, size, kIrpTag));
  if (!irp) return nullptr;
  RtlZeroMemory(irp, size);
  irp->Type = kIoTypeIrp;
  irp->Size = static_cast<USHORT>(size);
  irp->StackCount = stackSize;
  irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
  irp->Stack = reinterpret_cast<IO_STACK_LOCATION*>(irp + 1);
  irp->Tail.Overlay.CurrentStackLocation = irp->Stack + stackSize;
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  return irp;
}

void IoFreeIrp(PIRP irp) {
  irp->Type = 0;
  ExFreePoolWithTag(irp, kIrpTag);
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
  PIRP irp = IoAllocateIrp(deviceObject->StackSize, FALSE);
  if (!irp) return nullptr;
  auto* host = static_cast<IrpHostData*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(IrpHostData), kIoBufferTag));
  if (!host) {
    IoFreeIrp(irp);
    return nullptr;
  }
  *host = IrpHostData{METHOD_FROM_CTL_CODE(ioControlCode) == METHOD_BUFFERED, outputBuffer, outputBufferLength, false};
  irp->HostData = host;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
  next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
  next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
  if (host->buffered) {
    ULONG length = std::max(inputBufferLength, outputBufferLength);
    if (length) {
      irp->AssociatedIrp.SystemBuffer = ExAllocatePoolWithTag(NonPagedPool, length, kIoBufferTag);
      if (!irp->AssociatedIrp.SystemBuffer) {
        ExFreePoolWithTag(host, kIoBufferTag);
        IoFreeIrp(irp);
        return nullptr;
      }
      // What the input does not fill starts zeroed (a large transfer's buffer is written once, not twice).
      auto* system = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
      const ULONG copied = inputBuffer ? inputBufferLength : 0;
      if (copied) RtlCopyMemory(system, inputBuffer, copied);
      RtlZeroMemory(system + copied, length - copied);
    }
  } else {
    next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
    irp->UserBuffer = outputBuffer;
  }
  irp->RequestorMode = KernelMode;
  irp->UserEvent = event;
  irp->UserIosb = ioStatusBlock;
  return irp;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
  if (--irp->CurrentLocation <= 0)
    KeBugCheckEx(NO_MORE_IRP_STACK_LOCATIONS, reinterpret_cast<ULONG_PTR>(irp), 0, 0, 0);
  PIO_STACK_LOCATION stack = --irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = deviceObject;
  PDRIVER_DISPATCH dispatch = deviceObject->DriverObject->MajorFunction[stack->MajorFunction];
  if (!dispatch) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  return dispatch(deviceObject, irp);
}

void IoCompleteRequest(PIRP irp, CCHAR) {
  if (irp->Type != kIoTypeIrp || irp->CurrentLocation > irp->StackCount + 1)
    KeBugCheckEx(MULTIPLE_IRP_COMPLETE_REQUESTS, reinterpret_cast<ULONG_PTR>(irp), 0, 0, 0);
  if (irp->IoStatus.Status == STATUS_PENDING)
    KeBugCheckEx(MULTIPLE_IRP_COMPLETE_REQUESTS, reinterpret_cast<ULONG_PTR>(irp), 1, 0, 0);
  // Walk up from the completing driver's location; each routine belongs to the driver one location above.
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    PVOID context = stack->Context;
    bool applies = routine && RoutineApplies(irp, stack->Control);
    stack->CompletionRoutine = nullptr;
    stack->Context = nullptr;
    stack->Control = 0;
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    bool top = irp->CurrentLocation > irp->StackCount;
    if (applies) {
      PDEVICE_OBJECT owner = top ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
      if (routine(owner, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (irp->PendingReturned && !top) {
      IoMarkIrpPending(irp);
    }
  }
  FinishIrp(irp);
}

// ---- Requests the host builds ------------------------------------------------------------------------------

namespace tavrin::wdk::internal {

PIRP BuildIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor) {
  PIRP irp = IoBuildDeviceIoControlRequest(0, device, nullptr, 0, nullptr, 0, FALSE, nullptr, nullptr);
  if (!irp) return nullptr;
  irp->HostData->buffered = false;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  RtlZeroMemory(&next->Parameters, sizeof next->Parameters);
  next->MajorFunction = major;
  next->MinorFunction = minor;
  irp->IoStatus.Status = major == IRP_MJ_PNP ? STATUS_NOT_SUPPORTED : STATUS_SUCCESS;
  return irp;
}

void KeepAfterCompletion(PIRP irp) { irp->HostData->kept = true; }

IO_STATUS_BLOCK SendAndWait(PDEVICE_OBJECT device, PIRP irp) {
  KEVENT done;
  IO_STATUS_BLOCK status{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  irp->UserEvent = &done;
  irp->UserIosb = &status;
  IoCallDriver(device, irp);
  // The final stage of completion sets the event, whether the driver pended the request or not.
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  return status;
}

}  // namespace tavrin::wdk::internal

// ---- Further requests and devices ----------------------------------------------------------------------

#include "wdk/ntddk.h"

PIRP IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject, PVOID buffer, ULONG length,
                                  PLARGE_INTEGER startingOffset, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
  PIRP irp = IoBuildDeviceIoControlRequest(0, deviceObject, nullptr, 0, nullptr, 0, FALSE, event, ioStatusBlock);
  if (!irp) return nullptr;
  irp->HostData->buffered = false;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  RtlZeroMemory(&next->Parameters, sizeof next->Parameters);
  next->MajorFunction = static_cast<UCHAR>(majorFunction);
  if (majorFunction == IRP_MJ_READ || majorFunction == IRP_MJ_WRITE) {
    irp->UserBuffer = buffer;
    next->Parameters.Read.Length = length;
    if (startingOffset) next->Parameters.Read.ByteOffset = *startingOffset;
  }
  return irp;
}

void IoReuseIrp(PIRP irp, NTSTATUS status) {
  RtlZeroMemory(irp->Stack, sizeof(IO_STACK_LOCATION) * irp->StackCount);
  irp->CurrentLocation = static_cast<CCHAR>(irp->StackCount + 1);
  irp->Tail.Overlay.CurrentStackLocation = irp->Stack + irp->StackCount;
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  irp->PendingReturned = FALSE;
  irp->Cancel = FALSE;
  irp->CancelRoutine = nullptr;
  irp->MdlAddress = nullptr;
}

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject) {
  if (tavrin::wdk::internal::IsTransportFile(fileObject)) return tavrin::wdk::internal::TransportDevice();
  return IoGetAttachedDevice(fileObject->DeviceObject);
}

NTSTATUS IoCreateDeviceSecure(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                              DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                              PCUNICODE_STRING defaultSddlString, const GUID*, PDEVICE_OBJECT* deviceObject) {
  // No security here: the descriptor must still be given, as the platform insists.
  if (!defaultSddlString || !defaultSddlString->Buffer) return STATUS_INVALID_PARAMETER;
  return IoCreateDevice(driverObject, deviceExtensionSize, deviceName, deviceType, deviceCharacteristics, exclusive,
                        deviceObject);
}
