#include "zarnet/sim/simulator.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "net.h"

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

uint16_t FreeLoopbackPort(int type, const char* address) {
  auto where = net::MakeAddress(address, 0);
  if (!where) return 0;
  if (uint16_t port = net::FreeLowPort(*where, type == SOCK_DGRAM)) return port;
  // No room below the ephemeral range: a port the kernel picks, free at least now.
  net::Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*where), sizeof *where) != 0) return 0;
  return net::LocalPort(fd.get());
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
