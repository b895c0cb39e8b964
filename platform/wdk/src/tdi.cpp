// The stand-in TCP transport behind "\Device\Tcp" (see wdk/tdi.h).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "internal.h"
#include "wdk/tdi.h"

using namespace tavrin::wdk::internal;

namespace {

int g_transportMarker;  // FsContext of every transport file object
std::atomic<long> g_openSockets{0};

struct Address;

// Bytes read from the socket ahead of the receives that take them: one recv() of up to this much serves
// many small receives (the bus driver posts 10,240 bytes at a time).
std::atomic<size_t> g_readAhead{256 * 1024};

// Who carries a connection's work (its requests, receives and socket). Its network thread does, unless a
// thread that waits in the kernel for one of its requests does it meanwhile (a helper, see CarryWhileWaiting):
// then the network thread sleeps away from the socket. A helper whose wait is over hands the work to another
// waiting thread, or leaves it for a moment (kAway) to come back with its next wait; the network thread takes
// it back when something needs it, or when no helper came back within the grace.
enum class Driver { kNetwork, kHelper, kAway };

struct Connection {
  std::mutex lock;
  std::deque<PIRP> requests;  // connect, send, disconnect: in order
  std::deque<PIRP> receives;
  bool busy = false;  // a request of `requests` is being carried out (by its driver or in line)
  int fd = -1;
  int wake = -1;  // eventfd of the network thread: new requests, cancel, close, work handed back
  int grace = -1;  // timerfd: the network thread looks whether a helper that left has come back
  bool graceArmed = false;
  std::chrono::steady_clock::time_point leftAt;  // when the last helper left
  bool asleep = false;  // the driver waits in poll: only then does a new request need its eventfd
  bool closing = false;
  Driver driver = Driver::kNetwork;
  int helperWake = -1;  // the helper's eventfd while one drives
  std::deque<int> standby;  // eventfds of threads waiting for this connection's work to be theirs
  int helpers = 0;  // threads that may still touch the connection from a wait: it lives until they are done
  std::condition_variable helpersDone;
  Address* address = nullptr;  // associated
  PFILE_OBJECT addressFile = nullptr;  // referenced while associated
  PVOID context = nullptr;  // the ConnectionContext attribute
  std::thread thread;
  // Threads using `fd` outside the lock (a send, a poll, a read ahead); a socket closed meanwhile is only
  // shut down, and closed by the last of them, so its number is not reused under them.
  int fdUsers = 0;
  std::vector<int> retired;
  uint64_t generation = 0;  // counts the sockets closed: a read ahead from an older one is dropped
  // The work in progress, whoever drives: a send under way (taken from `requests`), and what the socket
  // last said.
  PIRP sending = nullptr;
  bool readable = false;  // the last read filled the room it had: more may be waiting
  bool writable = true;  // the last send did not find the socket full
  // Read ahead, served to the receives in order; only the driver fills and drains it.
  std::unique_ptr<uint8_t[]> ahead;
  size_t aheadSize = 0, aheadStart = 0, aheadEnd = 0;
  enum class End { kNone, kClosed, kBroken } end = End::kNone;  // how the stream ended, after the bytes ahead

