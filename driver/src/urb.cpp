// The USB data path of a child: URBs become request messages on the child's pipes, the send loop packs
// them into the send buffer one send at a time, and the responses coming back complete them. All queue,
// pipe and buffer work happens under the child's spin lock.
#include <atomic>
#include <cstring>
#include <new>

#include "busenum.h"
#include "wdk/usb.h"
#include "zarnet/usb_wire.h"

namespace pelkobus {
namespace {

constexpr int kIsoList = 0, kInterruptList = 1, kBulkList = 2, kControlList = 3;
constexpr ULONG kIsoPacketsMax = zarnet::kMaxIsoPackets;
std::atomic<uint32_t> gAbortDelayMs{200};

using zarnet::RFC_HEADER;
using zarnet::RFC_RESPONSE_HEADER;

struct Path;
Path* PathOf(PDO_DEVICE_DATA* pdo) { return static_cast<Path*>(pdo->SendState); }

PURB UrbOf(PIRP irp) {
  return irp ? static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1) : nullptr;
}
RFC_HEADER& HeaderOf(IRP_CONTEXT* c) { return *reinterpret_cast<RFC_HEADER*>(c->Header); }
PURB UrbOf(IRP_CONTEXT* c) { return c->Local ? nullptr : UrbOf(c->Irp); }
IRP_CONTEXT* ContextOfLink(PLIST_ENTRY e) { return CONTAINING_RECORD(e, IRP_CONTEXT, PipeLink); }
IRP_CONTEXT* Mark(PIPE* p) { return static_cast<IRP_CONTEXT*>(p->NextToSend); }
const UCHAR* EndpointOf(PIPE* p) { return static_cast<const UCHAR*>(p->Endpoint); }
int PipeType(PIPE* p) { return EndpointOf(p) ? (EndpointOf(p)[3] & 3) : 0; }
UCHAR EndpointAddress(PIPE* p) { return EndpointOf(p) ? EndpointOf(p)[2] : 0; }
int ListIndexOf(PIPE* p) {
  switch (PipeType(p)) {
    case 1: return kIsoList;
    case 2: return kBulkList;
    case 3: return kInterruptList;
    default: return kControlList;
  }
}

bool HasData(USHORT f) { return f == 8 || (f >= 9 && f <= 12) || (f >= 19 && f <= 21) || (f >= 23 && f <= 28) || (f >= 31 && f <= 33) || (f >= 36 && f <= 41); }
bool UsesEndpointPipe(USHORT f) { return f == 2 || f == 9 || f == 10 || f == 30; }
bool UsesDefaultPipe(USHORT f) {
  return f == 0 || f == 1 || f == 7 || f == 8 || (f >= 11 && f <= 21) || (f >= 23 && f <= 28) || (f >= 31 && f <= 41);
}
ULONG MinimumLength(USHORT f) {
  // A selection is read up to its first interface record's fixed part.
  if (f == 0) return offsetof(URB_SELECT_CONFIGURATION, Interface) + offsetof(USBD_INTERFACE_INFORMATION, InterfaceHandle);
  if (f == 1) return offsetof(URB_SELECT_INTERFACE, Interface) + offsetof(USBD_INTERFACE_INFORMATION, InterfaceHandle);
  if (f == 2 || f == 30) return 40;
  if (f == 7) return 32;
  if (f == 9) return 128;
  if (f == 10) return 152;
  if (f == 8 || (f >= 11 && f <= 21) || (f >= 23 && f <= 28) || (f >= 31 && f <= 38) || f == 40 || f == 41) return 136;
  return 0;
}

// The transfer part of a URB that has one (every data function, at the same place).
URB_TRANSFER_TAIL* TailOf(PURB urb) {
  return HasData(urb->UrbHeader.Function) ? &urb->UrbBulkOrInterruptTransfer.T : nullptr;
}
PUCHAR BufferOf(PURB urb) {
  URB_TRANSFER_TAIL* t = urb ? TailOf(urb) : nullptr;
  if (!t) return nullptr;
  if (t->TransferBufferMDL) return static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(t->TransferBufferMDL, NormalPagePriority));
  return static_cast<PUCHAR>(t->TransferBuffer);
}

struct Path final : zarnet::UsbStreamDecoder::Sink {
  explicit Path(PDO_DEVICE_DATA* p) : pdo(p), decoder(zarnet::UsbStreamDecoder::Direction::kResponses) {
    InitializeListHead(&interfaces);
  }
  PDO_DEVICE_DATA* pdo;
  zarnet::UsbStreamDecoder decoder;
  int currentList = kIsoList;
  bool sending = false;
  ULONG sendOffset = 0;  // bytes of the buffer already on the wire
  // The response being read.
  RFC_RESPONSE_HEADER resp{};
  IRP_CONTEXT* recvCtx = nullptr;
  bool overrun = false;
  bool broken = false;
  // Descriptor cache: CONFIGDESC records in pdo->ConfigDescUsed; the selected one and its interfaces.
  CONFIGDESC* selected = nullptr;
  LIST_ENTRY interfaces;  // INTF records through Lists[1]

  void OnHeader(const uint8_t* raw, const zarnet::UsbFrame& frame) override;
  void OnData(std::span<const uint8_t> piece, uint32_t offset) override;
  void OnIsoDesc(const zarnet::RFC_ISO_DESC& desc, uint32_t index) override;
  void OnMessageEnd() override;
};

// ---- Pools -------------------------------------------------------------------------------------------

template <typename Record>
Record* Take(LIST_ENTRY* freeList, LIST_ENTRY* usedList) {
  if (IsListEmpty(freeList)) return nullptr;
  PLIST_ENTRY e = RemoveHeadList(freeList);
  InsertTailList(usedList, e);
  return CONTAINING_RECORD(e, Record, Link);
}
template <typename Record>
void Give(Record* r, LIST_ENTRY* freeList) {
  RemoveEntryList(&r->Link);
  InsertTailList(freeList, &r->Link);
}

