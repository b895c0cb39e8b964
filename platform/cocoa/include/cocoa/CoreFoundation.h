// The Core Foundation calls the Mac side uses. CF types are the Foundation objects themselves
// (CFStringRef is an NSString*, CFArrayRef an NSArray*, ...), so CFRetain/CFRelease are retain/release
// and a Create or Copy call hands the caller one reference to release.
//
// Preferences live in property-list files (XML) under the Mac root of the sysroot: an application
// identifier that is an absolute path names its file directly ("/private/var/root/loginwindow" ->
// <Mac root>/private/var/root/loginwindow.plist); other identifiers live in Library/Preferences of the
// user (current user) or of the machine (any user). Set changes this process's pending values;
// Synchronize writes them into the file (read-modify-write under a file lock, replaced atomically) so
// that other processes see them. Copy answers a pending value, else the file's.
#pragma once
#include <cstdint>
#include <string>

#include "cocoa/Foundation.h"

using Boolean = unsigned char;
using CFIndex = long;
using CFTypeID = unsigned long;
using CFTypeRef = NSObject*;
using CFStringRef = NSString*;
using CFArrayRef = NSArray*;
using CFMutableArrayRef = NSMutableArray*;
using CFDictionaryRef = NSDictionary*;
using CFMutableDictionaryRef = NSMutableDictionary*;
using CFNumberRef = NSNumber*;
using CFBooleanRef = NSNumber*;
using CFDataRef = NSData*;
using CFAllocatorRef = void*;
using CFStringEncoding = uint32_t;
using CFPropertyListRef = NSObject*;

inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
inline constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;
inline constexpr CFStringEncoding kCFStringEncodingASCII = 0x0600;
inline constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;

enum CFNumberType : int {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberDoubleType = 13,
};

// Callbacks are accepted for their shape only: collections always retain what they hold.
struct CFArrayCallBacks {
  int version;
};
struct CFDictionaryKeyCallBacks {
  int version;
};
struct CFDictionaryValueCallBacks {
  int version;
};
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

// A constant string that is never freed (one object per text).
CFStringRef __CFStringMakeConstantString(const char* text);
#define CFSTR(text) __CFStringMakeConstantString("" text "")

CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFTypeID CFStringGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFBooleanGetTypeID();
CFTypeID CFArrayGetTypeID();
CFTypeID CFDictionaryGetTypeID();
CFTypeID CFDataGetTypeID();
Boolean CFEqual(CFTypeRef a, CFTypeRef b);

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
// Copies the text and a terminator; false (and nothing usable) when it does not fit, or when ASCII was
// asked for and the text holds other bytes.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef string);

CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType type, const void* value);
// False when the value does not fit the type (the stored value is then cut).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);
Boolean CFBooleanGetValue(CFBooleanRef boolean);

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity, const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity, CFArrayRef array);
CFIndex CFArrayGetCount(CFArrayRef array);
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index);

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                                     CFDictionaryRef dictionary);
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);
const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key);
Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key);
void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key);

// ---- preferences

extern const CFStringRef kCFPreferencesAnyApplication;
extern const CFStringRef kCFPreferencesCurrentApplication;
extern const CFStringRef kCFPreferencesAnyHost;
extern const CFStringRef kCFPreferencesCurrentHost;
extern const CFStringRef kCFPreferencesAnyUser;
extern const CFStringRef kCFPreferencesCurrentUser;

CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID, CFStringRef userName,
                                         CFStringRef hostName);
CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
// A null value removes the key.
void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef hostName);
void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID);
Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);

namespace cocoa {

// The file that holds the preferences of that identifier for that user (CF constants or a name).
std::string PreferencesFile(CFStringRef applicationID, CFStringRef userName);

// Property lists as XML text (dictionaries, arrays, strings, integers, reals, booleans, data as base64).
std::string WritePropertyList(CFPropertyListRef root);
// Null for text that is not a property list of those types; at most 64 levels deep. Retained.
CFPropertyListRef ReadPropertyList(const std::string& text);

}  // namespace cocoa
