// Sockets_Obj: device lists from the simulator, the bind conflict, bounded reading, closing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "PelkoFramework/Sockets_Obj.h"
#include "net_fixture.h"
#include "testsupport/eventually.h"
#include "zarnet/device_list.h"
#include "zarnet/wire.h"

namespace {

using namespace std::chrono_literals;
using pelko::test::NetTest;

class SocketsTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    pool_ = alloc<NSAutoreleasePool>()->init();
  }
  void TearDown() override {
    pool_->drain();
    NetTest::TearDown();
  }
  // A datagram from 127.0.0.1 to the listening port.
  void Send(const std::vector<uint8_t>& bytes) {
    int fd = bsd::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(listPort());
    to.sin_addr.s_addr = bsd::inet_addr("127.0.0.1");
    ASSERT_EQ(bsd::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(bytes.size()));
    bsd::close(fd);
  }
  static std::vector<uint8_t> List(uint32_t infolen, size_t entries, size_t size = 0) {
    std::vector<uint8_t> bytes(size ? size : 8 + 14 * entries, 0);
    zarnet::wire::StoreLe32(bytes.data(), infolen);
    zarnet::wire::StoreLe32(bytes.data() + 4, 77);
    for (size_t i = 0; i < entries && 8 + 14 * i + 14 <= bytes.size(); ++i) bytes[8 + 14 * i + 10] = static_cast<uint8_t>(i + 1);
    return bytes;
  }
  NSAutoreleasePool* pool_ = nullptr;
};

TEST_F(SocketsTest, ReceivesTheSimulatorsDeviceListThroughAFreshObject) {
  zarnet::sim::Simulator sim;
  auto options = zarnet::sim::LoopbackServerOptions(2, listPort());
  zarnet::sim::Device printer;
  printer.port = 3;
  printer.device_class = 7;
  printer.vid = 0x04b8;
  printer.pid = 0x0005;
  options.devices = {printer};
  sim.AddServer(options);

  Sockets_Obj* listener = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(listener->connect_server(nullptr), 1);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;

  Sockets_Obj* receiver = alloc<Sockets_Obj>()->init();
  EXPECT_STREQ(receiver->devAddrs(), "");
  receiver->setServer(listener->serverAddr(), listener->socketFd());
  pelko_dev_info* list = receiver->recvMsg();
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(receiver->devAddrs(), "127.0.0.2");
  EXPECT_EQ(uint32_t{list->infolen}, 22u);
  EXPECT_EQ(receiver->deviceCount(), 1);
  EXPECT_EQ(list->dev[0].cid[0], 7);
  EXPECT_EQ(int{list->dev[0].vid}, 0x04b8);  // packed: read as a value
  EXPECT_EQ(int{list->dev[0].portnum}, 3);
  receiver->release();
  free(list);  // the caller's once the receiver is gone
  sim.Stop();
  listener->closeDev();
  listener->release();
}

TEST_F(SocketsTest, ASecondBindReportsTheAddressInUse) {
  Sockets_Obj* first = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(first->connect_server(nullptr), 1);
  const int firstFd = first->socketFd();
  Sockets_Obj* second = alloc<Sockets_Obj>()->init();
  testing::internal::CaptureStderr();
  EXPECT_EQ(second->connect_server(nullptr), 0);
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(message, std::string("Bind: ") + strerror(EADDRINUSE));
  second->closeDev();  // the failed socket is the one held now
  bsd::close(firstFd);
  first->release();
  second->release();
}

TEST_F(SocketsTest, LengthsThatLieAreNotBelievedAndBrokenListsAreDropped) {
  Sockets_Obj* receiver = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(receiver->connect_server(nullptr), 1);
  Send(List(1000, 1));            // claims 70 entries, carries 1
  pelko_dev_info* list = receiver->recvMsg();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(receiver->receivedLength(), 22);
  EXPECT_EQ(receiver->deviceCount(), 1);

  Send(List(4, 1));               // infolen below the header
  Send(std::vector<uint8_t>(5));  // shorter than the header
  Send(List(8, 0));               // header only: a server without devices
  list = receiver->recvMsg();     // the first buffer goes with this call
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(uint32_t{list->infolen}, 8u);
  EXPECT_EQ(receiver->deviceCount(), 0);

  Send(List(3000, 250, 3000));    // longer than the buffer: cut to it
  list = receiver->recvMsg();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(receiver->receivedLength(), 2794);
  EXPECT_EQ(receiver->deviceCount(), 199);
  EXPECT_EQ(DeviceListEntryCount(list, 2794), 199);
  EXPECT_EQ(DeviceListEntryCount(list, 7), 0);
  receiver->closeDev();
  receiver->release();
  free(list);
}

TEST_F(SocketsTest, CloseDevWakesABlockedReceive) {
  Sockets_Obj* listener = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(listener->connect_server(nullptr), 1);
  Sockets_Obj* receiver = alloc<Sockets_Obj>()->init();
  receiver->setServer(listener->serverAddr(), listener->socketFd());
  std::atomic<pid_t> tid{0};
  std::atomic<bool> returned{false};
  pelko_dev_info* got = reinterpret_cast<pelko_dev_info*>(1);
  std::thread t([&] {
    tid = tavrin::test::KernelThreadId();
    got = receiver->recvMsg();
    returned = true;
  });
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(tid));
  listener->closeDev();
  ASSERT_TRUE(tavrin::test::Eventually([&] { return returned.load(); }));  // it had no other way out
  t.join();
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(listener->socketFd(), -1);
  EXPECT_EQ(receiver->recvMsg(), nullptr);  // nothing to receive on any more
  receiver->release();
  listener->release();
}

}  // namespace