void ReleaseContext(PDO_DEVICE_DATA* pdo, IRP_CONTEXT* c) {
  if (c->IsoPkt) Give(c->IsoPkt, &pdo->IsoPktFree);
  c->IsoPkt = nullptr;
  c->Irp = nullptr;
  c->Pipe = nullptr;
  RtlZeroMemory(c->Header, sizeof c->Header);
  InitializeListHead(&c->PipeLink);
  ReleaseIRPCONTEXT(pdo, c);
}

bool IsKnownPipe(PDO_DEVICE_DATA* pdo, PVOID handle) {
  for (PLIST_ENTRY e = pdo->PipeUsed.Flink; e != &pdo->PipeUsed; e = e->Flink)
    if (CONTAINING_RECORD(e, PIPE, Link) == handle) return true;
  return false;
}

void ReInitPIPE(PIPE* p, ULONG number, PDO_DEVICE_DATA* pdo);

// ---- Pipe queues -------------------------------------------------------------------------------------

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
// Takes a context off its queue, keeping the mark on the first unsent one.
void QRemove(PIPE* p, IRP_CONTEXT* c) {
  if (Mark(p) == c) p->NextToSend = c->PipeLink.Flink == &p->RequestQueue ? nullptr : ContextOfLink(c->PipeLink.Flink);
  RemoveEntryList(&c->PipeLink);
  InitializeListHead(&c->PipeLink);
}

// An unlink for a request the server already has: it goes out with the next send.
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

// Every pipe of the child: the default pipe and those filed in the transfer-type lists.
template <typename F>
void ForEachPipe(PDO_DEVICE_DATA* pdo, F f) {
  FBK* fbk = pdo->Fbk;
  if (!fbk) return;
  for (auto& list : fbk->TransferLists)
    for (PLIST_ENTRY e = list.Flink; e != &list;) {
      PIPE* p = CONTAINING_RECORD(e, PIPE, TypeLink);
      e = e->Flink;
      f(p);
    }
}

// Fails every request queued on a pipe; requests the server already has are unlinked when asked.
// Client IRPs go onto `done` to be completed once the lock is released.
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

// ---- Send loop ---------------------------------------------------------------------------------------

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

// Packs what fits into the send buffer and issues one send; entered with the lock held, leaves it released.
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
  p->DueTime = -50000;
  KeInitializeTimer(&p->IsoTimer);
  KeInitializeDpc(&p->IsoDpc, IsochTimeRoutine, p);
}

// ---- Request framing ---------------------------------------------------------------------------------

void PrepareSetupPacket(PURB urb, UCHAR setup[8]) {
  USHORT f = urb->UrbHeader.Function;
  zarnet::UsbSetupPacket s;
  URB_TRANSFER_TAIL* t = TailOf(urb);
  UCHAR dir = t && (t->TransferFlags & USBD_TRANSFER_DIRECTION_IN) ? 0x80 : 0;
  ULONG length = t ? t->TransferBufferLength : 0;
  auto& d = urb->UrbControlDescriptorRequest;
  auto& feature = urb->UrbControlFeatureRequest;
  auto& vc = urb->UrbControlVendorClassRequest;
  auto descriptorValue = [&] {
    UCHAR type = d.DescriptorType >= 1 && d.DescriptorType <= 3 ? d.DescriptorType : 0;
    return static_cast<USHORT>(type << 8 | d.Index);
  };
  switch (f) {
    case 0: {
      const UCHAR* cd = urb->UrbSelectConfiguration.ConfigurationDescriptor;
      s = {0x00, 9, static_cast<uint16_t>(cd ? cd[5] : 0), 0, 0};
      break;
    }
    case 1:
      s = {0x01, 11, urb->UrbSelectInterface.Interface.AlternateSetting, urb->UrbSelectInterface.Interface.InterfaceNumber, 0};
      break;
    case 8:
      std::memcpy(setup, urb->UrbControlTransfer.SetupPacket, 8);
      return;
    case 11: s = {0x80, 6, descriptorValue(), d.LanguageId, static_cast<uint16_t>(length)}; break;
    case 12: s = {0x00, 7, descriptorValue(), d.LanguageId, static_cast<uint16_t>(length)}; break;
    case 13: case 14: case 15:
      s = {static_cast<uint8_t>(f - 13), 3, feature.FeatureSelector, feature.Index, 0};
      break;
    case 16: case 17: case 18:
      s = {static_cast<uint8_t>(f - 16), 1, feature.FeatureSelector, feature.Index, 0};
      break;
    case 19: case 20: case 21:
      s = {static_cast<uint8_t>(0x80 | (f - 19)), 0, 0, urb->UrbControlGetStatusRequest.Index, static_cast<uint16_t>(length)};
      break;
    case 23: case 24: case 25:
      s = {static_cast<uint8_t>(0x40 | (f - 23) | dir), vc.Request, vc.Value, vc.Index, static_cast<uint16_t>(length)};
      break;
    case 26: case 27: case 28:
      s = {static_cast<uint8_t>(0x20 | (f - 26) | dir), vc.Request, vc.Value, vc.Index, static_cast<uint16_t>(length)};
      break;
    case 31: s = {static_cast<uint8_t>(0x23 | dir), vc.Request, vc.Value, vc.Index, static_cast<uint16_t>(length)}; break;
    case 32: s = {static_cast<uint8_t>(0x43 | dir), vc.Request, vc.Value, vc.Index, static_cast<uint16_t>(length)}; break;
    case 33: s = {0x83, 0, 0, urb->UrbControlGetStatusRequest.Index, static_cast<uint16_t>(length)}; break;
    case 34: s = {0x03, 1, feature.FeatureSelector, feature.Index, 0}; break;
    case 35: s = {0x03, 3, feature.FeatureSelector, feature.Index, 0}; break;
    case 36: s = {0x82, 6, static_cast<uint16_t>(0x0500 | d.Index), d.LanguageId, static_cast<uint16_t>(length)}; break;
    case 37: s = {0x02, 7, static_cast<uint16_t>(0x0500 | d.Index), d.LanguageId, static_cast<uint16_t>(length)}; break;
    case 38: s = {0x80, 8, 0, 0, 1}; break;
    case 39: s = {0x81, 10, 0, urb->UrbControlGetInterfaceRequest.Interface, 1}; break;
    case 40:
      s = {0x81, 6, static_cast<uint16_t>(d.DescriptorType << 8 | d.Index), d.LanguageId, static_cast<uint16_t>(length)};
      break;
    default:
      TRACE_MASK(0x1, "URB_FUNCTION_DEFAULT\n");
      break;
  }
  RFC_HEADER h{};
  zarnet::SetSetup(h, s);
  std::memcpy(setup, h.SetupPacket, 8);
}

