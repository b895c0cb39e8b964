#include "installer/DeviceInstaller.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "win32/module.h"
#include "win32/registry.h"
#include "win32/sync.h"

namespace installer {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

struct Pattern {
  std::string text;       // without its leading "'" or "@"
  bool hasStar = false;
  bool instanceId = false;
};

Pattern Prepare(const char* raw) {
  Pattern p;
  if (raw[0] == '\'') {
    p.text = raw + 1;  // literal: a "*" in it is a character
  } else if (raw[0] == '@') {
    p.instanceId = true;
    p.text = raw + 1;
    p.hasStar = p.text.find('*') != std::string::npos;
  } else {
    p.text = raw;
    p.hasStar = p.text.find('*') != std::string::npos;
  }
  return p;
}

bool Matches(const std::string& text, const Pattern& p) {
  if (!p.hasStar) return text.size() == p.text.size() && EqualNoCase(text.c_str(), p.text.c_str(), text.size());
  return PatternMatch(text.c_str(), p.text.c_str());
}

// The entries of a multi-string property; empty when the device has none.
std::vector<std::string> ReadIds(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property) {
  std::vector<char> buffer(8192 + 2);
  DWORD type = 0, required = 0;
  while (!SetupDiGetDeviceRegistryProperty(set, device, property, &type, reinterpret_cast<PBYTE>(buffer.data()),
                                           static_cast<DWORD>(buffer.size() - 2), &required)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != REG_MULTI_SZ || required + 2 <= buffer.size()) return {};
    buffer.assign(required + 2, '\0');
  }
  std::vector<std::string> ids;
  for (const char* p = buffer.data(); *p && p < buffer.data() + buffer.size(); p += std::strlen(p) + 1) ids.emplace_back(p);
  return ids;
}

std::string InstanceIdOf(PSP_DEVINFO_DATA device) {
  char id[200 + 1] = {};
  if (CM_Get_Device_ID_Ex(device->DevInst, id, 200, 0, nullptr) != CR_SUCCESS) return {};
  return id;
}

struct RemoveContext {
  DeviceInstaller* owner;
  bool rebootNeeded = false;
  int count = 0;
  std::string* results;
  const std::string* texts[3];
};

// Removes the node everywhere; false when that failed.
bool RemoveNode(HDEVINFO set, PSP_DEVINFO_DATA device) {
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  params.HwProfile = 0;
  return SetupDiSetClassInstallParams(set, device, &params.ClassInstallHeader, sizeof params) &&
         SetupDiCallClassInstaller(DIF_REMOVE, set, device);
}

int RemoveCallback(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD, void* context) {
  auto& c = *static_cast<RemoveContext*>(context);
  SP_DEVINFO_LIST_DETAIL_DATA detail{};
  detail.cbSize = sizeof detail;
  if (!SetupDiGetDeviceInfoListDetail(set, &detail)) return 0;
  std::string instance = InstanceIdOf(device);
  if (instance.empty()) return 0;
  const std::string* text = c.texts[2];
  if (RemoveNode(set, device)) {
    SP_DEVINSTALL_PARAMS install{};
    install.cbSize = sizeof install;
    text = c.texts[0];
    if (SetupDiGetDeviceInstallParams(set, device, &install) && (install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT))) {
      c.rebootNeeded = true;
      text = c.texts[1];
    }
    ++c.count;
  }
  *c.results += instance + ": " + *text + "\n";
  return 0;
}

int RemoveEarlierNode(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD, void*) {
  RemoveNode(set, device);
  return 0;
}

}  // namespace

bool PatternMatch(const char* text, const char* pattern) {
  const char* star = std::strchr(pattern, '*');
  if (!star) return std::strlen(text) == std::strlen(pattern) && EqualNoCase(text, pattern, std::strlen(text));
  size_t head = static_cast<size_t>(star - pattern);
  if (std::strlen(text) < head || !EqualNoCase(text, pattern, head)) return false;
  text += head;
  pattern = star;
  for (;;) {
    while (*pattern == '*') ++pattern;
    if (!*pattern) return true;
    const char* next = std::strchr(pattern, '*');
    if (!next) {  // the last part: the text must end with it
      size_t n = std::strlen(pattern), left = std::strlen(text);
      return left >= n && EqualNoCase(text + left - n, pattern, n);
    }
    size_t n = static_cast<size_t>(next - pattern);
    for (;;) {
      while (*text && Lower(*text) != Lower(*pattern)) ++text;
      if (!*text || std::strlen(text) < n) return false;
      if (EqualNoCase(text, pattern, n)) break;
      ++text;
    }
    text += n;
    pattern = next;
  }
}

