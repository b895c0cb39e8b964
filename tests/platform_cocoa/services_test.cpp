// IOKit user clients against an in-process host, printers, and the socket seam.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "cocoa/IOKitLib.h"
#include "cocoa/PrintCore.h"
#include "cocoa/bsd.h"
#include "cocoa/iokit_host.h"
#include "testsupport/sysroot.h"

namespace {

using cocoa::iokit::Host;
using cocoa::iokit::Service;
using cocoa::iokit::UserClient;

std::atomic<int> g_closed{0};

// Answers selector 0 with the sum of its scalars and selector 5 with its input reversed.
class EchoClient : public UserClient {
 public:
  IOReturn ScalarMethod(uint32_t selector, const std::vector<int64_t>& in, std::vector<int64_t>& out,
                        uint32_t) override {
    if (selector != 0) return kIOReturnBadArgument;
    int64_t sum = 0;
    for (int64_t v : in) sum += v;
    out.push_back(sum);
    return kIOReturnSuccess;
  }
  IOReturn StructMethod(uint32_t selector, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                        uint32_t) override {
    if (selector != 5) return kIOReturnBadArgument;
    out.assign(in.rbegin(), in.rend());
    return kIOReturnSuccess;
  }
  void Closed() override { ++g_closed; }
};

class EchoService : public Service {
 public:
  explicit EchoService(int64_t tag) : Service("EchoDriver", {{"tag", tag}}) {}
  std::unique_ptr<UserClient> NewUserClient(uint32_t type) override {
    return type == 0 ? std::make_unique<EchoClient>() : nullptr;
  }
};

class IOKitTest : public tavrin::test::SysrootTest {
 protected:
  // The services of that class, as handles (released by the caller).
  static std::vector<io_service_t> Match(const char* name) {
    mach_port_t master = 0;
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &master), KERN_SUCCESS);
    io_iterator_t iterator = 0;
    EXPECT_EQ(IOServiceGetMatchingServices(master, IOServiceMatching(name), &iterator), KERN_SUCCESS);
    std::vector<io_service_t> found;
    while (io_service_t s = IOIteratorNext(iterator)) found.push_back(s);
    IOObjectRelease(iterator);
    return found;
  }
};

TEST_F(IOKitTest, WithoutAHostNothingMatchesAndNothingOpens) {
  CFSTR("IOProviderClass");  // a constant string: made before counting
  const long before = cocoa::LiveObjectCount();
  EXPECT_TRUE(Match("EchoDriver").empty());
  int out = 0;
  EXPECT_NE(IOConnectMethodScalarIScalarO(IO_OBJECT_NULL, 0, 0, 0), KERN_SUCCESS);
  EXPECT_NE(IOConnectMethodScalarIScalarO(1234, 0, 0, 1, &out), KERN_SUCCESS);
  EXPECT_EQ(cocoa::LiveObjectCount(), before);  // the matching dictionary was consumed
}

TEST_F(IOKitTest, UserClientCallsReachTheFirstMatchingService) {
  Host host;
  ASSERT_TRUE(host.Start());
  host.Register(std::make_shared<EchoService>(1));
  host.Register(std::make_shared<EchoService>(2));
  host.Register(std::make_shared<Service>("Other"));

  auto services = Match("EchoDriver");
  ASSERT_EQ(services.size(), 2u);
  io_name_t name;
  ASSERT_EQ(IOObjectGetClass(services[0], name), KERN_SUCCESS);
  EXPECT_STREQ(name, "EchoDriver");
  auto tag = static_cast<CFNumberRef>(IORegistryEntryCreateCFProperty(services[0], CFSTR("tag"), nullptr, 0));
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->intValue(), 1);
  CFRelease(tag);

  io_connect_t refused = 0;
  EXPECT_EQ(IOServiceOpen(services[0], mach_task_self(), 1, &refused), kIOReturnUnsupported);
  io_connect_t connect = 0;
  ASSERT_EQ(IOServiceOpen(services[0], mach_task_self(), 0, &connect), KERN_SUCCESS);
  for (auto s : services) IOObjectRelease(s);

  int sum = 0;
  EXPECT_EQ(IOConnectMethodScalarIScalarO(connect, 0, 3, 1, 4, 5, -2, &sum), KERN_SUCCESS);
  EXPECT_EQ(sum, 7);
  EXPECT_EQ(IOConnectMethodScalarIScalarO(connect, 9, 0, 0), kIOReturnBadArgument);

  uint8_t in[6] = {1, 2, 3, 4, 5, 6}, out[4] = {};
  IOByteCount size = sizeof out;
  EXPECT_EQ(IOConnectMethodStructureIStructureO(connect, 5, sizeof in, &size, in, out), KERN_SUCCESS);
  EXPECT_EQ(size, 4u);  // never more than the room given
  EXPECT_EQ(out[0], 6);
  EXPECT_EQ(out[3], 3);

  const int closedBefore = g_closed;
  EXPECT_EQ(IOServiceClose(connect), KERN_SUCCESS);
  host.Stop();  // joins the connection's thread: Closed has run
  EXPECT_EQ(g_closed, closedBefore + 1);
  EXPECT_NE(IOConnectMethodScalarIScalarO(connect, 0, 0, 0), KERN_SUCCESS);
}

TEST_F(IOKitTest, StoppingTheHostEndsOpenConnections) {
  Host host;
  ASSERT_TRUE(host.Start());
  host.Register(std::make_shared<EchoService>(1));
  auto services = Match("EchoDriver");
  ASSERT_EQ(services.size(), 1u);
  io_connect_t connect = 0;
  ASSERT_EQ(IOServiceOpen(services[0], mach_task_self(), 0, &connect), KERN_SUCCESS);
  IOObjectRelease(services[0]);
  const int closedBefore = g_closed;
  host.Stop();
  EXPECT_EQ(g_closed, closedBefore + 1);
  EXPECT_NE(IOConnectMethodScalarIScalarO(connect, 0, 0, 0), KERN_SUCCESS);
  IOServiceClose(connect);
  // A second host takes over the socket file the first left.
  Host again;
  EXPECT_TRUE(again.Start());
}