// Whether the request sends data with it.
bool IsDataAccompanying(PURB urb, PIPE* pipe) {
  USHORT f = urb->UrbHeader.Function;
  URB_TRANSFER_TAIL* t = TailOf(urb);
  if (f == 8 || (f >= 23 && f <= 28) || f == 31 || f == 32) return !(t->TransferFlags & USBD_TRANSFER_DIRECTION_IN);
  if (f == 9 || f == 10) return !(EndpointAddress(pipe) & 0x80);
  return f == 12 || f == 37 || f == 41;
}

void FrameRFCPacket(RFC_HEADER& h, PDO_DEVICE_DATA* pdo, PURB urb, PIPE* pipe, ULONG packets) {
  USHORT f = urb->UrbHeader.Function;
  h = {};
  switch (f) {
    case 9: h.Command = PipeType(pipe) == 2 ? zarnet::RFC_CMD_BULK : zarnet::RFC_CMD_INTERRUPT; break;
    case 10: h.Command = zarnet::RFC_CMD_ISOCH; break;
    case 30: h.Command = zarnet::RFC_CMD_SYNC_RESET_PIPE; break;
    default: h.Command = zarnet::RFC_CMD_CONTROL; break;
  }
  h.PortNum = pdo->PortNum;
  h.Interface = pipe->InterfaceNumber;
  h.SeqNo = pipe->SeqNo++;
  if (UsesEndpointPipe(f)) h.EndPoint = EndpointAddress(pipe);
  URB_TRANSFER_TAIL* t = TailOf(urb);
  bool in = EndpointAddress(pipe) & 0x80;
  if (f == 8 || (f >= 23 && f <= 28) || f == 31 || f == 32) h.TransferFlags = t->TransferFlags;
  if (f == 9) h.TransferFlags = t->TransferFlags | (in ? USBD_TRANSFER_DIRECTION_IN : 0);
  if (f == 10) h.TransferFlags = t->TransferFlags | (in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0);
  if (t) h.TransferLength = t->TransferBufferLength;
  if (f == 10) {
    h.StartFrame = urb->UrbIsochronousTransfer.StartFrame;
    h.NumberOfPackets = packets;
  }
  if ((f == 9 && PipeType(pipe) == 3) || f == 10) h.Interval = EndpointOf(pipe)[6];
  if (f != 9 && f != 10 && f != 30) PrepareSetupPacket(urb, h.SetupPacket);
  if (f == 30) zarnet::SetSetup(h, {0x02, 1, 0, EndpointAddress(pipe), 0});
  ULONG out = IsDataAccompanying(urb, pipe) && t ? t->TransferBufferLength : 0;
  h.CommandLength = zarnet::RequestCommandLength(h.Command, out, packets);
}

// ---- Submission --------------------------------------------------------------------------------------

