#include "AdminNetwork.h"

#include <cstdio>
#include <cstdlib>

#include "admin/TavrinAdminDoc.h"
#include "admin/comm/CommSettings.h"
#include "win32/winsock.h"

namespace {

std::optional<WORD> Port(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const long value = strtol(text.c_str(), nullptr, 10);
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<WORD>(value);
}

std::optional<std::string> Address(const std::string& text) {
  // inet_addr answers INADDR_NONE for the broadcast address as for text that is no address.
  if (text != "255.255.255.255" && inet_addr(text.c_str()) == INADDR_NONE) return std::nullopt;
  return text;
}

// One address or a comma-separated list of them, each valid.
std::optional<std::string> AddressList(const std::string& text) {
  for (const std::string& address : DiscoveryAddresses(text))
    if (!Address(address)) return std::nullopt;
  return text;
}

}  // namespace

AdminNetwork ParseAdminNetwork(const std::string& text) {
  AdminNetwork network;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    bool ok = true;
    auto set = [&ok](auto& field, auto parsed) {
      if (parsed) field = parsed;
      else ok = false;
    };
    if (key == "bind") set(network.bindAddress, Address(value));
    else if (key == "devicelist") set(network.deviceListPort, Port(value));
    else if (key == "broadcast") set(network.broadcastAddress, AddressList(value));
    else if (key == "discovery") set(network.discoveryPort, Port(value));
    else if (key == "command") set(network.commandPort, Port(value));
    else if (key == "data") set(network.dataPort, Port(value));
    else ok = false;
    if (!ok) fprintf(stderr, "TavrinAdmin: TAVRIN_ADMIN_NET: ignored \"%s\"\n", item.c_str());
  }
  return network;
}

AdminNetwork AdminNetworkFromEnvironment() {
  const char* text = getenv("TAVRIN_ADMIN_NET");
  return text && *text ? ParseAdminNetwork(text) : AdminNetwork{};
}

void ApplyToServerComm(const AdminNetwork& network) {
  ServerCommSettings settings = GetDefaultServerCommSettings();
  if (network.commandPort) settings.commandPort = *network.commandPort;
  if (network.discoveryPort) settings.discoveryPort = *network.discoveryPort;
  if (network.broadcastAddress) settings.discoveryAddress = *network.broadcastAddress;
  SetDefaultServerCommSettings(settings);
}

void ApplyToDocument(const AdminNetwork& network, CTavrinAdminDoc& document) {
  if (network.bindAddress) document.m_ulDeviceListAddress = inet_addr(network.bindAddress->c_str());
  if (network.deviceListPort) document.m_wDeviceListPort = *network.deviceListPort;
  if (network.dataPort) document.m_wServerDataPort = *network.dataPort;
}
