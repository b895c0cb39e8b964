// The details pane: a device's and a server's details in Device Mapping mode, and a server's configuration
// and connected computers fetched from a simulated server behind the wait window, cached by the address
// they were fetched for, refused while another fetch runs, and fetched anew by Refresh.
#include <gtest/gtest.h>

#include "admin/comm/CommSettings.h"
#include "admin/ui/UIThread.h"
#include "panes_fixture.h"
#include "testsupport/message_pump.h"
#include "zarnet/sim/simulator.h"

namespace panes_test {
namespace {

std::vector<std::string> Texts(const std::vector<CString>& rows) {
  std::vector<std::string> texts;
  for (const CString& row : rows) texts.push_back(row.str());
  return texts;
}

class DetailsPaneTest : public PanesTest {
 protected:
  void TearDown() override {
    sim_.Stop();
    PanesTest::TearDown();
  }

  // A server on 127.0.0.<last> that reports its address as `reported`, with one computer connected.
  void StartServer(int last, const std::string& reported) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(last, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
    options.name = "Lab";
    options.command_port = commandPort_;
    options.serial_no = 123456;
    options.ip_address = reported;
    options.password_enable = false;
    zarnet::sim::Device device;
    device.port = 3;
    device.device_class = 8;
    device.vid = 0x0781;
    device.pid = 0x5567;
    device.busy = true;
    device.client_ip = "127.0.0.77";
    options.devices = {device};
    sim_.AddServer(options);
  }

  void StartServers() {
    ServerCommSettings settings;
    settings.commandPort = commandPort_;
    settings.commandRecvTimeoutMs = 200;
    settings.processDelayMs = 0;
    SetDefaultServerCommSettings(settings);
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;
  }

  bool FetchEnds() {
    return tavrin::test::PumpUntil([&] { return !details_->IsFetching() && g_pWaitThread == nullptr; });
  }

  uint16_t commandPort_ = zarnet::sim::FreeLoopbackPort(SOCK_STREAM);
  zarnet::sim::Simulator sim_;
};

TEST_F(DetailsPaneTest, ADevicesDetailsListItsNumbersNamesAndState) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  AddDevice(2, 1, 7, 0x03F0, 0x1017, "Office LaserPrinter 1020");
  AddDevice(2, 2, 255, 0x1234, 0x0001);
  details_->ShowDeviceDetails(Ip(2).c_str(), 1);
  EXPECT_EQ(Texts(details_->GetDeviceDetails()),
            (std::vector<std::string>{"Vid: 03f0", "Vendor Name: Hewlett Packard", "Pid: 1017",
                                      "Product Name: Office LaserPrinter 1020", "Rev: 0100",
                                      std::string("Class: ") + CTavrinAdminDoc::GetDeviceClassName(7),
                                      "ServerIP: 127.0.0.2", "PortNo: 1", "Status: Free", "", "Printer Details:",
                                      "=============", "Printing Support: Available", "Mode: Not Configured"}));
  // A vendor-specific device without a printer: no printer part, but the empty row after the status.
  details_->ShowDeviceDetails(Ip(2).c_str(), 2);
  const std::vector<std::string> other = Texts(details_->GetDeviceDetails());
  ASSERT_EQ(other.size(), 10u);
  EXPECT_EQ(other[1], "Vendor Name: Unknown");
  EXPECT_EQ(other[3], "Product Name: Unknown");
  EXPECT_EQ(other[9], "");

  details_->ShowDeviceDetails(Ip(2).c_str(), 0);
  EXPECT_EQ(Texts(details_->GetDeviceDetails()),
            (std::vector<std::string>{"ServerIP: 127.0.0.2", "Status: Loaded Successfully"}));
  details_->ShowDeviceDetails(Ip(9).c_str(), 0);  // a server the network has not shown
  EXPECT_TRUE(details_->GetDeviceDetails().empty());
  details_->ShowDeviceDetails(Ip(2).c_str(), 1);
  details_->ClearDeviceDetails();
  EXPECT_TRUE(details_->GetDeviceDetails().empty());
}

TEST_F(DetailsPaneTest, SelectingADeviceInTheTreeShowsItsDetails) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  AddDevice(2, 1, 7, 0x03F0, 0x1017, "Office LaserPrinter 1020");
  ShowLists();
  HTREEITEM row = functions_->FindTreeRow(Ip(2).c_str(), 1);
  ASSERT_NE(row, nullptr);
  functions_->m_treeDevices.SelectItem(row);
  NMHDR click{functions_->m_treeDevices.GetSafeHwnd(), 1021, NM_CLICK};
  functions_->SendMessage(WM_NOTIFY, 1021, reinterpret_cast<LPARAM>(&click));
  ASSERT_FALSE(details_->GetDeviceDetails().empty());
  EXPECT_EQ(details_->GetDeviceDetails()[0], "Vid: 03f0");
}

TEST_F(DetailsPaneTest, TheSerialNumberShowsAllItsThirtyTwoBits) {
  TavrinConfInfo config{};
  config.serial_no = 4000000000u;
  std::strcpy(config.server_name, "Lab");
  config.enable = 1;
  const std::vector<std::string> rows = Texts(ServerDetailsRows(config));
  ASSERT_EQ(rows.size(), 15u);
  EXPECT_EQ(rows[1], "Server name: Lab");
  EXPECT_EQ(rows[2], "Model: Zarnet");
  EXPECT_EQ(rows[3], "Serial no: 4000000000");
  EXPECT_EQ(rows[14], "Password required : YES");
}

