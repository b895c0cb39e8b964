// The Mac kernel driver stand-in: connect and disconnect through the framework's deviceInterface,
// against simulated servers; the nub and its control transfers; lost connections; the program.
#include "quorvel/quorvelNHCI.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "PelkoFramework/Sockets_Obj.h"
#include "PelkoFramework/deviceInterface.h"
#include "cocoa/bsd.h"
#include "testsupport/child_process.h"
#include "testsupport/ports.h"
#include "testsupport/sysroot.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/usb_wire.h"

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

// A user-client connection to the first device nub (0 when there is none).
io_connect_t OpenNub() {
  mach_port_t master = 0;
  IOMasterPort(MACH_PORT_NULL, &master);
  io_iterator_t iterator = 0;
  IOServiceGetMatchingServices(master, IOServiceMatching(quorvel::kNubClass), &iterator);
  io_service_t service = IOIteratorNext(iterator);
  IOObjectRelease(iterator);
  io_connect_t connect = 0;
  if (service && IOServiceOpen(service, mach_task_self(), 0, &connect) != kIOReturnSuccess) connect = 0;
  if (service) IOObjectRelease(service);
  return connect;
}

// A control transfer through the nub: the setup packet, then OUT data; IN data comes back in `data`.
IOReturn DeviceRequest(io_connect_t nub, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::vector<uint8_t>& data, uint16_t length) {
  std::vector<uint8_t> in = {requestType, request, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                             static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
  const bool toHost = requestType & 0x80;
  if (!toHost) in.insert(in.end(), data.begin(), data.end());
  std::vector<uint8_t> out(toHost ? length : 0);
  IOByteCount outSize = out.size();
  IOReturn result = IOConnectMethodStructureIStructureO(nub, quorvel::kNubDeviceRequest,
                                                        static_cast<IOItemCount>(in.size()), &outSize, in.data(),
                                                        out.empty() ? nullptr : out.data());
  if (toHost) {
    out.resize(result == kIOReturnSuccess ? outSize : 0);
    data = out;
  }
  return result;
}

IOReturn GetDeviceDescriptor(io_connect_t nub, std::vector<uint8_t>& descriptor) {
  return DeviceRequest(nub, 0x80, 6, 0x0100, 0, descriptor, 18);
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
    std::string captured = testing::internal::GetCapturedStdout();
    if (HasFailure()) fprintf(stderr, "%s", captured.c_str());  // the failures went there too
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
  tavrin::test::HeldPort nobody(tavrin::test::HeldPort::kStream, "127.0.0.9");
  bsd::MapPort(3240, nobody.port(), "127.0.0.9");
  EXPECT_EQ(driver->Request(Request(1, 1, 3, "127.0.0.9"), nullptr), kIOReturnNotResponding);
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
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = tavrin::test::StartChild(
      {QUORVEL_PROGRAM}, tavrin::test::ChildSetup().Dup(out[1], STDOUT_FILENO).Close(out[0]).Environment(env));
  close(out[1]);
  ASSERT_GT(pid, 0);
  char line[64] = {};
  ssize_t n = read(out[0], line, sizeof line - 1);  // "quorvelNHCI: running" once it serves
  ASSERT_GT(n, 0);
  EXPECT_STREQ(line, "quorvelNHCI: running\n");

  deviceInterface* client = alloc<deviceInterface>()->init();
  ASSERT_EQ(client->OpenDriverInstance(), 1);
  Sockets_Obj* listener = alloc<Sockets_Obj>()->init();
  ASSERT_EQ(listener->connect_server(nullptr), 1);
  auto connect = Request(1, 1, 3);
  EXPECT_EQ(client->SendRquest(connect.data()), 1);
  EXPECT_TRUE(Busy(3));
  EXPECT_EQ(Holder(3), "127.0.0.1");  // this computer

  // The server's device list reports the printer in use.
  server_->BroadcastNow();
  bool reportedBusy = false;
  pelko_dev_info* list = nullptr;
  for (int i = 0; i < 50 && !reportedBusy; ++i) {
    list = listener->recvMsg();
    ASSERT_NE(list, nullptr);
    for (int e = 0; e < listener->deviceCount(); ++e)
      if (list->dev[e].portnum == 3 && list->dev[e].b_f == 1) reportedBusy = true;
  }
  EXPECT_TRUE(reportedBusy);
  free(list);

  // The nub reads the printer's device descriptor over the claimed connection.
  io_connect_t nub = OpenNub();
  ASSERT_NE(nub, 0u);
  std::vector<uint8_t> descriptor;
  ASSERT_EQ(GetDeviceDescriptor(nub, descriptor), kIOReturnSuccess);
  EXPECT_EQ(descriptor, server_->usb_device(3)->DeviceDescriptor());
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[1], 1);  // a device descriptor
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x04b8);
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x0008);

  auto disconnect = Request(0, 1, 3);
  EXPECT_EQ(client->SendRquest(disconnect.data()), 1);
  EXPECT_TRUE(server_->WaitUntil([&] { return !Busy(3); }, 5s));
  EXPECT_TRUE(Nubs().empty());
  EXPECT_EQ(GetDeviceDescriptor(nub, descriptor), kIOReturnNoDevice);  // the device has gone
  IOServiceClose(nub);
  EXPECT_EQ(client->CloseDriverInstance(), 1);
  listener->closeDev();
  listener->release();
  client->release();

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(out[0]);
}

}  // namespace

