// Device mapping against the bundled servers and the driver stand-in: the tree from the broadcasts,
// product strings, connect and disconnect, START and STOP, the network going down, the log.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "PelkoFramework/records.h"
#include "TavrinMac/TavrinApp.h"
#include "TavrinMac/serverManager.h"
#include "cocoa/IOKitLib.h"
#include "cocoa/bsd.h"
#include "cocoa/iokit_host.h"
#include "cocoa/mac_root.h"
#include "mac_fixture.h"
#include "nub_descriptor.h"
#include "quorvel/quorvelNHCI.h"

namespace tavrinmac::test {
namespace {

using namespace std::chrono_literals;

class DeviceMappingTest : public MacTest {
 protected:
  void SetUp() override {
    MacTest::SetUp();
    host_ = std::make_unique<cocoa::iokit::Host>();  // made in the test's sysroot
    ASSERT_TRUE(host_->Start());
    driver_ = std::make_shared<quorvel::Driver>(*host_);
    host_->Register(driver_);
    app_ = alloc<TavrinApp>()->init();
    Timings t;
    t.networkTimeout = 3000;
    t.presencePeriod = 1500;
    t.presenceFirst = 0;
    t.startStopStep = 200;
    t.startStopSettle = 50;
    t.disconnectAllFirst = 10;
    t.disconnectAllEach = 10;
    t.noSocketRetry = 50;
    app_->setTimings(t);
  }
  void TearDown() override {
    app_->shutdown();
    app_->release();
    driver_->DisconnectAll();
    host_->Stop();
    MacTest::TearDown();
  }
  std::string Cell(const std::string& address, int port, const std::string& column) {
    Node* node = app_->deviceNode(address, port);
    if (!node) return "(none)";
    std::string text = app_->cellText(column, node);
    node->release();
    return text;
  }
  bool WaitForCell(const std::string& address, int port, const std::string& column, const std::string& text,
                   int ms = 10000) {
    return ui_.WaitUntil([&] { return Cell(address, port, column) == text; }, ms);
  }
  void Select(const std::string& address, int port) {
    Node* node = app_->deviceNode(address, port);
    ASSERT_NE(node, nullptr) << address << " port " << port;
    app_->setSelectedNode(node);
    node->release();
    app_->outlineViewSelectionDidChange(nullptr);
  }
  std::vector<std::pair<std::string, std::string>> Log() {
    std::vector<std::pair<std::string, std::string>> lines;
    for (int i = 0; i < app_->numberOfRowsInTableView(); ++i)
      lines.emplace_back(app_->logCellText("method", i), app_->logCellText("description", i));
    return lines;
  }
  bool Logged(const std::string& method, const std::string& description) {
    for (const auto& line : Log())
      if (line.first == method && line.second == description) return true;
    return false;
  }
  bool WaitForLog(const std::string& method, const std::string& description, int ms = 10000) {
    return ui_.WaitUntil([&] { return Logged(method, description); }, ms);
  }
  bool Busy(const std::string& address, uint16_t port) {
    for (const auto& d : server(address).devices())
      if (d.port == port) return d.busy;
    return false;
  }
  // Mapping with the tree of the three servers and the office printer's product string.
  void StartMapping() {
    StartServers();
    app_->awakeFromNib();
    ASSERT_TRUE(WaitForCell("127.0.0.2", 1, "1", "Office LaserPrinter 1020"));
  }

