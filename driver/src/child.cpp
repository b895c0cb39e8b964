// Child devices: one per connected remote USB device; plug-in, start (connection and negotiation),
// unplug, plug and play, power and the USB bus interface.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "busenum.h"
#include "wdk/kernel.h"
#include "wdk/usbbusif.h"

namespace pelkobus {
namespace {

// The identifier block of a request is the sender's; its size is capped so a request cannot make the
// driver allocate or read without bound.
constexpr ULONG kMaxIdBlock = 16 * 1024;
// {9D3039DD-CCA5-4B4D-B33D-E2DDC8A8C52E}
const GUID kChildDeviceClass = {0x9D3039DD, 0xCCA5, 0x4B4D, {0xB3, 0x3D, 0xE2, 0xDD, 0xC8, 0xA8, 0xC5, 0x2E}};
const char16_t kChildSddl[] = u"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// A multi-string taken from [begin, end) of the identifier copy: up to and with its empty string, or
// to the end of the range; always ended by two NULs in the new paged buffer.
PWCHAR CopyMultiString(const UCHAR* begin, const UCHAR* end, ULONG* bytesOut) {
  size_t chars = static_cast<size_t>(end - begin) / sizeof(WCHAR);
  const auto* text = reinterpret_cast<const WCHAR*>(begin);
  size_t used = 0;
  while (used < chars) {
    size_t length = 0;
    while (used + length < chars && text[used + length]) ++length;
    if (length == 0) break;  // the list's end
    used += length + 1;
  }
  used = std::min(used, chars);
  ULONG bytes = static_cast<ULONG>((used + 2) * sizeof(WCHAR));
  auto* out = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, bytes, BUS_POOL_TAG));
  if (!out) return nullptr;
  RtlZeroMemory(out, bytes);
  RtlCopyMemory(out, text, used * sizeof(WCHAR));
  if (bytesOut) *bytesOut = bytes;
  return out;
}

NTSTATUS Bus_PDO_QueryIds(PDO_DEVICE_DATA* pdo, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const UCHAR* block = pdo->Ids;
  const UCHAR* hardwareEnd = block + pdo->HardwareIdSize;
  const UCHAR* blockEnd = block + pdo->TotalSize;
  PWCHAR answer = nullptr;
  switch (stack->Parameters.QueryId.IdType) {
    case BusQueryDeviceID: {
      // The second hardware identifier (the one without REV).
      PWCHAR list = CopyMultiString(block, hardwareEnd, nullptr);
      if (!list) break;
      const WCHAR* second = list;
      while (*second) ++second;
      ++second;
      if (!*second) second = list;  // a single identifier: that one
      size_t length = 0;
      while (second[length]) ++length;
      answer = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, (length + 1) * sizeof(WCHAR), BUS_POOL_TAG));
      if (answer) {
        RtlCopyMemory(answer, second, length * sizeof(WCHAR));
        answer[length] = 0;
      }
      ExFreePoolWithTag(list, BUS_POOL_TAG);
      break;
    }
    case BusQueryHardwareIDs:
      answer = CopyMultiString(block, hardwareEnd, nullptr);
      break;
    case BusQueryCompatibleIDs:
      answer = CopyMultiString(hardwareEnd, blockEnd, nullptr);
      break;
    case BusQueryInstanceID: {
      answer = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, 22, BUS_POOL_TAG));
      if (answer) {
        char text[11];
        std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(pdo->PortNum));
        size_t i = 0;
        for (; text[i] && i < 10; ++i) answer[i] = static_cast<WCHAR>(text[i]);
        answer[i] = 0;
      }
      break;
    }
    default:
      return irp->IoStatus.Status;
  }
  if (!answer) {
    TRACE_LEVEL(0x2, "\tExAllocatePoolWithTag: STATUS_INSUFFICIENT_RESOURCES\n");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(answer);
  return STATUS_SUCCESS;
}

NTSTATUS Bus_PDO_QueryDeviceText(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.QueryDeviceText.DeviceTextType != DeviceTextDescription) return irp->IoStatus.Status;
  if (irp->IoStatus.Information) return STATUS_SUCCESS;  // someone above already answered
  static const char16_t kText[] = u"Unknown Device";
  auto* text = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, sizeof kText, BUS_POOL_TAG));
  if (!text) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(text, kText, sizeof kText);
  irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(text);
  return STATUS_SUCCESS;
}

