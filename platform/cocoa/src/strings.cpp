// The searching, splitting and writing parts of NSString, and NSMutableString.
#include <cstdarg>
#include <filesystem>
#include <fstream>

#include "cocoa/Foundation.h"
#include "cocoa/mac_root.h"

namespace fs = std::filesystem;

namespace {

void CheckIndex(NSUInteger index, NSUInteger limit, const char* what) {
  if (index > limit)
    throw NSException("NSRangeException", std::string(what) + ": index " + std::to_string(index) + " beyond bounds " +
                                              std::to_string(limit));
}

}  // namespace

NSRange NSString::rangeOfString(NSString* other) const {
  if (!other || other->text_.empty()) return {NSNotFound, 0};
  size_t at = text_.find(other->text_);
  if (at == std::string::npos) return {NSNotFound, 0};
  return {at, other->text_.size()};
}

NSString* NSString::substringToIndex(NSUInteger index) const {
  CheckIndex(index, text_.size(), "substringToIndex");
  return stringWithStd(text_.substr(0, index));
}

NSString* NSString::substringFromIndex(NSUInteger index) const {
  CheckIndex(index, text_.size(), "substringFromIndex");
  return stringWithStd(text_.substr(index));
}

NSString* NSString::substringWithRange(NSRange range) const {
  CheckIndex(range.location, text_.size(), "substringWithRange");
  CheckIndex(range.length, text_.size() - range.location, "substringWithRange");
  return stringWithStd(text_.substr(range.location, range.length));
}

NSArray* NSString::componentsSeparatedByString(NSString* separator) const {
  NSMutableArray* parts = NSMutableArray::array();
  if (!separator || separator->text_.empty()) {
    parts->addObject(stringWithStd(text_));
    return parts;
  }
  size_t from = 0;
  for (;;) {
    size_t at = text_.find(separator->text_, from);
    if (at == std::string::npos) break;
    parts->addObject(stringWithStd(text_.substr(from, at - from)));
    from = at + separator->text_.size();
  }
  parts->addObject(stringWithStd(text_.substr(from)));
  return parts;
}

NSString* NSString::lastPathComponent() const {
  std::string path = text_;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || path.size() == 1) return stringWithStd(path);
  return stringWithStd(path.substr(slash + 1));
}

NSString* NSString::stringByAppendingFormat(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  std::string more = cocoa::FormatV(format, args);
  va_end(args);
  return stringWithStd(text_ + more);
}

BOOL NSString::writeToFile_atomically(NSString* path, BOOL atomically) const {
  if (!path) return NO;
  fs::path target = cocoa::MacPath(path->str());
  fs::path written = atomically ? fs::path(target.string() + ".tmp") : target;
  {
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    if (!out) return NO;
    out.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    if (!out.flush()) return NO;
  }
  if (!atomically) return YES;
  std::error_code ec;
  fs::rename(written, target, ec);
  if (ec) fs::remove(written, ec);
  return ec ? NO : YES;
}

NSMutableString* NSString::mutableCopy() const {
  NSMutableString* copy = alloc<NSMutableString>()->init();
  copy->text_ = text_;
  return copy;
}

// ---- NSMutableString

NSMutableString* NSMutableString::string() {
  return static_cast<NSMutableString*>(alloc<NSMutableString>()->init()->autorelease());
}

NSMutableString* NSMutableString::stringWithCapacity(NSUInteger capacity) {
  return static_cast<NSMutableString*>(alloc<NSMutableString>()->initWithCapacity(capacity)->autorelease());
}

NSMutableString* NSMutableString::stringWithString(NSString* other) {
  NSMutableString* s = string();
  s->setString(other);
  return s;
}

NSMutableString* NSMutableString::initWithCapacity(NSUInteger capacity) {
  text_.reserve(capacity);
  return this;
}

void NSMutableString::appendString(NSString* other) {
  if (other) text_ += other->str();
}

void NSMutableString::appendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  text_ += cocoa::FormatV(format, args);
  va_end(args);
}

void NSMutableString::setString(NSString* other) { text_ = other ? other->str() : std::string(); }

void NSMutableString::deleteCharactersInRange(NSRange range) {
  CheckIndex(range.location, text_.size(), "deleteCharactersInRange");
  CheckIndex(range.length, text_.size() - range.location, "deleteCharactersInRange");
  text_.erase(range.location, range.length);
}

void NSMutableString::insertString_atIndex(NSString* other, NSUInteger index) {
  CheckIndex(index, text_.size(), "insertString_atIndex");
  if (other) text_.insert(index, other->str());
}