  std::unique_ptr<cocoa::iokit::Host> host_;
  std::shared_ptr<quorvel::Driver> driver_;
  TavrinApp* app_ = nullptr;
};

TEST_F(DeviceMappingTest, TheTreeListsTheServersTheirDevicesAndWhoHoldsThem) {
  StartMapping();
  ASSERT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 3; }, 10000));
  EXPECT_TRUE(ui_.alerts().empty());  // the driver was there
  EXPECT_TRUE(Logged("NewServerArrival", "127.0.0.2"));
  EXPECT_TRUE(Logged("Printer", "DeviceAttached at 127.0.0.2"));
  EXPECT_EQ(Cell("127.0.0.2", 1, "2"), "Printer");
  EXPECT_EQ(Cell("127.0.0.2", 1, "3"), "Free");
  EXPECT_EQ(Cell("127.0.0.2", 1, "0"), "ConnectImage.png");
  EXPECT_EQ(Cell("127.0.0.2", 1, "4"), "printer_1.icns");
  EXPECT_EQ(Cell("127.0.0.2", 1, "5"), "1");
  EXPECT_EQ(Cell("127.0.0.2", 2, "3"), "Busy");  // another computer's
  EXPECT_EQ(Cell("127.0.0.2", 2, "0"), "BusyImage.png");
  EXPECT_EQ(Cell("127.0.0.2", 2, "2"), "Mass-Storage");
  EXPECT_TRUE(WaitForCell("127.0.0.3", 1, "1", "Compact USB Keyboard"));
  // Servers are the top level, their devices below them.
  Node* office = nullptr;
  for (int i = 0; i < app_->outlineView_numberOfChildrenOfItem(nullptr); ++i)
    if (Node* s = app_->outlineView_child_ofItem(i, nullptr); app_->cellText("1", s) == "127.0.0.2") office = s;
  ASSERT_NE(office, nullptr);
  EXPECT_EQ(app_->cellText("0", office), "server.icns");
  EXPECT_EQ(app_->cellText("3", office), " ");
  EXPECT_EQ(app_->outlineView_isItemExpandable(office), YES);
  EXPECT_EQ(app_->outlineView_numberOfChildrenOfItem(office), 2);

  // The details of a selected device, and the action flags they set.
  ASSERT_TRUE(WaitForCell("127.0.0.2", 2, "1", "Pocket Flash Drive"));
  Select("127.0.0.2", 2);
  EXPECT_NE(app_->statusText().find("Pocket Flash Drive : (BUSY)"), std::string::npos) << app_->statusText();
  EXPECT_EQ(app_->validateToolbarItem("Connect"), NO);
  EXPECT_EQ(app_->validateToolbarItem("DisConnect"), NO);
  Select("127.0.0.2", 1);
  EXPECT_NE(app_->statusText().find("Office LaserPrinter 1020 : (FREE)"), std::string::npos);
  EXPECT_NE(app_->statusText().find("Portnumber   : 1"), std::string::npos);
  EXPECT_EQ(app_->validateToolbarItem("Connect"), YES);
  EXPECT_EQ(app_->validateToolbarItem("START"), NO);
  EXPECT_EQ(app_->validateToolbarItem("Auto-Connect Settings"), NO);
}

TEST_F(DeviceMappingTest, ConnectMakesThePrinterTheMacsAndDisconnectGivesItBack) {
  StartMapping();
  Select("127.0.0.2", 1);
  app_->connectThread(nullptr);
  app_->joinWorkers();
  EXPECT_TRUE(Logged("127.0.0.2", "Office LaserPrinter 1020 Made Busy Success"));
  EXPECT_EQ(driver_->slotsInUse(), std::vector<int>{1});
  EXPECT_TRUE(Busy("127.0.0.2", 1));
  ASSERT_TRUE(WaitForCell("127.0.0.2", 1, "3", "Connected"));
  EXPECT_EQ(Cell("127.0.0.2", 1, "0"), "DisconnectImage.png");
  // The printer is a device of this Mac: its descriptor comes through the nub.
  std::vector<uint8_t> descriptor = ReadDescriptorThroughTheNub();
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[1], 1);  // a device descriptor
  EXPECT_EQ(descriptor[8] | (descriptor[9] << 8), 0x03F0);
  EXPECT_EQ(descriptor[10] | (descriptor[11] << 8), 0x2B17);

  // The server manager's client refresh names this computer on the printer's port.
  ServerNode* office = alloc<ServerNode>()->init();
  char address[16] = "127.0.0.2";
  office->setRecvIpAddres(address);
  serverManager::refreshClientsThread(office);
  {
    std::lock_guard guard(serverManager::lock());
    EXPECT_NE(serverManager::view().clientsText.find("127.0.0.1  ::  1\n"), std::string::npos);
  }
  office->release();

  // Quitting is refused while the Mac holds it.
  EXPECT_FALSE(app_->exitApplication(nullptr));
  EXPECT_EQ(ui_.alertLines().back(), "Note: Before EXIT, Disconnect all the connected devices");

  Select("127.0.0.2", 1);
  EXPECT_EQ(app_->validateToolbarItem("DisConnect"), YES);
  app_->disconnectThread(nullptr);
  app_->joinWorkers();
  EXPECT_TRUE(Logged("127.0.0.2", "Office LaserPrinter 1020 Made Free"));
  EXPECT_TRUE(driver_->slotsInUse().empty());
  EXPECT_TRUE(server("127.0.0.2").WaitUntil([&] { return !Busy("127.0.0.2", 1); }, 5s));
  EXPECT_TRUE(WaitForCell("127.0.0.2", 1, "3", "Free"));
  EXPECT_EQ(app_->connectedCount(), 0);
  EXPECT_TRUE(app_->exitApplication(nullptr));
}