NTSTATUS Bus_QueryParentCaps(PDEVICE_OBJECT lower, DEVICE_CAPABILITIES* caps) {
  RtlZeroMemory(caps, sizeof *caps);
  caps->Size = sizeof(DEVICE_CAPABILITIES);
  caps->Version = 1;
  caps->Address = 0xFFFFFFFF;
  caps->UINumber = 0xFFFFFFFF;
  PDEVICE_OBJECT target = IoGetAttachedDeviceReference(lower);
  KEVENT event;
  IO_STATUS_BLOCK status{};
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, target, nullptr, 0, nullptr, &event, &status);
  if (!irp) {
    ObDereferenceObject(target);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
  next->Parameters.DeviceCapabilities.Capabilities = caps;
  NTSTATUS result = IoCallDriver(target, irp);
  if (result == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    result = status.Status;
  }
  ObDereferenceObject(target);
  return result;
}

NTSTATUS Bus_PDO_QueryDeviceCaps(PDO_DEVICE_DATA* pdo, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
  if (!caps || caps->Version != 1 || caps->Size < sizeof(DEVICE_CAPABILITIES)) return STATUS_UNSUCCESSFUL;
  if (!pdo->ParentFdo) return STATUS_UNSUCCESSFUL;
  DEVICE_CAPABILITIES parent;
  NTSTATUS status = Bus_QueryParentCaps(pdo->ParentFdo->NextLowerDriver, &parent);
  if (!NT_SUCCESS(status)) {
    TRACE_LEVEL(0x2, "\tQueryDeviceCaps failed\n");
    return status;
  }
  RtlCopyMemory(caps->DeviceState, parent.DeviceState, sizeof caps->DeviceState);
  caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
  for (int s = PowerSystemSleeping1; s <= PowerSystemSleeping3; ++s) caps->DeviceState[s] = PowerDeviceD3;
  caps->SystemWake = PowerSystemUnspecified;
  caps->DeviceWake = PowerDeviceUnspecified;
  caps->D1Latency = caps->D2Latency = caps->D3Latency = 0;
  caps->DeviceD1 = caps->DeviceD2 = 0;
  caps->UniqueID = caps->SilentInstall = caps->SurpriseRemovalOK = 0;
  caps->WakeFromD0 = caps->WakeFromD1 = caps->WakeFromD2 = caps->WakeFromD3 = 0;
  caps->HardwareDisabled = 0;
  caps->EjectSupported = 1;
  caps->Removable = 1;
  caps->Address = pdo->PortNum;
  caps->UINumber = pdo->ServerIp;
  return STATUS_SUCCESS;
}

// ---- The USB bus interface

void Bus_InterfaceReference(PVOID context) { InterlockedIncrement(&static_cast<PDO_DEVICE_DATA*>(context)->InterfaceRefCount); }
void Bus_InterfaceDereference(PVOID context) { InterlockedDecrement(&static_cast<PDO_DEVICE_DATA*>(context)->InterfaceRefCount); }
void GetUSBDIVersion(PVOID, PUSBD_VERSION_INFORMATION version, PULONG hcdCapabilities) {
  if (version) {
    version->USBDI_Version = 1;
    version->Supported_USB_Version = 1;
  }
  if (hcdCapabilities) *hcdCapabilities |= 1;
}
NTSTATUS QueryBusTime(PVOID, PULONG frame) {
  if (frame) *frame = 0;
  return STATUS_SUCCESS;
}
NTSTATUS SubmitIsoOutUrb(PVOID, PVOID) { return STATUS_SUCCESS; }
NTSTATUS QueryBusInformation(PVOID, ULONG level, PVOID buffer, PULONG length, PULONG actual) {
  if (level == 0) {
    if (buffer) *static_cast<USB_BUS_INFORMATION_LEVEL_0*>(buffer) = {0x6400000, 0};
    if (length) *length = 8;
    if (actual) *actual = 8;
  } else {
    if (length) *length = 16;
    if (actual) *actual = 16;
  }
  return STATUS_SUCCESS;
}
BOOLEAN IsDeviceHighSpeed(PVOID) { return TRUE; }
NTSTATUS EnumLogEntry(PVOID, ULONG, ULONG, ULONG, ULONG) { return STATUS_SUCCESS; }

