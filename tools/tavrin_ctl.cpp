// tavrin-ctl: drives the programs of a sysroot from outside, as a user or an installer would.
//   install [--trace-level N] [--refresh MS] [--stop-period MS]
//                          the registry keys an installation leaves behind (product key and parameters),
//                          and the outside programs TavrinAdmin uses (TftpServer.exe, PelkoSettings.dll)
//                          copied into the Windows directory
//   command ID             posts the menu command ID to the running TavrinAdmin ("Pelko Admin" window)
//   set-event NAME         sets a named event (TavrinAdminShutDownEvent asks TavrinAdmin to end)
//   wait-event NAME MS     waits for a named event; exit 0 when it was set, 1 on time-out
//   add-printer NAME IP PORT VID PID REV
//                          a Windows printer on the USB printer at port PORT of server IP, as installing it
//                          once leaves it, set to connect automatically while it has print jobs
//   print NAME | print-done NAME
//                          one more / one less job in the printer's queue
//   windows                the windows of the running programs, Win32 and Mac alike (class, id, text,
//                          rectangle, visible, enabled, a top-level window's role; Win32 adds a check box's
//                          state and a list's rows)
//   show TITLE             shows a program's top-level window and brings it to the front
//   screenshot [--window TITLE] FILE
//                          a PNG of a window, or of the screen of the first program with windows
//   click [--window TITLE] X Y [left|right|middle] [COUNT]
//                          a mouse click at X Y of the window (of the program's first window without --window)
//   key [--window TITLE] TEXT
//                          types TEXT into the window's focus
//   tray dblclick|rclick   a double click or a right click on the first program's notification-area icon
//   stage-media FOLDER     an install medium in FOLDER (e.g. D:\\Setup\\): the programs, the INFs and the
//                          driver files that TavrinSetup "PATH=FOLDER" installs
//   logon                  starts what the Run keys list, as a user's logon does
//   logoff | shutdown      ends the session as the system would: each program with windows is asked
//                          (WM_QUERYENDSESSION) and, when none refuses, ends; exit 1 when one refused
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gui/sysroot_windows.h"
#include "win32/shell.h"
#include "win32/sysroot.h"
#include "win32/window_manager.h"
#include "win32/windows.h"
#include "win32/winsock.h"
#include "win32/winspool.h"

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

// The keys that Windows keeps for a printer installed on a USB device of a server, and TavrinAdmin's own
// auto-connect key for it.
int AddPrinter(char** argv) {
  const std::string name = argv[0];
  const DWORD address = inet_addr(argv[1]);
  const DWORD port = static_cast<DWORD>(strtoul(argv[2], nullptr, 0));
  const WORD vid = static_cast<WORD>(strtoul(argv[3], nullptr, 0));
  const WORD pid = static_cast<WORD>(strtoul(argv[4], nullptr, 0));
  const WORD rev = static_cast<WORD>(strtoul(argv[5], nullptr, 0));
  char deviceKey[64];
  snprintf(deviceKey, sizeof deviceKey, "Vid_%.4x&Pid_%.4x", vid, pid);
  const std::string prefix = "7&1a2b3c&" + std::to_string(port);
  const std::string node =
      std::string("System\\CurrentControlSet\\Enum\\USB\\") + deviceKey + "\\5&77&0&" + std::to_string(port);
  std::string upper = prefix;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string spooler = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers\\" + name;
  const std::string own = "SOFTWARE\\Tavrin\\Printers\\" + name;
  namespace reg = tavrin::registry;
  bool ok = reg::SetDword(HKEY_LOCAL_MACHINE, node, "UINumber", address) == ERROR_SUCCESS &&
            reg::SetString(HKEY_LOCAL_MACHINE, node, "ParentIdPrefix", prefix) == ERROR_SUCCESS &&
            reg::SetString(HKEY_LOCAL_MACHINE, node, "Service", "usbprint") == ERROR_SUCCESS &&
            reg::SetString(HKEY_LOCAL_MACHINE, spooler, "Name", name) == ERROR_SUCCESS &&
            reg::SetString(HKEY_LOCAL_MACHINE, spooler + "\\PnPData", "DeviceInstanceID",
                           "USBPRINT\\MAKER_MODEL\\" + upper + "&0") == ERROR_SUCCESS &&
            reg::SetDword(HKEY_LOCAL_MACHINE, own, "DeviceIP", address) == ERROR_SUCCESS &&
            reg::SetDword(HKEY_LOCAL_MACHINE, own, "DevicePort", port) == ERROR_SUCCESS &&
            reg::SetValue(HKEY_LOCAL_MACHINE, own, "Rev", REG_BINARY, &rev, 2) == ERROR_SUCCESS &&
            reg::SetValue(HKEY_LOCAL_MACHINE, own, "Pid", REG_BINARY, &pid, 2) == ERROR_SUCCESS &&
            reg::SetValue(HKEY_LOCAL_MACHINE, own, "Vid", REG_BINARY, &vid, 2) == ERROR_SUCCESS &&
            reg::SetDword(HKEY_LOCAL_MACHINE, own, "AutoReconnect", 1) == ERROR_SUCCESS && tavrin::spool::AddPrinter(name);
  if (!ok) fprintf(stderr, "tavrin-ctl: cannot install the printer\n");
  return ok ? 0 : 1;
}

int PrintJob(const char* name, bool add) {
  bool ok = add ? tavrin::spool::AddJob(name) : tavrin::spool::RemoveJob(name);
  if (!ok) fprintf(stderr, "tavrin-ctl: no printer %s\n", name);
  return ok ? 0 : 1;
}

