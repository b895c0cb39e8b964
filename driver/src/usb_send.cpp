// The send scheduler: the pipes' request queues, the send loop that packs whole requests into the
// send buffer one send at a time, the isochronous hold-back, and failing what is queued when a pipe or
// the connection goes.
#include "usb_path.h"

namespace pelkobus::urb {

void ReleaseContext(PDO_DEVICE_DATA* pdo, IRP_CONTEXT* c) {
  if (c->IsoPkt) Give(c->IsoPkt, &pdo->IsoPktFree);
  c->IsoPkt = nullptr;
  c->Irp = nullptr;
  c->Pipe = nullptr;
  RtlZeroMemory(c->Header, sizeof c->Header);
  InitializeListHead(&c->PipeLink);
  ReleaseIRPCONTEXT(pdo, c);
}

void QAdd(PIPE* p, IRP_CONTEXT* c) {
  InsertTailList(&p->RequestQueue, &c->PipeLink);
  if (!p->NextToSend) p->NextToSend = c;
}
bool IsSent(PIPE* p, IRP_CONTEXT* c) {
  for (PLIST_ENTRY e = p->RequestQueue.Flink; e != &p->RequestQueue; e = e->Flink) {
    IRP_CONTEXT* q = ContextOfLink(e);
    if (q == Mark(p)) return false;
    if (q == c) return true;
  }
  return false;
}
void QRemove(PIPE* p, IRP_CONTEXT* c) {
  if (Mark(p) == c) p->NextToSend = c->PipeLink.Flink == &p->RequestQueue ? nullptr : ContextOfLink(c->PipeLink.Flink);
  RemoveEntryList(&c->PipeLink);
  InitializeListHead(&c->PipeLink);
}

void QueueUnlink(PDO_DEVICE_DATA* pdo, PIPE* p, const RFC_HEADER& cancelled) {
  // A pipe on its way back to the pool sends nothing more: its unlinks go with the control traffic.
  if (!p->Endpoint && p != pdo->Fbk->DefaultPipe) p = pdo->Fbk->DefaultPipe;
  IRP_CONTEXT* u = nullptr;
  if (!NT_SUCCESS(AllocateIRPCONTEXT(pdo, &u))) {
    TRACE_MASK(0x20000, "HandleUnlinkRequest: AllocateIRPCONTEXT Failed\n");
    return;
  }
  u->Local = 1;
  u->Pipe = p;
  RFC_HEADER& h = HeaderOf(u);
  h = {};
  h.CommandLength = zarnet::kUnlinkCommandLength;
  h.Command = zarnet::RFC_CMD_UNLINK;
  h.PortNum = cancelled.PortNum;
  h.EndPoint = cancelled.EndPoint;
  h.SeqNo = p->SeqNo++;
  h.TransferFlags = cancelled.SeqNo;
  QAdd(p, u);
  TRACE_MASK(0x1, "HandleUnlinkRequest<==SeqNo.=%d, CommandLength=%d\n", h.SeqNo, h.CommandLength);
}

void FailQueued(PDO_DEVICE_DATA* pdo, PIPE* p, bool unlinkSent, LIST_ENTRY* done) {
  Path* path = PathOf(pdo);
  // Off the pipe first, so the unlinks queued below start a fresh queue.
  LIST_ENTRY taken;
  InitializeListHead(&taken);
  LIST_ENTRY sent;
  InitializeListHead(&sent);
  while (!IsListEmpty(&p->RequestQueue)) {
    IRP_CONTEXT* c = ContextOfLink(p->RequestQueue.Flink);
    bool wasSent = IsSent(p, c);
    QRemove(p, c);
    InsertTailList(wasSent ? &sent : &taken, &c->PipeLink);
  }
  p->NextToSend = nullptr;
  for (LIST_ENTRY* list : {&sent, &taken}) {
    while (!IsListEmpty(list)) {
      IRP_CONTEXT* c = ContextOfLink(RemoveHeadList(list));
      InitializeListHead(&c->PipeLink);
      if (path && path->recvCtx == c) path->recvCtx = nullptr;
      if (c->Local) {
        ReleaseContext(pdo, c);
        continue;
      }
      if (list == &sent && unlinkSent) QueueUnlink(pdo, p, HeaderOf(c));
      if (__atomic_exchange_n(&c->CompletionState, 1, __ATOMIC_SEQ_CST) != 0) continue;  // the cancel has it
      PIRP irp = c->Irp;
      // No routine left: a cancel has taken the IRP and its routine completes it (it finds no context).
      bool cancelling = !IoSetCancelRoutine(irp, nullptr);
      irp->Tail.Overlay.DriverContext[0] = nullptr;
      if (PURB urb = UrbOf(irp)) urb->UrbHeader.Status = MakeNtStatus(0xC0000004);
      irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
      irp->IoStatus.Information = 0;
      if (!cancelling) InsertTailList(done, &irp->Tail.Overlay.ListEntry);
      ReleaseContext(pdo, c);
    }
  }
}

void CompleteAll(LIST_ENTRY* done) {
  while (!IsListEmpty(done)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(done), IRP, Tail.Overlay.ListEntry);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
}

namespace {

ULONG MessageSize(IRP_CONTEXT* c, bool* carriesData) {
  const RFC_HEADER& h = HeaderOf(c);
  ULONG packets = c->IsoPkt ? h.NumberOfPackets : 0;
  ULONG body = h.CommandLength > RFC_HEADER_SIZE ? h.CommandLength - RFC_HEADER_SIZE : 0;
  ULONG data = body - packets * zarnet::RFC_ISO_DESC_SIZE;
  *carriesData = data != 0;
  return RFC_HEADER_SIZE + body;
}

// The first pipe along the ring, from the current list on, with an unsent request not held back.
PIPE* FindRequest(Path* path) {
  FBK* fbk = path->pdo->Fbk;
  for (int step = 0; step < kTransferTypes; ++step) {
    int index = (path->currentList + step) % kTransferTypes;
    LIST_ENTRY& list = fbk->TransferLists[index];
    if (IsListEmpty(&list)) continue;
    // The pipes after the anchor first, the anchor last.
    PLIST_ENTRY anchor = list.Flink;
    for (PLIST_ENTRY e = anchor->Flink;; e = e->Flink) {
      if (e == &list) e = anchor;
      PIPE* p = CONTAINING_RECORD(e, PIPE, TypeLink);
      if (p->NextToSend && !p->TimerSet) {
        path->currentList = index;
        return p;
      }
      if (e == anchor) break;
    }
  }
  path->currentList = kIsoList;
  return nullptr;
}

void IsochTimeRoutine(PKDPC, PVOID context, PVOID, PVOID) {
  auto* pipe = static_cast<PIPE*>(context);
  Path* path = PathOf(pipe->Pdo);
  if (!path) return;
  KIRQL irql;
  KeAcquireSpinLock(&pipe->Pdo->Lock, &irql);
  pipe->TimerSet = 0;
  pipe->Accumulate = 0;
  DoSendIrp(path, irql);
}

}  // namespace

NTSTATUS DoSendIrp(Path* path, KIRQL irql) {
  PDO_DEVICE_DATA* pdo = path->pdo;
  if (path->sending || !pdo->SendBuffer || !pdo->SockContext) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return STATUS_UNSUCCESSFUL;
  }
  while (PIPE* p = FindRequest(path)) {
    IRP_CONTEXT* c = Mark(p);
    bool carriesData = false;
    ULONG size = MessageSize(c, &carriesData);
    if (size > pdo->SendBufferCapacity - pdo->SendBufferFill) break;
    PUCHAR out = pdo->SendBuffer + pdo->SendBufferFill;
    zarnet::EncodeHeader(HeaderOf(c), out);
    ULONG at = RFC_HEADER_SIZE;
    if (carriesData) {
      PUCHAR data = BufferOf(UrbOf(c));
      ULONG length = HeaderOf(c).TransferLength;
      if (data) RtlCopyMemory(out + at, data, length);
      at += length;
    }
    if (c->IsoPkt) {
      RtlCopyMemory(out + at, c->IsoPkt->Desc, c->IsoPkt->DescLength);
      at += c->IsoPkt->DescLength;
    }
    pdo->SendBufferFill += at;
    p->NextToSend = c->PipeLink.Flink == &p->RequestQueue ? nullptr : ContextOfLink(c->PipeLink.Flink);
    // An unlink has done its work once it is in the buffer.
    if (c->Local && HeaderOf(c).Command == zarnet::RFC_CMD_UNLINK) {
      RemoveEntryList(&c->PipeLink);
      ReleaseContext(pdo, c);
    }
  }
  if (pdo->SendBufferFill == 0) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return STATUS_UNSUCCESSFUL;
  }
  path->sending = true;
  path->sendOffset = 0;
  ULONG length = pdo->SendBufferFill;
  KeReleaseSpinLock(&pdo->Lock, irql);
  NTSTATUS status = TdiNetwork_IssueSend(pdo->SockContext, pdo->SendBuffer, length);
  if (!NT_SUCCESS(status) && status != STATUS_PENDING) {
    KeAcquireSpinLock(&pdo->Lock, &irql);
    path->sending = false;
    KeReleaseSpinLock(&pdo->Lock, irql);
  }
  return status;
}

