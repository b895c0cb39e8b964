// Where TavrinAdmin sends and listens. The production addresses and ports stand unless TAVRIN_ADMIN_NET
// says otherwise when the program starts, so that a test or a demo runs it on loopback ports of its own:
//   "bind=127.0.0.1;devicelist=40123;broadcast=127.0.0.1;discovery=40124;command=40124;data=40125"
//   bind        address the device-list listener binds (production: any)
//   devicelist  UDP port of the servers' device lists (6000)
//   broadcast   where discovery requests go (255.255.255.255); a comma-separated list sends to each
//   discovery   UDP port of the discovery responders (1341)
//   command     TCP port of the servers' command service (1341)
//   data        TCP port of the servers' device data, given to the bus driver (3240)
// Items that do not parse are named on stderr and leave their production value.
#pragma once
#include <optional>
#include <string>

#include "win32/types.h"

class CTavrinAdminDoc;

struct AdminNetwork {
  std::optional<std::string> bindAddress;
  std::optional<WORD> deviceListPort;
  std::optional<std::string> broadcastAddress;  // one address or a comma-separated list
  std::optional<WORD> discoveryPort;
  std::optional<WORD> commandPort;
  std::optional<WORD> dataPort;
};

AdminNetwork ParseAdminNetwork(const std::string& text);
// TAVRIN_ADMIN_NET of this process (nothing set when it is absent).
AdminNetwork AdminNetworkFromEnvironment();
// The discovery and command settings every server connection starts with.
void ApplyToServerComm(const AdminNetwork& network);
// The listener's address and port and the data port, before mapping starts.
void ApplyToDocument(const AdminNetwork& network, CTavrinAdminDoc& document);
