// The whole application with the bus driver itself in the kernel host: "Connect" negotiates with the
// simulated server over its data port, the server then broadcasts the device as busy, the child device
// node comes and goes, "Disconnect" frees the device again.
#include <chrono>

#include "pelkobus/pelkobus.h"
#include "zarnet/sim/faults.h"
#include "presence_fixture.h"
#include "wdk/kernel.h"

namespace presence_test {
namespace {

using namespace std::chrono_literals;

bool ShowsState(const TreeDeviceItem* row, const char* state) { return row && row->State == state; }

class BusDriverMappingTest : public MappingTest {
 protected:
  tavrin::kernel_host::Options HostOptions() override {
    tavrin::kernel_host::Options options;
    options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
    return options;
  }
  size_t ChildNodes() {
    host_->kernel().WaitForPnpIdle();
    size_t n = 0;
    for (const auto& node : host_->kernel().DeviceNodes())
      if (node.instanceId.rfind("USB\\", 0) == 0 && node.started) ++n;
    return n;
  }
};

TEST_F(BusDriverMappingTest, ConnectClaimsTheDeviceAndDisconnectFreesIt) {
  zarnet::sim::Server& server = AddServer(62, {SimDevice(3, 8, 0x0781, 0x5567, 0x0100)});
  StartServers();
  doc_->m_wServerDataPort = server.data_port();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(62, 3), "Free"); })) << ReadTraceLog();

  ASSERT_TRUE(Select(62, 3));
  auto asked = std::chrono::steady_clock::now();
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(62, 3), "Connected"); }, 2000)) << ReadTraceLog();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
  zarnet::sim::NegotiationStats stats = server.negotiation();
  EXPECT_EQ(stats.connections, 3);
  EXPECT_EQ(stats.signatures, 1);
  EXPECT_EQ(stats.free_tests, 1);
  EXPECT_EQ(stats.claims, 1);
  EXPECT_TRUE(server.devices()[0].busy);
  EXPECT_EQ(server.devices()[0].client_ip, "127.0.0.1");
  EXPECT_EQ(ChildNodes(), 1u);
  EXPECT_TRUE(IsPlugged(62, 3));

  ASSERT_TRUE(Select(62, 3));
  asked = std::chrono::steady_clock::now();
  doc_->OnConnectDisconnect();
  EXPECT_TRUE(server.WaitUntil([&] { return !server.devices()[0].busy; }, 1000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(62, 3), "Free"); })) << ReadTraceLog();
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_FALSE(IsPlugged(62, 3));
}

TEST_F(BusDriverMappingTest, ABusyDeviceAtTheServerFailsToConnect) {
  zarnet::sim::Server& server = AddServer(63, {SimDevice(2, 3, 0x046D, 0xC31C, 0x6400)});
  server.AddFault(*zarnet::sim::ParseFault("busy step=free"));
  StartServers();
  doc_->m_wServerDataPort = server.data_port();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(63, 2), "Free"); })) << ReadTraceLog();
  ASSERT_TRUE(Select(63, 2));
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(PumpUntil([&] { return !ShowsState(DeviceRow(63, 2), "Loading..."); }, 5000)) << ReadTraceLog();
  EXPECT_FALSE(ShowsState(DeviceRow(63, 2), "Connected"));
  EXPECT_FALSE(IsPlugged(63, 2));
  EXPECT_EQ(ChildNodes(), 0u);
}

}  // namespace
}  // namespace presence_test
