// How the TCP transport moves data when the socket is full, and how kernel waits wake: a send larger than
// the socket takes goes whole and in order while receives are still served, sends completed on the
// caller's thread arrive at DISPATCH_LEVEL, and each signal reaches the threads that wait for it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "transport_support.h"
#include "wdk/kernel.h"
#include "wdk/tdi.h"

namespace {

using namespace std::chrono_literals;

using wdk_test::Connected;
using wdk_test::Pending;
using wdk_test::Relative;
using wdk_test::SendOf;

TEST(TransportFlowTest, ASendTheSocketCannotTakeGoesWholeAndInOrderWhileReceivesAreServed) {
  Connected c;
  ASSERT_GE(c.peer, 0);
  // Far more than both sockets' buffers hold: the first send waits for room, the second queues behind it.
  std::vector<uint8_t> first(16 << 20), second(1 << 20);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i * 7 + i / 4093);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i * 13 + 1);
  Pending send1, send2, receive;
  SendOf(send1, c.connection, first);
  SendOf(send2, c.connection, second);
  EXPECT_EQ(send1.issued, STATUS_PENDING);
  EXPECT_FALSE(send1.Wait(20ms));  // the peer reads nothing yet

  // The peer answers before it reads: the answer arrives although our send still waits for room.
  char room[16] = {};
  receive.mdl = IoAllocateMdl(room, sizeof room, FALSE, FALSE, nullptr);
  receive.Issue(c.connection, TDI_RECEIVE, [&](PIRP irp) {
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{sizeof room, TDI_RECEIVE_NORMAL});
    irp->MdlAddress = receive.mdl;
  });
  ASSERT_EQ(::send(c.peer, "pong", 4, MSG_NOSIGNAL), 4);
  ASSERT_TRUE(receive.Wait(10s));
  EXPECT_EQ(receive.iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(receive.iosb.Information, 4u);
  EXPECT_EQ(std::memcmp(room, "pong", 4), 0);
  EXPECT_FALSE(send1.Wait(0ms));

  // Now the peer reads everything: both sends' bytes, whole and in order.
  std::vector<uint8_t> got;
  got.reserve(first.size() + second.size());
  std::vector<uint8_t> buffer(256 * 1024);
  while (got.size() < first.size() + second.size()) {
    ssize_t n = ::recv(c.peer, buffer.data(), buffer.size(), 0);
    ASSERT_GT(n, 0);
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  ASSERT_TRUE(send1.Wait(10s));
  ASSERT_TRUE(send2.Wait(10s));
  EXPECT_EQ(send1.iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(send1.iosb.Information, first.size());
  EXPECT_EQ(send2.iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(send2.iosb.Information, second.size());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), got.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), got.begin() + first.size()));
}

struct Chain {
  explicit Chain(PFILE_OBJECT c) : connection(c) {}
  PFILE_OBJECT connection;
  std::vector<uint8_t> next{'t', 'w', 'o'};
  Pending followUp;
  std::atomic<KIRQL> irql{0xFF};
  std::atomic<int> deepest{0};
};
thread_local int t_routineDepth = 0;  // completion routines running on this thread

// A send's completion routine that sends again, as the bus driver's send loop does.
NTSTATUS SendAgain(PDEVICE_OBJECT, PIRP, PVOID context) {
  auto* chain = static_cast<Chain*>(context);
  chain->irql = KeGetCurrentIrql();
  int depth = ++t_routineDepth;
  chain->deepest = std::max(chain->deepest.load(), depth);
  if (!chain->followUp.mdl) SendOf(chain->followUp, chain->connection, chain->next, SendAgain, chain);
  --t_routineDepth;
  // The IRP is ours: we built it and have no stack location in it, so it is not ours to mark pending.
  return STATUS_SUCCESS;
}

