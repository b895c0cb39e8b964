// The product-string fetches of the device list against simulated servers: a slow server is bounded by
// the response deadline, the stop wakes a fetch under way, and slow servers do not hold up the others.
#include <chrono>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "admin/comm/CommSettings.h"
#include "admin/ui/FunctionView.h"
#include "presence_fixture.h"
#include "zarnet/sim/faults.h"
#include "zarnet/sim/server.h"

namespace presence_test {
namespace {

// The document's panes as far as the tree goes: the functional pane alone.
class TreePanes : public IDocPanes {
 public:
  explicit TreePanes(CFunctionView& pane) : pane_(pane) {}
  void SetStatusText(LPCSTR) override {}
  int ShowMessageBox(LPCSTR, UINT) override { return IDCANCEL; }
  HWND GetMainWindow() const override { return nullptr; }
  void AddDeviceMappingLog(LPCSTR) override {}
  void AddServerManagerLog(LPCSTR) override {}
  void ShowDeviceDetails(LPCSTR, WORD) override {}
  void ClearDeviceDetails() override {}
  void ShowServerManagerDetails(LPCSTR) override {}
  void ClearServerDetails() override {}
  HWND GetFunctionWindow() const override { return nullptr; }
  void DeleteServerItem(LPCSTR serverIp) override { pane_.DeleteServerItem(serverIp); }
  void DeleteDeviceItem(const DeviceEntry& device) override { pane_.DeleteDeviceItem(device); }
  void DeleteAllTreeItems() override { pane_.DeleteAllTreeItems(); }
  BOOL GetSelectedDevice(CString*, WORD*, CString*) override { return FALSE; }
  void MarkSelectedDevice(BOOL, BOOL) override {}
  void KillMappingTimers() override {}
  BOOL OpenWaitWindow(LPCSTR, int) override { return TRUE; }
  void CloseWaitWindow() override {}

 private:
  CFunctionView& pane_;
};

class ProductStringFetchTest : public DocUnitTest {
 protected:
  void SetUp() override {
    DocUnitTest::SetUp();
    if (HasFatalFailure()) return;
    commandPort_ = FreeLoopbackPort(SOCK_STREAM);
    ServerCommSettings settings = GetDefaultServerCommSettings();
    settings.commandPort = commandPort_;
    settings.commandRecvTimeoutMs = 1000;  // longer than the pause between two bytes of a slow server
    settings.commandRecvTimeoutLimit = 10;
    settings.commandResponseTimeoutMs = 60000;  // unless a test says otherwise
    settings.productStringAttempts = 1;
    SetDefaultServerCommSettings(settings);
  }
  void TearDown() override {
    doc_->SetPanes(nullptr);  // a test's panes are gone by now
    // The fetches end before the servers they talk to.
    doc_->StopBroadcastListener();
    doc_->StopProductStringFetches();
    servers_.clear();
    DocUnitTest::TearDown();
  }
  // A server on 127.0.0.<last> with one device on port 1; `slow`: its answers trickle in a byte at a time.
  void AddServer(int last, bool slow) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(last, deviceLists_.port());
    options.command_port = commandPort_;
    options.broadcast_period = std::chrono::hours(1);
    options.devices = {SimDevice(1, 7, 0x03F0, 0x0517, 0x0100, "Printer " + std::to_string(last))};
    if (slow) {
      zarnet::sim::Fault drip;
      drip.kind = zarnet::sim::FaultKind::kSplit;
      drip.chunk = 1;
      drip.delay = std::chrono::milliseconds(150);
      options.faults = {drip};
    }
    servers_.push_back(std::make_unique<zarnet::sim::Server>(options));
    ASSERT_TRUE(servers_.back()->Start());
  }
  void List(int last) { Receive(last, 0x100 + last, {DevInfo(1, 7, 0x03F0, 0x0517, 0x0100)}); }
  void SetResponseDeadline(DWORD milliseconds) {
    ServerCommSettings settings = GetDefaultServerCommSettings();
    settings.commandResponseTimeoutMs = milliseconds;
    SetDefaultServerCommSettings(settings);
  }

