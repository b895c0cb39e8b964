// See usb_function.h.
#include "kernel_host/usb_function.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel_host/usb_function_records.h"
#include "usb_requests.h"
#include "wdk/irp_helpers.h"
#include "wdk/usb.h"

namespace tavrin::kernel_host::usb_function {
namespace {

using usb_requests::Submission;

constexpr ULONG kMaxPipes = 32;
constexpr ULONG kMaxQueueDepth = 64;
constexpr ULONG kMaxIsoPackets = 256;
constexpr ULONG kMaxIsoBytes = 512 * 1024;
constexpr ULONG kMaxStreamLength = 1024 * 1024;  // one URB of a stream

struct Extension {
  PDEVICE_OBJECT lower;
  PDEVICE_OBJECT physical;
  UNICODE_STRING interfaceName;
  bool interfaceOn;
  std::vector<uint8_t>* descriptors;  // device descriptor, then the selected configuration
  struct Pipe {
    UCHAR address;
    UCHAR interfaceNumber;
    USBD_PIPE_HANDLE handle;
  } pipes[kMaxPipes];
  ULONG pipeCount;
  KSPIN_LOCK pipeLock;  // the pipe table: handles of one device run on their own threads
  USBD_CONFIGURATION_HANDLE configuration;
};

// The caller's device control while the driver works on it in the caller's thread. Its cancel (the handle
// closed, the process gone, the host stopping) ends every wait below, and the URBs still running are
// cancelled in turn, as the bus driver then unlinks them at the server.
struct Caller {
  KEVENT cancelled;
};

void CancelCaller(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeSetEvent(&static_cast<Caller*>(irp->Tail.Overlay.DriverContext[0])->cancelled, IO_NO_INCREMENT, FALSE);
}

// Reads the descriptors and selects the first configuration with setting 0 of each of its interfaces.
NTSTATUS Configure(Extension* ext) {
  std::vector<uint8_t> device, config;
  NTSTATUS status = usb_requests::ReadDescriptors(ext->lower, &device, &config);
  if (!NT_SUCCESS(status)) return status;
  usb_requests::Selection selection;
  status = selection.Select(ext->lower, config, kMaxPipes);
  if (!NT_SUCCESS(status)) return status;
  KIRQL irql;
  KeAcquireSpinLock(&ext->pipeLock, &irql);
  ext->configuration = selection.handle();
  ext->pipeCount = 0;
  for (size_t i = 0; i < selection.count(); ++i) {
    const USBD_INTERFACE_INFORMATION* info = selection.entry(i);
    for (ULONG p = 0; p < info->NumberOfPipes && p < kMaxPipes && ext->pipeCount < kMaxPipes; ++p)
      ext->pipes[ext->pipeCount++] = {info->Pipes[p].EndpointAddress, info->InterfaceNumber, info->Pipes[p].PipeHandle};
  }
  KeReleaseSpinLock(&ext->pipeLock, irql);
  *ext->descriptors = device;
  ext->descriptors->insert(ext->descriptors->end(), config.begin(), config.end());
  return STATUS_SUCCESS;
}

USBD_PIPE_HANDLE PipeOf(Extension* ext, UCHAR address) {
  USBD_PIPE_HANDLE handle = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(&ext->pipeLock, &irql);
  for (ULONG i = 0; i < ext->pipeCount && !handle; ++i)
    if (ext->pipes[i].address == address) handle = ext->pipes[i].handle;
  KeReleaseSpinLock(&ext->pipeLock, irql);
  return handle;
}

// What a device control ends with.
struct Reply {
  NTSTATUS status;
  ULONG_PTR information;
};

// Bulk or interrupt URBs on one pipe with up to QueueDepth in flight; they are harvested in order.
Reply Stream(Extension* ext, Caller* caller, PIRP irp, ULONG inLength, ULONG outLength) {
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  USBFUNC_STREAM request;
  USBFUNC_STREAM_RESULT result{};
  if (inLength < sizeof request || outLength < sizeof result) return {STATUS_BUFFER_TOO_SMALL, 0};
  std::memcpy(&request, buffer, sizeof request);
  const bool in = request.Endpoint & 0x80;
  const ULONG outData = inLength - sizeof request;
  ULONG count = in ? request.Count : (outData + request.Length - 1) / std::max<ULONG>(request.Length, 1);
  if (!request.Length || request.Length > kMaxStreamLength || !count || !request.QueueDepth || request.QueueDepth > kMaxQueueDepth ||
      (!in && outData == 0))
    return {STATUS_INVALID_PARAMETER, 0};
  const ULONG depth = std::min(request.QueueDepth, count);
  // OUT data goes down from where the request brought it. IN data is read straight into its place in the
  // answer when the answer has room for every URB at full length (a short one moves down as it is
  // harvested, never over a URB still running); otherwise each URB reads into a buffer of its own.
  const bool direct = !in || uint64_t(sizeof result) + uint64_t(count) * request.Length <= outLength;
  struct Slot {
    Submission submission;
    URB urb{};
    uint8_t* data = nullptr;
    ULONG length = 0;
    std::vector<uint8_t> own;
  };
  std::vector<Slot> slots(depth);
  const USBD_PIPE_HANDLE pipe = PipeOf(ext, request.Endpoint);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.TimeoutMs);
  ULONG next = 0, harvested = 0;
  bool stop = false, cancelled = false, waitedForLast = false;
  ULONG_PTR returned = sizeof result;
  while (harvested < count) {
    while (!stop && next < count && next - harvested < depth) {
      Slot& slot = slots[next % depth];
      ULONG length = in ? request.Length : std::min<ULONG>(request.Length, outData - next * request.Length);
      if (!in) {
        slot.data = buffer + sizeof request + size_t(next) * request.Length;
      } else if (direct) {
        slot.data = buffer + sizeof result + size_t(next) * request.Length;
      } else {
        slot.own.resize(length);
        slot.data = slot.own.data();
      }
      slot.length = length;
      slot.urb = URB{};
      auto& b = slot.urb.UrbBulkOrInterruptTransfer;
      b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
      b.PipeHandle = pipe;
      b.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
      b.T.TransferBuffer = slot.data;
      b.T.TransferBufferLength = length;
      if (!usb_requests::Begin(ext->lower, &slot.submission, &slot.urb)) {
        result.IrpStatus = STATUS_INSUFFICIENT_RESOURCES;
        stop = true;
        break;
      }
      ++next;
    }
    if (harvested == next) break;
    Slot& slot = slots[harvested % depth];
    if (!cancelled) {
      LARGE_INTEGER timeout;
      if (request.TimeoutMs) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        timeout.QuadPart = -std::max<LONGLONG>(left.count(), 0) * 10;
      }
      auto completed = [&](Slot& s) {
        return usb_requests::WaitCompleted(&s.submission, &caller->cancelled, request.TimeoutMs ? &timeout : nullptr);
      };
      // Once every URB is down, one wait for the last: the pipe answers in order, so the ones before it are
      // then harvested without a sleep each (and any that is not is waited for as before).
      bool done = true;
      if ((stop || next == count) && next - harvested > 1 && !waitedForLast) {
        waitedForLast = true;
        done = completed(slots[(next - 1) % depth]);
      }
      if (!done || !completed(slot)) {
        // Time is up, or the caller is gone: every URB still running is cancelled, and nothing more goes down.
        cancelled = stop = true;
        for (ULONG i = harvested; i < next; ++i) IoCancelIrp(slots[i % depth].submission.irp);
      }
    }
    NTSTATUS status = usb_requests::Finish(&slot.submission);
    const auto& b = slot.urb.UrbBulkOrInterruptTransfer;
    if (NT_SUCCESS(status)) {
      ++result.Completed;
      ULONG actual = std::min<ULONG>(b.T.TransferBufferLength, slot.length);
      result.Actual += actual;
      if (in) {
        ULONG room = static_cast<ULONG>(std::min<ULONG_PTR>(actual, outLength - returned));
        if (buffer + returned != slot.data) std::memmove(buffer + returned, slot.data, room);
        returned += room;
      }
    } else {
      if (!result.Failed && NT_SUCCESS(result.IrpStatus)) {
        result.IrpStatus = status;
        result.UrbStatus = b.Hdr.Status;
      }
      ++result.Failed;
      stop = true;
    }
    ++harvested;
  }
  result.Returned = static_cast<uint32_t>(returned - sizeof result);
  std::memcpy(buffer, &result, sizeof result);
  return {STATUS_SUCCESS, returned};
}

