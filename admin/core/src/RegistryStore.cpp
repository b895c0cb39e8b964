#include "admin/RegistryStore.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/util/FixedText.h"
#include "win32/registry.h"
#include "win32/winsock.h"

namespace {

constexpr char kProductKey[] = "SOFTWARE\\Tavrin";
constexpr char kParametersKey[] = "SOFTWARE\\Tavrin\\Parameters";
constexpr char kPrintersKey[] = "SOFTWARE\\Tavrin\\Printers";
constexpr char kEnumUsbKey[] = "System\\CurrentControlSet\\Enum\\USB";
constexpr char kEnumDot4Key[] = "System\\CurrentControlSet\\Enum\\DOT4";
constexpr char kSpoolerPrintersKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
constexpr DWORD kNameSize = 260;
// The interface numbers a composite device can have ("&MI_%.2x").
constexpr int kMaxInterfaces = 256;

// A key opened for the length of one operation.
class RegKey {
 public:
  RegKey() = default;
  RegKey(HKEY parent, LPCSTR subKey, REGSAM access) {
    if (RegOpenKeyEx(parent, subKey, 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

  bool ReadDword(LPCSTR name, DWORD& value) const {
    DWORD data = 0, size = sizeof data;
    if (RegQueryValueEx(key_, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &size) != ERROR_SUCCESS) {
      return false;
    }
    value = data;
    return true;
  }
  bool ReadWord(LPCSTR name, WORD& value) const {
    WORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueEx(key_, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &size) != ERROR_SUCCESS) {
      return false;
    }
    value = data;
    return true;
  }
  bool ReadString(LPCSTR name, CString& value) const {
    char data[kNameSize] = {};
    DWORD size = sizeof data - 1;  // room for a NUL the value may lack
    if (RegQueryValueEx(key_, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size) != ERROR_SUCCESS) {
      return false;
    }
    value = data;
    return true;
  }
  // The name of the index-th subkey; false past the last one.
  bool EnumSubKey(DWORD index, CString& name) const {
    char buffer[kNameSize] = {};
    DWORD size = kNameSize;
    if (RegEnumKeyEx(key_, index, buffer, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return false;
    name = buffer;
    return true;
  }
  // The first subkey named like name, ignoring case.
  bool FindSubKey(LPCSTR name, CString& found) const {
    CString candidate;
    for (DWORD index = 0; EnumSubKey(index, candidate); ++index) {
      if (candidate.CompareNoCase(name) == 0) {
        found = candidate;
        return true;
      }
    }
    return false;
  }

 private:
  HKEY key_ = nullptr;
};

CString PrinterKeyPath(LPCSTR printerName) { return CString(kPrintersKey) + "\\" + printerName; }

CString UsbDeviceKeyName(const DeviceEntry& device) {
  CString name;
  name.Format("Vid_%.4x&Pid_%.4x", device.Vid, device.Pid);
  return name;
}

// The device's server address as a network-order u32, the way the device nodes carry it.
DWORD ServerAddress(const DeviceEntry& device) {
  char text[sizeof device.ServerIp + 1] = {};
  std::memcpy(text, device.ServerIp, sizeof device.ServerIp);
  return static_cast<DWORD>(inet_addr(text));
}

bool IsDecimal(const char* text) {
  if (!*text) return false;
  for (; *text; ++text) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  }
  return true;
}

// The port number of one decimal part of an instance name, or -1.
int PartPort(const char* part) {
  if (!IsDecimal(part) || std::strlen(part) > 5) return -1;
  return std::atoi(part);
}

}  // namespace

int CRegistryStore::InstancePort(LPCSTR instanceName) {
  if (!instanceName) return -1;
  const char* last = std::strrchr(instanceName, '&');
  return PartPort(last ? last + 1 : instanceName);
}

BOOL CRegistryStore::IsProductInstalled() {
  RegKey key(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ);
  return key ? TRUE : FALSE;
}

BOOL CRegistryStore::ReadParameters(DWORD& appTraceLevel, DWORD& appGuiRefreshPeriod,
                                    DWORD& appStopDeviceMappingPeriod) {
  RegKey key(HKEY_LOCAL_MACHINE, kParametersKey, KEY_ALL_ACCESS);
  if (!key) {
    TraceInfo("SOFTWARE\\Tavrin\\Parameters path not found.\n");
    return TRUE;
  }
  if (!key.ReadDword("AppTraceLevel", appTraceLevel)) TraceInfo("AppTraceLevel key not found registry\n");
  if (!key.ReadDword("AppGuiRefreshPeriod", appGuiRefreshPeriod)) {
    TraceInfo("AppGuiRefreshPeriod key not found registry\n");
  }
  if (!key.ReadDword("AppStopDeviceMappingPeriod", appStopDeviceMappingPeriod)) {
    TraceInfo("AppStopDeviceMappingPeriod key not found registry\n");
  }
  return TRUE;
}

BOOL CRegistryStore::GetPrinterInfo(LPCSTR printerName, PrinterInfo& info) {
  RegKey key(HKEY_LOCAL_MACHINE, PrinterKeyPath(printerName), KEY_ALL_ACCESS);
  if (!key) return FALSE;
  CopyFixedText(info.PrinterName, printerName);

  // A missing value is traced and leaves the record incomplete; the others are still read.
  BOOL complete = TRUE;
  auto present = [&](bool read, const char* value) {
    if (!read) {
      TraceInfo("%s Value is Missing in the registry", value);
      complete = FALSE;
    }
    return read;
  };
  DWORD autoReconnect = 0;
  if (present(key.ReadDword("AutoReconnect", autoReconnect), "Auto Reconnect"))
    info.AutoReconnect = autoReconnect ? 1 : 0;
  present(key.ReadWord("Vid", info.Vid), "Vid");
  present(key.ReadWord("Pid", info.Pid), "Pid");
  present(key.ReadWord("Rev", info.Rev), "Rev");
  present(key.ReadDword("DeviceIP", info.DeviceIP), "ServerIP");
  DWORD port = 0;
  if (present(key.ReadDword("DevicePort", port), "Device Port")) info.DevicePort = static_cast<WORD>(port);
  return complete;
}

BOOL CRegistryStore::WritePrinterKey(const PrinterKeyRecord& record, LPCSTR printerName) {
  {
    RegKey printers(HKEY_LOCAL_MACHINE, kPrintersKey, KEY_ALL_ACCESS);
    CString existing;
    if (printers && printers.FindSubKey(printerName, existing)) {
      TraceInfo("Printer Name is all ready present in the Registry");
      return FALSE;
    }
  }
  RegKey key;
  DWORD disposition = 0;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, PrinterKeyPath(printerName), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                     nullptr, key.out(), &disposition) != ERROR_SUCCESS) {
    *key.out() = nullptr;
    TraceError("Probelm in creating the Printer key in the Registry <==\n");
    return FALSE;  // the caller would list a printer that was never stored
  }
  const DWORD deviceIp = record.DeviceIP;
  const DWORD devicePort = record.DevicePort;
  const DWORD autoReconnect = 0;
  struct Value {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
    const char* failure;
  };
  const Value values[] = {
      {"DeviceIP", REG_DWORD, &deviceIp, 4, "Probelm in Inserting DeviceIP into the Registry <==\n"},
      {"DevicePort", REG_DWORD, &devicePort, 4, "Probelm in Inserting DevicePort into the Registry <==\n"},
      {"Rev", REG_BINARY, &record.Rev, 2, "Probelm in Inserting Rev into the Registry <==\n"},
      {"Pid", REG_BINARY, &record.Pid, 2, "Probelm in Inserting Pid into the Registry <==\n"},
      {"Vid", REG_BINARY, &record.Vid, 2, "Probelm in Inserting Vid into the Registry <==\n"},
      {"AutoReconnect", REG_DWORD, &autoReconnect, 4, "Probelm in Inserting AutoReconnect into the Registry <==\n"},
  };
  for (const Value& value : values) {
    if (RegSetValueEx(key.get(), value.name, 0, value.type, static_cast<const BYTE*>(value.data), value.size) !=
        ERROR_SUCCESS) {
      TraceError("%s", value.failure);
    }
  }
  return TRUE;
}

DWORD CRegistryStore::GetAutoReconnect(LPCSTR printerName) {
  RegKey key(HKEY_LOCAL_MACHINE, PrinterKeyPath(printerName), KEY_ALL_ACCESS);
  DWORD value = 0;
  return key && key.ReadDword("AutoReconnect", value) && value ? 1 : 0;
}

BOOL CRegistryStore::SetAutoReconnect(LPCSTR printerName, DWORD autoReconnect) {
  CString found;
  {
    RegKey printers(HKEY_LOCAL_MACHINE, kPrintersKey, KEY_ALL_ACCESS);
    if (!printers || !printers.FindSubKey(printerName, found) || found != printerName) return FALSE;
  }
  RegKey key(HKEY_LOCAL_MACHINE, PrinterKeyPath(printerName), KEY_ALL_ACCESS);
  DWORD value = 0;
  if (!key || !key.ReadDword("AutoReconnect", value) || value == autoReconnect) return FALSE;
  return RegSetValueEx(key.get(), "AutoReconnect", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&autoReconnect),
                       sizeof autoReconnect) == ERROR_SUCCESS;
}

