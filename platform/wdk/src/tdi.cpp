// The stand-in TCP transport behind "\Device\Tcp" (see wdk/tdi.h).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

struct Connection {
  std::mutex lock;
  std::deque<PIRP> requests;  // connect, send, disconnect: in order
  std::deque<PIRP> receives;
  bool busy = false;  // a request of `requests` is being carried out (by the network thread or in line)
  int fd = -1;
  int wake = -1;  // eventfd: new requests, cancel, close
  bool asleep = false;  // the network thread waits in poll: only then does a new request need the eventfd
  bool closing = false;
  Address* address = nullptr;  // associated
  PFILE_OBJECT addressFile = nullptr;  // referenced while associated
  PVOID context = nullptr;  // the ConnectionContext attribute
  std::thread thread;
  // Threads using `fd` outside the lock (a send, a poll, a read ahead); a socket closed meanwhile is only
  // shut down, and closed by the last of them, so its number is not reused under them.
  int fdUsers = 0;
  std::vector<int> retired;
  uint64_t generation = 0;  // counts the sockets closed: a read ahead from an older one is dropped
  // Read ahead, served to the receives in order; only the network thread fills and drains it.
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

// The connection whose network thread this is, and whether this thread is completing an in-line send.
thread_local Connection* t_networkOf = nullptr;
thread_local bool t_inlineCompletion = false;
// Connect, send and disconnect requests issued on this thread while it completes an in-line send: carried
// out in order once that completion is over, so completions never nest and a send chain stays on the thread.
thread_local std::deque<std::pair<Connection*, PIRP>> t_deferred;

// Called with the lock held: the network thread looks at its queues before it sleeps again, so only a
// sleeping one needs the eventfd.
// A close always wakes it (a connect in progress waits on the eventfd too).
void WakeLocked(Connection* c, bool always = false) {
  if (t_networkOf == c || !(c->asleep || always)) return;
  c->asleep = false;
  uint64_t one = 1;
  if (::write(c->wake, &one, sizeof one) < 0) {
  }
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

// The connection's own thread: carries out connect, send and disconnect requests in order and serves
// receives meanwhile, also while a send waits for room (a peer that answers while it reads must not find
// both sides waiting to send). The socket is used outside the lock, so that a receive or send issued
// meanwhile never waits for a send in progress. Receives are served from one buffer read ahead.
void NetworkLoop(Connection* c) {
  t_networkOf = c;
  std::unique_lock guard(c->lock);
  c->aheadSize = std::max<size_t>(1, g_readAhead.load());
  c->ahead = std::make_unique<uint8_t[]>(c->aheadSize);
  bool readable = false;  // the last read filled the room it had: more may be waiting
  bool writable = true;  // the last send did not find the socket full
  PIRP sending = nullptr;  // a send under way, taken from `requests`
  for (;;) {
    if (c->closing) break;
    if (!sending && !c->requests.empty() && !c->busy) {
      PIRP irp = c->requests.front();
      c->requests.pop_front();
      c->busy = true;
      UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
      if (minor == TDI_SEND) {
        if (c->fd < 0) {
          guard.unlock();
          Finish(irp, STATUS_INVALID_CONNECTION, 0);
          guard.lock();
          c->busy = false;
        } else {
          sending = irp;  // tried below
          writable = true;
        }
        continue;
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
      continue;
    }
    const int fd = c->fd;
    if (sending && fd < 0) {
      // Only a disconnect closes the socket, and it waits behind this send: a change means the transport stopped.
      PIRP irp = std::exchange(sending, nullptr);
      guard.unlock();
      Finish(irp, STATUS_CONNECTION_ABORTED, SentSoFar(irp));
      guard.lock();
      c->busy = false;
      continue;
    }
    if (!c->receives.empty()) {
      if (fd < 0 && c->Buffered() == 0 && c->end == Connection::End::kNone) {
        FailReceivesLocked(c, STATUS_INVALID_CONNECTION);
        continue;
      }
      // A receive takes the bytes ahead once they fill it, the buffer is full or the socket has no more.
      size_t buffered = c->Buffered();
      if (c->end != Connection::End::kNone || buffered >= ReceiveRoom(c->receives.front(), nullptr) ||
          buffered == c->aheadSize || (buffered > 0 && !readable)) {
        ServeReceive(c, guard);
        continue;
      }
    }
    // Read ahead when a receive waits, send what the socket takes, else sleep until one of them can go on
    // or a request comes.
    const bool wantData = fd >= 0 && !c->receives.empty();
    if (wantData && c->aheadStart > 0) {  // the few bytes left go to the front, the read fills the rest
      std::memmove(c->ahead.get(), c->ahead.get() + c->aheadStart, c->Buffered());
      c->aheadEnd -= c->aheadStart;
      c->aheadStart = 0;
    }
    const uint64_t generation = c->generation;
    uint8_t* into = c->ahead.get() + c->aheadEnd;
    const size_t free = c->aheadSize - c->aheadEnd;
    const bool sleep = !(wantData && readable) && !(sending && writable);
    if (fd >= 0) TakeFdLocked(c);
    if (sleep) c->asleep = true;
    guard.unlock();
    NTSTATUS sendStatus = STATUS_PENDING;
    ssize_t got = -2;  // nothing read
    int readError = 0;
    if (sleep) {
      pollfd p[2] = {{c->wake, POLLIN, 0}, {wantData || sending ? fd : -1, 0, 0}};
      if (wantData) p[1].events |= POLLIN;
      if (sending) p[1].events |= POLLOUT;
      ::poll(p, 2, -1);
      if (p[0].revents & POLLIN) {
        uint64_t count;
        if (::read(c->wake, &count, sizeof count) < 0) {
        }
      }
      readable = wantData && (p[1].revents & (POLLIN | POLLHUP | POLLERR));
      writable = sending && (p[1].revents & (POLLOUT | POLLHUP | POLLERR));
    }
    if (sending && writable) {
      sendStatus = SendSome(fd, sending);
      writable = sendStatus != STATUS_PENDING;
    }
    if (wantData && readable) {
      got = ::recv(fd, into, free, MSG_DONTWAIT);
      readError = got < 0 ? errno : 0;
      readable = got > 0 && static_cast<size_t>(got) == free;
    }
    guard.lock();
    c->asleep = false;
    if (fd >= 0) GiveFdBackLocked(c);
    if (got != -2 && c->generation == generation) {
      if (got > 0) {
        c->aheadEnd += static_cast<size_t>(got);
      } else if (got == 0) {
        c->end = Connection::End::kClosed;
      } else if (readError != EAGAIN && readError != EINTR) {
        c->end = Connection::End::kBroken;
      }
    }
    if (sending && sendStatus != STATUS_PENDING) {
      PIRP irp = std::exchange(sending, nullptr);
      guard.unlock();
      if (!NT_SUCCESS(sendStatus)) TellDisconnect(c, TDI_DISCONNECT_ABORT);
      Finish(irp, sendStatus, SentSoFar(irp));
      guard.lock();
      c->busy = false;
    }
  }
  if (sending) {
    guard.unlock();
    Finish(sending, STATUS_CANCELLED, SentSoFar(sending));
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
    // Requests its owner issued from a send's completion before closing it: they end as cancelled.
    std::vector<PIRP> orphans;
    std::erase_if(t_deferred, [&](const std::pair<Connection*, PIRP>& d) {
      if (d.first == c) orphans.push_back(d.second);
      return d.first == c;
    });
    if (c->addressFile) ObDereferenceObject(c->addressFile);
    ::close(c->wake);
    delete c;
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

// A connect, send or disconnect request: in line or queued for the network thread, in the order issued.
// A send goes in line only while the network thread sleeps: an awake one takes it at its next turn without
// a wake-up, and a send beside its receive would make one of them wait for the socket's own lock.
void Carry(Connection* c, PIRP irp) {
  std::unique_lock guard(c->lock);
  if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == TDI_SEND && c->requests.empty() && !c->busy && !c->closing &&
      c->fd >= 0 && (c->asleep || t_networkOf == c)) {
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
      if (stack->MinorFunction == TDI_SEND) irp->Tail.Overlay.DriverContext[1] = nullptr;
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
    auto* c = new Connection;
    c->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (valueLength >= sizeof(PVOID)) std::memcpy(&c->context, value, sizeof(PVOID));
    f->connection = c;
    {
      std::lock_guard guard(g_connectionsLock);
      g_connections.insert(c);
    }
    c->thread = std::thread(NetworkLoop, c);
  }
  if (ioStatusBlock) {
    ioStatusBlock->Status = STATUS_SUCCESS;
    ioStatusBlock->Information = 0;
  }
  *fileHandle = body;
  return STATUS_SUCCESS;
}
