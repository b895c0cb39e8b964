// A driver reading a buffer of the calling process by the address a request carries.
#include <cstring>

#include "host_fixture.h"
#include "kernel_host/root_devices.h"
#include "wdk/kernel.h"
#include "wdk/irp_helpers.h"

namespace kernel_host_test {
namespace {

using tavrin::wdk::CompleteIrp;
using tavrin::wdk::PassIrpDown;

// {0F0F0F0F-1111-2222-3333-444444444444}
DEFINE_GUID(GUID_PROBE, 0x0F0F0F0F, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44);
constexpr DWORD IOCTL_PROBE_READ = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS);

#pragma pack(push, 1)
struct ProbeRequest {
  uint64_t address;
  uint32_t length;
};
#pragma pack(pop)

struct ProbeExtension {
  PDEVICE_OBJECT lower;
  UNICODE_STRING link;
};

// Reads what the request points at, as a driver reads an identifier block through a record's address.
NTSTATUS ProbeIoctl(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ProbeRequest)) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  ProbeRequest request;
  std::memcpy(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
  if (request.length > stack->Parameters.DeviceIoControl.OutputBufferLength) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  NTSTATUS status = tavrin::wdk::ReadRequestorMemory(request.address, irp->AssociatedIrp.SystemBuffer, request.length);
  return CompleteIrp(irp, status, NT_SUCCESS(status) ? request.length : 0);
}

NTSTATUS ProbePnp(PDEVICE_OBJECT device, PIRP irp) {
  auto* ext = static_cast<ProbeExtension*>(device->DeviceExtension);
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  if (minor == IRP_MN_START_DEVICE) return CompleteIrp(irp, IoSetDeviceInterfaceState(&ext->link, TRUE), 0);
  NTSTATUS status = PassIrpDown(ext->lower, irp);
  if (minor == IRP_MN_REMOVE_DEVICE) {
    IoSetDeviceInterfaceState(&ext->link, FALSE);
    RtlFreeUnicodeString(&ext->link);
    IoDetachDevice(ext->lower);
    IoDeleteDevice(device);
  }
  return status;
}

NTSTATUS ProbeCreateClose(PDEVICE_OBJECT, PIRP irp) { return CompleteIrp(irp, STATUS_SUCCESS, 0); }

NTSTATUS ProbeAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(ProbeExtension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  auto* ext = static_cast<ProbeExtension*>(device->DeviceExtension);
  IoRegisterDeviceInterface(pdo, &GUID_PROBE, nullptr, &ext->link);
  ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS ProbeEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_PNP] = ProbePnp;
  driver->MajorFunction[IRP_MJ_CREATE] = ProbeCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = ProbeCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = ProbeCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ProbeIoctl;
  driver->DriverExtension->AddDevice = ProbeAddDevice;
  return STATUS_SUCCESS;
}

TEST_F(KernelHostTest, DriverReadsTheCallersBufferByItsAddressAndBadAddressesFail) {
  tavrin::kernel_host::SaveRootDevices({"root\\probe"});
  tavrin::kernel_host::Options options;
  options.drivers.push_back({"root\\probe", "probe", ProbeEntry});
  StartHost(options);
  HANDLE probe = OpenFirstInterface(GUID_PROBE);
  ASSERT_NE(probe, INVALID_HANDLE_VALUE);

  const char16_t identifiers[] = u"USB\\Vid_5678&Pid_1234\0";  // lives in this process only
  ProbeRequest request{reinterpret_cast<uintptr_t>(identifiers), sizeof identifiers};
  char out[64] = {};
  Result read = Ioctl(probe, IOCTL_PROBE_READ, &request, sizeof request, out, sizeof out);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, sizeof identifiers);
  EXPECT_EQ(std::memcmp(out, identifiers, sizeof identifiers), 0);

  request = ProbeRequest{8, 16};  // nothing is mapped there
  Result bad = Ioctl(probe, IOCTL_PROBE_READ, &request, sizeof request, out, sizeof out);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error, ERROR_NOACCESS);
  CloseHandle(probe);
}

}  // namespace
}  // namespace kernel_host_test
