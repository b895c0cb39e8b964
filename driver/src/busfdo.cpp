// Bus devices: the control device on the special server's node and a server bus device on every other
// node of the outside enumerator; their creation, plug and play, power and removal.
#include "busenum.h"

namespace pelkobus {
namespace {

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS PassDown(FDO_DEVICE_DATA* fdo, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(fdo->NextLowerDriver, irp);
}

NTSTATUS InitializeDevice(PDEVICE_OBJECT device, FDO_DEVICE_DATA* fdo, PDEVICE_OBJECT pdo, ULONG serverIp) {
  TRACE_LEVEL(0x2, "InitializeDevice >> Of Server 0x%x ==>\n", serverIp);
  fdo->Common.Self = device;
  fdo->Common.IsFDO = 1;
  fdo->Common.DevicePnPState = NotStarted;
  fdo->Common.PreviousPnPState = NotStarted;
  fdo->Common.DebugLevel = g.BusTraceLevel;
  fdo->Common.SystemPowerState = PowerSystemWorking;
  fdo->Common.PrevSystemPowerState = PowerSystemWorking;
  fdo->UnderlyingPDO = pdo;
  fdo->ServerIpFdo = serverIp;
  TRACE_LEVEL(0x2, "InitializeDevice: ServerIp %x\n", serverIp);
  fdo->OutstandingIO = 1;
  KeInitializeEvent(&fdo->RemoveEvent, SynchronizationEvent, FALSE);
  KeInitializeEvent(&fdo->StopEvent, SynchronizationEvent, TRUE);
  InitializeListHead(&fdo->ListOfPDOs);
  InitializeListHead(&fdo->Link);
  InitializeListHead(&fdo->PendingQueue);
  KeInitializeSpinLock(&fdo->PendingQueueLock);
  ExInitializeFastMutex(&fdo->Mutex);
  device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  fdo->NextLowerDriver = IoAttachDeviceToDeviceStack(device, pdo);
  NTSTATUS status = STATUS_SUCCESS;
  if (!fdo->NextLowerDriver) {
    TRACE_LEVEL(0x2, " No NextLowerDriver\n");
    status = STATUS_NO_SUCH_DEVICE;
  }
  TRACE_LEVEL(0x2, "InitializeDevice: 0x%x <==\n", status);
  return status;
}

void BusFdoProcessQueuedRequests(FDO_DEVICE_DATA* fdo) {
  LIST_ENTRY drained;
  InitializeListHead(&drained);
  KIRQL irql;
  KeAcquireSpinLock(&fdo->PendingQueueLock, &irql);
  if (IsListEmpty(&fdo->PendingQueue)) TRACE_MASK(0x1, "FDO 0x%p : Queue Empty \n", static_cast<void*>(fdo));
  while (!IsListEmpty(&fdo->PendingQueue)) {
    PLIST_ENTRY entry = RemoveHeadList(&fdo->PendingQueue);
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (irp->Cancel && !IoSetCancelRoutine(irp, nullptr)) {
      InitializeListHead(entry);  // its cancel routine has it
      continue;
    }
    IoSetCancelRoutine(irp, nullptr);
    InsertTailList(&drained, entry);
  }
  KeReleaseSpinLock(&fdo->PendingQueueLock, irql);
  while (!IsListEmpty(&drained)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&drained), IRP, Tail.Overlay.ListEntry);
    if (irp->Cancel) {
      irp->IoStatus.Information = 0;
      CompleteWith(irp, STATUS_CANCELLED);
    } else if (fdo->QueueState == FailRequests) {
      irp->IoStatus.Information = 0;
      CompleteWith(irp, STATUS_DELETE_PENDING);
    } else {
      PassDown(fdo, irp);
    }
  }
}

NTSTATUS Bus_StartFdo(FDO_DEVICE_DATA* fdo, PIRP) {
  fdo->Common.PrevDevicePowerState = fdo->Common.DevicePowerState;
  fdo->Common.DevicePowerState = PowerDeviceD0;
  POWER_STATE state;
  state.DeviceState = PowerDeviceD0;
  PoSetPowerState(fdo->Common.Self, DevicePowerState, state);
  SetNewPnpState(&fdo->Common, Started);
  fdo->QueueState = AllowRequests;
  BusFdoProcessQueuedRequests(fdo);
  NTSTATUS status = Bus_WmiRegistration(fdo);
  if (!NT_SUCCESS(status)) TRACE_DEVICE(&fdo->Common, 0x8, "StartFdo: Bus_WmiRegistration failed (%x)\n", status);
  return status;
}