TEST(TransportFlowTest, SendsCompleteAtDispatchLevelAndASendFromACompletionDoesNotNest) {
  Connected c;
  ASSERT_GE(c.peer, 0);
  Chain chain(c.connection);
  std::vector<uint8_t> one{'o', 'n', 'e'};
  Pending send;
  SendOf(send, c.connection, one, SendAgain, &chain);
  ASSERT_TRUE(send.Wait(10s));
  ASSERT_TRUE(chain.followUp.Wait(10s));
  EXPECT_EQ(send.iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(chain.followUp.iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(chain.irql.load(), DISPATCH_LEVEL);
  EXPECT_EQ(chain.deepest.load(), 1);  // no routine ran inside another on one thread
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
  char got[6] = {};
  size_t have = 0;
  while (have < sizeof got) {
    ssize_t n = ::recv(c.peer, got + have, sizeof got - have, 0);
    ASSERT_GT(n, 0);
    have += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::memcmp(got, "onetwo", 6), 0);
}

// The byte at `at` of a test stream: no short period, so a lost, doubled or moved piece shows.
uint8_t StreamByte(size_t at) { return static_cast<uint8_t>((at * 2654435761u) >> 13 ^ at >> 17); }

// Receives posted one at a time, each issued again from its own completion with a reused request (as the
// bus driver does), of sizes taken in turn from `sizes`; collects the stream until `total` bytes or its end.
struct ReceiveChain {
  ReceiveChain(PFILE_OBJECT c, std::vector<ULONG> s, size_t t) : connection(c), sizes(std::move(s)), total(t) {
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    buffer.resize(*std::max_element(sizes.begin(), sizes.end()));
    device = IoGetRelatedDeviceObject(connection);
    irp = IoAllocateIrp(device->StackSize, FALSE);
  }
  ~ReceiveChain() {
    if (mdl) IoFreeMdl(mdl);
    IoFreeIrp(irp);
  }
  void Post() {
    const ULONG size = sizes[posted++ % sizes.size()];
    if (mdl) IoFreeMdl(mdl);
    mdl = IoAllocateMdl(buffer.data(), size, FALSE, FALSE, nullptr);
    IoReuseIrp(irp, STATUS_SUCCESS);
    TdiBuildRequest(irp, device, connection, TDI_RECEIVE, &Completed, this);
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{size, TDI_RECEIVE_NORMAL});
    irp->MdlAddress = mdl;
    IoCallDriver(device, irp);
  }
  static NTSTATUS Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* chain = static_cast<ReceiveChain*>(context);
    const auto n = irp->IoStatus.Information;
    if (n > MmGetMdlByteCount(irp->MdlAddress)) chain->overran = true;
    chain->got.insert(chain->got.end(), chain->buffer.begin(), chain->buffer.begin() + std::min<size_t>(n, chain->buffer.size()));
    if (!NT_SUCCESS(irp->IoStatus.Status) || n == 0) {
      chain->endStatus = irp->IoStatus.Status;
      chain->ended = true;
      KeSetEvent(&chain->done, IO_NO_INCREMENT, FALSE);
    } else if (chain->got.size() >= chain->total && !chain->untilEnd) {
      KeSetEvent(&chain->done, IO_NO_INCREMENT, FALSE);
    } else {
      chain->Post();
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  // The first position where the collected stream differs from StreamByte, or its length.
  size_t FirstWrongByte() const {
    for (size_t i = 0; i < got.size(); ++i)
      if (got[i] != StreamByte(i)) return i;
    return got.size();
  }

  PFILE_OBJECT connection;
  PDEVICE_OBJECT device;
  PIRP irp;
  PMDL mdl = nullptr;
  std::vector<ULONG> sizes;
  size_t total, posted = 0;
  bool untilEnd = false, ended = false, overran = false;
  NTSTATUS endStatus = STATUS_SUCCESS;
  std::vector<uint8_t> buffer, got;
  KEVENT done;
};

// Writes bytes [from, to) of the test stream to a socket in pieces of the sizes given in turn.
void WriteStream(int fd, size_t from, size_t to, const std::vector<size_t>& pieces) {
  std::vector<uint8_t> piece;
  for (size_t at = from, i = 0; at < to; ++i) {
    size_t n = std::min(pieces[i % pieces.size()], to - at);
    piece.resize(n);
    for (size_t k = 0; k < n; ++k) piece[k] = StreamByte(at + k);
    for (size_t done = 0; done < n;) {
      ssize_t sent = ::send(fd, piece.data() + done, n - done, MSG_NOSIGNAL);
      if (sent <= 0) return;
      done += static_cast<size_t>(sent);
    }
    at += n;
  }
}

// Sends issued one at a time, each from the previous one's completion (one in flight, as the bus driver
// sends), each carrying the next `size` bytes of the test stream.
struct SendChain {
  SendChain(PFILE_OBJECT c, size_t s, int n) : connection(c), size(s), left(n) {
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    device = IoGetRelatedDeviceObject(connection);
    irp = IoAllocateIrp(device->StackSize, FALSE);
    data.resize(size);
  }
  ~SendChain() {
    if (mdl) IoFreeMdl(mdl);
    IoFreeIrp(irp);
  }
  void Post() {
    for (size_t k = 0; k < size; ++k) data[k] = StreamByte(offset + k);
    offset += size;
    if (!mdl) mdl = IoAllocateMdl(data.data(), static_cast<ULONG>(size), FALSE, FALSE, nullptr);
    IoReuseIrp(irp, STATUS_SUCCESS);
    TdiBuildRequest(irp, device, connection, TDI_SEND, &Completed, this);
    TdiSetParameters(irp, TDI_REQUEST_KERNEL_SEND{static_cast<ULONG>(size), 0});
    irp->MdlAddress = mdl;
    IoCallDriver(device, irp);
  }
  static NTSTATUS Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* chain = static_cast<SendChain*>(context);
    if (!NT_SUCCESS(irp->IoStatus.Status) || irp->IoStatus.Information != chain->size) chain->failed = true;
    if (chain->failed || --chain->left == 0) {
      KeSetEvent(&chain->done, IO_NO_INCREMENT, FALSE);
    } else {
      chain->Post();
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
  }

  PFILE_OBJECT connection;
  PDEVICE_OBJECT device;
  PIRP irp;
  PMDL mdl = nullptr;
  size_t size, offset = 0;
  int left;
  bool failed = false;
  std::vector<uint8_t> data;
  KEVENT done;
};

bool WaitFor(KEVENT& event, std::chrono::milliseconds limit) {
  LARGE_INTEGER t = Relative(limit);
  return KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &t) == STATUS_SUCCESS;
}

// The read ahead of the connections a test opens: the usual size and sizes small enough that receives
// often straddle two reads, or take more than one read holds.
class ReadAheadTest : public testing::TestWithParam<size_t> {
 protected:
  void SetUp() override { tavrin::wdk::SetTransportReadAhead(GetParam()); }
  void TearDown() override { tavrin::wdk::SetTransportReadAhead(256 * 1024); }
};

TEST_P(ReadAheadTest, ReceivesIssuedFromTheirCompletionsGetTheStreamWholeAndInOrderWhileSendsGoOut) {
  Connected c;
  ASSERT_GE(c.peer, 0);
  // The peer writes in pieces of every kind of size (some larger than what is read ahead at a time)
  // while the receives take odd sizes, so that receives straddle the pieces and the reads ahead.
  const size_t incoming = (3 << 20) + 12345;
  ReceiveChain receives(c.connection, {10240, 10240, 3, 10240, 65536, 1, 10240, 4097}, incoming);
  receives.Post();
  std::thread writer(WriteStream, c.peer, 0, incoming, std::vector<size_t>{1, 10240, 300000, 7, 65536, 262144, 262145, 99});
  // At the same time, 64 KiB sends go the other way, one in flight.
  constexpr int kSends = 64;
  SendChain sends(c.connection, 65536, kSends);
  std::vector<uint8_t> sent;
  std::thread reader([&] {
    std::vector<uint8_t> buffer(100000);
    while (sent.size() < size_t{kSends} * 65536) {
      ssize_t n = ::recv(c.peer, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      sent.insert(sent.end(), buffer.begin(), buffer.begin() + n);
    }
  });
  sends.Post();
  EXPECT_TRUE(WaitFor(sends.done, std::chrono::milliseconds(60000)));
  EXPECT_TRUE(WaitFor(receives.done, std::chrono::milliseconds(60000)));
  writer.join();
  reader.join();
  EXPECT_FALSE(sends.failed);
  EXPECT_FALSE(receives.overran);
  EXPECT_EQ(receives.got.size(), incoming);
  EXPECT_EQ(receives.FirstWrongByte(), receives.got.size());
  ASSERT_EQ(sent.size(), size_t{kSends} * 65536);
  size_t wrong = 0;
  while (wrong < sent.size() && sent[wrong] == StreamByte(wrong)) ++wrong;
  EXPECT_EQ(wrong, sent.size());
}

TEST_P(ReadAheadTest, AStreamThatEndsPastWhatOneReadTakesArrivesWholeBeforeItsEnd) {
  // More than one read takes, then the peer's close: receives that straddle two reads get their bytes in
  // order, and the end comes after the last byte.
  for (size_t past : {size_t{1}, size_t{5000}, size_t{10240}, size_t{70000}}) {
    Connected c;
    ASSERT_GE(c.peer, 0);
    const size_t length = GetParam() + past;
    std::thread writer([&] {
      WriteStream(c.peer, 0, length, {length});
      ::shutdown(c.peer, SHUT_WR);
    });
    ReceiveChain receives(c.connection, {3, 10240, 10240, 10240}, length);
    receives.untilEnd = true;
    receives.Post();
    EXPECT_TRUE(WaitFor(receives.done, std::chrono::milliseconds(60000))) << past;
    writer.join();
    EXPECT_TRUE(receives.ended) << past;
    EXPECT_EQ(receives.endStatus, STATUS_SUCCESS) << past;
    EXPECT_EQ(receives.got.size(), length) << past;
    EXPECT_EQ(receives.FirstWrongByte(), receives.got.size()) << past;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadAheadTest, testing::Values(size_t{256 * 1024}, size_t{16384}, size_t{4000}));

TEST(WaitWakeTest, EachSignalReachesItsOwnWaitersAndNoneIsLost) {
  // Pairs of threads play ping-pong on their own synchronisation events, all at once.
  constexpr int kPairs = 4, kRounds = 2000;
  struct Pair {
    KEVENT ping, pong;
    int returned = 0;
  } pairs[kPairs];
  for (auto& p : pairs) {
    KeInitializeEvent(&p.ping, SynchronizationEvent, FALSE);
    KeInitializeEvent(&p.pong, SynchronizationEvent, FALSE);
  }
  std::vector<std::thread> threads;
  for (auto& p : pairs) {
    threads.emplace_back([&p] {
      for (int i = 0; i < kRounds; ++i) {
        KeWaitForSingleObject(&p.ping, Executive, KernelMode, FALSE, nullptr);
        KeSetEvent(&p.pong, IO_NO_INCREMENT, FALSE);
      }
    });
    threads.emplace_back([&p] {
      for (int i = 0; i < kRounds; ++i) {
        KeSetEvent(&p.ping, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&p.pong, Executive, KernelMode, FALSE, nullptr);
        ++p.returned;
      }
    });
  }
  for (auto& t : threads) t.join();
  for (auto& p : pairs) EXPECT_EQ(p.returned, kRounds);

  // One set of a synchronisation event releases one of two waiters (asleep or not yet); the other's
  // wait times out.
  KEVENT gate;
  KeInitializeEvent(&gate, SynchronizationEvent, FALSE);
  std::atomic<int> through{0}, timedOut{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      LARGE_INTEGER limit = Relative(300ms);
      (KeWaitForSingleObject(&gate, Executive, KernelMode, FALSE, &limit) == STATUS_SUCCESS ? through : timedOut)++;
    });
  KeSetEvent(&gate, IO_NO_INCREMENT, FALSE);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(through.load(), 1);
  EXPECT_EQ(timedOut.load(), 1);
  EXPECT_EQ(KeReadStateEvent(&gate), 0);
}

}  // namespace
