#include "zarnet/sim/simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <random>

namespace zarnet::sim {

ServerOptions LoopbackServerOptions(int n, uint16_t broadcast_port) {
  ServerOptions o;
  o.name = "zarnet-" + std::to_string(n);
  o.address = "127.0.0." + std::to_string(n);
  o.command_port = 0;
  o.data_port = 0;
  o.server_id = 0x5A000000u + static_cast<uint32_t>(n);
  o.mac = {0x00, 0x1B, 0x5A, 0x00, 0x00, static_cast<uint8_t>(n)};
  o.serial_no = static_cast<uint32_t>(n);
  o.broadcast_address = "127.0.0.1";
  o.broadcast_port = broadcast_port;
  o.broadcast_period = std::chrono::milliseconds(50);
  o.restart_delay = std::chrono::milliseconds(50);
  o.request_timeout = std::chrono::milliseconds(2000);
  o.tftp_timeout = std::chrono::milliseconds(200);
  return o;
}

namespace {

// Whether a socket of `type` can be bound to address:port now (port 0: any; the port bound is returned).
uint16_t TryBind(int type, const char* address, uint16_t port) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = ::inet_addr(address);
  local.sin_port = htons(port);
  socklen_t length = sizeof local;
  uint16_t bound = 0;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    bound = ntohs(local.sin_port);
  ::close(fd);
  return bound;
}

// The lowest port that the kernel hands out to sockets bound to port 0 or connecting unbound.
int EphemeralLow() {
  int low = 32768, high = 60999;
  if (FILE* range = fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (fscanf(range, "%d %d", &low, &high) != 2) low = 32768;
    fclose(range);
  }
  return low;
}

}  // namespace

uint16_t FreeLoopbackPort(int type, const char* address) {
  // A port merely found free is bound later by whoever it is handed to. Taken from the kernel's
  // ephemeral range, it can be handed meanwhile to any socket that connects or sends; below that range
  // only another caller picking the same number at random can take it.
  static constexpr int kFirst = 10000;
  const int low = EphemeralLow();
  if (low > kFirst + 1000) {
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(getpid()));
    std::uniform_int_distribution<int> pick(kFirst, low - 1);
    for (int attempt = 0; attempt < 64; ++attempt) {
      const auto port = static_cast<uint16_t>(pick(random));
      if (TryBind(type, address, port) == port) return port;
    }
  }
  return TryBind(type, address, 0);
}

Simulator::Simulator(LogFunction log) : log_(std::move(log)) {}

Simulator::~Simulator() { Stop(); }

Server& Simulator::AddServer(ServerOptions options) {
  servers_.push_back(std::make_unique<Server>(std::move(options), log_));
  return *servers_.back();
}

bool Simulator::Start(std::string* error) {
  for (auto& server : servers_) {
    if (!server->Start(error)) {
      Stop();
      return false;
    }
  }
  return true;
}

void Simulator::Stop() {
  for (auto& server : servers_) server->Stop();
}

Server* Simulator::Find(const std::string& name) {
  for (auto& server : servers_)
    if (server->name() == name) return server.get();
  return nullptr;
}

}  // namespace zarnet::sim
