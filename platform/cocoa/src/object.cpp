// NSObject, the autorelease pools, NSString, NSNumber, NSData, NSDate and the formatter.
#include <sys/time.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cocoa/Foundation.h"
#include "internal.h"

namespace {

std::atomic<long> g_live{0};

// The innermost pool of each thread.
thread_local NSAutoreleasePool* t_pool = nullptr;

}  // namespace

namespace cocoa {

long LiveObjectCount() { return g_live.load(); }

std::string FormatV(const char* format, va_list args) {
  std::string out;
  if (!format) return out;
  va_list ap;
  va_copy(ap, args);
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    if (*p == '@') {
      NSObject* object = va_arg(ap, NSObject*);
      NSString* text = object ? object->description() : nullptr;
      out += text ? text->UTF8String() : "(null)";
      ++p;
      continue;
    }
    // flags, width, precision (a '*' takes an int argument), length, conversion
    std::string spec = "%";
    while (*p && strchr("-+ #0'", *p)) spec += *p++;
    if (*p == '*') {
      spec += std::to_string(va_arg(ap, int));
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') spec += *p++;
    }
    if (*p == '.') {
      spec += *p++;
      if (*p == '*') {
        spec += std::to_string(va_arg(ap, int));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') spec += *p++;
      }
    }
    std::string length;
    while (*p && strchr("hlLqjzt", *p)) length += *p++;
    char conversion = *p;
    if (!conversion) {
      out.append(start);
      break;
    }
    ++p;
    char buffer[512];
    buffer[0] = 0;
    std::string full = spec;
    switch (conversion) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': {
        if (length == "l" || length == "q" || length == "ll" || length == "j" || length == "z" || length == "t") {
          long long v = (length == "l" || length == "z" || length == "t") ? va_arg(ap, long) : va_arg(ap, long long);
          full += "ll";
          full += conversion;
          snprintf(buffer, sizeof buffer, full.c_str(), v);
        } else {
          int v = va_arg(ap, int);
          full += length;  // h and hh narrow as printf does
          full += conversion;
          snprintf(buffer, sizeof buffer, full.c_str(), v);
        }
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
        if (length == "L") {
          long double v = va_arg(ap, long double);
          full += 'L';
          full += conversion;
          snprintf(buffer, sizeof buffer, full.c_str(), v);
        } else {
          double v = va_arg(ap, double);
          full += conversion;
          snprintf(buffer, sizeof buffer, full.c_str(), v);
        }
        break;
      }
      case 's': {
        const char* v = va_arg(ap, const char*);
        full += 's';
        // Strings may be longer than the scratch buffer: format them on their own.
        int n = snprintf(nullptr, 0, full.c_str(), v ? v : "(null)");
        if (n > 0) {
          std::string s(static_cast<size_t>(n) + 1, '\0');
          snprintf(s.data(), s.size(), full.c_str(), v ? v : "(null)");
          s.resize(static_cast<size_t>(n));
          out += s;
        }
        continue;
      }
      case 'p': {
        // Always 0x and hexadecimal digits, null included ("0x0"), as the Mac prints pointers.
        void* v = va_arg(ap, void*);
        char hex[32];
        snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(v)));
        full += 's';
        snprintf(buffer, sizeof buffer, full.c_str(), hex);
        break;
      }
      default:
        out.append(start, p);  // unknown directive: kept as written
        continue;
    }
    out += buffer;
  }
  va_end(ap);
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FormatV(format, args);
  va_end(args);
  return s;
}

double Now() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace cocoa

void NSLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = cocoa::FormatV(format, args);
  va_end(args);
  fprintf(stderr, "%s\n", line.c_str());
}

// ---- NSObject

NSObject::NSObject() { g_live.fetch_add(1); }
NSObject::~NSObject() { g_live.fetch_sub(1); }

NSObject* NSObject::retain() {
  retainCount_.fetch_add(1);
  return this;
}

void NSObject::release() {
  unsigned long before = retainCount_.fetch_sub(1);
  if (before == 0) {
    fprintf(stderr, "cocoa: release of a deallocated %s\n", className());
    abort();
  }
  if (before == 1) dealloc();
}

NSObject* NSObject::autorelease() {
  NSAutoreleasePool::addObject_class(this);
  return this;
}

void NSObject::dealloc() { delete this; }