namespace {

using namespace std::chrono_literals;

class QuorvelTransferTest : public QuorvelTest {
 protected:
  void SetUp() override {
    QuorvelTest::SetUp();
    host_ = std::make_unique<cocoa::iokit::Host>();  // on the test's sysroot
    ASSERT_TRUE(host_->Start());
    driver_ = std::make_shared<quorvel::Driver>(*host_);
    host_->Register(driver_);
  }
  void TearDown() override {
    if (nub_) IOServiceClose(nub_);
    if (driver_) driver_->DisconnectAll();
    if (host_) host_->Stop();
    QuorvelTest::TearDown();
  }
  void ConnectPrinter() {
    std::string reply;
    ASSERT_EQ(driver_->Request(Request(1, 2, 4), &reply), kIOReturnSuccess) << reply;
    nub_ = OpenNub();
    ASSERT_NE(nub_, 0u);
  }
  static zarnet::sim::Fault UsbFault(zarnet::sim::FaultKind kind) {
    zarnet::sim::Fault f;
    f.kind = kind;
    f.target = zarnet::sim::FaultTarget::kUsb;
    f.command = zarnet::RFC_CMD_CONTROL + zarnet::kResponseCommandOffset;
    f.times = 1;
    return f;
  }

  std::unique_ptr<cocoa::iokit::Host> host_;
  std::shared_ptr<quorvel::Driver> driver_;
  io_connect_t nub_ = 0;
};

TEST_F(QuorvelTransferTest, ControlTransfersTravelOnTheClaimedConnection) {
  ConnectPrinter();
  std::vector<uint8_t> none;
  ASSERT_EQ(DeviceRequest(nub_, 0x00, 9, 1, 0, none, 0), kIOReturnSuccess);  // SET_CONFIGURATION 1
  EXPECT_EQ(server_->usb_device(4)->configuration(), 1);
  std::vector<uint8_t> configuration;
  ASSERT_EQ(DeviceRequest(nub_, 0x80, 8, 0, 0, configuration, 1), kIOReturnSuccess);
  EXPECT_EQ(configuration, std::vector<uint8_t>{1});
  // Short answers are kept short: the whole configuration descriptor is asked for with room to spare.
  std::vector<uint8_t> whole;
  ASSERT_EQ(DeviceRequest(nub_, 0x80, 6, 0x0200, 0, whole, 1024), kIOReturnSuccess);
  EXPECT_EQ(whole, server_->usb_device(4)->ConfigurationDescriptor());
  std::vector<uint8_t> stalled;
  EXPECT_EQ(DeviceRequest(nub_, 0x80, 6, 0x4200, 0, stalled, 8), quorvel::kIOUSBPipeStalled);  // no such descriptor

  // Requests that do not describe themselves are refused before they reach the device.
  uint8_t outShort[10] = {0x40, 1, 0, 0, 0, 0, 4, 0, 0xAA, 0xBB};  // wLength 4, two bytes of data
  IOByteCount size = 0;
  EXPECT_EQ(IOConnectMethodStructureIStructureO(nub_, quorvel::kNubDeviceRequest, sizeof outShort, &size, outShort,
                                                nullptr),
            kIOReturnBadArgument);
  uint8_t inLong[8] = {0x80, 6, 0, 1, 0, 0, 18, 0};
  uint8_t room[8];
  size = sizeof room;  // less room than wLength
  EXPECT_EQ(IOConnectMethodStructureIStructureO(nub_, quorvel::kNubDeviceRequest, sizeof inLong, &size, inLong, room),
            kIOReturnBadArgument);
  EXPECT_EQ(IOConnectMethodStructureIStructureO(nub_, 7, sizeof inLong, &size, inLong, room), kIOReturnBadArgument);

  // Transfers from several connections at once each get their own answer.
  const std::vector<uint8_t> expected = server_->usb_device(4)->DeviceDescriptor();
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      io_connect_t nub = OpenNub();
      for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> d;
        if (GetDeviceDescriptor(nub, d) == kIOReturnSuccess && d == expected) ++good;
      }
      IOServiceClose(nub);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 60);
}

