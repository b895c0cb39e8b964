// The simulator's USB data session against a raw baseline, on loopback, side by side:
//   (a) a plain TCP server framed like the protocol (56-byte headers with data, same sizes, same queue
//       depth) that keeps each OUT's data and returns it to the next IN;
//   (b) the data session with the loopback device (bulk echo 0x01 -> 0x81).
// Reported: MB/s and p50/p99 latency of 64 KiB bulk OUT+IN pairs at queue depth 1 and 8, and the round
// trip of an 8-byte control transfer; then (b)/(a).
//
//   usb_sim_bench [--seconds 2]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "latency_stats.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/sim/usb_session.h"
#include "zarnet/usb_wire.h"

namespace {

using namespace zarnet;
using bench::Clock;
using bench::Result;
using bench::Summary;

void NoDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A connected pair on 127.0.0.1: first the client's end, then the server's.
std::pair<int, int> Connected() {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int server = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  NoDelay(client);
  NoDelay(server);
  return {client, server};
}

bool SendAll(int fd, const uint8_t* p, size_t n) {
  while (n) {
    ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// (a): the same framing, nothing else: every request answered at once, OUT data kept for the next IN.
void RawServer(int fd, std::stop_token stop) {
  UsbStreamDecoder decoder(UsbStreamDecoder::Direction::kRequests);
  UsbRequestCollector collector;
  std::deque<std::vector<uint8_t>> kept;
  std::vector<uint8_t> buffer(64 * 1024), out;
  const std::vector<uint8_t> descriptor(18, 0x12);
  while (!stop.stop_requested()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    if (!decoder.Feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), collector)) return;
    out.clear();
    for (; !collector.messages().empty(); collector.messages().pop_front()) {
      UsbRequestMessage& m = collector.messages().front();
      RFC_RESPONSE_HEADER r = ResponseTo(m.header, 0);
      if (m.header.Command == RFC_CMD_CONTROL) {
        AppendResponse(out, r, std::span<const uint8_t>(descriptor).first(std::min<size_t>(8, SetupOf(m.header).wLength)));
      } else if (m.header.EndPoint & 0x80) {
        std::vector<uint8_t> data;
        if (!kept.empty()) data = std::move(kept.front()), kept.pop_front();
        AppendResponse(out, r, data);
      } else {
        kept.push_back(std::move(m.data));
        AppendResponse(out, r);
      }
    }
    if (!SendAll(fd, out.data(), out.size())) return;
  }
}

class Client {
 public:
  explicit Client(int fd) : fd_(fd) {}
  void Send(uint32_t command, uint32_t endpoint, uint32_t length, const std::vector<uint8_t>& data,
            const UsbSetupPacket& setup = {}) {
    RFC_HEADER h{};
    h.Command = command;
    h.PortNum = 1;
    h.SeqNo = seq_++;
    h.EndPoint = endpoint;
    h.TransferLength = length;
    SetSetup(h, setup);
    bytes_.clear();
    AppendRequest(bytes_, h, data);
    SendAll(fd_, bytes_.data(), bytes_.size());
  }
  bool Receive(UsbResponseMessage* m) {
    while (collector_.messages().empty()) {
      ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
      if (n <= 0) return false;
      if (!decoder_.Feed(std::span<const uint8_t>(buffer_, static_cast<size_t>(n)), collector_)) return false;
    }
    *m = std::move(collector_.messages().front());
    collector_.messages().pop_front();
    return true;
  }

