// The kernel host's side of the machine's device-node store (win32/devices/device_nodes.h). Without a store
// the host keeps the machine it had before anything was installed (root_devices.h, every driver). With one,
// a driver loads only where an installed INF maps its hardware id to a service, and the root devices are the
// store's nodes that have a service.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kernel_host/kernel_host.h"
#include "wincommon/kernel_link.h"

namespace tavrin::kernel_host {

class DeviceStore {
 public:
  // `openFiles` tells how many files the host's clients hold open now.
  DeviceStore(std::vector<DriverSpec> drivers, std::function<int()> openFiles);

  // At start: registers the drivers that may load and creates the root devices.
  void Start(wdk::Kernel& kernel);
  // Brings the kernel in line with the store: drivers newly installed are registered (the root devices are
  // made again so that their children find them), nodes gone from the store are removed. 1 when a removal
  // must wait for the next start because files are open, else 0.
  uint32_t Reload(wdk::Kernel& kernel);
  // The answer to ListNodes.
  static kernel_link::Writer List(wdk::Kernel& kernel);

 private:
  bool Installed(const std::vector<std::pair<std::string, std::string>>& installed, const DriverSpec& d) const;
  void RegisterInstalled(wdk::Kernel& kernel, bool* added);

  std::mutex lock_;
  std::vector<DriverSpec> drivers_;
  std::vector<bool> registered_;
  std::function<int()> openFiles_;
};

}  // namespace tavrin::kernel_host
