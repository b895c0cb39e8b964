// The server manager's program-wide state, its tables, the choice of a server, its log and its workers.
#include "TavrinMac/serverManager.h"

#include <cstdarg>
#include <cstdio>

std::atomic<int> loop{0};
std::atomic<char> searchGlobal{1}, configGlobal{0}, upgradeGlobal{0};
int devcount = 0;

namespace {

using tavrinmac::Ui;
using tavrinmac::View;

NSMutableArray* g_servers = nullptr;
NSMutableArray* g_logs = nullptr;
int g_selectedRow = -1;

tavrinmac::Workers g_workers;

void MakeLists() {
  std::lock_guard guard(serverManager::lock());
  if (!g_servers) g_servers = alloc<NSMutableArray>()->init();
  if (!g_logs) g_logs = alloc<NSMutableArray>()->init();
}

}  // namespace

serverManager* serverManager::init() {
  MakeLists();
  return this;
}

void serverManager::awakeFromNib() {
  MakeLists();
  globalStatus = 0;
  {
    std::lock_guard guard(lock());
    ServerManagerView& v = view();
    v.searchItems = true;
    v.unlockItems = v.configItems = v.upgradeItems = v.restoreItems = v.refreshItem = false;
  }
  searchGlobal = 1;
  configGlobal = upgradeGlobal = 0;
  loop = 0;
  Ui().Changed(View::kServerItems);
  Ui().Changed(View::kToolbar);
}

void serverManager::dealloc() { NSObject::dealloc(); }

NSMutableArray* serverManager::serversArray() {
  MakeLists();
  return g_servers;
}

NSMutableArray* serverManager::logsArray() {
  MakeLists();
  return g_logs;
}

std::recursive_mutex& serverManager::lock() {
  static std::recursive_mutex mutex;
  return mutex;
}

ServerManagerView& serverManager::view() {
  static ServerManagerView v;
  return v;
}

ConfigForm& serverManager::form() {
  static ConfigForm f;
  return f;
}

void serverManager::setSelectedRow(int row) {
  std::lock_guard guard(lock());
  g_selectedRow = row;
}

int serverManager::selectedRow() {
  std::lock_guard guard(lock());
  return g_selectedRow;
}

ServerNode* serverManager::selectedServer() {
  std::lock_guard guard(lock());
  NSMutableArray* servers = serversArray();
  if (g_selectedRow < 0 || static_cast<NSUInteger>(g_selectedRow) >= servers->count()) return nullptr;
  return static_cast<ServerNode*>(servers->objectAtIndex(g_selectedRow)->retain());
}

int serverManager::numberOfServers() {
  std::lock_guard guard(lock());
  return static_cast<int>(serversArray()->count());
}

std::string serverManager::serverCellText(const std::string& column, int row) {
  std::lock_guard guard(lock());
  NSMutableArray* servers = serversArray();
  if (row < 0 || static_cast<NSUInteger>(row) >= servers->count()) return {};
  auto* s = static_cast<ServerNode*>(servers->objectAtIndex(row));
  if (column == "0") return std::to_string(row);
  if (column == "1") return cocoa::Format("Zarnet - %d", s->devType());
  if (column == "2") {
    if (serverdata* d = s->getConfigurationData()) return d->mac_addr;
    const unsigned char* m = s->macAddress();
    return cocoa::Format("%x:%x:%x:%x:%x:%x", m[0], m[1], m[2], m[3], m[4], m[5]);
  }
  if (column == "3") return s->recvIpAddres();
  if (column == "4") return s->passwordSet() == 1 ? "Locked" : "Unlocked";
  return "-----";
}

int serverManager::numberOfLogLines() {
  std::lock_guard guard(lock());
  return static_cast<int>(logsArray()->count());
}