 private:
  int fd_;
  uint32_t seq_ = 0;
  std::vector<uint8_t> bytes_;
  uint8_t buffer_[64 * 1024];
  UsbStreamDecoder decoder_{UsbStreamDecoder::Direction::kResponses};
  UsbResponseCollector collector_;
};

// 64 KiB OUT+IN pairs, `depth` pairs in flight.
Result Echo(int fd, int depth, double seconds) {
  Client client(fd);
  const std::vector<uint8_t> data(65536, 0x5A);
  std::vector<double> latencies;
  std::deque<Clock::time_point> sent;
  uint64_t bytes = 0;
  const Clock::time_point start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  UsbResponseMessage m;
  for (int i = 0; i < depth; ++i) {
    client.Send(RFC_CMD_BULK, 0x01, 65536, data);
    client.Send(RFC_CMD_BULK, 0x81, 65536, {});
    sent.push_back(Clock::now());
  }
  while (!sent.empty()) {
    if (!client.Receive(&m) || !client.Receive(&m)) break;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent.front()).count());
    sent.pop_front();
    bytes += 2 * 65536;
    if (Clock::now() < until) {
      client.Send(RFC_CMD_BULK, 0x01, 65536, data);
      client.Send(RFC_CMD_BULK, 0x81, 65536, {});
      sent.push_back(Clock::now());
    }
  }
  return Summary(latencies, bytes, start);
}

Result ControlRoundTrip(int fd, double seconds) {
  Client client(fd);
  std::vector<double> latencies;
  const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  UsbResponseMessage m;
  while (Clock::now() < until) {
    const Clock::time_point t = Clock::now();
    client.Send(RFC_CMD_CONTROL, 0, 8, {}, UsbSetupPacket{0x80, 6, 0x0100, 0, 8});
    if (!client.Receive(&m)) break;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
  }
  Result r;
  r.p50_us = bench::Percentile(latencies, 0.50);
  r.p99_us = bench::Percentile(latencies, 0.99);
  return r;
}

template <typename Serve>
Result Run(Serve serve, const std::function<Result(int)>& measure) {
  auto [client, server] = Connected();
  std::jthread thread([&, server = server](std::stop_token stop) { serve(server, stop); });
  Result r = measure(client);
  ::shutdown(client, SHUT_RDWR);
  thread.request_stop();
  thread.join();
  ::close(client);
  ::close(server);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 2;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--seconds") seconds = std::stod(argv[++i]);

  sim::Device d;
  d.port = 1;
  d.device_class = 0xFF;
  d.product = "Loopback";
  sim::LoopbackDevice device(d);
  auto raw = [](int fd, std::stop_token stop) { RawServer(fd, stop); };
  auto session = [&](int fd, std::stop_token stop) {
    // The device must be configured first: the session does it as the stack would, then serves.
    sim::ServeUsbDataConnection(fd, device, stop);
  };
  auto configured = [&](int fd, const std::function<Result(int)>& measure) {
    Client c(fd);
    c.Send(RFC_CMD_CONTROL, 0, 0, {}, UsbSetupPacket{0x00, 9, 1, 0, 0});
    UsbResponseMessage m;
    c.Receive(&m);
    return measure(fd);
  };

  std::printf("%-28s %12s %12s %12s\n", "64 KiB OUT+IN pairs", "MB/s", "p50 us", "p99 us");
  for (int depth : {1, 8}) {
    auto measure = [&](int fd) { return Echo(fd, depth, seconds); };
    Result a = Run(raw, measure);
    Result b = Run(session, [&](int fd) { return configured(fd, measure); });
    std::printf("depth %d  (a) raw               %12.0f %12.0f %12.0f\n", depth, a.mb_per_s, a.p50_us, a.p99_us);
    std::printf("depth %d  (b) session, loopback %12.0f %12.0f %12.0f\n", depth, b.mb_per_s, b.p50_us, b.p99_us);
    std::printf("depth %d  (b)/(a) throughput %.2f\n", depth, a.mb_per_s > 0 ? b.mb_per_s / a.mb_per_s : 0);
  }
  auto control = [&](int fd) { return ControlRoundTrip(fd, seconds); };
  Result a = Run(raw, control);
  Result b = Run(session, control);
  std::printf("8-byte control round trip (a) p50 %.0f us p99 %.0f us; (b) p50 %.0f us p99 %.0f us; (b)/(a) p50 %.2f\n",
              a.p50_us, a.p99_us, b.p50_us, b.p99_us, a.p50_us > 0 ? b.p50_us / a.p50_us : 0);
  return 0;
}