TEST_F(QuorvelTransferTest, AnAnswerOutOfBoundsFailsOnlyItsTransfer) {
  driver_->SetTransferTimeout(300ms);
  ConnectPrinter();
  std::vector<uint8_t> descriptor;
  // More data than the setup packet asked for.
  auto oversize = UsbFault(zarnet::sim::FaultKind::kOversize);
  oversize.size = 40;
  server_->AddFault(oversize);
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnError);
  EXPECT_TRUE(descriptor.empty());
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnSuccess);
  EXPECT_EQ(descriptor.size(), 18u);
  // An answer to some other transfer: this one is never answered and times out.
  server_->AddFault(UsbFault(zarnet::sim::FaultKind::kWrongSeqNo));
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnTimeout);
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnSuccess);
  // The device leaves the server's port.
  server_->usb_device(4)->Unplug();
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnNoDevice);
  EXPECT_EQ(driver_->slotsInUse(), std::vector<int>{2});
}

TEST_F(QuorvelTransferTest, ALostConnectionFailsAPendingTransfer) {
  driver_->SetTransferTimeout(60s);  // the failure must not come from a time-out
  ConnectPrinter();
  // The server closes the connection in the middle of the answer.
  auto cut = UsbFault(zarnet::sim::FaultKind::kEarlyClose);
  cut.size = 20;
  server_->AddFault(cut);
  std::vector<uint8_t> descriptor;
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnNotResponding);
  ASSERT_TRUE(server_->WaitUntil([&] { return driver_->slotsInUse().empty(); }, 5s));
  EXPECT_TRUE(Nubs().empty());
  EXPECT_EQ(GetDeviceDescriptor(nub_, descriptor), kIOReturnNotResponding);  // and so stays
}

TEST_F(QuorvelTransferTest, ADisconnectFailsAPendingTransfer) {
  driver_->SetTransferTimeout(60s);  // the failure must not come from a time-out
  // A server that reads the requests and never answers.
  std::atomic<size_t> received{0};
  server_->SetDataSessionHandler([&](const zarnet::sim::DataSession& session) {
    for (;;) {
      pollfd p[2] = {{session.socket, POLLIN, 0}, {session.stop_fd, POLLIN, 0}};
      if (poll(p, 2, -1) < 0 || p[1].revents) return;
      char sink[256];
      ssize_t n = recv(session.socket, sink, sizeof sink, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return;
      if (n > 0) received += static_cast<size_t>(n);
    }
  });
  ConnectPrinter();
  IOReturn result = kIOReturnSuccess;
  std::thread transfer([&] {
    std::vector<uint8_t> descriptor;
    result = GetDeviceDescriptor(nub_, descriptor);
  });
  ASSERT_TRUE(server_->WaitUntil([&] { return received.load() >= zarnet::RFC_HEADER_SIZE; }, 5s));
  EXPECT_EQ(driver_->Request(Request(0, 2, 4), nullptr), kIOReturnSuccess);
  transfer.join();
  EXPECT_EQ(result, kIOReturnNoDevice);
  EXPECT_TRUE(server_->WaitUntil([&] { return !Busy(4); }, 5s));
}

}  // namespace
