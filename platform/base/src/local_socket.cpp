#include "base/local_socket.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace tavrin::base::local {
namespace {

// False (errno ENAMETOOLONG) when the name does not fit.
bool MakeAddress(const Address& address, sockaddr_un& out, socklen_t& length) {
  out = sockaddr_un{};
  out.sun_family = AF_UNIX;
  if (address.name.size() >= sizeof out.sun_path) {  // the name keeps its NUL
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(out.sun_path, address.name.c_str(), address.name.size() + 1);
  length = sizeof out;
  return true;
}

}  // namespace

Connection::~Connection() {
  if (fd_ >= 0) close(fd_);
}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool SendAll(int fd, const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  while (size) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SendAllParts(int fd, iovec* parts, int count, int descriptor) {
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  while (count > 0) {
    if (parts->iov_len == 0) {
      ++parts;
      --count;
      continue;
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    if (descriptor >= 0) {
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&message);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(c), &descriptor, sizeof descriptor);
    }
    ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    descriptor = -1;  // gone with the first bytes
    for (auto left = static_cast<size_t>(n); left > 0;) {
      size_t step = std::min(left, parts->iov_len);
      parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + step;
      parts->iov_len -= step;
      left -= step;
      if (parts->iov_len == 0) {
        ++parts;
        --count;
      }
    }
  }
  return true;
}

namespace {

// Waits until the socket has bytes (or its end) within its receive time-out; false with EAGAIN when the
// time-out passed. A thread blocked in recv() on a local socket is also woken each time its peer takes
// what it sent (the socket's room comes back), which costs a thread switch a message on each side; a
// wait for input alone is woken by input only.
bool WaitReadable(int fd) {
  timeval limit{};
  socklen_t length = sizeof limit;
  int timeoutMs = -1;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, &length) == 0 && (limit.tv_sec || limit.tv_usec))
    timeoutMs = static_cast<int>(limit.tv_sec * 1000 + (limit.tv_usec + 999) / 1000);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EAGAIN;
    return n > 0;
  }
}

}  // namespace

bool ReceiveAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size) {
    ssize_t n = recv(fd, p, size, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitReadable(fd)) return false;
      continue;
    }
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAllWithDescriptor(int fd, void* data, size_t size, int* descriptor) {
  *descriptor = -1;
  auto* p = static_cast<uint8_t*>(data);
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  while (size) {
    iovec part{p, size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitReadable(fd)) continue;
      if (*descriptor >= 0) close(*descriptor);
      *descriptor = -1;
      return false;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); n >= 0 && c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int received;
        std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
        if (*descriptor < 0) *descriptor = received;
        else close(received);
      }
    }
    if (n <= 0) {
      if (*descriptor >= 0) close(*descriptor);
      *descriptor = -1;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Connection::SendAll(const void* data, size_t size) { return local::SendAll(fd_, data, size); }
bool Connection::ReceiveAll(void* data, size_t size) { return local::ReceiveAll(fd_, data, size); }

bool Connection::SetReceiveTimeout(std::chrono::milliseconds timeout) {
  timeval tv{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  return setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

void Connection::Shutdown() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

Connection Connect(const Address& address) {
  sockaddr_un where;
  socklen_t length;
  if (!MakeAddress(address, where, length)) return Connection();
  Connection connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!connection.valid()) return connection;
  if (connect(connection.fd(), reinterpret_cast<sockaddr*>(&where), length) != 0) {
    int error = errno;
    connection = Connection();
    errno = error;
  }
  return connection;
}

bool Listening(const Address& address) { return Connect(address).valid(); }

HangupWatch::HangupWatch() : epoll_(epoll_create1(EPOLL_CLOEXEC)), wake_(eventfd(0, EFD_CLOEXEC)) {
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.u64 = 0;
  if (epoll_ >= 0 && wake_ >= 0 && epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &e) == 0)
    thread_ = std::thread([this] { Run(); });
}

HangupWatch::~HangupWatch() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (wake_ >= 0) close(wake_);
  if (epoll_ >= 0) close(epoll_);
}

uint64_t HangupWatch::Add(int fd, std::function<void()> gone) {
  std::lock_guard guard(lock_);
  const uint64_t id = ++nextId_;
  epoll_event e{};
  e.events = EPOLLRDHUP | EPOLLET;
  e.data.u64 = id;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) return 0;
  watched_[id] = {fd, std::move(gone)};
  return id;
}

