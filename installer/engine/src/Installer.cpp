#include "installer/Installer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "installer/FileSearcher.h"
#include "win32/shlwapi.h"
#include "win32/windows.h"

namespace installer {
namespace {

constexpr char kAdminExe[] = "TavrinAdmin.exe";
constexpr char kTftpExe[] = "TftpServer.exe";
constexpr char kSettingsDll[] = "PelkoSettings.dll";
constexpr char kUninstallExe[] = "TavrinUninstall.exe";
constexpr char kVizoridoInf[] = "vizorido.inf";
constexpr char kPelkobusInf[] = "pelkobus.inf";
constexpr char kVizoridoSys[] = "vizorido.sys";
constexpr char kPelkobusSys[] = "pelkobus.sys";
constexpr char kAppName[] = "USB Server Admin Utility";
constexpr char kSoftwareKey[] = "SOFTWARE\\Tavrin";
constexpr char kFolderValue[] = "TavrinFolderPath";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char kBusText[] = "Virtual Pelko Bus";
constexpr char kShutDownEvent[] = "TavrinAdminShutDownEvent";
constexpr char kCleanUpEvent[] = "TavrinAdminCleanUpDone";
constexpr DWORD kPollMs = 20;  // how often a wait for another program looks again

void SetRebootFlag(void* self) { static_cast<CInstaller*>(self)->SetRebootRequired(); }

}  // namespace

bool SourceFolderFromCommandLine(const char* commandLine, std::string* folder) {
  if (!commandLine) return false;
  const char* path = std::strstr(commandLine, "PATH=");
  if (!path) return false;
  std::string text = path + 5;
  if (text.empty()) return false;
  text.pop_back();
  if (text.size() == 3) text.pop_back();  // "D:\" : a "\" follows in every source path
  if (text.empty()) return false;
  *folder = text;
  return true;
}

CInstaller::CInstaller(Variant variant, CLogFile* log) : m_variant(variant), m_log(log) {}

void CInstaller::Trace(const char* format, ...) {
  if (!m_log) return;
  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  m_log->Write(line);
  if (m_traceHook) m_traceHook(line);
}

void CInstaller::Box(const char* text, UINT type) { MessageBox(nullptr, text, "", type); }

bool CInstaller::WindowsDirectory(std::string* out) {
  char buffer[MAX_PATH];
  UINT n = GetWindowsDirectory(buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) {
    Box("GetWindowsDirectory failed!", MB_OK | MB_ICONERROR);
    return false;
  }
  *out = buffer;
  return true;
}

std::string CInstaller::Source(const char* name) const { return m_sourceFolder + "\\" + name; }

int CInstaller::cmdInstall(const char* infPath, const char* hardwareId) {
  return m_devices.cmdInstall(infPath, hardwareId, &m_rebootRequired, SetRebootFlag, this);
}

int CInstaller::cmdRemove(const char* hardwareId) {
  int result = m_devices.cmdRemove(hardwareId);
  if (!m_devices.lastResults().empty()) Trace("%s", m_devices.lastResults().c_str());
  return result;
}

BOOL CInstaller::InstallSoftware() {
  Trace("CInstaller::InstallSoftware ==>>\n");
  Trace("Installing Software for Tavrin\n");
  Trace("Installing the sys files through the supplied INF...\n");
  BOOL result = TRUE;
  auto done = [&](BOOL r) {
    Trace("<<== CInstaller::InstallSoftware\n");
    return r;
  };
  if (cmdInstall(Source(kVizoridoInf).c_str(), kVizoridoHardwareId) != kInstallOk) {
    Trace("cmdInstall Failed...\n");
    return done(0);
  }
  Trace("Writing the Installation History...\n");
  if (!(result = WriteHistory())) {
    Trace("WriteHistory Failed...\n");
    return done(result);
  }
  if (!(result = CopyToSystemPath(kAdminExe))) {
    Trace("TavrinAdmin.exe CopyToSystemPath Failed...\n");
    return done(result);
  }
  if (!(result = CopyToSystemPath(kTftpExe))) {
    Trace("TftpServer.exe CopyToSystemPath Failed...\n");
    return done(result);
  }
  if (!(result = CopyToSystemPath(kSettingsDll))) {
    Trace("PelkoSettings.dll CopyToSystemPath Failed...\n");
    return done(result);
  }
  if (!(result = CopyBusInfToSystemPath())) {
    Trace("Copy PelkoBus.inf to SystemPath Failed...\n");
    return done(result);
  }
  Trace("Creating a desktop shotcut ...\n");
  if (!(result = AddEntryToDeskTop())) {
    Trace("AddEntryToDeskTop Failed...\n");
    return done(result);
  }
  Trace("Adding the application to system startup ...\n");
  if (!(result = AddAdminExeToStartup())) {
    Trace("AddAdminExeToStartup Failed...\n");
    return done(result);
  }
  Trace("Add Uninstall App to windows directory ...\n");
  if (!(result = AddUninstallApp())) {
    Trace("Adding Tavrin Uninstall Failed...\n");
    return done(result);
  }
  if (m_rebootRequired) {
    Trace("Reboot Required, Do not Launch the Tavrin Admin  application ...\n");
    return done(TRUE);
  }
  Trace("Launch the Tavrin Admin  application ...\n");
  if (!(result = LaunchClientApplication(kAdminExe))) Trace("LaunchClientApplication Failed...\n");
  return done(result);
}

void CInstaller::RemoveDevices() {
  for (const char* id : {kVirtualUsbHardwareId, kVizoridoHardwareId}) {
    int result = cmdRemove(id);
    if (result == kRemoveFailed) {
      Trace("cmdRemove Failed...\n");
      Box("cmdRemove Failed...\n", MB_OK | MB_ICONERROR);
    } else if (result == kRemoveNeedsRestart) {
      SetRebootRequired();
      m_rebootRequired = 1;
      Trace("cmdRemove: Reboot Required...\n");
      Box("cmdRemove: Reboot Required...\n", MB_OK | MB_ICONINFORMATION);
    }
  }
}

BOOL CInstaller::UnInstallSoftware() {
  Trace("CInstaller::UnInstallSoftware ==>>\n");
  Trace("Uninstalling Software for Tavrin..\n");
  Trace("Stopping the Tavrin Admin Tool application ...\n");
  StopClientApplication(kShutDownEvent);
  BOOL result = TRUE;
  if (m_variant == Variant::Setup) {
    Trace("Deleting the exe's from system directory ...\n");
    // The old TavrinAdmin must be gone before anything is removed: an update that cannot replace it
    // leaves the installation as it was.
    if (!DelExeFiles(kAdminExe)) {
      Trace("TAVRIN_ADMIN_TOOL_EXE  DelExeFiles Failed...\n");
      std::string windows;
      if (WindowsDirectory(&windows) && GetFileAttributes((windows + "\\" + kAdminExe).c_str()) != INVALID_FILE_ATTRIBUTES) {
        Trace("<<== CInstaller::UnInstallSoftware\n");
        return FALSE;
      }
    }
    if (!DelExeFiles(kTftpExe)) Trace("TFTP_SERVER_EXE DelExeFiles Failed...\n");
    if (!DelExeFiles(kSettingsDll)) Trace("PELKOSETTINGS_DLL DelExeFiles Failed...\n");
  }
  Trace("Deleting the Desktop Shotcut...\n");
  if (!DeleteEntryFromDeskTop()) Trace("DeleteEntryFromDeskTop Failed...\n");
  Trace("Removing the application from System startup...\n");
  if (!RemoveFromStartUp(kAppName, TRUE)) Trace("RemoveFromStartUp Failed...\n");
  Trace("Removing the Add/Remove entry of Uninstall App...\n");
  if (!RemoveFromAddRemovePrograms()) Trace("RemoveFromAddRemovePrograms Failed...\n");
  Trace("Removing the Software keys...\n");
  if (!DeleteHistory()) Trace("DeleteHistory Failed...\n");
  Trace("Removing the attached devices ...\n");
  RemoveDevices();
  Trace("Deleting the .sys and .vxd files ...\n");
  if (!DeleteSysFiles(kVizoridoSys)) Trace("BUSENUM_SYS DeleteSysFiles() Failed...\n");
  if (!DeleteSysFiles(kPelkobusSys)) Trace("PELKOBUS_SYS DeleteSysFiles() Failed...\n");
  Trace("Deleting the .Inf files...\n");
  DeleteOemInfFiles();
  Trace("Deleting the exe's from system directory ...\n");
  if (m_variant == Variant::Setup) {
    result = DelExeFiles(kAdminExe);
    if (!result) {
      std::string windows;
      // Gone already (deleted in the first pass) counts as done.
      result = WindowsDirectory(&windows) &&
               GetFileAttributes((windows + "\\" + kAdminExe).c_str()) == INVALID_FILE_ATTRIBUTES;
    }
  } else {
    if (!DelExeFiles(kAdminExe)) Trace("TAVRIN_ADMIN_TOOL_EXE  DelExeFiles Failed...\n");
    if (!DelExeFiles(kTftpExe)) Trace("TFTP_SERVER_EXE DelExeFiles Failed...\n");
    if (!DelExeFiles(kSettingsDll)) Trace("PELKOSETTINGS_DLL DelExeFiles Failed...\n");
    result = TRUE;
  }
  Trace("<<== CInstaller::UnInstallSoftware\n");
  return result;
}

BOOL CInstaller::UpdateSoftware() {
  if (!UnInstallSoftware()) return FALSE;
  return InstallSoftware();
}

BOOL CInstaller::IsAlreadyInstalled() {
  Trace("CInstaller::IsAlreadyInstalled ==>\n");
  char folder[MAX_PATH];
  DWORD size = sizeof folder, type = 0;
  const BOOL installed = WithKey(
      [](HKEY* key) { return RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSoftwareKey, 0, KEY_READ, key); },
      "Error RegOpenKeyEx() : %ld\n",
      [&](HKEY key) { return RegQueryValueEx(key, kFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(folder), &size); },
      "Error RegQueryValueEx() : %ld\n");
  Trace("<<== CInstaller::IsAlreadyInstalled\n");
  return installed;
}