NTSTATUS Fail(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void CancelClientRequest(PDEVICE_OBJECT, PIRP irp);

// Builds the set-interface requests that follow a select configuration, one per interface entry.
NTSTATUS HandleSelectIntfCommandsLocally(PDO_DEVICE_DATA* pdo, PURB urb, const RFC_HEADER& select) {
  PIPE* pipe = pdo->Fbk->DefaultPipe;
  auto* base = reinterpret_cast<PUCHAR>(urb);
  ULONG at = offsetof(URB_SELECT_CONFIGURATION, Interface);
  while (at + offsetof(USBD_INTERFACE_INFORMATION, InterfaceHandle) <= urb->UrbHeader.Length) {
    auto* entry = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(base + at);
    if (entry->Length == 0 || entry->Length > urb->UrbHeader.Length - at) break;
    IRP_CONTEXT* c = nullptr;
    if (!NT_SUCCESS(AllocateIRPCONTEXT(pdo, &c))) return STATUS_INSUFFICIENT_RESOURCES;
    c->Local = 1;
    c->Pipe = pipe;
    RFC_HEADER& h = HeaderOf(c);
    h = {};
    h.CommandLength = RFC_HEADER_SIZE;
    h.Command = zarnet::RFC_CMD_CONTROL;
    h.PortNum = select.PortNum;
    h.Interface = select.Interface;
    h.EndPoint = select.EndPoint;
    h.SeqNo = pipe->SeqNo++;
    zarnet::SetSetup(h, {0x01, 11, entry->AlternateSetting, entry->InterfaceNumber, 0});
    QAdd(pipe, c);
    at += entry->Length;
  }
  return STATUS_SUCCESS;
}

void ResetConnection(PDO_DEVICE_DATA* pdo, PURB urb) {
  urb->UrbHeader.Status = USBD_STATUS_INSUFFICIENT_RESOURCES;
  if (pdo->SockContext) TdiNetwork_CloseSocket(pdo->SockContext);
  TRACE_MASK(0x20000, "RESET Done!!:  port: %d\n", pdo->PortNum);
}

NTSTATUS HandleAbortPipe(PDO_DEVICE_DATA* pdo, PIPE* pipe) {
  LIST_ENTRY done;
  InitializeListHead(&done);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  FailQueued(pdo, pipe, true, &done);
  DoSendIrp(PathOf(pdo), irql);  // the unlinks
  CompleteAll(&done);
  if (uint32_t ms = gAbortDelayMs.load()) {
    LARGE_INTEGER delay;
    delay.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
  }
  return STATUS_SUCCESS;
}

NTSTATUS HandleSubmitUrb(PDO_DEVICE_DATA* pdo, PIRP irp) {
  PURB urb = UrbOf(irp);
  Path* path = PathOf(pdo);
  SOCK_CONTEXT* sock = pdo->SockContext;
  if (!urb) return Fail(irp, STATUS_INVALID_PARAMETER);
  if (!path || !pdo->Present || pdo->Common.DevicePnPState != Started || !sock || sock->ConnState != ConnConnected ||
      !(pdo->PortStatus & 2)) {
    TRACE_MASK(0x20000, "HandleSubmitUrb==> Device Not Present/Started!!\n");
    urb->UrbHeader.Status = MakeNtStatus(0xC0000004);
    return Fail(irp, STATUS_UNSUCCESSFUL);
  }
  USHORT f = urb->UrbHeader.Function;
  if (ULONG need = MinimumLength(f); urb->UrbHeader.Length < need) {
    TRACE_MASK(0x20000, "!!! Hdr.Length is wrong! (is: %d, should be at least: %d)\n", urb->UrbHeader.Length, need);
    return Fail(irp, STATUS_UNSUCCESSFUL);
  }
  if (f == 7) {
    urb->UrbGetCurrentFrameNumber.FrameNumber = 0;
    urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
    return Fail(irp, STATUS_SUCCESS);
  }
  if (!UsesEndpointPipe(f) && !UsesDefaultPipe(f)) {
    TRACE_MASK(0x20000, "HandleUrb %x\n", f);
    return Fail(irp, STATUS_NOT_IMPLEMENTED);
  }

  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  PIPE* pipe = pdo->Fbk->DefaultPipe;
  if (UsesEndpointPipe(f)) {
    // A handle the child never gave out, or one whose interface was released, names no pipe.
    PVOID handle = urb->UrbPipeRequest.PipeHandle;
    pipe = handle && IsKnownPipe(pdo, handle) && EndpointOf(static_cast<PIPE*>(handle)) ? static_cast<PIPE*>(handle) : nullptr;
  }
  if (!pipe || (f == 10 && PipeType(pipe) != 1)) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    urb->UrbHeader.Status = USBD_STATUS_INVALID_PIPE_HANDLE;
    return Fail(irp, STATUS_UNSUCCESSFUL);
  }
  if (f == 2) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    HandleAbortPipe(pdo, pipe);
    urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
    return Fail(irp, STATUS_SUCCESS);
  }
  URB_TRANSFER_TAIL* t = TailOf(urb);
  ULONG packets = 0;
  if (f == 10) {
    packets = urb->UrbIsochronousTransfer.NumberOfPackets;
    if (packets < 1 || packets > kIsoPacketsMax ||
        urb->UrbHeader.Length < offsetof(URB_ISOCH_TRANSFER, IsoPacket) + packets * sizeof(USBD_ISO_PACKET_DESCRIPTOR)) {
      KeReleaseSpinLock(&pdo->Lock, irql);
      urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
      return Fail(irp, STATUS_INVALID_PARAMETER);
    }
  }
  bool out = IsDataAccompanying(urb, pipe);
  ULONG outBytes = out && t ? t->TransferBufferLength : 0;
  if (out && t && t->TransferBufferLength && !BufferOf(urb)) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return Fail(irp, STATUS_INVALID_PARAMETER);
  }
  if (f == 9 && PipeType(pipe) == 2 && out && outBytes > MAX_DATA_SIZE) {
    // Kept as it always was: such a bulk OUT resets the connection.
    KeReleaseSpinLock(&pdo->Lock, irql);
    TRACE_MASK(0x20000, "HandleBulkOrInterruptRequest: DataLen>MAX_DATA_SIZE\n");
    ResetConnection(pdo, urb);
    return Fail(irp, STATUS_INVALID_PARAMETER);
  }
  if (RFC_HEADER_SIZE + static_cast<uint64_t>(outBytes) + packets * zarnet::RFC_ISO_DESC_SIZE > pdo->SendBufferCapacity) {
    // One send carries whole requests: one the buffer cannot hold would never leave.
    KeReleaseSpinLock(&pdo->Lock, irql);
    urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
    return Fail(irp, STATUS_INVALID_PARAMETER);
  }
  IRP_CONTEXT* c = nullptr;
  if (!NT_SUCCESS(AllocateIRPCONTEXT(pdo, &c))) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    ResetConnection(pdo, urb);
    return Fail(irp, STATUS_INVALID_PARAMETER);
  }
  if (f == 10) {
    ISOPKT* pkt = Take<ISOPKT>(&pdo->IsoPktFree, &pdo->IsoPktUsed);
    if (!pkt) {
      ReleaseContext(pdo, c);
      KeReleaseSpinLock(&pdo->Lock, irql);
      TRACE_MASK(0x20000, "HandleIsochRequest >> GetISOPKT failed!!\n");
      return Fail(irp, STATUS_UNSUCCESSFUL);
    }
    zarnet::RFC_ISO_DESC descs[kIsoPacketsMax];
    for (ULONG i = 0; i < packets; ++i) descs[i] = {urb->UrbIsochronousTransfer.IsoPacket[i].Offset, 0, 0, static_cast<int32_t>(zarnet::kIsoRequestStatus)};
    if (!zarnet::SetIsoPacketLengths(std::span(descs, packets), t->TransferBufferLength)) {
      Give(pkt, &pdo->IsoPktFree);
      ReleaseContext(pdo, c);
      KeReleaseSpinLock(&pdo->Lock, irql);
      urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
      return Fail(irp, STATUS_INVALID_PARAMETER);
    }
    for (ULONG i = 0; i < packets; ++i) zarnet::EncodeIsoDesc(descs[i], pkt->Desc + i * zarnet::RFC_ISO_DESC_SIZE);
    pkt->DescLength = packets * zarnet::RFC_ISO_DESC_SIZE;
    c->IsoPkt = pkt;
  }
  c->Irp = irp;
  c->Pipe = pipe;
  c->Local = 0;
  c->CompletionState = 0;
  urb->UrbHeader.Status = USBD_STATUS_PENDING;
  irp->IoStatus.Status = STATUS_PENDING;
  irp->Tail.Overlay.DriverContext[0] = c;
  FrameRFCPacket(HeaderOf(c), pdo, urb, pipe, packets);
  // WriteFBK: queue, then send unless a send is under way or the pipe is holding isochronous requests.
  IoMarkIrpPending(irp);
  QAdd(pipe, c);
  if (f == 0) HandleSelectIntfCommandsLocally(pdo, urb, HeaderOf(c));
  IoSetCancelRoutine(irp, CancelClientRequest);
  if (__atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) && IoSetCancelRoutine(irp, nullptr)) {
    // Cancelled before the routine was in place: nobody else will complete it.
    QRemove(pipe, c);
    irp->Tail.Overlay.DriverContext[0] = nullptr;
    ReleaseContext(pdo, c);
    KeReleaseSpinLock(&pdo->Lock, irql);
    urb->UrbHeader.Status = USBD_STATUS_CANCELED;
    Fail(irp, STATUS_CANCELLED);
    return STATUS_PENDING;
  }
  if (f == 10 && pipe->Accumulate && !pipe->TimerSet) {
    pipe->TimerSet = 1;
    LARGE_INTEGER due;
    due.QuadPart = pipe->DueTime;
    KeSetTimer(&pipe->IsoTimer, due, &pipe->IsoDpc);
  }
  DoSendIrp(path, irql);
  return STATUS_PENDING;
}