std::string serverManager::logCellText(const std::string& column, int row) {
  std::lock_guard guard(lock());
  NSMutableArray* lines = logsArray();
  if (row < 0 || static_cast<NSUInteger>(row) >= lines->count()) return {};
  auto* line = static_cast<logs*>(lines->objectAtIndex(row));
  if (column == "0") return std::to_string(line->sno());
  if (column == "1") return line->entryDate()->description()->str();
  if (column == "2") return line->description()->str();
  return "logtable";
}

void serverManager::serversTableClick(id) {
  ServerNode* server = selectedServer();
  {
    std::lock_guard guard(lock());
    ServerManagerView& v = view();
    v.statusText.clear();
    v.clientsText.clear();
    if (!server) {
      v.refreshItem = v.unlockItems = v.configItems = v.upgradeItems = v.restoreItems = false;
      v.checkingShown = false;
      v.checkingText.clear();
      configGlobal = upgradeGlobal = 0;
    } else {
      v.refreshItem = true;
      const bool locked = server->passwordSet() == 1;
      v.unlockItems = locked;
      v.configItems = v.upgradeItems = v.restoreItems = !locked;
      configGlobal = upgradeGlobal = locked ? 0 : 1;
      switch (server->serverChecked()) {
        case 0: v.statusText = "\nPlease Wait..."; break;
        case 5: v.statusText = "\nUnable to Retrieve Information.\nSearch Again.\n"; break;
        default:
          v.statusText = server->getConfigurationData() ? server->serverConfigString() : "Unable to Retrieve Information.\n";
          break;
      }
      if (server->clientsChecked() == 2) {
        v.statusText = "Unable to Retrieve Information.\n";
      } else if (server->clientsChecked() == 0) {
        v.checkingText = "Please Wait..";
      }
      v.checkingShown = false;
    }
  }
  if (server) server->release();
  Ui().Changed(View::kServerItems);
  Ui().Changed(View::kServerDetails);
  Ui().Changed(View::kServersTable);
  Ui().Changed(View::kToolbar);
}

void serverManager::logsTable(NSString*, NSString* description) {
  {
    std::lock_guard guard(lock());
    NSMutableArray* lines = logsArray();
    logs* line = alloc<logs>()->init();
    line->setSno(static_cast<int>(lines->count()));
    line->setDescription(description ? description : NSString::string());
    lines->addObject(line);
    line->release();
  }
  Ui().Changed(View::kServerLog);
}

namespace tavrinmac {
void ServerLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = cocoa::FormatV(format, args);
  va_end(args);
  NSString* line = alloc<NSString>()->initWithUTF8String(text.c_str());
  serverManager::logsTable(nullptr, line);
  line->release();
}
}  // namespace tavrinmac

void serverManager::clearMenuAction(id) {
  {
    std::lock_guard guard(lock());
    if (logsArray()->count() == 0) return;
    logsArray()->removeAllObjects();
  }
  Ui().Changed(View::kServerLog);
}

void serverManager::saveMenuAction(id) {
  std::string path = Ui().ChooseSaveFile("Save DeviceMapping Log File", "txt");
  if (path.empty()) return;
  NSMutableString* text = NSMutableString::string();
  text->appendString(NSString::stringWithUTF8String("S.no\tDate & Time\t\t\tDescription\n"));
  text->appendString(NSString::stringWithUTF8String("====\t===========\t\t\t===========\n"));
  {
    std::lock_guard guard(lock());
    NSMutableArray* lines = logsArray();
    for (NSUInteger i = 0; i < lines->count(); ++i) {
      auto* line = static_cast<logs*>(lines->objectAtIndex(i));
      text->appendFormat("%d)\t%s\t%s\n", line->sno() + 1, line->entryDate()->description()->UTF8String(),
                         line->description()->UTF8String());
    }
  }
  text->appendString(NSString::stringWithUTF8String("----\t-----------\t\t\t----------------------------------\n"));
  text->writeToFile_atomically(NSString::stringWithStd(path), NO);  // an unwritable file gets nothing
}

void serverManager::StartWorker(std::function<void()> body) { g_workers.Start(std::move(body)); }

void serverManager::joinWorkers() { g_workers.Join(); }
