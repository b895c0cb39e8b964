// Ports of the test's own where nobody is to answer.
#pragma once
#include <cstdint>
#include <string>

namespace tavrin::test {

// A port on `address` held by a socket that never listens and is never read: a TCP connection there is
// refused at once, datagrams sent there go nowhere, and nothing else on the computer can take the port
// while the object lives (a port merely found free can be taken by a test running beside).
class HeldPort {
 public:
  enum Kind { kStream, kDatagram };
  explicit HeldPort(Kind kind = kStream, const std::string& address = "127.0.0.1");
  ~HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  uint16_t port() const { return port_; }  // 0 when no socket could be bound

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace tavrin::test
