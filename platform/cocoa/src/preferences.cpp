// CFPreferences over property-list files under the Mac root.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "base/files.h"
#include "cocoa/CoreFoundation.h"
#include "cocoa/mac_root.h"

namespace fs = std::filesystem;

const CFStringRef kCFPreferencesAnyApplication = CFSTR("kCFPreferencesAnyApplication");
const CFStringRef kCFPreferencesCurrentApplication = CFSTR("kCFPreferencesCurrentApplication");
const CFStringRef kCFPreferencesAnyHost = CFSTR("kCFPreferencesAnyHost");
const CFStringRef kCFPreferencesCurrentHost = CFSTR("kCFPreferencesCurrentHost");
const CFStringRef kCFPreferencesAnyUser = CFSTR("kCFPreferencesAnyUser");
const CFStringRef kCFPreferencesCurrentUser = CFSTR("kCFPreferencesCurrentUser");

namespace {

std::mutex g_mutex;
// Values set and not yet synchronised, by file and key; a null value removes the key.
std::map<std::string, std::map<std::string, NSObject*>>& Pending() {
  static auto* pending = new std::map<std::string, std::map<std::string, NSObject*>>;
  return *pending;
}

std::string CurrentUserName() {
  const char* user = getenv("USER");
  return user && *user && !strchr(user, '/') ? user : "user";
}

// The file's dictionary (retained), an empty one when the file is missing or unreadable.
NSMutableDictionary* ReadDomain(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (in) {
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    NSObject* root = cocoa::ReadPropertyList(text);
    if (auto* dict = dynamic_cast<NSDictionary*>(root)) {
      NSMutableDictionary* copy = dict->mutableCopy();
      root->release();
      return copy;
    }
    if (root) root->release();
  }
  return alloc<NSMutableDictionary>()->init();
}

bool WriteDomain(const std::string& file, NSDictionary* dict) {
  std::string text = cocoa::WritePropertyList(dict);
  if (text.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(file).parent_path(), ec);
  return tavrin::base::files::ReplaceContents(file, text) == 0;
}

}  // namespace

namespace cocoa {

std::string PreferencesFile(CFStringRef applicationID, CFStringRef userName) {
  std::string app = applicationID ? applicationID->str() : "";
  if (applicationID == kCFPreferencesCurrentApplication || app.empty()) app = ".GlobalPreferences";
  if (applicationID == kCFPreferencesAnyApplication) app = ".GlobalPreferences";
  if (app[0] == '/') return MacPath(app + ".plist").string();
  // Other identifiers are plain names: no path may be made of them.
  for (char& c : app)
    if (c == '/') c = '_';
  if (userName == kCFPreferencesAnyUser) return (MacPath("/Library/Preferences") / (app + ".plist")).string();
  std::string user = userName && userName != kCFPreferencesCurrentUser ? userName->str() : CurrentUserName();
  for (char& c : user)
    if (c == '/') c = '_';
  return (MacPath("/Users") / user / "Library/Preferences" / (app + ".plist")).string();
}

}  // namespace cocoa

CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID, CFStringRef userName,
                                         CFStringRef) {
  if (!key || !applicationID) return nullptr;
  const std::string file = cocoa::PreferencesFile(applicationID, userName);
  std::lock_guard lock(g_mutex);
  auto domain = Pending().find(file);
  if (domain != Pending().end()) {
    auto it = domain->second.find(key->str());
    if (it != domain->second.end()) return CFRetain(it->second);
  }
  NSMutableDictionary* values = ReadDomain(file);
  NSObject* value = CFRetain(values->objectForKey(key));
  values->release();
  return value;
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
  return CFPreferencesCopyValue(key, applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef) {
  if (!key || !applicationID) return;
  const std::string file = cocoa::PreferencesFile(applicationID, userName);
  // The value is kept as a copy (made through its property-list form), so that later changes of the
  // caller's object do not reach the preferences; objects that are no property list are not kept.
  NSObject* copy = nullptr;
  if (value) {
    copy = cocoa::ReadPropertyList(cocoa::WritePropertyList(value));
    if (!copy) return;
  }
  std::lock_guard lock(g_mutex);
  NSObject*& slot = Pending()[file][key->str()];
  if (slot) slot->release();
  slot = copy;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
  CFPreferencesSetValue(key, value, applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName, CFStringRef) {
  if (!applicationID) return false;
  const std::string file = cocoa::PreferencesFile(applicationID, userName);
  std::lock_guard lock(g_mutex);
  auto domain = Pending().find(file);
  if (domain == Pending().end()) return true;
  // The domain file itself is replaced by each write: the lock is a file of its own beside it.
  tavrin::base::files::FileLock fileLock(file + ".lock");
  if (!fileLock.held()) return false;
  NSMutableDictionary* values = ReadDomain(file);
  for (auto& [key, value] : domain->second) {
    NSString* k = alloc<NSString>()->initWithUTF8String(key.c_str());
    if (value) values->setObject_forKey(value, k);
    else values->removeObjectForKey(k);
    k->release();
  }
  bool written = WriteDomain(file, values);
  values->release();
  if (!written) return false;
  for (auto& [key, value] : domain->second)
    if (value) value->release();
  Pending().erase(domain);
  return true;
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) {
  return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}
