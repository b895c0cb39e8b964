#include "mac_fixture.h"

#include <chrono>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"
#include "TavrinMac/system_commands.h"
#include "cocoa/bsd.h"
#include "zarnet/sim/config.h"

namespace tavrinmac::test {

void MacTest::SetUp() {
  SysrootTest::SetUp();
  pool_ = alloc<NSAutoreleasePool>()->init();
  SetUi(&ui_);
  bsd::ResetNetwork();
  bsd::SetBindAddress("127.0.0.1");
  bsd::SetBroadcastAddress("127.0.0.2,127.0.0.3,127.0.0.4");
  listPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
  discoveryPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
  ASSERT_NE(listPort_, 0);
  ASSERT_NE(discoveryPort_, 0);
  tftpPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
  bsd::MapPort(6000, listPort_);
  bsd::MapPort(1341, discoveryPort_);
  SetConnectTimeoutMs(2000);
  SetServiceRestartPauseMs(0);
  liveBefore_ = cocoa::LiveObjectCount();
}

void MacTest::TearDown() {
  serverManager::joinWorkers();
  sim_.Stop();
  {
    std::lock_guard guard(serverManager::lock());
    serverManager::serversArray()->removeAllObjects();
    serverManager::logsArray()->removeAllObjects();
    serverManager::view() = ServerManagerView{};
    serverManager::form() = ConfigForm{};
  }
  serverManager::setSelectedRow(-1);
  loop = 0;
  SetServiceHandler("tftp", nullptr);
  SetUi(nullptr);
  bsd::ResetNetwork();
  pool_->drain();
  SysrootTest::TearDown();
}

void MacTest::StartServers() {
  std::string error;
  auto config = zarnet::sim::LoadConfigFile(SIM_DEFAULT_CONF, &error);
  ASSERT_TRUE(config) << error;
  for (zarnet::sim::ServerOptions options : config->servers) {
    options.command_port = 0;
    options.data_port = 0;
    options.broadcast_address = "127.0.0.1";
    options.broadcast_port = listPort_;
    options.broadcast_period = std::chrono::milliseconds(50);
    options.restart_delay = std::chrono::milliseconds(50);
    options.folder = root().string();
    options.tftp_port = tftpPort_;
    sim_.AddServer(options);
  }
  ASSERT_TRUE(sim_.Start(&error)) << error;
  for (size_t i = 0; i < sim_.size(); ++i) {
    zarnet::sim::Server& s = sim_.server(i);
    bsd::MapPort(1341, s.command_port(), s.address());
    bsd::MapPort(3240, s.data_port(), s.address());
  }
}

zarnet::sim::Server& MacTest::server(const std::string& address) {
  for (size_t i = 0; i < sim_.size(); ++i)
    if (sim_.server(i).address() == address) return sim_.server(i);
  throw std::runtime_error("no server at " + address);
}

std::vector<std::string> MacTest::ServerLogLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < serverManager::numberOfLogLines(); ++i) lines.push_back(serverManager::logCellText("2", i));
  return lines;
}

bool MacTest::HasLine(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line == text) return true;
  return false;
}

bool MacTest::WaitForServerLog(const std::string& text, int timeoutMs) {
  return ui_.WaitUntil([&] { return HasLine(ServerLogLines(), text); }, timeoutMs);
}

}  // namespace tavrinmac::test
