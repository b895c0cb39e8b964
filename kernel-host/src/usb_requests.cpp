// See usb_requests.h.
#include "usb_requests.h"

#include <algorithm>

#include "wdk/ntddk.h"

namespace tavrin::kernel_host::usb_requests {
namespace {

NTSTATUS HoldIrp(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(&static_cast<Submission*>(context)->completed, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ReadDescriptor(PDEVICE_OBJECT lower, UCHAR type, std::vector<uint8_t>& out, ULONG length) {
  out.assign(length, 0);
  URB urb{};
  auto& d = urb.UrbControlDescriptorRequest;
  d.Hdr = {sizeof d, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, 0, nullptr, 0};
  d.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  d.T.TransferBuffer = out.data();
  d.T.TransferBufferLength = length;
  d.DescriptorType = type;
  NTSTATUS status = SubmitUrb(lower, &urb, nullptr, kStartTimeout);
  out.resize(std::min<ULONG>(d.T.TransferBufferLength, length));
  return status;
}

}  // namespace

bool Begin(PDEVICE_OBJECT lower, Submission* s, void* urb) {
  KeInitializeEvent(&s->completed, NotificationEvent, FALSE);
  s->iosb = {};
  s->irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, lower, nullptr, 0, nullptr, 0, TRUE, nullptr,
                                         &s->iosb);
  if (!s->irp) return false;
  IoGetNextIrpStackLocation(s->irp)->Parameters.Others.Argument1 = urb;
  IoSetCompletionRoutine(s->irp, HoldIrp, s, TRUE, TRUE, TRUE);
  IoCallDriver(lower, s->irp);
  return true;
}

bool WaitCompleted(Submission* s, PKEVENT cancelled, LARGE_INTEGER* timeout) {
  PVOID objects[2] = {&s->completed, cancelled};
  return KeWaitForMultipleObjects(cancelled ? 2 : 1, objects, WaitAny, Executive, KernelMode, FALSE, timeout,
                                  nullptr) == STATUS_WAIT_0;
}

NTSTATUS Finish(Submission* s) {
  KeWaitForSingleObject(&s->completed, Executive, KernelMode, FALSE, nullptr);
  IoCompleteRequest(s->irp, IO_NO_INCREMENT);  // the I/O manager's part: the status out, the IRP freed
  s->irp = nullptr;
  return s->iosb.Status;
}

NTSTATUS SubmitUrb(PDEVICE_OBJECT lower, void* urb, PKEVENT cancelled, LONGLONG timeout) {
  Submission s;
  if (!Begin(lower, &s, urb)) return STATUS_INSUFFICIENT_RESOURCES;
  LARGE_INTEGER limit;
  limit.QuadPart = timeout;
  if (!WaitCompleted(&s, cancelled, timeout ? &limit : nullptr)) IoCancelIrp(s.irp);
  return Finish(&s);
}

NTSTATUS ReadDescriptors(PDEVICE_OBJECT lower, std::vector<uint8_t>* device, std::vector<uint8_t>* config) {
  std::vector<uint8_t> head;
  NTSTATUS status = ReadDescriptor(lower, 1, *device, 18);
  if (!NT_SUCCESS(status) || device->size() < 18) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  status = ReadDescriptor(lower, 2, head, 9);
  if (!NT_SUCCESS(status) || head.size() < 9) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  status = ReadDescriptor(lower, 2, *config, head[2] | head[3] << 8);
  if (!NT_SUCCESS(status) || config->size() < 9) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  return STATUS_SUCCESS;
}

NTSTATUS Selection::Select(PDEVICE_OBJECT lower, const std::vector<uint8_t>& config, ULONG maxPipes) {
  std::vector<UCHAR> interfaces;
  ForEachDescriptor(config, [&](size_t at) {
    if (config[at + 1] == 4 && config[at] >= 4 && config[at + 3] == 0) interfaces.push_back(config[at + 2]);
  });
  count_ = interfaces.size();
  entrySize_ = InterfaceInformationSize(maxPipes);
  memory_.assign(kFirstEntry + entrySize_ * count_, 0);
  auto* select = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory_.data());
  select->Hdr = {static_cast<USHORT>(memory_.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
  select->ConfigurationDescriptor = const_cast<uint8_t*>(config.data());
  for (size_t i = 0; i < count_; ++i) {
    entry(i)->Length = entrySize_;
    entry(i)->InterfaceNumber = interfaces[i];
  }
  NTSTATUS status = SubmitUrb(lower, select, nullptr, kStartTimeout);
  select->ConfigurationDescriptor = nullptr;  // `config` is the caller's
  return status;
}

USBD_CONFIGURATION_HANDLE Selection::handle() const {
  return reinterpret_cast<const URB_SELECT_CONFIGURATION*>(memory_.data())->ConfigurationHandle;
}

}  // namespace tavrin::kernel_host::usb_requests
