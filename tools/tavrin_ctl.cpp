// tavrin-ctl: drives the programs of a sysroot from outside, as a user or an installer would.
//   install [--trace-level N] [--refresh MS] [--stop-period MS]
//                          the registry keys an installation leaves behind (product key and parameters),
//                          and the outside programs TavrinAdmin uses (TftpServer.exe, PelkoSettings.dll)
//                          copied into the Windows directory
//   command ID             posts the menu command ID to the running TavrinAdmin ("Pelko Admin" window)
//   set-event NAME         sets a named event (TavrinAdminShutDownEvent asks TavrinAdmin to end)
//   wait-event NAME MS     waits for a named event; exit 0 when it was set, 1 on time-out
//   stage-media FOLDER     an install medium in FOLDER (e.g. D:\\Setup\\): the programs, the INFs and the
//                          driver files that TavrinSetup "PATH=FOLDER" installs
//   logon                  starts what the Run keys list, as a user's logon does
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "win32/sysroot.h"
#include "win32/windows.h"

namespace {

bool SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

int Install(int argc, char** argv) {
  DWORD traceLevel = 3, refresh = 5000, stopPeriod = 180000;
  for (int i = 0; i + 1 < argc; i += 2) {
    DWORD value = static_cast<DWORD>(strtoul(argv[i + 1], nullptr, 0));
    if (!strcmp(argv[i], "--trace-level")) traceLevel = value;
    else if (!strcmp(argv[i], "--refresh")) refresh = value;
    else if (!strcmp(argv[i], "--stop-period")) stopPeriod = value;
    else return 2;
  }
  HKEY product = nullptr, parameters = nullptr;
  const char folder[] = "C:\\WINDOWS";
  bool ok = RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &product, nullptr) == ERROR_SUCCESS &&
            RegSetValueEx(product, "TavrinFolderPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                          sizeof folder) == ERROR_SUCCESS &&
            RegCreateKeyEx(product, "Parameters", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &parameters, nullptr) == ERROR_SUCCESS &&
            SetDword(parameters, "AppTraceLevel", traceLevel) && SetDword(parameters, "AppGuiRefreshPeriod", refresh) &&
            SetDword(parameters, "AppStopDeviceMappingPeriod", stopPeriod);
  if (parameters) RegCloseKey(parameters);
  if (product) RegCloseKey(product);
  if (!ok) fprintf(stderr, "tavrin-ctl: cannot write the registry\n");
  for (auto [built, installed] : {std::pair{TAVRIN_TFTPSERVER_FILE, "TftpServer.exe"},
                                  std::pair{TAVRIN_PELKOSETTINGS_FILE, "PelkoSettings.dll"}}) {
    std::error_code ec;
    std::filesystem::copy_file(built, tavrin::sysroot::WindowsDir() / installed,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      fprintf(stderr, "tavrin-ctl: cannot install %s: %s\n", installed, ec.message().c_str());
      ok = false;
    }
  }
  return ok ? 0 : 1;
}

int Command(const char* id) {
  HWND frame = FindWindow(nullptr, "Pelko Admin");
  if (!frame || !PostMessage(frame, WM_COMMAND, static_cast<WPARAM>(strtoul(id, nullptr, 0)), 0)) {
    fprintf(stderr, "tavrin-ctl: TavrinAdmin is not running\n");
    return 1;
  }
  return 0;
}

int SetNamedEvent(const char* name) {
  HANDLE event = OpenEvent(EVENT_MODIFY_STATE, FALSE, name);
  if (!event) {
    fprintf(stderr, "tavrin-ctl: no event %s\n", name);
    return 1;
  }
  BOOL ok = SetEvent(event);
  CloseHandle(event);
  return ok ? 0 : 1;
}

int WaitNamedEvent(const char* name, const char* ms) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, name);
  if (!event) return 2;
  DWORD result = WaitForSingleObject(event, static_cast<DWORD>(strtoul(ms, nullptr, 0)));
  CloseHandle(event);
  return result == WAIT_OBJECT_0 ? 0 : 1;
}

int StageMedia(const char* folder) {
  const std::filesystem::path target = tavrin::sysroot::MapPath(folder);
  std::error_code ec;
  std::filesystem::create_directories(target, ec);
  bool ok = !ec;
  for (auto [built, staged] : {std::pair{TAVRIN_ADMIN_FILE, "TavrinAdmin.exe"},
                               std::pair{TAVRIN_TFTPSERVER_FILE, "TftpServer.exe"},
                               std::pair{TAVRIN_PELKOSETTINGS_FILE, "PelkoSettings.dll"},
                               std::pair{TAVRIN_SETUP_FILE, "TavrinSetup.exe"},
                               std::pair{TAVRIN_UNINSTALL_FILE, "TavrinUninstall.exe"},
                               std::pair{TAVRIN_MEDIA_DIR "/vizorido.inf", "vizorido.inf"},
                               std::pair{TAVRIN_MEDIA_DIR "/pelkobus.inf", "pelkobus.inf"},
                               std::pair{TAVRIN_MEDIA_DIR "/vizorido.sys", "vizorido.sys"},
                               std::pair{TAVRIN_MEDIA_DIR "/pelkobus.sys", "pelkobus.sys"}}) {
    std::filesystem::copy_file(built, target / staged, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      fprintf(stderr, "tavrin-ctl: cannot stage %s: %s\n", staged, ec.message().c_str());
      ok = false;
    }
  }
  return ok ? 0 : 1;
}

int Logon() {
  int failed = 0;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY run = nullptr;
    if (RegOpenKeyEx(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_QUERY_VALUE, &run) != ERROR_SUCCESS)
      continue;
    for (DWORD i = 0;; ++i) {
      char name[256], command[1024];
      DWORD nameSize = sizeof name, commandSize = sizeof command, type = 0;
      if (RegEnumValue(run, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(command), &commandSize) !=
          ERROR_SUCCESS)
        break;
      if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
      STARTUPINFO startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process{};
      if (!CreateProcess(nullptr, command, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                         &process)) {
        fprintf(stderr, "tavrin-ctl: cannot start %s (%s): %u\n", name, command, static_cast<unsigned>(GetLastError()));
        ++failed;
        continue;
      }
      printf("started %s: %s\n", name, command);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    RegCloseKey(run);
  }
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "install") return Install(argc - 2, argv + 2);
  if (verb == "command" && argc == 3) return Command(argv[2]);
  if (verb == "set-event" && argc == 3) return SetNamedEvent(argv[2]);
  if (verb == "wait-event" && argc == 4) return WaitNamedEvent(argv[2], argv[3]);
  if (verb == "stage-media" && argc == 3) return StageMedia(argv[2]);
  if (verb == "logon" && argc == 2) return Logon();
  fprintf(stderr, "usage: %s install [--trace-level N] [--refresh MS] [--stop-period MS] | command ID | "
                  "set-event NAME | wait-event NAME MS | stage-media FOLDER | logon\n", argv[0]);
  return 2;
}