BOOL CInstaller::WriteHistory() {
  Trace("CInstaller::WriteHistory ==>\n");
  const BOOL ok = WithKey(
      [](HKEY* key) {
        return RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSoftwareKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              key, nullptr);
      },
      "Error : RegCreateKeyEx() %ld\n",
      [&](HKEY key) {
        return RegSetValueEx(key, kFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_installFolder.c_str()),
                             static_cast<DWORD>(m_installFolder.size() + 1));
      },
      "Error : RegSetValueEx() %ld\n");
  Trace("<<== CInstaller::WriteHistory\n");
  return ok;
}

BOOL CInstaller::WithKey(const std::function<LONG(HKEY*)>& open, const char* openError,
                         const std::function<LONG(HKEY)>& use, const char* useError) {
  HKEY key = nullptr;
  LONG status = open(&key);
  if (status != ERROR_SUCCESS) {
    Trace(openError, static_cast<long>(status));
    return FALSE;
  }
  status = use(key);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    Trace(useError, static_cast<long>(status));
    return FALSE;
  }
  return TRUE;
}

BOOL CInstaller::DeleteHistory() {
  Trace("CInstaller::DeleteHistory ==>\n");
  BOOL ok = TRUE;
  struct Target {
    const char* parent;
    const char* child;
    const char* openError;
    const char* deleteError;
  };
  const Target targets[] = {
      {"SOFTWARE", "Tavrin", "RegOpenKeyEx problem while opening HKLM\\Software key. Error:%ld\n",
       "SHDeleteKey() problem while deleting Software\\TAVRIN key. Error:%ld\n"},
      {"SYSTEM\\CurrentControlSet\\Services\\vizorido", "Parameters",
       "RegOpenKeyEx problem while opening services\\vizorido key. Error:%ld\n",
       "SHDeleteKey() problem while deleting vizorido\\parameters key. Error:%ld\n"},
      {"SYSTEM\\CurrentControlSet\\Services\\VUSB", "Parameters",
       "RegOpenKeyEx problem while opening services\\VUSB key. Error:%ld\n",
       "SHDeleteKey() problem while deleting VUSB\\parameters key. Error:%ld\n"},
  };
  for (const auto& t : targets) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(HKEY_LOCAL_MACHINE, t.parent, 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS) {
      Trace(t.openError, static_cast<long>(status));
      ok = FALSE;
      continue;
    }
    status = SHDeleteKey(key, t.child);
    if (status != ERROR_SUCCESS) {
      Trace(t.deleteError, static_cast<long>(status));
      ok = FALSE;
    }
    RegCloseKey(key);
  }
  Trace("<<== CInstaller::DeleteHistory\n");
  return ok;
}

