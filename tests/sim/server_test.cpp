// One simulated server driven over loopback with plain sockets.
#include <gtest/gtest.h>

#include "sim_test_util.h"
#include "zarnet/command.h"
#include "zarnet/config_text.h"
#include "zarnet/device_list.h"
#include "zarnet/discovery.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace simtest;
using namespace zarnet;
using namespace zarnet::sim;

Device Printer() {
  Device d;
  d.port = 1;
  d.device_class = 7;
  d.subclass = 1;
  d.protocol = 2;
  d.vid = 0x03F0;
  d.pid = 0x2B17;
  d.rev = 0x0100;
  d.product = "Office LaserPrinter";
  return d;
}

Device Storage() {
  Device d;
  d.port = 2;
  d.device_class = 8;
  d.subclass = 6;
  d.protocol = 0x50;
  d.vid = 0x0781;
  d.pid = 0x5567;
  d.rev = 0x0126;
  d.busy = true;
  d.client_ip = "127.0.0.1";
  d.product = "Flash";
  return d;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerOptions o = LoopbackServerOptions(2, listener_.port());
    o.password_enable = true;
    o.password = "secret";
    o.fw_major = 1;
    o.fw_minor = 12;
    o.devices = {Printer(), Storage()};
    Configure(o);
    server_ = std::make_unique<Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  virtual void Configure(ServerOptions&) {}

  Exchange Run(uint32_t command, const std::string& data = {}, std::chrono::milliseconds timeout = 10000ms) {
    return Command("127.0.0.2", server_->command_port(), EncodeCommandRequest(command, data), timeout);
  }
  // Waits that end at the answer are long (a busy computer is slow); only waits that must end empty are short.
  std::optional<DiscoveryInfo> Discover(std::chrono::milliseconds timeout = 5000ms, size_t* size = nullptr) {
    Udp client;
    client.SendTo(EncodeDiscoveryRequest(), "127.0.0.2", server_->command_port());
    sockaddr_in from{};
    auto reply = client.Receive(timeout, &from);
    if (!reply) return std::nullopt;
    EXPECT_EQ(Ip(from), "127.0.0.2");
    EXPECT_EQ(ntohs(from.sin_port), server_->command_port());  // answered from the command port
    if (size) *size = reply->size();
    return DecodeDiscoveryReply(*reply);
  }
  std::optional<DeviceListView> NextList(std::chrono::milliseconds timeout = 5000ms) {
    auto datagram = listener_.ReceiveFrom("127.0.0.2", timeout);
    if (!datagram) return std::nullopt;
    return DecodeServerDeviceList(*datagram);
  }

  Udp listener_;
  std::unique_ptr<Server> server_;
};

TEST_F(ServerTest, DiscoveryReplyDescribesTheServer) {
  size_t size = 0;
  auto info = Discover(5000ms, &size);
  ASSERT_TRUE(info);
  EXPECT_EQ(size, 11 + std::string("zarnet-2").size());
  EXPECT_LE(size, kDiscoveryReplyMaxSize);
  EXPECT_EQ(info->name, "zarnet-2");
  EXPECT_EQ(info->mac, (std::array<uint8_t, 6>{0x00, 0x1B, 0x5A, 0x00, 0x00, 0x02}));
  EXPECT_TRUE(info->locked);
  EXPECT_EQ(info->fw_major, 1);
  EXPECT_EQ(info->fw_minor, 12);

  // Anything but the exact request goes unanswered.
  Udp client;
  client.SendTo({'T', 'a', 'v', 'r', 'i', 'n', 0}, "127.0.0.2", server_->command_port());
  EXPECT_FALSE(client.Receive(150ms));
}

TEST_F(ServerTest, UnlockWithThePassword) {
  Exchange wrong = Run(kCmdUnLockServer, "guess");
  EXPECT_TRUE(wrong.closed);
  EXPECT_EQ(wrong.response, "<RSP=3>\n<STATUS=3>\n</STATUS>\n<DATA>\n\n</DATA>\n</RSP>");
  EXPECT_TRUE(server_->locked());

  EXPECT_EQ(ParseDecimal(Run(kCmdUnLockServer, "secret").response.substr(16)), 0);
  EXPECT_FALSE(server_->locked());
  EXPECT_FALSE(Discover()->locked);
}

