// Firmware upgrade: the image goes into the Mac's TFTP folder, the TFTP service is restarted and the
// server is told the file's name (command 8); it fetches the image by itself.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/system_commands.h"
#include "cocoa/bsd.h"

namespace {
using tavrinmac::ServerLog;
using tavrinmac::Ui;
}  // namespace

void serverManager::upgradeFirmware_class(id) {
  ServerNode* server = selectedServer();
  if (!server) return;
  const std::string path = Ui().ChooseFile("Choose a File to upgrade Firmware");
  if (path.empty()) {
    server->release();
    return;
  }
  const std::string name = NSString::stringWithStd(path)->lastPathComponent()->str();
  tavrinmac::CopyIntoTftpRoot(path, name);
  tavrinmac::CopyToDesktop(path);
  printf("CHMODE %s\n", cocoa::Format("chmod 777 /private/tftpboot/%s", name.c_str()).c_str());
  tavrinmac::MakeReadableByAll(std::string(tavrinmac::kTftpRoot) + "/" + name);
  if (server->clientsChecked() == 2) {
    ServerLog("Unable to Upgrade %s", server->recvIpAddres());
    server->release();
    return;
  }
  StartWorker([server, name] {
    upgradeFirmwareThread(server, name);
    server->release();
  });
}

void serverManager::upgradeFirmwareThread(ServerNode* server, std::string name) {
  if (name.empty() || !server) return ServerLog("Firmware upgrade Error");
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  if (name.size() > 99) name.resize(99);  // the name buffer holds 100 bytes
  const std::string address = server->recvIpAddres();
  int s = bsd::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) {
    // The upgrade cannot go on; the program can.
    printf("Client: socket failed: %d\n", errno);
    ServerLog("Firmware upgrade Error");
    pool->drain();
    return;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(1341);
  to.sin_addr.s_addr = bsd::inet_addr(address.c_str());
  server->setClientChecked(2);
  if (bsd::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    int error = errno;
    printf("Client: connect failed: %d\n", error);
    Ui().Alert({"ERROR:", cocoa::Format("Upgrade Firmware: connect failed: %d [ %s ]", error, strerror(error)), {"Ok"}});
    bsd::close(s);
    pool->drain();
    return;
  }
  tavrinmac::ServiceCommand("tftp", "stop");
  std::this_thread::sleep_for(std::chrono::milliseconds(tavrinmac::ServiceRestartPauseMs()));
  tavrinmac::ServiceCommand("tftp", "start");
  printf("filename -- %s\n", name.c_str());
  char status;
  {
    std::lock_guard exchange(exchangeLock());
    lastStatusGlobal = 0;
    set_command(8, name.c_str(), s, address.c_str());
    status = lastStatusGlobal;
  }
  server->setClientChecked(1);
  if (status == '0' || status == '1') ServerLog("Firmware upgraded at %s", address.c_str());
  else ServerLog("Unable to Upgrade %s", address.c_str());
  pool->drain();
}