std::vector<CString> CRegistryStore::GetPrinterKeyNames() {
  std::vector<CString> names;
  RegKey printers(HKEY_LOCAL_MACHINE, kPrintersKey, KEY_ALL_ACCESS);
  CString name;
  for (DWORD index = 0; printers && printers.EnumSubKey(index, name); ++index) names.push_back(name);
  return names;
}

BOOL CRegistryStore::DeletePrinter(LPCSTR printerName) {
  RegKey printers(HKEY_LOCAL_MACHINE, kPrintersKey, KEY_ALL_ACCESS);
  return printers && RegDeleteKey(printers.get(), printerName) == ERROR_SUCCESS;
}

BOOL CRegistryStore::IsObsoletePrinter(LPCSTR printerName) {
  RegKey printers(HKEY_LOCAL_MACHINE, kSpoolerPrintersKey, KEY_READ);
  CString found;
  return printers && printers.FindSubKey(printerName, found) ? FALSE : TRUE;
}

BYTE CRegistryStore::IsAutoConnectDevice(const DeviceEntry& device) {
  if (device.Class != 7 && device.Class != 255) return 0;
  CString printerName;
  if (!GetPrinterName(device, printerName)) return 0;
  return GetAutoReconnect(printerName) == 1 ? 1 : 0;
}

