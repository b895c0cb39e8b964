#include "PelkoFramework/AutoconnectEntry.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "cocoa/PrintCore.h"

NSLock* ReadWriteLock = nullptr;

namespace {

std::once_flag g_lockMade;

CFStringRef MakeString(const char* text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
}

// A signed 32-bit number of the entry; false when the key is missing or not a number.
bool GetInt(CFDictionaryRef entry, CFStringRef key, int* value) {
  auto* number = dynamic_cast<NSNumber*>(static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(entry, key))));
  if (!number) return false;
  int32_t v = 0;
  CFNumberGetValue(number, kCFNumberSInt32Type, &v);
  *value = v;
  return true;
}

class Locked {
 public:
  Locked() { ReadWriteLock->lock(); }
  ~Locked() { ReadWriteLock->unlock(); }
};

}  // namespace

AutoconnectEntry* AutoconnectEntry::init() {
  // One lock for the process: a lock replaced by each new object would leave the others unguarded.
  std::call_once(g_lockMade, [] { ReadWriteLock = alloc<NSLock>()->init(); });
  portKey_ = MakeString("portNumber");
  pathKey_ = MakeString("ipAddrs");
  pidKey_ = MakeString("Pid");
  vidKey_ = MakeString("Vid");
  autoConnectKey_ = MakeString("Autoconnect");
  preferenceName_ = CFSTR("/private/var/root/loginwindow");
  mainKeyName_ = CFSTR("Data");
  whosPreferencesToChange_ = kCFPreferencesCurrentUser;
  return this;
}

void AutoconnectEntry::dealloc() {
  for (CFStringRef key : {portKey_, pathKey_, pidKey_, vidKey_, autoConnectKey_})
    if (key) CFRelease(key);
  NSObject::dealloc();
}

CFArrayRef AutoconnectEntry::CopyData() {
  CFPropertyListRef value =
      CFPreferencesCopyValue(mainKeyName_, preferenceName_, whosPreferencesToChange_, kCFPreferencesAnyHost);
  if (value && CFGetTypeID(value) == CFArrayGetTypeID()) return static_cast<CFArrayRef>(value);
  if (value) CFRelease(value);
  return CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
}

int AutoconnectEntry::FindLocked(const char* address, int port, int pid, int vid, bool* flag) {
  if (!address) return -1;
  CFArrayRef data = CopyData();
  int found = -1;
  for (CFIndex i = 0; i < CFArrayGetCount(data) && found < 0; ++i) {
    auto* entry = dynamic_cast<NSDictionary*>(static_cast<NSObject*>(const_cast<void*>(CFArrayGetValueAtIndex(data, i))));
    if (!entry) continue;
    auto* ip = dynamic_cast<NSString*>(static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(entry, pathKey_))));
    returnCharacterArray_[0] = 0;
    if (!ip || !CFStringGetCString(ip, returnCharacterArray_, sizeof returnCharacterArray_, kCFStringEncodingASCII))
      continue;
    // The whole address must be equal: 10.0.0.1 is not 10.0.0.12.
    if (strcmp(returnCharacterArray_, address) != 0) continue;
    if (!GetInt(entry, portKey_, &portValue_) || !GetInt(entry, pidKey_, &pidValue_) ||
        !GetInt(entry, vidKey_, &vidValue_))
      continue;
    if (portValue_ != port || pidValue_ != pid || vidValue_ != vid) continue;
    found = static_cast<int>(i);
    if (flag) {
      auto* on = dynamic_cast<NSNumber*>(
          static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(entry, autoConnectKey_))));
      *flag = on && CFBooleanGetValue(on);
    }
  }
  CFRelease(data);
  return found;
}

int AutoconnectEntry::FindEntryIndex(const char* address, int port, int pid, int vid) {
  Locked lock;
  int index = FindLocked(address, port, pid, vid, nullptr);
  if (index >= 0) printf("Find Returns %d\n", index);
  return index;
}

int AutoconnectEntry::ReadEntry(const char* address, int port, int pid, int vid) {
  Locked lock;
  bool on = false;
  if (FindLocked(address, port, pid, vid, &on) < 0) return 3;
  return on ? 1 : 0;
}

CFMutableDictionaryRef AutoconnectEntry::MakeEntry(const char* address, int port, int pid, int vid, bool flag) {
  CFMutableDictionaryRef entry = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                           &kCFTypeDictionaryValueCallBacks);
  CFStringRef ip = MakeString(address);
  CFDictionarySetValue(entry, pathKey_, ip);
  CFRelease(ip);
  const int values[3] = {port, pid, vid};
  const CFStringRef keys[3] = {portKey_, pidKey_, vidKey_};
  for (int k = 0; k < 3; ++k) {
    int32_t v = values[k];
    CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
    CFDictionarySetValue(entry, keys[k], n);
    CFRelease(n);
  }
  autoconn_ = flag ? kCFBooleanTrue : kCFBooleanFalse;
  CFDictionarySetValue(entry, autoConnectKey_, autoconn_);
  return entry;
}

