// Plug-in and unplug requests as the request builder writes them into the device request table.
#include <cstring>
#include <string>

#include "presence_fixture.h"

namespace presence_test {
namespace {

// The UTF-16LE strings of a list that starts at `at`, up to its empty string; `at` moves past it.
std::vector<std::string> ReadList(const uint8_t* block, size_t size, size_t& at) {
  std::vector<std::string> strings;
  std::string current;
  for (; at + 1 < size; at += 2) {
    const uint16_t ch = static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
    if (ch != 0) {
      current += static_cast<char>(ch);
    } else if (current.empty()) {
      at += 2;
      break;
    } else {
      strings.push_back(current);
      current.clear();
    }
  }
  return strings;
}

struct Ids {
  std::vector<std::string> hardware;
  std::vector<std::string> compatible;
};

Ids ReadIds(const DEVICE_ARRIVALREMOVAL_INFO& slot) {
  const auto* block = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(slot.Ids));
  size_t at = 0;
  Ids ids;
  ids.hardware = ReadList(block, slot.TotalSize, at);
  EXPECT_EQ(at, +slot.HardwareIdSize);
  ids.compatible = ReadList(block, slot.TotalSize, at);
  EXPECT_EQ(at, +slot.TotalSize);
  return ids;
}

TEST_F(DocUnitTest, ASimpleDeviceGetsItsIdentifiersInA252ByteBlock) {
  POSITION position = AddDevice(2, DevInfo(9, 3, 0x1A2B, 0x3C4D, 0x0102), DEVICE_STATE_FREE);
  ResetEvent(doc_->DeviceRequests().Event());
  EnterCriticalSection(&doc_->m_csDeviceList);
  ASSERT_TRUE(doc_->FillAndSendReqToBusDriver(position, TRUE));
  LeaveCriticalSection(&doc_->m_csDeviceList);
  EXPECT_EQ(WaitForSingleObject(doc_->DeviceRequests().Event(), 0), WAIT_OBJECT_0);

  std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued = QueuedDeviceRequests();
  ASSERT_EQ(queued.size(), 1u);
  const DEVICE_ARRIVALREMOVAL_INFO& slot = queued[0];
  EXPECT_EQ(+slot.RequestId, 1u);
  EXPECT_EQ(+slot.Taken, 0);
  EXPECT_EQ(+slot.Length, 64u);
  EXPECT_EQ(+slot.Arrival, 1);
  EXPECT_EQ(+slot.DeviceInfoLength, 42u);
  EXPECT_EQ(+slot.AutoConnect, 0);
  EXPECT_EQ(+slot.PortNum, 9);
  EXPECT_EQ(+slot.Class, 3);
  EXPECT_EQ(+slot.SubClass, 1);
  EXPECT_EQ(+slot.Protocol, 2);
  EXPECT_EQ(+slot.Rev, 0x0102);
  EXPECT_EQ(+slot.Pid, 0x3C4D);
  EXPECT_EQ(+slot.Vid, 0x1A2B);
  EXPECT_EQ(+slot.ServerId, 0x5A000002u);
  EXPECT_EQ(+slot.ServerIp, NetIp(2));
  EXPECT_EQ(+slot.DataPort, htons(3240));
  EXPECT_EQ(+slot.ArRmStatus, ARRM_STATUS_PENDING);
  EXPECT_EQ(+slot.UserHandle, 0u);
  EXPECT_EQ(+slot.HardwareIdSize, 108u);
  EXPECT_EQ(+slot.TotalSize, 252u);
  Ids ids = ReadIds(slot);
  EXPECT_EQ(ids.hardware, (std::vector<std::string>{"USB\\VID_1A2B&PID_3C4D&REV_0102", "USB\\VID_1A2B&PID_3C4D"}));
  EXPECT_EQ(ids.compatible,
            (std::vector<std::string>{"USB\\Class_03&SubClass_01&Prot_02", "USB\\Class_03&SubClass_01", "USB\\Class_03"}));
}

TEST_F(DocUnitTest, ACompositeDeviceGetsGenericCompatibleIdentifiersInA298ByteBlockAndKeepsItsClass) {
  POSITION position = AddDevice(2, DevInfo(1, 3, 0xABCD, 0x00EF, 0x0A0B, 0, 3), DEVICE_STATE_CONNECTED);
  EnterCriticalSection(&doc_->m_csDeviceList);
  ASSERT_TRUE(doc_->FillAndSendReqToBusDriver(position, FALSE));
  LeaveCriticalSection(&doc_->m_csDeviceList);
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued = QueuedDeviceRequests();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(+queued[0].Arrival, 0);
  EXPECT_EQ(+queued[0].Class, 3);
  EXPECT_EQ(+queued[0].SubClass, 1);
  EXPECT_EQ(+queued[0].Protocol, 2);
  EXPECT_EQ(+queued[0].HardwareIdSize, 108u);
  EXPECT_EQ(+queued[0].TotalSize, 298u);
  Ids ids = ReadIds(queued[0]);
  EXPECT_EQ(ids.hardware, (std::vector<std::string>{"USB\\VID_ABCD&PID_00EF&REV_0A0B", "USB\\VID_ABCD&PID_00EF"}));
  EXPECT_EQ(ids.compatible, (std::vector<std::string>{"usb\\devclass_00&subclass_00&prot_00",
                                                      "usb\\devclass_00&subClass_00", "usb\\devclass_00",
                                                      "usb\\composite"}));
}

TEST_F(DocUnitTest, WithEverySlotBusyNoRequestIsQueued) {
  POSITION position = AddDevice(2, DevInfo(1, 3, 1, 2, 3), DEVICE_STATE_FREE);
  FillAllDeviceSlots();
  EnterCriticalSection(&doc_->m_csDeviceList);
  EXPECT_FALSE(doc_->FillAndSendReqToBusDriver(position, TRUE));
  LeaveCriticalSection(&doc_->m_csDeviceList);
  for (int index = 0; index < kRequestTableSlots; ++index) {
    doc_->DeviceRequests().Edit(index, [](DEVICE_ARRIVALREMOVAL_INFO& slot) {
      EXPECT_EQ(+slot.Ids, 0u);
      slot = {};
    });
  }
}

TEST_F(DocUnitTest, APrinterSetToAutoConnectIsMarkedSoInItsRequest) {
  POSITION position = AddDevice(2, DevInfo(4, 7, 0x03F0, 0x0517, 0x0100), DEVICE_STATE_FREE);
  DeviceEntry device = Device(2, 4);
  InstallWindowsPrinter("Office Laser", device, 1);
  EnterCriticalSection(&doc_->m_csDeviceList);
  ASSERT_TRUE(doc_->FillAndSendReqToBusDriver(position, TRUE));
  LeaveCriticalSection(&doc_->m_csDeviceList);
  EXPECT_EQ(+QueuedDeviceRequests().at(0).AutoConnect, 1);
}

}  // namespace
}  // namespace presence_test
