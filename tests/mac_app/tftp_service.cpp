#include "tftp_service.h"

#include <cstdio>

#include "tftpserver/TftpServer.h"

namespace tavrinmac::test {

struct TftpService::Impl {
  Impl() { WSAStartup(MAKEWORD(2, 2), &wsa); }
  ~Impl() {
    server.Stop();
    WSACleanup();
  }
  WSADATA wsa{};
  tftp::Server server;
  tftp::ServerOptions options;
};

TftpService::TftpService(const std::filesystem::path& root, const std::filesystem::path& folder, uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  // The stand-in serves a Windows folder: C:\tftpboot, made to be the Mac's folder.
  std::filesystem::create_directories(folder);
  std::filesystem::create_directories(root / "C");
  std::filesystem::create_directory_symlink(folder, root / "C" / "tftpboot");
  impl_->options.root = "C:\\tftpboot";
  impl_->options.address = "127.0.0.1";
  impl_->options.port = port;
}

TftpService::~TftpService() { Stop(); }

bool TftpService::Start() {
  std::string error;
  if (impl_->server.Start(impl_->options, &error)) return true;
  fprintf(stderr, "TFTP service: %s\n", error.c_str());
  return false;
}

void TftpService::Stop() { impl_->server.Stop(); }

}  // namespace tavrinmac::test