NTSTATUS Bus_PDO_QueryInterface(PDO_DEVICE_DATA* pdo, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const GUID* type = stack->Parameters.QueryInterface.InterfaceType;
  USHORT size = stack->Parameters.QueryInterface.Size;
  USHORT version = stack->Parameters.QueryInterface.Version;
  auto* target = stack->Parameters.QueryInterface.Interface;
  if (!type || !target) return irp->IoStatus.Status;
  if (*type == USB_BUS_INTERFACE_USBDI_GUID) {
    static const USHORT kSizes[] = {sizeof(USB_BUS_INTERFACE_USBDI_V0), sizeof(USB_BUS_INTERFACE_USBDI_V1),
                                    sizeof(USB_BUS_INTERFACE_USBDI_V2)};
    if (version > USB_BUSIF_USBDI_VERSION_2) {
      TRACE_LEVEL(0x80, "Bus_PDO_QueryInterface : Undefined Version!!.Default size %d\n", size);
      return irp->IoStatus.Status;
    }
    if (size < kSizes[version]) {
      TRACE_LEVEL(0x80, "Query Interface STATUS_INVALID_PARAMETER\n");
      return STATUS_INVALID_PARAMETER;
    }
    auto* usbdi = reinterpret_cast<USB_BUS_INTERFACE_USBDI_V2*>(target);
    usbdi->BusContext = pdo;
    usbdi->InterfaceReference = Bus_InterfaceReference;
    usbdi->InterfaceDereference = Bus_InterfaceDereference;
    usbdi->GetUSBDIVersion = GetUSBDIVersion;
    usbdi->QueryBusTime = QueryBusTime;
    usbdi->SubmitIsoOutUrb = SubmitIsoOutUrb;
    usbdi->QueryBusInformation = QueryBusInformation;
    if (version >= USB_BUSIF_USBDI_VERSION_1) usbdi->IsDeviceHighSpeed = IsDeviceHighSpeed;
    if (version >= USB_BUSIF_USBDI_VERSION_2) usbdi->EnumLogEntry = EnumLogEntry;
    Bus_InterfaceReference(pdo);
    TRACE_LEVEL(0x20, "Bus_PDO_QueryInterface : USB_BUS_INTERFACE_USBDI_GUID , Version %x,USBDI ver %x\n", version, 1);
    return STATUS_SUCCESS;
  }
  if (*type == USB_BUS_INTERFACE_HUB_GUID) {
    target->Context = pdo;
    target->InterfaceReference = Bus_InterfaceReference;
    target->InterfaceDereference = Bus_InterfaceDereference;
    Bus_InterfaceReference(pdo);
    TRACE_LEVEL(0x20, "Bus_PDO_QueryInterface : USB_BUS_INTERFACE_HUB_GUID , Version %x ,HUB ver %x\n", version, 0);
    return STATUS_SUCCESS;
  }
  TRACE_LEVEL(0x80, "Bus_PDO_QueryInterface: Not Supported\n");
  return irp->IoStatus.Status;
}

// ---- Life of a child

NTSTATUS Bus_InitializeResources(PDO_DEVICE_DATA* pdo) {
  pdo->Fbk = static_cast<FBK*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(FBK), BUS_POOL_TAG));
  if (!pdo->Fbk) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(pdo->Fbk, sizeof(FBK));
  pdo->Fbk->Pdo = pdo;
  InitializeListHead(&pdo->Fbk->NegCommands);
  for (auto& list : pdo->Fbk->TransferLists) InitializeListHead(&list);
  pdo->SockContext = TdiNetwork_InitializeTdiContext(pdo);
  if (!pdo->SockContext) return STATUS_INSUFFICIENT_RESOURCES;
  pdo->Fbk->SockContext = pdo->SockContext;
  pdo->SockContext->Fbk = pdo->Fbk;
  return STATUS_SUCCESS;
}

NTSTATUS Bus_InitializePdo(DEVICE_ARRIVALREMOVAL_INFO* request, PDEVICE_OBJECT device, FDO_DEVICE_DATA* fdo) {
  PDO_DEVICE_DATA* pdo = PdoData(device);
  pdo->Common.Self = device;
  pdo->Common.IsFDO = 0;
  pdo->Common.DevicePnPState = NotStarted;
  pdo->Common.PreviousPnPState = NotStarted;
  pdo->Common.DebugLevel = g.BusTraceLevel;
  pdo->ParentFdo = fdo;
  pdo->Present = 1;
  pdo->ReportedMissing = 0;
  KeInitializeSpinLock(&pdo->Lock);
  InitializeListHead(&pdo->Link);
  pdo->HardwareIdSize = request->HardwareIdSize & ~1u;
  pdo->TotalSize = request->TotalSize & ~1u;
  pdo->PortNum = request->PortNum;
  pdo->ServerId = request->ServerId;
  pdo->ServerIp = request->ServerIp;
  // The identifier block, read from the sender's memory; two extra NULs end the copy in any case.
  NTSTATUS status = tavrin::wdk::ReadRequestorMemory(request->Ids, pdo->Ids, pdo->TotalSize);
  if (!NT_SUCCESS(status)) return status;
  request->UserHandle = reinterpret_cast<uintptr_t>(device);
  TRACE_LEVEL(0x2, "Bus_InitializePdo : Port UserHandle 0x%llx\n", static_cast<unsigned long long>(request->UserHandle));
  *pdo->KeptRecord = *request;
  pdo->PrinterDue.QuadPart = -static_cast<LONGLONG>(g.PrinterRetryMs.load()) * 10000;
  pdo->PortStatus = 1;
  pdo->Common.PrevDevicePowerState = pdo->Common.DevicePowerState;
  pdo->Common.DevicePowerState = PowerDeviceD3;
  pdo->Common.SystemPowerState = PowerSystemWorking;
  pdo->OnResponse = nullptr;
  device->Flags |= DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return Bus_InitializeResources(pdo);
}

