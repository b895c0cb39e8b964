// Addresses, ports and time-outs of discovery and of the command protocol. The defaults are the
// production values; tests point the client at simulated servers on 127.0.0.N with short time-outs.
#pragma once
#include <string>
#include <vector>

#include "win32/types.h"
#include "zarnet/ports.h"

struct ServerCommSettings {
  WORD commandPort = zarnet::kCommandPort;                    // TCP port of a server's command service
  WORD discoveryPort = zarnet::kDiscoveryPort;                // UDP port of the discovery responders
  std::string discoveryAddress = zarnet::kBroadcastAddress;  // where the discovery request goes (a comma-separated list: to each)
  DWORD discoveryRecvTimeoutMs = 10;                          // one receive of the discovery thread
  DWORD commandRecvTimeoutMs = 1000;                          // one receive of a command
  DWORD commandRecvTimeoutLimit = 10;    // receive time-outs that end a command with "no response"
  DWORD commandResponseTimeoutMs = 10000;  // a whole response, however it trickles in; then "no response"
  DWORD processDelayMs = 500;            // pause between the exchange and its processing
  DWORD productStringAttempts = 3;       // connections tried for one product string
  DWORD maxResponseSize = 1024 * 1024;   // a longer response is refused as invalid
};

// The addresses of a discovery target: one, or each of a comma-separated list (empty items kept).
std::vector<std::string> DiscoveryAddresses(const std::string& list);

// The settings every new CServerComm starts with. Thread-safe.
ServerCommSettings GetDefaultServerCommSettings();
void SetDefaultServerCommSettings(const ServerCommSettings& settings);
