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

namespace {

// The device list's indexes against a plain model through thousands of additions and removals: keys that
// share their slot's neighbourhood, entries with equal keys (the first in arrival order is found), removals
// of first, later and only entries, and the table's growth.
TEST(DeviceListIndexTest, FindsWhatAPlainWalkFindsThroughAdditionsAndRemovals) {
  DeviceList list;
  std::vector<POSITION> live;
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
  char ip[16];
  auto walk = [&](const std::string& key, bool group) -> POSITION {
    for (POSITION p = list.GetHeadPosition(); p != nullptr;) {
      POSITION at = p;
      const DeviceEntry& d = list.GetNext(p);
      if ((group ? DeviceKeys::Group(d) : DeviceKeys::Key(d)) == key) return at;
    }
    return nullptr;
  };
  for (int step = 0; step < 4000; ++step) {
    if (live.empty() || next() % 3 != 0) {
      // Few servers and ports, so that equal keys and groups come often.
      snprintf(ip, sizeof ip, "10.0.%u.%u", next() % 4, next() % 40);
      DeviceEntry d = MakeDevice(ip, static_cast<WORD>(1 + next() % 6));
      d.Vid = static_cast<WORD>(next() % 3);
      live.push_back(list.AddTail(d));
    } else {
      const size_t victim = next() % live.size();
      list.RemoveAt(live[victim]);
      live.erase(live.begin() + static_cast<long>(victim));
    }
    if (step % 250 != 0) continue;
    for (POSITION p : live) {
      const DeviceEntry& d = list.GetAt(p);
      ASSERT_EQ(list.Find(DeviceKeys::Key(d)), walk(DeviceKeys::Key(d), false)) << "step " << step;
      ASSERT_EQ(list.FindInGroup(DeviceKeys::Group(d)), walk(DeviceKeys::Group(d), true)) << "step " << step;
    }
    ASSERT_EQ(list.Find(DeviceKeys::Key("10.9.9.9", 1, 0, 0x1234, 0x0100)), nullptr);
  }
  // A text that is no address is a key of its own, apart from every address.
  DeviceEntry named = MakeDevice("server", 1);
  POSITION at = list.AddTail(named);
  EXPECT_EQ(list.FindInGroup(DeviceKeys::Group("server", 1)), at);
  EXPECT_EQ(list.FindInGroup(DeviceKeys::Group("server", 2)), nullptr);
  list.RemoveAll();
  EXPECT_EQ(list.FindInGroup(DeviceKeys::Group("server", 1)), nullptr);
}

}  // namespace
