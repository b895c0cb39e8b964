// Device nodes of the system's drivers: the root node of the bus enumerator made and its driver installed
// from an INF (cmdInstall), and every node of a hardware id removed, present or not (cmdRemove).
#pragma once
#include <string>

#include "win32/setupapi.h"
#include "win32/types.h"

namespace installer {

inline constexpr char kVizoridoHardwareId[] = "root\\vizorido";
inline constexpr char kVirtualUsbHardwareId[] = "{B85B7C50-6A01-11d2-B841-00C04FAD5171}\\VirtualUsb";

// cmdInstall results
inline constexpr int kInstallOk = 0, kInstallFailed = 2, kInstallEmptyArgument = 3;
// cmdRemove results
inline constexpr int kRemoveOk = 0, kRemoveNeedsRestart = 1, kRemoveFailed = 2;

// Whole-text match, case-insensitive, with "*" for any run of characters.
bool PatternMatch(const char* text, const char* pattern);

// Called for each matching device; non-zero stops the walk and becomes the result.
using DeviceCallback = int (*)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD index, void* context);
// Patterns: an optional "=Class" first, then hardware-id patterns ("*" alone or none: every device; a
// leading "@": an instance id; a leading "'": taken literally). 0 when the walk completes, 2 when it
// cannot start.
int EnumerateDevices(const char* machine, DWORD flags, int patternCount, const char* const* patterns,
                     DeviceCallback callback, void* context);

class DeviceInstaller {
 public:
  // The texts the removal gives each device ("Removed", "Removed on reboot", "Remove failed"); without them
  // cmdRemove fails.
  void SetRemoveTexts(const char* removed, const char* removedOnReboot, const char* removeFailed);
  // Makes the one node of the id (nodes of the id already there go first, so that a rerun after an
  // interrupted install does not add a second) and installs its driver. The reboot setter runs when the
  // driver installation asks for a restart.
  int cmdInstall(const char* infPath, const char* hardwareId, DWORD* rebootRequired, void (*setReboot)(void*) = nullptr,
                 void* rebootContext = nullptr);
  int cmdRemove(const char* hardwareId);

  // What the last cmdRemove did, for the trace.
  int removedCount() const { return removedCount_; }
  const std::string& lastResults() const { return lastResults_; }

 private:
  std::string removed_, removedOnReboot_, removeFailed_;
  bool textsSet_ = false;
  int removedCount_ = 0;
  std::string lastResults_;
};

}  // namespace installer
