// The network layer of a child: its TCP connection to the server's data port through the transport
// interface, the reusable send and receive records, the start work item and the receive thread.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "busenum.h"

namespace pelkobus {
namespace {

// The size sits in front of the block; the header is 16 bytes so that the block keeps the pool's alignment.
constexpr SIZE_T kMemHeader = 16;

PVOID KMem_AllocateNonPagedMemory(SIZE_T size, ULONG tag) {
  auto* block = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, size + kMemHeader, tag));
  if (!block) return nullptr;
  ULONG stored = static_cast<ULONG>(size);
  std::memcpy(block, &stored, 4);
  return block + kMemHeader;
}

// Filled with 0xDA before it goes, so a late use shows.
void KMem_FreeNonPagedMemory(PVOID address, ULONG tag) {
  PUCHAR block = static_cast<PUCHAR>(address) - kMemHeader;
  ULONG size;
  std::memcpy(&size, block, 4);
  std::memset(block, 0xDA, size + kMemHeader);
  ExFreePoolWithTag(block, tag);
}

// The transport's time-out for a connect or a disconnect, relative.
LONGLONG ConnectTimeout() { return -static_cast<LONGLONG>(g.ConnectTimeoutMs.load()) * 10000; }

void LockSock(SOCK_CONTEXT* sock) { KeWaitForSingleObject(&sock->ConnectMutex, Executive, KernelMode, FALSE, nullptr); }
void UnlockSock(SOCK_CONTEXT* sock) { KeReleaseMutex(&sock->ConnectMutex, FALSE); }

// One of the socket's transport objects with a reference of the caller's, or null. The fields change under
// the child's spin lock, and a close drops its own reference at once: a bare read could use a freed object.
PFILE_OBJECT ReferenceTransport(SOCK_CONTEXT* sock, PFILE_OBJECT SOCK_CONTEXT::*field) {
  KIRQL irql;
  KeAcquireSpinLock(&sock->Pdo->Lock, &irql);
  PFILE_OBJECT object = sock->*field;
  if (object) ObReferenceObject(object);
  KeReleaseSpinLock(&sock->Pdo->Lock, irql);
  return object;
}

// A transport request other than send and receive, waited for.
template <class Fill>
NTSTATUS TdiRequest(PFILE_OBJECT file, UCHAR minor, Fill fill) {
  PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
  KEVENT event;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(0x3, device, nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  TdiBuildRequest(irp, device, file, minor, nullptr, nullptr);
  fill(irp);
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = iosb.Status;
  }
  return status;
}

NTSTATUS OpenTcp(PVOID ea, ULONG eaLength, ACCESS_MASK access, PHANDLE handle, PFILE_OBJECT* object) {
  static char16_t kTcp[] = u"\\Device\\Tcp";
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(kTcp));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK iosb{};
  NTSTATUS status = ZwCreateFile(handle, access, &attributes, &iosb, nullptr, FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN_IF, 0,
                                 ea, eaLength);
  if (!NT_SUCCESS(status)) return status;
  PVOID referenced = nullptr;
  status = ObReferenceObjectByHandle(*handle, GENERIC_READ | GENERIC_WRITE, *IoFileObjectType, KernelMode, &referenced, nullptr);
  if (!NT_SUCCESS(status)) {
    ZwClose(*handle);
    *handle = nullptr;
    return status;
  }
  *object = static_cast<PFILE_OBJECT>(referenced);
  return STATUS_SUCCESS;
}

NTSTATUS TdiFuncs_CloseTdiOpenHandle(HANDLE handle, PFILE_OBJECT object) {
  if (object) ObDereferenceObject(object);
  if (handle) ZwClose(handle);
  return STATUS_SUCCESS;
}

