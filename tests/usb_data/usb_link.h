// A virtual device served on one end of a loopback TCP connection, and a scripted client on the other.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "zarnet/sim/usb_session.h"
#include "zarnet/usb_wire.h"

namespace usbtest {

using namespace std::chrono_literals;
using namespace zarnet;

// The client's end of a data connection: requests framed by the codec, responses decoded by it.
class UsbClient {
 public:
  explicit UsbClient(int fd = -1) : fd_(fd) {
    int on = 1;
    if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  virtual ~UsbClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  UsbClient(const UsbClient&) = delete;
  UsbClient& operator=(const UsbClient&) = delete;

  // A request on `endpoint`'s pipe, with that pipe's next SeqNo (unless given); returns the SeqNo.
  uint32_t Send(uint32_t command, uint32_t endpoint, uint32_t transfer_length, std::vector<uint8_t> data = {},
                std::vector<RFC_ISO_DESC> packets = {}, std::optional<UsbSetupPacket> setup = {}) {
    RFC_HEADER h{};
    h.Command = command;
    h.PortNum = 1;
    h.Interface = 0;
    h.SeqNo = seq_[endpoint]++;
    h.EndPoint = endpoint;
    h.TransferLength = transfer_length;
    if (command == RFC_CMD_ISOCH) h.NumberOfPackets = static_cast<uint32_t>(packets.size());
    if (setup) SetSetup(h, *setup);
    SendHeader(h, data, packets);
    return h.SeqNo;
  }
  void SendHeader(const RFC_HEADER& h, const std::vector<uint8_t>& data = {},
                  const std::vector<RFC_ISO_DESC>& packets = {}) {
    std::vector<uint8_t> bytes;
    AppendRequest(bytes, h, data, packets);
    SendRaw(bytes);
  }
  void SendRaw(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return;
      at += static_cast<size_t>(n);
    }
  }
  uint32_t Control(UsbSetupPacket setup, std::vector<uint8_t> data = {}) {
    return Send(RFC_CMD_CONTROL, 0, setup.in() ? setup.wLength : static_cast<uint32_t>(data.size()), data, {}, setup);
  }
  uint32_t Unlink(uint32_t endpoint, uint32_t seq) {
    RFC_HEADER h{};
    h.Command = RFC_CMD_UNLINK;
    h.PortNum = 1;
    h.EndPoint = endpoint;
    h.SeqNo = seq_[endpoint]++;
    h.TransferFlags = seq;
    SendHeader(h);
    return h.SeqNo;
  }
  uint32_t ResetPipe(uint8_t endpoint) {
    return Send(RFC_CMD_SYNC_RESET_PIPE, endpoint, 0, {}, {}, UsbSetupPacket{0x02, 1, 0, endpoint, 0});
  }

  // The next whole response, none when the time runs out or the connection ends first.
  std::optional<UsbResponseMessage> Receive(std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (collector_.messages().empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      uint8_t buffer[65536];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed_ = true;
        return std::nullopt;
      }
      received_ += static_cast<size_t>(n);
      if (!decoder_.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), collector_)) return std::nullopt;
    }
    UsbResponseMessage m = std::move(collector_.messages().front());
    collector_.messages().pop_front();
    return m;
  }
  // Receives the answer to a control request and returns it.
  UsbResponseMessage Answer() {
    auto m = Receive();
    EXPECT_TRUE(m.has_value());
    return m.value_or(UsbResponseMessage{});
  }

  int fd() const { return fd_; }
  bool closed() const { return closed_; }
  size_t received() const { return received_; }
  const UsbStreamDecoder& decoder() const { return decoder_; }

 protected:
  int fd_ = -1;
  std::map<uint32_t, uint32_t> seq_;
  UsbStreamDecoder decoder_{UsbStreamDecoder::Direction::kResponses};
  UsbResponseCollector collector_;
  size_t received_ = 0;
  bool closed_ = false;
};

// A virtual device served on one end of a loopback TCP connection, the client on the other.
class DataLink : public UsbClient {
 public:
  explicit DataLink(sim::VirtualUsbDevice& device, sim::UsbSessionOptions options = {})
      : options_(std::move(options)) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int served = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    server_ = std::jthread([this, served, &device](std::stop_token stop) {
      result_ = sim::ServeUsbDataConnection(served, device, stop, options_);
      ::close(served);
    });
  }
  ~DataLink() override {
    server_.request_stop();
    if (server_.joinable()) server_.join();
  }

  // Ends the session from the client side and waits for it.
  sim::UsbSessionResult CloseAndWait() {
    ::shutdown(fd_, SHUT_WR);
    server_.join();
    return result_;
  }
  sim::UsbSessionResult Wait() {
    server_.join();
    return result_;
  }

 private:
  sim::UsbSessionOptions options_;
  std::jthread server_;
  sim::UsbSessionResult result_;
};

// Standard requests.
inline UsbSetupPacket GetDescriptor(uint8_t type, uint8_t index, uint16_t length, uint16_t language = 0) {
  return {0x80, 6, static_cast<uint16_t>(type << 8 | index), language, length};
}
inline UsbSetupPacket SetConfiguration(uint8_t value) { return {0x00, 9, value, 0, 0}; }
inline UsbSetupPacket SetInterface(uint8_t interface, uint8_t alternate) { return {0x01, 11, alternate, interface, 0}; }

}  // namespace usbtest