NTSTATUS Bus_PDO_StartDevice(PDO_DEVICE_DATA* pdo) {
  TRACE_LEVEL(0x2, "Bus_PDO_StartDevice ==>\n");
  NTSTATUS status = AllocatePOOL(pdo);
  if (NT_SUCCESS(status) && !pdo->SendBuffer) status = STATUS_INSUFFICIENT_RESOURCES;  // nothing could be sent
  if (!NT_SUCCESS(status)) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return status;
  }
  RTL_OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  RtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&version));
  pdo->OldSystem = version.dwBuildNumber == 2600 && version.wServicePackMajor == 1;
  if (!pdo->Fbk) return STATUS_UNSUCCESSFUL;
  if (!pdo->SockContext) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return STATUS_UNSUCCESSFUL;
  }
  TRACE_LEVEL(0x2, "IRP_CONTEXT Size %d RFC_HEADER_SIZE %d\n", static_cast<int>(sizeof(IRP_CONTEXT)), RFC_HEADER_SIZE);
  PIO_WORKITEM item = IoAllocateWorkItem(pdo->Common.Self);
  if (!item) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  KeClearEvent(&pdo->SockContext->StartDone);
  // The work item frees itself; the start waits for it.
  struct Start {
    PIO_WORKITEM item;
    PDO_DEVICE_DATA* pdo;
  };
  auto* start = static_cast<Start*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Start), BUS_POOL_TAG));
  if (!start) {
    IoFreeWorkItem(item);
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *start = {item, pdo};
  IoQueueWorkItem(
      item,
      [](PDEVICE_OBJECT device, PVOID context) {
        auto* s = static_cast<Start*>(context);
        PIO_WORKITEM own = s->item;
        PDO_DEVICE_DATA* child = s->pdo;
        ExFreePoolWithTag(s, BUS_POOL_TAG);
        IoFreeWorkItem(own);
        TdiNetwork_ThreadWorkItem(device, child);
      },
      DelayedWorkQueue, start);
  KeWaitForSingleObject(&pdo->SockContext->StartDone, Executive, KernelMode, FALSE, nullptr);
  status = pdo->SockContext->StartStatus;
  TRACE_LEVEL(0x2, "TdiNetwork_CreateThreads <==status %x\n", status);
  if (status == STATUS_NEGOTIATION_PENDING) return status;
  if (!NT_SUCCESS(status)) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return status;
  }
  // The default pipe first: the success answer goes out only for a child that can carry requests.
  PIPE* pipe = nullptr;
  status = GetPIPE(pdo, &pipe);
  if (!NT_SUCCESS(status)) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return status;
  }
  status = UsbPath_Create(pdo, pipe);
  if (!NT_SUCCESS(status)) {
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return status;
  }
  AnswerKeptRecord(pdo, ARRM_STATUS_SUCCESS);
  TRACE_LEVEL(0x2, "Bus_PDO_StartDevice %x<==\n", status);
  return STATUS_SUCCESS;
}

void Bus_DisconnectDevice(PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x8000, "Bus_DisconnectDevice==> Port: %d\n", pdo->PortNum);
  SOCK_CONTEXT* sock = pdo->SockContext;
  if (sock && sock->StartStatus != STATUS_UNSUCCESSFUL && __atomic_load_n(&sock->RecvThreadRunning, __ATOMIC_SEQ_CST))
    KeSetEvent(&sock->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
  KeCancelTimer(&pdo->PrinterTimer);
  KeRemoveQueueDpc(&pdo->PrinterDpc);
  if (pdo->Common.DevicePnPState == AccessPending) SetNewPnpState(&pdo->Common, NotStarted);
}

