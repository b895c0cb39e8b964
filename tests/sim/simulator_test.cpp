// Several servers at once, the configuration file and the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "sim_test_util.h"
#include "testsupport/child_process.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "zarnet/command.h"
#include "zarnet/device_list.h"
#include "zarnet/discovery.h"
#include "zarnet/sim/config.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace simtest;
using namespace zarnet;
using namespace zarnet::sim;

TEST(Simulator, ThreeServersOnTheirOwnAddresses) {
  Udp listener;
  Simulator sim;
  for (int n = 2; n <= 4; ++n) {
    ServerOptions o = LoopbackServerOptions(n, listener.port());
    Device d;
    d.port = static_cast<uint16_t>(n);
    d.product = "device " + std::to_string(n);
    o.devices = {d};
    sim.AddServer(o);
  }
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;

  for (int n = 2; n <= 4; ++n) {
    std::string ip = "127.0.0." + std::to_string(n);
    Server& server = sim.server(static_cast<size_t>(n - 2));
    Udp client;
    client.SendTo(EncodeDiscoveryRequest(), ip, server.command_port());
    auto reply = client.Receive(1000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(DecodeDiscoveryReply(*reply)->name, "zarnet-" + std::to_string(n));

    auto list = listener.ReceiveFrom(ip, 1000ms);
    ASSERT_TRUE(list);
    auto view = DecodeServerDeviceList(*list);
    EXPECT_EQ(view->server_id, 0x5A000000u + n);
    ASSERT_EQ(view->devices.size(), 1u);
    EXPECT_EQ(+view->devices[0].portnum, n);

    Exchange product = Command(ip, server.command_port(), EncodeCommandRequest(7, std::to_string(n)));
    EXPECT_NE(product.response.find("device " + std::to_string(n)), std::string::npos);
  }
  EXPECT_EQ(sim.Find("zarnet-3"), &sim.server(1));
  EXPECT_EQ(sim.Find("nobody"), nullptr);
  sim.Stop();
}

TEST(Simulator, ConcurrentCommandsOnOneServer) {
  Udp lists;
  Server server(LoopbackServerOptions(7, lists.port()));
  ASSERT_TRUE(server.Start());
  Fault silence{FaultKind::kSilence};
  silence.command = kCmdResetServer;
  server.AddFault(silence);
  // A connection held open does not stop the others.
  std::thread held([&] { Command("127.0.0.7", server.command_port(), EncodeCommandRequest(2), 500ms); });
  std::vector<std::thread> clients;
  std::atomic<int> answered{0};
  for (int i = 0; i < 8; ++i)
    clients.emplace_back([&] {
      if (Command("127.0.0.7", server.command_port(), EncodeCommandRequest(4)).closed) ++answered;
    });
  for (auto& t : clients) t.join();
  held.join();
  EXPECT_EQ(answered.load(), 8);
}

TEST(SimConfig, BundledConfigurationDescribesItsServers) {
  std::string error;
  auto config = LoadConfigFile(ZARNET_SIM_DEFAULT_CONF, &error);
  ASSERT_TRUE(config) << error;
  ASSERT_EQ(config->servers.size(), 3u);
  const ServerOptions& office = config->servers[0];
  EXPECT_EQ(office.name, "zarnet-office");
  EXPECT_EQ(office.address, "127.0.0.2");
  EXPECT_EQ(office.command_port, 1341);
  EXPECT_EQ(office.broadcast_address, "127.0.0.1");
  EXPECT_EQ(office.broadcast_port, 6000);
  EXPECT_EQ(office.fw_minor, 12);
  ASSERT_EQ(office.devices.size(), 2u);
  EXPECT_EQ(office.devices[0].device_class, 7);
  EXPECT_EQ(office.devices[1].busy, true);
  EXPECT_TRUE(config->servers[1].password_enable);
  for (const auto& server : config->servers) {
    EXPECT_EQ(server.broadcast_address.rfind("127.", 0), 0u);
    EXPECT_EQ(server.address.rfind("127.", 0), 0u);
  }
}

TEST(SimConfig, SettingsFaultsAndErrors) {
  std::string error;
  auto config = ParseConfig(
      "# comment\n[sim]\nbroadcast = 127.0.0.1:7000\nbroadcast_period_ms=25\n"
      "[server a]\naddress=127.0.0.9\ncommand_port=0\nmac=00-11-22-33-44-55\nfw_version=3.1\n"
      "fault = split chunk=4 delay_ms=20 command=4 times=2\nfault = silence target=discovery\n"
      "[device]\nport=3\nvid=0x1234\nbusy=yes\nclient=127.0.0.1\nproduct=A = B\n",
      &error);
  ASSERT_TRUE(config) << error;
  const ServerOptions& a = config->servers.at(0);
  EXPECT_EQ(a.broadcast_port, 7000);
  EXPECT_EQ(a.broadcast_period, std::chrono::milliseconds(25));
  EXPECT_EQ(a.mac[5], 0x55);
  EXPECT_EQ(a.fw_major, 3);
  EXPECT_EQ(a.fw_minor, 1);
  ASSERT_EQ(a.faults.size(), 2u);
  EXPECT_EQ(a.faults[0].kind, FaultKind::kSplit);
  EXPECT_EQ(a.faults[0].chunk, 4u);
  EXPECT_EQ(a.faults[0].delay, std::chrono::milliseconds(20));
  EXPECT_EQ(a.faults[0].command, 4u);
  EXPECT_EQ(a.faults[0].times, 2);
  EXPECT_EQ(a.faults[1].target, FaultTarget::kDiscovery);
  EXPECT_EQ(a.devices.at(0).vid, 0x1234);
  EXPECT_EQ(a.devices.at(0).product, "A = B");

  EXPECT_FALSE(ParseConfig("[device]\nport=1\n", &error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(ParseConfig("[server a]\n\nspeed=1\n", &error));
  EXPECT_EQ(error, "line 3: unknown key \"speed\"");
  EXPECT_FALSE(ParseConfig("[server a]\ncommand_port=70000\n", &error));
  EXPECT_FALSE(ParseConfig("[server a]\nfault=sideways\n", &error));
  EXPECT_EQ(error, "line 2: unknown fault \"sideways\"");
  EXPECT_FALSE(ParseConfig("[server a]\nmac=00:11:22:33:44\n", &error));
  EXPECT_FALSE(ParseConfig("[server]\n", &error));
}

TEST(SimProgram, RunsUntilTerminatedAndStopsCleanly) {
  Udp listener;
  std::filesystem::path temp = tavrin::test::MakeTempDir("zarnet-sim");
  std::string dir = temp.string();
  std::string conf = dir + "/sim.conf";
  std::ofstream(conf) << "[sim]\nbroadcast = 127.0.0.1:" << listener.port()
                      << "\nbroadcast_period_ms = 30\n[server p]\naddress = 127.0.0.8\ncommand_port = 0\ndata_port = 0\n"
                         "server_id = 77\n[device]\nport = 1\n";
  std::string out = dir + "/out.txt";
  const pid_t pid = tavrin::test::StartChild({ZARNET_SIM_PROGRAM, "--config", conf, "--quiet"},
                                             tavrin::test::ChildSetup().Open(STDOUT_FILENO, out, O_WRONLY | O_CREAT | O_TRUNC));
  ASSERT_GT(pid, 0);

  auto list = listener.ReceiveFrom("127.0.0.8", 10000ms);
  kill(pid, SIGTERM);
  const std::optional<int> code = tavrin::test::WaitForExit(pid, 10s);
  if (!code) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ASSERT_TRUE(list);
  EXPECT_EQ(DecodeServerDeviceList(*list)->server_id, 77u);
  EXPECT_EQ(code, 0);  // it ended of itself when asked
  std::ifstream printed(out);
  std::string text((std::istreambuf_iterator<char>(printed)), {});
  EXPECT_EQ(text, "zarnet-sim: 1 servers running\nzarnet-sim: stopped\n");
  std::filesystem::remove_all(temp);
}

}  // namespace
