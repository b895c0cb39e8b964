// zarnet-sim: simulated network USB servers, until SIGINT or SIGTERM.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "zarnet/sim/config.h"
#include "zarnet/sim/simulator.h"

extern const char* const kDefaultConfig;

namespace {

void Usage() {
  std::cerr << "usage: zarnet-sim [--config FILE] [--broadcast ADDRESS:PORT] [--period MS] [--restart-delay MS]\n"
               "                  [--tftp-port PORT] [--fault SERVER:SPEC]... [--quiet] [--print-default-config]\n"
               "Without --config the bundled configuration is used (see --print-default-config).\n";
}

bool SplitEndpoint(const std::string& text, std::string* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || value > 65535) return false;
  *address = text.substr(0, colon);
  *port = static_cast<uint16_t>(value);
  return true;
}

bool Number(const char* text, unsigned long* out) {
  char* end = nullptr;
  *out = std::strtoul(text, &end, 10);
  return *text != '\0' && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  std::string config_path, broadcast_address;
  uint16_t broadcast_port = 0;
  long period = -1, restart_delay = -1, tftp_port = -1;
  bool quiet = false;
  std::vector<std::pair<std::string, std::string>> faults;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long n = 0;
    if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--print-default-config") {
      std::cout << kDefaultConfig;
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else if (value == nullptr) {
      Usage();
      return 2;
    } else if (arg == "--config") {
      config_path = argv[++i];
    } else if (arg == "--broadcast" && SplitEndpoint(value, &broadcast_address, &broadcast_port)) {
      ++i;
    } else if (arg == "--period" && Number(value, &n) && n > 0) {
      period = static_cast<long>(n), ++i;
    } else if (arg == "--restart-delay" && Number(value, &n)) {
      restart_delay = static_cast<long>(n), ++i;
    } else if (arg == "--tftp-port" && Number(value, &n) && n <= 65535) {
      tftp_port = static_cast<long>(n), ++i;
    } else if (arg == "--fault" && std::strchr(value, ':')) {
      std::string spec = argv[++i];
      faults.emplace_back(spec.substr(0, spec.find(':')), spec.substr(spec.find(':') + 1));
    } else {
      Usage();
      return 2;
    }
  }

  std::string error;
  auto config = config_path.empty() ? zarnet::sim::ParseConfig(kDefaultConfig, &error)
                                    : zarnet::sim::LoadConfigFile(config_path, &error);
  if (!config) {
    std::cerr << "zarnet-sim: " << error << "\n";
    return 2;
  }
  for (auto& o : config->servers) {
    if (!broadcast_address.empty()) o.broadcast_address = broadcast_address, o.broadcast_port = broadcast_port;
    if (period > 0) o.broadcast_period = std::chrono::milliseconds(period);
    if (restart_delay >= 0) o.restart_delay = std::chrono::milliseconds(restart_delay);
    if (tftp_port >= 0) o.tftp_port = static_cast<uint16_t>(tftp_port);
  }
  for (const auto& entry : faults) {
    const auto& [server, spec] = entry;
    auto fault = zarnet::sim::ParseFault(spec, &error);
    auto it = std::find_if(config->servers.begin(), config->servers.end(),
                           [&](auto& o) { return o.name == entry.first; });
    if (!fault || it == config->servers.end()) {
      std::cerr << "zarnet-sim: --fault " << server << ":" << spec << ": " << (fault ? "no such server" : error)
                << "\n";
      return 2;
    }
    it->faults.push_back(*fault);
  }

  // Signals are taken by sigwait below: blocked here, before any thread starts, they stay blocked in all.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::mutex log_mutex;
  zarnet::sim::LogFunction log;
  if (!quiet) log = [&](const std::string& line) {
    std::lock_guard lock(log_mutex);
    std::cerr << "zarnet-sim: " << line << "\n";
  };
  zarnet::sim::Simulator simulator(log);
  for (auto& o : config->servers) simulator.AddServer(o);
  if (!simulator.Start(&error)) {
    std::cerr << "zarnet-sim: " << error << "\n";
    return 1;
  }
  std::cout << "zarnet-sim: " << simulator.size() << " servers running" << std::endl;

  int signal = 0;
  sigwait(&signals, &signal);
  simulator.Stop();
  std::cout << "zarnet-sim: stopped" << std::endl;
  return 0;
}
