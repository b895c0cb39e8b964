// Limits and failures that the simulated servers do not reach: a full slot table, a firmware upgrade the
// server refuses, a process without sockets.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "TavrinMac/TavrinApp.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"
#include "TavrinMac/system_commands.h"
#include "cocoa/bsd.h"
#include "cocoa/iokit_host.h"
#include "mac_fixture.h"

namespace tavrinmac::test {
namespace {

// A driver that accepts every request.
class AcceptingClient : public cocoa::iokit::UserClient {
 public:
  IOReturn ScalarMethod(uint32_t, const std::vector<int64_t>&, std::vector<int64_t>&, uint32_t) override {
    return kIOReturnSuccess;
  }
  IOReturn StructMethod(uint32_t, const std::vector<uint8_t>&, std::vector<uint8_t>& out, uint32_t) override {
    out.assign(108, 0);
    return kIOReturnSuccess;
  }
};

class AcceptingDriver : public cocoa::iokit::Service {
 public:
  AcceptingDriver() : Service("quorvelNHCI") {}
  std::unique_ptr<cocoa::iokit::UserClient> NewUserClient(uint32_t) override {
    return std::make_unique<AcceptingClient>();
  }
};

// A socket bound to a loopback address of its own.
int BoundSocket(int type, const char* address) {
  int s = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

uint16_t PortOf(int s) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

class LimitsTest : public MacTest {};

TEST_F(LimitsTest, AConnectWithEverySlotTakenSaysSo) {
  auto host = std::make_unique<cocoa::iokit::Host>();
  ASSERT_TRUE(host->Start());
  host->Register(std::make_shared<AcceptingDriver>());
  TavrinApp* app = alloc<TavrinApp>()->init();
  Timings t;
  t.startStopStep = 50;
  t.startStopSettle = 10;
  t.disconnectAllFirst = 0;
  t.disconnectAllEach = 0;
  app->setTimings(t);
  app->awakeFromNib();
  // One server with fifteen free printers.
  int s = BoundSocket(SOCK_DGRAM, "127.0.0.9");
  ASSERT_GE(s, 0);
  std::vector<uint8_t> list(8 + 15 * 14, 0);
  const uint32_t infolen = static_cast<uint32_t>(list.size());
  memcpy(list.data(), &infolen, 4);
  for (int k = 0; k < 15; ++k) {
    list[8 + 14 * k] = 7;
    list[8 + 14 * k + 5] = static_cast<uint8_t>(k + 1);   // pid
    list[8 + 14 * k + 10] = static_cast<uint8_t>(k + 1);  // port
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(listPort_);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_TRUE(ui_.WaitUntil(
      [&] {
        sendto(s, list.data(), list.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        return app->serverCount() == 1;
      },
      10000));
  for (int port = 1; port <= 15; ++port) {
    Node* node = app->deviceNode("127.0.0.9", port);
    ASSERT_NE(node, nullptr);
    app->setSelectedNode(node);
    node->release();
    app->connectDevice(nullptr);
  }
  EXPECT_EQ(app->connectedCount(), 14);
  ASSERT_FALSE(ui_.alerts().empty());
  EXPECT_EQ(ui_.alertLines().back(), "Error: Unable to connect: every slot is in use");
  EXPECT_EQ(app->logCellText("description", app->numberOfRowsInTableView() - 1),
            "Unknown Device Not Connected: all 14 slots are in use");
  close(s);
  app->stopRun(nullptr);  // gives the fourteen back, so the controller may go
  ASSERT_TRUE(ui_.WaitUntil([&] { return app->connectedCount() == 0; }, 10000));
  app->shutdown();
  app->release();
  host->Stop();
}

TEST_F(LimitsTest, AnUpgradeTheServerRefusesIsNotLoggedAsDone) {
  int listener = BoundSocket(SOCK_STREAM, "127.0.0.9");
  ASSERT_GE(listener, 0);
  ASSERT_EQ(listen(listener, 1), 0);
  bsd::MapPort(1341, PortOf(listener), "127.0.0.9");
  std::string request;
  std::thread server([&] {
    int c = accept(listener, nullptr, nullptr);
    char buffer[512];
    while (request.find("</CMD>") == std::string::npos) {
      ssize_t n = read(c, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    const char* reply = "<RSP=8>\n<STATUS=2>\n</STATUS>\n</RSP>";
    EXPECT_EQ(write(c, reply, strlen(reply)), static_cast<ssize_t>(strlen(reply)));
    close(c);
  });
  std::vector<std::string> actions;
  SetServiceHandler("tftp", [&](const std::string& action) {
    actions.push_back(action);
    return true;
  });
  ServerNode* node = alloc<ServerNode>()->init();
  char address[16] = "127.0.0.9";
  node->setRecvIpAddres(address);
  serverManager::upgradeFirmwareThread(node, "zarnet-update-2.0.0.3.bin");
  server.join();
  close(listener);
  EXPECT_EQ(request, "<CMD=8>\nzarnet-update-2.0.0.3.bin\n</CMD>");
  EXPECT_EQ(actions, (std::vector<std::string>{"stop", "start"}));
  EXPECT_TRUE(HasLine(ServerLogLines(), "Unable to Upgrade 127.0.0.9"));
  EXPECT_FALSE(HasLine(ServerLogLines(), "Firmware upgraded at 127.0.0.9"));
  EXPECT_EQ(ui_.alertLines(), std::vector<std::string>{"Server Response Invalid Command"});
  EXPECT_EQ(node->clientsChecked(), 1);
  // Without a name the worker ends at once with its line.
  serverManager::upgradeFirmwareThread(node, "");
  EXPECT_TRUE(HasLine(ServerLogLines(), "Firmware upgrade Error"));
  node->release();
}

// What the death test runs: a process that may open no descriptor asks for the discovery socket.
void DiscoveryWithoutDescriptors() {
  rlimit none{0, 0};
  setrlimit(RLIMIT_NOFILE, &none);
  createUDPSocket();
  exit(0);
}

TEST(MacFatalErrors, WithoutADatagramSocketTheProgramEndsWithAFailure) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(DiscoveryWithoutDescriptors(), testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace tavrinmac::test
