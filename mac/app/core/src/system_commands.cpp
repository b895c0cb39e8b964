#include "TavrinMac/system_commands.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

#include "cocoa/Foundation.h"

namespace tavrinmac {
namespace {

std::mutex g_mutex;
std::map<std::string, ServiceHandler> g_services;
std::string g_home = "/private/var/root";
std::atomic<int> g_pauseMs{1000};

bool CopyReplacing(const std::string& source, const std::string& folder, const std::string& name) {
  NSFileManager* files = NSFileManager::defaultManager();
  NSString* target = NSString::stringWithFormat("%s/%s", folder.c_str(), name.c_str());
  files->createDirectoryAtPath_attributes(NSString::stringWithStd(folder), nullptr);
  files->removeFileAtPath_handler(target, nullptr);  // an older image of that name must not be served
  return files->copyPath_toPath_handler(NSString::stringWithStd(source), target, nullptr) == YES;
}

}  // namespace

bool CopyIntoTftpRoot(const std::string& source, const std::string& name) {
  return CopyReplacing(source, kTftpRoot, name);
}

bool CopyToDesktop(const std::string& source) {
  return CopyReplacing(source, HomeDirectory() + "/Desktop", NSString::stringWithStd(source)->lastPathComponent()->str());
}

void SetHomeDirectory(const std::string& macPath) {
  std::lock_guard lock(g_mutex);
  g_home = macPath;
}

std::string HomeDirectory() {
  std::lock_guard lock(g_mutex);
  return g_home;
}

bool MakeReadableByAll(const std::string& macPath) {
  NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
  attributes->setObject_forKey(NSNumber::numberWithInt(0777), NSFilePosixPermissions);
  return NSFileManager::defaultManager()->changeFileAttributes_atPath(attributes, NSString::stringWithStd(macPath)) == YES;
}

void SetServiceHandler(const std::string& name, ServiceHandler handler) {
  std::lock_guard lock(g_mutex);
  if (handler) g_services[name] = std::move(handler);
  else g_services.erase(name);
}

bool ServiceCommand(const std::string& name, const std::string& action) {
  ServiceHandler handler;
  {
    std::lock_guard lock(g_mutex);
    if (auto it = g_services.find(name); it != g_services.end()) handler = it->second;
  }
  if (!handler) {
    printf("service %s %s: no such service\n", name.c_str(), action.c_str());
    return false;
  }
  return handler(action);
}

void SetServiceRestartPauseMs(int ms) { g_pauseMs = ms; }
int ServiceRestartPauseMs() { return g_pauseMs; }

}  // namespace tavrinmac