void CancelClientRequest(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  PDO_DEVICE_DATA* pdo = PdoData(device);
  Path* path = PathOf(pdo);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  auto* c = static_cast<IRP_CONTEXT*>(irp->Tail.Overlay.DriverContext[0]);
  if (!c) {
    // The response path finished the request after this cancel took the IRP: completing it is left here.
    KeReleaseSpinLock(&pdo->Lock, irql);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return;
  }
  if (c->Irp != irp || !c->Pipe || __atomic_exchange_n(&c->CompletionState, 1, __ATOMIC_SEQ_CST) != 0) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return;  // the response path owns it
  }
  PIPE* pipe = c->Pipe;
  TRACE_MASK(0x1, "CancelClientRequest ==> pIrpContext=%p, nPipe=%x, nSeq=%d, Port=%d\n", static_cast<void*>(c),
             pipe->PipeNumber, HeaderOf(c).SeqNo, pdo->PortNum);
  bool sent = IsSent(pipe, c);
  QRemove(pipe, c);
  if (path && path->recvCtx == c) path->recvCtx = nullptr;  // the rest of its payload is skipped
  if (sent) QueueUnlink(pdo, pipe, HeaderOf(c));
  irp->Tail.Overlay.DriverContext[0] = nullptr;
  ReleaseContext(pdo, c);
  if (PURB urb = UrbOf(irp)) urb->UrbHeader.Status = USBD_STATUS_CANCELED;
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  if (path) DoSendIrp(path, irql);  // the unlink, and whatever waited behind the cancelled request
  else KeReleaseSpinLock(&pdo->Lock, irql);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// ---- Descriptor cache and selections -----------------------------------------------------------------

// The descriptors of a configuration, walked by each one's bLength.
template <typename F>
void WalkConfig(const CONFIGDESC* cfg, F f) {
  ULONG total = cfg->Length >= 4 ? (cfg->Buffer[2] | cfg->Buffer[3] << 8) : 0;
  ULONG end = total < cfg->Length ? total : cfg->Length;
  for (ULONG at = cfg->Buffer[0]; at + 2 <= end;) {
    UCHAR length = cfg->Buffer[at];
    if (length < 2 || at + length > end) return;
    if (!f(cfg->Buffer + at)) return;
    at += length;
  }
}

const UCHAR* FindInterface(const CONFIGDESC* cfg, UCHAR number, UCHAR alternate) {
  const UCHAR* found = nullptr;
  WalkConfig(cfg, [&](const UCHAR* d) {
    if (d[1] == 4 && d[0] >= 9 && d[2] == number && d[3] == alternate) found = d;
    return !found;
  });
  return found;
}

// The i-th endpoint (from 1) of an interface descriptor: endpoint descriptors that follow it before the next interface.
const UCHAR* FindEndpoint(const CONFIGDESC* cfg, const UCHAR* intf, ULONG i) {
  const UCHAR* found = nullptr;
  bool inside = false;
  ULONG n = 0;
  WalkConfig(cfg, [&](const UCHAR* d) {
    if (d == intf) {
      inside = true;
      return true;
    }
    if (!inside) return true;
    if (d[1] == 4) return false;
    if (d[1] == 5 && d[0] >= 7 && ++n == i) found = d;
    return !found;
  });
  return found;
}

