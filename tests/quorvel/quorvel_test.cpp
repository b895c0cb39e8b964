// The Mac kernel driver stand-in: connect and disconnect through the framework's deviceInterface,
// against simulated servers; the nub; lost connections; the program.
#include "quorvel/quorvelNHCI.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

#include "PelkoFramework/Sockets_Obj.h"
#include "PelkoFramework/deviceInterface.h"
#include "cocoa/bsd.h"
#include "testsupport/sysroot.h"
#include "zarnet/sim/simulator.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

struct Nub {
  int vendor = -1, product = -1, deviceClass = -1, location = -1;
};

// The device nubs the driver published.
std::vector<Nub> Nubs() {
  mach_port_t master = 0;
  IOMasterPort(MACH_PORT_NULL, &master);
  io_iterator_t iterator = 0;
  IOServiceGetMatchingServices(master, IOServiceMatching(quorvel::kNubClass), &iterator);
  std::vector<Nub> nubs;
  while (io_service_t s = IOIteratorNext(iterator)) {
    auto get = [s](const char* key) {
      CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingASCII);
      auto n = static_cast<CFNumberRef>(IORegistryEntryCreateCFProperty(s, k, nullptr, 0));
      CFRelease(k);
      int v = n ? n->intValue() : -1;
      if (n) CFRelease(n);
      return v;
    };
    nubs.push_back({get("idVendor"), get("idProduct"), get("bDeviceClass"), get("locationID")});
    IOObjectRelease(s);
  }
  IOObjectRelease(iterator);
  return nubs;
}

class QuorvelTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    pool_ = alloc<NSAutoreleasePool>()->init();
    bsd::ResetNetwork();
    bsd::SetBindAddress("127.0.0.1");
    listPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    bsd::MapPort(6000, listPort_);
    auto options = zarnet::sim::LoopbackServerOptions(2, listPort_);
    options.devices = {Printer(3), Printer(4)};
    server_ = &sim_.AddServer(options);
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;
    bsd::MapPort(3240, server_->data_port(), "127.0.0.2");
    testing::internal::CaptureStdout();  // the framework's lines
  }
  void TearDown() override {
    fflush(stdout);
    testing::internal::GetCapturedStdout();
    sim_.Stop();
    bsd::ResetNetwork();
    pool_->drain();
    SysrootTest::TearDown();
  }
  static zarnet::sim::Device Printer(uint16_t port) {
    zarnet::sim::Device d;
    d.port = port;
    d.device_class = 7;
    d.vid = 0x04b8;
    d.pid = static_cast<uint16_t>(0x0005 + port);
    return d;
  }
  // The 108-byte request of the application for the simulated printer on `port`.
  static std::vector<uint8_t> Request(int type, int slot, uint16_t port, const char* ip = "127.0.0.2") {
    std::vector<uint8_t> block(108, 0);
    devReqStruct r{};
    r.ReqType = type;
    r.Index = slot;
    strncpy(r.ip, ip, sizeof r.ip - 1);
    r.device_info = {{7, 1, 2}, 0x0100, static_cast<uint16_t>(0x0005 + port), 0x04b8, 0, static_cast<int16_t>(port), 2};
    memcpy(block.data(), &r, sizeof r);
    return block;
  }
  bool Busy(uint16_t port) {
    for (const auto& d : server_->devices())
      if (d.port == port) return d.busy;
    return false;
  }
  std::string Holder(uint16_t port) {
    for (const auto& d : server_->devices())
      if (d.port == port) return d.client_ip;
    return {};
  }

  NSAutoreleasePool* pool_ = nullptr;
  uint16_t listPort_ = 0;
  zarnet::sim::Simulator sim_;
  zarnet::sim::Server* server_ = nullptr;
};

TEST_F(QuorvelTest, ConnectTakesTheDeviceAndDisconnectGivesItBack) {
  cocoa::iokit::Host host;
  ASSERT_TRUE(host.Start());
  auto driver = std::make_shared<quorvel::Driver>(host);
  host.Register(driver);
  deviceInterface* client = alloc<deviceInterface>()->init();
  ASSERT_EQ(client->OpenDriverInstance(), 1);

  Sockets_Obj* listener = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(listener->connect_server(nullptr), 1);

  auto connect = Request(1, 1, 3);
  ASSERT_EQ(client->SendRquest(connect.data()), 1);
  EXPECT_EQ(driver->slotsInUse(), std::vector<int>{1});
  EXPECT_TRUE(Busy(3));
  EXPECT_EQ(Holder(3), "127.0.0.1");  // this computer
  auto nubs = Nubs();
  ASSERT_EQ(nubs.size(), 1u);
  EXPECT_EQ(nubs[0].vendor, 0x04b8);
  EXPECT_EQ(nubs[0].product, 0x0008);
  EXPECT_EQ(nubs[0].deviceClass, 7);
  EXPECT_EQ(nubs[0].location, 1);

  // The server's next device list reports the printer in use.
  server_->BroadcastNow();
  bool reportedBusy = false;
  pelko_dev_info* list = nullptr;
  for (int i = 0; i < 50 && !reportedBusy; ++i) {
    list = listener->recvMsg();  // frees the one before
    ASSERT_NE(list, nullptr);
    for (int e = 0; e < listener->deviceCount(); ++e)
      if (list->dev[e].portnum == 3 && list->dev[e].b_f == 1) reportedBusy = true;
  }
  EXPECT_TRUE(reportedBusy);
  free(list);  // the last buffer is the caller's

  EXPECT_EQ(client->SendRquest(connect.data()), 0);  // the slot is taken
  auto other = Request(1, 2, 3);
  EXPECT_EQ(client->SendRquest(other.data()), 0);    // the device is taken

  auto disconnect = Request(0, 1, 3);
  ASSERT_EQ(client->SendRquest(disconnect.data()), 1);
  EXPECT_TRUE(driver->slotsInUse().empty());
  EXPECT_TRUE(Nubs().empty());
  EXPECT_TRUE(server_->WaitUntil([&] { return !Busy(3); }, 5s));
  EXPECT_EQ(client->SendRquest(disconnect.data()), 1);  // already free

  EXPECT_EQ(client->CloseDriverInstance(), 1);
  listener->closeDev();
  listener->release();
  client->release();
  driver->DisconnectAll();
  host.Stop();
}

