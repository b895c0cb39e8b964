// An installed system at work: TavrinSetup puts the product on a fresh sysroot from the staged medium,
// with the kernel-host program running, and starts the installed TavrinAdmin; that program maps the
// simulated servers and connects a printer through the bus driver the installation brought in, driven
// from outside as a user drives it. TAVRIN_ADMIN_NET, inherited through setup, keeps it on loopback ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "admin/TavrinAdminApp.h"
#include "installed_programs.h"
#include "testsupport/eventually.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sysroot.h"
#include "win32/devices/device_nodes.h"
#include "win32/sync.h"
#include "win32/user.h"
#include "win32/windows.h"
#include "win32/winsock.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace installed;
using namespace std::chrono_literals;
using tavrin::test::Eventually;

constexpr int kServer = 71;  // 127.0.0.71
constexpr uint16_t kPort = 2;
constexpr char kPrinter[] = "Test LaserPrinter";

class InstalledSystemTest : public MediumTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MediumTest::SetUp());
    // The kernel host with the bus driver: it loads only what an installed INF names.
    host_ = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string(),
                                                              std::vector<std::string>{});
    ASSERT_TRUE(host_->WaitReady(10000));
    const uint16_t listenPort = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(kServer, listenPort);
    zarnet::sim::Device printer;
    printer.port = kPort;
    printer.device_class = 7;
    printer.subclass = 1;
    printer.protocol = 2;
    printer.vid = 0x03F0;
    printer.pid = 0x2B17;
    printer.rev = 0x0100;
    printer.product = "Test LaserPrinter 1020";
    options.devices = {printer};
    server_ = &sim_.AddServer(options);
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;
    const std::string network = "bind=127.0.0.1;devicelist=" + std::to_string(listenPort) +
                                ";broadcast=127.0.0." + std::to_string(kServer) +
                                ";discovery=" + std::to_string(server_->command_port()) +
                                ";command=" + std::to_string(server_->command_port()) +
                                ";data=" + std::to_string(server_->data_port());
    setenv("TAVRIN_ADMIN_NET", network.c_str(), 1);
  }
  void TearDown() override {
    KillAdmin();
    sim_.Stop();
    host_.reset();
    unsetenv("TAVRIN_ADMIN_NET");
    MediumTest::TearDown();
  }

  static int Ctl(const std::string& arguments) {
    return RunCommand(std::string("'") + TAVRIN_CTL_PROGRAM + "' " + arguments);
  }
  static std::string AdminLog() { return Text("C:\\WINDOWS\\TavrinAdmin.log"); }

  // The installed TavrinAdmin ends the way the installers end it: its shut-down event.
  void ShutDownInstalledAdmin() {
    const pid_t pid = AdminPid();
    ASSERT_GT(pid, 0);
    const int watch = WatchProcess(pid);
    ASSERT_GE(watch, 0);
    HANDLE shutDown = nullptr;
    ASSERT_TRUE(Eventually([&] { return (shutDown = OpenEvent(EVENT_MODIFY_STATE, FALSE, kShutDownEventName)); }));
    SetEvent(shutDown);
    CloseHandle(shutDown);
    EXPECT_TRUE(Exited(watch, 10000)) << AdminLog();
    close(watch);
  }

  bool ServerHolds(bool busy) {
    auto devices = server_->devices();
    return !devices.empty() && devices[0].busy == busy;
  }
  // Started nodes that match.
  static size_t LiveNodes(const std::function<bool(const tavrin::device_nodes::LiveNode&)>& match) {
    auto nodes = tavrin::device_nodes::QueryLiveNodes();
    return static_cast<size_t>(std::count_if(nodes.begin(), nodes.end(), [&](const auto& n) {
      return n.started && match(n);
    }));
  }
  static bool IsDeviceNode(const tavrin::device_nodes::LiveNode& n) { return n.instanceId.rfind("USB\\", 0) == 0; }

  std::unique_ptr<tavrin::test::KernelHostProcess> host_;
  zarnet::sim::Simulator sim_;
  zarnet::sim::Server* server_ = nullptr;
};

TEST_F(InstalledSystemTest, InstalledAdminMapsTheServersAndConnectsAPrinterThroughTheInstalledBusDriver) {
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  EXPECT_EQ(LiveNodes([](const auto& n) { return n.instanceId == "ROOT\\VIZORIDO\\0000"; }), 1u);
  ASSERT_GT(AdminPid(), 0);
  // A printer installed once on the server's port, set to connect while it has jobs.
  ASSERT_EQ(Ctl(std::string("add-printer '") + kPrinter + "' 127.0.0." + std::to_string(kServer) + " " +
                std::to_string(kPort) + " 0x03F0 0x2B17 0x0100"),
            0);
  // "Start Device Mapping" from the menu, once the main window is there.
  ASSERT_TRUE(Eventually([] { return Ctl("command 32866") == 0; }));
  // The server heard: the bus driver runs on its node (and on the special server's), under the service the
  // installed INF names. A job queued before then would be refused by the driver.
  ASSERT_TRUE(Eventually([] { return LiveNodes([](const auto& n) { return n.service == "VUSB"; }) >= 2u; }))
      << AdminLog();

  // A print job: the program claims the printer and the bus driver brings the printer's node up.
  ASSERT_EQ(Ctl(std::string("print '") + kPrinter + "'"), 0);
  ASSERT_TRUE(server_->WaitUntil([&] { return ServerHolds(true); }, 10s)) << AdminLog();
  EXPECT_EQ(server_->devices()[0].client_ip, "127.0.0.1");
  EXPECT_EQ(server_->negotiation().claims, 1);
  // The printer has its own node under the server's.
  EXPECT_TRUE(Eventually([] { return LiveNodes(IsDeviceNode) == 1u; }));

  // The job done, the printer is let go and its node goes.
  ASSERT_EQ(Ctl(std::string("print-done '") + kPrinter + "'"), 0);
  EXPECT_TRUE(server_->WaitUntil([&] { return ServerHolds(false); }, 10s)) << AdminLog();
  EXPECT_TRUE(Eventually([] { return LiveNodes(IsDeviceNode) == 0u; }));

  ShutDownInstalledAdmin();
}

}  // namespace