NTSTATUS QueryBusRelations(FDO_DEVICE_DATA* fdo, PIRP irp) {
  ExAcquireFastMutex(&fdo->Mutex);
  auto* old = reinterpret_cast<PDEVICE_RELATIONS>(irp->IoStatus.Information);
  ULONG oldCount = old ? old->Count : 0;
  if (old) {
    TRACE_DEVICE(&fdo->Common, 0x40, "\tOldRelations Count %d\n", oldCount);
  } else {
    TRACE_DEVICE(&fdo->Common, 0x40, "\tNo OldRelations\n");
  }
  if (old && fdo->NumPDOs == 0) {
    TRACE_DEVICE(&fdo->Common, 0x40, "\tNo pdos present\n");
    ExReleaseFastMutex(&fdo->Mutex);
    return PassDown(fdo, irp);
  }
  ULONG present = 0;
  for (PLIST_ENTRY e = fdo->ListOfPDOs.Flink; e != &fdo->ListOfPDOs; e = e->Flink)
    if (CONTAINING_RECORD(e, PDO_DEVICE_DATA, Link)->Present) ++present;
  ULONG total = oldCount + present;
  size_t size = sizeof(DEVICE_RELATIONS) + (total ? total - 1 : 0) * sizeof(PDEVICE_OBJECT);
  auto* relations = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, size, BUS_POOL_TAG));
  if (!relations) {
    ExReleaseFastMutex(&fdo->Mutex);
    irp->IoStatus.Information = 0;
    return CompleteWith(irp, STATUS_INSUFFICIENT_RESOURCES);
  }
  if (oldCount) RtlCopyMemory(relations->Objects, old->Objects, oldCount * sizeof(PDEVICE_OBJECT));
  ULONG count = oldCount;
  for (PLIST_ENTRY e = fdo->ListOfPDOs.Flink; e != &fdo->ListOfPDOs; e = e->Flink) {
    PDO_DEVICE_DATA* pdo = CONTAINING_RECORD(e, PDO_DEVICE_DATA, Link);
    if (pdo->Present) {
      relations->Objects[count++] = pdo->Common.Self;
      ObReferenceObject(pdo->Common.Self);
      pdo->SeenByPnp = 1;
    } else {
      pdo->ReportedMissing = 1;
    }
  }
  relations->Count = count;
  TRACE_DEVICE(&fdo->Common, 0x40, "\t#PDOS present = %d\n\t#PDOs reported = %d\n", fdo->NumPDOs, count);
  if (old) ExFreePool(old);
  irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
  ExReleaseFastMutex(&fdo->Mutex);
  irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(fdo, irp);
}

void DetachChildren(FDO_DEVICE_DATA* fdo, bool destroy) {
  ExAcquireFastMutex(&fdo->Mutex);
  while (!IsListEmpty(&fdo->ListOfPDOs)) {
    PLIST_ENTRY e = RemoveHeadList(&fdo->ListOfPDOs);
    PDO_DEVICE_DATA* pdo = CONTAINING_RECORD(e, PDO_DEVICE_DATA, Link);
    InitializeListHead(&pdo->Link);
    if (!destroy || pdo->Common.DevicePnPState == SurpriseRemovePending) {
      TRACE_DEVICE(&fdo->Common, 0x40, "\tFound a surprise removed device: 0x%p\n", static_cast<void*>(pdo->Common.Self));
      pdo->ParentFdo = nullptr;
      pdo->ReportedMissing = 1;
      continue;
    }
    fdo->NumPDOs--;
    pdo->ParentFdo = nullptr;
    SetNewPnpState(&pdo->Common, Deleted);
    ExReleaseFastMutex(&fdo->Mutex);  // destroy waits for the child's threads
    Bus_DestroyPdo(pdo->Common.Self, pdo);
    ExAcquireFastMutex(&fdo->Mutex);
  }
  if (!destroy) fdo->NumPDOs = 0;
  ExReleaseFastMutex(&fdo->Mutex);
}

}  // namespace