class PrintCoreTest : public tavrin::test::SysrootTest {};

TEST_F(PrintCoreTest, PrintersHaveNamesStatesAndOneDefault) {
  ASSERT_TRUE(cocoa::printing::AddPrinter("Office Laser/2"));
  ASSERT_TRUE(cocoa::printing::AddPrinter("Lab"));
  ASSERT_TRUE(cocoa::printing::SetDefaultPrinter("Office Laser/2"));
  ASSERT_TRUE(cocoa::printing::SetPrinterState("Office Laser/2", kPMPrinterProcessing));
  EXPECT_FALSE(cocoa::printing::SetPrinterState("Nobody", kPMPrinterIdle));
  CFArrayRef list = nullptr;
  ASSERT_EQ(PMServerCreatePrinterList(kPMServerLocal, &list), noErr);
  ASSERT_EQ(CFArrayGetCount(list), 2);
  auto lab = static_cast<PMPrinter>(const_cast<void*>(CFArrayGetValueAtIndex(list, 0)));
  auto office = static_cast<PMPrinter>(const_cast<void*>(CFArrayGetValueAtIndex(list, 1)));
  EXPECT_STREQ(PMPrinterGetName(lab)->UTF8String(), "Lab");
  EXPECT_STREQ(PMPrinterGetName(office)->UTF8String(), "Office Laser/2");
  EXPECT_FALSE(PMPrinterIsDefault(lab));
  EXPECT_TRUE(PMPrinterIsDefault(office));
  PMPrinterState state = 0;
  EXPECT_EQ(PMPrinterGetState(office, &state), noErr);
  EXPECT_EQ(state, kPMPrinterProcessing);
  EXPECT_EQ(PMPrinterGetState(lab, &state), noErr);
  EXPECT_EQ(state, kPMPrinterIdle);
  CFRelease(list);
}

TEST(SocketSeam, ProductionAddressesGoWhereTheSettingsSay) {
  // A port free at the moment on loopback.
  int probe = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = bsd::inet_addr("127.0.0.1");
  socklen_t probeLength = sizeof loopback;
  ASSERT_EQ(bsd::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
  bsd::getsockname(probe, reinterpret_cast<sockaddr*>(&loopback), &probeLength);
  bsd::close(probe);
  const uint16_t port = ntohs(loopback.sin_port);
  bsd::ResetNetwork();
  bsd::SetBindAddress("127.0.0.1");
  bsd::SetBroadcastAddress("127.0.0.1");
  bsd::MapPort(6000, port);
  EXPECT_EQ(bsd::NetworkSettingsText(), "bind=127.0.0.1;broadcast=127.0.0.1;6000=" + std::to_string(port) + ";");

  int receiver = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(6000);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bsd::bind(receiver, reinterpret_cast<sockaddr*>(&any), sizeof any), 0) << strerror(errno);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  bsd::getsockname(receiver, reinterpret_cast<sockaddr*>(&bound), &length);
  EXPECT_EQ(ntohs(bound.sin_port), port);
  EXPECT_STREQ(bsd::inet_ntoa(bound.sin_addr), "127.0.0.1");

  int sender = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in everyone = any;
  everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  ASSERT_EQ(bsd::sendto(sender, "hi", 2, 0, reinterpret_cast<sockaddr*>(&everyone), sizeof everyone), 2);
  char text[8] = {};
  EXPECT_EQ(bsd::recv(receiver, text, sizeof text, 0), 2);
  EXPECT_STREQ(text, "hi");
  bsd::close(sender);
  bsd::close(receiver);
  bsd::ResetNetwork();
  EXPECT_EQ(bsd::NetworkSettingsText(), "");
}

TEST(SocketSeam, ABroadcastToAListReachesEachAddressOnItsOwnPort) {
  // Two receivers on loopback addresses of their own, each on a port the system chose.
  auto receiver = [](const char* address, uint16_t* port) {
    int fd = bsd::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = bsd::inet_addr(address);
    socklen_t length = sizeof a;
    EXPECT_EQ(bsd::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    bsd::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return fd;
  };
  uint16_t first = 0, second = 0;
  int one = receiver("127.0.0.5", &first), two = receiver("127.0.0.6", &second);
  bsd::ResetNetwork();
  bsd::SetBroadcastAddress("127.0.0.5,127.0.0.6");
  bsd::MapPort(1341, first, "127.0.0.5");
  bsd::MapPort(1341, second, "127.0.0.6");
  int sender = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in everyone{};
  everyone.sin_family = AF_INET;
  everyone.sin_port = htons(1341);
  everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  ASSERT_EQ(bsd::sendto(sender, "Tavrin", 6, 0, reinterpret_cast<sockaddr*>(&everyone), sizeof everyone), 6);
  char text[8] = {};
  EXPECT_EQ(bsd::recv(one, text, sizeof text, 0), 6);
  EXPECT_EQ(bsd::recv(two, text, sizeof text, 0), 6);
  EXPECT_STREQ(text, "Tavrin");
  EXPECT_NE(bsd::NetworkSettingsText().find("broadcast=127.0.0.5,127.0.0.6;"), std::string::npos);
  bsd::close(sender);
  bsd::close(one);
  bsd::close(two);
  bsd::ResetNetwork();
}

}  // namespace
