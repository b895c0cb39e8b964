// Command 8: the image fetched by TFTP from the computer that asked.
#include <gtest/gtest.h>

#include "sim_test_util.h"
#include "zarnet/command.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace simtest;
using namespace zarnet;
using namespace zarnet::sim;
using State = UpgradeStatus::State;

std::vector<uint8_t> Image(size_t size) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return image;
}

class UpgradeTest : public ::testing::Test {
 protected:
  void Begin(const std::vector<uint8_t>& image, const std::string& served = kName) {
    tftp_ = std::make_unique<TftpServer>(served, image);
    ServerOptions o = LoopbackServerOptions(6, lists_.port());
    o.tftp_port = tftp_->port();
    o.tftp_timeout = 100ms;
    o.tftp_retries = 3;
    o.fw_major = 1;
    o.fw_minor = 12;
    server_ = std::make_unique<Server>(o);
    ASSERT_TRUE(server_->Start());
  }
  Exchange Upgrade(const std::string& request) {
    return Command("127.0.0.6", server_->command_port(), request);
  }
  UpgradeStatus Finished() {
    EXPECT_TRUE(server_->WaitUntil(
        [&] {
          State state = server_->upgrade().state;
          return state == State::kSucceeded || state == State::kFailed;
        },
        5000ms));
    return server_->upgrade();
  }

  static constexpr const char* kName = "zarnet-update-2.0.0.3.bin";
  Udp lists_;  // where the server's device lists go
  std::unique_ptr<TftpServer> tftp_;
  std::unique_ptr<Server> server_;
};

TEST_F(UpgradeTest, FetchesTheImageThenRestartsWithItsVersion) {
  auto image = Image(3 * 512 + 100);
  Begin(image);
  Exchange answer = Upgrade(EncodeCommandRequest(kCmdUpGradeFirmware, kName));
  EXPECT_EQ(answer.response, "<RSP=8>\n<STATUS=0>\n</STATUS>\n<DATA>\n\n</DATA>\n</RSP>");
  UpgradeStatus status = Finished();
  EXPECT_EQ(status.state, State::kSucceeded) << status.message;
  EXPECT_EQ(status.client_ip, "127.0.0.1");
  EXPECT_EQ(status.image, image);
  ASSERT_TRUE(server_->WaitUntil([&] { return server_->restarts() == 1 && server_->running(); }, 3000ms));
  EXPECT_EQ(server_->configuration().fw_version, "2.0.0.3");
}

TEST_F(UpgradeTest, ImageOfWholeBlocksEndsWithAnEmptyOne) {
  auto image = Image(2 * 512);
  Begin(image);
  // The other client's form: the name without DATA tags.
  Upgrade(std::string("<CMD=8>\n") + kName + "\n</CMD>");
  UpgradeStatus status = Finished();
  EXPECT_EQ(status.state, State::kSucceeded) << status.message;
  EXPECT_EQ(status.bytes, 1024u);
}

TEST_F(UpgradeTest, LostPacketsAreSentAgain) {
  auto image = Image(700);
  Begin(image);
  tftp_->ignore_requests = 1;     // the first read request is lost
  tftp_->drop_first_data = true;  // and so is the first DATA
  Upgrade(EncodeCommandRequest(kCmdUpGradeFirmware, kName));
  UpgradeStatus status = Finished();
  EXPECT_EQ(status.state, State::kSucceeded) << status.message;
  EXPECT_EQ(tftp_->first_answered.load(), 2);  // the lost request was sent again
  EXPECT_EQ(status.image, image);
}

TEST_F(UpgradeTest, ServerErrorIsReported) {
  Begin(Image(10), "other.bin");
  Upgrade(EncodeCommandRequest(kCmdUpGradeFirmware, kName));
  UpgradeStatus status = Finished();
  EXPECT_EQ(status.state, State::kFailed);
  EXPECT_EQ(status.tftp_error, 1);
  EXPECT_EQ(status.message, "File not found");
  EXPECT_EQ(server_->configuration().fw_version, "1.0.0.12");
  EXPECT_EQ(server_->restarts(), 0);
}

TEST_F(UpgradeTest, NoTftpServerTimesOut) {
  Begin(Image(10));
  tftp_->ignore_requests = 100;
  auto start = std::chrono::steady_clock::now();
  Upgrade(EncodeCommandRequest(kCmdUpGradeFirmware, kName));
  UpgradeStatus status = Finished();
  EXPECT_EQ(status.state, State::kFailed);
  EXPECT_EQ(status.message, "timed out");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4 * 100ms);  // the first try and three more
}

TEST_F(UpgradeTest, StopDuringATransferEndsIt) {
  Begin(Image(10));
  tftp_->ignore_requests = 100;
  Upgrade(EncodeCommandRequest(kCmdUpGradeFirmware, kName));
  ASSERT_TRUE(server_->WaitUntil([&] { return server_->upgrade().state == State::kRunning; }, 1000ms));
  server_->Stop();
  EXPECT_EQ(server_->upgrade().state, State::kFailed);
}

}  // namespace
