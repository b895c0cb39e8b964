// The kernel host: a Kernel with its driver modules, served to user-mode programs over the socket of
// win32/devices/kernel_link.h. The kernel-host program runs one; tests may run one in their own process.
#pragma once
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "wdk/kernel.h"

namespace tavrin::kernel_host {

struct DriverSpec {
  std::string hardwareId;
  std::string service;
  PDRIVER_INITIALIZE entry;
};

// The driver of the enumerator's server nodes: the bus driver pelkobus, or the stand-in control device
// (fake_control_device.h), which answers without connecting anything.
enum class BusDriver { kFake, kPelkobus };

struct Options {
  BusDriver busDriver = BusDriver::kFake;
  // With the stand-in: whether it is loaded at all.
  bool fakeControlDevice = true;
  // Further driver modules, e.g. the real bus driver in place of the fake.
  std::vector<DriverSpec> drivers;
  // Connections served at once (each has a thread); further ones are closed as soon as they are accepted.
  size_t maxConnections = 512;
  // A connection that has not sent its request by then is closed (open handles and subscriptions then
  // stay as long as their clients want).
  std::chrono::milliseconds firstRequestTimeout{10000};
};

class KernelHost {
 public:
  explicit KernelHost(Options options = {});
  ~KernelHost();  // Stop()
  KernelHost(const KernelHost&) = delete;
  KernelHost& operator=(const KernelHost&) = delete;

  // Loads the drivers, creates the root device nodes of the store (root_devices.h) and listens on the
  // socket of the current sysroot. False (with a message in *error) when the socket cannot be made or
  // another kernel host already serves this sysroot.
  bool Start(std::string* error = nullptr);
  // Closes every connection (their files are closed), stops listening and tears the kernel down.
  void Stop();

  wdk::Kernel& kernel();  // while started
  std::filesystem::path socketPath() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavrin::kernel_host
