// See usb_function.h.
#include "kernel_host/usb_function.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "kernel_host/usb_function_records.h"
#include "wdk/irp_helpers.h"
#include "wdk/usb.h"

namespace tavrin::kernel_host::usb_function {
namespace {

constexpr ULONG kMaxPipes = 32;
constexpr LONGLONG kStartReadTimeout = -50'000'000;  // 5 s: a start never waits for ever on a silent server

struct Extension {
  PDEVICE_OBJECT lower;
  PDEVICE_OBJECT physical;
  UNICODE_STRING interfaceName;
  bool interfaceOn;
  std::vector<uint8_t>* descriptors;  // device descriptor, then the selected configuration
  struct Pipe {
    UCHAR address;
    USBD_PIPE_HANDLE handle;
  } pipes[kMaxPipes];
  ULONG pipeCount;
};

// Sends a URB down and waits for it; the IRP's status. With a time-out a request still running is cancelled.
NTSTATUS SubmitUrb(Extension* ext, void* urb, bool timed = false) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, ext->lower, nullptr, 0, nullptr, 0, TRUE,
                                           &done, &iosb);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
  if (IoCallDriver(ext->lower, irp) == STATUS_PENDING) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = kStartReadTimeout;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, timed ? &timeout : nullptr) == STATUS_TIMEOUT) {
      IoCancelIrp(irp);
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
  }
  return iosb.Status;
}

NTSTATUS ReadDescriptor(Extension* ext, UCHAR type, std::vector<uint8_t>& out, ULONG length) {
  out.assign(length, 0);
  URB urb{};
  auto& d = urb.UrbControlDescriptorRequest;
  d.Hdr = {sizeof d, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, 0, nullptr, 0};
  d.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  d.T.TransferBuffer = out.data();
  d.T.TransferBufferLength = length;
  d.DescriptorType = type;
  NTSTATUS status = SubmitUrb(ext, &urb, true);
  out.resize(std::min<ULONG>(d.T.TransferBufferLength, length));
  return status;
}

// Reads the descriptors and selects the first configuration with setting 0 of each of its interfaces.
NTSTATUS Configure(Extension* ext) {
  std::vector<uint8_t> device, head, config;
  NTSTATUS status = ReadDescriptor(ext, 1, device, 18);
  if (!NT_SUCCESS(status) || device.size() < 18) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  status = ReadDescriptor(ext, 2, head, 9);
  if (!NT_SUCCESS(status) || head.size() < 9) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  ULONG total = head[2] | head[3] << 8;
  status = ReadDescriptor(ext, 2, config, total);
  if (!NT_SUCCESS(status) || config.size() < 9) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  std::vector<UCHAR> interfaces;
  for (size_t at = config[0]; at + 2 <= config.size() && config[at] >= 2; at += config[at])
    if (config[at + 1] == 4 && at + 4 <= config.size() && config[at + 3] == 0) interfaces.push_back(config[at + 2]);
  const USHORT entry = InterfaceInformationSize(kMaxPipes);
  std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + entry * interfaces.size());
  auto* select = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
  select->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
  select->ConfigurationDescriptor = config.data();
  for (size_t i = 0; i < interfaces.size(); ++i) {
    auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(memory.data() + offsetof(URB_SELECT_CONFIGURATION, Interface) + i * entry);
    info->Length = entry;
    info->InterfaceNumber = interfaces[i];
  }
  status = SubmitUrb(ext, select, true);
  if (!NT_SUCCESS(status)) return status;
  ext->pipeCount = 0;
  for (size_t i = 0; i < interfaces.size(); ++i) {
    auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(memory.data() + offsetof(URB_SELECT_CONFIGURATION, Interface) + i * entry);
    for (ULONG p = 0; p < info->NumberOfPipes && p < kMaxPipes && ext->pipeCount < kMaxPipes; ++p)
      ext->pipes[ext->pipeCount++] = {info->Pipes[p].EndpointAddress, info->Pipes[p].PipeHandle};
  }
  *ext->descriptors = device;
  ext->descriptors->insert(ext->descriptors->end(), config.begin(), config.end());
  return STATUS_SUCCESS;
}