NTSTATUS CreateSocket(SOCK_CONTEXT* sock) {
  TRACE_MASK(0x4000, "CreateSocket==>\n");
  // The transport address: any local address and port.
  alignas(8) UCHAR addressEa[328] = {};
  auto* ea = reinterpret_cast<PFILE_FULL_EA_INFORMATION>(addressEa);
  ea->EaNameLength = TDI_TRANSPORT_ADDRESS_LENGTH;
  ea->EaValueLength = sizeof(TA_IP_ADDRESS) + 20;  // 42, as the transport expects
  std::memcpy(ea->EaName, TdiTransportAddress, TDI_TRANSPORT_ADDRESS_LENGTH + 1);
  TA_IP_ADDRESS local{};
  local.TAAddressCount = 1;
  local.Address[0].AddressLength = TDI_ADDRESS_LENGTH_IP;
  local.Address[0].AddressType = TDI_ADDRESS_TYPE_IP;
  std::memcpy(ea->EaName + TDI_TRANSPORT_ADDRESS_LENGTH + 1, &local, sizeof local);
  HANDLE addressHandle = nullptr, connectionHandle = nullptr;
  PFILE_OBJECT addressObject = nullptr, connectionObject = nullptr;
  NTSTATUS status = OpenTcp(addressEa, sizeof addressEa, FILE_READ_EA | FILE_WRITE_EA, &addressHandle, &addressObject);
  if (!NT_SUCCESS(status)) return status;
  // The connection endpoint (TdiFuncs_OpenConnection).
  auto* connectionEa = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, 34, BUS_POOL_TAG));
  if (!connectionEa) {
    TRACE_MASK(0x10000, "Allocation failed TdiFuncs_OpenConnection==>\n");
    TdiFuncs_CloseTdiOpenHandle(addressHandle, addressObject);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(connectionEa, 34);
  auto* cea = reinterpret_cast<PFILE_FULL_EA_INFORMATION>(connectionEa);
  cea->EaNameLength = TDI_CONNECTION_CONTEXT_LENGTH;
  cea->EaValueLength = 8;
  std::memcpy(cea->EaName, TdiConnectionContext, TDI_CONNECTION_CONTEXT_LENGTH + 1);
  status = OpenTcp(connectionEa, 34, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &connectionHandle, &connectionObject);
  ExFreePoolWithTag(connectionEa, BUS_POOL_TAG);
  if (!NT_SUCCESS(status)) {
    TdiFuncs_CloseTdiOpenHandle(addressHandle, addressObject);
    return status;
  }
  status = TdiRequest(connectionObject, TDI_ASSOCIATE_ADDRESS, [&](PIRP irp) {
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_ASSOCIATE{addressHandle, addressObject});
  });
  if (!NT_SUCCESS(status)) {
    TdiFuncs_CloseTdiOpenHandle(connectionHandle, connectionObject);
    TdiFuncs_CloseTdiOpenHandle(addressHandle, addressObject);
    return status;
  }
  LockSock(sock);
  KIRQL irql;
  KeAcquireSpinLock(&sock->Pdo->Lock, &irql);
  sock->AddressHandle = addressHandle;
  sock->AddressObject = addressObject;
  sock->ConnectionHandle = connectionHandle;
  sock->ConnectionObject = connectionObject;
  KeReleaseSpinLock(&sock->Pdo->Lock, irql);
  UnlockSock(sock);
  return STATUS_SUCCESS;
}

NTSTATUS SyncCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* record = static_cast<TDI_IRP_RECORD*>(context);
  record->Status = irp->IoStatus.Status;
  record->Transferred = static_cast<ULONG>(irp->IoStatus.Information);
  KeSetEvent(&record->Event, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

void ReleaseMdl(TDI_IRP_RECORD* record) {
  if (!record->Mdl) return;
  MmUnlockPages(record->Mdl);
  IoFreeMdl(record->Mdl);
  record->Mdl = nullptr;
}

// Send or receive on the connection with the record's reused IRP. Asynchronous: the record's routine
// runs at completion. Synchronous: waits (at most `timeout` when given; then the request is cancelled
// and STATUS_IO_TIMEOUT returned) and leaves the result in the record.
NTSTATUS TdiFuncs_Transfer(PFILE_OBJECT connection, TDI_IRP_RECORD* record, UCHAR minor, PLARGE_INTEGER timeout) {
  const char* name = minor == TDI_SEND ? "TdiFuncs_Send" : "TdiFuncs_Receive";
  if (!connection) {
    TRACE_MASK(0x20000, "%s: pSockContext==NULL\n", name);
    return STATUS_UNSUCCESSFUL;
  }
  PDEVICE_OBJECT device = IoGetRelatedDeviceObject(connection);
  record->Mdl = IoAllocateMdl(record->Buffer, record->ulBufflen, FALSE, FALSE, nullptr);
  if (!record->Mdl) {
    TRACE_MASK(0x10000, "Error : %s >> Mdl Exception:%x, Buff Len:%d\n", name, STATUS_INSUFFICIENT_RESOURCES, record->ulBufflen);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  MmProbeAndLockPages(record->Mdl, KernelMode, IoModifyAccess);
  PIRP irp = record->Irp;
  IoReuseIrp(irp, STATUS_SUCCESS);
  KeClearEvent(&record->Event);
  TdiBuildRequest(irp, device, connection, minor, record->Synchronous ? SyncCompletion : record->Routine, record);
  if (minor == TDI_SEND) {
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_SEND{record->ulBufflen, 0});
  } else {
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{record->ulBufflen, TDI_RECEIVE_NORMAL});
  }
  irp->MdlAddress = record->Mdl;
  NTSTATUS status = IoCallDriver(device, irp);
  TRACE_MASK(0x400, "%s : NtStatus 0x%x\n", name, status);
  if (!record->Synchronous) return status;
  NTSTATUS waited = KeWaitForSingleObject(&record->Event, Executive, KernelMode, FALSE, timeout);
  if (waited == STATUS_TIMEOUT) {
    IoCancelIrp(irp);
    KeWaitForSingleObject(&record->Event, Executive, KernelMode, FALSE, nullptr);
    ReleaseMdl(record);
    record->Status = STATUS_IO_TIMEOUT;
    return STATUS_IO_TIMEOUT;
  }
  ReleaseMdl(record);
  return record->Status;
}