TEST_F(ServerTest, ConfigurationTextAndConnectionTable) {
  Exchange get = Run(kCmdGetConfigInfo);
  ASSERT_TRUE(get.closed);
  size_t data = get.response.find("<DATA>\n") + 7;
  std::string text = get.response.substr(data, get.response.find("\n</DATA>", data) - data);
  IniText ini(text);
  EXPECT_EQ(ini.Get("GeneralSettings", "fw_version"), "1.0.0.12");
  EXPECT_EQ(ini.Get("GeneralSettings", "serial_no"), "000002");
  EXPECT_EQ(ini.Get("BasicSettings", "server_name"), "zarnet-2");
  EXPECT_EQ(ini.Get("NetworkSettings", "ip_address"), "127.0.0.2");
  EXPECT_EQ(ini.Get("ConnectionTable", "port_no1"), "2");
  EXPECT_EQ(ini.Get("ConnectionTable", "client_ip1"), "127.0.0.1");
  EXPECT_FALSE(ini.Get("ConnectionTable", "port_no2"));
  EXPECT_EQ(ini.Get("Password", "enable"), "1");
  EXPECT_LT(text.find("[ConnectionTable]"), text.find("[Password]"));
  EXPECT_LE(get.response.size(), 500u);

  server_->SetBusy(1, true, "127.0.0.9");
  Exchange table = Run(kCmdGetConnectedClientDetails);
  EXPECT_EQ(table.response,
            "<RSP=6>\n<STATUS=0>\n</STATUS>\n<DATA>\n[ConnectionTable]\nport_no1=1\nclient_ip1=127.0.0.9\n"
            "port_no2=2\nclient_ip2=127.0.0.1\n\n</DATA>\n</RSP>");
}

TEST_F(ServerTest, SetConfigurationAnswersResetAndTakesTheSections) {
  Exchange set = Run(kCmdSetConfigInfo, "[BasicSettings]\nserver_name=renamed\n[Password]\nenable=0\npassword=\n");
  EXPECT_EQ(set.response.substr(0, 18), "<RSP=5>\n<STATUS=1>");
  ServerConfiguration c = server_->configuration();
  EXPECT_EQ(c.server_name, "renamed");
  EXPECT_FALSE(c.password_enable);
  EXPECT_EQ(c.net_mask, "255.255.255.0");  // sections not sent stay
  EXPECT_EQ(Discover()->name, "renamed");

  // Factory defaults bring the first settings back, and ask for a reset too.
  EXPECT_EQ(Run(kCmdRestoreFactoryDefaults).response.substr(0, 18), "<RSP=1>\n<STATUS=1>");
  EXPECT_EQ(server_->configuration().server_name, "zarnet-2");
  EXPECT_TRUE(server_->configuration().password_enable);
}

TEST_F(ServerTest, ResetRestartsTheServicesAndLocksAgain) {
  Run(kCmdUnLockServer, "secret");
  ASSERT_FALSE(server_->locked());
  Exchange reset = Run(kCmdResetServer);
  EXPECT_EQ(reset.response, "<RSP=2>\n<STATUS=0>\n</STATUS>\n<DATA>\n\n</DATA>\n</RSP>");
  ASSERT_TRUE(server_->WaitUntil([&] { return server_->restarts() == 1 && server_->running(); }, 10000ms));
  EXPECT_TRUE(server_->locked());
  EXPECT_TRUE(Run(kCmdGetConfigInfo).closed);
  EXPECT_TRUE(Discover());
}

TEST_F(ServerTest, ProductStringByPort) {
  Exchange found = Run(kCmdGetIProdStringDesc, "1");
  EXPECT_EQ(found.response, "<RSP=7>\n<SCMD=3>\n</SCMD>\n<STATUS=0>\n</STATUS>\n<DATA>\n" +
                                EncodeProductString("Office LaserPrinter") + "\n</DATA>\n</RSP>");
  Exchange missing = Run(kCmdGetIProdStringDesc, "9");
  EXPECT_EQ(missing.response[33], '4');
  // Only sub-command 3 exists.
  Exchange other = Command("127.0.0.2", server_->command_port(), EncodeCommandRequest(7, "1", 4));
  EXPECT_EQ(other.response[33], '2');
}