TEST_F(DetailsPaneTest, AServersDetailsAreFetchedOnceAndKeptUnderTheAddressAskedFor) {
  StartServer(5, "10.1.2.3");  // it reports another address than the one it is reached at
  ASSERT_NO_FATAL_FAILURE(StartServers());
  details_->ShowServerManagerDetails(Ip(5).c_str());
  EXPECT_NE(g_pWaitThread, nullptr) << "the fetch runs behind the wait window";
  EXPECT_EQ(Texts(details_->GetServerDetails()), (std::vector<std::string>{"Gettting the Details..."}));
  ASSERT_TRUE(FetchEnds());
  const std::vector<std::string> config = Texts(details_->GetServerDetails());
  ASSERT_EQ(config.size(), 15u);
  EXPECT_EQ(config[1], "Server name: Lab");
  EXPECT_EQ(config[3], "Serial no: 123456");
  EXPECT_EQ(config[9], "ServerIP: 10.1.2.3");
  EXPECT_EQ(config[14], "Password required : NO");
  EXPECT_EQ(Texts(details_->GetConnectedClients()), (std::vector<std::string>{"127.0.0.77 : 3"}));
  ASSERT_TRUE(tavrin::test::PumpUntil([&] { return sim_.server(0).commands_answered() == 2; }));
  const int answered = 2;  // the configuration and the connected computers

  // Selected again: shown at once from the caches, nothing asked, no wait window.
  details_->ClearServerDetails();
  details_->ShowServerManagerDetails(Ip(5).c_str());
  EXPECT_EQ(g_pWaitThread, nullptr);
  EXPECT_FALSE(details_->IsFetching());
  EXPECT_EQ(Texts(details_->GetServerDetails()), config);
  EXPECT_EQ(Texts(details_->GetConnectedClients()), (std::vector<std::string>{"127.0.0.77 : 3"}));
  EXPECT_EQ(sim_.server(0).commands_answered(), answered);

  // Refresh on the connected computers fetches only them.
  details_->m_nRefreshTarget = 0;
  ServerDiscoveryList found;
  ServerDiscoveryRecord record{};
  std::strcpy(record.ServerIp, Ip(5).c_str());
  found.AddTail(record);
  functions_->ShowSearchResults(found);
  functions_->m_lstServers.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  details_->SendMessage(WM_COMMAND, 32883, 0);
  EXPECT_EQ(Texts(details_->GetConnectedClients()), (std::vector<std::string>{"Gettting the Details..."}));
  ASSERT_TRUE(FetchEnds());
  EXPECT_TRUE(tavrin::test::PumpUntil([&] { return sim_.server(0).commands_answered() == answered + 1; }));
  EXPECT_EQ(Texts(details_->GetServerDetails()), config);
  EXPECT_EQ(Texts(details_->GetConnectedClients()), (std::vector<std::string>{"127.0.0.77 : 3"}));
}

TEST_F(DetailsPaneTest, ASecondFetchWhileOneRunsIsRefusedAndTheFirstEndsAsItWould) {
  StartServer(5, "");
  ASSERT_NO_FATAL_FAILURE(StartServers());
  details_->ShowServerManagerDetails(Ip(5).c_str());
  ASSERT_TRUE(details_->IsFetching());
  CUIThread* waitWindow = g_pWaitThread;
  details_->ShowServerManagerDetails(Ip(6).c_str());
  EXPECT_EQ(details_->m_strServerIP, Ip(5).c_str());
  EXPECT_EQ(g_pWaitThread, waitWindow);
  ASSERT_TRUE(FetchEnds());
  EXPECT_EQ(Texts(details_->GetServerDetails())[9], "ServerIP: 127.0.0.5");
  ASSERT_EQ(details_->m_lstConfigCache.size(), 1u);
  EXPECT_EQ(details_->m_lstConfigCache[0].ServerIp, Ip(5).c_str());

  // Nor does a fetch start behind another operation's wait window.
  ASSERT_TRUE(OpenWaitWindow(kWaitProgressMoving));
  details_->ShowServerManagerDetails(Ip(6).c_str());
  EXPECT_FALSE(details_->IsFetching());
  CloseWaitWindow();
}

TEST_F(DetailsPaneTest, AServerThatDoesNotAnswerIsNotCached) {
  ServerCommSettings settings;
  settings.commandPort = commandPort_;  // nobody listens there
  settings.processDelayMs = 0;
  SetDefaultServerCommSettings(settings);
  details_->ShowServerManagerDetails(Ip(8).c_str());
  ASSERT_TRUE(FetchEnds());
  EXPECT_EQ(Texts(details_->GetServerDetails()), (std::vector<std::string>{"Unable to get the details"}));
  EXPECT_EQ(Texts(details_->GetConnectedClients()), (std::vector<std::string>{"Unable to get the details"}));
  EXPECT_TRUE(details_->m_lstConfigCache.empty());
  EXPECT_TRUE(details_->m_lstClientsCache.empty());
  details_->ShowServerManagerDetails(Ip(8).c_str());
  EXPECT_TRUE(details_->IsFetching()) << "asked again";
  ASSERT_TRUE(FetchEnds());
}

}  // namespace
}  // namespace panes_test
