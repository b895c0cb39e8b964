// The product-string thread's work against a simulated server: stored, refused, retried, stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "admin/comm/ProductString.h"
#include "admin/comm/ServerComm.h"
#include "comm_test_util.h"
#include "trace_capture.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/simulator.h"

namespace {

constexpr char kServerIp[] = "127.0.0.3";

class ProductStringTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    InitializeCriticalSection(&lock_);
    deviceLists_ = std::make_unique<UdpSocket>("127.0.0.1");
    server_ = std::make_unique<zarnet::sim::Server>(zarnet::sim::LoopbackServerOptions(3, deviceLists_->port()));
    ASSERT_TRUE(server_->Start());
    ServerCommSettings settings = TestSettings();
    settings.commandPort = server_->command_port();
    SetDefaultServerCommSettings(settings);
  }
  void TearDown() override {
    for (POSITION position = devices_.GetHeadPosition(); position != nullptr;) {
      free(devices_.GetNext(position).ProductString);
    }
    server_.reset();
    deviceLists_.reset();
    DeleteCriticalSection(&lock_);
    CommTest::TearDown();
  }
  // Lists a device of the server on that port, as the device list does before it starts the thread.
  DeviceEntry& List(WORD port) {
    DeviceEntry device{};
    strcpy(device.ServerIp, kServerIp);
    device.PortNum = port;
    device.Vid = 0x03F0;
    device.Pid = 0x0517;
    device.State = DEVICE_STATE_FREE;
    devices_.AddTail(device);
    return devices_.GetTail();
  }
  DWORD Fetch(const DeviceEntry& device) { return FetchProductString(devices_, &lock_, &stop_, device); }

  DeviceList devices_;
  CRITICAL_SECTION lock_;
  volatile LONG stop_ = 0;
  std::unique_ptr<UdpSocket> deviceLists_;
  std::unique_ptr<zarnet::sim::Server> server_;
};

TEST_F(ProductStringTest, TheServersStringIsStored) {
  zarnet::sim::Device printer;
  printer.port = 2;
  printer.product = "LaserJet 1020";
  server_->Plug(printer);
  DeviceEntry& device = List(2);
  EXPECT_EQ(Fetch(device), CMD_RESULT_SUCCESS);
  EXPECT_EQ(device.ProductStringState, 2u);
  ASSERT_NE(device.ProductString, nullptr);
  EXPECT_STREQ(device.ProductString, "LaserJet 1020");
  EXPECT_EQ(device.ProductStringLength, 13u);
}

TEST_F(ProductStringTest, DeviceNotFoundIsFinalAndLeavesNoString) {
  TraceCapture trace;
  DeviceEntry& device = List(5);  // the server has nothing on port 5: STATUS 4
  EXPECT_EQ(Fetch(device), CMD_RESULT_INVALID_RESPONSE);
  EXPECT_TRUE(trace.Contains("ProcessIProdStrDescRsp()::Device not found responce from server\n"));
  EXPECT_FALSE(trace.Contains("Trying again"));  // no second try
  EXPECT_TRUE(trace.Contains("GetIProdStringDescTh >>Error for Server:127.0.0.3, USBPort:5\n"));
  EXPECT_EQ(device.ProductStringState, 2u);
  EXPECT_EQ(device.ProductString, nullptr);
}

TEST_F(ProductStringTest, ConnectionFailuresAreTriedThreeTimes) {
  zarnet::sim::Fault earlyClose;
  earlyClose.kind = zarnet::sim::FaultKind::kEarlyClose;
  earlyClose.times = 2;
  server_->AddFault(earlyClose);
  zarnet::sim::Device disk;
  disk.port = 1;
  disk.product = "Flash Disk";
  server_->Plug(disk);
  DeviceEntry& device = List(1);
  EXPECT_EQ(Fetch(device), CMD_RESULT_SUCCESS);  // the third try gets through
  EXPECT_STREQ(device.ProductString, "Flash Disk");

  server_->Stop();
  DeviceEntry& gone = List(4);
  EXPECT_EQ(Fetch(gone), CMD_RESULT_CONNECT_FAILED);
  EXPECT_EQ(gone.ProductStringState, 2u);
}

TEST_F(ProductStringTest, NothingIsAskedForAnUnlistedDeviceOrAfterMappingStopped) {
  DeviceEntry unlisted{};
  strcpy(unlisted.ServerIp, kServerIp);
  unlisted.PortNum = 9;
  EXPECT_EQ(Fetch(unlisted), CMD_RESULT_NOT_DONE);
  DeviceEntry& device = List(1);
  stop_ = 1;
  EXPECT_EQ(Fetch(device), CMD_RESULT_NOT_DONE);
  EXPECT_EQ(device.ProductStringState, 0u);
  EXPECT_EQ(server_->commands_answered(), 0);
}

// A server that answers one connection with the given bytes, whatever it is asked.
class ScriptedServer {
 public:
  ScriptedServer(const char* address, std::string response) : response_(std::move(response)) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(bind(listener_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
    EXPECT_EQ(listen(listener_, 1), 0);
    thread_ = std::thread([this] {
      SOCKET connection = accept(listener_, nullptr, nullptr);
      if (connection == INVALID_SOCKET) return;
      std::string request;
      char buffer[256];
      int got;
      while (request.find("</CMD>") == std::string::npos && (got = recv(connection, buffer, sizeof(buffer), 0)) > 0) {
        request.append(buffer, static_cast<size_t>(got));
      }
      send(connection, response_.data(), static_cast<int>(response_.size()), 0);
      CloseSocket(connection);
    });
  }
  ~ScriptedServer() {
    thread_.join();
    closesocket(listener_);
  }
  WORD port() const { return LocalPort(listener_); }

 private:
  std::string response_;
  SOCKET listener_;
  std::thread thread_;
};

TEST_F(ProductStringTest, ALengthWordPastTheDataTakesOnlyTheDataBytes) {
  // The length word says 200; the DATA carries three bytes.
  std::string data = std::string("\xC8\x00\x00\x00", 4) + "abc";
  ScriptedServer liar("127.0.0.4", "<RSP=7>\n<SCMD=3>\n</SCMD>\n<STATUS=0>\n</STATUS>\n<DATA>\n" + data +
                                       "\n</DATA>\n</RSP>");
  ServerCommSettings settings = TestSettings();
  settings.commandPort = liar.port();
  SetDefaultServerCommSettings(settings);
  DeviceEntry device{};
  strcpy(device.ServerIp, "127.0.0.4");
  device.PortNum = 1;
  devices_.AddTail(device);
  DeviceEntry& listed = devices_.GetTail();
  EXPECT_EQ(Fetch(listed), CMD_RESULT_SUCCESS);
  EXPECT_EQ(listed.ProductStringLength, 3u);
  EXPECT_STREQ(listed.ProductString, "abc");
}

}  // namespace