NSString* NSObject::description() { return NSString::stringWithFormat("<%s: %p>", className(), this); }

// ---- NSAutoreleasePool

NSAutoreleasePool* NSAutoreleasePool::init() {
  outer_ = t_pool;
  t_pool = this;
  pushed_ = true;
  return this;
}

void NSAutoreleasePool::addObject_class(NSObject* object) {
  if (!t_pool) {
    fprintf(stderr, "cocoa: %s %p autoreleased with no pool in place - just leaking\n", object->className(),
            static_cast<void*>(object));
    return;
  }
  t_pool->objects_.push_back(object);
}

void NSAutoreleasePool::Pop() {
  if (!pushed_) return;
  // Pools made inside this one and not yet released go with it.
  while (t_pool && t_pool != this) t_pool->release();
  // Releasing may autorelease more objects into this pool: keep going until it stays empty.
  while (!objects_.empty()) {
    std::vector<NSObject*> batch;
    batch.swap(objects_);
    for (NSObject* object : batch) object->release();
  }
  t_pool = outer_;
  pushed_ = false;
}

void NSAutoreleasePool::drain() { release(); }

void NSAutoreleasePool::dealloc() {
  Pop();
  NSObject::dealloc();
}

// ---- NSString

NSString* NSString::initWithUTF8String(const char* text) {
  text_ = text ? text : "";
  return this;
}

NSString* NSString::initWithBytes_length(const void* bytes, NSUInteger length) {
  text_.assign(static_cast<const char*>(bytes), length);
  return this;
}

NSString* NSString::initWithFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  text_ = cocoa::FormatV(format, args);
  va_end(args);
  return this;
}

NSString* NSString::initWithString(NSString* other) {
  if (other) text_ = other->text_;
  return this;
}

NSString* NSString::string() { return static_cast<NSString*>(alloc<NSString>()->init()->autorelease()); }

NSString* NSString::stringWithUTF8String(const char* text) {
  if (!text) return nullptr;
  return static_cast<NSString*>(alloc<NSString>()->initWithUTF8String(text)->autorelease());
}

NSString* NSString::stringWithString(NSString* other) {
  return static_cast<NSString*>(alloc<NSString>()->initWithString(other)->autorelease());
}

NSString* NSString::stringWithFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  NSString* s = alloc<NSString>();
  s->text_ = cocoa::FormatV(format, args);
  va_end(args);
  return static_cast<NSString*>(s->autorelease());
}

NSString* NSString::stringWithStd(std::string text) {
  NSString* s = alloc<NSString>();
  s->text_ = std::move(text);
  return static_cast<NSString*>(s->autorelease());
}

BOOL NSString::getCString_maxLength(char* buffer, NSUInteger maxLength) const {
  if (!buffer || maxLength == 0) return NO;
  if (text_.size() + 1 > maxLength) {
    buffer[0] = 0;
    return NO;
  }
  memcpy(buffer, text_.c_str(), text_.size() + 1);
  return YES;
}

int NSString::intValue() const { return static_cast<int>(strtol(text_.c_str(), nullptr, 10)); }

NSString* NSString::stringByAppendingString(NSString* other) const {
  return stringWithStd(text_ + (other ? other->text_ : std::string()));
}

BOOL NSString::hasPrefix(NSString* prefix) const {
  return prefix && text_.compare(0, prefix->text_.size(), prefix->text_) == 0 ? YES : NO;
}

NSString* NSString::stringByTrimmingCharactersInSet(NSCharacterSet* set) const {
  if (!set) return stringWithStd(text_);
  size_t begin = 0, end = text_.size();
  while (begin < end && set->characterIsMember(text_[begin])) ++begin;
  while (end > begin && set->characterIsMember(text_[end - 1])) --end;
  return stringWithStd(text_.substr(begin, end - begin));
}

NSCharacterSet* NSCharacterSet::whitespaceCharacterSet() {
  static NSCharacterSet* set = [] {
    NSCharacterSet* s = alloc<NSCharacterSet>();
    s->members_ = " \t";
    return s;
  }();
  return set;
}

NSCharacterSet* NSCharacterSet::whitespaceAndNewlineCharacterSet() {
  static NSCharacterSet* set = [] {
    NSCharacterSet* s = alloc<NSCharacterSet>();
    s->members_ = " \t\n\r\v\f";
    return s;
  }();
  return set;
}

