// Plain-socket helpers for the simulator tests: all traffic stays on 127.0.0.0/8.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;

inline sockaddr_in Address(const std::string& ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

inline std::string Ip(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof(text));
  return text;
}

class Udp {
 public:
  explicit Udp(const std::string& ip = "127.0.0.1", uint16_t port = 0) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Address(ip, port);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  }
  ~Udp() { ::close(fd_); }
  Udp(const Udp&) = delete;
  int fd() const { return fd_; }
  uint16_t port() const {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }
  void SendTo(const std::vector<uint8_t>& data, const std::string& ip, uint16_t port) const {
    sockaddr_in a = Address(ip, port);
    ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  }
  // One datagram (at most 2048 bytes) within the time; none when nothing came.
  std::optional<std::vector<uint8_t>> Receive(std::chrono::milliseconds timeout, sockaddr_in* from = nullptr) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    std::vector<uint8_t> data(2048);
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    ssize_t n = ::recvfrom(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) return std::nullopt;
    data.resize(static_cast<size_t>(n));
    if (from) *from = a;
    return data;
  }
  // The next datagram from a given address (broadcasts of other servers are skipped).
  std::optional<std::vector<uint8_t>> ReceiveFrom(const std::string& ip, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      sockaddr_in from{};
      auto data = Receive(left, &from);
      if (!data) return std::nullopt;
      if (Ip(from) == ip) return data;
    }
  }
  void Drain() const {
    while (Receive(0ms)) {
    }
  }

 private:
  int fd_;
};

struct Exchange {
  std::string response;
  std::vector<size_t> pieces;  // sizes of the reads
  bool closed = false;         // the server closed (rather than the time running out)
  bool connected = false;
};

// One command: connect, send, read until the server closes or the time is up.
inline Exchange Command(const std::string& ip, uint16_t port, const std::string& request,
                        std::chrono::milliseconds timeout = 3000ms) {
  Exchange ex;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Address(ip, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(fd);
    return ex;
  }
  ex.connected = true;
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      ex.closed = true;
      break;
    }
    ex.response.append(buffer, static_cast<size_t>(n));
    ex.pieces.push_back(static_cast<size_t>(n));
  }
  ::close(fd);
  return ex;
}

// A tiny TFTP server for one file at a time, on 127.0.0.1.
class TftpServer {
 public:
  TftpServer(std::string file, std::vector<uint8_t> content) : file_(std::move(file)), content_(std::move(content)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TftpServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return socket_.port(); }
  std::atomic<int> ignore_requests{0};  // requests to drop before answering
  std::atomic<int> requests{0};
  // Which request was answered first (1: the first). A client whose DATA is lost sends its request again
  // while the answer is on its way, so the number of requests depends on timing; this does not.
  std::atomic<int> first_answered{0};
  std::atomic<int> resent_acks{0};      // duplicate ACKs seen (our DATA or their ACK lost)
  std::atomic<bool> drop_first_data{false};

 private:
  static std::vector<uint8_t> Packet(uint16_t op, uint16_t n) {
    return {static_cast<uint8_t>(op >> 8), static_cast<uint8_t>(op), static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
  }
  void Run() {
    while (!stop_) {
      sockaddr_in client{};
      auto rrq = socket_.Receive(20ms, &client);
      if (!rrq || rrq->size() < 4 || (*rrq)[1] != 1) continue;
      ++requests;
      if (ignore_requests > 0) {
        --ignore_requests;
        continue;
      }
      if (first_answered == 0) first_answered = requests.load();
      std::string name(reinterpret_cast<const char*>(rrq->data() + 2));
      Udp transfer;  // the transfer's own port
      if (name != file_) {
        std::vector<uint8_t> error = Packet(5, 1);
        for (char c : std::string("File not found")) error.push_back(static_cast<uint8_t>(c));
        error.push_back(0);
        transfer.SendTo(error, Ip(client), ntohs(client.sin_port));
        continue;
      }
      Send(transfer, client);
    }
  }
  void Send(Udp& transfer, const sockaddr_in& client) {
    bool dropped = false;
    for (uint16_t block = 1;; ++block) {
      size_t at = (block - 1) * 512u;
      size_t size = std::min<size_t>(512, content_.size() - std::min(at, content_.size()));
      std::vector<uint8_t> data = Packet(3, block);
      data.insert(data.end(), content_.begin() + static_cast<long>(at), content_.begin() + static_cast<long>(at + size));
      for (int tries = 0;; ++tries) {
        if (stop_ || tries > 20) return;
        if (!(drop_first_data && !dropped)) transfer.SendTo(data, Ip(client), ntohs(client.sin_port));
        dropped = true;
        auto ack = transfer.Receive(50ms);
        if (ack && ack->size() == 4 && (*ack)[1] == 4 && (((*ack)[2] << 8) | (*ack)[3]) == block) break;
        if (ack) ++resent_acks;
      }
      if (size < 512) return;
    }
  }
  std::string file_;
  std::vector<uint8_t> content_;
  Udp socket_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace simtest
