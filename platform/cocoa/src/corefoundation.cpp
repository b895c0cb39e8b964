// Core Foundation over the Foundation objects.
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "cocoa/CoreFoundation.h"

const CFArrayCallBacks kCFTypeArrayCallBacks = {0};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0};

const CFBooleanRef kCFBooleanTrue = alloc<NSNumber>()->initWithBool(YES);
const CFBooleanRef kCFBooleanFalse = alloc<NSNumber>()->initWithBool(NO);

CFStringRef __CFStringMakeConstantString(const char* text) {
  static std::mutex mutex;
  static auto* strings = new std::map<std::string, NSString*>;
  std::lock_guard lock(mutex);
  NSString*& s = (*strings)[text];
  if (!s) s = alloc<NSString>()->initWithUTF8String(text);
  return s;
}

CFTypeRef CFRetain(CFTypeRef object) {
  if (object) object->retain();
  return object;
}

void CFRelease(CFTypeRef object) {
  if (object) object->release();
}

CFIndex CFGetRetainCount(CFTypeRef object) { return object ? static_cast<CFIndex>(object->retainCount()) : 0; }

enum : CFTypeID { kOther = 1, kString = 7, kBoolean = 21, kNumber = 22, kArray = 19, kDictionary = 18, kData = 20 };

CFTypeID CFGetTypeID(CFTypeRef object) {
  if (dynamic_cast<NSString*>(object)) return kString;
  if (auto* n = dynamic_cast<NSNumber*>(object)) return n->isBoolean() ? kBoolean : kNumber;
  if (dynamic_cast<NSArray*>(object)) return kArray;
  if (dynamic_cast<NSDictionary*>(object)) return kDictionary;
  if (dynamic_cast<NSData*>(object)) return kData;
  return kOther;
}
CFTypeID CFStringGetTypeID() { return kString; }
CFTypeID CFNumberGetTypeID() { return kNumber; }
CFTypeID CFBooleanGetTypeID() { return kBoolean; }
CFTypeID CFArrayGetTypeID() { return kArray; }
CFTypeID CFDictionaryGetTypeID() { return kDictionary; }
CFTypeID CFDataGetTypeID() { return kData; }

Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return a == b || (a && b && a->isEqual(b)); }

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding) {
  if (!text) return nullptr;
  return alloc<NSString>()->initWithUTF8String(text);
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (!string || !buffer || bufferSize <= 0) return false;
  const std::string& text = string->str();
  if (encoding == kCFStringEncodingASCII) {
    for (unsigned char c : text)
      if (c >= 0x80) return false;
  }
  if (static_cast<CFIndex>(text.size()) + 1 > bufferSize) return false;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

CFIndex CFStringGetLength(CFStringRef string) { return string ? static_cast<CFIndex>(string->length()) : 0; }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value) {
  if (!value) return nullptr;
  switch (type) {
    case kCFNumberSInt8Type: case kCFNumberCharType:
      return alloc<NSNumber>()->initWithLongLong(*static_cast<const int8_t*>(value));
    case kCFNumberSInt16Type: case kCFNumberShortType:
      return alloc<NSNumber>()->initWithLongLong(*static_cast<const int16_t*>(value));
    case kCFNumberSInt32Type: case kCFNumberIntType:
      return alloc<NSNumber>()->initWithLongLong(*static_cast<const int32_t*>(value));
    case kCFNumberSInt64Type: case kCFNumberLongType: case kCFNumberLongLongType:
      return alloc<NSNumber>()->initWithLongLong(*static_cast<const int64_t*>(value));
    case kCFNumberFloat64Type: case kCFNumberDoubleType:
      return alloc<NSNumber>()->initWithDouble(*static_cast<const double*>(value));
  }
  return nullptr;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value) {
  if (!number || !value) return false;
  long long v = number->longLongValue();
  switch (type) {
    case kCFNumberSInt8Type: case kCFNumberCharType:
      *static_cast<int8_t*>(value) = static_cast<int8_t>(v);
      return v >= INT8_MIN && v <= INT8_MAX;
    case kCFNumberSInt16Type: case kCFNumberShortType:
      *static_cast<int16_t*>(value) = static_cast<int16_t>(v);
      return v >= INT16_MIN && v <= INT16_MAX;
    case kCFNumberSInt32Type: case kCFNumberIntType:
      *static_cast<int32_t*>(value) = static_cast<int32_t>(v);
      return v >= INT32_MIN && v <= INT32_MAX;
    case kCFNumberSInt64Type: case kCFNumberLongType: case kCFNumberLongLongType:
      *static_cast<int64_t*>(value) = v;
      return true;
    case kCFNumberFloat64Type: case kCFNumberDoubleType:
      *static_cast<double*>(value) = number->doubleValue();
      return true;
  }
  return false;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean && boolean->boolValue(); }

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks*) {
  return alloc<NSMutableArray>()->initWithCapacity(capacity > 0 ? static_cast<NSUInteger>(capacity) : 0);
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex, CFArrayRef array) {
  return alloc<NSMutableArray>()->initWithArray(array);
}

CFIndex CFArrayGetCount(CFArrayRef array) { return array ? static_cast<CFIndex>(array->count()) : 0; }

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  return array->objectAtIndex(static_cast<NSUInteger>(index));
}

void CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
  array->addObject(static_cast<NSObject*>(const_cast<void*>(value)));
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index) {
  array->removeObjectAtIndex(static_cast<NSUInteger>(index));
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*) {
  return alloc<NSMutableDictionary>()->init();
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex, CFDictionaryRef dictionary) {
  NSMutableDictionary* d = alloc<NSMutableDictionary>()->init();
  d->addEntriesFromDictionary(dictionary);
  return d;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) {
  return dictionary ? static_cast<CFIndex>(dictionary->count()) : 0;
}

const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key) {
  return dictionary ? dictionary->objectForKey(static_cast<NSObject*>(const_cast<void*>(key))) : nullptr;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key) {
  return CFDictionaryGetValue(dictionary, key) != nullptr;
}

void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
  dictionary->setObject_forKey(static_cast<NSObject*>(const_cast<void*>(value)),
                               static_cast<NSObject*>(const_cast<void*>(key)));
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key) {
  dictionary->removeObjectForKey(static_cast<NSObject*>(const_cast<void*>(key)));
}
