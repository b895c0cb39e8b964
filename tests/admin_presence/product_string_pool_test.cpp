// The product-string fetches of the device list against simulated servers: a slow server is bounded by
// the response deadline, the stop wakes a fetch under way, and slow servers do not hold up the others.
#include <chrono>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "admin/comm/CommSettings.h"
#include "presence_fixture.h"
#include "zarnet/sim/faults.h"
#include "zarnet/sim/server.h"

namespace presence_test {
namespace {

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class ProductStringFetchTest : public DocUnitTest {
 protected:
  void SetUp() override {
    DocUnitTest::SetUp();
    if (HasFatalFailure()) return;
    commandPort_ = FreeLoopbackPort(SOCK_STREAM);
    deviceListPort_ = FreeLoopbackPort(SOCK_DGRAM);  // nobody listens: the broadcasts go nowhere
    ServerCommSettings settings = GetDefaultServerCommSettings();
    settings.commandPort = commandPort_;
    settings.commandRecvTimeoutMs = 1000;  // longer than the pause between two bytes of a slow server
    settings.commandRecvTimeoutLimit = 10;
    settings.commandResponseTimeoutMs = 60000;  // unless a test says otherwise
    settings.productStringAttempts = 1;
    SetDefaultServerCommSettings(settings);
  }
  void TearDown() override {
    // The fetches end before the servers they talk to.
    doc_->StopBroadcastListener();
    doc_->StopProductStringFetches();
    servers_.clear();
    DocUnitTest::TearDown();
  }
  // A server on 127.0.0.<last> with one device on port 1; `slow`: its answers trickle in a byte at a time.
  void AddServer(int last, bool slow) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(last, deviceListPort_);
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
  uint16_t deviceListPort_ = 0;
  std::vector<std::unique_ptr<zarnet::sim::Server>> servers_;
};

TEST_F(ProductStringFetchTest, AServerThatAnswersAByteAtATimeIsGivenUpAtTheResponseDeadline) {
  SetResponseDeadline(400);
  AddServer(3, true);
  List(3);
  ASSERT_TRUE(WaitFor([&] { return Device(3, 1).ProductStringState == 2; }, std::chrono::seconds(20)));
  EXPECT_EQ(Device(3, 1).ProductString, nullptr);  // shown by its identifiers
  EXPECT_NE(ReadTraceLog().find("No whole response within 400 ms"), std::string::npos);
}

TEST_F(ProductStringFetchTest, TheStopEndsAFetchThatWaitsForASlowServer) {
  AddServer(3, true);
  List(3);
  ASSERT_TRUE(WaitFor([] { return ReadTraceLog().find("Bytes Received : 1") != std::string::npos; },
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
  ASSERT_TRUE(WaitFor(
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
  for (int last = 2; last <= 5; ++last) EXPECT_EQ(Device(last, 1).ProductStringState, 1u);  // still trickling
}

}  // namespace
}  // namespace presence_test