CONFIGDESC* FindConfig(PDO_DEVICE_DATA* pdo, UCHAR value) {
  for (PLIST_ENTRY e = pdo->ConfigDescUsed.Flink; e != &pdo->ConfigDescUsed; e = e->Flink) {
    auto* c = CONTAINING_RECORD(e, CONFIGDESC, Link);
    if (c->Length > 5 && c->Buffer[5] == value) return c;
  }
  return nullptr;
}

NTSTATUS CopyDESC(PDO_DEVICE_DATA* pdo, PURB urb, ULONG length) {
  PUCHAR buffer = BufferOf(urb);
  if (length == 0 || !buffer || length > MAX_CONFIGDESC_SIZE) return STATUS_UNSUCCESSFUL;
  if (urb->UrbHeader.Function != 11 || urb->UrbControlDescriptorRequest.DescriptorType != 2) return STATUS_SUCCESS;
  if (length < 9) return STATUS_UNSUCCESSFUL;
  Path* path = PathOf(pdo);
  if (CONFIGDESC* old = FindConfig(pdo, buffer[5]); old && old != path->selected) Give(old, &pdo->ConfigDescFree);
  else if (old) {  // the selected one is refreshed in place: its pipes point into it
    if (length >= old->Length) {
      RtlCopyMemory(old->Buffer, buffer, length);
      old->Length = length;
    }
    return STATUS_SUCCESS;
  }
  CONFIGDESC* c = Take<CONFIGDESC>(&pdo->ConfigDescFree, &pdo->ConfigDescUsed);
  if (!c) return STATUS_UNSUCCESSFUL;
  RtlCopyMemory(c->Buffer, buffer, length);
  c->Length = length;
  return STATUS_SUCCESS;
}

// Releases an interface's pipes; what was still queued on them fails (and is unlinked when sent).
void FreeINTERFACE(PDO_DEVICE_DATA* pdo, INTF* intf, LIST_ENTRY* done) {
  while (!IsListEmpty(&intf->Lists[0])) {
    PIPE* p = CONTAINING_RECORD(RemoveHeadList(&intf->Lists[0]), PIPE, Head);
    KeCancelTimer(&p->IsoTimer);
    RemoveEntryList(&p->TypeLink);
    InitializeListHead(&p->TypeLink);
    p->Endpoint = nullptr;
    FailQueued(pdo, p, true, done);
    Give(p, &pdo->PipeFree);
  }
  RemoveEntryList(&intf->Lists[1]);
  InitializeListHead(&intf->Lists[1]);
  Give(intf, &pdo->IntfFree);
}

INTF* SelectedInterface(Path* path, UCHAR number) {
  for (PLIST_ENTRY e = path->interfaces.Flink; e != &path->interfaces; e = e->Flink) {
    INTF* i = CONTAINING_RECORD(e, INTF, Lists[1]);
    if (i->Number == number) return i;
  }
  return nullptr;
}

// Builds an interface and its pipes from the selected configuration into the client's entry.
bool BuildInterface(PDO_DEVICE_DATA* pdo, USBD_INTERFACE_INFORMATION* entry, ULONG entryRoom) {
  Path* path = PathOf(pdo);
  const UCHAR* d = FindInterface(path->selected, entry->InterfaceNumber, entry->AlternateSetting);
  if (!d) return false;
  ULONG n = d[4];
  // The client's record must have room for every pipe the interface has.
  if (entryRoom < InterfaceInformationSize(n) || entry->Length < InterfaceInformationSize(n)) return false;
  INTF* intf = Take<INTF>(&pdo->IntfFree, &pdo->IntfUsed);
  if (!intf) return false;
  intf->Number = d[2];
  intf->Handle = d[3];
  InitializeListHead(&intf->Lists[0]);
  InsertTailList(&path->interfaces, &intf->Lists[1]);
  entry->Class = d[5];
  entry->SubClass = d[6];
  entry->Protocol = d[7];
  entry->InterfaceHandle = intf;
  entry->NumberOfPipes = n;
  for (ULONG i = 1; i <= n; ++i) {
    const UCHAR* ep = FindEndpoint(path->selected, d, i);
    USBD_PIPE_INFORMATION& info = entry->Pipes[i - 1];
    info.PipeHandle = nullptr;
    if (!ep) return false;
    PIPE* p = Take<PIPE>(&pdo->PipeFree, &pdo->PipeUsed);  // the lock is already held here
    if (!p) return false;
    ReInitPIPE(p, i, pdo);
    p->InterfaceNumber = d[2];
    p->AlternateSetting = d[3];
    p->PortNum = pdo->PortNum;
    p->Endpoint = const_cast<UCHAR*>(ep);
    InsertTailList(&intf->Lists[0], &p->Head);
    InsertTailList(&pdo->Fbk->TransferLists[ListIndexOf(p)], &p->TypeLink);
    if (info.PipeFlags == 0) info.MaximumPacketSize = static_cast<USHORT>(ep[4] | ep[5] << 8);
    info.EndpointAddress = ep[2];
    info.Interval = ep[6];
    info.PipeType = ep[3] & 3;
    info.PipeHandle = p;
  }
  return true;
}