BOOL CRegistryStore::GetPrinterName(const DeviceEntry& device, CString& printerName) {
  printerName.Empty();
  CString prefix;
  if (!FindDeviceInstancePrefix(device, prefix)) {
    TraceInfo("USB: ParentIdPrefix is not Present <==\n");
    return FALSE;
  }
  return FindSpoolerPrinter(prefix, printerName);
}

BOOL CRegistryStore::FindDeviceInstancePrefix(const DeviceEntry& device, CString& prefix) {
  prefix.Empty();
  RegKey usb(HKEY_LOCAL_MACHINE, kEnumUsbKey, KEY_READ);
  CString deviceKey;
  if (!usb || !usb.FindSubKey(UsbDeviceKeyName(device), deviceKey)) {
    TraceInfo("USB: Vid and Pids are Not found in Regitry <== \n");
    return FALSE;
  }
  const DWORD serverAddress = ServerAddress(device);

  if (device.NumInterfaces < 2) {
    RegKey instances(usb.get(), deviceKey, KEY_READ);
    CString instance;
    for (DWORD index = 0; instances && instances.EnumSubKey(index, instance); ++index) {
      if (InstancePort(instance) != device.PortNum) continue;
      RegKey node(instances.get(), instance, KEY_READ);
      DWORD uiNumber = 0;
      if (!node || !node.ReadDword("UINumber", uiNumber) || uiNumber != serverAddress) continue;
      // An empty prefix would be found in every instance identifier: it counts as none.
      if (!node.ReadString("ParentIdPrefix", prefix) || prefix.IsEmpty()) {
        prefix.Empty();
        return FALSE;
      }
      CString service, dot4Prefix;
      if (node.ReadString("Service", service) && service.CompareNoCase("dot4") == 0 &&
          FindDot4Prefix(device, prefix, dot4Prefix)) {
        prefix = dot4Prefix;
      }
      return TRUE;
    }
    return FALSE;
  }

  // A composite device: the printing interface's node has the prefix.
  for (int interfaceNumber = 0; interfaceNumber < kMaxInterfaces; ++interfaceNumber) {
    TraceInfo("Printing support Intf = %d", interfaceNumber);
    CString interfaceName, interfaceKey;
    interfaceName.Format("Vid_%.4x&Pid_%.4x&MI_%.2x", device.Vid, device.Pid, interfaceNumber);
    if (!usb.FindSubKey(interfaceName, interfaceKey)) {
      TraceInfo("USB: Vid,Pid and MI_#intfNum are Not found in Regitry <== \n");
      return FALSE;
    }
    RegKey instances(usb.get(), interfaceKey, KEY_READ);
    CString instance;
    for (DWORD index = 0; instances && instances.EnumSubKey(index, instance); ++index) {
      if (InstancePort(instance) != device.PortNum) continue;
      RegKey node(instances.get(), instance, KEY_READ);
      DWORD uiNumber = 0;
      CString service;
      if (!node || !node.ReadDword("UINumber", uiNumber) || uiNumber != serverAddress) continue;
      if (!node.ReadString("Service", service) || service.CompareNoCase("usbprint") != 0) continue;
      if (!node.ReadString("ParentIdPrefix", prefix) || prefix.IsEmpty()) continue;
      return TRUE;
    }
  }
  prefix.Empty();
  return FALSE;
}