BOOL CInstaller::CopyToSystemPath(const char* fileName) {
  Trace("CInstaller::CopyToSystemPath ==>\n");
  std::string windows;
  BOOL ok = FALSE;
  if (WindowsDirectory(&windows)) {
    std::string from = Source(fileName), to = windows + "\\" + fileName;
    if (!CopyFile(from.c_str(), to.c_str(), FALSE)) {
      Trace("Error CopyFile, From: %s To: %s [%lu]\n", from.c_str(), to.c_str(), static_cast<unsigned long>(GetLastError()));
    } else {
      DWORD attributes = GetFileAttributes(to.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributes(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      ok = TRUE;
    }
  }
  Trace("<<== CInstaller::CopyToSystemPath\n");
  return ok;
}

BOOL CInstaller::AddUninstallApp() { return CopyToSystemPath(kUninstallExe); }

BOOL CInstaller::DelExeFiles(const char* fileName) {
  Trace("CInstaller::DelExeFiles ==>\n");
  std::string windows;
  BOOL ok = FALSE;
  if (WindowsDirectory(&windows)) {
    const std::string path = windows + "\\" + fileName;
    // A program that has just been asked to end may still be running for a moment: its image stays in use
    // until it is gone, so the deletion is tried again within a bound.
    DWORD waited = 0;
    for (;;) {
      ok = DeleteFile(path.c_str());
      DWORD error = GetLastError();
      if (ok || error != ERROR_ACCESS_DENIED || waited >= m_inUseRetryMs) break;
      Sleep(kPollMs);
      waited += kPollMs;
    }
    if (!ok) Trace("Error DeleteFile %s: %lu\n", path.c_str(), static_cast<unsigned long>(GetLastError()));
  }
  Trace("<<== CInstaller::DelExeFiles\n");
  return ok;
}

BOOL CInstaller::DeleteSysFiles(const char* fileName) {
  Trace("CInstaller::DeleteSysFiles ==>\n");
  std::string windows;
  BOOL ok = FALSE;
  if (WindowsDirectory(&windows)) {
    const std::string path = windows + "\\System32\\Drivers\\" + fileName;
    ok = DeleteFile(path.c_str());
    if (!ok) Trace("Error DeleteFile %s: %lu\n", path.c_str(), static_cast<unsigned long>(GetLastError()));
  }
  Trace("<<== CInstaller::DeleteSysFiles\n");
  return ok;
}

BOOL CInstaller::CopyBusInfToSystemPath() {
  Trace("CInstaller::CopyBusInfToSystemPath ==>\n");
  BOOL ok = FALSE;
  HMODULE setupapi = LoadLibrary("SETUPAPI");
  if (!setupapi) {
    Box("Error in loading the Setupapi.dll", MB_OK | MB_ICONERROR);
  } else {
    using CopyFn = BOOL (*)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*);
    auto copy = reinterpret_cast<CopyFn>(GetProcAddress(setupapi, "SetupCopyOEMInfA"));
    if (!copy) {
      Box("Error in getting the SetupCopyOEMInfA function adress", MB_OK | MB_ICONERROR);
    } else {
      char destination[260];
      ok = copy(Source(kPelkobusInf).c_str(), nullptr, SPOST_PATH, 0, destination, sizeof destination, nullptr, nullptr);
      if (!ok) Box("Error SetupCopyOEMInfA for pelkobus.inf file", MB_OK | MB_ICONERROR);
    }
    FreeLibrary(setupapi);
  }
  Trace("<<== CInstaller::CopyBusInfToSystemPath\n");
  return ok;
}

BOOL CInstaller::AddEntryToDeskTop() {
  Trace("CInstaller::AddEntryToDeskTop ==>\n");
  std::string windows;
  BOOL ok = WindowsDirectory(&windows) && CreateDesktopShotcut(kAppName, kAdminExe, windows.c_str());
  Trace("<<== CInstaller::AddEntryToDeskTop\n");
  return ok;
}

BOOL CInstaller::DeleteEntryFromDeskTop() {
  Trace("CInstaller::DeleteEntryFromDeskTop ==>\n");
  BOOL ok = DeleteDesktopShotcut(kAppName);
  Trace("<<== CInstaller::DeleteEntryFromDeskTop\n");
  return ok;
}

namespace {

// The desktop folder of the user; empty with the failure traced by the caller.
LONG DesktopFolder(std::string* folder) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                             KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  char buffer[MAX_PATH];
  DWORD size = sizeof buffer, type = 0;
  status = RegQueryValueEx(key, "Desktop", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS) *folder = buffer;
  return status;
}

}  // namespace

