#include "kernel_host/root_devices.h"

#include <fstream>

#include "vizorido/vizorido.h"
#include "base/sysroot.h"

namespace tavrin::kernel_host {

std::filesystem::path RootDevicesFile() { return base::sysroot::Root() / "devices" / "root"; }

std::vector<std::string> LoadRootDevices() {
  std::ifstream in(RootDevicesFile());
  if (!in) return {vizorido::kHardwareId};
  std::vector<std::string> ids;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) ids.push_back(line);
  }
  return ids;
}

void SaveRootDevices(const std::vector<std::string>& hardwareIds) {
  std::filesystem::create_directories(RootDevicesFile().parent_path());
  auto temporary = RootDevicesFile();
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const auto& id : hardwareIds) out << id << "\n";
  }
  std::filesystem::rename(temporary, RootDevicesFile());
}

}  // namespace tavrin::kernel_host