bool NSCharacterSet::characterIsMember(char c) const { return c && members_.find(c) != std::string::npos; }

bool NSString::isEqual(NSObject* other) {
  auto* s = dynamic_cast<NSString*>(other);
  return s && s->text_ == text_;
}

// ---- NSNumber

NSNumber* NSNumber::initWithInt(int value) { return initWithLongLong(value); }
NSNumber* NSNumber::initWithLongLong(long long value) {
  kind_ = Kind::kInteger;
  integer_ = value;
  return this;
}
NSNumber* NSNumber::initWithDouble(double value) {
  kind_ = Kind::kReal;
  real_ = value;
  return this;
}
NSNumber* NSNumber::initWithBool(BOOL value) {
  kind_ = Kind::kBool;
  integer_ = value ? 1 : 0;
  return this;
}
NSNumber* NSNumber::numberWithInt(int value) {
  return static_cast<NSNumber*>(alloc<NSNumber>()->initWithInt(value)->autorelease());
}
NSNumber* NSNumber::numberWithUnsignedInt(unsigned value) {
  return static_cast<NSNumber*>(alloc<NSNumber>()->initWithLongLong(value)->autorelease());
}
NSNumber* NSNumber::numberWithLongLong(long long value) {
  return static_cast<NSNumber*>(alloc<NSNumber>()->initWithLongLong(value)->autorelease());
}
NSNumber* NSNumber::numberWithDouble(double value) {
  return static_cast<NSNumber*>(alloc<NSNumber>()->initWithDouble(value)->autorelease());
}
NSNumber* NSNumber::numberWithBool(BOOL value) {
  return static_cast<NSNumber*>(alloc<NSNumber>()->initWithBool(value)->autorelease());
}

BOOL NSNumber::isEqualToNumber(NSNumber* other) const {
  if (!other) return NO;
  if (kind_ == Kind::kReal || other->kind_ == Kind::kReal) {
    double a = doubleValue(), b = other->doubleValue();
    return a == b || (std::isnan(a) && std::isnan(b));  // a value read back equals itself
  }
  return integer_ == other->integer_;
}

NSString* NSNumber::description() {
  if (kind_ == Kind::kReal) return NSString::stringWithFormat("%g", real_);
  return NSString::stringWithFormat("%lld", integer_);
}

bool NSNumber::isEqual(NSObject* other) {
  auto* n = dynamic_cast<NSNumber*>(other);
  return n && isEqualToNumber(n);
}

// ---- NSData

NSData* NSData::initWithBytes_length(const void* bytes, NSUInteger length) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  if (b && length) bytes_.assign(b, b + length);
  return this;
}
NSData* NSData::dataWithBytes_length(const void* bytes, NSUInteger length) {
  return static_cast<NSData*>(alloc<NSData>()->initWithBytes_length(bytes, length)->autorelease());
}
bool NSData::isEqual(NSObject* other) {
  auto* d = dynamic_cast<NSData*>(other);
  return d && d->bytes_ == bytes_;
}

// ---- NSDate

NSDate* NSDate::init() { return initWithTimeIntervalSinceNow(0); }
NSDate* NSDate::initWithTimeIntervalSinceNow(NSTimeInterval seconds) {
  seconds_ = cocoa::Now() + seconds;
  return this;
}
NSDate* NSDate::date() { return static_cast<NSDate*>(alloc<NSDate>()->init()->autorelease()); }
NSDate* NSDate::dateWithTimeIntervalSinceNow(NSTimeInterval seconds) {
  return static_cast<NSDate*>(alloc<NSDate>()->initWithTimeIntervalSinceNow(seconds)->autorelease());
}
NSDate* NSDate::distantFuture() {
  NSDate* d = alloc<NSDate>();
  d->seconds_ = 64092211200.0;  // year 4001
  return static_cast<NSDate*>(d->autorelease());
}
NSTimeInterval NSDate::timeIntervalSinceNow() const { return seconds_ - cocoa::Now(); }

NSString* NSDate::description() {
  time_t t = static_cast<time_t>(seconds_);
  tm parts;
  gmtime_r(&t, &parts);
  char text[64];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
  return NSString::stringWithUTF8String(text);
}

bool NSDate::isEqual(NSObject* other) {
  auto* d = dynamic_cast<NSDate*>(other);
  return d && d->seconds_ == seconds_;
}
