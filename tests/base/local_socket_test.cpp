// The local-socket server the kernel host and the IOKit host stand on: taking over a socket file left by a
// server that ended, refusing a second server, the connection limit, and a stop that ends handlers blocked
// in a receive; the hang-up watch; and memory shared with a peer, handed over by its descriptor.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/local_socket.h"
#include "base/shared_memory.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"

namespace {

namespace local = tavrin::base::local;

// Something one thread waits for until another says it happened.
class Signal {
 public:
  void Raise() {
    std::lock_guard guard(lock_);
    raised_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(30), [&] { return raised_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool raised_ = false;
};

class LocalSocketTest : public tavrin::test::SysrootTest {
 protected:
  local::Address address() const { return local::Address::File(root() / "test.sock"); }

  // A handler that answers every byte with the byte plus one until the peer ends.
  static void Echo(const std::shared_ptr<local::Connection>& connection) {
    uint8_t byte;
    while (connection->ReceiveAll(&byte, 1)) {
      ++byte;
      if (!connection->SendAll(&byte, 1)) return;
    }
  }
  static bool RoundTrip(local::Connection& connection, uint8_t sent) {
    uint8_t answer = 0;
    return connection.SendAll(&sent, 1) && connection.ReceiveAll(&answer, 1) && answer == sent + 1;
  }
};

TEST_F(LocalSocketTest, AServerAnswersTakesOverAStaleSocketFileAndRemovesItsOwnAtTheStop) {
  std::ofstream(root() / "test.sock") << "left by a server that ended";
  local::Server server;
  std::string error;
  ASSERT_TRUE(server.Start(address(), Echo, {}, &error)) << error;
  EXPECT_TRUE(local::Listening(address()));
  local::Connection first = local::Connect(address());
  local::Connection second = local::Connect(address());
  ASSERT_TRUE(first.valid() && second.valid());
  EXPECT_TRUE(RoundTrip(first, 1));
  EXPECT_TRUE(RoundTrip(second, 41));
  EXPECT_TRUE(RoundTrip(first, 254));
  server.Stop();
  EXPECT_FALSE(std::filesystem::exists(root() / "test.sock"));
  EXPECT_FALSE(local::Connect(address()).valid());
}

TEST_F(LocalSocketTest, ASecondServerAtALiveAddressIsRefusedAndTheFirstKeepsServing) {
  local::Server first, second;
  ASSERT_TRUE(first.Start(address(), Echo, {}));
  std::string error;
  EXPECT_FALSE(second.Start(address(), Echo, {}, &error));
  EXPECT_EQ(errno, EADDRINUSE);
  EXPECT_FALSE(error.empty());
  local::Connection client = local::Connect(address());
  EXPECT_TRUE(RoundTrip(client, 7));
}

TEST_F(LocalSocketTest, ANameTooLongForASocketIsRefused) {
  local::Server server;
  EXPECT_FALSE(server.Start(local::Address::File(root() / std::string(200, 'x')), Echo, {}));
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_FALSE(local::Connect(local::Address::File(root() / std::string(200, 'x'))).valid());
}

TEST_F(LocalSocketTest, BeyondTheLimitANewConnectionIsClosedAtOnceAndOneIsTakenAgainWhenASlotFrees) {
  local::Server server;
  local::Server::Options options;
  options.maxConnections = 2;
  options.name = "limit test";
  ASSERT_TRUE(server.Start(address(), Echo, options));
  local::Connection a = local::Connect(address());
  local::Connection b = local::Connect(address());
  ASSERT_TRUE(RoundTrip(a, 1));
  ASSERT_TRUE(RoundTrip(b, 2));
  local::Connection refused = local::Connect(address());
  ASSERT_TRUE(refused.valid());  // the kernel queues it; the server closes it without reading
  uint8_t byte = 3;
  refused.SendAll(&byte, 1);
  EXPECT_FALSE(refused.ReceiveAll(&byte, 1));

  a = local::Connection();  // its handler returns, and its slot is free once the server has seen that
  EXPECT_TRUE(tavrin::test::Eventually([&] {
    local::Connection c = local::Connect(address());
    return RoundTrip(c, 4);
  }));
  EXPECT_TRUE(RoundTrip(b, 5));
}

TEST_F(LocalSocketTest, AStopEndsHandlersBlockedInAReceiveAndTheirPeersSeeTheEnd) {
  std::atomic<int> running{0}, ended{0};
  Signal bothIn;
  local::Server server;
  ASSERT_TRUE(server.Start(
      address(),
      [&](const std::shared_ptr<local::Connection>& connection) {
        if (++running == 2) bothIn.Raise();
        uint8_t byte;
        connection->ReceiveAll(&byte, 1);  // the peers never send
        ++ended;
      },
      {}));
  local::Connection a = local::Connect(address());
  local::Connection b = local::Connect(address());
  ASSERT_TRUE(bothIn.Wait());
  server.Stop();
  EXPECT_EQ(ended, 2);
  uint8_t byte;
  EXPECT_FALSE(a.ReceiveAll(&byte, 1));
  EXPECT_FALSE(b.ReceiveAll(&byte, 1));
}

TEST_F(LocalSocketTest, TheHangupWatchTellsWhenAPeerGoesAlsoWhenItHadGoneAndNothingAfterARemove) {
  // The server's ends of the connections, in the order they came; held here so that they stay open.
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<std::shared_ptr<local::Connection>> serverSides;
  local::Server server;
  ASSERT_TRUE(server.Start(
      address(),
      [&](const std::shared_ptr<local::Connection>& connection) {
        {
          std::lock_guard guard(lock);
          serverSides.push_back(connection);
          arrived.notify_all();
        }
        uint8_t byte;
        while (connection->ReceiveAll(&byte, 1)) {
        }
      },
      {}));
  auto serverSide = [&](size_t index) {
    std::unique_lock guard(lock);
    arrived.wait_for(guard, std::chrono::seconds(30), [&] { return serverSides.size() > index; });
    return serverSides.size() > index ? serverSides[index] : nullptr;
  };

  local::HangupWatch watch;
  local::Connection first = local::Connect(address());
  auto firstServerSide = serverSide(0);
  ASSERT_TRUE(firstServerSide);
  Signal firstGone;
  std::atomic<int> firstCalls{0};
  const uint64_t firstId = watch.Add(firstServerSide->fd(), [&] {
    ++firstCalls;
    firstGone.Raise();
  });
  ASSERT_NE(firstId, 0u);
  first = local::Connection();  // closed
  ASSERT_TRUE(firstGone.Wait());
  watch.Remove(firstId);
  const int told = firstCalls;

  local::Connection second = local::Connect(address());
  auto secondServerSide = serverSide(1);
  ASSERT_TRUE(secondServerSide);
  second = local::Connection();  // gone before it is watched
  Signal secondGone;
  const uint64_t secondId = watch.Add(secondServerSide->fd(), [&] { secondGone.Raise(); });
  ASSERT_NE(secondId, 0u);
  EXPECT_TRUE(secondGone.Wait());
  watch.Remove(secondId);
  EXPECT_EQ(firstCalls, told);
}

TEST(LocalReceiveTest, AReceiveEndsAtItsTimeOutAndTakesBytesThatCameBeforeOrAfter) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  local::Connection waiting(pair[1]);
  ASSERT_TRUE(waiting.SetReceiveTimeout(std::chrono::milliseconds(20)));
  uint8_t got[2] = {};
  int descriptor = -1;
  // Nothing sent: both receives give up at the time-out rather than waiting for ever.
  EXPECT_FALSE(waiting.ReceiveAll(got, 1));
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_FALSE(local::ReceiveAllWithDescriptor(pair[1], got, 1, &descriptor));
  EXPECT_EQ(descriptor, -1);
  // A byte already there, then one that comes while the receive waits.
  const uint8_t bytes[2] = {5, 6};
  ASSERT_TRUE(local::SendAll(pair[0], bytes, 1));
  ASSERT_TRUE(waiting.SetReceiveTimeout(std::chrono::milliseconds(0)));
  std::thread late([&] { local::SendAll(pair[0], bytes + 1, 1); });
  EXPECT_TRUE(waiting.ReceiveAll(got, 2));
  late.join();
  EXPECT_EQ(got[0], 5);
  EXPECT_EQ(got[1], 6);
  close(pair[0]);
  EXPECT_FALSE(waiting.ReceiveAll(got, 1));  // the peer's end
}

TEST(SharedMemoryTest, APeerMapsWhatWasHandedOverAndSeesTheSameBytesButNeverMoreThanThereIs) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  auto made = tavrin::base::SharedMemory::Create(64 * 1024);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->data()[100], 0);
  // The descriptor travels with the first byte; the bytes around it arrive as sent.
  uint8_t head[3] = {1, 2, 3};
  iovec parts[1] = {{head, sizeof head}};
  ASSERT_TRUE(local::SendAllParts(pair[0], parts, 1, made->descriptor()));
  uint8_t got[3] = {};
  int descriptor = -1;
  ASSERT_TRUE(local::ReceiveAllWithDescriptor(pair[1], got, sizeof got, &descriptor));
  EXPECT_EQ(got[2], 3);
  ASSERT_GE(descriptor, 0);
  auto mapped = tavrin::base::SharedMemory::Map(descriptor, 64 * 1024);
  ASSERT_NE(mapped, nullptr);
  made->data()[100] = 42;
  EXPECT_EQ(mapped->data()[100], 42);
  mapped->data()[65535] = 7;
  EXPECT_EQ(made->data()[65535], 7);
  // A size beyond the memory is refused rather than mapped past its end.
  EXPECT_EQ(tavrin::base::SharedMemory::Map(descriptor, 64 * 1024 + 1), nullptr);
  // The maker cannot shrink it under a peer's mapping.
  EXPECT_NE(ftruncate(descriptor, 4096), 0);
  close(descriptor);
  // Plain bytes bring no descriptor; a closed peer is a failure.
  ASSERT_TRUE(local::SendAll(pair[0], head, 1));
  ASSERT_TRUE(local::ReceiveAllWithDescriptor(pair[1], got, 1, &descriptor));
  EXPECT_EQ(descriptor, -1);
  close(pair[0]);
  EXPECT_FALSE(local::ReceiveAllWithDescriptor(pair[1], got, 1, &descriptor));
  close(pair[1]);
}

TEST(SharedMemoryTest, MemoryThatCouldShrinkUnderTheMappingIsRefused) {
  int fd = memfd_create("unsealed", MFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  EXPECT_EQ(tavrin::base::SharedMemory::Map(fd, 4096), nullptr);
  close(fd);
}

}  // namespace
