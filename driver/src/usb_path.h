// The USB data path of a child, shared by its steps: submission and framing (usb_submit.cpp), the send
// scheduler (usb_send.cpp), the response path (usb_receive.cpp) and the descriptor cache with the
// selections built from it (usb_descriptors.cpp). All queue, pipe and buffer work happens under the
// child's spin lock.
#pragma once
#include <cstring>

#include "busenum.h"
#include "wdk/usb.h"
#include "zarnet/usb_wire.h"

namespace pelkobus::urb {

constexpr int kIsoList = 0, kInterruptList = 1, kBulkList = 2, kControlList = 3;

using zarnet::RFC_HEADER;
using zarnet::RFC_RESPONSE_HEADER;

struct Path;
inline Path* PathOf(PDO_DEVICE_DATA* pdo) { return static_cast<Path*>(pdo->SendState); }

inline PURB UrbOf(PIRP irp) {
  return irp ? static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1) : nullptr;
}
inline RFC_HEADER& HeaderOf(IRP_CONTEXT* c) { return *reinterpret_cast<RFC_HEADER*>(c->Header); }
inline PURB UrbOf(IRP_CONTEXT* c) { return c->Local ? nullptr : UrbOf(c->Irp); }
inline IRP_CONTEXT* ContextOfLink(PLIST_ENTRY e) { return CONTAINING_RECORD(e, IRP_CONTEXT, PipeLink); }
inline IRP_CONTEXT* Mark(PIPE* p) { return static_cast<IRP_CONTEXT*>(p->NextToSend); }
inline const UCHAR* EndpointOf(PIPE* p) { return static_cast<const UCHAR*>(p->Endpoint); }
inline int PipeType(PIPE* p) { return EndpointOf(p) ? (EndpointOf(p)[3] & 3) : 0; }
inline UCHAR EndpointAddress(PIPE* p) { return EndpointOf(p) ? EndpointOf(p)[2] : 0; }
inline int ListIndexOf(PIPE* p) {
  switch (PipeType(p)) {
    case 1: return kIsoList;
    case 2: return kBulkList;
    case 3: return kInterruptList;
    default: return kControlList;
  }
}

inline bool HasData(USHORT f) { return f == 8 || (f >= 9 && f <= 12) || (f >= 19 && f <= 21) || (f >= 23 && f <= 28) || (f >= 31 && f <= 33) || (f >= 36 && f <= 41); }
inline bool UsesEndpointPipe(USHORT f) { return f == 2 || f == 9 || f == 10 || f == 30; }
inline bool UsesDefaultPipe(USHORT f) {
  return f == 0 || f == 1 || f == 7 || f == 8 || (f >= 11 && f <= 21) || (f >= 23 && f <= 28) || (f >= 31 && f <= 41);
}
inline ULONG MinimumLength(USHORT f) {
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
inline URB_TRANSFER_TAIL* TailOf(PURB urb) {
  return HasData(urb->UrbHeader.Function) ? &urb->UrbBulkOrInterruptTransfer.T : nullptr;
}
inline PUCHAR BufferOf(PURB urb) {
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
  // The connection has ended and its requests were failed: a request that passed the submission's checks
  // meanwhile must not be queued behind them, where nothing would ever complete it.
  bool ended = false;
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

void ReleaseContext(PDO_DEVICE_DATA* pdo, IRP_CONTEXT* c);
void ReInitPIPE(PIPE* p, ULONG number, PDO_DEVICE_DATA* pdo);

// ---- Pipe queues (usb_send.cpp) ----------------------------------------------------------------------

void QAdd(PIPE* p, IRP_CONTEXT* c);
bool IsSent(PIPE* p, IRP_CONTEXT* c);
// Takes a context off its queue, keeping the mark on the first unsent one.
void QRemove(PIPE* p, IRP_CONTEXT* c);
// An unlink for a request the server already has: it goes out with the next send.
void QueueUnlink(PDO_DEVICE_DATA* pdo, PIPE* p, const RFC_HEADER& cancelled);
// Fails every request queued on a pipe; requests the server already has are unlinked when asked.
// Client IRPs go onto `done` to be completed once the lock is released.
void FailQueued(PDO_DEVICE_DATA* pdo, PIPE* p, bool unlinkSent, LIST_ENTRY* done);
void CompleteAll(LIST_ENTRY* done);

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

// Packs what fits into the send buffer and issues one send; entered with the lock held, leaves it released.
NTSTATUS DoSendIrp(Path* path, KIRQL irql);

// ---- Descriptor cache and selections (usb_descriptors.cpp) -------------------------------------------

NTSTATUS CopyDESC(PDO_DEVICE_DATA* pdo, PURB urb, ULONG length);
bool HandleSelectConfigResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done);
bool HandleSelectInterfaceResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done);

// ---- Responses (usb_receive.cpp) ---------------------------------------------------------------------

void OnResponseBytes(PDO_DEVICE_DATA* pdo, const UCHAR* data, ULONG length);

}  // namespace pelkobus::urb
