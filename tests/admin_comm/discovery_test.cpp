// Discovery: the records built from replies, and a run of the receiving thread against datagrams sent
// from the test over loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
#include "comm_test_util.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace std::chrono_literals;

DISCOVERY_DATAGRAM Datagram(const char* ip, const std::vector<BYTE>& reply) {
  DISCOVERY_DATAGRAM datagram{};
  strcpy(datagram.SenderIp, ip);
  memcpy(datagram.Reply, reply.data(), std::min(reply.size(), sizeof(datagram.Reply)));
  return datagram;
}

TEST(DiscoveryRecords, ReplyFieldsGoIntoTheRecordAndNamesAreBounded) {
  ServerDiscoveryList list;
  DiscoveryContext context{};
  context.List = &list;
  context.CommandPort = 1341;
  std::vector<BYTE> reply = {1, 0x00, 0x1B, 0x5A, 0, 0, 7, 1, 2, 3, 4, 'l', 'a', 'b', '1'};
  AddDiscoveredServer(Datagram("127.0.0.7", reply), &context);
  // Name length 200 with 19 name bytes: the record keeps 16 and nothing beyond the reply is read.
  std::vector<BYTE> longName(30, 'x');
  longName[10] = 200;
  AddDiscoveredServer(Datagram("127.0.0.8", longName), &context);
  // Fewer than 11 bytes: what did not arrive reads as zero.
  AddDiscoveredServer(Datagram("127.0.0.9", {1, 2}), &context);

  ASSERT_EQ(list.GetCount(), 3);
  const ServerDiscoveryRecord& first = list.GetAt(list.FindIndex(0));
  EXPECT_EQ(DWORD{first.CommandPort}, 1341u);
  EXPECT_STREQ(first.ServerIp, "127.0.0.7");
  EXPECT_EQ(first.ModelCode, 1);
  EXPECT_EQ(first.MacAddress[1], 0x1B);
  EXPECT_EQ(first.MacAddress[5], 7);
  EXPECT_EQ(first.LockFlag, 1);
  EXPECT_EQ(first.FwVersionMajor, 2);
  EXPECT_EQ(first.FwVersionMinor, 3);
  EXPECT_EQ(GetDiscoveredServerName(first), CString("lab1"));
  const ServerDiscoveryRecord& second = list.GetAt(list.FindIndex(1));
  EXPECT_EQ(GetDiscoveredServerName(second), CString(std::string(16, 'x')));
  const ServerDiscoveryRecord& third = list.GetAt(list.FindIndex(2));
  EXPECT_EQ(third.ModelCode, 1);
  EXPECT_EQ(third.MacAddress[0], 2);
  EXPECT_EQ(third.LockFlag, 0);
  EXPECT_EQ(GetDiscoveredServerName(third), CString(""));

  EXPECT_EQ(FindEnumeratedServer(&list, "127.0.0.8", 1341), list.FindIndex(1));
  EXPECT_EQ(FindEnumeratedServer(&list, "127.0.0.8", 1342), nullptr);
  EXPECT_EQ(FindEnumeratedServer(&list, "127.0.0.80", 1341), nullptr);
}

TEST(DiscoveryRecords, ModelNames) {
  CString name;
  EXPECT_TRUE(GetServerModelName(0, name));
  EXPECT_EQ(name, CString("Zarnet"));
  GetServerModelName(1, name);
  EXPECT_EQ(name, CString("Zarnet-1"));
  GetServerModelName(2, name);
  EXPECT_EQ(name, CString("Unknown"));
}

class DiscoveryRunTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    InitializeCriticalSection(&lock_);
    listener_ = std::make_unique<UdpSocket>("127.0.0.1");
  }
  void TearDown() override {
    comm_.BroadcastClose();
    listener_.reset();
    DeleteCriticalSection(&lock_);
    CommTest::TearDown();
  }
  // Opens a run whose requests go to the test's socket and whose records carry `port`.
  void Open(WORD recordPort) {
    ServerCommSettings settings = comm_.Settings();
    settings.commandPort = recordPort;
    settings.discoveryAddress = "127.0.0.1";
    settings.discoveryPort = listener_->port();
    comm_.SetSettings(settings);
    ASSERT_TRUE(comm_.BroadcastInit(&list_, &lock_, &cancel_));
    ASSERT_EQ(comm_.StartEnumerationForServers(), 0u);
    runPort_ = LocalPort(comm_.m_pDiscoveryContext->Socket);
  }
  // Simulated servers on 127.0.0.first to .last-1, all on one command port as real servers are (a port
  // free on the first address), sending their device lists to `deviceLists`.
  void StartServers(zarnet::sim::Simulator& simulator, int first, int last, const UdpSocket& deviceLists, WORD* port) {
    {
      UdpSocket probe(("127.0.0." + std::to_string(first)).c_str());
      *port = probe.port();
    }
    for (int n = first; n < last; ++n) {
      zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(n, deviceLists.port());
      options.command_port = *port;
      simulator.AddServer(options);
    }
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
  }
  DWORD Finish() {
    __atomic_store_n(&cancel_, 1, __ATOMIC_SEQ_CST);
    WaitForSingleObject(comm_.GetEnumThreadHandle(), INFINITE);
    DWORD code = 0;
    GetExitCodeThread(comm_.GetEnumThreadHandle(), &code);
    return code;
  }
  int Count() {
    EnterCriticalSection(&lock_);
    int count = list_.GetCount();
    LeaveCriticalSection(&lock_);
    return count;
  }
  bool WaitForCount(int count) {
    return Eventually([&] { return Count() >= count; });
  }

  CServerComm comm_;
  ServerDiscoveryList list_;
  CRITICAL_SECTION lock_;
  DWORD cancel_ = 0;
  std::unique_ptr<UdpSocket> listener_;
  WORD runPort_ = 0;
};

TEST_F(DiscoveryRunTest, RequestIsTheSixBytesOfTheSignature) {
  Open(1341);
  ASSERT_TRUE(comm_.SendBroadcastPacket());
  std::string request = listener_->Receive(2000);
  EXPECT_EQ(request, "Tavrin");
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);
}

TEST_F(DiscoveryRunTest, EachServerIsListedOnceAndOversizedRepliesAreDropped) {
  UdpSocket server("127.0.0.7");
  Open(server.port());  // the server answers from its command port
  std::string reply("\x01\x00\x1B\x5A\x00\x00\x07\x00\x01\x02\x03lab", 14);
  server.SendTo("127.0.0.1", runPort_, std::string(31, 'x'));
  server.SendTo("127.0.0.1", runPort_, std::string(200, 'y'));
  server.SendTo("127.0.0.1", runPort_, reply);
  server.SendTo("127.0.0.1", runPort_, reply);
  ASSERT_TRUE(WaitForCount(1));
  // One more reply from another source port: it never matches a record, so it is listed again.
  UdpSocket other("127.0.0.7");
  other.SendTo("127.0.0.1", runPort_, reply);
  ASSERT_TRUE(WaitForCount(2));
  server.SendTo("127.0.0.1", runPort_, reply);
  // Wait for the thread to have taken that last datagram: a datagram sent after it is seen too.
  UdpSocket marker("127.0.0.8");
  marker.SendTo("127.0.0.1", runPort_, reply);
  ASSERT_TRUE(WaitForCount(3));
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);

  ASSERT_EQ(list_.GetCount(), 3);
  const ServerDiscoveryRecord& first = list_.GetHead();
  EXPECT_STREQ(first.ServerIp, "127.0.0.7");
  EXPECT_EQ(DWORD{first.CommandPort}, server.port());
  EXPECT_EQ(first.ModelCode, 1);
  EXPECT_EQ(GetDiscoveredServerName(first), CString("lab"));
  EXPECT_STREQ(list_.GetTail().ServerIp, "127.0.0.8");
}

