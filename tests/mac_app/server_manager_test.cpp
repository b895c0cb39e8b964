// The server manager's roads against the bundled servers: discovery, unlock, configuration, client
// refresh, factory restore and firmware upgrade through the TFTP service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/system_commands.h"
#include "cocoa/mac_root.h"
#include "mac_fixture.h"
#include "tftp_service.h"

namespace tavrinmac::test {
namespace {

using namespace std::chrono_literals;

class ServerManagerTest : public MacTest {
 protected:
  void SetUp() override {
    MacTest::SetUp();
    manager_ = alloc<serverManager>()->init();
    manager_->awakeFromNib();
  }
  void TearDown() override {
    serverManager::joinWorkers();
    manager_->release();
    MacTest::TearDown();
  }
  // A search from the main window's toolbar; returns once its window closed.
  void Search() { serverManager::searchServers_class(nullptr); }
  int RowOf(const std::string& address) {
    for (int row = 0; row < serverManager::numberOfServers(); ++row)
      if (serverManager::serverCellText("3", row) == address) return row;
    return -1;
  }
  ServerNode* Select(const std::string& address) {
    const int row = RowOf(address);
    EXPECT_GE(row, 0) << address;
    serverManager::setSelectedRow(row);
    manager_->serversTableClick(nullptr);
    ServerNode* node = serverManager::selectedServer();
    if (node) node->release();  // the list keeps it
    return node;
  }
  ServerManagerView View() {
    std::lock_guard guard(serverManager::lock());
    return serverManager::view();
  }
  serverManager* manager_ = nullptr;
};

TEST_F(ServerManagerTest, SearchFindsTheServersAndFetchesTheirConfigurations) {
  StartServers();
  Search();
  auto lines = ServerLogLines();
  EXPECT_TRUE(HasLine(lines, "Found  - 3 - servers"));
  EXPECT_TRUE(HasLine(lines, "Retrieving All Servers Information"));
  ASSERT_EQ(serverManager::numberOfServers(), 3);
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
    EXPECT_TRUE(HasLine(lines, std::string("Retrieved Information from ") + address + " success"));
    const int row = RowOf(address);
    ASSERT_GE(row, 0);
    EXPECT_EQ(serverManager::serverCellText("0", row), std::to_string(row));
  }
  const int lab = RowOf("127.0.0.3");
  EXPECT_EQ(serverManager::serverCellText("1", lab), "Zarnet - 1");
  EXPECT_EQ(serverManager::serverCellText("2", lab), "00:1B:5A:00:00:03");  // from the stored configuration
  EXPECT_EQ(serverManager::serverCellText("4", lab), "Locked");
  EXPECT_EQ(serverManager::serverCellText("4", RowOf("127.0.0.2")), "Unlocked");
  EXPECT_EQ(serverManager::serverCellText("9", lab), "-----");
  EXPECT_EQ(loop.load(), 0);

