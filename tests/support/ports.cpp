#include "testsupport/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin::test {

HeldPort::HeldPort(Kind kind, const std::string& address) {
  fd_ = ::socket(AF_INET, (kind == kDatagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = ::inet_addr(address.c_str());
  socklen_t length = sizeof local;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    port_ = ntohs(local.sin_port);
}

HeldPort::~HeldPort() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tavrin::test