// One isochronous URB; packet i at i * PacketSize of the buffer.
Reply Isochronous(Extension* ext, Caller* caller, PIRP irp, ULONG inLength, ULONG outLength) {
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  USBFUNC_ISOCH request;
  if (inLength < sizeof request) return {STATUS_BUFFER_TOO_SMALL, 0};
  std::memcpy(&request, buffer, sizeof request);
  const bool in = request.Endpoint & 0x80;
  if (request.Packets < 1 || request.Packets > kMaxIsoPackets || request.PacketSize == 0 ||
      request.PacketSize > kMaxIsoBytes / request.Packets)
    return {STATUS_INVALID_PARAMETER, 0};
  const ULONG total = request.Packets * request.PacketSize;
  const ULONG head = sizeof(USBFUNC_RESULT) + request.Packets * sizeof(USBFUNC_ISO_PACKET);
  if (outLength < head + (in ? total : 0) || (!in && inLength - sizeof request < total))
    return {STATUS_BUFFER_TOO_SMALL, 0};
  std::vector<uint8_t> data(total);
  if (!in) std::memcpy(data.data(), buffer + sizeof request, total);
  std::vector<uint8_t> memory(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + request.Packets * sizeof(USBD_ISO_PACKET_DESCRIPTOR));
  auto* iso = reinterpret_cast<URB_ISOCH_TRANSFER*>(memory.data());
  iso->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
  iso->PipeHandle = PipeOf(ext, request.Endpoint);
  iso->T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
  iso->T.TransferBuffer = data.data();
  iso->T.TransferBufferLength = total;
  iso->NumberOfPackets = request.Packets;
  for (ULONG i = 0; i < request.Packets; ++i) iso->IsoPacket[i].Offset = i * request.PacketSize;
  USBFUNC_RESULT result{};
  result.IrpStatus = usb_requests::SubmitUrb(ext->lower, iso, &caller->cancelled);
  result.UrbStatus = iso->Hdr.Status;
  // What the packets carried as the device reports them: the buffer length of a transfer that failed, or
  // never got its answer, still says what was asked.
  for (ULONG i = 0; i < request.Packets; ++i) {
    USBFUNC_ISO_PACKET packet{std::min(iso->IsoPacket[i].Length, request.PacketSize), iso->IsoPacket[i].Status};
    std::memcpy(buffer + sizeof result + i * sizeof packet, &packet, sizeof packet);
    result.Actual += packet.Length;
  }
  std::memcpy(buffer, &result, sizeof result);
  ULONG_PTR information = head;
  if (in && NT_SUCCESS(result.IrpStatus)) {
    std::memcpy(buffer + head, data.data(), total);
    information += total;
  }
  return {STATUS_SUCCESS, information};
}