USBD_PIPE_HANDLE PipeOf(Extension* ext, UCHAR address) {
  for (ULONG i = 0; i < ext->pipeCount; ++i)
    if (ext->pipes[i].address == address) return ext->pipes[i].handle;
  return nullptr;
}

// One record of the device interface.
NTSTATUS Control(Extension* ext, PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  if (code == IOCTL_USBFUNC_GET_DESCRIPTORS) {
    const auto& d = *ext->descriptors;
    if (outLength < d.size()) return wdk::CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
    std::memcpy(buffer, d.data(), d.size());
    return wdk::CompleteIrp(irp, STATUS_SUCCESS, d.size());
  }
  if (code != IOCTL_USBFUNC_TRANSFER && code != IOCTL_USBFUNC_RESET_PIPE && code != IOCTL_USBFUNC_ABORT_PIPE)
    return wdk::CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  if (inLength < sizeof(USBFUNC_TRANSFER) || outLength < sizeof(USBFUNC_RESULT))
    return wdk::CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  USBFUNC_TRANSFER request;
  std::memcpy(&request, buffer, sizeof request);
  USBFUNC_RESULT result{};
  bool in = request.Endpoint ? (request.Endpoint & 0x80) : (request.Setup[0] & 0x80);
  // Data of an OUT request is in the input; an IN request reads into the output behind the result.
  if (code == IOCTL_USBFUNC_TRANSFER &&
      (in ? request.Length > outLength - sizeof result : request.Length > inLength - sizeof request))
    return wdk::CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  std::vector<uint8_t> data(request.Length);
  if (!in && request.Length) std::memcpy(data.data(), buffer + sizeof request, request.Length);
  URB urb{};
  NTSTATUS status;
  if (code != IOCTL_USBFUNC_TRANSFER) {
    urb.UrbPipeRequest.Hdr = {sizeof(URB_PIPE_REQUEST),
                              code == IOCTL_USBFUNC_RESET_PIPE ? URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL
                                                               : URB_FUNCTION_ABORT_PIPE,
                              0, nullptr, 0};
    urb.UrbPipeRequest.PipeHandle = PipeOf(ext, request.Endpoint);
    status = SubmitUrb(ext, &urb);
  } else if (request.Endpoint == 0) {
    auto& c = urb.UrbControlTransfer;
    c.Hdr = {sizeof c, URB_FUNCTION_CONTROL_TRANSFER, 0, nullptr, 0};
    c.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    c.T.TransferBuffer = data.data();
    c.T.TransferBufferLength = request.Length;
    std::memcpy(c.SetupPacket, request.Setup, 8);
    status = SubmitUrb(ext, &urb);
    result.Actual = c.T.TransferBufferLength;
  } else {
    auto& b = urb.UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = PipeOf(ext, request.Endpoint);
    b.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    b.T.TransferBuffer = data.data();
    b.T.TransferBufferLength = request.Length;
    status = SubmitUrb(ext, &urb);
    result.Actual = b.T.TransferBufferLength;
  }
  result.IrpStatus = status;
  result.UrbStatus = urb.UrbHeader.Status;
  if (result.Actual > request.Length) result.Actual = request.Length;
  std::memcpy(buffer, &result, sizeof result);
  ULONG_PTR information = sizeof result;
  if (in && NT_SUCCESS(status)) {
    if (result.Actual) std::memcpy(buffer + sizeof result, data.data(), result.Actual);
    information += result.Actual;
  }
  // The transfer's own outcome is in the result record; the request itself succeeded.
  return wdk::CompleteIrp(irp, STATUS_SUCCESS, information);
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
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return Control(ext, irp, stack);
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