TEST_F(DiscoveryRunTest, CancelEndsAQuietRunWithinItsReceiveTimeOut) {
  Open(1341);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_EQ(DWORD{comm_.m_pDiscoveryContext->State}, DISCOVERY_STATE_CANCELLED);
}

TEST_F(DiscoveryRunTest, CloseWithoutCancelStillEndsTheThreadFirst) {
  Open(1341);
  ASSERT_TRUE(comm_.BroadcastClose());  // the caller forgot the cancel flag
  EXPECT_EQ(comm_.m_pDiscoveryContext, nullptr);
  EXPECT_EQ(comm_.GetEnumThreadHandle(), nullptr);
  EXPECT_TRUE(comm_.BroadcastClose());
}

TEST_F(DiscoveryRunTest, CallsOutOfOrderFailCleanly) {
  EXPECT_FALSE(comm_.SendBroadcastPacket());
  EXPECT_EQ(comm_.StartEnumerationForServers(), DISCOVERY_STATE_RUNNING);
  Open(1341);
  EXPECT_EQ(comm_.StartEnumerationForServers(), DISCOVERY_STATE_RUNNING);  // one thread per run
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);
}

// Simulated servers on 127.0.0.10 to .13, all on one port as real servers are: each is listed once however
// often it answers.
TEST_F(DiscoveryRunTest, SimulatedServersAreEachListedOnce) {
  zarnet::sim::Simulator simulator;
  UdpSocket deviceLists("127.0.0.1");
  WORD port = 0;
  StartServers(simulator, 10, 14, deviceLists, &port);
  if (HasFatalFailure()) return;
  Open(port);
  for (int round = 0; round < 2; ++round) {
    for (int n = 10; n < 14; ++n) {
      ServerCommSettings settings = comm_.Settings();
      settings.discoveryAddress = "127.0.0." + std::to_string(n);
      settings.discoveryPort = port;
      comm_.SetSettings(settings);
      ASSERT_TRUE(comm_.SendBroadcastPacket());
    }
  }
  ASSERT_TRUE(WaitForCount(4));
  EXPECT_FALSE(Eventually([&] { return Count() > 4; }, 200ms));
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);
  std::set<std::string> names;
  for (POSITION position = list_.GetHeadPosition(); position != nullptr;) {
    const ServerDiscoveryRecord& record = list_.GetNext(position);
    names.insert(std::string(record.ServerIp) + " " + std::string(GetDiscoveredServerName(record)));
  }
  EXPECT_EQ(names, (std::set<std::string>{"127.0.0.10 zarnet-10", "127.0.0.11 zarnet-11", "127.0.0.12 zarnet-12",
                                          "127.0.0.13 zarnet-13"}));
}

// One request to a comma-separated list reaches every address of it, and an address that is no address
// fails the send without keeping the request from the others.
TEST_F(DiscoveryRunTest, AnAddressListAsksEachServer) {
  zarnet::sim::Simulator simulator;
  UdpSocket deviceLists("127.0.0.1");
  WORD port = 0;
  StartServers(simulator, 14, 17, deviceLists, &port);
  if (HasFatalFailure()) return;
  Open(port);
  ServerCommSettings settings = comm_.Settings();
  settings.discoveryAddress = "127.0.0.14,not-an-address,127.0.0.16";
  settings.discoveryPort = port;
  comm_.SetSettings(settings);
  EXPECT_FALSE(comm_.SendBroadcastPacket());
  settings.discoveryAddress = "127.0.0.15";
  comm_.SetSettings(settings);
  EXPECT_TRUE(comm_.SendBroadcastPacket());
  ASSERT_TRUE(WaitForCount(3));
  EXPECT_EQ(Finish(), DISCOVERY_STATE_CANCELLED);
  std::set<std::string> addresses;
  for (POSITION position = list_.GetHeadPosition(); position != nullptr;)
    addresses.insert(list_.GetNext(position).ServerIp);
  EXPECT_EQ(addresses, (std::set<std::string>{"127.0.0.14", "127.0.0.15", "127.0.0.16"}));
}

}  // namespace