  size_t Buffered() const { return aheadEnd - aheadStart; }
};

struct Address {
  std::mutex lock;
  PTDI_IND_DISCONNECT disconnectHandler = nullptr;
  PVOID disconnectContext = nullptr;
};

struct TransportFile {
  FILE_OBJECT file;  // first: a PFILE_OBJECT is the TransportFile
  Connection* connection;
  // The connection's memory, kept beyond its close while a thread that last sent on it may still look.
  std::shared_ptr<Connection> owner;
  Address* address;
};

TransportFile* AsTransport(PFILE_OBJECT file) {
  return file && file->FsContext == &g_transportMarker ? reinterpret_cast<TransportFile*>(file) : nullptr;
}

// The transport's driver and device, made with the first open and kept for the process.
DRIVER_OBJECT g_driver{};
PDEVICE_OBJECT g_device = nullptr;
std::mutex g_deviceLock;
std::mutex g_connectionsLock;
std::set<Connection*> g_connections;

// The connection this thread drives (its network thread, or a helper), and whether this thread is
// completing an in-line send.
thread_local Connection* t_networkOf = nullptr;
thread_local bool t_inlineCompletion = false;
// Connect, send and disconnect requests issued on this thread while it completes an in-line send: carried
// out in order once that completion is over, so completions never nest and a send chain stays on the thread.
thread_local std::deque<std::pair<Connection*, PIRP>> t_deferred;
// The connection this thread last sent on, the one whose work it may carry while it waits.
thread_local std::weak_ptr<Connection> t_sentOn;
thread_local const Connection* t_sentOnAddress = nullptr;  // spares re-setting t_sentOn for every send
// How long a helper's work waits for it to come back before the network thread takes it.
std::atomic<int64_t> g_graceNs{1'000'000};

void Signal(int eventfd) {
  uint64_t one = 1;
  if (::write(eventfd, &one, sizeof one) < 0) {
  }
}

// The work of a connection that no driver carries goes to a thread waiting for it, else to the network thread.
void HandOffLocked(Connection* c) {
  if (!c->standby.empty() && !c->closing) {
    c->driver = Driver::kHelper;
    c->helperWake = c->standby.front();
    c->standby.pop_front();
  } else {
    c->driver = Driver::kNetwork;
    c->helperWake = -1;
  }
  c->asleep = false;
  Signal(c->driver == Driver::kHelper ? c->helperWake : c->wake);
}

// Called with the lock held: the driver looks at its queues before it sleeps again, so only a sleeping
// one needs its eventfd, and work nobody carries goes to someone who will.
// A close always wakes the network thread, any helper and the threads waiting to help (a connect in
// progress waits on the eventfd too).
void WakeLocked(Connection* c, bool always = false) {
  if (always) {
    Signal(c->wake);
    if (c->helperWake >= 0) Signal(c->helperWake);
    for (int standby : c->standby) Signal(standby);
    c->asleep = false;
    return;
  }
  if (t_networkOf == c) return;
  if (c->driver == Driver::kAway) {
    HandOffLocked(c);
    return;
  }
  if (!c->asleep) return;
  c->asleep = false;
  Signal(c->driver == Driver::kHelper ? c->helperWake : c->wake);
}

void CloseNow(int fd) {
  ::close(fd);
  g_openSockets.fetch_sub(1);
}

void CloseSocketLocked(Connection* c, bool abort) {
  if (c->fd < 0) return;
  if (abort) {
    linger l{1, 0};
    ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  if (c->fdUsers > 0) {
    ::shutdown(c->fd, SHUT_RDWR);  // ends their send, poll or read; the last of them closes it
    c->retired.push_back(c->fd);
  } else {
    CloseNow(c->fd);
  }
  c->fd = -1;
  c->generation++;
  c->aheadStart = c->aheadEnd = 0;
  c->end = Connection::End::kNone;
}

// The socket as a thread uses it outside the lock; taken and given back under the lock.
int TakeFdLocked(Connection* c) {
  c->fdUsers++;
  return c->fd;
}
void GiveFdBackLocked(Connection* c) {
  if (--c->fdUsers > 0) return;
  for (int fd : c->retired) CloseNow(fd);
  c->retired.clear();
}

// Completes a request from the network thread, at DISPATCH_LEVEL as the transport's completions are.
void Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  KeLowerIrql(old);
}

void TellDisconnect(Connection* c, ULONG flags) {
  PTDI_IND_DISCONNECT handler = nullptr;
  PVOID context = nullptr;
  {
    std::lock_guard guard(c->lock);
    if (c->address) {
      std::lock_guard addressGuard(c->address->lock);
      handler = c->address->disconnectHandler;
      context = c->address->disconnectContext;
    }
  }
  if (!handler) return;
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  handler(context, c->context, 0, nullptr, 0, nullptr, flags);
  KeLowerIrql(old);
}

void CancelReceive(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  auto* c = static_cast<Connection*>(irp->Tail.Overlay.DriverContext[0]);
  bool found = false;
  {
    std::lock_guard guard(c->lock);
    for (auto it = c->receives.begin(); it != c->receives.end(); ++it) {
      if (*it == irp) {
        c->receives.erase(it);
        found = true;
        break;
      }
    }
  }
  if (found) Finish(irp, STATUS_CANCELLED, 0);  // else the network thread has it and finishes it
}

// Takes the first pending receive for completion; null when none or when a cancel is finishing it.
PIRP TakeReceiveLocked(Connection* c) {
  while (!c->receives.empty()) {
    PIRP irp = c->receives.front();
    c->receives.pop_front();
    if (IoSetCancelRoutine(irp, nullptr)) return irp;
    // The cancel routine runs and will not find it: finish it as cancelled.
    c->lock.unlock();
    Finish(irp, STATUS_CANCELLED, 0);
    c->lock.lock();
  }
  return nullptr;
}

NTSTATUS DoConnect(Connection* c, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const auto request = TdiGetParameters<TDI_REQUEST_KERNEL_CONNECT>(stack);
  PTDI_CONNECTION_INFORMATION info = request.RequestConnectionInformation;
  if (!info || !info->RemoteAddress || info->RemoteAddressLength < static_cast<LONG>(sizeof(TA_IP_ADDRESS)))
    return STATUS_INVALID_ADDRESS;
  TA_IP_ADDRESS remote;
  std::memcpy(&remote, info->RemoteAddress, sizeof remote);
  if (remote.TAAddressCount < 1 || remote.Address[0].AddressType != TDI_ADDRESS_TYPE_IP) return STATUS_INVALID_ADDRESS;
  int timeoutMs = -1;
  if (auto* timeout = static_cast<PLARGE_INTEGER>(request.RequestSpecific); timeout && timeout->QuadPart < 0)
    timeoutMs = static_cast<int>(-timeout->QuadPart / 10000);
  {
    std::lock_guard guard(c->lock);
    if (c->fd >= 0) return STATUS_INVALID_CONNECTION;  // connected already
    if (!c->address) return STATUS_INVALID_ADDRESS;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return STATUS_INSUFFICIENT_RESOURCES;
  g_openSockets.fetch_add(1);
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = remote.Address[0].Address[0].sin_port;
  to.sin_addr.s_addr = remote.Address[0].Address[0].in_addr;
  NTSTATUS status = STATUS_SUCCESS;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) {
      status = errno == ECONNREFUSED ? STATUS_CONNECTION_REFUSED : STATUS_UNSUCCESSFUL;
    } else {
      // The wake-up also counts the requests queued (this one among them): only a close ends the wait early.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      for (;;) {
        int left = -1;
        if (timeoutMs >= 0)
          left = static_cast<int>(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           deadline - std::chrono::steady_clock::now())
                                                           .count()));
        pollfd p[2] = {{fd, POLLOUT, 0}, {c->wake, POLLIN, 0}};
        int n = ::poll(p, 2, left);
        int error = 0;
        socklen_t length = sizeof error;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
          status = STATUS_IO_TIMEOUT;
        } else if (n > 0 && !(p[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
          uint64_t count;
          if (::read(c->wake, &count, sizeof count) < 0) {
          }
          // The network thread that runs this looks at its queues once the connect is done.
          std::lock_guard guard(c->lock);
          if (!c->closing) continue;
          status = STATUS_CANCELLED;  // the connection object is closing
        } else if (n < 0) {
          status = STATUS_CANCELLED;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
          status = error == ECONNREFUSED ? STATUS_CONNECTION_REFUSED : STATUS_UNSUCCESSFUL;
        }
        break;
      }
    }
  }
  if (status != STATUS_SUCCESS) {
    ::close(fd);
    g_openSockets.fetch_sub(1);
    return status;
  }
  std::lock_guard guard(c->lock);
  c->fd = fd;
  return STATUS_SUCCESS;
}

