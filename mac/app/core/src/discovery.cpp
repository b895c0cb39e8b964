// Server discovery: one request to the broadcast address, the first 10 bytes of each reply, then every
// found server's configuration.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"
#include "cocoa/bsd.h"

namespace {

using tavrinmac::ServerLog;
using tavrinmac::Ui;
using tavrinmac::View;

void SetSearchState(const std::function<void(ServerManagerView&)>& change) {
  {
    std::lock_guard guard(serverManager::lock());
    change(serverManager::view());
  }
  Ui().Changed(View::kSearchWindow);
}

// What every early end of the worker does.
void EndSearch(int socket) {
  loop = 0;
  Ui().EndModal(View::kSearchWindow, 1);
  Ui().Changed(View::kServersTable);
  Ui().OrderOut(View::kSearchWindow);
  bsd::close(socket);
}

// The servers as they are now (retained; the caller releases the array).
NSArray* Snapshot() {
  std::lock_guard guard(serverManager::lock());
  return serverManager::serversArray()->copy();
}

}  // namespace

// Both forms: the discovery socket, the search window's state, the worker, the modal run. The class form
// (the main window's toolbar) empties the list first; the worker empties it in either case.
void RunSearch(bool emptyFirst) {
  if (loop == 1) return;
  int socket = createUDPSocket();
  if (emptyFirst) {
    {
      std::lock_guard guard(serverManager::lock());
      serverManager::serversArray()->removeAllObjects();
    }
    Ui().Changed(View::kServersTable);
  }
  SetSearchState([](ServerManagerView& v) {
    v.searchProgress = true;
    v.searchStatusText.clear();
  });
  serverManager::StartWorker([socket] { serverManager::recvServers(socket); });
  Ui().RunModal(View::kSearchWindow);
  Ui().OrderOut(View::kSearchWindow);
}

void serverManager::searchServers_class(id) { RunSearch(true); }

void serverManager::searchServers(id) { RunSearch(false); }

id serverManager::stopServerSearch(id) {
  Ui().OrderOut(View::kSearchWindow);
  loop = 3;
  SetSearchState([](ServerManagerView& v) { v.searchProgress = false; });
  return nullptr;
}

void serverManager::recvServers(int socket) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(1341);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  printf("Client: binding my local socket - %d\n", socket);
  if (bsd::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    int error = errno;
    printf("Client: bind fail: %d(%s)\n", error, strerror(error));
    Ui().Alert({"ERROR:", cocoa::Format("Client: bind failed: %d(%s)\n Please RESTART the Application!!", error,
                                        strerror(error)), {"Ok"}});
    EndSearch(socket);
    pool->drain();
    return;
  }
  sockaddr_in everyone{};
  everyone.sin_family = AF_INET;
  everyone.sin_port = htons(1341);
  everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  if (bsd::sendto(socket, "Tavrin", 6, 0, reinterpret_cast<sockaddr*>(&everyone), sizeof everyone) < 0) {
    int error = errno;
    printf("client: sendto failed: %d\n", error);
    std::string text = cocoa::Format("Client: sendto failed: %d(%s)\n Try Again later!!", error, strerror(error));
    Ui().Alert({"ERROR:", text, {"Ok"}});
    ServerLog("%s", text.c_str());
    EndSearch(socket);
    pool->drain();
    return;
  }
  Ui().Changed(View::kServersTable);
  int expected = 0;
  loop.compare_exchange_strong(expected, 1);  // a stop asked for meanwhile stays asked for
  {
    std::lock_guard guard(lock());
    serversArray()->removeAllObjects();
  }
  while (loop != 3) {
    char reply[10];
    char sender[20] = {};
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = bsd::recvfrom(socket, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    int error = errno;
    snprintf(sender, sizeof sender, "%s", bsd::inet_ntoa(from.sin_addr));
    if (n < 0 || loop == 0) {
      printf("client: recv failed: %d\n", error);
      break;
    }
    if (n != 10) continue;  // shorter than a reply
    ServerNode* server = alloc<ServerNode>()->init();
    server->setRecvIpAddres(sender);
    server->setDevType(static_cast<signed char>(reply[0]));
    server->setMacAddr(reply + 1);
    server->setPwd(static_cast<signed char>(reply[7]));
    {
      std::lock_guard guard(lock());
      serversArray()->addObject(server);
    }
    server->release();
    Ui().Changed(View::kServersTable);
  }
  Ui().Changed(View::kServersTable);
  const int found = numberOfServers();
  if (found == 0) {
    ServerLog("Unable to find Servers");
    loop = 0;
    Ui().OrderOut(View::kSearchWindow);
    Ui().EndModal(View::kSearchWindow, 1);
    bsd::close(socket);
    pool->drain();
    return;
  }
  ServerLog("Found  - %d - servers", found);
  ServerLog("Retrieving All Servers Information");
  bsd::close(socket);
  printf("socket closed");
  getAllServerConfigurations_class();
  loop = 0;
  SetSearchState([](ServerManagerView& v) {
    v.retrieveProgress = false;
    v.searchProgress = false;
  });
  Ui().EndModal(View::kSearchWindow, 1);
  Ui().OrderOut(View::kSearchWindow);
  Ui().Changed(View::kServersTable);
  Ui().Changed(View::kServerLog);
  pool->drain();
}

