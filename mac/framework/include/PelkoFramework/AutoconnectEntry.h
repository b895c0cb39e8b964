// The Mac's list of remote devices to connect automatically, in the system preferences
// ("/private/var/root/loginwindow", key "Data": an array of dictionaries ipAddrs, portNumber, Pid, Vid,
// Autoconnect), and whether a printer is the default one and busy.
#pragma once
#include "cocoa/CoreFoundation.h"
#include "cocoa/Foundation.h"

// Serialises every read and write of the preference value; made once, shared by every object.
extern NSLock* ReadWriteLock;

class AutoconnectEntry : public NSObject {
 public:
  AutoconnectEntry* init();

  // Entries match when their address text equals the given one and port, pid and vid are equal.
  // Index of the first matching entry, or -1.
  int FindEntryIndex(const char* address, int port, int pid, int vid);
  // 1 found with automatic connection on, 0 found with it off, 3 not found.
  int ReadEntry(const char* address, int port, int pid, int vid);
  // Sets the flag of the matching entry (moving it to the end): 1 stored, 2 nothing to change or failure.
  int ChangeTheHideKey(const char* address, int port, int pid, int vid, char flag);
  // Appends an entry (flag 1 on, anything else off): 1 stored, 2 failure, 0 for another user's
  // preferences.
  int AddReplaceEntry(const char* address, int port, int pid, int vid, char flag, int unused);
  // 1 present with the flag on; the result of adding it when absent; 0 present with it off.
  int CheckAndAddDeviceEntry(const char* address, int port, int pid, int vid, char flag, int unused,
                             int unused2);
  // 1 when the printer of that name is the default printer and busy, else 0.
  int getPrinterSharingStatus(NSString* printerName);

  const char* className() const override { return "AutoconnectEntry"; }

 protected:
  void dealloc() override;

 private:
  CFArrayRef CopyData();  // the "Data" array (an empty one when there is none); caller releases
  int FindLocked(const char* address, int port, int pid, int vid, bool* flag);
  int AddLocked(const char* address, int port, int pid, int vid, char flag);
  bool Store(CFArrayRef array);
  CFMutableDictionaryRef MakeEntry(const char* address, int port, int pid, int vid, bool flag);

  char returnCharacterArray_[100] = {};
  CFStringRef portKey_ = nullptr;
  CFStringRef pathKey_ = nullptr;
  CFStringRef pidKey_ = nullptr;
  CFStringRef vidKey_ = nullptr;
  CFStringRef autoConnectKey_ = nullptr;
  CFStringRef preferenceName_ = nullptr;
  CFStringRef mainKeyName_ = nullptr;
  CFStringRef whosPreferencesToChange_ = nullptr;
  CFBooleanRef autoconn_ = nullptr;
  int portValue_ = 0;
  int pidValue_ = 0;
  int vidValue_ = 0;
};