// An alternate setting of an interface; the interface's pipes in the table become the new setting's.
Reply SelectInterface(Extension* ext, Caller* caller, PIRP irp, ULONG inLength, ULONG outLength) {
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  USBFUNC_SELECT request;
  if (inLength < sizeof request || outLength < sizeof(USBFUNC_RESULT))
    return {STATUS_BUFFER_TOO_SMALL, 0};
  std::memcpy(&request, buffer, sizeof request);
  const USHORT entry = InterfaceInformationSize(kMaxPipes);
  std::vector<uint8_t> memory(offsetof(URB_SELECT_INTERFACE, Interface) + entry);
  auto* select = reinterpret_cast<URB_SELECT_INTERFACE*>(memory.data());
  select->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_INTERFACE, 0, nullptr, 0};
  KIRQL irql;
  KeAcquireSpinLock(&ext->pipeLock, &irql);
  select->ConfigurationHandle = ext->configuration;
  KeReleaseSpinLock(&ext->pipeLock, irql);
  select->Interface.Length = entry;
  select->Interface.InterfaceNumber = request.Interface;
  select->Interface.AlternateSetting = request.AlternateSetting;
  USBFUNC_RESULT result{};
  result.IrpStatus = usb_requests::SubmitUrb(ext->lower, select, &caller->cancelled);
  result.UrbStatus = select->Hdr.Status;
  if (NT_SUCCESS(result.IrpStatus)) {
    KeAcquireSpinLock(&ext->pipeLock, &irql);
    ULONG kept = 0;
    for (ULONG i = 0; i < ext->pipeCount; ++i)
      if (ext->pipes[i].interfaceNumber != request.Interface) ext->pipes[kept++] = ext->pipes[i];
    ext->pipeCount = kept;
    const auto& info = select->Interface;
    for (ULONG p = 0; p < info.NumberOfPipes && p < kMaxPipes && ext->pipeCount < kMaxPipes; ++p)
      ext->pipes[ext->pipeCount++] = {info.Pipes[p].EndpointAddress, info.InterfaceNumber, info.Pipes[p].PipeHandle};
    KeReleaseSpinLock(&ext->pipeLock, irql);
  }
  std::memcpy(buffer, &result, sizeof result);
  return {STATUS_SUCCESS, sizeof result};
}

