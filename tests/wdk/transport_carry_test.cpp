// A thread that waits in the kernel for a request of the connection it last sent on carries that
// connection's work meanwhile: several such threads on one connection, a receive nobody waits for, a
// signal from elsewhere and a close must all still end as they would with the network thread alone.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

void ReceiveInto(Pending& p, PFILE_OBJECT connection, char* room, ULONG size, PIO_COMPLETION_ROUTINE routine = nullptr,
                 PVOID context = nullptr) {
  p.mdl = IoAllocateMdl(room, size, FALSE, FALSE, nullptr);
  p.Issue(
      connection, TDI_RECEIVE,
      [&](PIRP irp) {
        TdiSetParameters(irp, TDI_REQUEST_KERNEL_RECEIVE{size, TDI_RECEIVE_NORMAL});
        irp->MdlAddress = p.mdl;
      },
      routine, context);
}

bool ReadExactly(int fd, char* into, size_t size) {
  for (size_t have = 0; have < size;) {
    ssize_t n = ::recv(fd, into + have, size - have, 0);
    if (n <= 0) return false;
    have += static_cast<size_t>(n);
  }
  return true;
}

TEST(TransportCarryTest, ThreadsTakingTurnsOnOneConnectionEachGetTheirOwnAnswer) {
  // Two threads each send a request and wait for the receive they posted right after it, over and over;
  // the peer answers every request in order. Receives are served in the order posted, so a thread's
  // answer may arrive while the other carries the connection, or while it is its own turn.
  Connected c;
  ASSERT_GE(c.peer, 0);
  constexpr int kRounds = 300;
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    char request[8];
    while (!stop && ReadExactly(c.peer, request, sizeof request))
      if (::send(c.peer, request, sizeof request, MSG_NOSIGNAL) != sizeof request) break;
  });
  // The two threads post their receive and send under one lock, so that the stream's answers come in the
  // order the receives wait.
  std::mutex order;
  std::atomic<int> wrong{0}, lost{0};
  auto client = [&](char who) {
    for (int i = 0; i < kRounds; ++i) {
      char answer[8] = {};
      std::vector<uint8_t> request(8, static_cast<uint8_t>(who));
      std::memcpy(request.data() + 1, &i, sizeof i);
      Pending send, receive;
      {
        std::lock_guard guard(order);
        ReceiveInto(receive, c.connection, answer, sizeof answer);
        SendOf(send, c.connection, request);
      }
      if (!receive.Wait(10s) || !send.Wait(10s)) {
        ++lost;
        return;
      }
      if (receive.iosb.Information != sizeof answer || std::memcmp(answer, request.data(), sizeof answer) != 0) ++wrong;
    }
  };
  std::thread a(client, 'a'), b(client, 'b');
  a.join();
  b.join();
  stop = true;
  ::shutdown(c.peer, SHUT_RDWR);
  peer.join();
  EXPECT_EQ(lost.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

struct Arrival {
  PFILE_OBJECT connection;
  KEVENT arrived;
  std::atomic<ULONG_PTR> length{0};
  char late[5] = {};
  Pending next;
};

NTSTATUS Arrived(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* arrival = static_cast<Arrival*>(context);
  arrival->length = irp->IoStatus.Information;
  KeSetEvent(&arrival->arrived, IO_NO_INCREMENT, FALSE);
  return STATUS_SUCCESS;
}

// The first answer's routine posts the next receive, as the bus driver re-posts its receives: on the
// thread that carries the connection.
NTSTATUS PostNext(PDEVICE_OBJECT, PIRP, PVOID context) {
  auto* arrival = static_cast<Arrival*>(context);
  ReceiveInto(arrival->next, arrival->connection, arrival->late, sizeof arrival->late, Arrived, arrival);
  return STATUS_SUCCESS;
}

TEST(TransportCarryTest, AReceiveNobodyWaitsForStillCompletesAfterTheCarrierLeft) {
  // The test thread carries the connection through one request and its answer, whose routine posts the
  // next receive; then the thread leaves, and the peer's next bytes arrive with no thread that sent
  // waiting for them: the receive completes all the same.
  Connected c;
  ASSERT_GE(c.peer, 0);
  Arrival arrival;
  arrival.connection = c.connection;
  KeInitializeEvent(&arrival.arrived, NotificationEvent, FALSE);
  // The peer answers the request, and sends more once the test thread has its answer.
  std::atomic<bool> answered{false};
  std::thread peer([&] {
    char got[4];
    if (!ReadExactly(c.peer, got, sizeof got) || ::send(c.peer, "pong", 4, MSG_NOSIGNAL) != 4) return;
    answered.wait(false);
    ::send(c.peer, "later", 5, MSG_NOSIGNAL);
  });
  char answer[4] = {};
  std::vector<uint8_t> request{'p', 'i', 'n', 'g'};
  Pending send, receive;
  ReceiveInto(receive, c.connection, answer, sizeof answer, PostNext, &arrival);
  SendOf(send, c.connection, request);
  EXPECT_TRUE(receive.Wait(10s));
  EXPECT_TRUE(send.Wait(10s));
  answered = true;
  answered.notify_one();
  peer.join();

  // Waited for by a thread that never sent on the connection: it carries nothing.
  std::atomic<bool> arrived{false};
  std::thread watcher([&] {
    LARGE_INTEGER limit = Relative(10s);
    arrived = KeWaitForSingleObject(&arrival.arrived, Executive, KernelMode, FALSE, &limit) == STATUS_SUCCESS;
  });
  watcher.join();
  EXPECT_TRUE(arrived.load());
  EXPECT_EQ(arrival.length.load(), 5u);
  EXPECT_EQ(std::string(arrival.late, 5), "later");
}

TEST(TransportCarryTest, ACarryingWaitEndsWhenAnotherThreadSignalsItOrTheConnectionCloses) {
  // The waiting thread sent last and has a receive outstanding, so it carries the connection while it
  // waits for an event of its own; another thread sets that event.
  auto connected = std::make_unique<Connected>();
  ASSERT_GE(connected->peer, 0);
  char room[16] = {};
  std::vector<uint8_t> hello{'h', 'i'};
  Pending send, receive;
  ReceiveInto(receive, connected->connection, room, sizeof room);
  SendOf(send, connected->connection, hello);
  ASSERT_TRUE(send.Wait(10s));
  KEVENT elsewhere;
  KeInitializeEvent(&elsewhere, NotificationEvent, FALSE);
  std::thread signaller([&] { KeSetEvent(&elsewhere, IO_NO_INCREMENT, FALSE); });
  LARGE_INTEGER limit = Relative(10s);
  EXPECT_EQ(KeWaitForSingleObject(&elsewhere, Executive, KernelMode, FALSE, &limit), STATUS_SUCCESS);
  signaller.join();

  // Again carrying, for the receive itself: the connection's close (on another thread) ends it, cancelled.
  std::thread closer([&] { connected.reset(); });
  EXPECT_TRUE(receive.Wait(10s));
  EXPECT_NE(receive.iosb.Status, STATUS_SUCCESS);
  closer.join();
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
}

}  // namespace
