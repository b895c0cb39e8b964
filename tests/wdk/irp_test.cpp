// IRPs through a two-driver stack: stack locations, completion routines, pending requests, buffered I/O.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "wdk/kernel.h"
#include "wdk/wdm.h"

namespace {

// A lower driver whose behaviour each test sets, and an upper one that forwards with a completion routine.
struct Recorder {
  std::vector<std::string> calls;
  NTSTATUS lowerStatus = STATUS_SUCCESS;
  ULONG_PTR lowerInformation = 0;
  bool lowerPends = false;
  NTSTATUS routineResult = STATUS_SUCCESS;
  PDEVICE_OBJECT routineDevice = nullptr;
  bool routineSawPending = false;
  PIRP heldIrp = nullptr;
};
Recorder* g_rec = nullptr;

NTSTATUS LowerDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  g_rec->calls.push_back("lower:" + std::to_string(stack->MajorFunction));
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL && irp->AssociatedIrp.SystemBuffer) {
    auto* bytes = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    for (ULONG i = 0; i < stack->Parameters.DeviceIoControl.OutputBufferLength; ++i) bytes[i] = UCHAR(0xA0 + i);
  }
  irp->IoStatus.Status = g_rec->lowerStatus;
  irp->IoStatus.Information = g_rec->lowerInformation;
  if (g_rec->lowerPends) {
    IoMarkIrpPending(irp);
    g_rec->heldIrp = irp;
    return STATUS_PENDING;
  }
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return g_rec->lowerStatus;
}

NTSTATUS UpperCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  g_rec->calls.push_back("routine:" + std::string(static_cast<const char*>(context)));
  g_rec->routineDevice = device;
  g_rec->routineSawPending = irp->PendingReturned;
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  return g_rec->routineResult;
}

PDEVICE_OBJECT g_lower = nullptr;

NTSTATUS UpperDispatch(PDEVICE_OBJECT, PIRP irp) {
  g_rec->calls.push_back("upper");
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, UpperCompletion, const_cast<char*>("upper"), TRUE, TRUE, TRUE);
  return IoCallDriver(g_lower, irp);
}

class IrpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_rec = &rec;
    for (auto& d : lowerDriver.MajorFunction) d = LowerDispatch;
    for (auto& d : upperDriver.MajorFunction) d = UpperDispatch;
    ASSERT_EQ(IoCreateDevice(&lowerDriver, 16, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(&upperDriver, 16, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper), STATUS_SUCCESS);
    g_lower = IoAttachDeviceToDeviceStack(upper, lower);
    ASSERT_EQ(g_lower, lower);
  }
  void TearDown() override {
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    IoDeleteDevice(lower);
    EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(PoolTag("Irp ")), 0u);
    EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(PoolTag("IoBf")), 0u);
    g_rec = nullptr;
  }

  Recorder rec;
  DRIVER_OBJECT lowerDriver{}, upperDriver{};
  PDEVICE_OBJECT lower = nullptr, upper = nullptr;
};

TEST_F(IrpTest, StackWiringAndSynchronousCompletionRunsTheUpperRoutineWithItsDevice) {
  EXPECT_EQ(upper->StackSize, 2);
  EXPECT_EQ(IoGetAttachedDevice(lower), upper);
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  UCHAR in[4] = {1, 2, 3, 4}, out[8] = {};
  rec.lowerInformation = 100;  // more than the output buffer: only 8 bytes may come back
  PIRP irp = IoBuildDeviceIoControlRequest(CTL_CODE(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_ANY_ACCESS), upper, in,
                                           sizeof in, out, sizeof out, FALSE, &done, &iosb);
  ASSERT_NE(irp, nullptr);
  EXPECT_EQ(IoCallDriver(upper, irp), STATUS_SUCCESS);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"upper", "lower:14", "routine:upper"}));
  EXPECT_EQ(rec.routineDevice, upper);
  EXPECT_FALSE(rec.routineSawPending);
  EXPECT_EQ(KeReadStateEvent(&done), 1);
  EXPECT_EQ(iosb.Information, 100u);
  EXPECT_EQ(out[0], 0xA0);
  EXPECT_EQ(out[7], 0xA7);
}

TEST_F(IrpTest, ErrorStatusCopiesNoOutputAndRoutinesFollowTheirFlags) {
  rec.lowerStatus = STATUS_BUFFER_TOO_SMALL;
  rec.lowerInformation = 64;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  UCHAR out[8] = {};
  PIRP irp = IoBuildDeviceIoControlRequest(CTL_CODE(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_ANY_ACCESS), lower,
                                           nullptr, 0, out, sizeof out, FALSE, &done, &iosb);
  // A routine set by the originator for success only is skipped on an error; its device would be null.
  IoSetCompletionRoutine(irp, UpperCompletion, const_cast<char*>("originator"), TRUE, FALSE, FALSE);
  EXPECT_EQ(IoCallDriver(lower, irp), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"lower:14"}));
  EXPECT_EQ(iosb.Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(iosb.Information, 64u);
  EXPECT_EQ(out[0], 0);
}

TEST_F(IrpTest, MoreProcessingRequiredHaltsCompletionUntilTheOwnerCompletesAgain) {
  rec.routineResult = STATUS_MORE_PROCESSING_REQUIRED;
  PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_PNP;
  IoSetCompletionRoutine(irp, UpperCompletion, const_cast<char*>("originator"), TRUE, TRUE, TRUE);
  IoCallDriver(upper, irp);
  // The upper routine halted the walk: the originator's routine has not run yet.
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"upper", "lower:27", "routine:upper"}));
  rec.routineResult = STATUS_MORE_PROCESSING_REQUIRED;
  IoCompleteRequest(irp, IO_NO_INCREMENT);  // the upper driver finishes its request
  EXPECT_EQ(rec.calls.back(), "routine:originator");
  EXPECT_EQ(rec.routineDevice, nullptr);  // the originator has no device of its own
  IoFreeIrp(irp);
}

TEST_F(IrpTest, PendingRequestCompletedOnAnotherThreadSetsTheEventAndPropagatesPending) {
  rec.lowerPends = true;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  UCHAR out[2] = {};
  PIRP irp = IoBuildDeviceIoControlRequest(CTL_CODE(FILE_DEVICE_UNKNOWN, 2, METHOD_BUFFERED, FILE_ANY_ACCESS), upper,
                                           nullptr, 0, out, sizeof out, FALSE, &done, &iosb);
  EXPECT_EQ(IoCallDriver(upper, irp), STATUS_PENDING);
  EXPECT_EQ(KeReadStateEvent(&done), 0);
  std::thread completer([&] {
    rec.heldIrp->IoStatus.Information = 2;
    IoCompleteRequest(rec.heldIrp, IO_NO_INCREMENT);
  });
  EXPECT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  completer.join();
  EXPECT_TRUE(rec.routineSawPending);
  EXPECT_EQ(iosb.Information, 2u);
  EXPECT_EQ(out[1], 0xA1);
}

NTSTATUS CompleteAtOnce(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

TEST(IrpDeathTest, CompletingARequestTwiceStopsTheKernel) {
  EXPECT_DEATH(
      {
        DRIVER_OBJECT driver{};
        for (auto& d : driver.MajorFunction) d = CompleteAtOnce;
        PDEVICE_OBJECT device = nullptr;
        IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        PIRP irp = IoAllocateIrp(1, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
        IoCallDriver(device, irp);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
      },
      "STOP: 0x00000044");
}

}  // namespace