TEST_F(QuorvelTest, ALostConnectionFreesTheSlotAndTheNub) {
  cocoa::iokit::Host host;
  ASSERT_TRUE(host.Start());
  auto driver = std::make_shared<quorvel::Driver>(host);
  host.Register(driver);
  // The server drops each claimed connection at once.
  server_->SetDataSessionHandler([](const zarnet::sim::DataSession&) {});
  std::string reply;
  ASSERT_EQ(driver->Request(Request(1, 5, 4), &reply), kIOReturnSuccess) << reply;
  ASSERT_TRUE(server_->WaitUntil([&] { return driver->slotsInUse().empty(); }, 5s));
  EXPECT_TRUE(Nubs().empty());
  // The slot can be used again.
  server_->SetDataSessionHandler({});
  EXPECT_EQ(driver->Request(Request(1, 5, 4), &reply), kIOReturnSuccess);
  driver->DisconnectAll();
  EXPECT_TRUE(server_->WaitUntil([&] { return !Busy(4); }, 5s));
  host.Stop();
}

TEST_F(QuorvelTest, RequestsOutsideTheRulesAreRefused) {
  cocoa::iokit::Host host;
  ASSERT_TRUE(host.Start());
  auto driver = std::make_shared<quorvel::Driver>(host);
  host.Register(driver);
  EXPECT_EQ(driver->Request(Request(1, 0, 3), nullptr), kIOReturnBadArgument);
  EXPECT_EQ(driver->Request(Request(1, 15, 3), nullptr), kIOReturnBadArgument);
  EXPECT_EQ(driver->Request(Request(1, 1, 0), nullptr), kIOReturnBadArgument);
  EXPECT_EQ(driver->Request(Request(2, 1, 3), nullptr), kIOReturnBadArgument);
  EXPECT_EQ(driver->Request(Request(1, 1, 3, "not an address"), nullptr), kIOReturnBadArgument);
  auto unterminated = Request(1, 1, 3);
  memset(unterminated.data() + 12, '1', 16);
  EXPECT_EQ(driver->Request(unterminated, nullptr), kIOReturnBadArgument);
  EXPECT_EQ(driver->Request(std::vector<uint8_t>(41), nullptr), kIOReturnBadArgument);
  // A device another computer holds, and a server that is not there.
  server_->SetBusy(3, true, "127.0.0.9");
  EXPECT_EQ(driver->Request(Request(1, 1, 3), nullptr), kIOReturnBusy);
  EXPECT_EQ(driver->Request(Request(1, 1, 3, "127.0.0.3"), nullptr), kIOReturnNotResponding);
  EXPECT_TRUE(driver->slotsInUse().empty());
  EXPECT_TRUE(Nubs().empty());
  host.Stop();
}

TEST_F(QuorvelTest, TheProgramServesTheDriverToTheFramework) {
  std::string net = "TAVRIN_MAC_NET=" + bsd::NetworkSettingsText();
  std::string sysroot = "TAVRIN_SYSROOT=" + root().string();
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (strncmp(*e, "TAVRIN_", 7) != 0) env.push_back(*e);
  env.push_back(net);
  env.push_back(sysroot);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char program[] = QUORVEL_PROGRAM;
  char* argv[] = {program, nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char line[64] = {};
  ssize_t n = read(out[0], line, sizeof line - 1);  // "quorvelNHCI: running" once it serves
  ASSERT_GT(n, 0);
  EXPECT_STREQ(line, "quorvelNHCI: running\n");

  deviceInterface* client = alloc<deviceInterface>()->init();
  ASSERT_EQ(client->OpenDriverInstance(), 1);
  auto connect = Request(1, 1, 3);
  EXPECT_EQ(client->SendRquest(connect.data()), 1);
  EXPECT_TRUE(Busy(3));
  auto disconnect = Request(0, 1, 3);
  EXPECT_EQ(client->SendRquest(disconnect.data()), 1);
  EXPECT_TRUE(server_->WaitUntil([&] { return !Busy(3); }, 5s));
  EXPECT_EQ(client->CloseDriverInstance(), 1);
  client->release();

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(out[0]);
}

}  // namespace