BOOL CInstaller::CreateDesktopShotcut(const char* linkName, const char* programFile, const char* folder) {
  std::string desktop;
  LONG status = DesktopFolder(&desktop);
  if (status != ERROR_SUCCESS) {
    Trace("Error : RegOpenKeyEx() %ld\n", static_cast<long>(status));
    return FALSE;
  }
  const std::string linkPath = desktop + "\\" + linkName + ".LNK";
  const std::string target = std::string(folder) + "\\" + programFile;
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  BOOL ok = FALSE;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link));
  if (FAILED(hr)) {
    Trace("Error : CoCreateInstance() %ld\n", static_cast<long>(hr));
  } else if (FAILED(hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    Trace("Error : QueryInterface() %ld\n", static_cast<long>(hr));
  } else if (FAILED(hr = link->SetPath(target.c_str()))) {
    Trace("Error : SetPath() %ld\n", static_cast<long>(hr));
  } else {
    link->SetDescription((std::string("Shortcut to ") + linkName).c_str());
    WCHAR wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
    hr = file->Save(wide, TRUE);
    ok = SUCCEEDED(hr);
    if (!ok) Trace("Error : Save() %ld\n", static_cast<long>(hr));
  }
  if (file) file->Release();
  if (link) link->Release();
  CoUninitialize();
  return ok;
}

