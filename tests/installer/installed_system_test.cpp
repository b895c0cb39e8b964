// An installed system at work: TavrinSetup puts the product on a fresh sysroot from the staged medium,
// with the kernel-host program running; then device mapping hears simulated servers and a device
// connects through the bus driver that the installation brought in.
//
// The installed TavrinAdmin listens and connects on the production ports only, which a test must not
// take; so once setup has shown it running, it is shut down as an installer does, and the same program
// runs in the test's thread with the simulated servers' loopback ports, against the installed drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/comm/CommSettings.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "installed_programs.h"
#include "testsupport/admin_app.h"
#include "testsupport/admin_helpers.h"
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

constexpr int kServer = 71;  // 127.0.0.71
constexpr uint16_t kPort = 2;

class InstalledSystemTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    setenv("TAVRIN_SETUP_PAUSE_MS", "0", 1);
    setenv("TAVRIN_MSGBOX_ANSWER", "1", 1);
    ASSERT_EQ(StageMedia(), 0);
    // The kernel host with the bus driver: it loads only what an installed INF names.
    host_ = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string(),
                                                              std::vector<std::string>{});
    ASSERT_TRUE(host_->WaitReady(10000));
    listenPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(kServer, listenPort_);
    zarnet::sim::Device storage;
    storage.port = kPort;
    storage.device_class = 8;
    storage.vid = 0x0781;
    storage.pid = 0x5567;
    storage.rev = 0x0100;
    options.devices = {storage};
    server_ = &sim_.AddServer(options);
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;
  }
  void TearDown() override {
    tavrin::test::StopAdminApp(app_);
    tavrin::SetMessageBoxSink({});
    KillAdmin();
    sim_.Stop();
    host_.reset();
    unsetenv("TAVRIN_SETUP_PAUSE_MS");
    unsetenv("TAVRIN_MSGBOX_ANSWER");
    SysrootTest::TearDown();
  }

  // The installed TavrinAdmin ends the way the installers end it: its shut-down event.
  void ShutDownInstalledAdmin() {
    const pid_t pid = AdminPid();
    ASSERT_GT(pid, 0);
    const int watch = WatchProcess(pid);
    ASSERT_GE(watch, 0);
    HANDLE shutDown = nullptr;
    for (int i = 0; i < 1000 && !(shutDown = OpenEvent(EVENT_MODIFY_STATE, FALSE, kShutDownEventName)); ++i)
      usleep(10000);  // until its start-up has made the event
    ASSERT_NE(shutDown, nullptr);
    SetEvent(shutDown);
    CloseHandle(shutDown);
    EXPECT_TRUE(Exited(watch, 10000));
    close(watch);
  }

  // The program in this thread, pointed at the simulated server.
  void StartAdmin() {
    tavrin::test::SetAdminTestParameters(150);
    ServerCommSettings settings;
    settings.commandPort = server_->command_port();
    settings.commandRecvTimeoutMs = 100;
    settings.commandRecvTimeoutLimit = 20;
    settings.processDelayMs = 0;
    settings.productStringAttempts = 1;
    SetDefaultServerCommSettings(settings);
    tavrin::SetMessageBoxSink([](const std::string&, const std::string&, UINT) { return IDOK; });
    tavrin::test::StartAdminApp(app_);
    if (HasFatalFailure()) return;
    doc_ = app_->GetDocument();
    ASSERT_NE(doc_, nullptr);
    pane_ = GetAdminMainFrame()->GetFunctionView();
    ASSERT_NE(pane_, nullptr);
    doc_->m_ulDeviceListAddress = inet_addr("127.0.0.1");
    doc_->m_wDeviceListPort = listenPort_;
    doc_->m_wServerDataPort = server_->data_port();
    DocPauses pauses;
    pauses.StopPumpMs = 0;
    pauses.BusUpDelayMs = 1;
    doc_->SetPauses(pauses);
  }

  bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!app_->PreTranslateMessage(&msg)) {
          TranslateMessage(&msg);
          DispatchMessage(&msg);
        }
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }

  // The device's row in the functional pane, selected; null when it is not shown.
  const TreeDeviceItem* SelectDevice() {
    const std::string ip = "127.0.0." + std::to_string(kServer);
    for (size_t s = 0; s < pane_->m_DeviceTree.size(); ++s) {
      CString text;
      pane_->GetServerIPFromItem(&pane_->m_DeviceTree[s], text);
      if (!(text == ip.c_str())) continue;
      const auto& devices = pane_->m_DeviceTree[s].Devices;
      for (size_t d = 0; d < devices.size(); ++d) {
        if (!(devices[d].Port == std::to_string(kPort).c_str())) continue;
        pane_->m_nSelectedServer = static_cast<int>(s);
        pane_->m_nSelectedDevice = static_cast<int>(d);
        return &devices[d];
      }
    }
    return nullptr;
  }
  bool DeviceShows(const char* state) {
    const TreeDeviceItem* row = SelectDevice();
    return row && row->State == state;
  }
  bool ServerHolds(bool busy) {
    auto devices = server_->devices();
    return !devices.empty() && devices[0].busy == busy;
  }
  // Started nodes whose instance id begins so, or whose service is so.
  static size_t LiveNodes(const std::function<bool(const tavrin::device_nodes::LiveNode&)>& match) {
    auto nodes = tavrin::device_nodes::QueryLiveNodes();
    return static_cast<size_t>(std::count_if(nodes.begin(), nodes.end(), [&](const auto& n) {
      return n.started && match(n);
    }));
  }

  std::unique_ptr<tavrin::test::KernelHostProcess> host_;
  zarnet::sim::Simulator sim_;
  zarnet::sim::Server* server_ = nullptr;
  uint16_t listenPort_ = 0;
  std::unique_ptr<CTavrinAdminApp> app_;
  CTavrinAdminDoc* doc_ = nullptr;
  CFunctionView* pane_ = nullptr;
};