TEST_F(DeviceMappingTest, ARefusedDisconnectKeepsTheDeviceAndSlotsAreTakenLowestFirst) {
  StartMapping();
  Select("127.0.0.2", 1);
  app_->connectDevice(nullptr);
  ASSERT_TRUE(WaitForCell("127.0.0.2", 1, "3", "Connected"));
  ASSERT_TRUE(WaitForCell("127.0.0.3", 3, "3", "Free"));
  Select("127.0.0.3", 3);
  app_->connectDevice(nullptr);
  EXPECT_EQ(driver_->slotsInUse(), (std::vector<int>{1, 2}));

  // The driver refuses (its connection is gone): the device stays connected in its slot.
  app_->driverObj()->CloseDriverInstance();
  Select("127.0.0.2", 1);
  app_->disConnectDevice(nullptr);
  EXPECT_TRUE(Logged("127.0.0.2", "Office LaserPrinter 1020 Made Free Failed"));
  EXPECT_FALSE(Logged("127.0.0.2", "Office LaserPrinter 1020 Made Free"));
  EXPECT_EQ(app_->connectedCount(), 2);
  EXPECT_EQ(Cell("127.0.0.2", 1, "3"), "Connected");
  EXPECT_EQ(ui_.alertLines().back(), "Error: Unable to disconnect");

  ASSERT_EQ(app_->driverObj()->OpenDriverInstance(), 1);
  app_->disConnectDevice(nullptr);
  EXPECT_EQ(app_->connectedCount(), 1);
  ASSERT_TRUE(WaitForCell("127.0.0.2", 1, "3", "Free"));
  // Slot 1 is free again and is the one taken, though one device is still connected.
  Select("127.0.0.2", 1);
  app_->connectDevice(nullptr);
  Node* printer = app_->deviceNode("127.0.0.2", 1);
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(app_->indexOfDevice(static_cast<int16_t>(0x2B17), static_cast<int16_t>(0x03F0), 1,
                                NSString::stringWithUTF8String("127.0.0.2")),
            1);
  printer->release();

  // STOP gives every device back and empties the tree; START fills it again.
  app_->stopRun(nullptr);
  EXPECT_EQ(app_->validateToolbarItem("START"), NO);
  ASSERT_TRUE(WaitForLog("stopRun", "Stopped Recieving Packets."));
  EXPECT_EQ(app_->serverCount(), 0);
  // The devices are given back by a worker of their own, which the log line does not wait for.
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->connectedCount() == 0 && driver_->slotsInUse().empty(); }, 10000));
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->validateToolbarItem("START") == YES; }, 5000));
  app_->startRun(nullptr);
  ASSERT_TRUE(WaitForLog("startRun", "Started Recieving broadcast packets."));
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 3; }, 10000));
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->validateToolbarItem("STOP") == YES; }, 5000));
}