// One record of the device interface.
Reply Control(Extension* ext, Caller* caller, PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  if (code == IOCTL_USBFUNC_GET_DESCRIPTORS) {
    const auto& d = *ext->descriptors;
    if (outLength < d.size()) return {STATUS_BUFFER_TOO_SMALL, 0};
    std::memcpy(buffer, d.data(), d.size());
    return {STATUS_SUCCESS, d.size()};
  }
  if (code == IOCTL_USBFUNC_STREAM) return Stream(ext, caller, irp, inLength, outLength);
  if (code == IOCTL_USBFUNC_ISOCH) return Isochronous(ext, caller, irp, inLength, outLength);
  if (code == IOCTL_USBFUNC_SELECT_INTERFACE) return SelectInterface(ext, caller, irp, inLength, outLength);
  if (code != IOCTL_USBFUNC_TRANSFER && code != IOCTL_USBFUNC_RESET_PIPE && code != IOCTL_USBFUNC_ABORT_PIPE)
    return {STATUS_INVALID_DEVICE_REQUEST, 0};
  if (inLength < sizeof(USBFUNC_TRANSFER) || outLength < sizeof(USBFUNC_RESULT))
    return {STATUS_BUFFER_TOO_SMALL, 0};
  USBFUNC_TRANSFER request;
  std::memcpy(&request, buffer, sizeof request);
  USBFUNC_RESULT result{};
  bool in = request.Endpoint ? (request.Endpoint & 0x80) : (request.Setup[0] & 0x80);
  // Data of an OUT request is in the input; an IN request reads into the output behind the result.
  if (code == IOCTL_USBFUNC_TRANSFER &&
      (in ? request.Length > outLength - sizeof result : request.Length > inLength - sizeof request))
    return {STATUS_INVALID_PARAMETER, 0};
  // The data stays in the request's buffer: OUT data behind the request, IN data read into its place
  // behind the result.
  uint8_t* data = buffer + (in ? sizeof result : sizeof request);
  URB urb{};
  NTSTATUS status;
  if (code != IOCTL_USBFUNC_TRANSFER) {
    urb.UrbPipeRequest.Hdr = {sizeof(URB_PIPE_REQUEST),
                              code == IOCTL_USBFUNC_RESET_PIPE ? URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL
                                                               : URB_FUNCTION_ABORT_PIPE,
                              0, nullptr, 0};
    urb.UrbPipeRequest.PipeHandle = PipeOf(ext, request.Endpoint);
    status = usb_requests::SubmitUrb(ext->lower, &urb, &caller->cancelled);
  } else if (request.Endpoint == 0) {
    auto& c = urb.UrbControlTransfer;
    c.Hdr = {sizeof c, URB_FUNCTION_CONTROL_TRANSFER, 0, nullptr, 0};
    c.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    c.T.TransferBuffer = data;
    c.T.TransferBufferLength = request.Length;
    std::memcpy(c.SetupPacket, request.Setup, 8);
    status = usb_requests::SubmitUrb(ext->lower, &urb, &caller->cancelled);
    result.Actual = c.T.TransferBufferLength;
  } else {
    auto& b = urb.UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = PipeOf(ext, request.Endpoint);
    b.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    b.T.TransferBuffer = data;
    b.T.TransferBufferLength = request.Length;
    status = usb_requests::SubmitUrb(ext->lower, &urb, &caller->cancelled);
    result.Actual = b.T.TransferBufferLength;
  }
  result.IrpStatus = status;
  result.UrbStatus = urb.UrbHeader.Status;
  if (result.Actual > request.Length) result.Actual = request.Length;
  std::memcpy(buffer, &result, sizeof result);
  ULONG_PTR information = sizeof result;
  if (in && NT_SUCCESS(status)) information += result.Actual;
  // The transfer's own outcome is in the result record; the request itself succeeded.
  return {STATUS_SUCCESS, information};
}