NTSTATUS Bus_RemovePdo(PDEVICE_OBJECT device, PDO_DEVICE_DATA* pdo) {
  SetNewPnpState(&pdo->Common, Deleted);
  pdo->PortStatus &= ~2;
  if (FDO_DEVICE_DATA* parent = pdo->ParentFdo) {
    ExAcquireFastMutex(&parent->Mutex);
    if (pdo->Link.Flink != &pdo->Link) {
      RemoveEntryList(&pdo->Link);
      InitializeListHead(&pdo->Link);
      parent->NumPDOs--;
    }
    ExReleaseFastMutex(&parent->Mutex);
    pdo->ParentFdo = nullptr;
  }
  AnswerKeptRecord(pdo, ARRM_STATUS_SUCCESS);
  Bus_DestroyPdo(device, pdo);
  return STATUS_SUCCESS;
}

}  // namespace

// The kept record is written by the sender's unplug while a start or a retry may answer from it: every
// access goes under the child's lock, and an answer is queued from a copy.
void AnswerKeptRecord(PDO_DEVICE_DATA* pdo, uint32_t status) {
  if (!pdo->KeptRecord) return;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  pdo->KeptRecord->ArRmStatus = status;
  DEVICE_ARRIVALREMOVAL_INFO answer = *pdo->KeptRecord;
  KeReleaseSpinLock(&pdo->Lock, irql);
  UpdateRspOfDeviceArRmReqsList(&answer);
}

void SetKeptRecord(PDO_DEVICE_DATA* pdo, const DEVICE_ARRIVALREMOVAL_INFO& request) {
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  *pdo->KeptRecord = request;
  KeReleaseSpinLock(&pdo->Lock, irql);
}

DEVICE_ARRIVALREMOVAL_INFO ReadKeptRecord(PDO_DEVICE_DATA* pdo) {
  DEVICE_ARRIVALREMOVAL_INFO copy{};
  if (!pdo->KeptRecord) return copy;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  copy = *pdo->KeptRecord;
  KeReleaseSpinLock(&pdo->Lock, irql);
  return copy;
}

void Bus_DestroyPdo(PDEVICE_OBJECT device, PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x8000, "Bus_DestroyPdo==> port=%d\n", pdo->PortNum);
  // No retry may run on a child that is going: stop the timer, drop a queued DPC, wait for a running one
  // and for the work item it queued.
  KeCancelTimer(&pdo->PrinterTimer);
  KeRemoveQueueDpc(&pdo->PrinterDpc);
  KeFlushQueuedDpcs();
  KeWaitForSingleObject(&pdo->RetryIdle, Executive, KernelMode, FALSE, nullptr);
  KeCancelTimer(&pdo->PrinterTimer);  // a retry that ran meanwhile may have armed it again
  KeRemoveQueueDpc(&pdo->PrinterDpc);
  KeFlushQueuedDpcs();
  KeWaitForSingleObject(&pdo->RetryIdle, Executive, KernelMode, FALSE, nullptr);
  if (pdo->Ids) ExFreePoolWithTag(pdo->Ids, BUS_POOL_TAG);
  pdo->Ids = nullptr;
  if (pdo->KeptRecord) ExFreePoolWithTag(pdo->KeptRecord, BUS_POOL_TAG);
  pdo->KeptRecord = nullptr;
  if (SOCK_CONTEXT* sock = pdo->SockContext) {
    TdiNetwork_CloseThreads(pdo);
    TdiNetwork_ReleaseSocket(sock);  // also a socket that never connected: its handles go here
    TdiNetwork_CleanupLists(pdo);
    TdiNetwork_FreeTdiContext(sock);
    pdo->SockContext = nullptr;
  }
  UsbPath_Destroy(pdo);
  FreePOOL(pdo);
  if (pdo->Fbk) ExFreePoolWithTag(pdo->Fbk, BUS_POOL_TAG);
  pdo->Fbk = nullptr;
  TRACE_MASK(0x8000, "\tBus_DestroyPdo : Deleting PDO: 0x%p\n", static_cast<void*>(device));
  IoDeleteDevice(device);
  g.LiveChildren.fetch_sub(1);
  TRACE_MASK(0x8000, "Bus_DestroyPdo<==\n");
}

