// A URB sent down a device stack as a function driver sends it. Header only: the USB bench and fuzzer use
// it too.
#pragma once
#include <vector>

#include "wdk/kernel.h"
#include "wdk/usb.h"

namespace tavrin::test {

// Sends the URB down the stack and waits for its completion; the IRP's status.
inline NTSTATUS SubmitUrbAndWait(PDEVICE_OBJECT stack, void* urb) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack, nullptr, 0, nullptr, 0, TRUE, &done,
                                           &iosb);
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
  if (IoCallDriver(stack, irp) == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  return iosb.Status;
}

// Reads up to `length` bytes of the device's descriptor of `type` (1 the device's, 2 the configuration
// with all it holds) into `out`, which keeps what came; the IRP's status.
inline NTSTATUS GetDescriptorAndWait(PDEVICE_OBJECT stack, UCHAR type, std::vector<uint8_t>& out, ULONG length) {
  out.assign(length, 0);
  URB urb{};
  auto& d = urb.UrbControlDescriptorRequest;
  d.Hdr = {sizeof d, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, 0, nullptr, 0};
  d.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  d.T.TransferBuffer = out.data();
  d.T.TransferBufferLength = length;
  d.DescriptorType = type;
  NTSTATUS status = SubmitUrbAndWait(stack, &urb);
  out.resize(d.T.TransferBufferLength);
  return status;
}

}  // namespace tavrin::test
