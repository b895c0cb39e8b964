// The exported command-protocol functions against the simulator and loopback listeners.
#include "PelkoFramework/protocol_functions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net_fixture.h"
#include "testsupport/ports.h"

namespace {

using pelko::test::NetTest;

// A TCP listener on 127.0.0.1 that takes one connection, reads up to `want` bytes, answers `reply`
// (nothing when empty) and closes.
class OneShotServer {
 public:
  OneShotServer(size_t want, std::string reply) {
    fd_ = bsd::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = bsd::inet_addr("127.0.0.1");
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t length = sizeof local;
    bsd::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    bsd::listen(fd_, 1);
    thread_ = std::thread([this, want, reply] {
      int c = bsd::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::vector<char> buffer(want);
      size_t got = 0;
      while (got < want) {
        ssize_t n = bsd::recv(c, buffer.data() + got, want - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
        // A command request ends with its end tag.
        if (std::string(buffer.data(), got).find("</CMD>") != std::string::npos) break;
      }
      received.assign(buffer.data(), got);
      if (!reply.empty()) bsd::send(c, reply.data(), reply.size(), 0);
      bsd::close(c);
    });
  }
  ~OneShotServer() {
    bsd::shutdown(fd_, SHUT_RDWR);  // wakes an accept still waiting
    Wait();
    bsd::close(fd_);
  }
  uint16_t port() const { return port_; }
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }
  std::string received;

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

class ProtocolTest : public NetTest {
 protected:
  // One simulated server on 127.0.0.2 whose command port the seam maps 1341 to.
  zarnet::sim::Server& StartServer(std::vector<zarnet::sim::Device> devices) {
    auto options = zarnet::sim::LoopbackServerOptions(2, listPort());
    options.devices = std::move(devices);
    zarnet::sim::Server& server = sim_.AddServer(options);
    std::string error;
    EXPECT_TRUE(sim_.Start(&error)) << error;
    bsd::MapPort(1341, server.command_port(), "127.0.0.2");
    return server;
  }
  static zarnet::sim::Device Printer() {
    zarnet::sim::Device d;
    d.port = 3;
    d.device_class = 7;
    d.vid = 0x04b8;
    d.pid = 0x0005;
    d.product = "Stylus Photo R200";
    return d;
  }
  zarnet::sim::Simulator sim_;
};

TEST_F(ProtocolTest, GetDeviceStringAsksTheServerForTheProductString) {
  StartServer({Printer()});
  char buffer[256];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetDeviceString("127.0.0.2", 3, buffer), 0);
  EXPECT_STREQ(buffer, "Stylus Photo R200");
  EXPECT_EQ(GetDeviceString("127.0.0.2", 9, buffer), 4);  // no device on that port
  tavrin::test::HeldPort nobody(tavrin::test::HeldPort::kStream, "127.0.0.9");
  bsd::MapPort(1341, nobody.port(), "127.0.0.9");
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetDeviceString("127.0.0.9", 3, buffer), -1);  // nobody there
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Error"), std::string::npos);
}

TEST_F(ProtocolTest, AProductStringLongerThanItsRoomOrThanWhatArrivedIsCut) {
  // A reply whose length word claims 4 GB and whose text has no line end.
  std::string reply = "<RSP=7>\n<SCMD=3>\n</SCMD>\n<STATUS=0>\n</STATUS>\n<DATA>\n";
  reply += std::string("\xff\xff\xff\xff", 4) + std::string(400, 'A');
  reply.resize(500);
  OneShotServer server(200, reply);
  bsd::MapPort(1341, server.port(), "127.0.0.1");
  std::vector<char> buffer(300, 'x');
  EXPECT_EQ(GetDeviceString("127.0.0.1", 1, buffer.data()), 0);
  EXPECT_EQ(strlen(buffer.data()), 255u);
  EXPECT_EQ(buffer[256], 'x');  // nothing written past the 256 bytes promised
}

