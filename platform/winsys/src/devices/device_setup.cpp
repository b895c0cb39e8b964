// Device nodes through setupapi and newdev: sets of store and kernel-host nodes, registration, removal and
// driver installation from INF files.
#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "devices_internal.h"
#include "wincommon/inf.h"
#include "win32/devices/device_nodes.h"
#include "win32/file.h"
#include "win32/registry.h"
#include "win32/setupapi.h"
#include "win32/sync.h"
#include "win32/sysroot.h"

namespace tavrin::devices {
namespace {

namespace fs = std::filesystem;
namespace store = tavrin::device_nodes;

template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// Device instance handles (CM's DEVINST) name instance ids for the whole process.
std::mutex g_instLock;
std::map<DWORD, std::string> g_instances;
DWORD g_nextInst = 1;

DWORD InstanceHandle(const std::string& instanceId) {
  std::lock_guard guard(g_instLock);
  for (const auto& [handle, id] : g_instances)
    if (inf::Upper(id) == inf::Upper(instanceId)) return handle;
  g_instances[g_nextInst] = instanceId;
  return g_nextInst++;
}

std::shared_ptr<DeviceInfoSet> SetOf(HDEVINFO handle) { return LookupHandleAs<DeviceInfoSet>(handle); }

NodeMember* MemberOf(DeviceInfoSet& set, PSP_DEVINFO_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0 || data->Reserved > set.nodes.size())
    return nullptr;
  return &set.nodes[data->Reserved - 1];
}

void Describe(const DeviceInfoSet& set, size_t index, PSP_DEVINFO_DATA data) {
  if (!data) return;
  data->ClassGuid = set.nodes[index].classGuid;
  data->DevInst = set.nodes[index].devInst;
  data->Reserved = index + 1;
}

NodeMember FromStore(const store::Node& n) {
  NodeMember m;
  m.instanceId = n.instanceId;
  ParseGuid(n.classGuid, &m.classGuid);
  m.className = n.className;
  m.hardwareIds = n.hardwareIds;
  m.service = n.service;
  m.registered = true;
  m.devInst = InstanceHandle(n.instanceId);
  return m;
}

bool SameId(const std::string& a, const std::string& b) { return inf::Upper(a) == inf::Upper(b); }

// The store's nodes and the running kernel host's (the kernel host's children of bus drivers are not in
// the store); `presentOnly` leaves the phantoms out.
std::vector<NodeMember> MachineNodes(bool presentOnly) {
  std::vector<NodeMember> out;
  auto live = store::QueryLiveNodes();
  const auto stored = store::Load();
  for (const auto& n : stored) {
    bool present = std::any_of(live.begin(), live.end(), [&](const auto& l) { return SameId(l.instanceId, n.instanceId); });
    if (presentOnly && !present) continue;
    out.push_back(FromStore(n));
  }
  for (const auto& l : live) {
    if (std::any_of(out.begin(), out.end(), [&](const auto& m) { return SameId(m.instanceId, l.instanceId); })) continue;
    if (std::any_of(stored.begin(), stored.end(), [&](const auto& n) { return SameId(n.instanceId, l.instanceId); }))
      continue;
    NodeMember m;
    m.instanceId = l.instanceId;
    m.hardwareIds = l.hardwareIds;
    m.service = l.service;
    m.registered = true;
    m.devInst = InstanceHandle(l.instanceId);
    out.push_back(std::move(m));
  }
  return out;
}

std::string MultiSz(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& s : list) out += s + '\0';
  out += '\0';
  return out;
}

