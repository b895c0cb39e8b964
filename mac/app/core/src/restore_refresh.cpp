// Factory restore (command 1) and the refresh of a server's connected clients (command 6).
#include <cctype>
#include <cstring>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"

namespace {
using tavrinmac::ServerLog;
using tavrinmac::Ui;
using tavrinmac::View;
constexpr int kTableEntries = 16;
}  // namespace

void serverManager::restoreFactorySettings(id) {
  ServerNode* server = selectedServer();
  if (!server) return;
  const std::string address = server->recvIpAddres();
  if (server->clientsChecked() == 2) {
    server->release();
    return ServerLog("%s:Restore Failed", address.c_str());
  }
  if (Ui().Alert({"Pelko Admin", "Restore Factory Settings", {"Ok", "Cancel"}}) != 0) {
    server->release();
    return;
  }
  StartWorker([server] {
    restoreThread(server);
    server->release();
  });
}

void serverManager::restoreThread(ServerNode* server) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  const std::string address = server->recvIpAddres();
  int s = createTCPSocket(address.c_str());
  server->setClientChecked(2);
  if (!s) {
    ServerLog(" %s Restore Failed by Network", address.c_str());
  } else {
    {
      std::lock_guard exchange(exchangeLock());
      set_command(1, nullptr, s, address.c_str());
    }
    server->setClientChecked(1);
  }
  pool->drain();
}

void serverManager::refreshClientsMenuAction(id) {
  ServerNode* server = selectedServer();
  if (!server) return;
  if (server->clientsChecked() == 2) {
    server->release();
    {
      std::lock_guard guard(lock());
      view().clientsText = "Unable to Retrieve Information";
    }
    Ui().Changed(View::kServerDetails);
    return;
  }
  StartWorker([server] {
    refreshClientsThread(server);
    server->release();
  });
}

int serverManager::get_cTable(int start, const char* table, conn_table* entries) {
  devcount = 0;
  if (!table) return start;
  const int length = static_cast<int>(strlen(table));
  int at = start < 0 ? 0 : start;
  while (at < length && table[at] != ']') ++at;  // the end of the section header
  int pairs = 0;
  bool havePort = false;
  while (at < length && table[at] != '[') {
    if (table[at] != '=') {
      ++at;
      continue;
    }
    int end = ++at;
    while (end < length && table[end] != '\n' && table[end] != '\r') ++end;
    if (!havePort) {
      if (pairs < kTableEntries && entries) entries[pairs].port_no = atoi(std::string(table + at, end - at).c_str());
      havePort = true;
    } else {
      if (pairs < kTableEntries && entries) CopyField(entries[pairs].client_ip, table + at, static_cast<size_t>(end - at));
      havePort = false;
      ++pairs;  // pairs past the table's room are not kept
    }
    at = end;
  }
  devcount = pairs < kTableEntries ? pairs : kTableEntries;
  return at;
}

void serverManager::refreshClientsThread(ServerNode* server) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  const std::string address = server->recvIpAddres();
  server->setClientChecked(2);
  int s = createTCPSocket(address.c_str());
  if (!s) {
    ServerLog("%s: Refresh Failed", address.c_str());
    pool->drain();
    return;
  }
  server->setClientChecked(1);
  conn_table entries[kTableEntries] = {};
  int count;
  {
    std::lock_guard exchange(exchangeLock());
    memset(cTableGlobal, 0, sizeof cTableGlobal);
    set_command(6, nullptr, s, address.c_str());
    get_cTable(0, cTableGlobal, entries);
    count = devcount;
  }
  server->setClientCount(count);
  NSMutableArray* clients = alloc<NSMutableArray>()->init();
  std::string text;
  for (int i = 0; i < count; ++i) {
    ConnectedClientsNode* client = alloc<ConnectedClientsNode>()->init();
    client->setClientPortNum(entries[i].port_no);
    client->setClientAddres(NSString::stringWithUTF8String(entries[i].client_ip));
    clients->addObject(client);
    client->release();
    std::string line = cocoa::Format("%s  ::  %d\n", entries[i].client_ip, entries[i].port_no);
    if (text.size() + line.size() <= 1000) text += line;
  }
  {
    std::lock_guard guard(lock());
    server->setClientsArray(clients);
    view().clientsText = text;
  }
  clients->release();
  Ui().Changed(View::kServerDetails);
  pool->drain();
}