bool HandleSelectConfigResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done) {
  Path* path = PathOf(pdo);
  auto& sel = urb->UrbSelectConfiguration;
  while (!IsListEmpty(&path->interfaces))
    FreeINTERFACE(pdo, CONTAINING_RECORD(path->interfaces.Flink, INTF, Lists[1]), done);
  path->selected = nullptr;
  if (!sel.ConfigurationDescriptor) return true;
  CONFIGDESC* cfg = FindConfig(pdo, sel.ConfigurationDescriptor[5]);
  if (!cfg) return false;
  path->selected = cfg;
  sel.ConfigurationHandle = cfg;
  auto* base = reinterpret_cast<PUCHAR>(urb);
  ULONG at = offsetof(URB_SELECT_CONFIGURATION, Interface);
  while (at + offsetof(USBD_INTERFACE_INFORMATION, InterfaceHandle) <= urb->UrbHeader.Length) {
    auto* entry = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(base + at);
    if (entry->Length == 0 || entry->Length > urb->UrbHeader.Length - at) break;
    if (!BuildInterface(pdo, entry, urb->UrbHeader.Length - at)) return false;
    at += entry->Length;
  }
  return true;
}

bool HandleSelectInterfaceResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done) {
  Path* path = PathOf(pdo);
  auto& sel = urb->UrbSelectInterface;
  if (!path->selected) return false;
  if (INTF* old = SelectedInterface(path, sel.Interface.InterfaceNumber)) FreeINTERFACE(pdo, old, done);
  ULONG room = urb->UrbHeader.Length > offsetof(URB_SELECT_INTERFACE, Interface) ? urb->UrbHeader.Length - offsetof(URB_SELECT_INTERFACE, Interface) : 0;
  return BuildInterface(pdo, &sel.Interface, room);
}

// ---- Responses ---------------------------------------------------------------------------------------

PIPE* PipeForEndpoint(PDO_DEVICE_DATA* pdo, uint32_t endpoint) {
  if (endpoint == 0) return pdo->Fbk->DefaultPipe;
  PIPE* found = nullptr;
  ForEachPipe(pdo, [&](PIPE* p) {
    if (!found && p->PipeNumber != 0 && EndpointOf(p) && EndpointAddress(p) == endpoint) found = p;
  });
  return found;
}

void Path::OnHeader(const uint8_t* raw, const zarnet::UsbFrame&) {
  resp = zarnet::DecodeResponseHeader(raw);
  recvCtx = nullptr;
  overrun = false;
  if (resp.Command == zarnet::RFC_CMD_UNLINK + zarnet::kResponseCommandOffset) return;  // dropped
  PIPE* pipe = PipeForEndpoint(pdo, resp.EndPoint);
  if (!pipe) {
    TRACE_MASK(0x20000, "AdjustRECVFBK ERROR. No Pipe., Recv Pipe: %d, command_length:%d, command:%d\n", resp.EndPoint,
               resp.CommandLength, resp.Command);
    return;  // skipped with its payload; the connection goes on
  }
  if (IsListEmpty(&pipe->RequestQueue)) return;
  IRP_CONTEXT* c = ContextOfLink(pipe->RequestQueue.Flink);
  if (!IsSent(pipe, c) || HeaderOf(c).SeqNo != resp.SeqNo) {
    TRACE_MASK(0x20000, "IsValidResponse: On Pipe: %x, Port: %d, SequenceNo Mismatch. Exp Seq=%d, Recv Seq=%d\n",
               pipe->PipeNumber, pdo->PortNum, HeaderOf(c).SeqNo, resp.SeqNo);
    return;
  }
  recvCtx = c;
  PURB urb = UrbOf(c);
  URB_TRANSFER_TAIL* t = urb ? TailOf(urb) : nullptr;
  bool isoOut = urb && urb->UrbHeader.Function == 10 && !(EndpointAddress(pipe) & 0x80);
  if (t && !isoOut && resp.CommandLength != RFC_HEADER_SIZE) t->TransferBufferLength = 0;
  if (t && urb->UrbHeader.Function == 9 && (EndpointAddress(pipe) & 0x80) && resp.ActualLength == 0) t->TransferBufferLength = 0;
  if (t && urb->UrbHeader.Function == 10 && !isoOut) t->TransferBufferLength = 0;
}

void Path::OnData(std::span<const uint8_t> piece, uint32_t offset) {
  if (!recvCtx) return;
  PURB urb = UrbOf(recvCtx);
  PUCHAR buffer = BufferOf(urb);
  // Bounded by what the request asked for: the rest is discarded and the request fails.
  ULONG capacity = buffer ? HeaderOf(recvCtx).TransferLength : 0;
  ULONG take = offset >= capacity ? 0 : static_cast<ULONG>(std::min<size_t>(piece.size(), capacity - offset));
  if (take < piece.size()) overrun = true;
  if (!take) return;
  RtlCopyMemory(buffer + offset, piece.data(), take);
  URB_TRANSFER_TAIL* t = TailOf(urb);
  if (urb->UrbHeader.Function == 10) {
    if (offset + take > t->TransferBufferLength) t->TransferBufferLength = offset + take;
  } else {
    t->TransferBufferLength += take;
  }
}

void Path::OnIsoDesc(const zarnet::RFC_ISO_DESC& desc, uint32_t index) {
  if (!recvCtx) return;
  PURB urb = UrbOf(recvCtx);
  if (!urb || urb->UrbHeader.Function != 10 || index >= HeaderOf(recvCtx).NumberOfPackets) {
    overrun = true;
    return;
  }
  urb->UrbIsochronousTransfer.IsoPacket[index].Length = desc.ActualLength;
  urb->UrbIsochronousTransfer.IsoPacket[index].Status = desc.Status;
}