void ReInitPIPE(PIPE* p, ULONG number, PDO_DEVICE_DATA* pdo) {
  p->SeqNo = 0;
  p->Endpoint = nullptr;
  p->TransferList = nullptr;
  RtlZeroMemory(p->Counters, sizeof p->Counters);
  p->PipeNumber = number;
  p->Pdo = pdo;
  p->InterfaceNumber = p->AlternateSetting = 255;
  InitializeListHead(&p->RequestQueue);
  InitializeListHead(&p->Head);
  InitializeListHead(&p->TypeLink);
  p->NextToSend = nullptr;
  p->TimerSet = 0;
  p->Accumulate = 1;
  p->DueTime = -static_cast<LONGLONG>(g.IsochHoldBackMs.load()) * 10000;
  KeInitializeTimer(&p->IsoTimer);
  KeInitializeDpc(&p->IsoDpc, IsochTimeRoutine, p);
}

}  // namespace pelkobus::urb

namespace pelkobus {

using namespace urb;

NTSTATUS UsbPath_Create(PDO_DEVICE_DATA* pdo, PIPE* defaultPipe) {
  pdo->Fbk->DefaultPipe = defaultPipe;
  void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(Path), BUS_POOL_TAG);
  if (!memory) return STATUS_INSUFFICIENT_RESOURCES;
  auto* path = new (memory) Path(pdo);
  PIPE* pipe = pdo->Fbk->DefaultPipe;
  ReInitPIPE(pipe, 0, pdo);
  pipe->PortNum = pdo->PortNum;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  InsertTailList(&pdo->Fbk->TransferLists[kControlList], &pipe->TypeLink);
  pdo->SendState = path;
  pdo->OnResponse = OnResponseBytes;
  KeReleaseSpinLock(&pdo->Lock, irql);
  return STATUS_SUCCESS;
}

