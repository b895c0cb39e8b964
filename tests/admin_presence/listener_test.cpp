// The broadcast listener on a real socket, and the bounded product-string fetches behind it.
#include <chrono>
#include <cstring>
#include <thread>

#include "admin/comm/CommSettings.h"
#include "presence_fixture.h"
#include "win32/winsock.h"

namespace presence_test {
namespace {


std::vector<uint8_t> List(uint32_t serverId, const std::vector<zarnet::__dev_info__>& devices) {
  return zarnet::EncodeServerDeviceList(serverId, devices);
}

class ListenerTest : public DocUnitTest {
 protected:
  void SetUp() override {
    DocUnitTest::SetUp();
    port_ = FreeLoopbackPort(SOCK_DGRAM);
    doc_->m_ulDeviceListAddress = inet_addr("127.0.0.1");
    doc_->m_wDeviceListPort = port_;
  }
  void TearDown() override {
    StopListener();
    DocUnitTest::TearDown();
  }

  // Returns once the listener waits for its first datagram (unless the computer sleeps).
  void StartListener() {
    listener_ = std::thread([this] { doc_->ListenForDeviceLists(); });
    if (doc_->IsSuspended()) return;
    ASSERT_TRUE(Eventually([] { return ReadTraceLog().find("Detecting Servers") != std::string::npos; }));
  }
  void StopListener() {
    if (!listener_.joinable()) return;
    doc_->StopBroadcastListener();
    listener_.join();
  }
  // One datagram from 127.0.0.<last> to the listener.
  void Send(int last, const std::vector<uint8_t>& datagram) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = NetIp(last);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = htons(port_);
    ASSERT_EQ(sendto(s, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<int>(datagram.size()));
    closesocket(s);
  }
  uint16_t port_ = 0;
  std::thread listener_;
};

TEST_F(ListenerTest, DatagramsFromServersFillTheListsAndTheStopEndsTheListener) {
  StartListener();
  Send(2, List(0x42, {DevInfo(1, 8, 0x0781, 0x5567, 0x0100)}));
  Send(3, zarnet::EncodeServerDeviceList(0x43, {}));
  ASSERT_TRUE(Eventually([&] { return ServerCount() == 2 && DeviceCount() == 1; }));
  EXPECT_EQ(Server(2).ServerId, 0x42u);
  EXPECT_EQ(Server(3).PresenceCount, SERVER_PRESENCE_NEW);
  EXPECT_EQ(Device(2, 1).Vid, 0x0781);

  // Datagrams shorter than their header are dropped without a sign of their sender.
  Send(4, {1, 2, 3});
  Send(5, zarnet::EncodeServerDeviceList(0x45, {}));
  ASSERT_TRUE(Eventually([&] { return ServerCount() == 3; }));
  ServerPresenceEntry none{};
  EXPECT_FALSE(doc_->FindServerPresence(Ip(4).c_str(), &none));

  StopListener();
  EXPECT_FALSE(doc_->IsBroadcastSocketOpen());
}

TEST_F(ListenerTest, ADatagramThatArrivesWhileTheComputerResumesIsDropped) {
  doc_->SetResume(TRUE);
  StartListener();
  Send(2, List(1, {DevInfo(1, 3, 1, 2, 3)}));
  // Received and dropped once the listener waits for the next datagram.
  ASSERT_TRUE(Eventually([&] {
    const std::string log = ReadTraceLog();
    return log.find("Detecting Servers") != log.rfind("Detecting Servers");
  }));
  doc_->SetResume(FALSE);
  Send(3, zarnet::EncodeServerDeviceList(1, {}));  // behind the first in the socket's queue
  ASSERT_TRUE(Eventually([&] { return ServerCount() == 1; }));
  EXPECT_EQ(Server(3).Active, 1u);
  EXPECT_EQ(DeviceCount(), 0);
}

TEST_F(ListenerTest, AfterResumeEverythingIsReportedGoneAndBothFlagsAreCleared) {
  Receive(2, 1, {});
  doc_->ForEachServer([](ServerPresenceEntry& server) { server.RequestStatus = ARRM_STATUS_SUCCESS; });
  AddDevice(2, DevInfo(1, 3, 1, 2, 3), DEVICE_STATE_CONNECTED);
  doc_->SetSuspend(TRUE);
  StartListener();
  doc_->SetResume(TRUE);
  // The drivers answer: the notification threads count the answers off.
  ASSERT_TRUE(Eventually([&] { return QueuedDeviceRequests().size() == 1; }));
  doc_->CountAnswerOff(TRUE);
  doc_->CountAnswerOff(FALSE);
  ASSERT_TRUE(Eventually([&] { return !doc_->IsSuspended() && !doc_->IsResuming(); }));
  EXPECT_EQ(Device(2, 1).State, DEVICE_STATE_DISCONNECT_REQUESTED);
  EXPECT_EQ(Server(2).Active, 0u);
  EXPECT_FALSE(doc_->IsDisconnectingAll());
  EXPECT_EQ(+QueuedDeviceRequests().at(0).Arrival, 0);
}

TEST_F(ListenerTest, APortThatIsTakenEndsTheListenerWithTheBindError) {
  SOCKET taken = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr("127.0.0.1");
  local.sin_port = htons(port_);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  EXPECT_EQ(doc_->ListenForDeviceLists(), 0u);
  EXPECT_NE(ReadTraceLog().find("DetectServer >> bind() error:"), std::string::npos);
  EXPECT_FALSE(doc_->IsBroadcastSocketOpen());
  closesocket(taken);
}

TEST_F(DocUnitTest, ProductStringsOfManyNewDevicesAreFetchedByAFewWorkers) {
  // A server that answers product-string requests slowly.
  const uint16_t commandPort = FreeLoopbackPort(SOCK_STREAM);
  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(2, deviceLists_.port());
  options.command_port = commandPort;
  options.broadcast_period = std::chrono::hours(1);
  for (uint16_t port = 1; port <= 72; ++port)
    options.devices.push_back(SimDevice(port, 3, 0x1000, port, 1, "Device " + std::to_string(port)));
  zarnet::sim::Fault slow;
  slow.kind = zarnet::sim::FaultKind::kDelay;
  slow.delay = std::chrono::milliseconds(20);
  options.faults.push_back(slow);
  zarnet::sim::Simulator sim;
  sim.AddServer(options);
  ASSERT_TRUE(sim.Start());
  ServerCommSettings settings = GetDefaultServerCommSettings();
  settings.commandPort = commandPort;
  SetDefaultServerCommSettings(settings);

  std::vector<zarnet::__dev_info__> devices;
  for (uint16_t port = 1; port <= 72; ++port) devices.push_back(DevInfo(port, 3, 0x1000, port, 1));
  Receive(2, 1, devices);
  int busiest = 0;  // fetches under way at once
  auto fetched = [&] {
    int done = 0, working = 0;
    doc_->ForEachDevice([&](const DeviceEntry& device) {
      done += device.ProductStringState == 2;
      working += device.ProductStringState == 1;
    });
    busiest = std::max(busiest, working);
    return done == 72;
  };
  ASSERT_TRUE(Eventually(fetched, std::chrono::seconds(20)));
  EXPECT_GE(busiest, 1);
  EXPECT_LE(busiest, 4);
  DeviceEntry last = Device(2, 72);
  ASSERT_NE(last.ProductString, nullptr);
  EXPECT_STREQ(last.ProductString, "Device 72");
}

// A datagram whose header names fewer bytes than a header (infolen below 8) is refused whole: its sender
// is not taken for a present server.
TEST_F(ListenerTest, ADatagramThatCannotBeReadDoesNotMarkItsSenderPresent) {
  StartListener();
  std::vector<uint8_t> broken = List(0x46, {DevInfo(1, 8, 0x0781, 0x5567, 0x0100)});
  broken[0] = 4;  // infolen 4
  broken[1] = broken[2] = broken[3] = 0;
  Send(6, broken);
  Send(7, zarnet::EncodeServerDeviceList(0x47, {}));  // behind it in the socket's queue
  ASSERT_TRUE(Eventually([&] { return ServerCount() == 1; }));
  ServerPresenceEntry none{};
  EXPECT_FALSE(doc_->FindServerPresence(Ip(6).c_str(), &none));
  EXPECT_EQ(DeviceCount(), 0);
}

// A datagram longer than the 1,024-byte buffer arrives cut to it: the entries that fit are read.
TEST_F(ListenerTest, ADatagramLongerThanTheBufferIsReadAsFarAsItFits) {
  StartListener();
  std::vector<uint8_t> datagram = zarnet::EncodeServerDeviceList(0x48, {});
  for (uint16_t port = 1; port <= 80; ++port) {
    uint8_t entry[zarnet::kDevInfoSize];
    zarnet::EncodeDevInfo(DevInfo(port, 8, 0x0781, 0x5567, 0x0100), entry);
    datagram.insert(datagram.end(), entry, entry + sizeof entry);
  }
  const uint32_t infolen = static_cast<uint32_t>(datagram.size());  // 1,128 bytes
  std::memcpy(datagram.data(), &infolen, sizeof infolen);
  Send(8, datagram);
  ASSERT_TRUE(Eventually([&] { return DeviceCount() == static_cast<int>(zarnet::kMaxDevicesPerList); }))
      << DeviceCount();
  EXPECT_EQ(Server(8).ServerId, 0x48u);
  EXPECT_EQ(Device(8, 72).Vid, 0x0781);
  EXPECT_EQ(Device(8, 73).Vid, 0);  // past the buffer
}

}  // namespace
}  // namespace presence_test
