// TavrinSetup and TavrinUninstall run as a user runs them: real processes on a fresh sysroot with an install
// medium staged under D:\Setup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "installed_programs.h"
#include "pelkobus/busenum.h"
#include "testsupport/eventually.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sysroot.h"
#include "win32/devices/device_nodes.h"
#include "win32/file.h"
#include "win32/setupapi.h"
#include "win32/sync.h"
#include "win32/user.h"
#include "win32/registry.h"
#include "win32/sysroot.h"

namespace {

namespace fs = std::filesystem;
using namespace installed;

class ProgramsTest : public MediumTest {
 protected:
  // The "RebootRequired" value the programs leave for the next start; 0 when it is not there.
  static DWORD RebootRequired() {
    DWORD value = 0, size = sizeof value, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                     KEY_READ, &key) != ERROR_SUCCESS)
      return 0;
    if (RegQueryValueEx(key, "RebootRequired", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
      value = 0;
    RegCloseKey(key);
    return value;
  }
  void TearDown() override {
    KillAdmin();
    host_.reset();
    unsetenv("TAVRIN_WINDOWS_VERSION");
    MediumTest::TearDown();
  }
  void StartHost() {
    host_.reset();  // the old host leaves the sysroot's socket before the new one binds it
    host_ = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string());
    ASSERT_TRUE(host_->WaitReady(10000));
  }
  static bool Exists(const std::string& windowsPath) { return fs::exists(tavrin::sysroot::MapPath(windowsPath)); }
  static bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // Asks the running TavrinAdmin to start device mapping, as its menu command does.
  static void StartMappingIn() {
    HWND frame = nullptr;
    ASSERT_TRUE(tavrin::test::Eventually([&] { return (frame = FindWindow(nullptr, "Pelko Admin")) != nullptr; }));
    ASSERT_TRUE(PostMessage(frame, WM_COMMAND, 32866, 0));  // "Start Device Mapping"
  }
  // Whether a named event comes to exist within 30 s.
  static bool WaitForNamedEvent(const char* name) {
    return tavrin::test::Eventually([&] {
      HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, name);
      if (event) CloseHandle(event);
      return event != nullptr;
    });
  }
  // How long a TavrinAdmin started by an update must stay: 10 s as a user would see it, shorter in the
  // suite (it ends within milliseconds when it finds its shut-down event signalled).
  static int AliveWaitMs() {
    const char* text = getenv("TAVRIN_TEST_ALIVE_WAIT_MS");
    return text && *text ? atoi(text) : 1500;
  }
  std::unique_ptr<tavrin::test::KernelHostProcess> host_;
};

TEST_F(ProgramsTest, SetupInstallsEverythingAndUninstallRemovesIt) {
  StartHost();
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  EXPECT_TRUE(KeyExists("SOFTWARE\\Tavrin"));
  EXPECT_NE(Text("C:\\TavrinSetup.log").find("--------- Start of Pelko Setup Application"), std::string::npos);
  EXPECT_NE(Text("C:\\TavrinSetup.log").find("--------- End of Pelko Setup Application"), std::string::npos);
  for (const char* f : {"TavrinAdmin.exe", "TftpServer.exe", "PelkoSettings.dll", "TavrinUninstall.exe"})
    EXPECT_TRUE(Exists(std::string("C:\\WINDOWS\\") + f)) << f;
  EXPECT_NE(Text("C:\\WINDOWS\\inf\\oem0.inf").find("Virtual Pelko Bus"), std::string::npos);
  EXPECT_TRUE(Exists("C:\\Documents and Settings\\User\\Desktop\\USB Server Admin Utility.LNK"));
  bool started = false;
  for (const auto& n : tavrin::device_nodes::QueryLiveNodes())
    if (n.instanceId == "ROOT\\VIZORIDO\\0000") started = n.started;
  EXPECT_TRUE(started);
  EXPECT_GT(AdminPid(), 0);

  KillAdmin();
  const std::string uninstall = tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinUninstall.exe").string();
  ASSERT_EQ(RunCommand("'" + uninstall + "'"), 0);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Tavrin"));
  EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\vizorido\\Parameters"));
  EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\VUSB\\Parameters"));
  for (const char* f : {"C:\\WINDOWS\\TavrinAdmin.exe", "C:\\WINDOWS\\TftpServer.exe", "C:\\WINDOWS\\PelkoSettings.dll",
                        "C:\\WINDOWS\\inf\\oem0.inf", "C:\\WINDOWS\\inf\\oem0.PNF", "C:\\WINDOWS\\inf\\vizorido.inf",
                        "C:\\WINDOWS\\System32\\drivers\\vizorido.sys", "C:\\WINDOWS\\System32\\drivers\\pelkobus.sys",
                        "C:\\Documents and Settings\\User\\Desktop\\USB Server Admin Utility.LNK"})
    EXPECT_FALSE(Exists(f)) << f;
  EXPECT_TRUE(Exists("C:\\WINDOWS\\TavrinUninstall.exe"));  // it cannot delete itself while it runs
  EXPECT_NE(Text("C:\\TavrinUninstall.log").find("Error DeleteFile C:\\WINDOWS\\TavrinUninstall.exe"), std::string::npos);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
  for (const auto& n : tavrin::device_nodes::QueryLiveNodes()) EXPECT_NE(n.instanceId, "ROOT\\VIZORIDO\\0000");
}