void UsbPath_Destroy(PDO_DEVICE_DATA* pdo) {
  Path* path = PathOf(pdo);
  if (!path) return;
  UsbPath_ConnectionEnded(pdo);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  ForEachPipe(pdo, [](PIPE* p) { KeCancelTimer(&p->IsoTimer); });
  pdo->OnResponse = nullptr;
  pdo->SendState = nullptr;
  KeReleaseSpinLock(&pdo->Lock, irql);
  KeFlushQueuedDpcs();
  path->~Path();
  ExFreePoolWithTag(path, BUS_POOL_TAG);
}

void UsbPath_ConnectionEnded(PDO_DEVICE_DATA* pdo) {
  LIST_ENTRY done;
  InitializeListHead(&done);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (Path* path = PathOf(pdo)) {
    path->ended = true;
    ForEachPipe(pdo, [&](PIPE* p) { FailQueued(pdo, p, false, &done); });
  }
  KeReleaseSpinLock(&pdo->Lock, irql);
  CompleteAll(&done);
}

void UsbPath_SendDone(PDO_DEVICE_DATA* pdo, ULONG transferred, NTSTATUS status) {
  Path* path = PathOf(pdo);
  if (!path) return;
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (!NT_SUCCESS(status)) {
    path->sending = false;
    KeReleaseSpinLock(&pdo->Lock, irql);
    return;  // the connection ends through the receive side
  }
  path->sendOffset += transferred;
  if (transferred > 0 && path->sendOffset < pdo->SendBufferFill) {
    // A partial send: the rest goes out before anything else.
    ULONG offset = path->sendOffset, rest = pdo->SendBufferFill - path->sendOffset;
    KeReleaseSpinLock(&pdo->Lock, irql);
    TdiNetwork_IssueSend(pdo->SockContext, pdo->SendBuffer + offset, rest);
    return;
  }
  pdo->SendBufferFill = 0;
  path->sending = false;
  DoSendIrp(path, irql);
}

}  // namespace pelkobus