TEST_F(DeviceMappingTest, NothingOutlivesTheControllerOnceItHasQuit) {
  StartServers();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  // The IOKit client keeps an object for the process from its first use on: made before the count.
  deviceInterface* warmUp = alloc<deviceInterface>()->init();
  warmUp->OpenDriverInstance();
  warmUp->CloseDriverInstance();
  warmUp->release();
  const long before = cocoa::LiveObjectCount();
  TavrinApp* app = alloc<TavrinApp>()->init();  // the program's own delays: quitting does not wait for them
  app->awakeFromNib();
  ASSERT_TRUE(ui_.WaitUntil([&] {
    Node* node = app->deviceNode("127.0.0.2", 1);
    const bool named = node && app->cellText("1", node) == "Office LaserPrinter 1020";
    if (node) node->release();
    return named;
  }, 10000));
  Node* printer = app->deviceNode("127.0.0.2", 1);
  app->setSelectedNode(printer);
  printer->release();
  app->connectDevice(nullptr);
  ASSERT_TRUE(ui_.WaitUntil([&] {  // the next list reports it in use
    Node* node = app->deviceNode("127.0.0.2", 1);
    const bool connected = node && app->cellText("3", node) == "Connected";
    if (node) node->release();
    return connected;
  }, 10000));
  app->disConnectDevice(nullptr);
  ASSERT_TRUE(app->exitApplication(nullptr));
  app->release();
  pool->drain();
  EXPECT_EQ(cocoa::LiveObjectCount(), before - 1);  // the pool itself was counted
}

TEST_F(DeviceMappingTest, StopKeepsADeviceTheDriverWouldNotGiveBack) {
  StartMapping();
  Select("127.0.0.2", 1);
  app_->connectDevice(nullptr);
  ASSERT_EQ(app_->connectedCount(), 1);
  app_->driverObj()->CloseDriverInstance();  // every request refused from now on
  app_->stopRun(nullptr);
  ASSERT_TRUE(WaitForLog("stopRun", "Stopped Recieving Packets."));
  EXPECT_EQ(app_->connectedCount(), 1);  // still this Mac's: quitting stays refused
  EXPECT_TRUE(Busy("127.0.0.2", 1));
  EXPECT_FALSE(app_->exitApplication(nullptr));
}

TEST_F(DeviceMappingTest, TheNetworkGoingDownEmptiesTheTreeAndTheServersReturn) {
  serverManager* manager = alloc<serverManager>()->init();
  app_->setServerManager(manager);
  StartMapping();
  EXPECT_EQ(manager->networkFlag(), 1);  // the server manager hears that the network is up
  ASSERT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 3; }, 10000));
  for (size_t i = 0; i < sim_.size(); ++i) sim_.server(i).SetBroadcastPeriod(std::chrono::hours(1));
  ASSERT_TRUE(WaitForLog("Network", "Timeout\n"));
  // (A list already on its way when the broadcasts stopped may refill it once, until the next report.)
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 0 && app_->networkImageDown(); }, 10000));
  EXPECT_TRUE(ui_.WaitUntil([&] { return manager->networkFlag() == 0; }, 10000));
  for (size_t i = 0; i < sim_.size(); ++i) sim_.server(i).SetBroadcastPeriod(std::chrono::milliseconds(50));
  EXPECT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 3 && !app_->networkImageDown(); }, 10000));
  EXPECT_EQ(manager->networkFlag(), 1);
  manager->release();
}

TEST_F(DeviceMappingTest, ASilentServerIsRemovedAndAReusedPortGetsItsOwnProductString) {
  StartMapping();
  ASSERT_TRUE(ui_.WaitUntil([&] { return app_->serverCount() == 3; }, 10000));
  // Another device on the office printer's port: its own product string, not the printer's.
  zarnet::sim::Device scanner = server("127.0.0.2").devices()[0];
  scanner.pid = 0x1234;
  scanner.device_class = 6;
  scanner.product = "Desk Scanner";
  server("127.0.0.2").Plug(scanner);
  EXPECT_TRUE(WaitForCell("127.0.0.2", 1, "1", "Desk Scanner"));
  EXPECT_EQ(Cell("127.0.0.2", 1, "2"), "Image");

  server("127.0.0.3").SetBroadcastPeriod(std::chrono::hours(1));
  ASSERT_TRUE(WaitForLog("Server ShutDown", "127.0.0.3"));
  EXPECT_EQ(app_->serverCount(), 2);
  EXPECT_EQ(app_->deviceNode("127.0.0.3", 1), nullptr);
}

