// Submission: each URB is checked, answered locally when it needs no server, or framed into a request
// message and queued on its pipe for the send scheduler; cancel takes a request back.
#include <atomic>

#include "usb_path.h"

namespace pelkobus {
namespace {

using namespace urb;

constexpr ULONG kIsoPacketsMax = zarnet::kMaxIsoPackets;
std::atomic<uint32_t> gAbortDelayMs{200};

bool IsKnownPipe(PDO_DEVICE_DATA* pdo, PVOID handle) {
  for (PLIST_ENTRY e = pdo->PipeUsed.Flink; e != &pdo->PipeUsed; e = e->Flink)
    if (CONTAINING_RECORD(e, PIPE, Link) == handle) return true;
  return false;
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
  auto notConnected = [&] {
    TRACE_MASK(0x20000, "HandleSubmitUrb==> Device Not Present/Started!!\n");
    urb->UrbHeader.Status = MakeNtStatus(0xC0000004);
    return Fail(irp, STATUS_UNSUCCESSFUL);
  };
  if (!path || !pdo->Present || pdo->Common.DevicePnPState != Started || !sock || sock->ConnState != ConnConnected ||
      !(pdo->PortStatus & 2))
    return notConnected();
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
  // The checks above ran without the lock: the connection may have ended since, its requests failed.
  if (path->ended) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    return notConnected();
  }
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
  if (((f == 9 && PipeType(pipe) == 2) || f == 10) && out && outBytes > MAX_DATA_SIZE) {
    // A bulk or isochronous OUT above what one request may carry resets the connection.
    KeReleaseSpinLock(&pdo->Lock, irql);
    TRACE_MASK(0x20000, f == 10 ? "HandleIsochRequest: DataLen>MAX_DATA_SIZE\n"
                                : "HandleBulkOrInterruptRequest: DataLen>MAX_DATA_SIZE\n");
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
  QRemove(pipe, c);
  if (path && path->recvCtx == c) path->recvCtx = nullptr;  // the rest of its payload is skipped
  const RFC_HEADER cancelled = HeaderOf(c);
  irp->Tail.Overlay.DriverContext[0] = nullptr;
  // Back to the pool before the unlink takes one: a full pool still unlinks.
  ReleaseContext(pdo, c);
  QueueUnlink(pdo, pipe, cancelled);
  if (PURB urb = UrbOf(irp)) urb->UrbHeader.Status = USBD_STATUS_CANCELED;
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  if (path) DoSendIrp(path, irql);  // the unlink, and whatever waited behind the cancelled request
  else KeReleaseSpinLock(&pdo->Lock, irql);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

}  // namespace

void SetAbortPipeDelay(uint32_t milliseconds) { gAbortDelayMs = milliseconds; }

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
