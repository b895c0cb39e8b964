// The device-data service: negotiation records over loopback, the claimed connection and its faults.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "sim_test_util.h"
#include "zarnet/device_list.h"
#include "zarnet/negotiation.h"
#include "zarnet/sim/faults.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace simtest;
using namespace zarnet;
using namespace zarnet::sim;

// One negotiation step from the client's side; the connection stays open for what follows.
class Step {
 public:
  Step(uint16_t port, uint8_t id, uint16_t device_port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Address("127.0.0.2", port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    std::vector<uint8_t> request = EncodeNegRequest(id, device_port);
    if (connected_) ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
  }
  ~Step() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }
  // Reads one reply record; reads_ counts the receives it took.
  NegRecordReader::State Reply(std::chrono::milliseconds timeout = 2000ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (reader_.state() == NegRecordReader::State::kNeedMore) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        timed_out_ = true;
        break;
      }
      uint8_t buffer[256];  // only the record: what follows it belongs to the data session
      ssize_t n = ::recv(fd_, buffer, std::min(sizeof(buffer), reader_.wanted()), 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      ++reads_;
      reader_.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    }
    return reader_.state();
  }
  std::span<const uint8_t> record() const { return reader_.record(); }
  bool connected_ = false, closed_ = false, timed_out_ = false;
  int reads_ = 0;

 private:
  int fd_ = -1;
  NegRecordReader reader_;
};

Device Printer() {
  Device d;
  d.port = 3;
  d.device_class = 7;
  d.vid = 0x03F0;
  d.pid = 0x2B17;
  return d;
}

class DataServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerOptions o = LoopbackServerOptions(2, listener_.port());
    o.devices = {Printer()};
    server_ = std::make_unique<Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    ASSERT_NE(server_->data_port(), 0);
  }
  NegVerdict Ask(uint8_t id, uint16_t port = 3) {
    Step step(server_->data_port(), id, port);
    EXPECT_EQ(step.Reply(), NegRecordReader::State::kComplete);
    return JudgeNegReply(id, step.record());
  }
  bool BroadcastsBusy(bool busy, const std::string& client = {}) {
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto datagram = listener_.ReceiveFrom("127.0.0.2", 500ms);
      if (!datagram) continue;
      auto list = DecodeServerDeviceList(*datagram);
      if (!list || list->devices.empty()) continue;
      if ((list->devices[0].b_f != 0) != busy) continue;
      if (client.empty()) return true;
      for (const Device& d : server_->devices())
        if (d.port == 3 && d.client_ip == client) return true;
    }
    return false;
  }

  Udp listener_;
  std::unique_ptr<Server> server_;
};

TEST_F(DataServiceTest, ThreeStepsThenTheClaimedConnectionHoldsTheDevice) {
  EXPECT_EQ(Ask(NEGCMD_SIGNATURE), NegVerdict::kAccepted);
  EXPECT_EQ(Ask(NEGCMD_IS_DEVICE_FREE), NegVerdict::kAccepted);
  {
    Step claim(server_->data_port(), NEGCMD_CLAIM_DEVICE, 3);
    ASSERT_EQ(claim.Reply(), NegRecordReader::State::kComplete);
    auto record = claim.record();
    ASSERT_EQ(record.size(), kNegPortReplySize);
    EXPECT_EQ(record[4], NEGCMD_CLAIM_DEVICE);
    EXPECT_EQ(record[5] | (record[6] << 8), 3);
    EXPECT_EQ(JudgeNegReply(NEGCMD_CLAIM_DEVICE, record), NegVerdict::kAccepted);
    EXPECT_TRUE(BroadcastsBusy(true, "127.0.0.1"));
    // While it is held, a second computer finds it busy and cannot claim it.
    EXPECT_EQ(Ask(NEGCMD_IS_DEVICE_FREE), NegVerdict::kRefused);
    EXPECT_EQ(Ask(NEGCMD_CLAIM_DEVICE), NegVerdict::kRefused);
  }  // closing the claimed connection frees the device
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == 1; }, 2s));
  EXPECT_TRUE(BroadcastsBusy(false));
  NegotiationStats stats = server_->negotiation();
  EXPECT_EQ(stats.connections, 5);
  EXPECT_EQ(stats.signatures, 1);
  EXPECT_EQ(stats.free_tests, 2);
  EXPECT_EQ(stats.claims, 2);
  EXPECT_EQ(stats.granted, 1);
}