BOOL CInstaller::DeleteDesktopShotcut(const char* linkName) {
  std::string desktop;
  LONG status = DesktopFolder(&desktop);
  if (status != ERROR_SUCCESS) {
    Trace("Error : RegOpenKeyEx() %ld\n", static_cast<long>(status));
    return FALSE;
  }
  const std::string linkPath = desktop + "\\" + linkName + ".LNK";
  if (!DeleteFile(linkPath.c_str())) {
    Trace("Error DeleteFile %s: %lu\n", linkPath.c_str(), static_cast<unsigned long>(GetLastError()));
    return FALSE;
  }
  return TRUE;
}

BOOL CInstaller::AddAdminExeToStartup() {
  std::string windows;
  if (!WindowsDirectory(&windows)) return FALSE;
  return AddtoStartUp(kAppName, (windows + "\\" + kAdminExe).c_str(), TRUE);
}

BOOL CInstaller::AddtoStartUp(const char* valueName, const char* command, BOOL machine) {
  Trace("CInstaller::AddtoStartUp ==>\n");
  const BOOL ok = WithKey(
      [&](HKEY* key) { return RegOpenKey(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kRunKey, key); },
      "Error RegOpenKeyEx() : %ld\n",
      [&](HKEY key) {
        // With its terminator: a reader that takes the stored bytes as they are gets a whole string.
        return RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                             static_cast<DWORD>(std::strlen(command) + 1));
      },
      "Error : RegSetValueEx() %ld\n");
  Trace("<<== CInstaller::AddtoStartUp\n");
  return ok;
}

