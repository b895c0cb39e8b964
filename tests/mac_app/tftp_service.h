// The Mac's TFTP service in tests: the TFTP server stand-in serving a folder of the sysroot.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tavrinmac::test {

class TftpService {
 public:
  // Serves `folder` (below the sysroot `root`) on 127.0.0.1:port while started.
  TftpService(const std::filesystem::path& root, const std::filesystem::path& folder, uint16_t port);
  ~TftpService();
  bool Start();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavrinmac::test