NTSTATUS Bus_AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  TRACE_LEVEL(0x2, "Add Device: 0x%p\n", static_cast<void*>(pdo));
  // The outside enumerator's node: its identifier, then the server's address.
  auto* head = static_cast<const BUSENUM_CHILD_EXTENSION_HEAD*>(pdo->DeviceExtension);
  ULONG serverIp = head ? head->ServerIp : 0;
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(FDO_DEVICE_DATA), nullptr, FILE_DEVICE_BUS_EXTENDER,
                                   FILE_DEVICE_SECURE_OPEN, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  FDO_DEVICE_DATA* fdo = FdoData(device);
  RtlZeroMemory(fdo, sizeof *fdo);
  if (serverIp == 0) {
    InitializeListHead(&fdo->DeviceArRmReqsList);
    KeInitializeSpinLock(&fdo->DeviceArRmReqsLock);
  }
  status = InitializeDevice(device, fdo, pdo, serverIp);
  if (NT_SUCCESS(status) && serverIp == 0) {
    fdo->PnpEvent = nullptr;
    status = IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_BUSDRIVER, nullptr, &fdo->InterfaceName);
    if (!NT_SUCCESS(status)) {
      TRACE_DEVICE(&fdo->Common, 0x8, "AddDevice: IoRegisterDeviceInterface failed (%x)", status);
    } else {
      TRACE_LEVEL(0x20, " Going To Attach\n");
      g.ControlDevice = device;
    }
  }
  if (!NT_SUCCESS(status)) {
    TRACE_LEVEL(0x2, "Add Device: Error 1 0x%x <==\n", status);
    if (fdo->NextLowerDriver) {
      TRACE_LEVEL(0x2, "Add Device: Error 2 0x%x <==\n", status);
      IoDetachDevice(fdo->NextLowerDriver);
    }
    IoDeleteDevice(device);
    return status;
  }
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS Bus_FDO_PnP(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack, FDO_DEVICE_DATA* fdo) {
  Bus_IncrementIoCount(fdo);
  const UCHAR minor = stack->MinorFunction;  // the request may be gone by the exit message
  TRACE_DEVICE(&fdo->Common, 0x2, "Bus_FDO_PnP ==> %s\n", PnPMinorFunctionString(minor));
  if (device == g.ControlDevice) TRACE_DEVICE(&fdo->Common, 0x20, "%s SPECIAL FDO\n", PnPMinorFunctionString(stack->MinorFunction));
  NTSTATUS status = STATUS_SUCCESS;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = Bus_SendDownAndWait(fdo->NextLowerDriver, irp);
      if (NT_SUCCESS(status)) {
        if (!g.ControlDevice) {
          TRACE_MASK(0x20000, "Bus_FDO_PnP: START_DEVICE Request came before loading Special Server\n");
          status = STATUS_UNSUCCESSFUL;
        } else if (device == g.ControlDevice) {
          status = IoSetDeviceInterfaceState(&fdo->InterfaceName, TRUE);
          if (NT_SUCCESS(status)) {
            TRACE_DEVICE(&fdo->Common, 0x200, "IoSetDeviceInterfaceState Succes\n");
            status = Bus_StartFdo(fdo, irp);
          } else {
            TRACE_DEVICE(&fdo->Common, 0x800, "IoSetDeviceInterfaceState failed 2: 0x%x\n", status);
          }
        } else {
          ExAcquireFastMutex(&g.ServerListLock);
          InsertTailList(&g.ServerList, &fdo->Link);
          ExReleaseFastMutex(&g.ServerListLock);
          status = Bus_StartFdo(fdo, irp);
        }
      }
      irp->IoStatus.Information = 0;
      CompleteWith(irp, status);
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
      SetNewPnpState(&fdo->Common, RemovePending);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(fdo, irp);
      break;
    case IRP_MN_REMOVE_DEVICE: {
      if (fdo->Common.DevicePnPState != SurpriseRemovePending) {
        fdo->QueueState = FailRequests;
        BusFdoProcessQueuedRequests(fdo);
        if (device == g.ControlDevice && fdo->InterfaceName.Buffer) {
          IoSetDeviceInterfaceState(&fdo->InterfaceName, FALSE);
          RtlFreeUnicodeString(&fdo->InterfaceName);
        }
        Bus_WmiDeRegistration(fdo);
      }
      SetNewPnpState(&fdo->Common, Deleted);
      Bus_DecrementIoCount(fdo);
      Bus_DecrementIoCount(fdo);
      KeWaitForSingleObject(&fdo->RemoveEvent, Executive, KernelMode, FALSE, nullptr);
      if (fdo->ServerIpFdo != 0) {
        DetachChildren(fdo, true);
        ExAcquireFastMutex(&g.ServerListLock);
        if (fdo->Link.Flink != &fdo->Link) RemoveEntryList(&fdo->Link);
        InitializeListHead(&fdo->Link);
        ExReleaseFastMutex(&g.ServerListLock);
      } else {
        RedirectorCleanup(fdo);  // answers nobody collected go with the device
      }
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(fdo, irp);
      IoDetachDevice(fdo->NextLowerDriver);
      TRACE_DEVICE(&fdo->Common, 0x20, "\tIoDeleteDevice FDO: 0x%p\n", static_cast<void*>(device));
      if (device == g.ControlDevice) g.ControlDevice = nullptr;
      IoDeleteDevice(device);
      return status;  // the count went with the device
    }
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE: {
      ULONG pending = stack->MinorFunction == IRP_MN_CANCEL_REMOVE_DEVICE ? RemovePending : StopPending;
      if (fdo->Common.DevicePnPState == pending) {
        status = Bus_SendDownAndWait(fdo->NextLowerDriver, irp);
        if (NT_SUCCESS(status)) {
          RestorePreviousPnpState(&fdo->Common);
          fdo->QueueState = AllowRequests;
          BusFdoProcessQueuedRequests(fdo);
        }
        CompleteWith(irp, status);
      } else {
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = PassDown(fdo, irp);
      }
      break;
    }
    case IRP_MN_STOP_DEVICE:
      Bus_DecrementIoCount(fdo);
      KeWaitForSingleObject(&fdo->StopEvent, Executive, KernelMode, FALSE, nullptr);
      Bus_IncrementIoCount(fdo);
      SetNewPnpState(&fdo->Common, Stopped);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(fdo, irp);
      break;
    case IRP_MN_QUERY_STOP_DEVICE:
      SetNewPnpState(&fdo->Common, StopPending);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(fdo, irp);
      break;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      TRACE_DEVICE(&fdo->Common, 0x40, "\tQueryDeviceRelation Type: %s\n",
                   DbgDeviceRelationString(stack->Parameters.QueryDeviceRelations.Type));
      status = stack->Parameters.QueryDeviceRelations.Type == BusRelations ? QueryBusRelations(fdo, irp)
                                                                           : PassDown(fdo, irp);
      break;
    case IRP_MN_QUERY_CAPABILITIES: {
      auto* caps = stack->Parameters.DeviceCapabilities.Capabilities;
      if (caps && caps->Version == 1 && caps->Size >= sizeof(DEVICE_CAPABILITIES)) {
        status = Bus_SendDownAndWait(fdo->NextLowerDriver, irp);
        CompleteWith(irp, status);
      } else {
        status = PassDown(fdo, irp);
      }
      break;
    }
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
      status = Bus_SendDownAndWait(fdo->NextLowerDriver, irp);
      CompleteWith(irp, status);
      break;
    case IRP_MN_SURPRISE_REMOVAL:
      fdo->QueueState = FailRequests;
      BusFdoProcessQueuedRequests(fdo);
      SetNewPnpState(&fdo->Common, SurpriseRemovePending);
      Bus_WmiDeRegistration(fdo);
      if (device == g.ControlDevice && fdo->InterfaceName.Buffer) {
        IoSetDeviceInterfaceState(&fdo->InterfaceName, FALSE);
        RtlFreeUnicodeString(&fdo->InterfaceName);
      }
      if (fdo->ServerIpFdo != 0) DetachChildren(fdo, false);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(fdo, irp);
      break;
    default:
      status = PassDown(fdo, irp);
      break;
  }
  TRACE_DEVICE(&fdo->Common, 0x2, "Bus_FDO_PnP <== status %x %s\n", status, PnPMinorFunctionString(minor));
  Bus_DecrementIoCount(fdo);
  return status;
}