BOOL CInstaller::RemoveFromStartUp(const char* valueName, BOOL machine) {
  Trace("CInstaller::RemoveFromStartUp ==>\n");
  const BOOL ok = WithKey(
      [&](HKEY* key) { return RegOpenKey(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kRunKey, key); },
      "Error RegOpenKeyEx() : %ld\n", [&](HKEY key) { return RegDeleteValue(key, valueName); },
      "Error : RegDeleteValue() %ld\n");
  Trace("<<== CInstaller::RemoveFromStartUp\n");
  return ok;
}

BOOL CInstaller::RemoveFromAddRemovePrograms() {
  Trace("CInstaller::RemoveFromAddRemovePrograms ==>\n");
  if (m_versionKind == kWin9x) return TRUE;
  std::string windows;
  if (!WindowsDirectory(&windows)) return FALSE;
  const std::string path = windows + "\\" + kUninstallExe;
  if (!DeleteFile(path.c_str())) {
    Trace("Error DeleteFile %s: %lu\n", path.c_str(), static_cast<unsigned long>(GetLastError()));
    return FALSE;
  }
  if (!WithKey([](HKEY* key) { return RegOpenKeyEx(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS, key); },
               "Error RegOpenKeyEx() : %ld\n", [](HKEY key) { return RegDeleteKey(key, "Tavrin"); },
               "Error : RegDeleteKey() %ld\n"))
    return FALSE;
  Trace("<<== CInstaller::RemoveFromAddRemovePrograms\n");
  return TRUE;
}

BOOL CInstaller::DeleteOemInfFiles() {
  Trace("CInstaller::DeleteOemInfFiles ==>\n");
  std::string windows;
  if (!WindowsDirectory(&windows)) return FALSE;
  for (const char* extension : {"*.inf", "*.PNF"}) {
    FileSearchFilter filter;
    filter.folder = windows + "\\inf";
    char mask[64];
    std::snprintf(mask, sizeof mask, "*%s*", extension);
    filter.mask = mask;
    filter.subFolders = 1;
    filter.SetContainedText(kBusText);
    FileSearcher searcher;
    searcher.Search(filter);
    for (const auto& path : searcher.Paths()) {
      SetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFile(path.c_str());
    }
    // A precompiled copy goes with its INF, whatever it holds.
    if (std::strcmp(extension, "*.inf") == 0)
      for (const auto& path : searcher.Paths()) {
        std::string pnf = path.substr(0, path.size() - 4) + ".PNF";
        SetFileAttributes(pnf.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFile(pnf.c_str());
      }
  }
  for (const char* name : {"vizorido.inf", "vizorido.PNF", "pelkobus.inf", "pelkobus.PNF"}) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\inf\\%s", windows.c_str(), name);
    SetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFile(path);
  }
  Trace("<<== CInstaller::DeleteOemInfFiles\n");
  return TRUE;
}

BOOL CInstaller::SetRebootRequired() {
  const DWORD one = 1;
  return WithKey(
      [](HKEY* key) {
        return RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key, nullptr);
      },
      "Error : RegCreateKeyEx() %ld\n",
      [&](HKEY key) {
        return RegSetValueEx(key, "RebootRequired", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
      },
      "Error : RegSetValueEx() %ld\n");
}