bool Bus_UnlinkWaitingChild(PDO_DEVICE_DATA* pdo) {
  // The server list's lock keeps the parent from going while its own lock is taken.
  ExAcquireFastMutex(&g.ServerListLock);
  FDO_DEVICE_DATA* parent = pdo->ParentFdo;
  if (parent) ExAcquireFastMutex(&parent->Mutex);
  // An unplug or the parent's removal that came first owns the child.
  bool owned = pdo->Common.DevicePnPState == AccessPending && (!parent || pdo->Link.Flink != &pdo->Link);
  if (owned) {
    if (parent) {
      RemoveEntryList(&pdo->Link);
      InitializeListHead(&pdo->Link);
      parent->NumPDOs--;
    }
    pdo->ParentFdo = nullptr;
    pdo->Present = 0;
    SetNewPnpState(&pdo->Common, Deleted);
  }
  if (parent) ExReleaseFastMutex(&parent->Mutex);
  ExReleaseFastMutex(&g.ServerListLock);
  return owned;
}

NTSTATUS Bus_PlugInDevice(DEVICE_ARRIVALREMOVAL_INFO* request, FDO_DEVICE_DATA* fdo) {
  TRACE_LEVEL(0x2, "Bus_PlugInDevice==>\n");
  TRACE_LEVEL(0x2, "Bus_PlugInDevice : Length %d\n", request->HardwareIdSize / 2);
  TRACE_LEVEL(0x2, "Plugging In device with Server:%d, Port:%d number...\n", request->ServerIp, request->PortNum);
  ExAcquireFastMutex(&fdo->Mutex);
  for (PLIST_ENTRY e = fdo->ListOfPDOs.Flink; e != &fdo->ListOfPDOs; e = e->Flink) {
    PDO_DEVICE_DATA* existing = CONTAINING_RECORD(e, PDO_DEVICE_DATA, Link);
    if (existing->PortNum != request->PortNum) continue;
    TRACE_LEVEL(0x2, "Bus_PlugInDevice >> Device with Server:%d, Port:%d number already exist\n", request->ServerIp,
                request->PortNum);
    SetKeptRecord(existing, *request);
    AnswerKeptRecord(existing, ARRM_STATUS_ALREADY_PRESENT);
    ExReleaseFastMutex(&fdo->Mutex);
    return STATUS_SUCCESS;
  }
  ExReleaseFastMutex(&fdo->Mutex);

  // An identifier block the driver can hold: a sane size, the hardware list inside it.
  if (request->TotalSize > kMaxIdBlock || request->HardwareIdSize > request->TotalSize) return STATUS_INVALID_PARAMETER;

  UNICODE_STRING sddl;
  RtlInitUnicodeString(&sddl, reinterpret_cast<PCWSTR>(kChildSddl));
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDeviceSecure(fdo->Common.Self->DriverObject, sizeof(PDO_DEVICE_DATA), nullptr,
                                         FILE_DEVICE_BUS_EXTENDER,
                                         FILE_AUTOGENERATED_DEVICE_NAME | FILE_DEVICE_SECURE_OPEN, FALSE, &sddl,
                                         &kChildDeviceClass, &device);
  if (!NT_SUCCESS(status)) {
    TRACE_LEVEL(0x2, "Bus_PlugInDevice >> IoCreateDeviceSecure Failed\n");
    return status;
  }
  g.LiveChildren.fetch_add(1);
  PDO_DEVICE_DATA* pdo = PdoData(device);
  RtlZeroMemory(pdo, sizeof *pdo);
  // What destruction waits on exists from the start, whatever fails next.
  KeInitializeTimer(&pdo->PrinterTimer);
  KeInitializeDpc(&pdo->PrinterDpc, PrinterTimerRoutine, pdo);
  KeInitializeEvent(&pdo->RetryIdle, NotificationEvent, TRUE);
  pdo->Ids = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, (request->TotalSize & ~1u) + 4, BUS_POOL_TAG));
  pdo->KeptRecord = static_cast<DEVICE_ARRIVALREMOVAL_INFO*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(DEVICE_ARRIVALREMOVAL_INFO), BUS_POOL_TAG));
  if (!pdo->Ids || !pdo->KeptRecord) {
    TRACE_LEVEL(0x2, "Bus_PlugInDevice >> Error1 0x%x\n", STATUS_INSUFFICIENT_RESOURCES);
    if (pdo->Ids) ExFreePoolWithTag(pdo->Ids, BUS_POOL_TAG);
    if (pdo->KeptRecord) ExFreePoolWithTag(pdo->KeptRecord, BUS_POOL_TAG);
    IoDeleteDevice(device);
    g.LiveChildren.fetch_sub(1);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(pdo->Ids, (request->TotalSize & ~1u) + 4);
  status = Bus_InitializePdo(request, device, fdo);
  if (!NT_SUCCESS(status)) {
    // No start ran: nothing is answered, the sender counts the failed I/O control.
    SetNewPnpState(&pdo->Common, Deleted);
    ExFreePoolWithTag(pdo->KeptRecord, BUS_POOL_TAG);
    pdo->KeptRecord = nullptr;
    Bus_DestroyPdo(device, pdo);
    return status;
  }
  SetNewPnpState(&pdo->Common, AccessPending);
  status = Bus_PDO_StartDevice(pdo);
  if (status == STATUS_SUCCESS || status == STATUS_NEGOTIATION_PENDING) {
    ExAcquireFastMutex(&fdo->Mutex);
    InsertTailList(&fdo->ListOfPDOs, &pdo->Link);
    fdo->NumPDOs++;
    ExReleaseFastMutex(&fdo->Mutex);
    if (status == STATUS_SUCCESS) {
      pdo->PortStatus |= 2;
      IoInvalidateDeviceRelations(fdo->UnderlyingPDO, BusRelations);
    } else {
      TRACE_LEVEL(0x2, "Bus_PlugInDevice: STATUS_NEGOTIATION_PENDING\n");
    }
    TRACE_LEVEL(0x2, "Bus_PlugInDevice<== status %x\n", status);
    return STATUS_SUCCESS;
  }
  // The start answered the failure; the kept record goes once, here.
  ExFreePoolWithTag(pdo->KeptRecord, BUS_POOL_TAG);
  pdo->KeptRecord = nullptr;
  pdo->Present = 0;
  pdo->ParentFdo = nullptr;
  SetNewPnpState(&pdo->Common, Deleted);
  Bus_DestroyPdo(device, pdo);
  TRACE_LEVEL(0x2, "Bus_PlugInDevice<== status %x\n", status);
  return status;
}

