#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "admin/LogFile.h"
#include "installer/FileSearcher.h"
#include "installer/InstallPath.h"
#include "installer/Installer.h"
#include "testsupport/sysroot.h"
#include "win32/osversion.h"
#include "win32/process.h"
#include "win32/registry.h"
#include "win32/shlwapi.h"
#include "win32/sync.h"
#include "win32/sysroot.h"
#include "win32/user.h"

namespace {

namespace fs = std::filesystem;
using installer::CInstaller;
using installer::FileSearcher;
using installer::FileSearchFilter;
using installer::InstallPath;

TEST(PathCut, FolderBehindPath) {
  std::string folder;
  ASSERT_TRUE(installer::SourceFolderFromCommandLine("TavrinSetup \"PATH=D:\\Setup\\\"", &folder));
  EXPECT_EQ(folder, "D:\\Setup\\");
  ASSERT_TRUE(installer::SourceFolderFromCommandLine("TavrinSetup PATH=D:\\Setup\\", &folder));
  EXPECT_EQ(folder, "D:\\Setup");
  // A drive root keeps only the drive, so that "\" and a file name can follow.
  ASSERT_TRUE(installer::SourceFolderFromCommandLine("TavrinSetup \"PATH=D:\\\"", &folder));
  EXPECT_EQ(folder, "D:");
  EXPECT_FALSE(installer::SourceFolderFromCommandLine("TavrinSetup", &folder));
  EXPECT_FALSE(installer::SourceFolderFromCommandLine("TavrinSetup PATH=", &folder));
  EXPECT_FALSE(installer::SourceFolderFromCommandLine("TavrinSetup PATH=x", &folder));
}

TEST(InstallPathSplit, DriveFolderTitleExtension) {
  InstallPath p("C:/Temp/x.inf");
  EXPECT_EQ(p.Drive(), "C:");
  EXPECT_EQ(p.Folder(), "\\Temp\\");
  EXPECT_EQ(p.FileTitle(), "x");
  EXPECT_EQ(p.Extension(), "inf");
  EXPECT_FALSE(p.IsRelative());
  EXPECT_EQ(p.FullPath(), "C:\\Temp\\x.inf");

  InstallPath folder("C:\\WINDOWS\\inf", true);
  EXPECT_EQ(folder.Folder(), "\\WINDOWS\\inf\\");
  EXPECT_EQ(folder.FileTitle(), "");
  ASSERT_EQ(folder.FolderParts().size(), 2u);
  EXPECT_EQ(folder.FolderParts()[1], "inf");

  InstallPath quoted("\"C:\\Program Files\\a.b.exe\" /s", false, true);
  EXPECT_EQ(quoted.Arguments(), "/s");
  EXPECT_EQ(quoted.FileTitle(), "a.b");
  EXPECT_EQ(quoted.Extension(), "exe");
  EXPECT_EQ(quoted.FullPath(true), "C:\\Program Files\\a.b.exe /s");

  EXPECT_TRUE(InstallPath("sub\\x.txt").IsRelative());
  EXPECT_EQ(InstallPath::AddBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(InstallPath::AddBackslash("C:\\a/"), "C:\\a/");
  EXPECT_EQ(InstallPath::AddBackslash("C:\\a", true), "C:\\a/");
}

class FileSearchTest : public tavrin::test::SysrootTest {
 protected:
  void Write(const std::string& windowsPath, const std::string& bytes) {
    auto path = tavrin::sysroot::MapPath(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Utf16(const std::string& text) {
    std::string out("\xFF\xFE", 2);
    for (char c : text) out += c, out += '\0';
    return out;
  }
};

TEST_F(FileSearchTest, FindsTextInAnsiUtf16AndAcrossReads) {
  Write("C:\\WINDOWS\\inf\\oem1.inf", "[Strings]\nDesc=\"Virtual Pelko Bus\"\n");
  Write("C:\\WINDOWS\\inf\\oem2.inf", Utf16("[Strings]\nDesc=\"virtual pelko bus\"\n"));
  Write("C:\\WINDOWS\\inf\\oem3.inf", "[Strings]\nDesc=\"Other Bus\"\n");
  Write("C:\\WINDOWS\\inf\\sub\\oem4.inf", std::string(1000, 'x') + "Virtual Pelko Bus");
  Write("C:\\WINDOWS\\inf\\oem5.PNF", "Virtual Pelko Bus");
  FileSearchFilter filter;
  filter.folder = "C:\\WINDOWS\\inf";
  filter.mask = "*.inf";
  filter.subFolders = 1;
  filter.SetContainedText("Virtual Pelko Bus");
  FileSearcher searcher;
  int codes[4] = {};
  searcher.SetCallback([](FileSearcher*, int code, void* user) { ++static_cast<int*>(user)[code]; }, codes);
  EXPECT_EQ(searcher.Search(filter), 3);
  std::vector<std::string> names;
  for (int i = 0; i < searcher.Count(); ++i) names.push_back(searcher.PathAt(i).FileName());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"oem1.inf", "oem2.inf", "oem4.inf"}));
  EXPECT_EQ(codes[FileSearcher::kMatched], 3);
  EXPECT_EQ(codes[FileSearcher::kNotMatched], 1);
  EXPECT_EQ(searcher.PathAt(7).FullPath(), "");
}

TEST_F(FileSearchTest, LongTextsAndMatchesAtEveryOffset) {
  const std::string text(100, 'q');  // longer than 64: the buffer is twice its length
  FileSearcher searcher;
  for (size_t offset : {0u, 1u, 99u, 100u, 101u, 199u, 200u, 1234u}) {
    Write("C:\\t.bin", std::string(offset, 'a') + text + "zz");
    EXPECT_TRUE(searcher.ContainsText("C:\\t.bin", text)) << offset;
    Write("C:\\t.bin", std::string(offset, 'a') + text.substr(1) + "zz");
    EXPECT_FALSE(searcher.ContainsText("C:\\t.bin", text)) << offset;
  }
  EXPECT_FALSE(searcher.ContainsText("C:\\missing.bin", "x"));
  EXPECT_FALSE(searcher.ContainsText("C:\\t.bin", ""));
}

class InstallerStepsTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    tavrin::SetMessageBoxSink([this](const std::string& text, const std::string&, UINT) {
      boxes_.push_back(text);
      return IDOK;
    });
    log_.Open("Test", "C:\\test.log", TRUE, TRUE);
  }
  void TearDown() override {
    tavrin::SetMessageBoxSink({});
    log_.Close();
    SysrootTest::TearDown();
  }
  std::string Log() {
    std::ifstream in(tavrin::sysroot::MapPath("C:\\test.log"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::erase(text, '\r');  // the log is written in text mode
    return text;
  }
  CLogFile log_;
  std::vector<std::string> boxes_;
};

TEST_F(InstallerStepsTest, RunValueIsWrittenWithItsTerminator) {
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  ASSERT_TRUE(setup.AddAdminExeToStartup());
  HKEY run = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ, &run),
            ERROR_SUCCESS);
  const std::string hive = [] {
    std::ifstream in(tavrin::sysroot::Root() / "registry.hive");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  EXPECT_NE(hive.find("USB Server Admin Utility=C:%5CWINDOWS%5CTavrinAdmin.exe%00"), std::string::npos);
  RegCloseKey(run);
  EXPECT_TRUE(setup.RemoveFromStartUp("USB Server Admin Utility", TRUE));
  EXPECT_FALSE(setup.RemoveFromStartUp("USB Server Admin Utility", TRUE));
}