std::vector<std::string> FromMultiSz(const BYTE* data, DWORD size) {
  std::vector<std::string> out;
  std::string current;
  for (DWORD i = 0; i < size; ++i) {
    char c = static_cast<char>(data[i]);
    if (c == '\0') {
      if (current.empty()) break;
      out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

std::string HostPath(const std::string& windowsPath) { return sysroot::MapPath(windowsPath).string(); }

std::string WindowsDir() {
  char buffer[MAX_PATH];
  UINT n = GetWindowsDirectory(buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The precompiled form beside an INF: only its name matters to the programs here.
bool WritePnf(const fs::path& infHost) {
  fs::path pnf = infHost;
  pnf.replace_extension(".PNF");
  std::ofstream out(pnf, std::ios::binary | std::ios::trunc);
  out << "PNF\n" << infHost.filename().string() << "\n";
  return static_cast<bool>(out);
}

}  // namespace
}  // namespace tavrin::devices

using namespace tavrin::devices;

BOOL SetupDiGetINFClass(PCSTR InfName, GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize, PDWORD RequiredSize) {
  if (!InfName || !ClassGuid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto file = tavrin::inf::Read(HostPath(InfName));
  if (!file) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  std::string name = file->Value("Version", "Class");
  std::string guid = file->Value("Version", "ClassGuid");
  GUID parsed{};
  if (name.empty() || !tavrin::ParseGuid(guid, &parsed)) return Fail(ERROR_INVALID_CLASS, FALSE);
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(name.size() + 1);
  if (!ClassName || ClassNameSize < name.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::memcpy(ClassName, name.c_str(), name.size() + 1);
  *ClassGuid = parsed;
  return TRUE;
}

HDEVINFO SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND) {
  auto set = std::make_shared<DeviceInfoSet>();
  if (ClassGuid) set->classGuid = *ClassGuid;
  return tavrin::InsertHandle(set);
}

BOOL SetupDiCreateDeviceInfo(HDEVINFO DeviceInfoSet, PCSTR DeviceName, const GUID* ClassGuid, PCSTR, HWND,
                             DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!DeviceName || !*DeviceName || !ClassGuid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  NodeMember m;
  m.classGuid = *ClassGuid;
  m.className = DeviceName;
  if (CreationFlags & DICD_GENERATE_ID) {
    std::string base = "ROOT\\" + tavrin::inf::Upper(DeviceName) + "\\";
    auto nodes = store::Load();
    for (int n = 0; n < 10000; ++n) {
      char number[8];
      std::snprintf(number, sizeof number, "%04d", n);
      std::string candidate = base + number;
      bool taken = std::any_of(nodes.begin(), nodes.end(), [&](const auto& x) { return SameId(x.instanceId, candidate); }) ||
                   std::any_of(set->nodes.begin(), set->nodes.end(), [&](const auto& x) { return SameId(x.instanceId, candidate); });
      if (!taken) {
        m.instanceId = candidate;
        break;
      }
    }
  } else {
    m.instanceId = tavrin::inf::Upper(DeviceName);
    auto nodes = store::Load();
    if (std::any_of(nodes.begin(), nodes.end(), [&](const auto& x) { return SameId(x.instanceId, m.instanceId); }))
      return Fail(ERROR_DEVINST_ALREADY_EXISTS, FALSE);
  }
  if (m.instanceId.empty()) return Fail(ERROR_DEVINST_ALREADY_EXISTS, FALSE);
  m.devInst = InstanceHandle(m.instanceId);
  set->nodes.push_back(std::move(m));
  Describe(*set, set->nodes.size() - 1, DeviceInfoData);
  return TRUE;
}

HDEVINFO SetupDiGetClassDevsEx(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags, HDEVINFO,
                               PCSTR MachineName, PVOID) {
  if (MachineName && *MachineName) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (Flags & DIGCF_DEVICEINTERFACE) return SetupDiGetClassDevs(ClassGuid, Enumerator, hwndParent, Flags);
  if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  auto set = std::make_shared<DeviceInfoSet>();
  if (ClassGuid) set->classGuid = *ClassGuid;
  for (auto& m : MachineNodes(Flags & DIGCF_PRESENT))
    if ((Flags & DIGCF_ALLCLASSES) || m.classGuid == *ClassGuid) set->nodes.push_back(std::move(m));
  return tavrin::InsertHandle(set);
}

BOOL SetupDiOpenDeviceInfo(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND, DWORD, PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!DeviceInstanceId) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  for (auto& m : MachineNodes(false)) {
    if (!SameId(m.instanceId, DeviceInstanceId)) continue;
    set->nodes.push_back(std::move(m));
    Describe(*set, set->nodes.size() - 1, DeviceInfoData);
    return TRUE;
  }
  return Fail(ERROR_NO_SUCH_DEVINST, FALSE);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (MemberIndex >= set->nodes.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
  Describe(*set, MemberIndex, DeviceInfoData);
  return TRUE;
}

BOOL SetupDiClassGuidsFromNameEx(PCSTR ClassName, GUID* ClassGuidList, DWORD ClassGuidListSize, PDWORD RequiredSize,
                                 PCSTR, PVOID) {
  if (!ClassName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::vector<GUID> found;
  for (const auto& n : store::Load()) {
    GUID g{};
    if (SameId(n.className, ClassName) && tavrin::ParseGuid(n.classGuid, &g) &&
        std::find(found.begin(), found.end(), g) == found.end())
      found.push_back(g);
  }
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(found.size());
  if (found.size() > ClassGuidListSize) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  for (size_t i = 0; i < found.size(); ++i) ClassGuidList[i] = found[i];
  return TRUE;
}

BOOL SetupDiGetDeviceInfoListDetail(HDEVINFO DeviceInfoSet, SP_DEVINFO_LIST_DETAIL_DATA* detail) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!detail || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  detail->ClassGuid = set->classGuid;
  detail->RemoteMachineHandle = nullptr;
  detail->RemoteMachineName[0] = '\0';
  return TRUE;
}

BOOL SetupDiSetDeviceRegistryProperty(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                      const BYTE* PropertyBuffer, DWORD PropertyBufferSize) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  NodeMember* m = MemberOf(*set, DeviceInfoData);
  if (!m) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (Property != SPDRP_HARDWAREID && Property != SPDRP_COMPATIBLEIDS) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (PropertyBufferSize && !PropertyBuffer) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto list = FromMultiSz(PropertyBuffer, PropertyBufferSize);
  (Property == SPDRP_HARDWAREID ? m->hardwareIds : m->compatibleIds) = list;
  return TRUE;
}

BOOL SetupDiGetDeviceRegistryProperty(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                      PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                      PDWORD RequiredSize) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  NodeMember* m = MemberOf(*set, DeviceInfoData);
  if (!m) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string data;
  DWORD type = REG_SZ;
  switch (Property) {
    case SPDRP_HARDWAREID:
    case SPDRP_COMPATIBLEIDS: {
      const auto& list = Property == SPDRP_HARDWAREID ? m->hardwareIds : m->compatibleIds;
      if (list.empty()) return Fail(ERROR_INVALID_DATA, FALSE);
      data = MultiSz(list);
      type = REG_MULTI_SZ;
      break;
    }
    case SPDRP_SERVICE:
      if (m->service.empty()) return Fail(ERROR_INVALID_DATA, FALSE);
      data = m->service + '\0';
      break;
    case SPDRP_CLASS:
      if (m->className.empty()) return Fail(ERROR_INVALID_DATA, FALSE);
      data = m->className + '\0';
      break;
    default:
      return Fail(ERROR_INVALID_DATA, FALSE);
  }
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(data.size());
  if (PropertyRegDataType) *PropertyRegDataType = type;
  if (!PropertyBuffer || PropertyBufferSize < data.size()) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::memcpy(PropertyBuffer, data.data(), data.size());
  return TRUE;
}

BOOL SetupDiSetClassInstallParams(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                  SP_CLASSINSTALL_HEADER* ClassInstallParams, DWORD ClassInstallParamsSize) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  NodeMember* m = MemberOf(*set, DeviceInfoData);
  if (!m || !ClassInstallParams || ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (ClassInstallParams->InstallFunction == DIF_REMOVE) {
    if (ClassInstallParamsSize < sizeof(SP_REMOVEDEVICE_PARAMS)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    m->removeScope = reinterpret_cast<SP_REMOVEDEVICE_PARAMS*>(ClassInstallParams)->Scope;
    m->removeParamsSet = true;
  }
  return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  NodeMember* m = MemberOf(*set, DeviceInfoData);
  if (!m) return Fail(ERROR_NO_DEVICE_SELECTED, FALSE);
  if (InstallFunction == DIF_REGISTERDEVICE) {
    if (m->registered) return Fail(ERROR_DEVINST_ALREADY_EXISTS, FALSE);
    if (m->hardwareIds.empty()) return Fail(ERROR_INVALID_DATA, FALSE);
    store::Node node{m->instanceId, tavrin::GuidToString(m->classGuid), m->className, m->hardwareIds, ""};
    bool clash = false;
    store::Update([&](std::vector<store::Node>& nodes) {
      clash = std::any_of(nodes.begin(), nodes.end(), [&](const auto& n) { return SameId(n.instanceId, node.instanceId); });
      if (!clash) nodes.push_back(node);
    });
    if (clash) return Fail(ERROR_DEVINST_ALREADY_EXISTS, FALSE);
    m->registered = true;
    return TRUE;
  }
  if (InstallFunction == DIF_REMOVE) {
    if (!m->registered) return Fail(ERROR_NO_SUCH_DEVINST, FALSE);
    store::Update([&](std::vector<store::Node>& nodes) {
      std::erase_if(nodes, [&](const auto& n) { return SameId(n.instanceId, m->instanceId); });
    });
    m->registered = false;
    // A kernel host that cannot let the node go now (handles are open) drops it at its next start.
    if (store::RequestReload() == 1) m->installFlags |= DI_NEEDRESTART;
    return TRUE;
  }
  return Fail(ERROR_INVALID_PARAMETER, FALSE);
}

BOOL SetupDiGetDeviceInstallParams(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, SP_DEVINSTALL_PARAMS* params) {
  auto set = SetOf(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  NodeMember* m = DeviceInfoData ? MemberOf(*set, DeviceInfoData) : nullptr;
  if (DeviceInfoData && !m) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::memset(reinterpret_cast<char*>(params) + sizeof(DWORD), 0, sizeof *params - sizeof(DWORD));
  if (m) params->Flags = m->installFlags;
  return TRUE;
}

DWORD CM_Get_Device_ID_Ex(DWORD dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG, HANDLE) {
  std::string id;
  {
    std::lock_guard guard(g_instLock);
    auto it = g_instances.find(dnDevInst);
    if (it == g_instances.end()) return CR_INVALID_DEVNODE;
    id = it->second;
  }
  if (!Buffer || BufferLen < id.size()) return CR_BUFFER_SMALL;
  std::memcpy(Buffer, id.data(), id.size());
  if (BufferLen > id.size()) Buffer[id.size()] = '\0';
  return CR_SUCCESS;
}

BOOL InstallDriverPackage(const tavrin::inf::DriverEntry& entry, const std::string& sourceFolder);

BOOL SetupCopyOEMInf(PCSTR SourceInfFileName, PCSTR, DWORD, DWORD, PSTR DestinationInfFileName,
                     DWORD DestinationInfFileNameSize, PDWORD RequiredSize, PSTR* DestinationInfFileNameComponent) {
  if (!SourceInfFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const fs::path source = HostPath(SourceInfFileName);
  std::ifstream in(source, std::ios::binary);
  if (!in) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string infFolder = WindowsDir() + "\\inf";
  CreateDirectory(infFolder.c_str(), nullptr);
  const fs::path hostFolder = HostPath(infFolder);
  // The same INF copied before keeps its name.
  std::string name;
  std::error_code ec;
  for (int n = 0; n < 10000 && name.empty(); ++n) {
    std::string candidate = "oem" + std::to_string(n) + ".inf";
    fs::path target = hostFolder / candidate;
    if (!fs::exists(target, ec)) {
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      out << content;
      if (!out) return Fail(ERROR_ACCESS_DENIED, FALSE);
      name = candidate;
    } else {
      std::ifstream existing(target, std::ios::binary);
      std::string old((std::istreambuf_iterator<char>(existing)), std::istreambuf_iterator<char>());
      if (old == content) name = candidate;
    }
  }
  if (name.empty() || !WritePnf(hostFolder / name)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  // The package is staged for its devices: driver files and services are in place, and a running kernel host
  // loads the drivers on the nodes that have their ids.
  if (auto file = tavrin::inf::Read(source.string())) {
    for (const auto& d : tavrin::inf::Drivers(*file))
      if (!d.service.empty() && !InstallDriverPackage(d, FolderOf(SourceInfFileName))) return FALSE;
    store::RequestReload();
  }
  std::string destination = infFolder + "\\" + name;
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(destination.size() + 1);
  if (DestinationInfFileName) {
    if (DestinationInfFileNameSize < destination.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(DestinationInfFileName, destination.c_str(), destination.size() + 1);
    if (DestinationInfFileNameComponent) *DestinationInfFileNameComponent = DestinationInfFileName + infFolder.size() + 1;
  }
  return TRUE;
}

// The driver's files (from the INF's folder) in System32\drivers and its service key with Parameters.
BOOL InstallDriverPackage(const tavrin::inf::DriverEntry& entry, const std::string& sourceFolder) {
  const std::string windows = WindowsDir();
  const tavrin::inf::DriverEntry* driver = &entry;
  // The driver files, from the INF's folder.
  const std::string drivers32 = windows + "\\System32\\drivers";
  CreateDirectory((windows + "\\System32").c_str(), nullptr);
  CreateDirectory(drivers32.c_str(), nullptr);
  for (const auto& f : driver->files) {
    std::string from = sourceFolder + "\\" + f;
    if (!CopyFile(from.c_str(), (drivers32 + "\\" + f).c_str(), FALSE)) return FALSE;
  }

  // The service key and its Parameters.
  const std::string serviceKey = "SYSTEM\\CurrentControlSet\\Services\\" + driver->service;
  std::string image = "System32\\DRIVERS\\" + (driver->files.empty() ? driver->service + ".sys" : driver->files[0]);
  LONG status = tavrin::registry::SetString(HKEY_LOCAL_MACHINE, serviceKey, "ImagePath", image);
  if (status == ERROR_SUCCESS) status = tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, serviceKey, "Type", 1);
  if (status == ERROR_SUCCESS) status = tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, serviceKey, "Start", 3);
  if (status == ERROR_SUCCESS) status = tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, serviceKey, "ErrorControl", 1);
  HKEY parameters = nullptr;
  if (status == ERROR_SUCCESS)
    status = RegCreateKeyEx(HKEY_LOCAL_MACHINE, (serviceKey + "\\Parameters").c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &parameters, nullptr);
  if (parameters) RegCloseKey(parameters);
  if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status), FALSE);

  return TRUE;
}

BOOL UpdateDriverForPlugAndPlayDevices(HWND, PCSTR HardwareId, PCSTR FullInfPath, DWORD, BOOL* bRebootRequired) {
  if (bRebootRequired) *bRebootRequired = FALSE;
  if (!HardwareId || !*HardwareId || !FullInfPath) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto file = tavrin::inf::Read(HostPath(FullInfPath));
  if (!file) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  const tavrin::inf::DriverEntry* driver = nullptr;
  auto drivers = tavrin::inf::Drivers(*file);
  for (const auto& d : drivers)
    if (SameId(d.hardwareId, HardwareId) && !d.service.empty()) driver = &d;
  if (!driver) return Fail(ERROR_NO_DRIVER_SELECTED, FALSE);
  auto nodes = store::Load();
  bool any = std::any_of(nodes.begin(), nodes.end(), [&](const auto& n) {
    return std::any_of(n.hardwareIds.begin(), n.hardwareIds.end(), [&](const auto& id) { return SameId(id, HardwareId); });
  });
  if (!any) return Fail(ERROR_NO_SUCH_DEVINST, FALSE);

  // The INF is installed under its own name, so that the kernel host finds the hardware id's service.
  const std::string windows = WindowsDir();
  const std::string infFolder = windows + "\\inf";
  CreateDirectory(infFolder.c_str(), nullptr);
  const std::string installedInf = infFolder + "\\" + FileNameOf(FullInfPath);
  if (!SameId(HostPath(installedInf), HostPath(FullInfPath)) && !CopyFile(FullInfPath, installedInf.c_str(), FALSE))
    return FALSE;
  WritePnf(HostPath(installedInf));

  if (!InstallDriverPackage(*driver, FolderOf(FullInfPath))) return FALSE;

  const std::string service = driver->service;
  const std::string id = HardwareId;
  store::Update([&](std::vector<store::Node>& all) {
    for (auto& n : all)
      if (std::any_of(n.hardwareIds.begin(), n.hardwareIds.end(), [&](const auto& h) { return SameId(h, id); }))
        n.service = service;
  });
  // With no kernel host the driver loads at the next start.
  if (store::RequestReload() < 0 && bRebootRequired) *bRebootRequired = TRUE;
  return TRUE;
}