NTSTATUS RecvRECVPOOL(SOCK_CONTEXT* sock) {
  // IsRecvCancelled: judges the first busy record.
  if (IsListEmpty(&sock->RecvBusy)) {
    TRACE_MASK(0x20000, "IsRecvCancelled: pRecvIrp==NULL\n");
    return STATUS_UNSUCCESSFUL;
  }
  PLIST_ENTRY first = RemoveHeadList(&sock->RecvBusy);
  TDI_IRP_RECORD* record = CONTAINING_RECORD(first, TDI_IRP_RECORD, Link);
  InsertTailList(&sock->RecvFree, first);
  PDO_DEVICE_DATA* pdo = record->Pdo;
  if (record->ulBufflen == 0 && !(pdo->OldSystem && record->Status == STATUS_SUCCESS)) {
    TRACE_MASK(0x10000, "Error : IsRecvCancelled >> pRecvIrp->ulRecvLen=%d\n", record->ulBufflen);
    return STATUS_UNSUCCESSFUL;
  }
  if (record->Status == STATUS_CANCELLED) return STATUS_CANCELLED;
  if (record->Status != STATUS_SUCCESS) {
    TRACE_MASK(0x10000, "Error : IsRecvCancelled >> pRecvIrp->NtStatus = 0x%x\n", record->Status);
    return STATUS_UNSUCCESSFUL;
  }
  // The response path takes the bytes from here.
  if (pdo->OnResponse) pdo->OnResponse(pdo, record->Buffer, record->ulBufflen);
  return STATUS_SUCCESS;
}

NTSTATUS IssueRECVIRP(SOCK_CONTEXT* sock, TDI_IRP_RECORD* record) {
  record->Synchronous = 0;
  RtlZeroMemory(record->IoStatus, sizeof(IO_STATUS_BLOCK));
  RtlZeroMemory(record->Buffer, RECV_BUFFER_SIZE);
  record->Transferred = 0;
  record->Status = STATUS_SUCCESS;
  record->Mdl = nullptr;
  record->ulBufflen = RECV_BUFFER_SIZE;
  PFILE_OBJECT connection = ReferenceTransport(sock, &SOCK_CONTEXT::ConnectionObject);
  NTSTATUS status = TdiFuncs_Transfer(connection, record, TDI_RECEIVE, nullptr);
  if (connection) ObDereferenceObject(connection);
  return status;
}