void InterfaceOff(Extension* ext) {
  if (!ext->interfaceOn) return;
  IoSetDeviceInterfaceState(&ext->interfaceName, FALSE);
  ext->interfaceOn = false;
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  auto* ext = static_cast<Extension*>(device->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_CREATE || stack->MajorFunction == IRP_MJ_CLOSE ||
      stack->MajorFunction == IRP_MJ_CLEANUP)
    return wdk::CompleteIrp(irp, STATUS_SUCCESS, 0);
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
    Caller caller;
    KeInitializeEvent(&caller.cancelled, NotificationEvent, FALSE);
    irp->Tail.Overlay.DriverContext[0] = &caller;
    IoSetCancelRoutine(irp, CancelCaller);
    // Cancelled before the routine was in place: nobody else will say so.
    if (__atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) && IoSetCancelRoutine(irp, nullptr))
      KeSetEvent(&caller.cancelled, IO_NO_INCREMENT, FALSE);
    Reply reply = Control(ext, &caller, irp, stack);
    // A cancel routine already taken still uses `caller`: it is done once the event is set.
    if (!IoSetCancelRoutine(irp, nullptr)) KeWaitForSingleObject(&caller.cancelled, Executive, KernelMode, FALSE, nullptr);
    if (KeReadStateEvent(&caller.cancelled)) reply = {STATUS_CANCELLED, 0};
    return wdk::CompleteIrp(irp, reply.status, reply.information);
  }
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    InterfaceOff(ext);
    PDEVICE_OBJECT lower = ext->lower;
    NTSTATUS status = wdk::PassIrpDown(lower, irp);
    IoDetachDevice(lower);
    RtlFreeUnicodeString(&ext->interfaceName);
    delete ext->descriptors;
    IoDeleteDevice(device);
    return status;
  }
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_START_DEVICE) {
    NTSTATUS status = wdk::ForwardIrpAndWait(ext->lower, irp);
    // A device whose descriptors cannot be read still starts; it just offers no interface.
    if (NT_SUCCESS(status) && NT_SUCCESS(Configure(ext)) && !ext->interfaceOn &&
        NT_SUCCESS(IoRegisterDeviceInterface(ext->physical, &GUID_DEVINTERFACE_USBFUNC, nullptr, &ext->interfaceName)))
      ext->interfaceOn = NT_SUCCESS(IoSetDeviceInterfaceState(&ext->interfaceName, TRUE));
    return wdk::CompleteIrp(irp, status, irp->IoStatus.Information);
  }
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL) InterfaceOff(ext);
  if (stack->MajorFunction == IRP_MJ_PNP &&
      (stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL || stack->MinorFunction == IRP_MN_QUERY_REMOVE_DEVICE))
    irp->IoStatus.Status = STATUS_SUCCESS;
  return wdk::PassIrpDown(ext->lower, irp);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  auto* ext = static_cast<Extension*>(device->DeviceExtension);
  std::memset(static_cast<void*>(ext), 0, sizeof *ext);
  ext->physical = physical;
  ext->descriptors = new std::vector<uint8_t>();
  KeInitializeSpinLock(&ext->pipeLock);
  ext->lower = IoAttachDeviceToDeviceStack(device, physical);
  if (!ext->lower) {
    delete ext->descriptors;
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  for (auto& dispatch : driver->MajorFunction) dispatch = Dispatch;
  driver->DriverExtension->AddDevice = AddDevice;
  return STATUS_SUCCESS;
}

}  // namespace

void Register(wdk::Kernel& kernel) {
  for (int c = 0; c < 256; ++c) {
    char id[16];
    std::snprintf(id, sizeof id, "USB\\Class_%02X", c);
    kernel.RegisterDriver(id, kService, Entry);
  }
}

}  // namespace tavrin::kernel_host::usb_function
