#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace zarnet::sim::net {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int Fd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopSignal::Set() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof(one));
}

void StopSignal::Reset() {
  uint64_t value;
  while (::read(fd_.get(), &value, sizeof(value)) > 0) {
  }
}

bool StopSignal::IsSet() const {
  pollfd p{fd_.get(), POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

static WaitResult Wait(int fd, short events, const StopSignal& stop, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int ms = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      ms = left.count() > 0 ? static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)) : 0;
    }
    pollfd p[2] = {{stop.fd(), POLLIN, 0}, {fd, events, 0}};
    int n = ::poll(p, fd >= 0 ? 2 : 1, ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (p[0].revents) return WaitResult::kStopped;
    if (n == 0) {
      if (ms != 0 && std::chrono::steady_clock::now() < deadline) continue;  // woken a little early
      return WaitResult::kTimeout;
    }
    return WaitResult::kReady;  // readiness, hang-up and errors alike: the next call tells which
  }
}

WaitResult WaitReadable(int fd, const StopSignal& stop, std::chrono::milliseconds timeout) {
  return Wait(fd, POLLIN, stop, timeout);
}

WaitResult WaitWritable(int fd, const StopSignal& stop, std::chrono::milliseconds timeout) {
  return Wait(fd, POLLOUT, stop, timeout);
}

bool SleepFor(const StopSignal& stop, std::chrono::milliseconds time) {
  return Wait(-1, 0, stop, time) != WaitResult::kStopped;
}

std::optional<sockaddr_in> MakeAddress(std::string_view ipv4, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  std::string text(ipv4);
  if (::inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1) return std::nullopt;
  return address;
}

std::string AddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
  return text;
}

bool IsLoopback(const sockaddr_in& address) { return (ntohl(address.sin_addr.s_addr) >> 24) == 127; }

static std::string Reason(const char* what, const sockaddr_in& address) {
  return std::string(what) + " " + AddressText(address) + ":" + std::to_string(ntohs(address.sin_port)) + ": " +
         std::strerror(errno);
}

Fd BindUdp(const sockaddr_in& address, std::string* error) {
  Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    if (error) *error = Reason("UDP bind", address);
    return Fd();
  }
  return fd;
}

Fd ListenTcp(const sockaddr_in& address, std::string* error) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  int on = 1;
  if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
      ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd.get(), 64) != 0) {
    if (error) *error = Reason("TCP listen", address);
    return Fd();
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t len = sizeof(address);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len) != 0) return 0;
  return ntohs(address.sin_port);
}

bool SendAll(int fd, const void* data, size_t size, const StopSignal& stop) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitWritable(fd, stop, std::chrono::milliseconds(-1)) != WaitResult::kReady) return false;
      continue;
    }
    return false;
  }
  return true;
}

namespace {

bool CanBind(int type, const sockaddr_in& address) {
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  return fd.valid() && ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// The lowest port that the kernel hands out to sockets bound to port 0 or connecting unbound.
int EphemeralLow() {
  int low = 32768, high = 60999;
  if (FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(range, "%d %d", &low, &high) != 2) low = 32768;
    std::fclose(range);
  }
  return low;
}

}  // namespace

uint16_t FreeLowPort(const sockaddr_in& address, bool udp) {
  static constexpr int kFirst = 10000;
  const int low = EphemeralLow();
  if (low <= kFirst + 1000) return 0;
  thread_local std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> pick(kFirst, low - 1);
  sockaddr_in candidate = address;
  for (int attempt = 0; attempt < 64; ++attempt) {
    candidate.sin_port = htons(static_cast<uint16_t>(pick(random)));
    if (CanBind(SOCK_STREAM, candidate) && (!udp || CanBind(SOCK_DGRAM, candidate))) return ntohs(candidate.sin_port);
  }
  return 0;
}

}  // namespace zarnet::sim::net