NTSTATUS Bus_UnPlugDevice(DEVICE_ARRIVALREMOVAL_INFO* request, FDO_DEVICE_DATA* fdo) {
  TRACE_MASK(0x8000, "Bus_UnPlugDevice==>\n");
  if (request->PortNum == 0) {
    TRACE_MASK(0x8000, "Plugging out all the devices!\n");
  } else {
    TRACE_MASK(0x8000, "Plugging out %x\n", request->PortNum);
  }
  ExAcquireFastMutex(&fdo->Mutex);
  if (fdo->NumPDOs == 0) {
    ExReleaseFastMutex(&fdo->Mutex);
    TRACE_MASK(0x8000, "Bus_UnPlugDevice >> BAD BAD BAD...2 removes!!! Send only one!\n");
    request->ArRmStatus = ARRM_STATUS_NOT_PRESENT;
    UpdateRspOfDeviceArRmReqsList(request);
    return STATUS_SUCCESS;
  }
  PDO_DEVICE_DATA* last = nullptr;
  for (PLIST_ENTRY e = fdo->ListOfPDOs.Flink; e != &fdo->ListOfPDOs; e = e->Flink) {
    PDO_DEVICE_DATA* pdo = CONTAINING_RECORD(e, PDO_DEVICE_DATA, Link);
    TRACE_MASK(0x8000, "found device %x\n", pdo->PortNum);
    if (request->PortNum != 0 && pdo->PortNum != request->PortNum) continue;
    pdo->Present = 0;
    TRACE_MASK(0x8000, "Plugged out %x\n", pdo->PortNum);
    last = pdo;
    if (request->PortNum != 0) break;
  }
  if (!last) {
    ExReleaseFastMutex(&fdo->Mutex);
    TRACE_MASK(0x8000, "Device with Server:%d, Port:%d is not present\n", request->ServerIp, request->PortNum);
    request->ArRmStatus = ARRM_STATUS_NOT_PRESENT;
    UpdateRspOfDeviceArRmReqsList(request);
    return STATUS_SUCCESS;
  }
  SetKeptRecord(last, *request);
  TRACE_MASK(0x8000, "Unplugging Device with Server:%d, Port:%d...\n", request->ServerIp, request->PortNum);
  last->PortStatus &= ~2;
  // Plug and play removes what it has seen; only a child it never saw goes at once.
  bool removeNow = false;
  Bus_DisconnectDevice(last);
  if (last->Common.DevicePnPState == NotStarted && !last->SeenByPnp) removeNow = true;
  ExReleaseFastMutex(&fdo->Mutex);
  IoInvalidateDeviceRelations(fdo->UnderlyingPDO, BusRelations);
  if (removeNow) Bus_RemovePdo(last->Common.Self, last);
  TRACE_MASK(0x8000, "Bus_UnPlugDevice STATUS_SUCCESS <==\n");
  return STATUS_SUCCESS;
}

