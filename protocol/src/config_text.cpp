#include "zarnet/config_text.h"

#include <cstdio>

namespace zarnet {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

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

IniText::IniText(std::string_view text) {
  std::optional<std::string> section;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.front() == '[') {
      size_t close = line.find(']');
      sections_.emplace_back(Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1)));
      section = sections_.back();
      continue;
    }
    size_t eq = line.find('=');
    if (!section || eq == std::string_view::npos) continue;
    entries_.push_back({*section, std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
  }
}

bool IniText::HasSection(std::string_view section) const {
  for (const auto& s : sections_)
    if (SameName(s, section)) return true;
  return false;
}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
  for (const auto& e : entries_)
    if (SameName(e.section, section) && SameName(e.key, key)) return e.value;
  return std::nullopt;
}

}  // namespace zarnet
