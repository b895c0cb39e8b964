// The control device's interface: plug-in and unplug requests, the answer queue, event registration and
// the device list.
#include <algorithm>
#include <cstring>

#include "busenum.h"

namespace pelkobus {
namespace {

struct AnswerEntry {
  LIST_ENTRY Link;
  DEVICE_ARRIVALREMOVAL_INFO* Record;
};

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

FDO_DEVICE_DATA* GetDeviceObject(ULONG serverIp) {
  TRACE_MASK(0x1, "GetDeviceObject==>%x\n", serverIp);
  FDO_DEVICE_DATA* found = nullptr;
  ExAcquireFastMutex(&g.ServerListLock);
  for (PLIST_ENTRY e = g.ServerList.Flink; e != &g.ServerList; e = e->Flink) {
    FDO_DEVICE_DATA* fdo = CONTAINING_RECORD(e, FDO_DEVICE_DATA, Link);
    TRACE_MASK(0x1, "fdoData->ServerIpFdo %x\n", fdo->ServerIpFdo);
    if (fdo->ServerIpFdo == serverIp) {
      found = fdo;
      break;
    }
  }
  ExReleaseFastMutex(&g.ServerListLock);
  TRACE_MASK(0x1, "GetDeviceObject<==\n");
  return found;
}

void ReplaceEvent(PKEVENT* slot, PKEVENT event) {
  PKEVENT previous = static_cast<PKEVENT>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(slot), event));
  if (previous) ObDereferenceObject(previous);
}

// Counts the children of every server bus device and, when `out` has room for them all, lists them;
// one hold of the locks, so the list never outnumbers the count.
ULONG CountAndCopyDevices(PUCHAR out, ULONG outLength, bool* listed) {
  ULONG count = 0;
  *listed = false;
  ExAcquireFastMutex(&g.ServerListLock);
  for (PLIST_ENTRY s = g.ServerList.Flink; s != &g.ServerList; s = s->Flink) {
    FDO_DEVICE_DATA* fdo = CONTAINING_RECORD(s, FDO_DEVICE_DATA, Link);
    ExAcquireFastMutex(&fdo->Mutex);
    count += fdo->NumPDOs;
    ExReleaseFastMutex(&fdo->Mutex);
  }
  TRACE_DEVICE(&FdoData(g.ControlDevice)->Common, 0x200, "GetDeviceCount: DeviceCount=%d\n", count);
  if (out && outLength >= 4 + sizeof(BUS_DEVICE_INFO) * count) {
    ULONG at = 0;
    for (PLIST_ENTRY s = g.ServerList.Flink; s != &g.ServerList; s = s->Flink) {
      FDO_DEVICE_DATA* fdo = CONTAINING_RECORD(s, FDO_DEVICE_DATA, Link);
      ExAcquireFastMutex(&fdo->Mutex);
      for (PLIST_ENTRY c = fdo->ListOfPDOs.Flink; c != &fdo->ListOfPDOs && at < count; c = c->Flink) {
        PDO_DEVICE_DATA* pdo = CONTAINING_RECORD(c, PDO_DEVICE_DATA, Link);
        BUS_DEVICE_INFO info{};
        info.IP = pdo->ServerIp;
        info.Port = static_cast<uint16_t>(pdo->PortNum);
        const DEVICE_ARRIVALREMOVAL_INFO kept = ReadKeptRecord(pdo);
        info.Rev = kept.Rev;
        info.Pid = kept.Pid;
        info.Vid = kept.Vid;
        info.Status = kept.ArRmStatus;
        info.PnPStatus = pdo->Common.DevicePnPState;
        info.ConnState = pdo->SockContext ? pdo->SockContext->ConnState.load() : 0;
        TRACE_DEVICE(&fdo->Common, 0x200, "CopyDevicesInfo: Device with IP:%d, Port:%d\n", info.IP, info.Port);
        Store(out + 4 + sizeof(BUS_DEVICE_INFO) * at++, info);
      }
      ExReleaseFastMutex(&fdo->Mutex);
    }
    *listed = true;
  }
  ExReleaseFastMutex(&g.ServerListLock);
  return count;
}

}  // namespace

