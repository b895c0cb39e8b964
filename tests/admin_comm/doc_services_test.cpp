// The device-list services the product-string thread and the panes use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "admin/comm/DocServices.h"

namespace {

DeviceEntry MakeDevice(const char* ip, WORD port, DWORD state = DEVICE_STATE_FREE) {
  DeviceEntry device{};
  strcpy(device.ServerIp, ip);
  device.PortNum = port;
  device.Vid = 0x03F0;
  device.Pid = 0x1234;
  device.Rev = 0x0100;
  device.State = state;
  device.RequestStatus = 1;
  return device;
}

class DocServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeCriticalSection(&lock_); }
  void TearDown() override {
    for (POSITION position = devices_.GetHeadPosition(); position != nullptr;) {
      free(devices_.GetNext(position).ProductString);
    }
    DeleteCriticalSection(&lock_);
  }
  DeviceEntry& At(int index) { return devices_.GetAt(devices_.FindIndex(index)); }

  DeviceList devices_;
  CRITICAL_SECTION lock_;
};

zarnet::iproduct_string ProductString(const std::string& text, uint32_t length) {
  zarnet::iproduct_string value{};
  value.length = length;
  memcpy(value.text, text.data(), std::min(text.size(), sizeof(value.text)));
  return value;
}

TEST_F(DocServicesTest, ProductStringIsStoredOnlyWhileTheDeviceWaitsForIt) {
  devices_.AddTail(MakeDevice("127.0.0.2", 1));
  devices_.AddTail(MakeDevice("127.0.0.2", 2));
  EXPECT_FALSE(SetProductStringState(devices_, &lock_, "127.0.0.3", 1, 1));
  auto text = ProductString("Printer", 7);
  // Not waiting (state 0): found, but nothing changes.
  EXPECT_TRUE(StoreProductString(devices_, &lock_, "127.0.0.2", 2, &text));
  EXPECT_EQ(At(1).ProductString, nullptr);
  EXPECT_EQ(At(1).ProductStringState, 0u);

  ASSERT_TRUE(SetProductStringState(devices_, &lock_, "127.0.0.2", 2, 1));
  EXPECT_TRUE(StoreProductString(devices_, &lock_, "127.0.0.2", 2, &text));
  EXPECT_EQ(At(1).ProductStringState, 2u);
  EXPECT_EQ(At(1).ProductStringLength, 7u);
  ASSERT_NE(At(1).ProductString, nullptr);
  EXPECT_STREQ(At(1).ProductString, "Printer");
  EXPECT_EQ(At(0).ProductString, nullptr);  // the other port is untouched

  EXPECT_FALSE(StoreProductString(devices_, &lock_, "127.0.0.9", 2, &text));
}

TEST_F(DocServicesTest, ProductStringLengthIsBoundedAndEmptyStringsStoreNothing) {
  devices_.AddTail(MakeDevice("127.0.0.2", 1));
  ASSERT_TRUE(SetProductStringState(devices_, &lock_, "127.0.0.2", 1, 1));
  // A length word beyond the 255 bytes the record can carry takes only those 255.
  auto huge = ProductString(std::string(255, 'p'), 100000);
  EXPECT_TRUE(StoreProductString(devices_, &lock_, "127.0.0.2", 1, &huge));
  EXPECT_EQ(At(0).ProductStringLength, 255u);
  EXPECT_EQ(strlen(At(0).ProductString), 255u);

  free(At(0).ProductString);
  At(0).ProductString = nullptr;
  ASSERT_TRUE(SetProductStringState(devices_, &lock_, "127.0.0.2", 1, 1));
  auto empty = ProductString("", 0);
  EXPECT_TRUE(StoreProductString(devices_, &lock_, "127.0.0.2", 1, &empty));
  EXPECT_EQ(At(0).ProductStringState, 2u);
  EXPECT_EQ(At(0).ProductStringLength, 0u);
  EXPECT_EQ(At(0).ProductString, nullptr);
}

TEST_F(DocServicesTest, MarkProductStringFailedFinishesTheMatchingDeviceOnly) {
  devices_.AddTail(MakeDevice("127.0.0.2", 1));
  DeviceEntry other = MakeDevice("127.0.0.2", 1);
  other.Pid = 0x9999;  // same port, another device
  At(0).ProductStringState = 1;
  MarkProductStringFailed(devices_, &lock_, other);
  EXPECT_EQ(At(0).ProductStringState, 1u);
  MarkProductStringFailed(devices_, &lock_, MakeDevice("127.0.0.2", 1));
  EXPECT_EQ(At(0).ProductStringState, 2u);
  EXPECT_EQ(At(0).ProductStringLength, 0u);
  EXPECT_EQ(At(0).ProductString, nullptr);
}

TEST_F(DocServicesTest, ServerCanGoOnlyWhenNoneOfItsDevicesIsHeld) {
  EXPECT_TRUE(CanRemoveServer(devices_, &lock_, "127.0.0.2"));
  devices_.AddTail(MakeDevice("127.0.0.2", 1, DEVICE_STATE_FREE));
  devices_.AddTail(MakeDevice("127.0.0.3", 1, DEVICE_STATE_CONNECTED));  // another server's
  EXPECT_TRUE(CanRemoveServer(devices_, &lock_, "127.0.0.2"));
  DeviceEntry unloading = MakeDevice("127.0.0.2", 2, DEVICE_STATE_DISCONNECT_REQUESTED);
  unloading.RequestStatus = 0x10;
  devices_.AddTail(unloading);
  EXPECT_FALSE(CanRemoveServer(devices_, &lock_, "127.0.0.2"));
  At(2).RequestStatus = 0x01;  // the disconnect was answered
  EXPECT_TRUE(CanRemoveServer(devices_, &lock_, "127.0.0.2"));
  At(0).State = DEVICE_STATE_CONNECT_REQUESTED;
  EXPECT_FALSE(CanRemoveServer(devices_, &lock_, "127.0.0.2"));
}

TEST(DiscoveredServers, FindCopiesTheFirstRecordOfTheAddress) {
  ServerDiscoveryList servers;
  ServerDiscoveryRecord record{};
  strcpy(record.ServerIp, "127.0.0.5");
  record.ModelCode = 1;
  servers.AddTail(record);
  record.ModelCode = 2;
  servers.AddTail(record);
  ServerDiscoveryRecord found{};
  ASSERT_TRUE(FindDiscoveredServer(servers, "127.0.0.5", &found));
  EXPECT_EQ(found.ModelCode, 1);
  EXPECT_FALSE(FindDiscoveredServer(servers, "127.0.0.50", &found));
}

}  // namespace