void Path::OnMessageEnd() {
  IRP_CONTEXT* c = recvCtx;
  recvCtx = nullptr;
  if (!c) return;
  PIPE* pipe = c->Pipe;
  QRemove(pipe, c);
  if (c->Local) {
    ReleaseContext(pdo, c);
    return;
  }
  if (__atomic_exchange_n(&c->CompletionState, 1, __ATOMIC_SEQ_CST) != 0) return;  // the cancel routine has it
  PIRP irp = c->Irp;
  bool cancelling = !IoSetCancelRoutine(irp, nullptr);  // then the cancel routine completes it
  irp->Tail.Overlay.DriverContext[0] = nullptr;
  PURB urb = UrbOf(irp);
  LIST_ENTRY done;
  InitializeListHead(&done);
  NTSTATUS irpStatus = resp.Status == 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
  USBD_STATUS urbStatus = resp.Status == 0 ? USBD_STATUS_SUCCESS : USBD_STATUS_REQUEST_FAILED;
  if (resp.Status == zarnet::kWireStatusDeviceGone) pdo->PortStatus &= ~2;
  USHORT f = urb->UrbHeader.Function;
  if (resp.Status == 0 && f == 10) {
    auto& iso = urb->UrbIsochronousTransfer;
    iso.ErrorCount = resp.ErrorCount;
    if (resp.ErrorCount != 0 || resp.NumberOfPackets != iso.NumberOfPackets) {
      iso.ErrorCount = resp.NumberOfPackets;
      irpStatus = STATUS_UNSUCCESSFUL;
      urbStatus = USBD_STATUS_ERROR;
    } else {
      pipe->Counters[0] += resp.NumberOfPackets;
      iso.StartFrame = pipe->Counters[0];
    }
  }
  if (resp.Status == 0 && resp.Command == zarnet::RFC_CMD_CONTROL + zarnet::kResponseCommandOffset) {
    bool ok = true;
    if (f == 0) ok = HandleSelectConfigResponse(pdo, urb, &done);
    else if (f == 1) ok = HandleSelectInterfaceResponse(pdo, urb, &done);
    else if (f == 11 || f == 36 || f == 40) ok = NT_SUCCESS(CopyDESC(pdo, urb, resp.ActualLength));  // reads only: a set returns nothing
    if (!ok) {
      irpStatus = STATUS_UNSUCCESSFUL;
      urbStatus = USBD_STATUS_ERROR;
    }
  }
  if (overrun) {
    irpStatus = STATUS_UNSUCCESSFUL;
    urbStatus = USBD_STATUS_BUFFER_OVERRUN;
  }
  urb->UrbHeader.Status = urbStatus;
  irp->IoStatus.Status = irpStatus;
  irp->IoStatus.Information = 0;
  ReleaseContext(pdo, c);
  if (!cancelling) InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
  // Completed with the lock released: the caller's completion routine may submit again at once.
  KeReleaseSpinLockFromDpcLevel(&pdo->Lock);
  CompleteAll(&done);
  // Unlinks for the pipes of a replaced interface wait for a send.
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  DoSendIrp(this, irql);
  KeAcquireSpinLockAtDpcLevel(&pdo->Lock);
}

void OnResponseBytes(PDO_DEVICE_DATA* pdo, const UCHAR* data, ULONG length) {
  Path* path = PathOf(pdo);
  if (!path || path->broken) return;
  if (!path->decoder.Feed(std::span(data, length), *path)) {
    // Out of frame: nothing after this point can be trusted.
    TRACE_MASK(0x20000, "RecvRECVPOOL: %s\n", path->decoder.error().c_str());
    path->broken = true;
    if (pdo->SockContext) KeSetEvent(&pdo->SockContext->kExitTdiRecvThread, IO_NO_INCREMENT, FALSE);
  }
}

}  // namespace

void SetAbortPipeDelay(uint32_t milliseconds) { gAbortDelayMs = milliseconds; }

void FeedResponseBytes(PDEVICE_OBJECT device, const uint8_t* data, size_t length) {
  while (device->DeviceObjectExtension && device->DeviceObjectExtension->AttachedTo)
    device = device->DeviceObjectExtension->AttachedTo;
  PDO_DEVICE_DATA* pdo = PdoData(device);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (pdo->OnResponse) pdo->OnResponse(pdo, data, static_cast<ULONG>(length));
  KeReleaseSpinLock(&pdo->Lock, irql);
}

NTSTATUS UsbPath_Create(PDO_DEVICE_DATA* pdo) {
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
  if (PathOf(pdo)) ForEachPipe(pdo, [&](PIPE* p) { FailQueued(pdo, p, false, &done); });
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

NTSTATUS Bus_InternalCtl(PDEVICE_OBJECT device, PIRP irp) {
  PDO_DEVICE_DATA* pdo = PdoData(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
      return HandleSubmitUrb(pdo, irp);
    case IOCTL_INTERNAL_USB_RESET_PORT:
    case IOCTL_INTERNAL_USB_ENABLE_PORT:
    case IOCTL_INTERNAL_USB_CYCLE_PORT:
      pdo->PortStatus |= 1;
      return Fail(irp, STATUS_SUCCESS);
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS:
      if (auto* out = static_cast<ULONG*>(stack->Parameters.Others.Argument1)) *out = pdo->PortStatus;
      return Fail(irp, STATUS_SUCCESS);
    case IOCTL_INTERNAL_USB_GET_BUS_INFO:
      if (auto* out = static_cast<ULONG*>(stack->Parameters.Others.Argument1)) out[1] = out[2] = 100;
      return Fail(irp, STATUS_SUCCESS);
    case IOCTL_INTERNAL_USB_GET_ROOTHUB_PDO:
    case IOCTL_INTERNAL_USB_GET_HUB_COUNT:
    case IOCTL_INTERNAL_USB_GET_HUB_NAME:
    case IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION:
      return Fail(irp, STATUS_SUCCESS);
    default: {
      TRACE_MASK(0x20000, "UnKnown IOCTL\n");
      NTSTATUS status = irp->IoStatus.Status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
  }
}

}  // namespace pelkobus
