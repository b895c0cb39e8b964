#include "testsupport/usb_requests.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <span>

namespace tavrin::test {

void ServeRequests(const zarnet::sim::DataSession& session,
                   const std::function<void(zarnet::UsbRequestMessage& request)>& handle) {
  zarnet::UsbStreamDecoder decoder(zarnet::UsbStreamDecoder::Direction::kRequests);
  zarnet::UsbRequestCollector collector;
  std::vector<uint8_t> bytes(70000);
  for (;;) {
    pollfd fds[2] = {{session.socket, POLLIN, 0}, {session.stop_fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents) break;
    ssize_t n = recv(session.socket, bytes.data(), bytes.size(), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    if (n < 0) continue;
    if (!decoder.Feed(std::span(bytes.data(), static_cast<size_t>(n)), collector)) break;
    while (!collector.messages().empty()) {
      zarnet::UsbRequestMessage m = std::move(collector.messages().front());
      collector.messages().pop_front();
      handle(m);
    }
  }
}

void SendAll(int socket, const std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    ssize_t w = send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (w > 0) {
      at += static_cast<size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd fd{socket, POLLOUT, 0};
      poll(&fd, 1, 1000);
    } else {
      break;
    }
  }
}

void AnswerControl(const zarnet::sim::DataSession& session, zarnet::sim::VirtualUsbDevice& device,
                   const zarnet::UsbRequestMessage& request) {
  zarnet::sim::UsbAnswer a = device.Control(zarnet::SetupOf(request.header), request.data);
  std::vector<uint8_t> out;
  zarnet::AppendResponse(out, zarnet::ResponseTo(request.header, a.status), a.data);
  SendAll(session.socket, out);
}

}  // namespace tavrin::test