// Puts on the socket what it takes of a send without blocking; the bytes sent so far are kept in the
// IRP's DriverContext[1]. STATUS_PENDING while a rest waits for room, else the send's outcome.
NTSTATUS SendSome(int fd, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG length = TdiGetParameters<TDI_REQUEST_KERNEL_SEND>(stack).SendLength;
  auto* data = static_cast<const uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (irp->MdlAddress) length = std::min(length, MmGetMdlByteCount(irp->MdlAddress));
  auto sent = reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]);
  NTSTATUS status = STATUS_SUCCESS;
  while (sent < length) {
    ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<ULONG_PTR>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      status = n < 0 && errno == EAGAIN ? STATUS_PENDING : STATUS_CONNECTION_RESET;
      break;
    }
  }
  irp->Tail.Overlay.DriverContext[1] = reinterpret_cast<PVOID>(sent);
  return status;
}

ULONG_PTR SentSoFar(PIRP irp) { return reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]); }

void FailReceivesLocked(Connection* c, NTSTATUS status) {
  while (PIRP irp = TakeReceiveLocked(c)) {
    c->lock.unlock();
    Finish(irp, status, 0);
    c->lock.lock();
  }
}

// The room a receive offers and where it is.
ULONG ReceiveRoom(PIRP irp, uint8_t** buffer) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG room = TdiGetParameters<TDI_REQUEST_KERNEL_RECEIVE>(stack).ReceiveLength;
  if (irp->MdlAddress) room = std::min(room, MmGetMdlByteCount(irp->MdlAddress));
  auto* at = static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (buffer) *buffer = at;
  return at ? room : 0;
}

// Completes the first waiting receive from the bytes read ahead, or with the stream's end once they are
// all taken. Called with the lock held; drops it to complete.
void ServeReceive(Connection* c, std::unique_lock<std::mutex>& guard) {
  PIRP irp = TakeReceiveLocked(c);
  if (!irp) return;
  uint8_t* buffer = nullptr;
  ULONG room = ReceiveRoom(irp, &buffer);
  if (room == 0) {
    guard.unlock();
    Finish(irp, STATUS_INVALID_PARAMETER, 0);  // a receive without room takes nothing
    guard.lock();
    return;
  }
  if (c->Buffered() > 0) {
    size_t n = std::min<size_t>(room, c->Buffered());
    std::memcpy(buffer, c->ahead.get() + c->aheadStart, n);
    c->aheadStart += n;
    if (c->aheadStart == c->aheadEnd) c->aheadStart = c->aheadEnd = 0;
    guard.unlock();
    Finish(irp, STATUS_SUCCESS, n);
  } else {
    // The peer closed or the connection broke: the owner hears of it, then the receive ends.
    bool closed = std::exchange(c->end, Connection::End::kNone) == Connection::End::kClosed;
    guard.unlock();
    TellDisconnect(c, closed ? TDI_DISCONNECT_RELEASE : TDI_DISCONNECT_ABORT);
    Finish(irp, closed ? STATUS_SUCCESS : STATUS_CONNECTION_RESET, 0);
  }
  guard.lock();
}

