// Access negotiation (signature, free test, claim; each step on a fresh connection) and the retry of a
// busy printer in auto-connect mode.
#include "busenum.h"

namespace pelkobus {
namespace {

NTSTATUS Step(SOCK_CONTEXT* sock, UCHAR id, const char* name) {
  TRACE_MASK(0x1, "%s==>\n", name);
  NEGCOMMAND* command = nullptr;
  if (!sock || !sock->Fbk) {
    TRACE_MASK(0x20000, "%s: pSockContext==NULL\n", name);
    return STATUS_UNSUCCESSFUL;
  }
  if (!NT_SUCCESS(GetNEGCOMMAND(sock->Fbk, id, &command))) return STATUS_UNSUCCESSFUL;
  NTSTATUS status = TdiNetwork_Exchange(sock, command);
  if (NT_SUCCESS(status)) {
    zarnet::NegVerdict verdict = zarnet::JudgeNegReply(id, std::span<const uint8_t>(command->Reply, command->ReplyLength));
    status = verdict == zarnet::NegVerdict::kAccepted ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
  }
  TRACE_MASK(0x1, "%s<==\n", name);
  return status;
}

NTSTATUS ValidateSignature(SOCK_CONTEXT* sock) { return Step(sock, zarnet::NEGCMD_SIGNATURE, "ValidateSignature"); }
NTSTATUS IsDeviceFree(SOCK_CONTEXT* sock) { return Step(sock, zarnet::NEGCMD_IS_DEVICE_FREE, "IsDeviceFree"); }
// The mode is not sent: the call always claims.
NTSTATUS MakeDeviceBusyOrFree(ULONG, SOCK_CONTEXT* sock) {
  return Step(sock, zarnet::NEGCMD_CLAIM_DEVICE, "MakeDeviceBusyOrFree");
}

void ArmRetry(PDO_DEVICE_DATA* pdo, const char* alreadyMessage) {
  pdo->PrinterDue.QuadPart = -static_cast<LONGLONG>(g.PrinterRetryMs.load()) * 10000;
  if (KeSetTimer(&pdo->PrinterTimer, pdo->PrinterDue, &pdo->PrinterDpc)) TRACE_MASK(0x10000, "%s", alreadyMessage);
}

// One retry; on success the child is shown and the plug-in answered. Any failed step but the free test
// ends the retries and answers the plug-in with a failure (the administration program would wait forever
// otherwise); the child then goes, so that the next connect of the port starts afresh instead of finding
// a child that holds nothing. Returns whether the caller must destroy the child.
bool TdiNegPrinter_Retry(PDO_DEVICE_DATA* pdo) {
  SOCK_CONTEXT* sock = pdo->SockContext;
  const char* failure = nullptr;
  // A sleep that came during a retry closed the connection it was using, handles and all.
  if (!NT_SUCCESS(TdiNetwork_ReopenSocket(sock)) || !NT_SUCCESS(TdiNetwork_Reconnect(sock))) {
    failure = "TdiNegPrinter_ThreadWorkItem : TdiNetwork_Reconnect failed - 2!!\n";
  } else if (!NT_SUCCESS(IsDeviceFree(sock))) {
    TRACE_MASK(0x10000, "TdiNegPrinter_ThreadWorkItem : IsDeviceFree failed. DeviceBusy!!\n");
    TdiNetwork_Disconnect(sock);  // as after the first free test: nothing is held between retries
    if (ReadKeptRecord(pdo).AutoConnect && pdo->Common.DevicePnPState == AccessPending)
      ArmRetry(pdo, "TdiNegPrinter_ThreadWorkItem: KeSetTimerEx Already in Timer Queue\n");
    return false;
  } else if (!NT_SUCCESS(TdiNetwork_Reconnect(sock))) {
    failure = "TdiNegPrinter_ThreadWorkItem : TdiNetwork_Reconnect failed - 3!!\n";
  } else if (!NT_SUCCESS(MakeDeviceBusyOrFree(1, sock))) {
    failure = "TdiNegPrinter_ThreadWorkItem : MakeDeviceBusyOrFree failed!!\n";
  } else if (!NT_SUCCESS(TdiNetwork_StartReceiving(sock))) {
    failure = "TdiNegPrinter_ThreadWorkItem: receiving could not start\n";
  }
  PIPE* pipe = nullptr;
  if (!failure && !NT_SUCCESS(GetPIPE(pdo, &pipe))) failure = "TdiNegPrinter_ThreadWorkItem: GetPIPE Failed\n";
  // As at a start that found the printer free: the child carries requests before it is shown.
  if (!failure && !NT_SUCCESS(UsbPath_Create(pdo, pipe)))
    failure = "TdiNegPrinter_ThreadWorkItem: UsbPath_Create Failed\n";
  if (failure) {
    TRACE_MASK(0x10000, "%s", failure);
    TdiNetwork_CloseThreads(pdo);
    TdiNetwork_CloseSocket(sock);
    // Out of the list before the answer: whoever hears of the failure finds the port free.
    bool owned = Bus_UnlinkWaitingChild(pdo);
    AnswerKeptRecord(pdo, ARRM_STATUS_FAILED);
    return owned;
  }
  pdo->PortStatus |= 2;
  pdo->Present = 1;
  pdo->ReportedMissing = 0;
  if (FDO_DEVICE_DATA* parent = pdo->ParentFdo) IoInvalidateDeviceRelations(parent->UnderlyingPDO, BusRelations);
  // Answered last: whoever hears of the success finds the child shown.
  AnswerKeptRecord(pdo, ARRM_STATUS_SUCCESS);
  return false;
}

struct RetryItem {
  PIO_WORKITEM Item;
  PDO_DEVICE_DATA* Pdo;
};

void TdiNegPrinter_ThreadWorkItem(PDEVICE_OBJECT, PVOID context) {
  auto* retry = static_cast<RetryItem*>(context);
  PDO_DEVICE_DATA* pdo = retry->Pdo;
  IoFreeWorkItem(retry->Item);
  ExFreePoolWithTag(retry, BUS_POOL_TAG);
  // An unplug that came meanwhile leaves the child to its removal.
  bool destroy = pdo->Common.DevicePnPState == AccessPending && TdiNegPrinter_Retry(pdo);
  if (InterlockedDecrement(&pdo->RetryActive) == 0) KeSetEvent(&pdo->RetryIdle, IO_NO_INCREMENT, FALSE);
  // Destruction waits for this retry to be over, so it comes after the count.
  if (destroy) Bus_DestroyPdo(pdo->Common.Self, pdo);
}

}  // namespace

void PrinterTimerRoutine(PKDPC, PVOID context, PVOID, PVOID) {
  TRACE_MASK(0x1, "PrinterTimerRoutine ==>\n");
  auto* pdo = static_cast<PDO_DEVICE_DATA*>(context);
  if (!pdo->Fbk) {
    TRACE_MASK(0x20000, "PrinterTimerRoutine: pFbk==NULL\n");
    return;
  }
  if (!pdo->SockContext) {
    TRACE_MASK(0x20000, "PrinterTimerRoutine: pSockContext==NULL\n");
    return;
  }
  PIO_WORKITEM item = IoAllocateWorkItem(pdo->Common.Self);
  auto* retry = static_cast<RetryItem*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(RetryItem), BUS_POOL_TAG));
  if (!item || !retry) {
    if (item) IoFreeWorkItem(item);
    if (retry) ExFreePoolWithTag(retry, BUS_POOL_TAG);
    return;
  }
  *retry = {item, pdo};
  // Counted before it is queued, so the child's destruction waits for it.
  if (InterlockedIncrement(&pdo->RetryActive) == 1) KeClearEvent(&pdo->RetryIdle);
  IoQueueWorkItem(item, TdiNegPrinter_ThreadWorkItem, DelayedWorkQueue, retry);
  TRACE_MASK(0x1, "FrameTimeRoutine <==\n");
}