BOOL CRegistryStore::FindDot4Prefix(const DeviceEntry& device, const CString& usbPrefix, CString& prefix) {
  prefix.Empty();
  if (usbPrefix.IsEmpty()) return FALSE;
  RegKey dot4(HKEY_LOCAL_MACHINE, kEnumDot4Key, KEY_READ);
  CString deviceName = UsbDeviceKeyName(device);
  if (device.Rev != 0) {
    CString revision;
    revision.Format("&Rev_%.4x&PRINT", device.Rev);
    deviceName += revision;
  }
  CString deviceKey;
  if (!dot4 || !dot4.FindSubKey(deviceName, deviceKey)) {
    TraceInfo("USB: Vid and Pids are Not found in Regitry <== \n");
    return FALSE;
  }
  RegKey instances(dot4.get(), deviceKey, KEY_READ);
  CString instance;
  for (DWORD index = 0; instances && instances.EnumSubKey(index, instance); ++index) {
    if (instance.Find(usbPrefix) < 0) continue;
    RegKey node(instances.get(), instance, KEY_READ);
    CString childPrefix, service;
    if (!node || !node.ReadString("ParentIdPrefix", childPrefix) || !node.ReadString("Service", service)) continue;
    if (service.CompareNoCase("Dot4Print") == 0 && !childPrefix.IsEmpty()) {
      prefix = childPrefix;
      return TRUE;
    }
  }
  return FALSE;
}

BOOL CRegistryStore::FindSpoolerPrinter(const CString& prefix, CString& printerName) {
  printerName.Empty();
  if (prefix.IsEmpty()) return FALSE;
  RegKey printers(HKEY_LOCAL_MACHINE, kSpoolerPrintersKey, KEY_READ);
  CString upperPrefix = prefix;
  upperPrefix.MakeUpper();
  CString printer;
  for (DWORD index = 0; printers && printers.EnumSubKey(index, printer); ++index) {
    RegKey printerKey(printers.get(), printer, KEY_READ);
    CString name, instanceId;
    if (!printerKey || !printerKey.ReadString("Name", name)) continue;
    RegKey pnpData(printerKey.get(), "PnPData", KEY_READ);
    if (!pnpData || !pnpData.ReadString("DeviceInstanceID", instanceId)) continue;
    if (instanceId.Find(upperPrefix) >= 0) {
      printerName = name;
      return TRUE;
    }
  }
  return FALSE;
}

void CRegistryStore::LoadAutoConnectPrinters(CTavrinAdminDoc& doc) {
  RegKey printers(HKEY_LOCAL_MACHINE, kPrintersKey, KEY_ALL_ACCESS);
  if (!printers) return;
  CString name;
  for (DWORD index = 0; printers.EnumSubKey(index, name); ++index) {
    PrinterInfo printer{};
    if (GetPrinterInfo(name, printer)) doc.OfferAutoConnectPrinter(printer);
  }
}

BOOL CRegistryStore::AddAutoConnectPrinter(CTavrinAdminDoc& doc, const DeviceEntry& device) {
  CString printerName;
  if (!GetPrinterName(device, printerName) || printerName.IsEmpty()) {
    CString text;
    text.LoadString(IDS_PRINTER_NAME_PROBLEM);
    TraceError("%s", static_cast<LPCSTR>(text));
    return FALSE;
  }
  PrinterKeyRecord record{};
  record.DevicePort = device.PortNum;
  record.Class = device.Class;
  record.SubClass = device.SubClass;
  record.Protocol = device.Protocol;
  record.Rev = device.Rev;
  record.Pid = device.Pid;
  record.Vid = device.Vid;
  record.DeviceIP = ServerAddress(device);
  if (!WritePrinterKey(record, printerName)) return FALSE;
  PrinterInfo printer{};
  CopyFixedText(printer.PrinterName, printerName);
  printer.AutoReconnect = 0;
  printer.Vid = device.Vid;
  printer.Pid = device.Pid;
  printer.Rev = device.Rev;
  printer.DeviceIP = record.DeviceIP;
  printer.DevicePort = device.PortNum;
  doc.OfferAutoConnectPrinter(printer);
  CString text;
  text.LoadString(IDS_PRINTER_ADDED);
  TraceInfo("%s", static_cast<LPCSTR>(text));
  return TRUE;
}
