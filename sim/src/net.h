// Small POSIX socket helpers of the simulator: owned descriptors, a stop signal that wakes every wait,
// and waits that a stop always ends.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarnet::sim::net {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Once set, stays set until Reset: every wait on it ends at once.
class StopSignal {
 public:
  StopSignal();
  void Set();
  void Reset();
  bool IsSet() const;
  int fd() const { return fd_.get(); }

 private:
  Fd fd_;
};

enum class WaitResult { kReady, kTimeout, kStopped, kError };
// Waits until fd is readable (or writable), the stop signal is set, or the time is up (negative: no limit).
WaitResult WaitReadable(int fd, const StopSignal& stop, std::chrono::milliseconds timeout);
WaitResult WaitWritable(int fd, const StopSignal& stop, std::chrono::milliseconds timeout);
// Sleeps unless stopped; false when the stop signal ended it.
bool SleepFor(const StopSignal& stop, std::chrono::milliseconds time);

std::optional<sockaddr_in> MakeAddress(std::string_view ipv4, uint16_t port);
std::string AddressText(const sockaddr_in& address);  // "a.b.c.d"
bool IsLoopback(const sockaddr_in& address);

// Sockets bound to address:port (port 0: a free one); an empty Fd and the reason on failure.
Fd BindUdp(const sockaddr_in& address, std::string* error);
Fd ListenTcp(const sockaddr_in& address, std::string* error);
uint16_t LocalPort(int fd);

// A port that TCP (and, with `udp`, UDP) sockets can bind at `address` now, taken at random below the
// kernel's ephemeral range; 0 when none was found. A port the kernel hands out for port 0 lies in that
// range, where any socket that connects or sends unbound may take it on another address meanwhile, and
// tests give one server's ports to servers on further addresses.
uint16_t FreeLowPort(const sockaddr_in& address, bool udp);

// Writes everything unless stopped or the peer goes away.
bool SendAll(int fd, const void* data, size_t size, const StopSignal& stop);

}  // namespace zarnet::sim::net