NTSTATUS NegotiatePelkoDeviceAccess(PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess==>\n");
  if (!pdo->Fbk) {
    TRACE_MASK(0x20000, "NegotiatePelkoDeviceAccess: pFbk==NULL\n");
    return STATUS_UNSUCCESSFUL;
  }
  SOCK_CONTEXT* sock = pdo->SockContext;
  if (!sock) {
    TRACE_MASK(0x20000, "NegotiatePelkoDeviceAccess: pSockContext==NULL\n");
    return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  const char* failure = nullptr;
  bool autoConnect = ReadKeptRecord(pdo).AutoConnect != 0;
  if (!NT_SUCCESS(TdiNetwork_Reconnect(sock))) {
    failure = "NegotiatePelkoDeviceAccess : TdiNetwork_Reconnect failed - 1!!\n";
  } else if (!NT_SUCCESS(ValidateSignature(sock))) {
    failure = "NegotiatePelkoDeviceAccess : ValidateSignature failed!!\n";
  } else {
    if (autoConnect) TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess : PrinterAutoConnect mode is Enabled\n");
    if (!NT_SUCCESS(TdiNetwork_Reconnect(sock))) {
      failure = "NegotiatePelkoDeviceAccess : TdiNetwork_Reconnect failed - 2!!\n";
    } else if (!NT_SUCCESS(status = IsDeviceFree(sock))) {
      TRACE_MASK(0x10000, "NegotiatePelkoDeviceAccess : IsDeviceFree failed. DeviceBusy!!\n");
      if (!pdo->Present) {
        failure = "NegotiatePelkoDeviceAccess : PDO is signalled for removal. So Break.\n";
      } else if (autoConnect) {
        pdo->Present = 0;
        TdiNetwork_Disconnect(sock);  // the retry connects again; no connection is held meanwhile
        ArmRetry(pdo, "KeSetTimerEx Already in Timer Queue\n");
        TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess<==\n");
        return STATUS_NEGOTIATION_PENDING;
      } else {
        failure = "NegotiatePelkoDeviceAccess : busy\n";
      }
    } else if (!NT_SUCCESS(TdiNetwork_Reconnect(sock))) {
      failure = "NegotiatePelkoDeviceAccess : TdiNetwork_Reconnect failed - 3!!\n";
    } else if (!NT_SUCCESS(status = MakeDeviceBusyOrFree(1, sock))) {
      failure = "NegotiatePelkoDeviceAccess : MakeDeviceBusyOrFree failed!!\n";
    } else {
      TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess : Successfully got access to device\n");
      TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess<==\n");
      return STATUS_SUCCESS;
    }
  }
  if (NT_SUCCESS(status)) status = STATUS_UNSUCCESSFUL;
  TRACE_MASK(0x10000, "%s", failure);
  TRACE_MASK(0x10000, "NegotiatePelkoDeviceAccess : Faile to get access to device%x\n", status);
  TRACE_MASK(0x1, "NegotiatePelkoDeviceAccess<==\n");
  return status;
}

}  // namespace pelkobus
