// How the TCP transport moves data when the socket is full, and how kernel waits wake: a send larger than
// the socket takes goes whole and in order while receives are still served, sends completed on the
// caller's thread arrive at DISPATCH_LEVEL, and each signal reaches the threads that wait for it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "transport_support.h"
#include "wdk/kernel.h"
#include "wdk/tdi.h"

namespace {

using namespace std::chrono_literals;

using wdk_test::OpenTcp;
using wdk_test::Relative;

// A transport request in flight with its own event and status block.
struct Pending {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  PMDL mdl = nullptr;
  NTSTATUS issued = STATUS_SUCCESS;

  template <class Fill>
  void Issue(PFILE_OBJECT file, UCHAR minor, Fill fill, PIO_COMPLETION_ROUTINE routine = nullptr, PVOID context = nullptr) {
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
    PIRP irp = IoBuildDeviceIoControlRequest(0, device, nullptr, 0, nullptr, 0, TRUE, &done, &iosb);
    TdiBuildRequest(irp, device, file, minor, routine, context);
    fill(irp);
    issued = IoCallDriver(device, irp);
  }
  bool Wait(std::chrono::milliseconds limit) {
    LARGE_INTEGER t = Relative(limit);
    return KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &t) == STATUS_SUCCESS;
  }
  ~Pending() {
    if (mdl) IoFreeMdl(mdl);
  }
};

// A connection object connected to a peer socket of the test's own.
class Connected {
 public:
  Connected() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 64 * 1024;  // the peer takes little at a time, so a large send fills the socket
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    socklen_t length = sizeof at;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length);
    ::listen(listener_, 1);
    EXPECT_EQ(OpenTcp(TdiTransportAddress, sizeof(TA_IP_ADDRESS), &addressHandle_, &address_), STATUS_SUCCESS);
    EXPECT_EQ(OpenTcp(TdiConnectionContext, 8, &connectionHandle_, &connection), STATUS_SUCCESS);
    Pending associate;
    associate.Issue(connection, TDI_ASSOCIATE_ADDRESS,
                    [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_ASSOCIATE{addressHandle_, nullptr}); });
    EXPECT_EQ(associate.issued, STATUS_SUCCESS);
    TA_IP_ADDRESS remote = wdk_test::TransportAddress(at);
    TDI_CONNECTION_INFORMATION info{};
    info.RemoteAddressLength = sizeof remote;
    info.RemoteAddress = &remote;
    Pending connect;
    connect.Issue(connection, TDI_CONNECT,
                  [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_CONNECT{0, &info, nullptr, nullptr}); });
    EXPECT_TRUE(connect.Wait(10s));
    EXPECT_EQ(connect.iosb.Status, STATUS_SUCCESS);
    peer = ::accept(listener_, nullptr, nullptr);
  }
  ~Connected() {
    Pending disconnect;
    disconnect.Issue(connection, TDI_DISCONNECT, [](PIRP) {});
    disconnect.Wait(10s);
    Pending disassociate;
    disassociate.Issue(connection, TDI_DISASSOCIATE_ADDRESS, [](PIRP) {});
    ObDereferenceObject(connection);
    ZwClose(connectionHandle_);
    ObDereferenceObject(address_);
    ZwClose(addressHandle_);
    if (peer >= 0) ::close(peer);
    ::close(listener_);
  }

  PFILE_OBJECT connection = nullptr;
  int peer = -1;

 private:
  int listener_ = -1;
  HANDLE addressHandle_ = nullptr, connectionHandle_ = nullptr;
  PFILE_OBJECT address_ = nullptr;
};

void SendOf(Pending& p, PFILE_OBJECT connection, std::vector<uint8_t>& data, PIO_COMPLETION_ROUTINE routine = nullptr,
            PVOID context = nullptr) {
  p.mdl = IoAllocateMdl(data.data(), static_cast<ULONG>(data.size()), FALSE, FALSE, nullptr);
  p.Issue(
      connection, TDI_SEND,
      [&](PIRP irp) {
        TdiSetParameters(irp, TDI_REQUEST_KERNEL_SEND{static_cast<ULONG>(data.size()), 0});
        irp->MdlAddress = p.mdl;
      },
      routine, context);
}

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