bool AutoconnectEntry::Store(CFArrayRef array) {
  CFPreferencesSetValue(mainKeyName_, array, preferenceName_, whosPreferencesToChange_, kCFPreferencesAnyHost);
  return CFPreferencesSynchronize(preferenceName_, whosPreferencesToChange_, kCFPreferencesAnyHost);
}

int AutoconnectEntry::ChangeTheHideKey(const char* address, int port, int pid, int vid, char flag) {
  if (!address) return 2;
  Locked lock;
  CFArrayRef data = CopyData();
  int found = -1;
  for (CFIndex i = 0; i < CFArrayGetCount(data) && found < 0; ++i) {
    auto* entry = dynamic_cast<NSDictionary*>(static_cast<NSObject*>(const_cast<void*>(CFArrayGetValueAtIndex(data, i))));
    if (!entry || !CFDictionaryContainsKey(entry, pathKey_) || !CFDictionaryContainsKey(entry, portKey_)) {
      CFRelease(data);
      return 2;
    }
    auto* ip = dynamic_cast<NSString*>(static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(entry, pathKey_))));
    returnCharacterArray_[0] = 0;
    if (!ip || !CFStringGetCString(ip, returnCharacterArray_, sizeof returnCharacterArray_, kCFStringEncodingASCII) ||
        strcmp(returnCharacterArray_, address) != 0)
      continue;
    if (!GetInt(entry, portKey_, &portValue_) || !GetInt(entry, pidKey_, &pidValue_) ||
        !GetInt(entry, vidKey_, &vidValue_) || portValue_ != port || pidValue_ != pid || vidValue_ != vid)
      continue;
    printf("Device Entry exist\n");
    auto* on = dynamic_cast<NSNumber*>(static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(entry, autoConnectKey_))));
    bool current = on && CFBooleanGetValue(on);
    if (current != (flag != 0)) found = static_cast<int>(i);
  }
  if (found < 0) {
    CFRelease(data);
    return 2;
  }
  CFMutableArrayRef copy = CFArrayCreateMutableCopy(kCFAllocatorDefault, 0, data);
  CFRelease(data);
  CFArrayRemoveValueAtIndex(copy, found);
  CFMutableDictionaryRef entry = MakeEntry(address, port, pid, vid, flag != 0);
  CFArrayAppendValue(copy, entry);
  CFRelease(entry);
  printf("ip(%s), portno(%d), pid(%d), vid(%d)\n", address, port, pid, vid);
  bool stored = Store(copy);
  CFRelease(copy);
  return stored ? 1 : 2;
}

int AutoconnectEntry::AddLocked(const char* address, int port, int pid, int vid, char flag) {
  if (whosPreferencesToChange_ != kCFPreferencesCurrentUser && whosPreferencesToChange_ != kCFPreferencesAnyUser)
    return 0;
  if (!address) return 2;
  CFArrayRef data = CopyData();
  CFMutableArrayRef copy = CFArrayCreateMutableCopy(kCFAllocatorDefault, 0, data);
  CFRelease(data);
  if (!copy) return 2;
  CFMutableDictionaryRef entry = MakeEntry(address, port, pid, vid, flag == 1);
  CFArrayAppendValue(copy, entry);
  CFRelease(entry);
  bool stored = Store(copy);
  CFRelease(copy);
  return stored ? 1 : 2;
}

int AutoconnectEntry::AddReplaceEntry(const char* address, int port, int pid, int vid, char flag, int) {
  Locked lock;
  return AddLocked(address, port, pid, vid, flag);
}

int AutoconnectEntry::CheckAndAddDeviceEntry(const char* address, int port, int pid, int vid, char flag, int,
                                             int) {
  // Look and add under one hold of the lock, so that two callers cannot both add the device.
  Locked lock;
  bool on = false;
  if (FindLocked(address, port, pid, vid, &on) < 0) return AddLocked(address, port, pid, vid, flag);
  return on ? 1 : 0;
}

int AutoconnectEntry::getPrinterSharingStatus(NSString* printerName) {
  printf("printerThreadSharing\n");
  if (!printerName) return 0;
  CFArrayRef printers = nullptr;
  if (PMServerCreatePrinterList(kPMServerLocal, &printers) != noErr || !printers) return 0;
  int result = 0;
  for (CFIndex i = 0; i < CFArrayGetCount(printers); ++i) {
    auto printer = static_cast<PMPrinter>(const_cast<void*>(CFArrayGetValueAtIndex(printers, i)));
    CFStringRef name = PMPrinterGetName(printer);
    if (!name || !name->isEqualToString(printerName)) continue;
    Boolean isDefault = PMPrinterIsDefault(printer);
    printf("%s: isPrinterDefault %d\n", name->UTF8String(), isDefault ? 1 : 0);
    if (isDefault) {
      PMPrinterState state = 0;
      if (PMPrinterGetState(printer, &state) == noErr && state == kPMPrinterProcessing) result = 1;
    }
    break;
  }
  CFRelease(printers);
  return result;
}