NTSTATUS Bus_PDO_PnP(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack, PDO_DEVICE_DATA* pdo) {
  TRACE_DEVICE(&pdo->Common, 0x2, "Bus_PDO_PnP ==> %s\n", PnPMinorFunctionString(stack->MinorFunction));
  NTSTATUS status;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      if (pdo->Common.DevicePnPState == Deleted) {
        status = STATUS_UNSUCCESSFUL;
      } else {
        SetNewPnpState(&pdo->Common, Started);
        pdo->Common.PrevDevicePowerState = pdo->Common.DevicePowerState;
        pdo->Common.DevicePowerState = PowerDeviceD0;
        status = STATUS_SUCCESS;
      }
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
      SetNewPnpState(&pdo->Common, RemovePending);
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_REMOVE_DEVICE:
      if (pdo->ReportedMissing) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);  // before the device goes
        Bus_RemovePdo(device, pdo);
        return STATUS_SUCCESS;
      }
      if (pdo->Present) {
        SetNewPnpState(&pdo->Common, NotStarted);
      } else {
        TRACE_DEVICE(&pdo->Common, 0x2, "PDO : IRP_MN_REMOVE_DEVICE - Device Data Not Present\n");
      }
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      if (pdo->Common.DevicePnPState == RemovePending) RestorePreviousPnpState(&pdo->Common);
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_STOP_DEVICE:
      SetNewPnpState(&pdo->Common, Stopped);
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_STOP_DEVICE:
      SetNewPnpState(&pdo->Common, StopPending);
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_CANCEL_STOP_DEVICE:
      if (pdo->Common.DevicePnPState == StopPending) RestorePreviousPnpState(&pdo->Common);
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
        auto* relations = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), BUS_POOL_TAG));
        if (!relations) {
          status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
          relations->Count = 1;
          relations->Objects[0] = device;
          ObReferenceObject(device);
          irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
          status = STATUS_SUCCESS;
        }
      } else {
        status = irp->IoStatus.Status;
      }
      break;
    case IRP_MN_QUERY_INTERFACE:
      status = Bus_PDO_QueryInterface(pdo, irp);
      break;
    case IRP_MN_QUERY_CAPABILITIES:
      status = Bus_PDO_QueryDeviceCaps(pdo, irp);
      break;
    case IRP_MN_QUERY_DEVICE_TEXT:
      status = Bus_PDO_QueryDeviceText(irp);
      break;
    case IRP_MN_EJECT:
      pdo->Present = 0;
      status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_ID:
      TRACE_DEVICE(&pdo->Common, 0x2, "\tQueryId Type: %s\n", DbgDeviceIDString(stack->Parameters.QueryId.IdType));
      status = Bus_PDO_QueryIds(pdo, irp);
      break;
    case IRP_MN_QUERY_BUS_INFORMATION: {
      auto* info = static_cast<PPNP_BUS_INFORMATION>(ExAllocatePoolWithTag(PagedPool, sizeof(PNP_BUS_INFORMATION), BUS_POOL_TAG));
      if (!info) {
        status = STATUS_INSUFFICIENT_RESOURCES;
      } else {
        info->BusTypeGuid = GUID_BUS_TYPE_USB;
        info->LegacyBusType = PNPBus;
        info->BusNumber = 0;
        irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(info);
        status = STATUS_SUCCESS;
      }
      break;
    }
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
      status = STATUS_UNSUCCESSFUL;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
      SetNewPnpState(&pdo->Common, SurpriseRemovePending);
      status = STATUS_SUCCESS;
      break;
    default:
      status = irp->IoStatus.Status;
      break;
  }
  TRACE_DEVICE(&pdo->Common, 0x2, "Bus_PDO_PnP <== status %x %s\n", status, PnPMinorFunctionString(stack->MinorFunction));
  return CompleteWith(irp, status);
}

NTSTATUS Bus_PDO_Power(PDO_DEVICE_DATA* pdo, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status = irp->IoStatus.Status;
  if (stack->MinorFunction == IRP_MN_SET_POWER) {
    if (stack->Parameters.Power.Type == SystemPowerState) {
      pdo->Common.PrevSystemPowerState = pdo->Common.SystemPowerState;
      pdo->Common.SystemPowerState = stack->Parameters.Power.State.SystemState;
    } else {
      pdo->Common.PrevDevicePowerState = pdo->Common.DevicePowerState;
      pdo->Common.DevicePowerState = stack->Parameters.Power.State.DeviceState;
    }
    status = STATUS_SUCCESS;
  } else if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
    status = STATUS_SUCCESS;
  }
  PoStartNextPowerIrp(irp);
  return CompleteWith(irp, status);
}

}  // namespace pelkobus