  uint16_t commandPort_ = 0;
  std::vector<std::unique_ptr<zarnet::sim::Server>> servers_;
};

TEST_F(ProductStringFetchTest, AServerThatAnswersAByteAtATimeIsGivenUpAtTheResponseDeadline) {
  SetResponseDeadline(400);
  AddServer(3, true);
  List(3);
  ASSERT_TRUE(Eventually([&] { return Device(3, 1).ProductStringState == 2; }, std::chrono::seconds(20)));
  EXPECT_EQ(Device(3, 1).ProductString, nullptr);  // shown by its identifiers
  EXPECT_NE(ReadTraceLog().find("No whole response within 400 ms"), std::string::npos);
}

TEST_F(ProductStringFetchTest, TheStopEndsAFetchThatWaitsForASlowServer) {
  AddServer(3, true);
  List(3);
  ASSERT_TRUE(Eventually([] { return ReadTraceLog().find("Bytes Received : 1") != std::string::npos; },
                      std::chrono::seconds(10)));
  doc_->StopBroadcastListener();  // the stop flag
  doc_->StopProductStringFetches();
  const std::string log = ReadTraceLog();
  // The receive was cut short: the whole answer never came.
  EXPECT_EQ(log.find("</Rsp> tag has been received"), std::string::npos);
  EXPECT_NE(Device(3, 1).ProductStringState, 2u);
}

TEST_F(ProductStringFetchTest, FourSlowServersDoNotHoldUpTheOthersStrings) {
  for (int last = 2; last <= 5; ++last) AddServer(last, true);
  for (int last = 10; last <= 15; ++last) AddServer(last, false);
  for (int last = 2; last <= 5; ++last) List(last);
  for (int last = 10; last <= 15; ++last) List(last);
  ASSERT_TRUE(Eventually(
      [&] {
        for (int last = 10; last <= 15; ++last)
          if (Device(last, 1).ProductStringState != 2) return false;
        return true;
      },
      std::chrono::seconds(10)));
  for (int last = 10; last <= 15; ++last) {
    ASSERT_NE(Device(last, 1).ProductString, nullptr);
    EXPECT_EQ(std::string(Device(last, 1).ProductString), "Printer " + std::to_string(last));
  }
  // Still trickling (or, on a busy machine, not yet begun): none has its string.
  for (int last = 2; last <= 5; ++last) EXPECT_NE(Device(last, 1).ProductStringState, 2u);
}

// A device whose release number changes on the same port is a second entry; its product string is
// fetched for it and stored on it (not on the first entry of that port), it is shown under that string,
// and the old entry leaves at the next check.
TEST_F(ProductStringFetchTest, ADeviceWhoseReleaseChangesGetsItsOwnProductString) {
  AddServer(3, false);
  tavrin::test::PaneHost host(doc_.get(), RUNTIME_CLASS(CFunctionView));
  CFunctionView& pane = host.as<CFunctionView>();
  TreePanes panes(pane);
  doc_->SetPanes(&panes);
  auto refresh = [&] { doc_->Refresh([&] { pane.RefreshServerList(); }, [&] { pane.RefreshDeviceTree(); }); };
  auto shownNames = [&] {
    std::vector<std::string> names;
    for (const TreeServerItem& server : pane.GetDeviceTree())
      for (const TreeDeviceItem& device : server.Devices) names.push_back(device.Name.str());
    return names;
  };
  auto listed = [&](WORD rev) {
    DeviceEntry found{};
    doc_->ForEachDevice([&](DeviceEntry& device) {
      if (device.PortNum == 1 && device.Rev == rev) found = device;
    });
    return found;
  };
  // The server answers the refresh's arrival as the enumerator would.
  auto answerServers = [&] {
    for (int slot = 0; slot < kRequestTableSlots; ++slot) {
      if (doc_->ServerRequests().At(slot).RequestId == 0) continue;
      doc_->ServerRequests().Edit(slot, [](SERVER_ARRIVALREMOVAL_INFO& s) { s.Status = ARRM_STATUS_SUCCESS; });
      doc_->OnServerAnswer(static_cast<DWORD>(slot + 1));
    }
  };

  Receive(3, 0x103, {DevInfo(1, 7, 0x03F0, 0x0517, 0x0100)});
  ASSERT_TRUE(Eventually([&] { return listed(0x0100).ProductStringState == 2; }, std::chrono::seconds(10)));
  refresh();
  answerServers();
  Receive(3, 0x103, {DevInfo(1, 7, 0x03F0, 0x0517, 0x0100)});
  refresh();
  EXPECT_EQ(shownNames(), std::vector<std::string>{"Printer 3"});

  // The server now reports a new release on port 1, with another product string.
  servers_[0]->Plug(SimDevice(1, 7, 0x03F0, 0x0517, 0x0200, "Printer 3 mark II"));
  Receive(3, 0x103, {DevInfo(1, 7, 0x03F0, 0x0517, 0x0200)});
  ASSERT_TRUE(Eventually([&] { return listed(0x0200).ProductStringState == 2; }, std::chrono::seconds(10)))
      << "the new entry never got its product string";
  ASSERT_NE(listed(0x0200).ProductString, nullptr);
  EXPECT_STREQ(listed(0x0200).ProductString, "Printer 3 mark II");
  EXPECT_STREQ(listed(0x0100).ProductString, "Printer 3");  // the old entry kept its own
  refresh();  // the old release was not listed since the last refresh: it leaves
  Receive(3, 0x103, {DevInfo(1, 7, 0x03F0, 0x0517, 0x0200)});
  refresh();
  EXPECT_EQ(listed(0x0100).Vid, 0);
  EXPECT_EQ(doc_->GetDeviceCount(), 1);
  EXPECT_EQ(shownNames(), std::vector<std::string>{"Printer 3 mark II"});
  EXPECT_EQ(ReadTraceLog().find("Error : Element not deleted even though it is not alive"), std::string::npos);
  doc_->SetPanes(nullptr);
  doc_->RemoveView(&pane);
}

}  // namespace
}  // namespace presence_test