TEST_F(DataServiceTest, SignatureReplyCarriesTheVersionAtBytesFiveToEleven) {
  Step step(server_->data_port(), NEGCMD_SIGNATURE, 0);
  ASSERT_EQ(step.Reply(), NegRecordReader::State::kComplete);
  auto record = step.record();
  ASSERT_EQ(record.size(), kNegSignatureSize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 5), 7), std::string("Ver1.0\0", 7));
}

TEST_F(DataServiceTest, MissingDeviceIsNeitherFreeNorClaimable) {
  EXPECT_EQ(Ask(NEGCMD_IS_DEVICE_FREE, 9), NegVerdict::kRefused);
  EXPECT_EQ(Ask(NEGCMD_CLAIM_DEVICE, 9), NegVerdict::kRefused);
}

TEST_F(DataServiceTest, FaultsShapeTheReplies) {
  Fault wrong;
  wrong.kind = FaultKind::kWrongSignature;
  wrong.target = FaultTarget::kData;
  wrong.times = 1;
  server_->AddFault(wrong);
  EXPECT_EQ(Ask(NEGCMD_SIGNATURE), NegVerdict::kRefused);
  EXPECT_EQ(Ask(NEGCMD_SIGNATURE), NegVerdict::kAccepted);

  auto busy = ParseFault("busy step=free times=1");
  ASSERT_TRUE(busy);
  server_->AddFault(*busy);
  EXPECT_EQ(Ask(NEGCMD_SIGNATURE), NegVerdict::kAccepted);  // another step: untouched
  EXPECT_EQ(Ask(NEGCMD_IS_DEVICE_FREE), NegVerdict::kRefused);
  EXPECT_EQ(Ask(NEGCMD_IS_DEVICE_FREE), NegVerdict::kAccepted);

  auto split = ParseFault("split target=data chunk=3 delay_ms=5 times=1");
  ASSERT_TRUE(split);
  server_->AddFault(*split);
  Step pieces(server_->data_port(), NEGCMD_SIGNATURE, 0);
  ASSERT_EQ(pieces.Reply(), NegRecordReader::State::kComplete);
  EXPECT_GT(pieces.reads_, 1);
  EXPECT_EQ(JudgeNegReply(NEGCMD_SIGNATURE, pieces.record()), NegVerdict::kAccepted);
}

TEST_F(DataServiceTest, SilentAndEarlyClosingServers) {
  auto silence = ParseFault("silence target=data times=1");
  ASSERT_TRUE(silence);
  server_->AddFault(*silence);
  Step quiet(server_->data_port(), NEGCMD_SIGNATURE, 0);
  EXPECT_EQ(quiet.Reply(150ms), NegRecordReader::State::kNeedMore);
  EXPECT_TRUE(quiet.timed_out_);

  auto early = ParseFault("early-close target=data step=claim times=1");
  ASSERT_TRUE(early);
  server_->AddFault(*early);
  Step closed(server_->data_port(), NEGCMD_CLAIM_DEVICE, 3);
  EXPECT_EQ(closed.Reply(), NegRecordReader::State::kNeedMore);
  EXPECT_TRUE(closed.closed_);
  EXPECT_FALSE(server_->devices()[0].busy);
  quiet.Close();
  server_->Stop();  // nothing left hanging
}

TEST_F(DataServiceTest, ClaimedConnectionGoesToTheSessionHandler) {
  std::mutex mutex;
  std::condition_variable cv;
  std::optional<DataSession> seen;
  bool release = false;
  server_->SetDataSessionHandler([&](const DataSession& session) {
    std::unique_lock lock(mutex);
    seen = session;
    cv.notify_all();
    const char hello[] = "hello";
    ::send(session.socket, hello, 5, MSG_NOSIGNAL);
    cv.wait(lock, [&] { return release; });
  });
  Step claim(server_->data_port(), NEGCMD_CLAIM_DEVICE, 3);
  ASSERT_EQ(claim.Reply(), NegRecordReader::State::kComplete);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, 2s, [&] { return seen.has_value(); }));
    EXPECT_EQ(seen->device.port, 3);
    EXPECT_EQ(seen->client_ip, "127.0.0.1");
  }
  char buffer[8];
  pollfd p{claim.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_EQ(::recv(claim.fd(), buffer, sizeof(buffer), 0), 5);
  EXPECT_TRUE(server_->devices()[0].busy);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  EXPECT_TRUE(server_->WaitUntil([&] { return !server_->devices()[0].busy; }, 2s));
}

}  // namespace
