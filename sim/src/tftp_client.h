// A TFTP read (RFC 1350): the image of a firmware upgrade, fetched from the computer that asked.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net.h"

namespace zarnet::sim {

struct TftpOptions {
  std::chrono::milliseconds timeout{1000};  // per packet, before it is sent again
  int retries = 5;                          // sends again before giving up
  size_t max_size = 16 * 1024 * 1024;
};

struct TftpOutcome {
  bool ok = false;
  std::vector<uint8_t> data;
  uint16_t error_code = 0;  // from the server's ERROR packet
  std::string message;
};

// Reads `file` in octet mode from server (address and port of its well-known socket), sending from the
// local address. A stop ends it as a failure.
TftpOutcome TftpRead(const sockaddr_in& local, const sockaddr_in& server, const std::string& file,
                     const TftpOptions& options, const net::StopSignal& stop);

}  // namespace zarnet::sim
