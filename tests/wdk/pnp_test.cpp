// Plug and play and user I/O with a small root-enumerated driver: start, device interface notices,
// exclusive opens, METHOD_BUFFERED requests, their cancel when the file's process goes, and teardown.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "wdk/kernel.h"
#include "wdk/irp_helpers.h"
#include "wdk/ntddk.h"
#include "wdk/wdm.h"

namespace {

using tavrin::wdk::CompleteIrp;

// {11111111-2222-3333-4444-555555555555}
DEFINE_GUID(GUID_TOY, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);

struct ToyExtension {
  PDEVICE_OBJECT lower;
  UNICODE_STRING link;
  int creates, closes;
};
ToyExtension* Toy(PDEVICE_OBJECT d) { return static_cast<ToyExtension*>(d->DeviceExtension); }

NTSTATUS ToyPnp(PDEVICE_OBJECT device, PIRP irp) {
  ToyExtension* ext = Toy(device);
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return CompleteIrp(irp, IoSetDeviceInterfaceState(&ext->link, TRUE), 0);
    case IRP_MN_REMOVE_DEVICE: {
      IoSetDeviceInterfaceState(&ext->link, FALSE);
      RtlFreeUnicodeString(&ext->link);
      IoSkipCurrentIrpStackLocation(irp);
      NTSTATUS status = IoCallDriver(ext->lower, irp);
      IoDetachDevice(ext->lower);
      IoDeleteDevice(device);
      return status;
    }
    default:
      IoSkipCurrentIrpStackLocation(irp);
      return IoCallDriver(ext->lower, irp);
  }
}

NTSTATUS ToyCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
  if (major == IRP_MJ_CREATE) ++Toy(device)->creates;
  if (major == IRP_MJ_CLOSE) ++Toy(device)->closes;
  return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

constexpr ULONG kToyEcho = CTL_CODE(FILE_DEVICE_UNKNOWN, 5, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kToyWait = CTL_CODE(FILE_DEVICE_UNKNOWN, 6, METHOD_BUFFERED, FILE_ANY_ACCESS);

// kToyWait: held until cancelled. Arrivals are counted.
KEVENT g_waitArrived;
int g_waitCount = 0;

void ToyCancel(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  CompleteIrp(irp, STATUS_CANCELLED, 0);
}

// Echoes the input reversed, and claims more bytes than the output holds.
NTSTATUS ToyIoctl(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.IoControlCode == kToyWait) {
    ++g_waitCount;
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, ToyCancel);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) CompleteIrp(irp, STATUS_CANCELLED, 0);
    KeSetEvent(&g_waitArrived, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
  }
  ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  auto* bytes = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  for (ULONG i = 0; i < in / 2; ++i) std::swap(bytes[i], bytes[in - 1 - i]);
  EXPECT_EQ(irp->RequestorMode, UserMode);
  return CompleteIrp(irp, STATUS_SUCCESS, 1000);
}

NTSTATUS ToyAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(ToyExtension), nullptr, FILE_DEVICE_UNKNOWN, 0, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  status = IoRegisterDeviceInterface(pdo, &GUID_TOY, nullptr, &Toy(device)->link);
  EXPECT_EQ(status, STATUS_SUCCESS);
  Toy(device)->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS ToyEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  EXPECT_EQ(tavrin::wdk::Narrow(registryPath->Buffer, registryPath->Length / 2),
            "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\toy");
  driver->MajorFunction[IRP_MJ_PNP] = ToyPnp;
  driver->MajorFunction[IRP_MJ_CREATE] = ToyCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = ToyCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = ToyCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ToyIoctl;
  driver->DriverExtension->AddDevice = ToyAddDevice;
  return STATUS_SUCCESS;
}

struct Notices : tavrin::wdk::InterfaceListener {
  void OnInterfaceChange(const GUID& cls, const std::string& path, bool arrival) override {
    std::lock_guard guard(lock);
    seen.push_back((arrival ? "+" : "-") + path);
    EXPECT_TRUE(cls == GUID_TOY);
  }
  std::mutex lock;
  std::vector<std::string> seen;
};

TEST(PnpTest, RootDeviceStartsItsDriverAndServesUserRequestsUntilTeardown) {
  const std::string path = "\\\\?\\ROOT#TOY#0000#{11111111-2222-3333-4444-555555555555}";
  Notices notices;
  {
    tavrin::wdk::Kernel kernel;
    kernel.RegisterDriver("ROOT\\Toy", "toy", ToyEntry);
    kernel.AddInterfaceListener(&notices);
    ASSERT_EQ(kernel.CreateRootDevice("root\\toy"), STATUS_SUCCESS);
    EXPECT_EQ(notices.seen, std::vector<std::string>{"+" + path});
    auto nodes = kernel.DeviceNodes();
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].instanceId, "ROOT\\TOY\\0000");
    EXPECT_EQ(nodes[0].service, "toy");
    EXPECT_TRUE(nodes[0].started);
    auto interfaces = kernel.Interfaces(GUID_TOY, true);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].path, path);

    PFILE_OBJECT file = nullptr, second = nullptr;
    EXPECT_EQ(kernel.OpenFile("\\\\?\\root#toy#0000#{11111111-2222-3333-4444-555555555555}", 0, &file), STATUS_SUCCESS);
    EXPECT_EQ(kernel.OpenFile(path, 0, &second), STATUS_ACCESS_DENIED);  // an exclusive device
    EXPECT_EQ(kernel.OpenFile(path + "x", 0, &second), STATUS_OBJECT_NAME_NOT_FOUND);

    UCHAR in[3] = {1, 2, 3}, out[2] = {};
    ULONG_PTR information = 0;
    EXPECT_EQ(kernel.DeviceControl(file, kToyEcho, in, 3,
                                   out, 2, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 1000u);  // what the driver claimed; only two bytes were copied
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(kernel.DeviceControl(file, CTL_CODE(FILE_DEVICE_UNKNOWN, 5, METHOD_NEITHER, FILE_ANY_ACCESS), in, 3,
                                   out, 2, &information),
              STATUS_NOT_SUPPORTED);
    kernel.CloseFile(file);
    EXPECT_EQ(kernel.OpenFile(path, 0, &file), STATUS_SUCCESS);  // free again after the close

    // A request held in the driver ends when the file's process goes; nothing later reaches the driver.
    KeInitializeEvent(&g_waitArrived, NotificationEvent, FALSE);
    NTSTATUS held = STATUS_PENDING;
    std::thread caller([&] {
      ULONG_PTR ignored = 0;
      held = kernel.DeviceControl(file, kToyWait, nullptr, 0, nullptr, 0, &ignored);
    });
    KeWaitForSingleObject(&g_waitArrived, Executive, KernelMode, FALSE, nullptr);
    kernel.CancelFileIo(file);
    caller.join();
    EXPECT_EQ(held, STATUS_CANCELLED);
    EXPECT_EQ(kernel.DeviceControl(file, kToyWait, nullptr, 0, nullptr, 0, &information), STATUS_CANCELLED);
    EXPECT_EQ(g_waitCount, 1);
    kernel.CloseFile(file);
    kernel.RemoveInterfaceListener(&notices);
    kernel.AddInterfaceListener(&notices);
  }
  EXPECT_EQ(notices.seen, (std::vector<std::string>{"+" + path, "-" + path}));
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(), 0u);
}

}  // namespace
