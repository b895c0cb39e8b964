// The configuration text of commands 4, 5 and 6: INI form, sections GeneralSettings, BasicSettings,
// NetworkSettings, ConnectionTable and Password, keys in a fixed order (read back with the INI parser,
// ini/ini.h).
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarnet {

struct ServerConfiguration {
  uint8_t server_model = 0;
  std::string fw_version;  // "%d.0.0.%d": major, minor
  std::string hw_version;
  uint32_t serial_no = 0;  // written with six digits
  std::string server_name;
  std::string ip_address;
  std::string net_mask;
  std::string gate_way;
  uint32_t ip_config = 0;  // 0 static, 1 DHCP
  std::string mac_addr;
  bool password_enable = false;
  std::string password;
};

// One computer connected to a server: the USB port it holds and its address.
struct ConnectionTableEntry {
  uint32_t port_no = 0;
  std::string client_ip;
};

// The reply text of command 4: every section, in order; ends with a line feed.
std::string FormatConfigurationText(const ServerConfiguration& config,
                                    std::span<const ConnectionTableEntry> connections);
// The reply text of command 6: "[ConnectionTable]" and the port_no%d / client_ip%d pairs.
std::string FormatConnectionTable(std::span<const ConnectionTableEntry> connections);

}  // namespace zarnet