namespace automation = tavrin::gui::automation;

// --window TITLE (optional) at args[i]: the window; else the first top-level window of another program.
std::optional<automation::PublishedWindow> TargetWindow(int argc, char** argv, int& i) {
  if (i + 1 < argc && !strcmp(argv[i], "--window")) {
    auto window = automation::FindByTitle(argv[i + 1]);
    i += 2;
    if (!window) fprintf(stderr, "tavrin-ctl: no window \"%s\"\n", argv[i - 1]);
    return window;
  }
  auto windows = automation::OtherProcessesWindows();
  if (!windows.empty()) return windows.front();
  fprintf(stderr, "tavrin-ctl: no program has windows\n");
  return std::nullopt;
}

int Windows() {
  for (auto& line : automation::ListAllWindows()) printf("%s\n", line.c_str());
  return 0;
}

int Show(const char* title) {
  HWND hwnd = FindWindow(nullptr, title);
  if (!hwnd) {
    fprintf(stderr, "tavrin-ctl: no window \"%s\"\n", title);
    return 1;
  }
  ShowWindow(hwnd, SW_SHOW);
  return SetForegroundWindow(hwnd) ? 0 : 1;
}

int Screenshot(int argc, char** argv) {
  int i = 0;
  std::optional<automation::PublishedWindow> window;
  if (argc > 2 && !strcmp(argv[0], "--window")) {
    window = TargetWindow(argc, argv, i);
    if (!window) return 1;
  }
  if (i + 1 != argc) return 2;
  std::vector<uint8_t> png;
  if (!automation::Screenshot(window ? &*window : nullptr, png)) {
    fprintf(stderr, "tavrin-ctl: no screenshot\n");
    return 1;
  }
  FILE* out = fopen(argv[i], "wb");
  bool ok = out && fwrite(png.data(), 1, png.size(), out) == png.size();
  if (out) ok = fclose(out) == 0 && ok;
  if (!ok) fprintf(stderr, "tavrin-ctl: cannot write %s\n", argv[i]);
  return ok ? 0 : 1;
}

int Input(const char* verb, int argc, char** argv) {
  int i = 0;
  auto window = TargetWindow(argc, argv, i);
  if (!window) return 1;
  if (i >= argc) return 2;
  std::string command = verb;
  for (; i < argc; ++i) command += std::string(" ") + argv[i];
  if (!automation::Input(*window, command)) {
    fprintf(stderr, "tavrin-ctl: the input was not taken\n");
    return 1;
  }
  return 0;
}

int Tray(const std::string& action) {
  if (action != "dblclick" && action != "rclick") return 2;
  HWND icon = FindWindow(tavrin::tray::kTrayWindowClass, nullptr);
  if (!icon) {
    fprintf(stderr, "tavrin-ctl: no program shows a tray icon\n");
    return 1;
  }
  const int middle = tavrin::tray::kTrayWindowSize / 2;
  const std::string at = std::to_string(middle) + " " + std::to_string(middle);
  if (!tavrin::win::RemoteInput(icon, "click " + at + (action == "dblclick" ? " left 2" : " right"))) {
    fprintf(stderr, "tavrin-ctl: the input was not taken\n");
    return 1;
  }
  return 0;
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

int EndSession(bool logoff) {
  DWORD refusedBy = 0;
  if (!tavrin::win::EndSessionEverywhere(logoff ? ENDSESSION_LOGOFF : 0, &refusedBy)) {
    printf("refused by process %u\n", static_cast<unsigned>(refusedBy));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "install") return Install(argc - 2, argv + 2);
  if (verb == "command" && argc == 3) return Command(argv[2]);
  if (verb == "set-event" && argc == 3) return SetNamedEvent(argv[2]);
  if (verb == "wait-event" && argc == 4) return WaitNamedEvent(argv[2], argv[3]);
  if (verb == "add-printer" && argc == 8) return AddPrinter(argv + 2);
  if (verb == "print" && argc == 3) return PrintJob(argv[2], true);
  if (verb == "print-done" && argc == 3) return PrintJob(argv[2], false);
  if (verb == "windows" && argc == 2) return Windows();
  if (verb == "show" && argc == 3) return Show(argv[2]);
  if (verb == "screenshot" && argc >= 3) return Screenshot(argc - 2, argv + 2);
  if ((verb == "click" || verb == "key") && argc >= 3) {
    int result = Input(verb == "click" ? "click" : "text", argc - 2, argv + 2);
    if (result != 2) return result;
  }
  if (verb == "tray" && argc == 3) {
    int result = Tray(argv[2]);
    if (result != 2) return result;
  }
  if (verb == "stage-media" && argc == 3) return StageMedia(argv[2]);
  if (verb == "logon" && argc == 2) return Logon();
  if ((verb == "logoff" || verb == "shutdown") && argc == 2) return EndSession(verb == "logoff");
  fprintf(stderr, "usage: %s install [--trace-level N] [--refresh MS] [--stop-period MS] | command ID | "
                  "set-event NAME | wait-event NAME MS | add-printer NAME IP PORT VID PID REV | print NAME | "
                  "print-done NAME | windows | show TITLE | screenshot [--window TITLE] FILE | "
                  "click [--window TITLE] X Y [BUTTON] [COUNT] | key [--window TITLE] TEXT | tray dblclick|rclick | "
                  "stage-media FOLDER | "
                  "logon | logoff | shutdown\n", argv[0]);
  return 2;
}