enum class Turn { kWorked, kWait, kNetworkOnly, kClosing };

// One step of a connection's work, taken by its driver with the lock held (dropped around socket calls and
// completions): a request started, a receive served, or what the socket takes and gives at once. Sends and
// receives go on together, also while a send waits for room (a peer that answers while it reads must not
// find both sides waiting to send). kWait: nothing more can be done before the socket is ready for
// `*events` or a request comes. kNetworkOnly: the next request is a connect or a disconnect, which only the
// network thread carries out (`network` tells whether this is it).
Turn TakeTurn(Connection* c, std::unique_lock<std::mutex>& guard, bool network, short* events) {
  if (c->closing) return Turn::kClosing;
  if (!c->sending && !c->requests.empty() && !c->busy) {
    PIRP irp = c->requests.front();
    UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor != TDI_SEND && !network) return Turn::kNetworkOnly;
    c->requests.pop_front();
    c->busy = true;
    if (minor == TDI_SEND) {
      if (c->fd < 0) {
        guard.unlock();
        Finish(irp, STATUS_INVALID_CONNECTION, 0);
        guard.lock();
        c->busy = false;
      } else {
        c->sending = irp;  // tried below
        c->writable = true;
      }
      return Turn::kWorked;
    }
    guard.unlock();
    NTSTATUS status = STATUS_SUCCESS;
    if (minor == TDI_CONNECT) {
      status = DoConnect(c, irp);
    } else if (minor == TDI_DISCONNECT) {
      guard.lock();
      bool connected = c->fd >= 0;
      CloseSocketLocked(c, true);
      FailReceivesLocked(c, STATUS_CONNECTION_ABORTED);
      guard.unlock();
      if (!connected) status = STATUS_INVALID_CONNECTION;
    }
    Finish(irp, status, 0);
    guard.lock();
    c->busy = false;
    return Turn::kWorked;
  }
  const int fd = c->fd;
  if (c->sending && fd < 0) {
    // Only a disconnect closes the socket, and it waits behind this send: a change means the transport stopped.
    PIRP irp = std::exchange(c->sending, nullptr);
    guard.unlock();
    Finish(irp, STATUS_CONNECTION_ABORTED, SentSoFar(irp));
    guard.lock();
    c->busy = false;
    return Turn::kWorked;
  }
  if (!c->receives.empty()) {
    if (fd < 0 && c->Buffered() == 0 && c->end == Connection::End::kNone) {
      FailReceivesLocked(c, STATUS_INVALID_CONNECTION);
      return Turn::kWorked;
    }
    // A receive takes the bytes ahead once they fill it, the buffer is full or the socket has no more.
    size_t buffered = c->Buffered();
    if (c->end != Connection::End::kNone || buffered >= ReceiveRoom(c->receives.front(), nullptr) ||
        buffered == c->aheadSize || (buffered > 0 && !c->readable)) {
      ServeReceive(c, guard);
      return Turn::kWorked;
    }
  }
  // Read ahead when a receive waits and send what the socket takes; else wait until one of them can go on.
  const bool wantData = fd >= 0 && !c->receives.empty();
  PIRP sending = c->sending;
  if (!(wantData && c->readable) && !(sending && c->writable)) {
    *events = static_cast<short>((wantData ? POLLIN : 0) | (sending ? POLLOUT : 0));
    return Turn::kWait;
  }
  if (wantData && c->aheadStart > 0) {  // the few bytes left go to the front, the read fills the rest
    std::memmove(c->ahead.get(), c->ahead.get() + c->aheadStart, c->Buffered());
    c->aheadEnd -= c->aheadStart;
    c->aheadStart = 0;
  }
  const uint64_t generation = c->generation;
  uint8_t* into = c->ahead.get() + c->aheadEnd;
  const size_t free = c->aheadSize - c->aheadEnd;
  const bool send = sending && c->writable, read = wantData && c->readable;
  bool writable = c->writable, readable = c->readable;
  TakeFdLocked(c);
  guard.unlock();
  NTSTATUS sendStatus = STATUS_PENDING;
  ssize_t got = -2;  // nothing read
  int readError = 0;
  if (send) {
    sendStatus = SendSome(fd, sending);
    writable = sendStatus != STATUS_PENDING;
  }
  if (read) {
    got = ::recv(fd, into, free, MSG_DONTWAIT);
    readError = got < 0 ? errno : 0;
    readable = got > 0 && static_cast<size_t>(got) == free;
  }
  guard.lock();
  GiveFdBackLocked(c);
  if (send) c->writable = writable;
  if (read) c->readable = readable;
  if (got != -2 && c->generation == generation) {
    if (got > 0) {
      c->aheadEnd += static_cast<size_t>(got);
    } else if (got == 0) {
      c->end = Connection::End::kClosed;
    } else if (readError != EAGAIN && readError != EINTR) {
      c->end = Connection::End::kBroken;
    }
  }
  if (send && sendStatus != STATUS_PENDING) {
    c->sending = nullptr;
    guard.unlock();
    if (!NT_SUCCESS(sendStatus)) TellDisconnect(c, TDI_DISCONNECT_ABORT);
    Finish(sending, sendStatus, SentSoFar(sending));
    guard.lock();
    c->busy = false;
  }
  return Turn::kWorked;
}