TEST_F(InstalledSystemTest, MappingHearsTheServersAndADeviceConnectsThroughTheInstalledBusDriver) {
  ASSERT_EQ(RunSetup(), 0);
  EXPECT_EQ(LiveNodes([](const auto& n) { return n.instanceId == "ROOT\\VIZORIDO\\0000"; }), 1u);
  ShutDownInstalledAdmin();
  StartAdmin();
  if (HasFatalFailure()) return;

  GetAdminMainFrame()->SendMessage(WM_COMMAND, ID_START_DEVICE_MAPPING, 0);
  ASSERT_TRUE(doc_->IsDeviceMappingStarted());
  ASSERT_TRUE(PumpUntil([&] { return doc_->IsListenerRunning(); })) << tavrin::test::ReadAdminLog();
  ASSERT_TRUE(PumpUntil([&] { return DeviceShows("Free"); })) << tavrin::test::ReadAdminLog();

  ASSERT_NE(SelectDevice(), nullptr);
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(PumpUntil([&] { return DeviceShows("Connected"); })) << tavrin::test::ReadAdminLog();
  EXPECT_TRUE(ServerHolds(true));
  EXPECT_EQ(server_->devices()[0].client_ip, "127.0.0.1");
  EXPECT_EQ(server_->negotiation().claims, 1);
  // The bus driver runs on the enumerator's server node under the service the installed INF names, and
  // the device has its own node under it.
  EXPECT_GE(LiveNodes([](const auto& n) { return n.service == "VUSB"; }), 1u);
  EXPECT_EQ(LiveNodes([](const auto& n) { return n.instanceId.rfind("USB\\", 0) == 0; }), 1u);

  ASSERT_NE(SelectDevice(), nullptr);
  doc_->OnConnectDisconnect();
  EXPECT_TRUE(server_->WaitUntil([&] { return ServerHolds(false); }, 5s));
  ASSERT_TRUE(PumpUntil([&] { return DeviceShows("Free"); })) << tavrin::test::ReadAdminLog();
  EXPECT_EQ(LiveNodes([](const auto& n) { return n.instanceId.rfind("USB\\", 0) == 0; }), 0u);
}

}  // namespace
