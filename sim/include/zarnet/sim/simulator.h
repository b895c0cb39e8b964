// Several simulated servers at once, each on its own address or ports.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zarnet/sim/server.h"

namespace zarnet::sim {

// Settings for server n of a test on loopback: bound to 127.0.0.n on a free port, named "zarnet-n",
// broadcasting to 127.0.0.1:broadcast_port every 50 ms, resetting in 50 ms, with n in its identity
// (server identifier 0x5A000000 + n, MAC 00:1B:5A:00:00:n, serial number n).
ServerOptions LoopbackServerOptions(int n, uint16_t broadcast_port);

// A port that is free at the moment on `address` for sockets of `type` (SOCK_STREAM or SOCK_DGRAM), for a
// test or benchmark to hand to servers and listeners; 0 when none could be had. Picked at random below the
// kernel's ephemeral range, so that no connecting or sending socket is given it before it is bound.
uint16_t FreeLoopbackPort(int type, const char* address = "127.0.0.1");

class Simulator {
 public:
  explicit Simulator(LogFunction log = {});
  ~Simulator();

  Server& AddServer(ServerOptions options);
  // Starts every server; on a failure stops those already started.
  bool Start(std::string* error = nullptr);
  void Stop();

  size_t size() const { return servers_.size(); }
  Server& server(size_t i) { return *servers_.at(i); }
  Server* Find(const std::string& name);

 private:
  LogFunction log_;
  std::vector<std::unique_ptr<Server>> servers_;
};

}  // namespace zarnet::sim