NTSTATUS TdiFuncs_RecvCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* record = static_cast<TDI_IRP_RECORD*>(context);
  PDO_DEVICE_DATA* pdo = record->Pdo;
  SOCK_CONTEXT* sock = pdo->SockContext;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  record->ulBufflen = static_cast<ULONG>(irp->IoStatus.Information);
  record->Transferred = 0;
  record->Status = irp->IoStatus.Status;
  NTSTATUS result = RecvRECVPOOL(sock);
  ReleaseMdl(record);
  if (result != STATUS_SUCCESS && result != STATUS_CANCELLED) {
    TRACE_MASK(0x10000, "TdiFuncs_RecvCompletion : Failed Status:0x%x\n", result);
    if (IsListEmpty(&sock->RecvBusy)) {
      TRACE_MASK(0x10000, "TdiFuncs_RecvCompletion Signalling kExitTdiRecvThread 2\n");
      KeSetEvent(&sock->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
    }
  } else if (pdo->Common.DevicePnPState == Deleted) {
    TRACE_MASK(0x10000, "Device is Already Deleted Status %x\n", result);
    if (IsListEmpty(&sock->RecvBusy)) KeSetEvent(&sock->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
  } else if (!IsListEmpty(&sock->RecvFree) && sock->ConnectionObject) {
    PLIST_ENTRY next = RemoveHeadList(&sock->RecvFree);
    InsertTailList(&sock->RecvBusy, next);
    KeReleaseSpinLock(&pdo->Lock, irql);
    IssueRECVIRP(sock, CONTAINING_RECORD(next, TDI_IRP_RECORD, Link));
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  KeReleaseSpinLock(&pdo->Lock, irql);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS TdiFuncs_SendCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* record = static_cast<TDI_IRP_RECORD*>(context);
  PDO_DEVICE_DATA* pdo = record->Pdo;
  SOCK_CONTEXT* sock = pdo->SockContext;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  record->Transferred = static_cast<ULONG>(irp->IoStatus.Information);
  record->Status = irp->IoStatus.Status;
  ReleaseMdl(record);
  if (!IsListEmpty(&sock->SendBusy)) InsertTailList(&sock->SendFree, RemoveHeadList(&sock->SendBusy));
  if (record->Status != STATUS_SUCCESS) {
    TRACE_MASK(0x10000, "TdiFuncs_SendCompletion<==status %x\n", record->Status);
    KeSetEvent(&sock->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
  } else if (record->Transferred < record->ulBufflen) {
    TRACE_MASK(0x10000, "TdiFuncs_SendCompletion : Partial Send over the Network\n");
  }
  KeReleaseSpinLock(&pdo->Lock, irql);
  // The data path sends the rest of a partial send, or what waits next.
  UsbPath_SendDone(pdo, record->Transferred, record->Status);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS CreateIrpRecord(SOCK_CONTEXT* sock, TDI_IRP_RECORD** out, bool receive) {
  ULONG tag = receive ? IRPR_TAG : IRPW_TAG;
  *out = nullptr;
  PFILE_OBJECT connection = ReferenceTransport(sock, &SOCK_CONTEXT::ConnectionObject);
  if (!connection) return STATUS_UNSUCCESSFUL;
  PDEVICE_OBJECT device = IoGetRelatedDeviceObject(connection);
  ObDereferenceObject(connection);
  auto* record = static_cast<TDI_IRP_RECORD*>(KMem_AllocateNonPagedMemory(sizeof(TDI_IRP_RECORD), tag));
  if (!record) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(record, sizeof *record);
  record->Tag = tag;
  record->Pdo = sock->Pdo;
  record->Synchronous = 0;
  record->Routine = receive ? TdiFuncs_RecvCompletion : TdiFuncs_SendCompletion;
  KeInitializeEvent(&record->Event, NotificationEvent, FALSE);
  InitializeListHead(&record->Link);
  record->Irp = IoAllocateIrp(device->StackSize, FALSE);
  record->IoStatus = static_cast<PIO_STATUS_BLOCK>(KMem_AllocateNonPagedMemory(sizeof(IO_STATUS_BLOCK), tag));
  if (receive) record->Buffer = static_cast<PUCHAR>(KMem_AllocateNonPagedMemory(RECV_BUFFER_SIZE, tag));
  if (!record->Irp || !record->IoStatus || (receive && !record->Buffer)) {
    receive ? FreeRecvIrp(record) : FreeSendIrp(record);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *out = record;
  return STATUS_SUCCESS;
}

NTSTATUS CreateSendIrpList(SOCK_CONTEXT* sock) {
  TRACE_MASK(0x1, "CreateSendIrpList\n");
  for (int i = 0; i < kIrpRecordsPerList; ++i) {
    TDI_IRP_RECORD* record = nullptr;
    if (!NT_SUCCESS(CreateSendIrp(sock, &record))) break;
    InsertTailList(&sock->SendFree, &record->Link);
  }
  TRACE_MASK(0x1, "CreateRecvIrpList\n");
  for (int i = 0; i < kIrpRecordsPerList; ++i) {
    TDI_IRP_RECORD* record = nullptr;
    if (!NT_SUCCESS(CreateRecvIrp(sock, &record))) break;
    InsertTailList(&sock->RecvFree, &record->Link);
  }
  return IsListEmpty(&sock->SendFree) || IsListEmpty(&sock->RecvFree) ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS;
}

NTSTATUS IssueInitRECVIRP(SOCK_CONTEXT* sock) {
  PDO_DEVICE_DATA* pdo = sock->Pdo;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (IsListEmpty(&sock->RecvFree)) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return STATUS_UNSUCCESSFUL;  // nothing to receive with: the connection could never be served
  }
  PLIST_ENTRY first = RemoveHeadList(&sock->RecvFree);
  InsertTailList(&sock->RecvBusy, first);
  KeReleaseSpinLock(&pdo->Lock, irql);
  NTSTATUS status = IssueRECVIRP(sock, CONTAINING_RECORD(first, TDI_IRP_RECORD, Link));
  return NT_SUCCESS(status) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS TdiNetwork_ClientEventDisconnect(PVOID, PVOID, LONG, PVOID, LONG, PVOID, ULONG flags) {
  TRACE_MASK(0x4000, "TdiNetwork_ClientEventDisconnect >> Network Disconnect Notification.\n");
  if (flags & TDI_DISCONNECT_ABORT) TRACE_MASK(0x4000, "TdiNetwork_ClientEventDisconnect >> TDI Abort\n");
  if (flags & TDI_DISCONNECT_RELEASE) TRACE_MASK(0x4000, "TdiNetwork_ClientEventDisconnect >> TDI Release\n");
  return STATUS_SUCCESS;  // a lost connection is acted on through the failing receive or send
}

void RecvThreadProc(PVOID context) {
  auto* sock = static_cast<SOCK_CONTEXT*>(context);
  KeSetPriorityThread(KeGetCurrentThread(), HIGH_PRIORITY);
  PVOID objects[3] = {&sock->kExitTdiRecvThread, &sock->Spare[0], &sock->Spare[1]};
  for (;;) {
    NTSTATUS waited = KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
    if (waited == STATUS_WAIT_0) break;
    KeClearEvent(static_cast<PKEVENT>(objects[waited - STATUS_WAIT_0]));
  }
  TdiNetwork_CloseSocket(sock);
  UsbPath_ConnectionEnded(sock->Pdo);
  InterlockedExchange(&sock->RecvThreadRunning, 0);
}

}  // namespace

NTSTATUS TdiNetwork_IssueSend(SOCK_CONTEXT* sock, PUCHAR buffer, ULONG length) {
  PDO_DEVICE_DATA* pdo = sock->Pdo;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (IsListEmpty(&sock->SendFree) || !sock->ConnectionObject) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    TRACE_MASK(0x20000, "DoSendIrp: pSendIrp2==NULL\n");
    return STATUS_UNSUCCESSFUL;
  }
  PLIST_ENTRY entry = RemoveHeadList(&sock->SendFree);
  InsertTailList(&sock->SendBusy, entry);
  TDI_IRP_RECORD* record = CONTAINING_RECORD(entry, TDI_IRP_RECORD, Link);
  record->Synchronous = 0;
  RtlZeroMemory(record->IoStatus, sizeof(IO_STATUS_BLOCK));
  record->Buffer = buffer;
  record->ulBufflen = length;
  record->Transferred = 0;
  record->Status = STATUS_SUCCESS;
  PFILE_OBJECT connection = sock->ConnectionObject;  // a close clears it under this lock
  ObReferenceObject(connection);  // and drops its own reference at once
  KeReleaseSpinLock(&pdo->Lock, irql);
  NTSTATUS status = TdiFuncs_Transfer(connection, record, TDI_SEND, nullptr);
  ObDereferenceObject(connection);
  return status;
}

NTSTATUS CreateSendIrp(SOCK_CONTEXT* sock, TDI_IRP_RECORD** record) { return CreateIrpRecord(sock, record, false); }
NTSTATUS CreateRecvIrp(SOCK_CONTEXT* sock, TDI_IRP_RECORD** record) { return CreateIrpRecord(sock, record, true); }

NTSTATUS FreeSendIrp(TDI_IRP_RECORD* record) {
  ULONG tag = record->Tag;
  if (record->Irp) IoFreeIrp(record->Irp);
  if (record->IoStatus) KMem_FreeNonPagedMemory(record->IoStatus, tag);
  KMem_FreeNonPagedMemory(record, tag);
  return STATUS_SUCCESS;
}

NTSTATUS FreeRecvIrp(TDI_IRP_RECORD* record) {
  if (record->Buffer) KMem_FreeNonPagedMemory(record->Buffer, record->Tag);
  record->Buffer = nullptr;
  return FreeSendIrp(record);
}

SOCK_CONTEXT* TdiNetwork_InitializeTdiContext(PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x4000, "TdiNetwork_InitializeTdiContext ===>\n");
  auto* sock = static_cast<SOCK_CONTEXT*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(SOCK_CONTEXT), BUS_POOL_TAG));
  if (!sock) return nullptr;
  RtlZeroMemory(sock, sizeof *sock);
  sock->ServerIp = pdo->KeptRecord->ServerIp;
  sock->DataPort = pdo->KeptRecord->DataPort;
  InitializeListHead(&sock->SendFree);
  InitializeListHead(&sock->SendBusy);
  InitializeListHead(&sock->RecvFree);
  InitializeListHead(&sock->RecvBusy);
  KeInitializeMutex(&sock->ConnectMutex, 0);
  KeInitializeEvent(&sock->StartDone, NotificationEvent, FALSE);
  for (auto& e : sock->Spare) KeInitializeEvent(&e, NotificationEvent, FALSE);
  KeInitializeEvent(&sock->kExitTdiRecvThread, NotificationEvent, FALSE);
  sock->StartStatus = STATUS_UNSUCCESSFUL;
  sock->Reserved = 1;
  InterlockedExchange(&sock->RecvThreadRunning, 1);
  sock->Pdo = pdo;
  sock->Timeouts[0] = sock->Timeouts[1] = sock->Timeouts[2] = 0xFFFFFFFF;
  return sock;
}