void serverManager::getAllServerConfigurations_class() {
  SetSearchState([](ServerManagerView& v) { v.retrieveProgress = true; });
  NSArray* servers = Snapshot();
  const int n = static_cast<int>(servers->count());
  // The copies of earlier fetches go first.
  NSFileManager* files = NSFileManager::defaultManager();
  NSString* folder = NSString::stringWithStd(tavrinmac::WorkingDirectory());
  if (NSArray* names = files->directoryContentsAtPath(folder)) {
    for (NSUInteger i = 0; i < names->count(); ++i) {
      const std::string& name = static_cast<NSString*>(names->objectAtIndex(i))->str();
      if (name.rfind("TavrinFile", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
        files->removeFileAtPath_handler(NSString::stringWithFormat("%@/%s", folder, name.c_str()), nullptr);
    }
  }
  for (int i = 0; i < n; ++i) {
    auto* server = static_cast<ServerNode*>(servers->objectAtIndex(i));
    const std::string address = server->recvIpAddres();
    SetSearchState([&](ServerManagerView& v) {
      v.searchStatusText = cocoa::Format("Searching ( %d.. )\t\t\t\t\t\t\t%s", n - i, address.c_str());
    });
    server->setServerChecked(2);
    int s = createTCPSocket(address.c_str());
    if (!s) {
      int error = errno;
      printf("Client: connect failed: %d(%s)\n", error, strerror(error));
      ServerLog("GetServerConfiguration %s: [ %s ]", address.c_str(), strerror(error));
      loop = 0;
      continue;
    }
    server->setServerChecked(0);
    bool fetched;
    NSString* text = nullptr;
    serverdata* record = nullptr;
    {
      std::lock_guard exchange(exchangeLock());
      globalStatus = 0;
      Assign<NSString>(serverConfigDataGlobal, nullptr);
      set_command(4, nullptr, s, address.c_str());
      fetched = globalStatus == 1;
      Assign(text, serverConfigDataGlobal);
      record = serverDataGlobal;  // the node takes it
      serverDataGlobal = nullptr;
    }
    if (!fetched) {
      server->setServerChecked(5);
      free(record);
      Assign<NSString>(text, nullptr);
      continue;
    }
    std::string whole = text ? text->str() : std::string();
    size_t cut = whole.find("[ConnectionTable]");
    if (cut == std::string::npos) cut = whole.find("[Password]");
    {
      std::lock_guard guard(lock());
      if (cut != std::string::npos) {
        NSString* shown = NSString::stringWithStd(whole.substr(0, std::min<size_t>(cut, 1023)));
        server->setServerConfigString(shown);
        server->setServerConfigNSString(shown);
      } else {
        server->setServerConfigString(NSString::stringWithStd(whole));
        server->setServerConfigNSString(NSString::stringWithStd(whole));
      }
      server->setConfigData(record);
      server->setServerChecked(1);
    }
    Assign<NSString>(text, nullptr);
    ServerLog("Retrieved Information from %s success", address.c_str());
  }
  servers->release();
}