BOOL CInstaller::LaunchClientApplication(const char* programName) {
  Trace(" Tavrin Launch ClientApplication ==>>\n");
  std::string windows;
  if (!WindowsDirectory(&windows)) return FALSE;
  std::string commandLine = windows + "\\" + programName;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  SECURITY_ATTRIBUTES security{};
  security.nLength = 12;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = FALSE;
  STARTUPINFO startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  BOOL ok = CreateProcess(nullptr, line.data(), &security, &security, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                          &startup, &process);
  if (!ok) {
    Trace("CreateProcess : Error - %lu\n", static_cast<unsigned long>(GetLastError()));
    return FALSE;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Trace("Tavrin  LaunchClientApplication <<==\n");
  return TRUE;
}

BOOL CInstaller::StopClientApplication(const char* eventName) {
  Trace(" Tavrin StopClientApplication ==>>\n");
  Trace("Checking for Tavrin Application...\n");
  const char* missing = m_variant == Variant::Setup
                            ? " Error:StopClientApplication AdminShutDown event doesn't exists.\n"
                            : " Error:StopClientApplication  AdminShutDown event doesn't exists.\n";
  HANDLE shutDown = CreateEvent(nullptr, TRUE, FALSE, eventName);
  if (!shutDown) {
    Trace(" Error:StopClientApplication  CreateEvent() %lu\n", static_cast<unsigned long>(GetLastError()));
    return FALSE;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    Trace("%s", missing);
    CloseHandle(shutDown);
    return FALSE;
  }
  HANDLE cleanUp = CreateEvent(nullptr, TRUE, FALSE, kCleanUpEvent);
  if (!cleanUp) {
    Trace(" Error:StopClientApplication  CreateEvent() %lu\n", static_cast<unsigned long>(GetLastError()));
    CloseHandle(shutDown);
    return FALSE;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    Trace("%s", missing);
    CloseHandle(cleanUp);
    // TavrinAdmin runs without device mapping, so no clean-up will be told; the uninstall still needs it
    // gone, or its program file could not be removed with the rest.
    if (m_variant == Variant::Uninstaller) {
      EndClientWithoutCleanUp(shutDown, eventName);
    } else {
      CloseHandle(shutDown);
    }
    return FALSE;
  }
  ResetEvent(shutDown);
  ResetEvent(cleanUp);
  SetEvent(shutDown);
  if (WaitForSingleObject(cleanUp, m_cleanUpWaitMs) == WAIT_OBJECT_0) {
    Trace("StopClientApplication : WAIT_OBJECT_0 \n");
  } else {
    Trace("StopClientApplication : WAIT_TIMEOUT \n");
    if (m_variant == Variant::Uninstaller) Box("Timed out for waiting to shutdown AdminTool", MB_OK | MB_ICONERROR);
  }
  CloseHandle(cleanUp);
  // The signalled shut-down event must not outlive the old TavrinAdmin: a new one would find it set and end.
  CloseHandle(shutDown);
  Trace("Tavrin StopClientApplication ==>>\n");
  return TRUE;
}

void CInstaller::EndClientWithoutCleanUp(HANDLE shutDown, const char* eventName) {
  SetEvent(shutDown);
  // The event goes with its last handle, TavrinAdmin's, as the program ends.
  CloseHandle(shutDown);
  for (DWORD waited = 0;; waited += kPollMs) {
    HANDLE running = OpenEvent(SYNCHRONIZE, FALSE, eventName);
    if (!running) {
      Trace("StopClientApplication : TavrinAdmin ended \n");
      return;
    }
    CloseHandle(running);
    if (waited >= m_cleanUpWaitMs) break;
    Sleep(kPollMs);
  }
  Trace("StopClientApplication : WAIT_TIMEOUT \n");
  Box("Timed out for waiting to shutdown AdminTool", MB_OK | MB_ICONERROR);
}

}  // namespace installer