void TdiNetwork_FreeTdiContext(SOCK_CONTEXT* sock) { ExFreePoolWithTag(sock, BUS_POOL_TAG); }

NTSTATUS TdiNetwork_Disconnect(SOCK_CONTEXT* sock) {
  LockSock(sock);
  if (sock->ConnState != ConnConnected || !sock->ConnectionObject) {
    UnlockSock(sock);
    return STATUS_SUCCESS;
  }
  sock->ConnState = ConnDisconnecting;
  PFILE_OBJECT connection = sock->ConnectionObject;
  ObReferenceObject(connection);
  UnlockSock(sock);
  LARGE_INTEGER timeout;
  timeout.QuadPart = ConnectTimeout();
  NTSTATUS status = TdiRequest(connection, TDI_DISCONNECT, [&](PIRP irp) {
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_DISCONNECT{TDI_DISCONNECT_ABORT, nullptr, nullptr, &timeout});
  });
  ObDereferenceObject(connection);
  LockSock(sock);
  sock->ConnState = ConnDisconnected;
  UnlockSock(sock);
  return status;
}

NTSTATUS TdiNetwork_Reconnect(SOCK_CONTEXT* sock) {
  TRACE_MASK(0x4000, "TdiNetwork_Reconnect==>\n");
  LockSock(sock);
  bool open = sock->ConnectionObject != nullptr;
  UnlockSock(sock);
  if (!open) return STATUS_UNSUCCESSFUL;
  NTSTATUS status = TdiNetwork_Disconnect(sock);
  TRACE_MASK(0x400, "TdiNetwork_Reconnect : Disconnect NtStatus 0x%x\n", status);
  for (int attempt = 0; attempt < 3; ++attempt) {
    LockSock(sock);
    if (sock->ConnState != ConnDisconnected || !sock->ConnectionObject) {
      TRACE_MASK(0x10000, "TdiNetwork_Connect >>  Already in Connected State.\n");
      UnlockSock(sock);
      continue;
    }
    sock->ConnState = ConnConnecting;
    PFILE_OBJECT connection = sock->ConnectionObject;
    ObReferenceObject(connection);
    UnlockSock(sock);
    TRACE_MASK(0x400, "TdiNetwork_Connect >>  connecting to IP: %d, Port: %d\n", sock->ServerIp, sock->DataPort);
    TA_IP_ADDRESS remote{};
    remote.TAAddressCount = 1;
    remote.Address[0].AddressLength = TDI_ADDRESS_LENGTH_IP;
    remote.Address[0].AddressType = TDI_ADDRESS_TYPE_IP;
    remote.Address[0].Address[0].sin_port = sock->DataPort;
    remote.Address[0].Address[0].in_addr = sock->ServerIp;
    TDI_CONNECTION_INFORMATION info{};
    info.RemoteAddressLength = sizeof remote;
    info.RemoteAddress = &remote;
    LARGE_INTEGER timeout;
    timeout.QuadPart = ConnectTimeout();
    status = TdiRequest(connection, TDI_CONNECT, [&](PIRP irp) {
      TdiSetParameters(irp, TDI_REQUEST_KERNEL_CONNECT{0, &info, nullptr, &timeout});
    });
    ObDereferenceObject(connection);
    LockSock(sock);
    sock->ConnState = NT_SUCCESS(status) ? ConnConnected : ConnDisconnected;
    UnlockSock(sock);
    if (status == STATUS_IO_TIMEOUT) {
      TRACE_MASK(0x10000, "TdiNetwork_Connect: Connection Timeout\n");
      return STATUS_UNSUCCESSFUL;
    }
    if (NT_SUCCESS(status)) return STATUS_SUCCESS;
    TRACE_MASK(0x10000, "TdiNetwork_Connect >>  Failed to connect. Status = 0x%0x\n", status);
  }
  TRACE_MASK(0x10000, "TdiNetwork_Reconnect : Failed to connect\n");
  return STATUS_UNSUCCESSFUL;
}

