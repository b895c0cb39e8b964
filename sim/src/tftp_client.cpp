#include "tftp_client.h"

#include <sys/socket.h>

#include <cerrno>

#include "zarnet/wire.h"

namespace zarnet::sim {
namespace {

constexpr uint16_t kRrq = 1, kData = 3, kAck = 4, kError = 5;
constexpr size_t kBlockSize = 512;

std::vector<uint8_t> ErrorPacket(uint16_t code, const std::string& message) {
  std::vector<uint8_t> packet(4);
  wire::StoreBe16(packet.data(), kError);
  wire::StoreBe16(packet.data() + 2, code);
  packet.insert(packet.end(), message.begin(), message.end());
  packet.push_back(0);
  return packet;
}

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

void SendTo(int fd, const std::vector<uint8_t>& packet, const sockaddr_in& to) {
  ::sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

TftpOutcome Failed(std::string message, uint16_t code = 0) {
  TftpOutcome outcome;
  outcome.message = std::move(message);
  outcome.error_code = code;
  return outcome;
}

}  // namespace

TftpOutcome TftpRead(const sockaddr_in& local, const sockaddr_in& server, const std::string& file,
                     const TftpOptions& options, const net::StopSignal& stop) {
  sockaddr_in from_any = local;
  from_any.sin_port = 0;
  std::string error;
  net::Fd socket = net::BindUdp(from_any, &error);
  if (!socket.valid()) return Failed(error);

  std::vector<uint8_t> last(2);
  wire::StoreBe16(last.data(), kRrq);
  last.insert(last.end(), file.begin(), file.end());
  last.push_back(0);
  for (char c : std::string("octet")) last.push_back(static_cast<uint8_t>(c));
  last.push_back(0);

  sockaddr_in peer = server;  // the transfer's own port once its first DATA arrives
  bool have_tid = false;
  uint16_t expected = 1;
  int resends = 0;
  TftpOutcome outcome;
  SendTo(socket.get(), last, peer);
  for (;;) {
    net::WaitResult wait = net::WaitReadable(socket.get(), stop, options.timeout);
    if (wait == net::WaitResult::kStopped) return Failed("stopped");
    if (wait == net::WaitResult::kError) return Failed("poll failed");
    if (wait == net::WaitResult::kTimeout) {
      if (++resends > options.retries) return Failed("timed out");
      SendTo(socket.get(), last, peer);
      continue;
    }
    uint8_t packet[4 + kBlockSize + 1];
    sockaddr_in from{};
    socklen_t from_len = sizeof(from);
    ssize_t n = ::recvfrom(socket.get(), packet, sizeof(packet), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                           &from_len);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR || errno == ECONNREFUSED) continue;
      return Failed("receive failed");
    }
    if (have_tid && !SameEndpoint(from, peer)) {
      SendTo(socket.get(), ErrorPacket(5, "Unknown transfer ID"), from);
      continue;
    }
    if (!have_tid && from.sin_addr.s_addr != server.sin_addr.s_addr) continue;
    if (n < 4) {
      SendTo(socket.get(), ErrorPacket(4, "Illegal TFTP operation"), from);
      return Failed("short packet");
    }
    uint16_t opcode = wire::LoadBe16(packet);
    if (opcode == kError) {
      size_t text_end = 4;
      while (text_end < static_cast<size_t>(n) && packet[text_end] != 0) ++text_end;
      return Failed(std::string(reinterpret_cast<char*>(packet + 4), text_end - 4), wire::LoadBe16(packet + 2));
    }
    if (opcode != kData || static_cast<size_t>(n) > 4 + kBlockSize) {
      SendTo(socket.get(), ErrorPacket(4, "Illegal TFTP operation"), from);
      return Failed("unexpected packet");
    }
    if (!have_tid) {
      peer = from;
      have_tid = true;
    }
    uint16_t block = wire::LoadBe16(packet + 2);
    if (block != expected) {
      // A repeated block: our acknowledgement was lost, so acknowledge it again.
      if (block == static_cast<uint16_t>(expected - 1)) SendTo(socket.get(), last, peer);
      continue;
    }
    size_t size = static_cast<size_t>(n) - 4;
    if (outcome.data.size() + size > options.max_size) {
      SendTo(socket.get(), ErrorPacket(3, "Disk full or allocation exceeded"), peer);
      return Failed("image too large");
    }
    outcome.data.insert(outcome.data.end(), packet + 4, packet + n);
    last.assign(4, 0);
    wire::StoreBe16(last.data(), kAck);
    wire::StoreBe16(last.data() + 2, block);
    SendTo(socket.get(), last, peer);
    resends = 0;
    ++expected;
    if (size < kBlockSize) {
      outcome.ok = true;
      return outcome;
    }
  }
}

}  // namespace zarnet::sim
