// The Mac root in the sysroot and NSFileManager.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/sysroot.h"
#include "cocoa/Foundation.h"
#include "cocoa/mac_root.h"

namespace fs = std::filesystem;

namespace cocoa {

fs::path MacRoot() { return tavrin::base::sysroot::Dir("Mac"); }

fs::path RunDir() { return tavrin::base::sysroot::RunDir(); }

fs::path MacPath(const std::string& macPath) { return tavrin::base::sysroot::MapBelow(MacRoot(), macPath, "/", false); }

}  // namespace cocoa

namespace {

fs::path PathOf(NSString* path) { return cocoa::MacPath(path ? path->str() : std::string()); }

}  // namespace

NSFileManager* NSFileManager::defaultManager() {
  static NSFileManager* manager = alloc<NSFileManager>();
  return manager;
}

BOOL NSFileManager::fileExistsAtPath(NSString* path) {
  std::error_code ec;
  return path && fs::exists(PathOf(path), ec) ? YES : NO;
}

BOOL NSFileManager::fileExistsAtPath_isDirectory(NSString* path, BOOL* isDirectory) {
  std::error_code ec;
  fs::path p = PathOf(path);
  bool exists = path && fs::exists(p, ec);
  if (isDirectory) *isDirectory = exists && fs::is_directory(p, ec) ? YES : NO;
  return exists ? YES : NO;
}

BOOL NSFileManager::createDirectoryAtPath_attributes(NSString* path, NSDictionary*) {
  if (!path) return NO;
  std::error_code ec;
  fs::create_directories(PathOf(path), ec);
  return fs::is_directory(PathOf(path), ec) ? YES : NO;
}

BOOL NSFileManager::createFileAtPath_contents_attributes(NSString* path, NSData* contents, NSDictionary*) {
  if (!path) return NO;
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!out) return NO;
  if (contents) out.write(static_cast<const char*>(contents->bytes()), static_cast<long>(contents->length()));
  return out.good() ? YES : NO;
}

NSData* NSFileManager::contentsAtPath(NSString* path) {
  if (!path) return nullptr;
  std::error_code ec;
  fs::path p = PathOf(path);
  if (!fs::is_regular_file(p, ec)) return nullptr;
  std::ifstream in(p, std::ios::binary);
  if (!in) return nullptr;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return NSData::dataWithBytes_length(bytes.data(), bytes.size());
}

BOOL NSFileManager::removeFileAtPath_handler(NSString* path, id) {
  if (!path) return NO;
  std::error_code ec;
  return fs::remove_all(PathOf(path), ec) > 0 && !ec ? YES : NO;
}

BOOL NSFileManager::copyPath_toPath_handler(NSString* source, NSString* destination, id) {
  if (!source || !destination) return NO;
  std::error_code ec;
  fs::copy(PathOf(source), PathOf(destination), fs::copy_options::recursive, ec);
  return ec ? NO : YES;
}

NSArray* NSFileManager::directoryContentsAtPath(NSString* path) {
  if (!path) return nullptr;
  std::error_code ec;
  fs::directory_iterator it(PathOf(path), ec);
  if (ec) return nullptr;
  std::vector<std::string> names;
  for (const auto& entry : it) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  NSMutableArray* out = NSMutableArray::array();
  for (const auto& name : names) out->addObject(NSString::stringWithStd(name));
  return out;
}

NSString* const NSFilePosixPermissions =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSFilePosixPermissions"));

BOOL NSFileManager::changeFileAttributes_atPath(NSDictionary* attributes, NSString* path) {
  if (!attributes || !path) return NO;
  std::error_code ec;
  fs::path p = PathOf(path);
  if (!fs::exists(p, ec)) return NO;
  if (auto* mode = static_cast<NSNumber*>(attributes->objectForKey(NSFilePosixPermissions))) {
    fs::permissions(p, static_cast<fs::perms>(mode->intValue() & 07777), fs::perm_options::replace, ec);
    if (ec) return NO;
  }
  return YES;
}