namespace {

// Disconnects when connected and closes both handles; with `onlyConnected` a socket that is not connected
// is left as it is. Once, under the connect mutex: whoever comes second finds the fields cleared.
NTSTATUS CloseSocketHandles(SOCK_CONTEXT* sock, bool onlyConnected) {
  LockSock(sock);
  bool connected = sock->ConnState == ConnConnected;
  if (onlyConnected && !connected) {
    UnlockSock(sock);
    return STATUS_SUCCESS;
  }
  HANDLE addressHandle = sock->AddressHandle, connectionHandle = sock->ConnectionHandle;
  PFILE_OBJECT addressObject = sock->AddressObject, connectionObject = sock->ConnectionObject;
  // The receive completion looks at ConnectionObject under the child's spin lock.
  KIRQL irql;
  KeAcquireSpinLock(&sock->Pdo->Lock, &irql);
  sock->AddressHandle = sock->ConnectionHandle = nullptr;
  sock->AddressObject = sock->ConnectionObject = nullptr;
  KeReleaseSpinLock(&sock->Pdo->Lock, irql);
  if (connected) sock->ConnState = ConnDisconnecting;
  UnlockSock(sock);
  if (connectionObject) {
    if (connected) {
      LARGE_INTEGER timeout;
      timeout.QuadPart = ConnectTimeout();
      TdiRequest(connectionObject, TDI_DISCONNECT, [&](PIRP irp) {
        TdiSetParameters(irp, TDI_REQUEST_KERNEL_DISCONNECT{TDI_DISCONNECT_ABORT, nullptr, nullptr, &timeout});
      });
    }
    NTSTATUS status = TdiRequest(connectionObject, TDI_DISASSOCIATE_ADDRESS, [](PIRP) {});
    TRACE_MASK(0x4000, "TdiFuncs_DisAssociateTransportAndConnection<==0x%x\n", status);
    TdiFuncs_CloseTdiOpenHandle(connectionHandle, connectionObject);
  }
  if (addressObject || addressHandle) TdiFuncs_CloseTdiOpenHandle(addressHandle, addressObject);
  LockSock(sock);
  sock->ConnState = ConnDisconnected;
  UnlockSock(sock);
  return STATUS_SUCCESS;
}

}  // namespace

// A socket that is not connected keeps its handles: a printer waiting between its retries (which connect
// again on the same handles) survives a sleep that closes every connection.
NTSTATUS TdiNetwork_CloseSocket(SOCK_CONTEXT* sock) {
  TRACE_MASK(0x4000, "TdiNetwork_CloseSocket==>\n");
  return CloseSocketHandles(sock, true);
}

