// See usb_function.h.
#include "kernel_host/usb_function.h"

#include <cstdio>

#include "wdk/irp_helpers.h"

namespace tavrin::kernel_host::usb_function {
namespace {

struct Extension {
  PDEVICE_OBJECT lower;
};

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  auto* ext = static_cast<Extension*>(device->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_CREATE || stack->MajorFunction == IRP_MJ_CLOSE ||
      stack->MajorFunction == IRP_MJ_CLEANUP)
    return wdk::CompleteIrp(irp, STATUS_SUCCESS, 0);
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    PDEVICE_OBJECT lower = ext->lower;
    NTSTATUS status = wdk::PassIrpDown(lower, irp);
    IoDetachDevice(lower);
    IoDeleteDevice(device);
    return status;
  }
  if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_START_DEVICE) {
    NTSTATUS status = wdk::ForwardIrpAndWait(ext->lower, irp);
    return wdk::CompleteIrp(irp, status, irp->IoStatus.Information);
  }
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
  ext->lower = IoAttachDeviceToDeviceStack(device, physical);
  if (!ext->lower) {
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
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