TEST_F(ServerTest, UnknownCommandsAreRefused) {
  EXPECT_EQ(Run(9).response, "<RSP=9>\n<STATUS=2>\n</STATUS>\n<DATA>\n\n</DATA>\n</RSP>");
  EXPECT_EQ(Command("127.0.0.2", server_->command_port(), "garbage</CMD>").response.substr(0, 18),
            "<RSP=0>\n<STATUS=2>");
  EXPECT_EQ(Run(kCmdUpGradeFirmware, "").response.substr(16, 1), "2");  // no image named
}

TEST_F(ServerTest, DeviceListBroadcastsAndRunTimeChanges) {
  auto list = NextList();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->infolen, 8 + 2 * 14u);
  EXPECT_EQ(list->server_id, 0x5A000002u);
  ASSERT_EQ(list->devices.size(), 2u);
  EXPECT_EQ(list->devices[0].cid[0], 7);
  EXPECT_EQ(+list->devices[0].vid, 0x03F0);
  EXPECT_EQ(list->devices[0].b_f, 0);
  EXPECT_EQ(+list->devices[1].portnum, 2);
  EXPECT_EQ(list->devices[1].b_f, 1);

  Device keyboard;
  keyboard.port = 4;
  keyboard.device_class = 3;
  server_->Plug(keyboard);
  server_->Unplug(2);
  server_->SetBusy(1, true, "127.0.0.1");
  server_->BroadcastNow();
  listener_.Drain();
  list = NextList();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->devices.size(), 2u);
  EXPECT_EQ(list->devices[0].b_f, 1);
  EXPECT_EQ(+list->devices[1].portnum, 4);
  EXPECT_EQ(list->devices[1].cid[0], 3);
  EXPECT_FALSE(server_->Unplug(2));
}

TEST_F(ServerTest, BroadcastPeriodAndDestination) {
  server_->SetBroadcastPeriod(40ms);
  // Every list not drained was sent after `start`, and each a whole period after the one before.
  const auto start = std::chrono::steady_clock::now();
  listener_.Drain();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(NextList());  // unasked
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5 * 40ms);

  Udp other;
  server_->SetBroadcastDestination("127.0.0.1", other.port());
  server_->BroadcastNow();
  EXPECT_TRUE(other.ReceiveFrom("127.0.0.2", 5000ms));

  // A loopback server never sends beyond loopback.
  server_->SetBroadcastDestination("192.0.2.1", 6000);
  server_->SetBroadcastDestination("127.0.0.1", other.port());
  other.Drain();
  EXPECT_TRUE(other.ReceiveFrom("127.0.0.2", 5000ms));
}

TEST_F(ServerTest, FaultsOfTheCommandResponse) {
  Fault split{FaultKind::kSplit};
  split.chunk = 5;
  split.delay = 15ms;
  split.times = 1;
  server_->AddFault(split);
  Exchange pieces = Run(kCmdGetConfigInfo);  // long enough for many pieces
  EXPECT_TRUE(pieces.closed);
  EXPECT_GT(pieces.pieces.size(), 5u);
  EXPECT_NE(pieces.response.find("</RSP>"), std::string::npos);
  EXPECT_EQ(Run(kCmdGetConfigInfo).pieces.size(), 1u);  // used up

  Fault wrong{FaultKind::kWrongRspNumber};
  wrong.number = 5;
  wrong.command = kCmdUnLockServer;
  wrong.times = 1;
  server_->AddFault(wrong);
  EXPECT_EQ(Run(kCmdGetConfigInfo).response.substr(0, 7), "<RSP=4>");  // other commands untouched
  EXPECT_EQ(Run(kCmdUnLockServer, "x").response.substr(0, 7), "<RSP=5>");

  Fault end{FaultKind::kMissingEnd};
  end.times = 1;
  server_->AddFault(end);
  Exchange open_end = Run(kCmdGetConnectedClientDetails);
  EXPECT_TRUE(open_end.closed);
  EXPECT_EQ(open_end.response.find("</RSP>"), std::string::npos);

  Fault status{FaultKind::kMissingStatus};
  status.times = 1;
  Fault lower{FaultKind::kLowerCaseTags};
  lower.times = 1;
  server_->AddFault(status);
  server_->AddFault(lower);
  EXPECT_EQ(Run(9).response, "<rsp=9>\n<data>\n\n</data>\n</rsp>");

  Fault oversize{FaultKind::kOversize};
  oversize.size = 3000;
  oversize.times = 1;
  server_->AddFault(oversize);
  Exchange big = Run(kCmdGetConnectedClientDetails);
  EXPECT_GT(big.response.size(), 3000u);
  EXPECT_EQ(big.response.substr(big.response.size() - 6), "</RSP>");

  Fault truncate{FaultKind::kTruncate};
  truncate.size = 10;
  truncate.times = 1;
  server_->AddFault(truncate);
  Exchange cut = Run(kCmdGetConfigInfo);
  EXPECT_TRUE(cut.closed);
  EXPECT_EQ(cut.response, "<RSP=4>\n<S");

  Fault forced{FaultKind::kStatus};
  forced.number = 2;
  forced.times = 1;
  server_->AddFault(forced);
  EXPECT_EQ(Run(kCmdUnLockServer, "secret").response[16], '2');
}