NTSTATUS TdiNetwork_ReopenSocket(SOCK_CONTEXT* sock) {
  LockSock(sock);
  bool open = sock->ConnectionObject != nullptr;
  UnlockSock(sock);
  return open ? STATUS_SUCCESS : CreateSocket(sock);
}

NTSTATUS TdiNetwork_ReleaseSocket(SOCK_CONTEXT* sock) {
  TRACE_MASK(0x4000, "TdiNetwork_ReleaseSocket==>\n");
  return CloseSocketHandles(sock, false);
}

NTSTATUS TdiNetwork_CloseThreads(PDO_DEVICE_DATA* pdo) {
  SOCK_CONTEXT* sock = pdo->SockContext;
  if (!pdo->Fbk || !sock) return STATUS_UNSUCCESSFUL;
  PETHREAD thread = static_cast<PETHREAD>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&sock->RecvThread), nullptr));
  if (!thread) return STATUS_SUCCESS;
  InterlockedExchange(&sock->RecvThreadRunning, 0);
  TRACE_MASK(0x4000, "TdiNetwork_CloseThreads : Signal kExitTdiRecvThread event\n");
  KeSetEvent(&sock->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
  NTSTATUS status = KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
  TRACE_MASK(0x4000, "RecvThread Thread Close - 0x%0x\n", status);
  return status;
}

NTSTATUS TdiNetwork_CleanupLists(PDO_DEVICE_DATA* pdo) {
  SOCK_CONTEXT* sock = pdo->SockContext;
  if (!sock) return STATUS_INSUFFICIENT_RESOURCES;
  TRACE_MASK(0x1, "FreeSendIrpList\n");
  for (LIST_ENTRY* list : {&sock->SendFree, &sock->SendBusy})
    while (!IsListEmpty(list)) FreeSendIrp(CONTAINING_RECORD(RemoveHeadList(list), TDI_IRP_RECORD, Link));
  TRACE_MASK(0x1, "FreeRecvIrpList\n");
  for (LIST_ENTRY* list : {&sock->RecvFree, &sock->RecvBusy})
    while (!IsListEmpty(list)) FreeRecvIrp(CONTAINING_RECORD(RemoveHeadList(list), TDI_IRP_RECORD, Link));
  return STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS TdiNetwork_DisconnectAllDevices(FDO_DEVICE_DATA*) {
  ExAcquireFastMutex(&g.ServerListLock);
  for (PLIST_ENTRY s = g.ServerList.Flink; s != &g.ServerList; s = s->Flink) {
    FDO_DEVICE_DATA* fdo = CONTAINING_RECORD(s, FDO_DEVICE_DATA, Link);
    ExAcquireFastMutex(&fdo->Mutex);
    for (PLIST_ENTRY c = fdo->ListOfPDOs.Flink; c != &fdo->ListOfPDOs; c = c->Flink) {
      PDO_DEVICE_DATA* pdo = CONTAINING_RECORD(c, PDO_DEVICE_DATA, Link);
      TRACE_MASK(0x4000, "Unplugging device with IP:%d, Port:%d\n", pdo->ServerIp, pdo->PortNum);
      if (!pdo->SockContext) {
        TRACE_MASK(0x20000, "TdiNetwork_DisconnectAllDevices: pTdiContext==NULL\n");
        continue;
      }
      TdiNetwork_CloseSocket(pdo->SockContext);
    }
    ExReleaseFastMutex(&fdo->Mutex);
  }
  ExReleaseFastMutex(&g.ServerListLock);
  return STATUS_SUCCESS;
}

NTSTATUS TdiNetwork_Exchange(SOCK_CONTEXT* sock, NEGCOMMAND* command) {
  TDI_IRP_RECORD* send = nullptr;
  TDI_IRP_RECORD* receive = nullptr;
  if (!NT_SUCCESS(CreateSendIrp(sock, &send))) {
    TRACE_MASK(0x20000, "Negotiation: pSendIrp==NULL\n");
    return STATUS_UNSUCCESSFUL;
  }
  if (!NT_SUCCESS(CreateRecvIrp(sock, &receive))) {
    TRACE_MASK(0x20000, "Negotiation: pRecvIrp==NULL\n");
    FreeSendIrp(send);
    return STATUS_UNSUCCESSFUL;
  }
  send->Synchronous = 1;
  send->Buffer = command->Message;
  send->ulBufflen = command->MessageLength;
  // A sleep may close the socket meanwhile: the exchange keeps the connection alive and then fails on it.
  PFILE_OBJECT connection = ReferenceTransport(sock, &SOCK_CONTEXT::ConnectionObject);
  NTSTATUS status = connection ? TdiFuncs_Transfer(connection, send, TDI_SEND, nullptr) : STATUS_UNSUCCESSFUL;
  if (NT_SUCCESS(status) && send->Transferred != command->MessageLength) status = STATUS_UNSUCCESSFUL;
  // The reply: one whole record, however it is split, within the time-out.
  zarnet::NegRecordReader reader;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g.NegotiationTimeoutMs.load());
  while (NT_SUCCESS(status) && reader.state() == zarnet::NegRecordReader::State::kNeedMore) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      status = STATUS_IO_TIMEOUT;
      break;
    }
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(left.count()) * 10;
    receive->Synchronous = 1;
    receive->ulBufflen = static_cast<ULONG>(std::min<size_t>(reader.wanted(), RECV_BUFFER_SIZE));
    status = TdiFuncs_Transfer(connection, receive, TDI_RECEIVE, &timeout);
    TRACE_MASK(0x400, "TdiFuncs_Receive : ulRecivedLen 0x%x\n", receive->Transferred);
    if (!NT_SUCCESS(status)) break;
    if (receive->Transferred == 0) {
      status = STATUS_UNSUCCESSFUL;  // the server closed before the reply was whole
      break;
    }
    reader.Feed(std::span<const uint8_t>(receive->Buffer, std::min(receive->Transferred, receive->ulBufflen)));
  }
  if (NT_SUCCESS(status) && reader.state() != zarnet::NegRecordReader::State::kComplete) status = STATUS_UNSUCCESSFUL;
  if (NT_SUCCESS(status)) {
    auto record = reader.record();
    RtlZeroMemory(command->Reply, sizeof command->Reply);
    RtlCopyMemory(command->Reply, record.data(), record.size());
    command->ReplyLength = static_cast<ULONG>(record.size());
  }
  if (connection) ObDereferenceObject(connection);
  FreeRecvIrp(receive);
  FreeSendIrp(send);
  return status;
}