TEST_F(ProtocolTest, SendDeviceRequestDeliversTheRecordWithEachFieldAtItsOffset) {
  OneShotServer peer(331, "");
  bsd::MapPort(kDeviceRequestPort, peer.port());
  testing::internal::CaptureStdout();
  EXPECT_EQ(SendDeviceRequest("127.0.0.1", "127.0.0.2", 5, 0x1234, 0xBEEF), 0);
  fflush(stdout);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Socket connection  Closed"), std::string::npos);
  peer.Wait();
  const std::string& r = peer.received;
  ASSERT_EQ(r.size(), 331u);
  EXPECT_EQ(r.substr(0, 6), "<DREQ=");
  EXPECT_EQ(std::string(r.c_str() + 6), "127.0.0.1");
  EXPECT_EQ(r.substr(6 + 9, 25 - 9), std::string(16, '\0'));
  EXPECT_EQ(std::string(r.c_str() + 31), "127.0.0.2");
  EXPECT_EQ(r.substr(56, 4), std::string("\x05\x00\x00\x00", 4));
  EXPECT_EQ(r.substr(60, 4), std::string("\x34\x12\xef\xbe", 4));
  char host[260] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(std::string(r.c_str() + 64), host);
  EXPECT_EQ(r.substr(324, 7), "</DREQ>");

  // Texts longer than their fields are cut, the record keeps its size.
  OneShotServer again(331, "ok");
  bsd::MapPort(kDeviceRequestPort, again.port());
  std::string longText(60, '9');
  EXPECT_EQ(SendDeviceRequest("127.0.0.1", longText.c_str(), 1, 0, 0), 0);
  again.Wait();
  ASSERT_EQ(again.received.size(), 331u);
  EXPECT_EQ(std::string(again.received.c_str() + 31), std::string(24, '9'));
}

TEST_F(ProtocolTest, SendRemoteClientRequestAsksTheComputerHoldingThePort) {
  zarnet::sim::Device printer = Printer();
  printer.busy = true;
  printer.client_ip = "127.0.0.1";
  StartServer({printer});
  OneShotServer holder(331, "done");
  bsd::MapPort(kDeviceRequestPort, holder.port());
  testing::internal::CaptureStdout();
  EXPECT_EQ(SendRemoteClientRequest("127.0.0.2", 3, 1, 2), 0);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("127.0.0.2- [3] \n"), std::string::npos);
  EXPECT_NE(out.find("getClientIpaddress =3 (127.0.0.1)\n"), std::string::npos);
  holder.Wait();
  ASSERT_EQ(holder.received.size(), 331u);
  EXPECT_EQ(std::string(holder.received.c_str() + 6), "127.0.0.1");
  EXPECT_EQ(std::string(holder.received.c_str() + 31), "127.0.0.2");
  // Nobody holds port 4: done without a request.
  EXPECT_EQ(SendRemoteClientRequest("127.0.0.2", 4, 1, 2), 0);
}

TEST(ConnectionTable, PairsAreReadInOrderAndTextsBounded) {
  clientRecord r{};
  const char* table = "[ConnectionTable]\nport_no1=2\nclient_ip1=10.0.0.5\nport_no2=5\nclient_ip2=10.0.0.9\n"
                      "[Password]\nenable=0\npassword=x=y\n";
  EXPECT_EQ(get_cTable(table, 5, &r), 1);
  EXPECT_EQ(r.port, 5);
  EXPECT_STREQ(r.address, "10.0.0.9");
  EXPECT_EQ(get_cTable(table, 7, &r), 0);  // the [Password] section ends the table
  std::string longer = "[ConnectionTable]\nport_no1=1\nclient_ip1=" + std::string(100, '7') + "\n";
  EXPECT_EQ(get_cTable(longer.c_str(), 1, &r), 1);
  EXPECT_EQ(strlen(r.address), 19u);
  EXPECT_EQ(get_cTable("no table", 1, &r), 0);
  EXPECT_EQ(get_cTable("]\nport_no1=1\n", 1, &r), 0);  // half a pair

  std::string reply = "<RSP=6>\n<STATUS=0>\n</STATUS>\n<DATA>\n[ConnectionTable]\nport_no1=2\nclient_ip1=10.0.0.5\n"
                      "\n</DATA>\n</RSP>";
  EXPECT_EQ(getClientIpaddress(2, reply.c_str(), &r), 1);
  EXPECT_STREQ(r.address, "10.0.0.5");
  EXPECT_EQ(getClientIpaddress(2, reply.c_str(), nullptr), 0);
  reply[16] = '3';
  EXPECT_EQ(getClientIpaddress(2, reply.c_str(), &r), 0);
  EXPECT_EQ(getClientIpaddress(2, "<RSP=6>", &r), 0);
}

TEST(ErrMsg, EndsTheProcessWithAFailureStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(err_msg("boom"), testing::ExitedWithCode(1), "");
}

}  // namespace