NTSTATUS UpdateRspOfDeviceArRmReqsList(const DEVICE_ARRIVALREMOVAL_INFO* record) {
  PDEVICE_OBJECT control = g.ControlDevice;
  if (!control) {
    TRACE_MASK(0x200, "UpdateRspOfDeviceArRmReqsList >> App interface is closed. Don't intimate RSP\n");
    return STATUS_SUCCESS;
  }
  FDO_DEVICE_DATA* fdo = FdoData(control);
  auto* entry = static_cast<AnswerEntry*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(AnswerEntry), BUS_POOL_TAG));
  // Always the record itself: a Length field that says more is not trusted for the copy.
  auto* copy = static_cast<DEVICE_ARRIVALREMOVAL_INFO*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(DEVICE_ARRIVALREMOVAL_INFO), BUS_POOL_TAG));
  if (!entry || !copy) {
    if (entry) ExFreePoolWithTag(entry, BUS_POOL_TAG);
    if (copy) ExFreePoolWithTag(copy, BUS_POOL_TAG);
    TRACE_DEVICE(&fdo->Common, 0x800, "UpdateRspOfDeviceArRmReqsList >> Error : 0x%x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *copy = *record;
  entry->Record = copy;
  // Logged from the caller's record: once queued, the copy is the reader's to take and free.
  const char* what = record->ArRmStatus == ARRM_STATUS_SUCCESS
                         ? (record->Arrival ? "Device with Server:%d, Port:%d Arrival Successful\n"
                                            : "Device with Server:%d, Port:%d Removal Successful\n")
                         : (record->Arrival ? "Device with Server:%d, Port:%d Arrival Failed\n"
                                            : "Device with Server:%d, Port:%d Removal Failed\n");
  TRACE_DEVICE(&fdo->Common, 0x200, what, record->ServerIp, record->PortNum);
  KIRQL irql;
  KeAcquireSpinLock(&fdo->DeviceArRmReqsLock, &irql);
  InsertTailList(&fdo->DeviceArRmReqsList, &entry->Link);
  PKEVENT event = fdo->hDevArRmRspEvent;
  if (event) ObReferenceObject(event);
  KeReleaseSpinLock(&fdo->DeviceArRmReqsLock, irql);
  if (event) {
    TRACE_DEVICE(&fdo->Common, 0x200, "UpdateRspOfDeviceArRmReqsList >> Signalling hDevArRmRspEvent\n");
    KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    ObDereferenceObject(event);
  }
  return STATUS_SUCCESS;
}

void RedirectorCleanup(FDO_DEVICE_DATA* control) {
  ReplaceEvent(&control->PnpEvent, nullptr);
  KIRQL irql;
  KeAcquireSpinLock(&control->DeviceArRmReqsLock, &irql);
  PKEVENT response = control->hDevArRmRspEvent;
  control->hDevArRmRspEvent = nullptr;
  LIST_ENTRY answers;
  InitializeListHead(&answers);
  while (!IsListEmpty(&control->DeviceArRmReqsList)) InsertTailList(&answers, RemoveHeadList(&control->DeviceArRmReqsList));
  KeReleaseSpinLock(&control->DeviceArRmReqsLock, irql);
  if (response) ObDereferenceObject(response);
  while (!IsListEmpty(&answers)) {
    auto* entry = CONTAINING_RECORD(RemoveHeadList(&answers), AnswerEntry, Link);
    TRACE_DEVICE(&control->Common, 0x200, "RedirectorCleanup >> Cleaning DeviceArRmReqsList...\n");
    ExFreePoolWithTag(entry->Record, BUS_POOL_TAG);
    ExFreePoolWithTag(entry, BUS_POOL_TAG);
  }
}

NTSTATUS RedirectorCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_CLOSE) {
    TRACE_DEVICE(CommonData(device), 0x200, "RedirectorCreateClose >> Close\n");
    RedirectorCleanup(FdoData(device));
  }
  return CompleteWith(irp, STATUS_SUCCESS, 0);
}

