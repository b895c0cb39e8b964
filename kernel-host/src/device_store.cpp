#include "kernel_host/device_store.h"

#include <algorithm>
#include <cctype>

#include "kernel_host/root_devices.h"
#include "wincommon/device_nodes.h"

namespace tavrin::kernel_host {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsRoot(const std::string& instanceId) { return Upper(instanceId).rfind("ROOT\\", 0) == 0; }

}  // namespace

DeviceStore::DeviceStore(std::vector<DriverSpec> drivers, std::function<int()> openFiles)
    : drivers_(std::move(drivers)), registered_(drivers_.size(), false), openFiles_(std::move(openFiles)) {}

bool DeviceStore::Installed(const std::vector<std::pair<std::string, std::string>>& installed, const DriverSpec& d) const {
  return std::any_of(installed.begin(), installed.end(), [&](const auto& i) { return i.first == Upper(d.hardwareId); });
}

void DeviceStore::RegisterInstalled(wdk::Kernel& kernel, bool* added) {
  const bool store = device_nodes::StoreExists();
  const auto installed = store ? device_nodes::InstalledDriverIds() : decltype(device_nodes::InstalledDriverIds()){};
  for (size_t i = 0; i < drivers_.size(); ++i) {
    if (registered_[i] || (store && !Installed(installed, drivers_[i]))) continue;
    kernel.RegisterDriver(drivers_[i].hardwareId, drivers_[i].service, drivers_[i].entry);
    registered_[i] = true;
    if (added) *added = true;
  }
}

void DeviceStore::Start(wdk::Kernel& kernel) {
  std::lock_guard guard(lock_);
  RegisterInstalled(kernel, nullptr);
  if (!device_nodes::StoreExists()) {
    for (const auto& id : LoadRootDevices()) kernel.CreateRootDevice(id);
  } else {
    for (const auto& node : device_nodes::Load())
      if (!node.service.empty() && IsRoot(node.instanceId) && !node.hardwareIds.empty())
        kernel.CreateRootDevice(node.hardwareIds.front());
  }
  kernel.WaitForPnpIdle();
}

uint32_t DeviceStore::Reload(wdk::Kernel& kernel) {
  std::lock_guard guard(lock_);
  if (!device_nodes::StoreExists()) return 0;
  bool added = false;
  RegisterInstalled(kernel, &added);
  const auto stored = device_nodes::Load();
  auto inStore = [&](const std::string& instanceId) {
    return std::any_of(stored.begin(), stored.end(), [&](const auto& n) {
      return Upper(n.instanceId) == Upper(instanceId) && !n.service.empty();
    });
  };
  const bool busy = openFiles_() > 0;
  uint32_t deferred = 0;
  for (const auto& live : kernel.DeviceNodes()) {
    if (!IsRoot(live.instanceId)) continue;
    const bool keep = inStore(live.instanceId);
    if (keep && !added) continue;
    if (busy) {  // a node in use goes (or is made again) at the next start
      if (!keep) deferred = 1;
      continue;
    }
    kernel.RemoveRootDevice(live.instanceId);
  }
  const auto now = kernel.DeviceNodes();
  for (const auto& node : stored) {
    if (node.service.empty() || !IsRoot(node.instanceId) || node.hardwareIds.empty()) continue;
    bool live = std::any_of(now.begin(), now.end(), [&](const auto& l) { return Upper(l.instanceId) == Upper(node.instanceId); });
    if (!live) kernel.CreateRootDevice(node.hardwareIds.front());
  }
  kernel.WaitForPnpIdle();  // the answer comes when the children are up too
  return deferred;
}

kernel_link::Writer DeviceStore::List(wdk::Kernel& kernel) {
  kernel.WaitForPnpIdle();
  auto nodes = kernel.DeviceNodes();
  kernel_link::Writer answer;
  answer.U32(static_cast<uint32_t>(nodes.size()));
  for (const auto& n : nodes) {
    answer.String(n.instanceId).U32(static_cast<uint32_t>(n.hardwareIds.size()));
    for (const auto& id : n.hardwareIds) answer.String(id);
    answer.String(n.service).U8(n.started ? 1 : 0);
  }
  return answer;
}

}  // namespace tavrin::kernel_host