TEST_F(ServerTest, SilenceAndEarlyClose) {
  Fault silence{FaultKind::kSilence};
  silence.command = kCmdResetServer;
  server_->AddFault(silence);
  Exchange quiet = Run(kCmdResetServer, {}, 300ms);
  EXPECT_FALSE(quiet.closed);  // held open, never answered
  EXPECT_TRUE(quiet.response.empty());
  EXPECT_EQ(server_->restarts(), 0);  // and not carried out
  server_->ClearFaults();

  Fault close{FaultKind::kEarlyClose};
  close.times = 1;
  server_->AddFault(close);
  Exchange closed = Run(kCmdGetConfigInfo);
  EXPECT_TRUE(closed.connected);
  EXPECT_TRUE(closed.closed);
  EXPECT_TRUE(closed.response.empty());

  Fault delay{FaultKind::kDelay};
  delay.delay = 200ms;
  delay.times = 1;
  server_->AddFault(delay);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Run(kCmdGetConfigInfo).closed);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

// A server that broadcasts once as it starts and then only when asked: no list sent on the period takes
// a fault meant for the one asked for.
class AskedListsTest : public ServerTest {
  void Configure(ServerOptions& o) override { o.broadcast_period = std::chrono::hours(1); }
};

TEST_F(AskedListsTest, FaultsOfDatagrams) {
  ASSERT_TRUE(NextList());  // the one sent at the start
  Fault silent{FaultKind::kSilence, FaultTarget::kDiscovery};
  silent.times = 1;
  server_->AddFault(silent);
  EXPECT_FALSE(Discover(200ms));
  EXPECT_TRUE(Discover());

  Fault big{FaultKind::kOversize, FaultTarget::kDiscovery};
  big.size = 40;
  big.times = 1;
  server_->AddFault(big);
  size_t size = 0;
  EXPECT_FALSE(Discover(5000ms, &size));  // no longer a reply
  EXPECT_EQ(size, 40u);

  Fault cut{FaultKind::kTruncate, FaultTarget::kDiscovery};
  cut.size = 5;
  cut.times = 1;
  server_->AddFault(cut);
  Discover(5000ms, &size);
  EXPECT_EQ(size, 5u);

  Fault infolen{FaultKind::kInfoLen, FaultTarget::kBroadcast};
  infolen.number = 1000;
  infolen.times = 1;
  server_->AddFault(infolen);
  server_->BroadcastNow();
  auto lying = NextList();
  ASSERT_TRUE(lying);
  EXPECT_EQ(lying->infolen, 1000u);
  EXPECT_TRUE(lying->cut);

  Fault quiet{FaultKind::kSilence, FaultTarget::kBroadcast};
  server_->AddFault(quiet);
  server_->BroadcastNow();
  EXPECT_FALSE(NextList(200ms));
}

TEST(ServerStart, RefusesAPortInUse) {
  Udp lists;
  ServerOptions o = LoopbackServerOptions(5, lists.port());
  Server first(o);
  ASSERT_TRUE(first.Start());
  o.command_port = first.command_port();
  Server second(o);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("127.0.0.5"), std::string::npos) << error;
}

}  // namespace