// Sleeps until the socket is ready for `events` (none: not watched), `wake` is written, `other` (when
// given) is readable, or `timeout` (none when null) passes; `driver`: the connection's driver sleeps, so that
// a new request wakes it. Entered and left with the lock held. Returns whether `other` fired.
bool SleepOnSocket(Connection* c, std::unique_lock<std::mutex>& guard, short events, int wake, int other,
                   const timespec* timeout, bool driver = true) {
  const int fd = events ? c->fd : -1;
  if (fd >= 0) TakeFdLocked(c);
  if (driver) c->asleep = true;
  guard.unlock();
  pollfd p[3] = {{wake, POLLIN, 0}, {fd, events, 0}, {other, POLLIN, 0}};
  ::ppoll(p, 3, timeout, nullptr);
  uint64_t count;
  if ((p[0].revents & POLLIN) && ::read(wake, &count, sizeof count) < 0) {
  }
  guard.lock();
  // Cleared only by the driver it was set for: the work may have changed hands during the sleep.
  const bool stillDriver = wake == c->wake ? c->driver == Driver::kNetwork
                                           : c->driver == Driver::kHelper && c->helperWake == wake;
  if (driver && stillDriver) c->asleep = false;
  if (fd >= 0) {
    GiveFdBackLocked(c);
    if (driver && stillDriver && c->fd == fd) {
      if (events & POLLIN) c->readable = p[1].revents & (POLLIN | POLLHUP | POLLERR);
      if (events & POLLOUT) c->writable = p[1].revents & (POLLOUT | POLLHUP | POLLERR);
    }
  }
  return other >= 0 && (p[2].revents & POLLIN);
}

void ArmGrace(Connection* c, int64_t ns) {
  itimerspec t{};
  t.it_value.tv_sec = ns / 1'000'000'000;
  t.it_value.tv_nsec = ns % 1'000'000'000;
  ::timerfd_settime(c->grace, 0, &t, nullptr);
}

