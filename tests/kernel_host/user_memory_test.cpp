// A driver reading a buffer of the calling process by the address a request carries, and the data of
// large requests through memory the handle shares with the host.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/shared_memory.h"
#include "win32/devices/kernel_link.h"

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

TEST_F(KernelHostTest, LargeRequestsGoThroughSharedMemoryWhichTheHostTakesOnlySealedAndWhole) {
  tavrin::kernel_host::SaveRootDevices({"root\\probe"});
  tavrin::kernel_host::Options options;
  options.drivers.push_back({"root\\probe", "probe", ProbeEntry});
  StartHost(options);
  HANDLE probe = OpenFirstInterface(GUID_PROBE);
  ASSERT_NE(probe, INVALID_HANDLE_VALUE);
  // Answers of 40,000 and then 300,000 bytes (the memory grows), the driver reading this process meanwhile.
  for (size_t size : {size_t{40000}, size_t{300000}}) {
    std::vector<uint8_t> pattern(size);
    for (size_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(i * 7 + size);
    ProbeRequest request{reinterpret_cast<uintptr_t>(pattern.data()), static_cast<uint32_t>(size)};
    std::vector<uint8_t> out(size);
    Result read = Ioctl(probe, IOCTL_PROBE_READ, &request, sizeof request, out.data(), static_cast<DWORD>(out.size()));
    ASSERT_TRUE(read.ok) << size;
    EXPECT_EQ(read.bytes, size);
    EXPECT_TRUE(out == pattern) << size;
  }
  CloseHandle(probe);

  // What a client that talks to the host by itself can hand over.
  namespace link = tavrin::kernel_link;
  int fd = link::Connect();
  ASSERT_GE(fd, 0);
  link::Message type;
  std::vector<uint8_t> payload;
  ASSERT_TRUE(link::Send(fd, link::Message::Open, link::Writer().U32(GENERIC_READ).String(FirstInterfacePath(GUID_PROBE))));
  ASSERT_TRUE(link::Receive(fd, &type, &payload));
  ASSERT_EQ(type, link::Message::Opened);
  auto offer = [&](int descriptor, uint64_t size) {
    EXPECT_TRUE(link::SendWithDescriptor(fd, link::Message::SharedBuffer, link::Writer().U64(size), descriptor));
    EXPECT_TRUE(link::Receive(fd, &type, &payload));
    EXPECT_EQ(type, link::Message::SharedBufferTaken);
    link::Reader reader(payload);
    return static_cast<int32_t>(reader.U32());
  };
  // Memory it could cut short under the host's mapping is refused, so is a size beyond what it holds.
  int unsealed = memfd_create("unsealed", MFD_CLOEXEC);
  ASSERT_GE(unsealed, 0);
  ASSERT_EQ(ftruncate(unsealed, 65536), 0);
  EXPECT_LT(offer(unsealed, 65536), 0);
  close(unsealed);
  auto sealed = tavrin::base::SharedMemory::Create(65536);
  ASSERT_NE(sealed, nullptr);
  EXPECT_LT(offer(sealed->descriptor(), 65537), 0);
  EXPECT_EQ(offer(sealed->descriptor(), 65536), 0);
  // A request that claims more than the memory holds ends the connection: the file is closed.
  ASSERT_TRUE(link::Send(fd, link::Message::IoctlShared, link::Writer().U32(IOCTL_PROBE_READ).U32(65537).U32(12)));
  ASSERT_TRUE(link::Receive(fd, &type, &payload));
  EXPECT_EQ(type, link::Message::Closed);
  EXPECT_FALSE(link::Receive(fd, &type, &payload));
  close(fd);
}

}  // namespace
}  // namespace kernel_host_test