TEST_F(DeviceMappingTest, ADeviceListIsReadOnlyAsFarAsItsBytesReach) {
  bsd::SetBindAddress("127.0.0.1");
  app_->awakeFromNib();
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = inet_addr("127.0.0.9");
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(listPort_);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  // A length field naming 150 entries, and bytes for two of them.
  std::vector<uint8_t> datagram(8 + 2 * 14, 0);
  uint32_t infolen = 8 + 150 * 14;
  memcpy(datagram.data(), &infolen, 4);
  for (int k = 0; k < 2; ++k) {
    datagram[8 + 14 * k] = 7;                              // class
    datagram[8 + 14 * k + 5] = static_cast<uint8_t>(k + 1);  // pid
    datagram[8 + 14 * k + 10] = static_cast<uint8_t>(k + 1);  // port
  }
  // And from another address, a list whose length field is below its own header: no server.
  int other = socket(AF_INET, SOCK_DGRAM, 0);
  from.sin_addr.s_addr = inet_addr("127.0.0.8");
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
  std::vector<uint8_t> shortList(8 + 14, 0);
  shortList[0] = 4;
  // Sent until heard: the polling thread may not have bound its socket yet (a repeat changes nothing).
  // The short list goes first each time, so it has been read by the time the other is seen.
  ASSERT_TRUE(ui_.WaitUntil(
      [&] {
        sendto(other, shortList.data(), shortList.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        return app_->serverCount() == 1;
      },
      10000));
  Node* server = app_->outlineView_child_ofItem(0, nullptr);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(app_->outlineView_numberOfChildrenOfItem(server), 2);
  EXPECT_EQ(Cell("127.0.0.9", 2, "2"), "Printer");
  EXPECT_EQ(app_->serverCount(), 1);  // not 127.0.0.8
  close(s);
  close(other);
}

TEST_F(DeviceMappingTest, TheLogSavesItsLinesAndAnEmptyLogIs148Bytes) {
  app_->awakeFromNib();
  app_->RemItem(nullptr);  // whatever the start wrote
  ui_.QueueFile("/Users/Shared/empty.txt");
  std::filesystem::create_directories(cocoa::MacPath("/Users/Shared"));
  app_->saveLogToFile(nullptr);
  EXPECT_EQ(std::filesystem::file_size(cocoa::MacPath("/Users/Shared/empty.txt")), 148u);
  app_->logTable(NSString::stringWithUTF8String("connectDevice"), NSString::stringWithUTF8String("Device Not Selected"));
  ui_.QueueFile("/Users/Shared/one.txt");
  app_->saveLogToFile(nullptr);
  std::ifstream in(cocoa::MacPath("/Users/Shared/one.txt"));
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("1)\t"), std::string::npos);
  EXPECT_NE(all.find("\tDevice Not Selected\t\t\tconnectDevice\n"), std::string::npos);
  ui_.QueueFile("");
  app_->saveLogToFile(nullptr);  // cancelled: nothing
  // Without a selection Connect says so in the log.
  app_->connectDevice(nullptr);
  EXPECT_TRUE(Logged("connectDevice", "Device Not Selected"));
}

TEST(DeviceActionRule, TheStateAndTheSlotDecideTheItems) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  TavrinApp* app = alloc<TavrinApp>()->init();
  struct Case {
    int state, slot;
    const char* enabled;  // C connect, D disconnect, R refresh, S stop
  };
  for (const Case& c : {Case{1, 3, "DRS"}, Case{1, 0, "RS"}, Case{22, 1, ""}, Case{33, 0, ""}, Case{0, 0, "CS"},
                        Case{5, 0, "CS"}}) {
    app->applyDeviceActionRule(c.state, c.slot);
    std::string got;
    if (app->validateToolbarItem("Connect")) got += "C";
    if (app->validateToolbarItem("DisConnect")) got += "D";
    if (app->validateToolbarItem("Refresh")) got += "R";
    if (app->validateToolbarItem("STOP")) got += "S";
    EXPECT_EQ(got, c.enabled) << c.state << "/" << c.slot;
    EXPECT_EQ(app->validateToolbarItem("START"), NO);
  }
  EXPECT_STREQ(TavrinApp::getDeviceString(nullptr), "Vendor-Specific");
  __dev_info__ info{};
  info.cid[0] = 4;
  EXPECT_STREQ(TavrinApp::getDeviceString(&info), "Vendor-Specific");
  EXPECT_STREQ(TavrinApp::getDeviceImage(&info), "unknown.gif");
  info.cid[0] = 8;
  EXPECT_STREQ(TavrinApp::getDeviceImage(&info), "massDevice.png");
  app->release();
  pool->drain();
}

}  // namespace
}  // namespace tavrinmac::test