// The connection's own thread: carries out connect and disconnect requests, and everything else while no
// helper does. The socket is used outside the lock, so that a receive or send issued meanwhile never waits
// for a send in progress. Receives are served from one buffer read ahead.
void NetworkLoop(Connection* c) {
  t_networkOf = c;
  std::unique_lock guard(c->lock);
  c->aheadSize = std::max<size_t>(1, g_readAhead.load());
  c->ahead = std::make_unique<uint8_t[]>(c->aheadSize);
  for (;;) {
    if (c->driver == Driver::kAway && c->closing) c->driver = Driver::kNetwork;
    if (c->driver != Driver::kNetwork) {
      // A helper has the work, or will come back for it: the socket is not watched here meanwhile.
      if (SleepOnSocket(c, guard, 0, c->wake, c->grace, nullptr, false)) {
        uint64_t expirations;
        if (::read(c->grace, &expirations, sizeof expirations) < 0) {
        }
        c->graceArmed = false;
        // The timer is left running while helpers come and go (setting it is a system call): when it
        // fires, the work is taken back only if the last helper left a whole grace ago.
        if (c->driver == Driver::kAway) {
          const auto since = std::chrono::steady_clock::now() - c->leftAt;
          const int64_t grace = g_graceNs.load();
          if (since >= std::chrono::nanoseconds(grace)) {
            c->driver = Driver::kNetwork;
          } else {
            ArmGrace(c, grace - std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
            c->graceArmed = true;
          }
        }
      }
      continue;
    }
    short events = 0;
    Turn turn = TakeTurn(c, guard, true, &events);
    if (turn == Turn::kClosing) break;
    if (turn != Turn::kWait) continue;
    if (!c->standby.empty()) {
      HandOffLocked(c);  // rather than sleep, give the work to a thread that waits for it
      continue;
    }
    SleepOnSocket(c, guard, events, c->wake, -1, nullptr);
  }
  if (PIRP irp = std::exchange(c->sending, nullptr)) {
    guard.unlock();
    Finish(irp, STATUS_CANCELLED, SentSoFar(irp));
    guard.lock();
  }
  // Closing: fail what is left.
  while (!c->requests.empty()) {
    PIRP irp = c->requests.front();
    c->requests.pop_front();
    guard.unlock();
    Finish(irp, STATUS_CANCELLED, 0);
    guard.lock();
  }
  FailReceivesLocked(c, STATUS_CANCELLED);
  CloseSocketLocked(c, true);
}

// The connection this thread last sent on, if it is still open, counted among its helpers.
std::shared_ptr<Connection> ReferenceSentOn() {
  std::shared_ptr<Connection> c = t_sentOn.lock();
  if (!c) return nullptr;
  std::lock_guard guard(c->lock);
  if (c->closing) return nullptr;
  c->helpers++;
  return c;
}

// While a thread waits in the kernel for a request of the connection it last sent on, it carries that
// connection's work instead of sleeping (as completions run in whatever thread the processor is in), so that
// a program that submits and waits is served by its own thread without two thread switches per request.
// Waits at most until `deadline`; false when this thread has no such connection, or another thread carries
// it and this one is not to stand by (the wait then spins or sleeps).
bool CarryWhileWaiting(int wake, std::chrono::steady_clock::time_point deadline, bool standBy, bool (*over)(void*),
                       void* context) {
  if (t_networkOf) return false;  // a driver already: completions never wait
  const std::shared_ptr<Connection> held = ReferenceSentOn();
  Connection* c = held.get();
  if (!c) return false;
  std::unique_lock guard(c->lock);
  bool standing = false;  // listed in `standby`
  for (;;) {
    if (c->closing || over(context)) break;
    const bool mine = c->driver == Driver::kHelper && c->helperWake == wake;
    if (!mine && c->fd >= 0 && (c->driver == Driver::kAway || (c->driver == Driver::kNetwork && c->asleep))) {
      // The network thread sleeps (it stops watching the socket at its next wake-up), or the work waits
      // for its helper: it is this thread's now.
      c->driver = Driver::kHelper;
      c->helperWake = wake;
      c->asleep = false;
      continue;
    }
    timespec left{};
    const timespec* timeout = nullptr;  // none
    if (deadline != std::chrono::steady_clock::time_point::max()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) break;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
      left = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
      timeout = &left;
    }
    if (!mine) {
      if (!standBy) {
        if (--c->helpers == 0) c->helpersDone.notify_all();
        return false;
      }
      // Another thread drives: wait to be handed the work, or for the wait to be over.
      if (!standing) c->standby.push_back(wake);
      standing = true;
      SleepOnSocket(c, guard, 0, wake, -1, timeout, false);
      continue;
    }
    if (standing) std::erase(c->standby, wake);
    standing = false;
    t_networkOf = c;
    short events = 0;
    Turn turn = TakeTurn(c, guard, false, &events);
    t_networkOf = nullptr;
    if (turn == Turn::kWorked) continue;
    if (turn != Turn::kWait) break;  // the network thread takes it from here
    SleepOnSocket(c, guard, events, wake, -1, timeout);
  }
  if (standing) std::erase(c->standby, wake);
  if (c->driver == Driver::kHelper && c->helperWake == wake) {
    // Handed back at once when another thread waits for it, a request needs the network thread or the
    // connection closes; else kept a moment for this thread's next wait.
    const bool needsNetwork = c->closing || c->fd < 0 ||
                              (!c->requests.empty() && !c->busy &&
                               IoGetCurrentIrpStackLocation(c->requests.front())->MinorFunction != TDI_SEND);
    if (needsNetwork) {
      c->driver = Driver::kNetwork;
      c->helperWake = -1;
      c->asleep = false;
      Signal(c->wake);
    } else if (!c->standby.empty()) {
      HandOffLocked(c);
    } else {
      c->driver = Driver::kAway;
      c->helperWake = -1;
      c->asleep = false;
      c->leftAt = std::chrono::steady_clock::now();
      if (!c->graceArmed) {
        ArmGrace(c, g_graceNs.load());
        c->graceArmed = true;
      }
    }
  }
  if (--c->helpers == 0) c->helpersDone.notify_all();
  return true;
}

void DestroyTransportFile(void* body) {
  auto* f = static_cast<TransportFile*>(body);
  if (Connection* c = f->connection) {
    {
      std::lock_guard guard(c->lock);
      c->closing = true;
      WakeLocked(c, true);
    }
    if (c->thread.joinable()) c->thread.join();
    {
      std::lock_guard guard(g_connectionsLock);
      g_connections.erase(c);
    }
    {
      // Threads in a wait that still look at it (none can start now) are done first.
      std::unique_lock guard(c->lock);
      c->helpersDone.wait(guard, [c] { return c->helpers == 0; });
    }
    // Requests its owner issued from a send's completion before closing it: they end as cancelled.
    std::vector<PIRP> orphans;
    std::erase_if(t_deferred, [&](const std::pair<Connection*, PIRP>& d) {
      if (d.first == c) orphans.push_back(d.second);
      return d.first == c;
    });
    if (c->addressFile) ObDereferenceObject(c->addressFile);
    ::close(c->wake);
    ::close(c->grace);
    f->owner.reset();
    for (PIRP irp : orphans) Finish(irp, STATUS_CANCELLED, 0);
  }
  delete f->address;
}