TEST_F(InstallerStepsTest, StopClientApplicationLeavesNoSignalledShutDownEvent) {
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  setup.SetCleanUpWait(5000);
  // Nothing runs: the event is made and given up at once.
  EXPECT_FALSE(setup.StopClientApplication("TavrinAdminShutDownEvent"));

  // A TavrinAdmin with device mapping: both events exist; it answers the shut-down with the clean-up.
  HANDLE shutDown = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  HANDLE cleanUp = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminCleanUpDone");
  std::thread admin([&] {
    WaitForSingleObject(shutDown, INFINITE);
    SetEvent(cleanUp);
    CloseHandle(shutDown);  // the old TavrinAdmin ends
    CloseHandle(cleanUp);
  });
  EXPECT_TRUE(setup.StopClientApplication("TavrinAdminShutDownEvent"));
  admin.join();
  EXPECT_NE(Log().find("StopClientApplication : WAIT_OBJECT_0 \n"), std::string::npos);
  // The next TavrinAdmin makes its event afresh, not signalled.
  HANDLE next = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(next, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(next);
}

TEST_F(InstallerStepsTest, TheUninstallerEndsATavrinAdminWithoutDeviceMappingOrSaysItCouldNot) {
  // Only the shut-down event: the program runs without device mapping. It ends when the event is set.
  CInstaller uninstall(CInstaller::Variant::Uninstaller, &log_);
  uninstall.SetCleanUpWait(5000);
  HANDLE shutDown = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  std::thread admin([&] {
    WaitForSingleObject(shutDown, INFINITE);
    CloseHandle(shutDown);
  });
  EXPECT_FALSE(uninstall.StopClientApplication("TavrinAdminShutDownEvent"));
  admin.join();
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent"), nullptr);
  std::string log = Log();
  EXPECT_NE(log.find(" Error:StopClientApplication  AdminShutDown event doesn't exists.\n"), std::string::npos) << log;
  EXPECT_NE(log.find("StopClientApplication : TavrinAdmin ended \n"), std::string::npos) << log;
  EXPECT_TRUE(boxes_.empty());

  // One that does not end: the wait has its bound and the user hears of it.
  uninstall.SetCleanUpWait(100);
  HANDLE hung = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  EXPECT_FALSE(uninstall.StopClientApplication("TavrinAdminShutDownEvent"));
  EXPECT_EQ(WaitForSingleObject(hung, 0), static_cast<DWORD>(WAIT_OBJECT_0));  // it was asked
  EXPECT_EQ(boxes_, std::vector<std::string>{"Timed out for waiting to shutdown AdminTool"});
  CloseHandle(hung);

  // Setup's road leaves such a program alone: the update that cannot replace it fails.
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  HANDLE running = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  EXPECT_FALSE(setup.StopClientApplication("TavrinAdminShutDownEvent"));
  EXPECT_EQ(WaitForSingleObject(running, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(running);
}

TEST_F(InstallerStepsTest, UninstallOfNothingTracesEveryFailureAndSucceeds) {
  CInstaller uninstall(CInstaller::Variant::Uninstaller, &log_);
  uninstall.Devices().SetRemoveTexts("Removed", "Removed on reboot", "Remove failed");
  EXPECT_TRUE(uninstall.UnInstallSoftware());
  std::string log = Log();
  for (const char* line : {"DeleteEntryFromDeskTop Failed...\n", "RemoveFromStartUp Failed...\n",
                           "RemoveFromAddRemovePrograms Failed...\n", "DeleteHistory Failed...\n",
                           "BUSENUM_SYS DeleteSysFiles() Failed...\n", "TFTP_SERVER_EXE DelExeFiles Failed...\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_TRUE(boxes_.empty());
  // The setup's road reports the missing TavrinAdmin.exe as gone.
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  setup.Devices().SetRemoveTexts("Removed", "Removed on reboot", "Remove failed");
  EXPECT_TRUE(setup.UnInstallSoftware());
}

TEST_F(InstallerStepsTest, OemInfSweepDeletesOnlyTheBusDriversCopies) {
  auto write = [](const std::string& p, const std::string& text) {
    auto path = tavrin::sysroot::MapPath(p);
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  };
  write("C:\\WINDOWS\\inf\\oem3.inf", "Desc=\"Virtual Pelko Bus\"");
  write("C:\\WINDOWS\\inf\\oem3.PNF", "PNF");
  write("C:\\WINDOWS\\inf\\oem4.inf", "Desc=\"Some Other Device\"");
  write("C:\\WINDOWS\\inf\\pelkobus.inf", "anything");
  CInstaller uninstall(CInstaller::Variant::Uninstaller, &log_);
  EXPECT_TRUE(uninstall.DeleteOemInfFiles());
  EXPECT_FALSE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\inf\\oem3.inf")));
  EXPECT_FALSE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\inf\\oem3.PNF")));
  EXPECT_TRUE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\inf\\oem4.inf")));
  EXPECT_FALSE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\inf\\pelkobus.inf")));
}

TEST_F(InstallerStepsTest, DesktopShortcutIsARealLinkFile) {
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  ASSERT_TRUE(setup.AddEntryToDeskTop());
  const std::string link = "C:\\Documents and Settings\\User\\Desktop\\USB Server Admin Utility.LNK";
  EXPECT_EQ(tavrin::shell::ReadLinkTarget(link), "C:\\WINDOWS\\TavrinAdmin.exe");
  EXPECT_TRUE(setup.DeleteEntryFromDeskTop());
  EXPECT_FALSE(setup.DeleteEntryFromDeskTop());
}

}  // namespace

namespace {

TEST_F(InstallerStepsTest, ARunningProgramsImageIsDeletedOnceItHasEnded) {
  const auto image = tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.exe");
  fs::create_directories(image.parent_path());
  fs::copy_file("/bin/sleep", image);
  char line[] = "C:\\WINDOWS\\TavrinAdmin.exe 0.5";
  STARTUPINFO startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcess(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  CInstaller setup(CInstaller::Variant::Setup, &log_);
  setup.SetInUseRetry(0);
  EXPECT_FALSE(setup.DelExeFiles("TavrinAdmin.exe"));  // in use
  EXPECT_TRUE(fs::exists(image));
  setup.SetInUseRetry(10000);
  EXPECT_TRUE(setup.DelExeFiles("TavrinAdmin.exe"));  // tried again until the program has ended
  EXPECT_FALSE(fs::exists(image));
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

namespace {

TEST(MachineSupport, VersionRecordsOfBothSizes) {
  OSVERSIONINFOEX ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionEx(reinterpret_cast<OSVERSIONINFO*>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 5u);
  EXPECT_EQ(ex.dwMinorVersion, 1u);
  EXPECT_EQ(ex.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(ex.wServicePackMajor, 2);
  OSVERSIONINFO plain{};
  plain.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionEx(&plain));
  plain.dwOSVersionInfoSize = sizeof plain;
  tavrin::os::SetVersionForTest(4, 10, VER_PLATFORM_WIN32_WINDOWS);
  ASSERT_TRUE(GetVersionEx(&plain));
  EXPECT_EQ(plain.dwMajorVersion, 4u);
  EXPECT_EQ(plain.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  tavrin::os::SetVersionForTest(0, 0, 0);
  ASSERT_TRUE(GetVersionEx(&plain));
  EXPECT_EQ(plain.dwMajorVersion, 5u);
}

class ShellSupportTest : public tavrin::test::SysrootTest {};

TEST_F(ShellSupportTest, DeleteKeyTakesTheWholeTree) {
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\A\\B", "x", "1"), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\C", "y", "2"), ERROR_SUCCESS);
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKey(software, "Tavrin"), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKey(software, "Tavrin"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(software);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST(ShellPaths, ArgumentsAndQuotes) {
  char line[] = "\"C:\\Program Files\\x.exe\" -a -b";
  EXPECT_STREQ(PathGetArgs(line), "-a -b");
  PathRemoveArgs(line);
  EXPECT_STREQ(line, "\"C:\\Program Files\\x.exe\"");
  EXPECT_TRUE(PathUnquoteSpaces(line));
  EXPECT_STREQ(line, "C:\\Program Files\\x.exe");
  EXPECT_FALSE(PathUnquoteSpaces(line));
}

}  // namespace
