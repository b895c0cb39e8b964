// The response path: the byte stream from the server is framed by the shared decoder, each response is
// matched to the oldest sent request of the pipe its endpoint names, its data bounded by that request,
// and the request completed.
#include "usb_path.h"

namespace pelkobus::urb {
namespace {

PIPE* PipeForEndpoint(PDO_DEVICE_DATA* pdo, uint32_t endpoint) {
  if (endpoint == 0) return pdo->Fbk->DefaultPipe;
  PIPE* found = nullptr;
  ForEachPipe(pdo, [&](PIPE* p) {
    if (!found && p->PipeNumber != 0 && EndpointOf(p) && EndpointAddress(p) == endpoint) found = p;
  });
  return found;
}

}  // namespace

void Path::OnHeader(const uint8_t* raw, const zarnet::UsbFrame&) {
  resp = zarnet::DecodeResponseHeader(raw);
  recvCtx = nullptr;
  overrun = false;
  // Only told: the framing itself was checked by the decoder.
  if (resp.Command < 139 || resp.Command > 151) TRACE_MASK(0x20000, "Invalid Response, Command = %d\n", resp.Command);
  if (resp.PortNum == 0) TRACE_MASK(0x20000, "Invalid Response, Port = %d\n", resp.PortNum);
  if (resp.Command == zarnet::RFC_CMD_UNLINK + zarnet::kResponseCommandOffset) return;  // dropped
  PIPE* pipe = PipeForEndpoint(pdo, resp.EndPoint);
  if (!pipe) {
    TRACE_MASK(0x20000, "AdjustRECVFBK ERROR. No Pipe., Recv Pipe: %d, command_length:%d, command:%d\n", resp.EndPoint,
               resp.CommandLength, resp.Command);
    // Skipped with its payload, the connection kept: a late answer for a pipe that a new alternate
    // setting has just released must not cost the device.
    return;
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

}  // namespace pelkobus::urb

namespace pelkobus {

void FeedResponseBytes(PDEVICE_OBJECT device, const uint8_t* data, size_t length) {
  while (device->DeviceObjectExtension && device->DeviceObjectExtension->AttachedTo)
    device = device->DeviceObjectExtension->AttachedTo;
  PDO_DEVICE_DATA* pdo = PdoData(device);
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (pdo->OnResponse) pdo->OnResponse(pdo, data, static_cast<ULONG>(length));
  KeReleaseSpinLock(&pdo->Lock, irql);
}

}  // namespace pelkobus
