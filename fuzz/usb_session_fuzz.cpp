// A simulated device's data connection fed any bytes: the session and the virtual device behind it take
// arbitrary requests (after a SET_CONFIGURATION, so that the endpoints are reached) and must neither
// crash nor read or write out of bounds. The first byte chooses the device.
#include <fcntl.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/sim/usb_session.h"

namespace {

// Writes the input and reads whatever comes back until the session closes its end.
void Peer(int fd, const std::vector<uint8_t>& input) {
  size_t sent = 0;
  bool writing = true;
  uint8_t buffer[65536];
  for (;;) {
    pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, -1) < 0) return;
    if (writing && (p.revents & POLLOUT)) {
      ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) sent += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) writing = false;
      if (sent == input.size()) {
        ::shutdown(fd, SHUT_WR);
        writing = false;
      }
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  zarnet::sim::Device d;
  d.port = 1;
  d.product = "Fuzz";
  d.print_file = "/dev/null";
  static const char* const kKinds[] = {"loopback", "printer", "keyboard", "composite"};
  d.usb_device = kKinds[data[0] % 4];
  std::unique_ptr<zarnet::sim::VirtualUsbDevice> device = zarnet::sim::MakeVirtualUsbDevice(d, "");

  std::vector<uint8_t> input;
  zarnet::RFC_HEADER configure{};
  configure.Command = zarnet::RFC_CMD_CONTROL;
  zarnet::SetSetup(configure, {0x00, 9, 1, 0, 0});
  zarnet::AppendRequest(input, configure);
  input.insert(input.end(), data + 1, data + size);

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  std::thread peer(Peer, pair[0], std::cref(input));
  zarnet::sim::UsbSessionOptions options;
  options.max_in_length = 4096;
  options.max_waiting = 64;
  zarnet::sim::ServeUsbDataConnection(pair[1], *device, {}, options);
  ::close(pair[1]);
  peer.join();
  ::close(pair[0]);
  return 0;
}
