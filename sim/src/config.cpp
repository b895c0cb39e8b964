#include "zarnet/sim/config.h"

#include <fstream>
#include <sstream>

#include "net.h"
#include "text_util.h"
#include "zarnet/sim/usb_device.h"

namespace zarnet::sim {
namespace {

struct Line {
  int number;
  std::string key, value;
};

struct Section {
  enum class Kind { kSim, kServer, kDevice } kind;
  std::string name;
  int number;
  std::vector<Line> lines;
};

bool ParseEndpoint(std::string_view text, std::string* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string host(text::Trim(text.substr(0, colon)));
  if (!net::MakeAddress(host, 0) || !text::ParseAs(text.substr(colon + 1), port)) return false;
  *address = host;
  return true;
}

bool ParseMac(std::string_view text, std::array<uint8_t, 6>* mac) {
  std::array<uint8_t, 6> bytes{};
  for (size_t i = 0; i < 6; ++i) {
    if (text.size() < 2) return false;
    uint64_t byte;
    if (!text::ParseNumber("0x" + std::string(text.substr(0, 2)), 0xFF, &byte)) return false;
    bytes[i] = static_cast<uint8_t>(byte);
    text.remove_prefix(2);
    if (i < 5) {
      if (text.empty() || (text[0] != ':' && text[0] != '-')) return false;
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) return false;
  *mac = bytes;
  return true;
}

// "MAJOR.x.y.MINOR", the form the servers report, or "MAJOR.MINOR".
bool ParseFirmware(std::string_view text, uint8_t* major, uint8_t* minor) {
  std::vector<std::string_view> parts;
  for (size_t dot; (dot = text.find('.')) != std::string_view::npos; text.remove_prefix(dot + 1))
    parts.push_back(text.substr(0, dot));
  parts.push_back(text);
  if (parts.size() != 2 && parts.size() != 4) return false;
  for (auto part : parts)
    if (uint64_t ignored; !text::ParseNumber(part, 0xFFFF, &ignored)) return false;
  return text::ParseAs(parts.front(), major) && text::ParseAs(parts.back(), minor);
}

bool Millis(std::string_view value, std::chrono::milliseconds* out) {
  uint64_t ms;
  if (!text::ParseNumber(value, 24ull * 3600 * 1000, &ms)) return false;
  *out = std::chrono::milliseconds(ms);
  return true;
}

// One key of a [sim] or [server] section; an error text when it is refused.
std::string ApplyServerKey(ServerOptions& o, const std::string& key, const std::string& value) {
  bool ok = true;
  if (key == "address") {
    ok = net::MakeAddress(value, 0).has_value();
    o.address = value;
  }
  else if (key == "command_port") ok = text::ParseAs(value, &o.command_port);
  else if (key == "data_port") ok = text::ParseAs(value, &o.data_port);
  else if (key == "server_id") ok = text::ParseAs(value, &o.server_id);
  else if (key == "model") ok = text::ParseAs(value, &o.model);
  else if (key == "mac") ok = ParseMac(value, &o.mac);
  else if (key == "fw_version") ok = ParseFirmware(value, &o.fw_major, &o.fw_minor);
  else if (key == "hw_version") o.hw_version = value;
  else if (key == "serial_no") ok = text::ParseAs(value, &o.serial_no, 999999);
  else if (key == "ip_address") o.ip_address = value;
  else if (key == "net_mask") o.net_mask = value;
  else if (key == "gate_way") o.gate_way = value;
  else if (key == "ip_config") ok = text::ParseAs(value, &o.ip_config);
  else if (key == "password") {
    o.password = value;
    o.password_enable = !value.empty();
  }
  else if (key == "password_enable") ok = text::ParseBool(value, &o.password_enable);
  else if (key == "broadcast") ok = ParseEndpoint(value, &o.broadcast_address, &o.broadcast_port);
  else if (key == "broadcast_period_ms") ok = Millis(value, &o.broadcast_period) && o.broadcast_period.count() > 0;
  else if (key == "restart_delay_ms") ok = Millis(value, &o.restart_delay);
  else if (key == "request_timeout_ms") ok = Millis(value, &o.request_timeout);
  else if (key == "tftp_port") ok = text::ParseAs(value, &o.tftp_port);
  else if (key == "tftp_timeout_ms") ok = Millis(value, &o.tftp_timeout);
  else if (key == "tftp_retries") ok = text::ParseAs(value, &o.tftp_retries, 1000);
  else if (key == "folder") {
    ok = !value.empty();
    o.folder = value;
  }
  else if (key == "fault") {
    std::string error;
    auto fault = ParseFault(value, &error);
    if (!fault) return error;
    o.faults.push_back(*fault);
  } else {
    return "unknown key \"" + key + "\"";
  }
  return ok ? std::string() : "bad value \"" + value + "\" for " + key;
}

std::string ApplyDeviceKey(Device& d, const std::string& key, const std::string& value) {
  bool ok = true;
  if (key == "port") ok = text::ParseAs(value, &d.port);
  else if (key == "class") ok = text::ParseAs(value, &d.device_class);
  else if (key == "subclass") ok = text::ParseAs(value, &d.subclass);
  else if (key == "protocol") ok = text::ParseAs(value, &d.protocol);
  else if (key == "vid") ok = text::ParseAs(value, &d.vid);
  else if (key == "pid") ok = text::ParseAs(value, &d.pid);
  else if (key == "rev") ok = text::ParseAs(value, &d.rev);
  else if (key == "speed") ok = text::ParseAs(value, &d.speed);
  else if (key == "interfaces") ok = text::ParseAs(value, &d.interfaces);
  else if (key == "busy") ok = text::ParseBool(value, &d.busy);
  else if (key == "client") {
    ok = net::MakeAddress(value, 0).has_value();
    d.client_ip = value;
  }
  else if (key == "product") d.product = value;
  else if (key == "usb_device") {
    UsbDeviceKind kind;
    ok = ParseUsbDeviceKind(value, &kind);
    d.usb_device = value;
  }
  else if (key == "manufacturer") d.manufacturer = value;
  else if (key == "print_file") d.print_file = value;
  else return "unknown key \"" + key + "\"";
  return ok ? std::string() : "bad value \"" + value + "\" for " + key;
}

std::optional<SimConfig> Refuse(std::string* error, int line, const std::string& why) {
  if (error) *error = "line " + std::to_string(line) + ": " + why;
  return std::nullopt;
}

}  // namespace

std::optional<SimConfig> ParseConfig(std::string_view text, std::string* error) {
  std::vector<Section> sections;
  int number = 0;
  while (!text.empty()) {
    ++number;
    size_t eol = text.find('\n');
    std::string_view line = text::Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return Refuse(error, number, "unclosed section");
      std::string_view inside = text::Trim(line.substr(1, line.size() - 2));
      std::string_view word = inside.substr(0, inside.find(' '));
      std::string name(text::Trim(inside.substr(word.size())));
      if (word == "sim") sections.push_back({Section::Kind::kSim, name, number, {}});
      else if (word == "server") sections.push_back({Section::Kind::kServer, name, number, {}});
      else if (word == "device") sections.push_back({Section::Kind::kDevice, name, number, {}});
      else return Refuse(error, number, "unknown section \"" + std::string(word) + "\"");
      if (word == "server" && name.empty()) return Refuse(error, number, "a server needs a name");
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Refuse(error, number, "expected key = value");
    if (sections.empty()) return Refuse(error, number, "setting outside a section");
    sections.back().lines.push_back(
        {number, std::string(text::Trim(line.substr(0, eq))), std::string(text::Trim(line.substr(eq + 1)))});
  }

  ServerOptions defaults;
  for (const Section& s : sections) {
    if (s.kind != Section::Kind::kSim) continue;
    for (const Line& l : s.lines)
      if (std::string why = ApplyServerKey(defaults, l.key, l.value); !why.empty())
        return Refuse(error, l.number, why);
  }
  SimConfig config;
  for (const Section& s : sections) {
    if (s.kind == Section::Kind::kServer) {
      ServerOptions o = defaults;
      o.name = s.name;
      for (const Line& l : s.lines)
        if (std::string why = ApplyServerKey(o, l.key, l.value); !why.empty()) return Refuse(error, l.number, why);
      config.servers.push_back(std::move(o));
    } else if (s.kind == Section::Kind::kDevice) {
      if (config.servers.empty()) return Refuse(error, s.number, "a device section must follow its server");
      Device d;
      for (const Line& l : s.lines)
        if (std::string why = ApplyDeviceKey(d, l.key, l.value); !why.empty()) return Refuse(error, l.number, why);
      config.servers.back().devices.push_back(std::move(d));
    }
  }
  return config;
}

std::optional<SimConfig> LoadConfigFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = "cannot read " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::optional<SimConfig> config = ParseConfig(text.str(), error);
  if (!config && error) *error = path + ": " + *error;
  return config;
}

}  // namespace zarnet::sim