NTSTATUS RedirectorIoCtl(PDEVICE_OBJECT device, PIRP irp) {
  FDO_DEVICE_DATA* control = FdoData(device);
  TRACE_DEVICE(&control->Common, 0x200, "REDIRECTOR_IOCTL==>\n");
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  NTSTATUS status = STATUS_INVALID_PARAMETER;
  ULONG_PTR information = 0;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_BUS_DEVICE_ARRIVALREMOVAL: {
      TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> IOCTL_BUS_DEVICE_ARRIVALREMOVAL\n");
      if (inLength != sizeof(DEVICE_ARRIVALREMOVAL_INFO)) {
        status = STATUS_BUFFER_TOO_SMALL;
        information = sizeof(DEVICE_ARRIVALREMOVAL_INFO);
        TRACE_DEVICE(&control->Common, 0x800, "RedirectorIoCtl >> IOCTL_BUS_DEVICE_ARRIVALREMOVAL Error : 0x%x\n", status);
        break;
      }
      auto request = Load<DEVICE_ARRIVALREMOVAL_INFO>(buffer);
      FDO_DEVICE_DATA* fdo = GetDeviceObject(request.ServerIp);
      if (!fdo) {
        request.ArRmStatus = ARRM_STATUS_SERVER_NOT_FOUND;
        TRACE_DEVICE(&control->Common, 0x800,
                     "RedirectorIoCtl >> IOCTL_BUS_DEVICE_ARRIVALREMOVAL Error. Server Not Found 0x%x\n", request.ServerIp);
        UpdateRspOfDeviceArRmReqsList(&request);
        status = STATUS_SUCCESS;
      } else {
        status = request.Arrival ? Bus_PlugInDevice(&request, fdo) : Bus_UnPlugDevice(&request, fdo);
      }
      break;
    }
    case IOCTL_BUS_GETSTATUS: {
      TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> IOCTL_BUS_GETSTATUS\n");
      AnswerEntry* entry = nullptr;
      bool more = false;
      KIRQL irql;
      KeAcquireSpinLock(&control->DeviceArRmReqsLock, &irql);
      if (IsListEmpty(&control->DeviceArRmReqsList)) {
        KeReleaseSpinLock(&control->DeviceArRmReqsLock, irql);
        TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> IOCTL_BUS_GETSTATUS, RSP list empty\n");
        status = STATUS_UNSUCCESSFUL;
        break;
      }
      entry = CONTAINING_RECORD(control->DeviceArRmReqsList.Flink, AnswerEntry, Link);
      // The record is 64 bytes whatever its Length says; only those are ever returned.
      const ULONG recordLength = entry->Record->Length;  // packed: read by value
      ULONG length = std::min<ULONG>(recordLength, sizeof(DEVICE_ARRIVALREMOVAL_INFO));
      if (inLength < length) {
        KeReleaseSpinLock(&control->DeviceArRmReqsLock, irql);
        status = STATUS_BUFFER_TOO_SMALL;
        information = length;
        TRACE_DEVICE(&control->Common, 0x800, "RedirectorIoCtl >> IOCTL_BUS_GETSTATUS Error:0x%x\n", status);
        break;
      }
      RemoveEntryList(&entry->Link);
      more = !IsListEmpty(&control->DeviceArRmReqsList);
      KeReleaseSpinLock(&control->DeviceArRmReqsLock, irql);
      DEVICE_ARRIVALREMOVAL_INFO answer = *entry->Record;
      if (more) {
        answer.ArRmStatus |= ARRM_STATUS_MORE;
        TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> More RSP in the Queue.\n");
      }
      std::memcpy(buffer, &answer, length);
      ExFreePoolWithTag(entry->Record, BUS_POOL_TAG);
      ExFreePoolWithTag(entry, BUS_POOL_TAG);
      TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> Intimated the RSP successfully!!\n");
      status = STATUS_SUCCESS;
      information = length;
      break;
    }
    case IOCTL_BUS_SET_SHARED_EVENT: {
      information = 8;
      if (inLength < 8) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      uint64_t handle;
      std::memcpy(&handle, buffer, sizeof handle);
      PVOID object = nullptr;
      status = ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(handle), SYNCHRONIZE, *ExEventObjectType,
                                         irp->RequestorMode, &object, nullptr);
      if (!NT_SUCCESS(status)) {
        TRACE_DEVICE(&control->Common, 0x800,
                     "RedirectorIoCtl >> IOCTL_BUS_SET_SHARED_EVENT ObReferenceObjectByHandle Error0x%x\n", status);
        break;
      }
      KIRQL irql;
      KeAcquireSpinLock(&control->DeviceArRmReqsLock, &irql);
      PKEVENT previous = control->hDevArRmRspEvent;
      control->hDevArRmRspEvent = static_cast<PKEVENT>(object);
      KeReleaseSpinLock(&control->DeviceArRmReqsLock, irql);
      if (previous) ObDereferenceObject(previous);
      break;
    }
    case IOCTL_BUS_SETRESET_PNPEVENT: {
      information = 9;
      if (inLength < 9) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      auto registration = Load<BUS_PNP_EVENT_REGISTRATION>(buffer);
      if (!registration.Register) {
        ReplaceEvent(&control->PnpEvent, nullptr);
        status = STATUS_INVALID_PARAMETER;
        break;
      }
      PVOID object = nullptr;
      status = ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(registration.Event), SYNCHRONIZE,
                                         *ExEventObjectType, irp->RequestorMode, &object, nullptr);
      if (!NT_SUCCESS(status)) {
        TRACE_DEVICE(&control->Common, 0x800, "RedirectorIoCtl : ObReferenceObjectByHandle Error\n");
        break;
      }
      ReplaceEvent(&control->PnpEvent, static_cast<PKEVENT>(object));
      break;
    }
    case IOCTL_BUS_GET_PNPNOTIFICATION:
      information = sizeof(BUS_PNP_NOTIFICATION);
      // Nothing in this driver records a PnP event code, so there is never one to hand out.
      status = inLength < sizeof(BUS_PNP_NOTIFICATION) ? STATUS_BUFFER_TOO_SMALL : STATUS_UNSUCCESSFUL;
      break;
    case IOCTL_BUS_REDIR_READ:
    case IOCTL_BUS_REDIR_WRITE:
      if (inLength < 21) {
        status = STATUS_BUFFER_TOO_SMALL;
        information = 37;
      } else {
        status = STATUS_INVALID_PARAMETER;
      }
      break;
    case IOCTL_BUS_CANCEL_PENDING_REQUESTS:
      if (inLength < 4) {
        status = STATUS_BUFFER_TOO_SMALL;
        information = 4;
      } else {
        status = STATUS_SUCCESS;
      }
      break;
    case IOCTL_BUS_GET_DEVCOUNT: {
      TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl >> IOCTL_BUS_GET_DEVCOUNT\n");
      if (inLength == 0) {
        status = STATUS_INVALID_PARAMETER;
        break;
      }
      if (std::max(inLength, outLength) < 4) {  // no room for the count in the request's buffer
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      bool listed = false;
      ULONG count = CountAndCopyDevices(inLength >= 28 ? buffer : nullptr, inLength, &listed);
      if (inLength < 28) {
        std::memcpy(buffer, &count, 4);
        status = STATUS_SUCCESS;
        information = 4;
      } else if (!listed) {
        status = STATUS_BUFFER_TOO_SMALL;
      } else {
        std::memcpy(buffer, &count, 4);
        status = STATUS_SUCCESS;
        information = 4 + sizeof(BUS_DEVICE_INFO) * count;
      }
      break;
    }
    default:
      TRACE_DEVICE(&control->Common, 0x200, "RedirectorIoCtl : Default\n");
      break;
  }
  // Never more than the caller's output buffer holds.
  if (!NT_ERROR(status) && information > outLength) information = outLength;
  TRACE_DEVICE(&control->Common, 0x200, "REDIRECTOR_IOCTL<==\n");
  return CompleteWith(irp, status, information);
}

}  // namespace pelkobus
