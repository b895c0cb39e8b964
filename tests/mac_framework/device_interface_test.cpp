// deviceInterface against no driver and against a recording stand-in of the driver's user client.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "PelkoFramework/deviceInterface.h"
#include "cocoa/iokit_host.h"
#include "testsupport/sysroot.h"

namespace {

using cocoa::iokit::Host;
using cocoa::iokit::Service;
using cocoa::iokit::UserClient;

// What the driver was sent, and how much reply room each request offered.
struct Record {
  std::mutex mutex;
  std::vector<uint32_t> scalarSelectors;
  std::vector<std::vector<uint8_t>> requests;
  std::vector<uint32_t> capacities;
  size_t replySize = 108;
};

class RecordingClient : public UserClient {
 public:
  explicit RecordingClient(Record& r) : r_(r) {}
  IOReturn ScalarMethod(uint32_t selector, const std::vector<int64_t>&, std::vector<int64_t>&, uint32_t) override {
    std::lock_guard lock(r_.mutex);
    r_.scalarSelectors.push_back(selector);
    return selector <= 1 ? kIOReturnSuccess : kIOReturnBadArgument;
  }
  IOReturn StructMethod(uint32_t selector, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                        uint32_t capacity) override {
    std::lock_guard lock(r_.mutex);
    if (selector != 5) return kIOReturnBadArgument;
    r_.requests.push_back(in);
    r_.capacities.push_back(capacity);
    out.assign(r_.replySize, 0x5A);
    return kIOReturnSuccess;
  }

 private:
  Record& r_;
};

class RecordingDriver : public Service {
 public:
  explicit RecordingDriver(Record& r) : Service("quorvelNHCI"), r_(r) {}
  std::unique_ptr<UserClient> NewUserClient(uint32_t type) override {
    return type == 0 ? std::make_unique<RecordingClient>(r_) : nullptr;
  }

 private:
  Record& r_;
};

class DeviceInterfaceTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    pool_ = alloc<NSAutoreleasePool>()->init();
  }
  void TearDown() override {
    pool_->drain();
    SysrootTest::TearDown();
  }
  NSAutoreleasePool* pool_ = nullptr;
};

// The request block of a connect: slot, address and device as the application fills them.
std::vector<uint8_t> ConnectBlock(int slot, const char* ip) {
  std::vector<uint8_t> block(108, 0);
  devReqStruct r{};
  r.ReqType = 1;
  r.Index = slot;
  memcpy(r.ip, ip, strnlen(ip, sizeof r.ip));  // the rest stays zero; a full field has no terminator
  r.device_info = {{7, 1, 2}, 0x0100, 0x0005, 0x04b8, 0, 3, 2};
  memcpy(block.data(), &r, sizeof r);
  return block;
}

TEST_F(DeviceInterfaceTest, WithoutTheDriverTheOpenFails) {
  deviceInterface* driver = alloc<deviceInterface>()->init();
  testing::internal::CaptureStdout();
  EXPECT_EQ(driver->OpenDriverInstance(), 0);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("IOServiceGetMatchingServices success\n"), std::string::npos);
  EXPECT_NE(out.find("kMyUserClientOpen Error\n"), std::string::npos);
  EXPECT_EQ(out.find("IOServiceOpen Succes"), std::string::npos);
  auto block = ConnectBlock(1, "127.0.0.2");
  testing::internal::CaptureStdout();
  EXPECT_EQ(driver->SendRquest(block.data()), 0);  // not open: refused
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "SentRequest : ReqType-> 1, Index-> 1, ip-> 127.0.0.2, portnumber-> 3\n");
  EXPECT_EQ(driver->isInstalled(), 0);
  driver->release();
}

TEST_F(DeviceInterfaceTest, RequestsCarryEachFieldAtItsOffset) {
  Record record;
  Host host;
  ASSERT_TRUE(host.Start());
  host.Register(std::make_shared<RecordingDriver>(record));
  host.Register(std::make_shared<RecordingDriver>(record));  // only the first is opened

  deviceInterface* driver = alloc<deviceInterface>()->init();
  testing::internal::CaptureStdout();
  ASSERT_EQ(driver->OpenDriverInstance(), 1);
  auto block = ConnectBlock(14, "255.255.255.255");
  EXPECT_EQ(driver->SendRquest(block.data()), 1);
  record.replySize = 10;  // a short reply must not shrink the room of the next request
  EXPECT_EQ(driver->SendRquest(block.data()), 1);
  EXPECT_EQ(driver->SendRquest(block.data()), 1);
  EXPECT_EQ(driver->CloseDriverInstance(), 1);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("IOServiceOpen Succes\nkMyUserClientOpen Success\n"), std::string::npos);
  EXPECT_NE(out.find("Ret: 255.255.255.255 3Success\n"), std::string::npos);
  EXPECT_NE(out.find("kMyUserClientClose success\n"), std::string::npos);
  host.Stop();

  EXPECT_EQ(record.scalarSelectors, (std::vector<uint32_t>{0, 1}));
  ASSERT_EQ(record.requests.size(), 3u);
  EXPECT_EQ(record.capacities, (std::vector<uint32_t>{108, 108, 108}));
  const std::vector<uint8_t>& r = record.requests[0];
  ASSERT_EQ(r.size(), 108u);
  auto u16 = [&](size_t at) { return r[at] | (r[at + 1] << 8); };
  EXPECT_EQ(r[0], 1);    // ReqType
  EXPECT_EQ(r[4], 0);    // reserved
  EXPECT_EQ(r[8], 14);   // Index
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[12])), "255.255.255.255");
  EXPECT_EQ(r[27], 0);   // the terminator fills the field exactly
  EXPECT_EQ(r[28], 7);   // cid
  EXPECT_EQ(r[29], 1);
  EXPECT_EQ(r[30], 2);
  EXPECT_EQ(u16(31), 0x0100);  // rev
  EXPECT_EQ(u16(33), 0x0005);  // pid
  EXPECT_EQ(u16(35), 0x04b8);  // vid
  EXPECT_EQ(r[37], 0);         // b_f
  EXPECT_EQ(u16(38), 3);       // portnum
  EXPECT_EQ(r[40], 2);         // speed
  for (size_t i = 41; i < 108; ++i) EXPECT_EQ(r[i], 0) << i;
  driver->release();
}

TEST_F(DeviceInterfaceTest, RequestsFromSeveralThreadsGoOneAtATime) {
  Record record;
  Host host;
  ASSERT_TRUE(host.Start());
  host.Register(std::make_shared<RecordingDriver>(record));
  deviceInterface* driver = alloc<deviceInterface>()->init();
  testing::internal::CaptureStdout();
  ASSERT_EQ(driver->OpenDriverInstance(), 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      auto block = ConnectBlock(t + 1, "127.0.0.2");
      for (int i = 0; i < 20; ++i) EXPECT_EQ(driver->SendRquest(block.data()), 1);
    });
  for (auto& t : threads) t.join();
  driver->CloseDriverInstance();
  fflush(stdout);
  testing::internal::GetCapturedStdout();
  host.Stop();
  EXPECT_EQ(record.requests.size(), 80u);
  driver->release();
}

}  // namespace