// Sends in line when nothing is queued before it: the caller's thread puts on the socket what it takes
// at once, without the connection's lock (receives go on meanwhile), and hands only a rest to the network
// thread, which saves a thread switch per send. Called with the lock held.
void SendInLine(Connection* c, std::unique_lock<std::mutex>& guard, PIRP irp) {
  c->busy = true;  // requests issued meanwhile queue behind it
  const int fd = TakeFdLocked(c);
  guard.unlock();
  NTSTATUS status = SendSome(fd, irp);
  guard.lock();
  GiveFdBackLocked(c);
  c->busy = false;
  // The network thread sends a rest before anything queued meanwhile, and carries out what was queued.
  if (status == STATUS_PENDING) c->requests.push_front(irp);
  if (!c->requests.empty()) WakeLocked(c);
  guard.unlock();
  if (status == STATUS_PENDING) return;
  if (!NT_SUCCESS(status)) TellDisconnect(c, TDI_DISCONNECT_ABORT);
  // Completed as the network thread would, at DISPATCH_LEVEL; what its completion routine issues waits
  // until it returns.
  t_inlineCompletion = true;
  Finish(irp, status, SentSoFar(irp));
  t_inlineCompletion = false;
}

// A connect, send or disconnect request: in line or queued for the driver, in the order issued.
// A send goes in line only while the driver sleeps or a helper is away: an awake driver takes it at its
// next turn without a wake-up, and a send beside its receive would make one of them wait for the socket's
// own lock.
void Carry(Connection* c, PIRP irp) {
  std::unique_lock guard(c->lock);
  if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == TDI_SEND && c->requests.empty() && !c->busy && !c->closing &&
      c->fd >= 0 && (c->asleep || c->driver == Driver::kAway || t_networkOf == c)) {
    SendInLine(c, guard, irp);
    return;
  }
  c->requests.push_back(irp);
  WakeLocked(c);
}

NTSTATUS Dispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  TransportFile* f = AsTransport(stack->FileObject);
  auto complete = [&](NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  };
  if (stack->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL || !f) return complete(STATUS_INVALID_DEVICE_REQUEST);
  switch (stack->MinorFunction) {
    case TDI_SET_EVENT_HANDLER: {
      const auto request = TdiGetParameters<TDI_REQUEST_KERNEL_SET_EVENT>(stack);
      if (!f->address) return complete(STATUS_INVALID_DEVICE_REQUEST);
      if (request.EventType != TDI_EVENT_DISCONNECT) return complete(STATUS_NOT_SUPPORTED);
      std::lock_guard guard(f->address->lock);
      f->address->disconnectHandler = reinterpret_cast<PTDI_IND_DISCONNECT>(request.EventHandler);
      f->address->disconnectContext = request.EventContext;
      return complete(STATUS_SUCCESS);
    }
    case TDI_ASSOCIATE_ADDRESS: {
      const auto request = TdiGetParameters<TDI_REQUEST_KERNEL_ASSOCIATE>(stack);
      PVOID object = nullptr;
      if (!f->connection) return complete(STATUS_INVALID_DEVICE_REQUEST);
      NTSTATUS status = ObReferenceObjectByHandle(request.AddressHandle, 0, *IoFileObjectType, KernelMode, &object, nullptr);
      if (!NT_SUCCESS(status)) return complete(status);
      TransportFile* a = AsTransport(static_cast<PFILE_OBJECT>(object));
      std::lock_guard guard(f->connection->lock);
      if (!a || !a->address || f->connection->address) {
        ObDereferenceObject(object);
        return complete(STATUS_INVALID_ADDRESS);
      }
      f->connection->address = a->address;
      f->connection->addressFile = &a->file;
      return complete(STATUS_SUCCESS);
    }
    case TDI_DISASSOCIATE_ADDRESS: {
      if (!f->connection) return complete(STATUS_INVALID_DEVICE_REQUEST);
      PFILE_OBJECT addressFile;
      {
        std::lock_guard guard(f->connection->lock);
        if (!f->connection->address) return complete(STATUS_INVALID_ADDRESS);
        addressFile = f->connection->addressFile;
        f->connection->address = nullptr;
        f->connection->addressFile = nullptr;
      }
      ObDereferenceObject(addressFile);
      return complete(STATUS_SUCCESS);
    }
    case TDI_CONNECT:
    case TDI_SEND:
    case TDI_DISCONNECT:
    case TDI_RECEIVE: {
      Connection* c = f->connection;
      if (!c) return complete(STATUS_INVALID_DEVICE_REQUEST);
      IoMarkIrpPending(irp);
      // Once a request is completed here, the connection may already be gone (its owner closes it from a
      // completion): nothing touches it after Finish.
      if (stack->MinorFunction == TDI_RECEIVE) {
        std::unique_lock guard(c->lock);
        irp->Tail.Overlay.DriverContext[0] = c;
        IoSetCancelRoutine(irp, CancelReceive);
        c->receives.push_back(irp);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {  // cancelled before it was queued
          c->receives.pop_back();
          guard.unlock();
          Finish(irp, STATUS_CANCELLED, 0);
          return STATUS_PENDING;
        }
        WakeLocked(c);
        return STATUS_PENDING;
      }
      if (stack->MinorFunction == TDI_SEND) {
        irp->Tail.Overlay.DriverContext[1] = nullptr;
        if (!t_networkOf && (t_sentOnAddress != c || t_sentOn.expired())) {
          t_sentOn = f->owner;
          t_sentOnAddress = c;
        }
      }
      t_deferred.emplace_back(c, irp);
      if (t_inlineCompletion) return STATUS_PENDING;  // carried out once that completion is over
      while (!t_deferred.empty()) {
        auto [connection, request] = t_deferred.front();
        t_deferred.pop_front();
        Carry(connection, request);
      }
      return STATUS_PENDING;
    }
    default:
      return complete(STATUS_NOT_SUPPORTED);
  }
}

