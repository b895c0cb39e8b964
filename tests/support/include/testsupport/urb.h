// A URB sent down a device stack as a function driver sends it. Header only: the USB bench and fuzzer use
// it too.
#pragma once
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

}  // namespace tavrin::test