int EnumerateDevices(const char* machine, DWORD flags, int patternCount, const char* const* patterns,
                     DeviceCallback callback, void* context) {
  GUID classGuid{};
  bool haveClass = false;
  int at = 0;
  if (patternCount > 0 && patterns[0][0] == '=') {
    DWORD found = 0;
    if (!SetupDiClassGuidsFromNameEx(patterns[0] + 1, &classGuid, 1, &found, machine, nullptr) || found == 0) return 0;
    haveClass = true;
    ++at;
  }
  bool everyDevice = at >= patternCount || (patternCount - at == 1 && std::strcmp(patterns[at], "*") == 0);
  std::vector<Pattern> list;
  if (!everyDevice)
    for (int i = at; i < patternCount; ++i) list.push_back(Prepare(patterns[i]));
  bool needAll = everyDevice;
  for (const auto& p : list) needAll = needAll || p.hasStar || !p.instanceId;

  HDEVINFO set;
  if (needAll) {
    set = SetupDiGetClassDevsEx(haveClass ? &classGuid : nullptr, nullptr, nullptr, flags | (haveClass ? 0 : DIGCF_ALLCLASSES),
                                nullptr, machine, nullptr);
  } else {
    set = SetupDiCreateDeviceInfoList(haveClass ? &classGuid : nullptr, nullptr);
    if (set != INVALID_HANDLE_VALUE)
      for (const auto& p : list) SetupDiOpenDeviceInfo(set, p.text.c_str(), nullptr, 0, nullptr);
  }
  if (set == INVALID_HANDLE_VALUE) return 2;

  int result = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    bool match = everyDevice;
    if (!match) {
      std::string instance = InstanceIdOf(&device);
      std::vector<std::string> ids = ReadIds(set, &device, SPDRP_HARDWAREID);
      for (auto& id : ReadIds(set, &device, SPDRP_COMPATIBLEIDS)) ids.push_back(id);
      for (const auto& p : list) {
        if (p.instanceId) {
          match = !instance.empty() && Matches(instance, p);
        } else {
          for (const auto& id : ids) match = match || Matches(id, p);
        }
        if (match) break;
      }
    }
    if (!match) continue;
    result = callback(set, &device, index, context);
    if (result) break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

void DeviceInstaller::SetRemoveTexts(const char* removed, const char* removedOnReboot, const char* removeFailed) {
  textsSet_ = removed && removedOnReboot && removeFailed;
  if (!textsSet_) return;
  // Each text is loaded into 80 characters.
  removed_ = std::string(removed).substr(0, 79);
  removedOnReboot_ = std::string(removedOnReboot).substr(0, 79);
  removeFailed_ = std::string(removeFailed).substr(0, 79);
}

int DeviceInstaller::cmdInstall(const char* infPath, const char* hardwareId, DWORD* rebootRequired,
                                void (*setReboot)(void*), void* rebootContext) {
  if (!infPath || !*infPath || !hardwareId || !*hardwareId) return kInstallEmptyArgument;
  char ids[260] = {};  // a one-entry multi-string: the id and two NULs
  std::strncpy(ids, hardwareId, 255);
  GUID classGuid{};
  char className[32];
  if (!SetupDiGetINFClass(infPath, &classGuid, className, sizeof className, nullptr)) return kInstallFailed;
  // A node of the id that an earlier run registered (a run that ended before it recorded the installation)
  // goes first: the new node takes its place instead of standing beside it.
  const std::string literal = std::string("'") + hardwareId;
  const char* pattern = literal.c_str();
  EnumerateDevices(nullptr, DIGCF_ALLCLASSES, 1, &pattern, RemoveEarlierNode, nullptr);
  HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return kInstallFailed;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  int result = kInstallFailed;
  if (SetupDiCreateDeviceInfo(set, className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
      SetupDiSetDeviceRegistryProperty(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
                                       static_cast<DWORD>(std::strlen(ids) + 2)) &&
      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    bool updated = false;
    if (HMODULE newdev = LoadLibrary("newdev.dll")) {
      using UpdateFn = BOOL (*)(HWND, LPCSTR, LPCSTR, DWORD, BOOL*);
      if (auto update = reinterpret_cast<UpdateFn>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA"))) {
        BOOL reboot = FALSE;
        updated = update(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE, &reboot);
        if (updated && reboot) {
          if (setReboot) setReboot(rebootContext);
          if (rebootRequired) *rebootRequired = 1;
        }
      }
      FreeLibrary(newdev);
    }
    if (updated) {
      result = kInstallOk;
    } else {
      // A node without its driver would stay behind as a phantom: it goes again.
      RemoveNode(set, &device);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

int DeviceInstaller::cmdRemove(const char* hardwareId) {
  removedCount_ = 0;
  lastResults_.clear();
  if (!textsSet_) return kRemoveFailed;
  const char* pattern =
      hardwareId && std::strcmp(hardwareId, kVizoridoHardwareId) == 0 ? kVizoridoHardwareId : kVirtualUsbHardwareId;
  RemoveContext context{this, false, 0, &lastResults_, {&removed_, &removedOnReboot_, &removeFailed_}};
  int result = EnumerateDevices(nullptr, DIGCF_ALLCLASSES, 1, &pattern, RemoveCallback, &context);
  removedCount_ = context.count;
  if (result != 0) return result;
  return context.rebootNeeded ? kRemoveNeedsRestart : kRemoveOk;
}

}  // namespace installer