PDEVICE_OBJECT Device() {
  std::lock_guard guard(g_deviceLock);
  if (!g_device) {
    for (auto& d : g_driver.MajorFunction) d = Dispatch;
    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(&g_driver, 0, nullptr, 0x12 /* FILE_DEVICE_NETWORK */, 0, FALSE, &device)))
      return nullptr;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    g_device = device;  // lives as long as the process
  }
  return g_device;
}

// The first extended attribute of a buffer, within its length.
bool ReadEa(PVOID buffer, ULONG length, std::string* name, const UCHAR** value, USHORT* valueLength) {
  if (!buffer || length < offsetof(FILE_FULL_EA_INFORMATION, EaName)) return false;
  auto* ea = static_cast<PFILE_FULL_EA_INFORMATION>(buffer);
  size_t need = offsetof(FILE_FULL_EA_INFORMATION, EaName) + ea->EaNameLength + 1u + ea->EaValueLength;
  if (need > length) return false;
  name->assign(ea->EaName, ea->EaNameLength);
  *value = reinterpret_cast<const UCHAR*>(ea->EaName) + ea->EaNameLength + 1;
  *valueLength = ea->EaValueLength;
  return true;
}

}  // namespace

namespace tavrin::wdk::internal {

bool IsTransportFile(PFILE_OBJECT file) { return AsTransport(file) != nullptr; }
PDEVICE_OBJECT TransportDevice() { return Device(); }

void StopTransport() {
  std::lock_guard guard(g_connectionsLock);
  for (Connection* c : g_connections) {
    std::lock_guard connectionGuard(c->lock);
    CloseSocketLocked(c, true);
    WakeLocked(c, true);
  }
}

}  // namespace tavrin::wdk::internal

namespace tavrin::wdk {
long TransportSocketsOpen() { return g_openSockets.load(); }
void SetTransportReadAhead(size_t bytes) { g_readAhead.store(bytes); }
}  // namespace tavrin::wdk

NTSTATUS ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatusBlock, PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID eaBuffer,
                      ULONG eaLength) {
  if (!fileHandle || !attributes || !attributes->ObjectName || !attributes->ObjectName->Buffer)
    return STATUS_INVALID_PARAMETER;
  std::string path = tavrin::wdk::Narrow(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(WCHAR));
  for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (path != "\\device\\tcp") return STATUS_OBJECT_NAME_NOT_FOUND;
  std::string name;
  const UCHAR* value = nullptr;
  USHORT valueLength = 0;
  if (!ReadEa(eaBuffer, eaLength, &name, &value, &valueLength)) return STATUS_INVALID_PARAMETER;
  bool isAddress = name == TdiTransportAddress, isConnection = name == TdiConnectionContext;
  if (!isAddress && !isConnection) return STATUS_INVALID_PARAMETER;
  if (isAddress && valueLength < sizeof(TA_IP_ADDRESS)) return STATUS_INVALID_ADDRESS;
  PDEVICE_OBJECT device = Device();
  if (!device) return STATUS_INSUFFICIENT_RESOURCES;
  void* body = NewObject(ObjectKind::File, sizeof(TransportFile), DestroyTransportFile);
  if (!body) return STATUS_INSUFFICIENT_RESOURCES;
  auto* f = new (body) TransportFile{};
  f->file.Type = 5;
  f->file.Size = sizeof(FILE_OBJECT);
  f->file.DeviceObject = device;
  f->file.FsContext = &g_transportMarker;
  f->file.DesiredAccess = desiredAccess;
  if (isAddress) {
    f->address = new Address;
  } else {
    f->owner = std::make_shared<Connection>();
    Connection* c = f->owner.get();
    c->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    c->grace = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (valueLength >= sizeof(PVOID)) std::memcpy(&c->context, value, sizeof(PVOID));
    f->connection = c;
    {
      std::lock_guard guard(g_connectionsLock);
      g_connections.insert(c);
    }
    SetWaitCarrier(CarryWhileWaiting);
    c->thread = std::thread(NetworkLoop, c);
  }
  if (ioStatusBlock) {
    ioStatusBlock->Status = STATUS_SUCCESS;
    ioStatusBlock->Information = 0;
  }
  *fileHandle = body;
  return STATUS_SUCCESS;
}