TEST_F(ProgramsTest, UninstallEndsATavrinAdminThatRunsWithoutDeviceMapping) {
  StartHost();
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  const pid_t admin = AdminPid();
  ASSERT_GT(admin, 0);
  // Up and listening for its shut-down event; no device mapping, so no clean-up event.
  ASSERT_TRUE(WaitForNamedEvent("TavrinAdminShutDownEvent")) << Text("C:\\WINDOWS\\TavrinAdmin.log");
  const int exited = WatchProcess(admin);
  ASSERT_GE(exited, 0);
  ASSERT_EQ(RunCommand("'" + tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinUninstall.exe").string() + "'"), 0);
  EXPECT_TRUE(Exited(exited, 0));  // gone before the uninstall ended
  close(exited);
  EXPECT_NE(Text("C:\\WINDOWS\\TavrinAdmin.log").find("End of Pelko Admin"), std::string::npos);
  for (const char* f : {"C:\\WINDOWS\\TavrinAdmin.exe", "C:\\WINDOWS\\TftpServer.exe", "C:\\WINDOWS\\PelkoSettings.dll"})
    EXPECT_FALSE(Exists(f)) << f;
  EXPECT_FALSE(KeyExists("SOFTWARE\\Tavrin"));
  const std::string log = Text("C:\\TavrinUninstall.log");
  EXPECT_NE(log.find(" Error:StopClientApplication  AdminShutDown event doesn't exists.\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Error DeleteFile C:\\WINDOWS\\TavrinAdmin.exe"), std::string::npos) << log;
}

// What an installation leaves on the machine: every registry value, every file of drive C: (logs aside)
// and the device nodes.
using MachineState = std::map<std::string, std::string>;

void AddRegistry(HKEY key, const std::string& path, MachineState& state) {
  for (DWORD i = 0;; ++i) {
    char name[260], data[2048];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValue(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
      break;
    state["registry " + path + " : " + name] = std::to_string(type) + " " + std::string(data, dataSize);
  }
  for (DWORD i = 0;; ++i) {
    char name[260];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyEx(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    state["registry " + path + "\\" + name];
    HKEY child = nullptr;
    if (RegOpenKeyEx(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    AddRegistry(child, path + "\\" + name, state);
    RegCloseKey(child);
  }
}

MachineState Snapshot() {
  MachineState state;
  AddRegistry(HKEY_LOCAL_MACHINE, "HKLM", state);
  AddRegistry(HKEY_CURRENT_USER, "HKCU", state);
  const fs::path drive = tavrin::sysroot::MapPath("C:\\");
  for (const auto& entry : fs::recursive_directory_iterator(drive)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".log") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    state["file " + fs::relative(entry.path(), drive).string()] =
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  for (const auto& node : tavrin::device_nodes::Load()) {
    std::string ids;
    for (const auto& id : node.hardwareIds) ids += id + ";";
    state["node " + node.instanceId] = ids + " " + node.service;
  }
  return state;
}

// Which entries differ, for the failure message.
std::string Difference(const MachineState& expected, const MachineState& actual) {
  std::string text;
  for (const auto& [key, value] : expected) {
    if (!actual.count(key))
      text += "missing: " + key + "\n";
    else if (actual.at(key) != value)
      text += "differs: " + key + "\n";
  }
  for (const auto& [key, value] : actual)
    if (!expected.count(key)) text += "extra: " + key + "\n";
  return text;
}

TEST_F(ProgramsTest, ARerunAfterAKillAtAnyStepEndsAsOneUninterruptedInstall) {
  // Small program files: the runs copy them many times. No kernel host: TavrinAdmin is not started.
  for (const char* f : {"TavrinAdmin.exe", "TftpServer.exe", "PelkoSettings.dll", "TavrinUninstall.exe"})
    std::ofstream(tavrin::sysroot::MapPath(std::string("D:\\Setup\\") + f), std::ios::trunc) << f << " image\n";
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  const MachineState installed = Snapshot();
  ASSERT_EQ(installed.count("node ROOT\\VIZORIDO\\0000"), 1u);
  const fs::path saved = tavrin::test::MakeTempDir("tavrin-installed-");
  for (const auto& entry : fs::directory_iterator(root()))
    if (entry.path().filename() != "D") fs::copy(entry.path(), saved / entry.path().filename(), fs::copy_options::recursive);

  // Killed as each step of a fresh install starts, then run again; and the same for an update's removal of
  // the old installation.
  for (bool update : {false, true}) {
    for (int step = 1;; ++step) {
      for (const auto& entry : fs::directory_iterator(root()))
        if (entry.path().filename() != "D") fs::remove_all(entry.path());
      if (update)
        for (const auto& entry : fs::directory_iterator(saved))
          fs::copy(entry.path(), root() / entry.path().filename(), fs::copy_options::recursive);
      setenv("TAVRIN_SETUP_KILL_AT_STEP", std::to_string(step).c_str(), 1);
      const int killed = RunSetup();
      unsetenv("TAVRIN_SETUP_KILL_AT_STEP");
      // An update that has removed the old installation goes on as a fresh install, whose steps the first
      // pass has killed already.
      const bool updateInstalls = update && Text("C:\\TavrinSetup.log").find("CInstaller::InstallSoftware ==>>") !=
                                                std::string::npos;
      ASSERT_EQ(RunSetup(), 0) << (update ? "update" : "install") << " killed at step " << step;
      const MachineState rerun = Snapshot();
      EXPECT_TRUE(rerun == installed) << (update ? "update" : "install") << " killed at step " << step << ":\n"
                                      << Difference(installed, rerun);
      if (killed == 0 || updateInstalls) break;  // it ran to the end: every step has been a kill point
    }
  }
  fs::remove_all(saved);
}

TEST_F(ProgramsTest, WithoutKernelHostARebootIsAskedForAndTavrinAdminNotStarted) {
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  EXPECT_EQ(RebootRequired(), 1u);
  EXPECT_TRUE(Exists("C:\\WINDOWS\\TavrinAdmin.exe"));
  EXPECT_EQ(AdminPid(), -1);
}

TEST_F(ProgramsTest, RefusalsChangeNothing) {
  setenv("TAVRIN_WINDOWS_VERSION", "4.10.1", 1);  // Windows 98
  EXPECT_NE(RunSetup(), 0);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Tavrin"));
  EXPECT_FALSE(Exists("C:\\WINDOWS\\TavrinAdmin.exe"));
  unsetenv("TAVRIN_WINDOWS_VERSION");
  // No "PATH=": refused before anything is changed.
  EXPECT_NE(RunSetup(""), 0);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Tavrin"));
  EXPECT_FALSE(tavrin::device_nodes::StoreExists());
  EXPECT_FALSE(Exists("C:\\WINDOWS\\inf\\vizorido.inf"));
}

// The uninstaller's window is its dialog, never shown; its system menu's item opens the About box, and
// the dialog's Exit ends the program before its road has begun, removing nothing.
TEST_F(ProgramsTest, TheUninstallersHiddenDialogOpensItsAboutBoxAndExitEndsItUntouched) {
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  const std::string uninstall = tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinUninstall.exe").string();
  ASSERT_TRUE(fs::exists(uninstall));
  setenv("TAVRIN_SETUP_PAUSE_MS", "600000", 1);  // its road waits until the test is done with the window
  int status = -1;
  std::thread program([&] { status = RunCommand("'" + uninstall + "'"); });
  HWND dialog = nullptr;
  EXPECT_TRUE(tavrin::test::Eventually([&] { return (dialog = FindWindow(nullptr, "TavrinUninstall")) != nullptr; }));
  if (dialog) {
    EXPECT_FALSE(IsWindowVisible(dialog));
    PostMessage(dialog, WM_SYSCOMMAND, 16, 0);
    HWND about = nullptr;
    EXPECT_TRUE(tavrin::test::Eventually([&] {
      return (about = FindWindow(nullptr, "About TavrinUninstall")) != nullptr && IsWindowVisible(about);
    }));
    if (about) PostMessage(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(tavrin::test::Eventually([&] { return FindWindow(nullptr, "About TavrinUninstall") == nullptr; }));
    PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
  } else {
    RunCommand("pkill -f '" + uninstall + "'");  // this sysroot's only
  }
  program.join();
  setenv("TAVRIN_SETUP_PAUSE_MS", "0", 1);
  EXPECT_EQ(status, 1) << "Exit ends the uninstaller as cancelled";
  EXPECT_TRUE(KeyExists("SOFTWARE\\Tavrin")) << "the installed system stays";
  EXPECT_TRUE(Exists("C:\\WINDOWS\\TavrinAdmin.exe"));
}

TEST_F(ProgramsTest, UpdateStopsTavrinAdminAndRemovalOfAHeldNodeWaitsForARestart) {
  StartHost();
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  KillAdmin();
  // Declined: nothing changes.
  setenv("TAVRIN_MSGBOX_ANSWER", "2", 1);
  EXPECT_EQ(RunSetup(), 0) << SetupLog();
  EXPECT_EQ(Text("C:\\TavrinSetup.log").find("UnInstallSoftware"), std::string::npos);
  EXPECT_EQ(AdminPid(), -1);
  setenv("TAVRIN_MSGBOX_ANSWER", "1", 1);

  // The installed TavrinAdmin, with device mapping started, holds both events and answers the shut-down.
  ASSERT_EQ(RunSetup(), 0) << SetupLog();
  const pid_t old = AdminPid();
  ASSERT_GT(old, 0);
  StartMappingIn();
  ASSERT_TRUE(WaitForNamedEvent("TavrinAdminCleanUpDone")) << Text("C:\\WINDOWS\\TavrinAdmin.log");
  const int oldExit = WatchProcess(old);
  ASSERT_GE(oldExit, 0);
  EXPECT_EQ(RunSetup(), 0) << SetupLog();
  EXPECT_TRUE(Exited(oldExit, 0));  // gone before setup ended: its image was replaced
  close(oldExit);
  const std::string log = Text("C:\\TavrinSetup.log");
  // The log is a text-mode file: each line ends in CR LF.
  EXPECT_NE(log.find("StopClientApplication : WAIT_OBJECT_0 \r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Launch the Tavrin Admin  application"), std::string::npos);
  // The new TavrinAdmin finds its shut-down event unsignalled and stays.
  const pid_t renewed = AdminPid();
  ASSERT_GT(renewed, 0);
  EXPECT_NE(renewed, old);
  ASSERT_TRUE(WaitForNamedEvent("TavrinAdminShutDownEvent"));
  HANDLE shutDown = OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent");
  ASSERT_NE(shutDown, nullptr);
  EXPECT_EQ(WaitForSingleObject(shutDown, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(shutDown);
  const int renewedExit = WatchProcess(renewed);
  ASSERT_GE(renewedExit, 0);
  EXPECT_FALSE(Exited(renewedExit, AliveWaitMs()));
  close(renewedExit);
  KillAdmin();

  // A program holding the enumerator open: the root node goes at the next start, and a reboot is asked for.
  HDEVINFO set = SetupDiGetClassDevs(&GUID_DEVINTERFACE_BUSENUM, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_BUSENUM, 0, &data));
  char buffer[512];
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA>(buffer);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA);
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetail(set, &data, detail, sizeof buffer, nullptr, nullptr));
  SetupDiDestroyDeviceInfoList(set);
  HANDLE held = CreateFile(detail->DevicePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_EQ(RunCommand("'" + tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinUninstall.exe").string() + "'"), 0);
  EXPECT_NE(Text("C:\\TavrinUninstall.log").find("cmdRemove: Reboot Required..."), std::string::npos);
  EXPECT_EQ(RebootRequired(), 1u);
  CloseHandle(held);
}

}  // namespace
