// The simulator's configuration file (see sim/README.md for the format).
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarnet/sim/server.h"

namespace zarnet::sim {

struct SimConfig {
  std::vector<ServerOptions> servers;
};

std::optional<SimConfig> ParseConfig(std::string_view text, std::string* error = nullptr);
std::optional<SimConfig> LoadConfigFile(const std::string& path, std::string* error = nullptr);

}  // namespace zarnet::sim