NTSTATUS Bus_FDO_Power(FDO_DEVICE_DATA* fdo, PIRP irp) {
  Bus_IncrementIoCount(fdo);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (fdo->Common.DevicePnPState == Deleted) TRACE_DEVICE(&fdo->Common, 0x2000, "Fdo in Deleted state.");
  if (fdo->Common.DevicePnPState == NotStarted) TRACE_DEVICE(&fdo->Common, 0x2000, "Fdo in NotStarted state.");
  TRACE_DEVICE(&fdo->Common, 0x2000, "Bus_Power >> FDO %s, IRP:0x%p, ServerIp=%d %s %s\n",
               PowerMinorFunctionString(stack->MinorFunction), static_cast<void*>(irp), fdo->ServerIpFdo,
               DbgSystemPowerString(fdo->Common.SystemPowerState), DbgDevicePowerString(fdo->Common.DevicePowerState));
  if (stack->MinorFunction == IRP_MN_SET_POWER) {
    ULONG value = stack->Parameters.Power.State.SystemState;  // whatever the type, the value is recorded
    fdo->Common.PrevSystemPowerState = fdo->Common.SystemPowerState;
    fdo->Common.SystemPowerState = value;
    if (fdo->ServerIpFdo == 0 && value > 1) TdiNetwork_DisconnectAllDevices(fdo);
  }
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  NTSTATUS status = PoCallDriver(fdo->NextLowerDriver, irp);
  Bus_DecrementIoCount(fdo);
  return status;
}

}  // namespace pelkobus