NTSTATUS TdiNetwork_StartReceiving(SOCK_CONTEXT* sock) {
  if (IssueInitRECVIRP(sock) == STATUS_UNSUCCESSFUL) {
    TRACE_MASK(0x1, "RecvThreadProc: Signal kExitTdiSendThread event\n");
    TRACE_MASK(0x1, "IssueInitRECVIRP Failed\n");
    return STATUS_UNSUCCESSFUL;
  }
  HANDLE thread = nullptr;
  KeClearEvent(&sock->kExitTdiRecvThread);
  InterlockedExchange(&sock->RecvThreadRunning, 1);
  NTSTATUS status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, RecvThreadProc, sock);
  if (!NT_SUCCESS(status)) {
    TRACE_LEVEL(0x2, "RecvThreadProc Failed\n");
    return status;
  }
  PVOID object = nullptr;
  ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object, nullptr);
  sock->RecvThread = static_cast<PETHREAD>(object);
  ZwClose(thread);
  if (PFILE_OBJECT address = ReferenceTransport(sock, &SOCK_CONTEXT::AddressObject)) {
    status = TdiRequest(address, TDI_SET_EVENT_HANDLER, [&](PIRP irp) {
      TdiSetParameters(irp, TDI_REQUEST_KERNEL_SET_EVENT{TDI_EVENT_DISCONNECT,
                                                         reinterpret_cast<PVOID>(&TdiNetwork_ClientEventDisconnect), sock});
    });
    ObDereferenceObject(address);
    if (!NT_SUCCESS(status))
      TRACE_MASK(0x10000, "TdiNegPrinter_ThreadWorkItem: TdiFuncs_SetEventHandler Failed!! Status=%x\n", status);
  }
  return status;
}

void TdiNetwork_ThreadWorkItem(PDEVICE_OBJECT, PVOID context) {
  auto* pdo = static_cast<PDO_DEVICE_DATA*>(context);
  SOCK_CONTEXT* sock = pdo->SockContext;
  sock->ConnState = ConnDisconnected;
  NTSTATUS status = CreateSocket(sock);
  TRACE_MASK(0x400, "CreateSocket NtStatus 0x%x\n", status);
  if (NT_SUCCESS(status)) {
    CreateSendIrpList(sock);
    NTSTATUS negotiated = NegotiatePelkoDeviceAccess(pdo);
    if (negotiated == STATUS_NEGOTIATION_PENDING) {
      sock->StartStatus = STATUS_NEGOTIATION_PENDING;
    } else if (!NT_SUCCESS(negotiated)) {
      TRACE_MASK(0x10000, "Bus_PDO_StartDevice >> NegotiatePelkoDeviceAccess failed:%x\n", negotiated);
      sock->StartStatus = STATUS_UNSUCCESSFUL;
      TdiNetwork_CloseSocket(sock);  // nothing keeps a failed negotiation's connection
    } else {
      status = TdiNetwork_StartReceiving(sock);
      sock->StartStatus = NT_SUCCESS(status) ? STATUS_SUCCESS : status;
      if (!NT_SUCCESS(status)) {
        TdiNetwork_CloseThreads(pdo);
        TdiNetwork_CloseSocket(sock);
        sock->StartStatus = STATUS_UNSUCCESSFUL;
      }
    }
  }
  TRACE_MASK(0x4000, "TdiNetwork_ThreadWorkItem <== status %x\n", sock->StartStatus);
  KeSetEvent(&sock->StartDone, IO_NO_INCREMENT, FALSE);
}

}  // namespace pelkobus