void HangupWatch::Remove(uint64_t id) {
  std::lock_guard guard(lock_);
  auto it = watched_.find(id);
  if (it == watched_.end()) return;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  watched_.erase(it);
}

void HangupWatch::Run() {
  epoll_event events[16];
  for (;;) {
    int n = epoll_wait(epoll_, events, 16, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    for (int i = 0; i < n; ++i) {
      const uint64_t id = events[i].data.u64;  // a copy: the record is packed
      if (id == 0) return;
      // Under the lock, so that Remove waits for a call under way and no call follows it.
      std::lock_guard guard(lock_);
      auto it = watched_.find(id);
      if (it != watched_.end()) it->second.gone();
    }
  }
}

Server::~Server() { Stop(); }

bool Server::Start(const Address& address, Handler handler, Options options, std::string* error) {
  auto fail = [&](const std::string& what) {
    int saved = errno;
    if (error) *error = what + ": " + std::strerror(saved);
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    errno = saved;
    return false;
  };
  if (listener_ >= 0) {
    errno = EBUSY;
    return fail("started already");
  }
  sockaddr_un where;
  socklen_t length;
  if (!MakeAddress(address, where, length)) return fail("socket name too long");
  if (Listening(address)) {
    errno = EADDRINUSE;
    return fail(address.name + " is served already");
  }
  unlink(address.name.c_str());  // a stale socket of a server that ended without cleaning up
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return fail("socket");
  if (bind(listener_, reinterpret_cast<sockaddr*>(&where), length) != 0) return fail("bind " + address.name);
  if (listen(listener_, 64) != 0) return fail("listen");
  handler_ = std::move(handler);
  options_ = std::move(options);
  socketFile_ = address.name;
  {
    std::lock_guard guard(lock_);
    stopping_ = false;
    refusing_ = false;
  }
  try {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (const std::system_error&) {
    errno = EAGAIN;
    return fail("no thread to accept on");
  }
  return true;
}

void Server::Stop() {
  if (listener_ < 0) return;
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
    for (auto& s : served_) s->connection->Shutdown();
  }
  shutdown(listener_, SHUT_RDWR);  // wakes the accept
  if (acceptThread_.joinable()) acceptThread_.join();
  close(listener_);
  listener_ = -1;
  unlink(socketFile_.c_str());
  std::list<std::unique_ptr<Served>> served;
  {
    std::lock_guard guard(lock_);
    served.swap(served_);
  }
  for (auto& s : served) s->connection->Shutdown();  // any accepted while the first ones were shut down
  for (auto& s : served)
    if (s->thread.joinable()) s->thread.join();
}

void Server::ReapFinished() {
  std::list<std::unique_ptr<Served>> finished;
  {
    std::lock_guard guard(lock_);
    for (auto it = served_.begin(); it != served_.end();) {
      auto next = std::next(it);
      if ((*it)->done) finished.splice(finished.end(), served_, it);
      it = next;
    }
  }
  for (auto& s : finished)
    if (s->thread.joinable()) s->thread.join();
}

void Server::AcceptLoop() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == EINTR || error == ECONNABORTED) continue;
      {
        std::lock_guard guard(lock_);
        if (stopping_) return;
      }
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        // Out of descriptors: finished connections give theirs back; meanwhile do not spin.
        ReapFinished();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      return;  // the listening socket was shut down
    }
    auto served = std::make_unique<Served>();
    served->connection = std::make_shared<Connection>(fd);
    Served* s = served.get();
    ReapFinished();
    std::lock_guard guard(lock_);
    if (stopping_) return;
    if (served_.size() >= options_.maxConnections) {
      if (!refusing_)
        std::fprintf(stderr, "%s: %zu connections served, further ones are refused\n", options_.name.c_str(),
                     served_.size());
      refusing_ = true;
      continue;  // closed as it goes
    }
    refusing_ = false;
    served_.push_back(std::move(served));
    try {
      s->thread = std::thread([this, s] {
        handler_(s->connection);
        s->connection->Shutdown();  // the client learns at once, not when the connection is reaped
        s->done = true;
      });
    } catch (const std::system_error& e) {
      std::fprintf(stderr, "%s: no thread for a connection (%s), it is refused\n", options_.name.c_str(), e.what());
      served_.pop_back();  // closes the socket; its thread never ran
    }
  }
}

}  // namespace tavrin::base::local
