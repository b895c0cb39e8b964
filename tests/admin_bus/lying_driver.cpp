#include "lying_driver.h"

#include <cstring>

#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "wdk/irp_helpers.h"

namespace lying_driver {

std::atomic<Mode> g_mode{Mode::AsksForLessThanTheRecord};

namespace {

using tavrin::wdk::CompleteIrp;
using tavrin::wdk::PassIrpDown;

struct Extension {
  PDEVICE_OBJECT lower;
  UNICODE_STRING links[2];
};
Extension* Ext(PDEVICE_OBJECT d) { return static_cast<Extension*>(d->DeviceExtension); }

NTSTATUS Answer(PIRP irp, ULONG inLength) {
  auto* bytes = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
  switch (g_mode.load()) {
    case Mode::AsksForLessThanTheRecord:
      return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 8);
    case Mode::AsksForHugeBuffer:
      return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0x7FFFFFFF);
    case Mode::ShortAnswer:
      std::memset(bytes, 0x11, 10);
      return CompleteIrp(irp, STATUS_SUCCESS, 10);
    case Mode::AsksForMoreOnce:
      if (inLength < 100) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 100);
      std::memset(bytes, 0, 100);
      bytes[0] = 7;  // RequestId 7
      bytes[20] = ARRM_STATUS_SUCCESS;  // a server answer's Status
      bytes[52] = ARRM_STATUS_SUCCESS;  // a device answer's ArRmStatus
      return CompleteIrp(irp, STATUS_SUCCESS, 100);
    default:
      return CompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
  }
}

NTSTATUS DeviceCount(PIRP irp, ULONG inLength) {
  auto* bytes = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
  switch (g_mode.load()) {
    case Mode::CountNotWritten:
      return CompleteIrp(irp, STATUS_SUCCESS, 0);
    case Mode::CountTooLarge:
      pelkobus::Store(bytes, uint32_t{0xFFFFFFFF});
      return CompleteIrp(irp, STATUS_SUCCESS, 4);
    case Mode::ListCountGrows:
      if (inLength < 28) {
        pelkobus::Store(bytes, uint32_t{3});
        return CompleteIrp(irp, STATUS_SUCCESS, 4);
      }
      std::memset(bytes, 0, inLength);
      pelkobus::Store(bytes, uint32_t{50});
      return CompleteIrp(irp, STATUS_SUCCESS, inLength);
    default:
      return CompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
  }
}

NTSTATUS Ioctl(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_BUS_GETSTATUS:
    case IOCTL_BUSENUM_GETSTATUS:
      return Answer(irp, inLength);
    case IOCTL_BUS_GET_DEVCOUNT:
      return DeviceCount(irp, inLength);
    default:
      return CompleteIrp(irp, STATUS_SUCCESS, 0);
  }
}

NTSTATUS Pnp(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = Ext(device);
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      for (auto& link : ext->links) IoSetDeviceInterfaceState(&link, TRUE);
      return CompleteIrp(irp, STATUS_SUCCESS, 0);
    case IRP_MN_REMOVE_DEVICE: {
      for (auto& link : ext->links) {
        IoSetDeviceInterfaceState(&link, FALSE);
        RtlFreeUnicodeString(&link);
      }
      NTSTATUS status = PassIrpDown(ext->lower, irp);
      IoDetachDevice(ext->lower);
      IoDeleteDevice(device);
      return status;
    }
    default:
      return PassIrpDown(ext->lower, irp);
  }
}

NTSTATUS CreateClose(PDEVICE_OBJECT, PIRP irp) { return CompleteIrp(irp, STATUS_SUCCESS, 0); }

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_BUSENUM, nullptr, &Ext(device)->links[0]);
  IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_BUSDRIVER, nullptr, &Ext(device)->links[1]);
  Ext(device)->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_CREATE] = CreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = CreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = CreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Ioctl;
  driver->DriverExtension->AddDevice = AddDevice;
  return STATUS_SUCCESS;
}

}  // namespace lying_driver
