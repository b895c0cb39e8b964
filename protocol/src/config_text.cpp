#include "zarnet/config_text.h"

#include <cstdio>

namespace zarnet {
namespace {

void AppendConnections(std::string& out, std::span<const ConnectionTableEntry> connections) {
  out += "[ConnectionTable]\n";
  for (size_t i = 0; i < connections.size(); ++i) {
    out += "port_no" + std::to_string(i + 1) + "=" + std::to_string(connections[i].port_no) + "\n";
    out += "client_ip" + std::to_string(i + 1) + "=" + connections[i].client_ip + "\n";
  }
}

}  // namespace

std::string FormatConfigurationText(const ServerConfiguration& config,
                                    std::span<const ConnectionTableEntry> connections) {
  char serial[16];
  std::snprintf(serial, sizeof(serial), "%06u", config.serial_no);
  std::string out;
  out += "[GeneralSettings]\n";
  out += "server_model=" + std::to_string(config.server_model) + "\n";
  out += "fw_version=" + config.fw_version + "\n";
  out += "hw_version=" + config.hw_version + "\n";
  out += std::string("serial_no=") + serial + "\n";
  out += "[BasicSettings]\n";
  out += "server_name=" + config.server_name + "\n";
  out += "[NetworkSettings]\n";
  out += "ip_address=" + config.ip_address + "\n";
  out += "net_mask=" + config.net_mask + "\n";
  out += "gate_way=" + config.gate_way + "\n";
  out += "ip_config=" + std::to_string(config.ip_config) + "\n";
  out += "mac_addr=" + config.mac_addr + "\n";
  AppendConnections(out, connections);
  out += "[Password]\n";
  out += std::string("enable=") + (config.password_enable ? "1" : "0") + "\n";
  out += "password=" + config.password + "\n";
  return out;
}

std::string FormatConnectionTable(std::span<const ConnectionTableEntry> connections) {
  std::string out;
  AppendConnections(out, connections);
  return out;
}

}  // namespace zarnet