  // The chosen server's commands follow its lock; its configuration text stops before the table.
  ServerNode* office = Select("127.0.0.2");
  ASSERT_NE(office, nullptr);
  EXPECT_EQ(office->serverChecked(), 1);
  ServerManagerView v = View();
  EXPECT_TRUE(v.configItems && v.upgradeItems && v.restoreItems && v.refreshItem);
  EXPECT_FALSE(v.unlockItems);
  EXPECT_NE(v.statusText.find("server_name=zarnet-office"), std::string::npos);
  EXPECT_EQ(v.statusText.find("[ConnectionTable]"), std::string::npos);
  Select("127.0.0.3");
  v = View();
  EXPECT_TRUE(v.unlockItems);
  EXPECT_FALSE(v.configItems || v.upgradeItems || v.restoreItems);
  EXPECT_EQ(configGlobal.load(), 0);
  serverManager::setSelectedRow(-1);
  manager_->serversTableClick(nullptr);
  v = View();
  EXPECT_TRUE(v.searchItems);
  EXPECT_FALSE(v.unlockItems || v.configItems || v.refreshItem);
}

TEST_F(ServerManagerTest, ASearchWithoutServersSaysSoWithoutAnAlert) {
  Search();
  EXPECT_TRUE(HasLine(ServerLogLines(), "Unable to find Servers"));
  EXPECT_EQ(serverManager::numberOfServers(), 0);
  EXPECT_TRUE(ui_.alerts().empty());
  EXPECT_EQ(loop.load(), 0);
}

TEST_F(ServerManagerTest, UnlockTakesThePasswordAfterARefusedOne) {
  StartServers();
  Search();
  ServerNode* lab = Select("127.0.0.3");
  ASSERT_NE(lab, nullptr);
  int runs = 0;
  bool offeredBeforeTheServerAgreed = true;
  ui_.SetModalHook([&](tavrinmac::View window) {
    if (window != tavrinmac::View::kUnlockWindow) return;
    ++runs;
    if (runs == 2) {
      std::lock_guard guard(serverManager::lock());
      offeredBeforeTheServerAgreed = serverManager::view().configItems;
    }
    serverManager::unlockTextDidChange("   ");
    EXPECT_FALSE(View().unlockOkEnabled);  // blanks only
    serverManager::unlockTextDidChange(runs == 1 ? "wrong" : "lab");
    EXPECT_TRUE(View().unlockOkEnabled);
    manager_->unlockOkAction(nullptr);
  });
  manager_->unlockAction(nullptr);
  serverManager::joinWorkers();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(offeredBeforeTheServerAgreed);  // a refused password unlocks nothing
  EXPECT_EQ(ui_.alertLines(), std::vector<std::string>{"Server Response Invalid Password - 3(127.0.0.3)(3)"});
  EXPECT_TRUE(HasLine(ServerLogLines(), "127.0.0.3 Unlocked\n"));
  EXPECT_FALSE(server("127.0.0.3").locked());
  EXPECT_EQ(lab->passwordSet(), 0);
  EXPECT_EQ(serverManager::serverCellText("4", RowOf("127.0.0.3")), "Unlocked");
  EXPECT_TRUE(View().configItems);
  EXPECT_EQ(ui_.modalRuns(tavrinmac::View::kUnlockWindow), 0);

  // A server without password is not offered the window.
  Select("127.0.0.2");
  manager_->unlockAction(nullptr);
  EXPECT_EQ(ui_.alertLines().back(), "Server Manager: Unable to Unlock, password Not Set");
}

TEST_F(ServerManagerTest, RenameChangesTheRecordOnlyOnceTheServerAgreed) {
  StartServers();
  Search();
  ServerNode* office = Select("127.0.0.2");
  ASSERT_NE(office, nullptr);
  manager_->serverConfiguration(nullptr);
  {
    std::lock_guard guard(serverManager::lock());
    ConfigForm& f = serverManager::form();
    EXPECT_EQ(f.basicSettingsText, "zarnet-office");
    EXPECT_EQ(f.ipConfigText, "DHCP");
    EXPECT_NE(f.informationText.find("ServerName: zarnet-office"), std::string::npos);
    f.modifyBasicSettings = true;
    f.basicSettingsText = "front-desk";
  }
  ui_.SetAlertAnswer(1);  // Cancel: nothing sent, nothing changed
  manager_->serverConfigOkAction(nullptr);
  EXPECT_STREQ(office->getConfigurationData()->server_name, "zarnet-office");
  ui_.SetAlertAnswer(0);
  manager_->serverConfigOkAction(nullptr);
  ASSERT_TRUE(WaitForServerLog(" 127.0.0.2 Configuration Changed Succesfully"));
  serverManager::joinWorkers();
  EXPECT_EQ(server("127.0.0.2").configuration().server_name, "front-desk");
  EXPECT_STREQ(office->getConfigurationData()->server_name, "front-desk");

  // A server that cannot be reached keeps its record as it was.
  {
    std::lock_guard guard(serverManager::lock());
    serverManager::form().modifyBasicSettings = true;
    serverManager::form().basicSettingsText = "unreachable";
  }
  server("127.0.0.2").Stop();
  manager_->serverConfigOkAction(nullptr);
  ASSERT_TRUE(WaitForServerLog(" 127.0.0.2 Configuration Failed by Network"));
  serverManager::joinWorkers();
  EXPECT_STREQ(office->getConfigurationData()->server_name, "front-desk");

  // Nothing to change, and an invalid address.
  manager_->serverConfigOkAction(nullptr);
  EXPECT_EQ(ui_.alertLines().back(), "Pelko Admin No Modifications !!!");
  {
    std::lock_guard guard(serverManager::lock());
    serverManager::form().modifyIPSettings = true;
    serverManager::form().ipAddressText = "192.168.0.256";
  }
  manager_->serverConfigOkAction(nullptr);
  EXPECT_EQ(ui_.alertLines().back(),
            "Alert The subnet mask must consist of 4 numbers from 0 to 255, separated by periods.");
}

TEST_F(ServerManagerTest, RefreshListsTheClientsAndRestoreGivesTheFactorySettings) {
  StartServers();
  server("127.0.0.2").SetBusy(1, true, "127.0.0.1");
  Search();
  ServerNode* office = Select("127.0.0.2");
  ASSERT_NE(office, nullptr);
  manager_->refreshClientsMenuAction(nullptr);
  serverManager::joinWorkers();
  const std::string clients = View().clientsText;
  EXPECT_NE(clients.find("127.0.0.1  ::  1\n"), std::string::npos) << clients;
  EXPECT_NE(clients.find("127.0.0.1  ::  2\n"), std::string::npos) << clients;
  EXPECT_EQ(office->clientsCount(), 2);
  EXPECT_EQ(office->clientsChecked(), 1);

  // Restore: the server takes its factory settings and, as its status asks, is reset.
  zarnet::sim::Server& sim = server("127.0.0.2");
  ui_.SetAlertAnswer(0);
  manager_->restoreFactorySettings(nullptr);
  serverManager::joinWorkers();
  EXPECT_EQ(ui_.alertLines().back(), "Pelko Admin Restore Factory Settings");
  EXPECT_EQ(sim.configuration().server_name, "zarnet-office");
  EXPECT_TRUE(sim.WaitUntil([&] { return sim.restarts() > 0 && sim.running(); }, 5s));

  // A server whose last connection failed is refused further commands.
  server("127.0.0.2").Stop();
  manager_->refreshClientsMenuAction(nullptr);
  ASSERT_TRUE(WaitForServerLog("127.0.0.2: Refresh Failed"));
  serverManager::joinWorkers();
  manager_->restoreFactorySettings(nullptr);
  EXPECT_TRUE(HasLine(ServerLogLines(), "127.0.0.2:Restore Failed"));
}

TEST_F(ServerManagerTest, FirmwareGoesThroughTheTftpServiceWithoutAShell) {
  StartServers();
  // The TFTP service: the TFTP server stand-in, serving the Mac's TFTP folder.
  namespace fs = std::filesystem;
  const fs::path folder = cocoa::MacPath(kTftpRoot);
  TftpService tftpServer(root(), folder, tftpPort_);
  std::vector<std::string> actions;
  SetServiceHandler("tftp", [&](const std::string& action) {
    actions.push_back(action);
    if (action == "stop") tftpServer.Stop();
    return action == "stop" || tftpServer.Start();
  });
  // An older image of the same name is already there.
  const std::string name = "zarnet-update-2.0.0.3.bin";
  std::ofstream(folder / name) << "old image";
  fs::create_directories(cocoa::MacPath("/Users/Shared"));
  const std::string image(3000, 'I');
  std::ofstream(cocoa::MacPath("/Users/Shared/" + name)) << image;

  Search();
  ASSERT_NE(Select("127.0.0.2"), nullptr);
  ui_.QueueFile("/Users/Shared/" + name);
  manager_->upgradeFirmware(nullptr);
  ASSERT_TRUE(WaitForServerLog("Firmware upgraded at 127.0.0.2"));
  serverManager::joinWorkers();
  zarnet::sim::Server& office = server("127.0.0.2");
  // The server starts its fetch once it has answered.
  using State = zarnet::sim::UpgradeStatus::State;
  ASSERT_TRUE(office.WaitUntil([&] { auto s = office.upgrade().state; return s == State::kSucceeded || s == State::kFailed; }, 10s));
  ASSERT_EQ(office.upgrade().state, zarnet::sim::UpgradeStatus::State::kSucceeded) << office.upgrade().message;
  const std::vector<uint8_t> served = office.upgrade().image;
  EXPECT_EQ(std::string(served.begin(), served.end()), image);  // not the older file of that name
  EXPECT_EQ(office.configuration().fw_version, "2.0.0.3");
  EXPECT_EQ(actions, (std::vector<std::string>{"stop", "start"}));
  EXPECT_TRUE(fs::exists(cocoa::MacPath(HomeDirectory() + "/Desktop/" + name)));
  EXPECT_EQ(fs::status(folder / name).permissions() & fs::perms::others_read, fs::perms::others_read);
  tftpServer.Stop();

  // Cancelled panel: nothing; a server whose last connection failed: refused with a log line.
  ui_.QueueFile("");
  manager_->upgradeFirmware(nullptr);
  office.Stop();
  ui_.SetAlertAnswer(0);
  ui_.QueueFile("/Users/Shared/" + name);
  manager_->upgradeFirmware(nullptr);
  serverManager::joinWorkers();
  ASSERT_FALSE(ui_.alertLines().empty());
  EXPECT_NE(ui_.alertLines().back().find("ERROR: Upgrade Firmware: connect failed:"), std::string::npos);
  ui_.QueueFile("/Users/Shared/" + name);
  manager_->upgradeFirmware(nullptr);
  EXPECT_TRUE(HasLine(ServerLogLines(), "Unable to Upgrade 127.0.0.2"));
}

}  // namespace
}  // namespace tavrinmac::test
