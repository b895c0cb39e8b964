#include <signal.h>
#include <unistd.h>

#include "procs_fixture.h"
#include "testsupport/eventually.h"

namespace {

TEST_F(ProcsTest, ChildSeesTheExactCommandLine) {
  const std::string line = "peer.exe  write-cmdline \"C:\\out file.txt\" TFTP_ROOT=C:\\a folder\\with \"quotes\"";
  auto info = Start(line);
  EXPECT_EQ(Finish(info), 0u);
  EXPECT_EQ(ReadFileText("C:\\out file.txt"), line);

  // With an application name the line need not name the image, and is passed as it is.
  std::string bare = "write-cmdline C:\\second.txt TFTP_ROOT=C:\\images";
  STARTUPINFO startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION second{};
  ASSERT_TRUE(CreateProcess("C:\\WINDOWS\\peer.exe", bare.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                            nullptr, nullptr, &startup, &second));
  EXPECT_EQ(Finish(second), 0u);
  EXPECT_EQ(ReadFileText("C:\\second.txt"), bare);
}

TEST_F(ProcsTest, ProgramsStartedOtherwiseDoNotTakeTheParentsLine) {
  auto info = Start("peer plain-child C:\\grandchild.txt");
  EXPECT_EQ(Finish(info), 0u);
  std::string seen = ReadFileText("C:\\grandchild.txt");
  EXPECT_NE(seen.find("write-cmdline C:\\grandchild.txt"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("plain-child"), std::string::npos) << seen;
}

TEST_F(ProcsTest, ExitCodeAndWaitsOnProcessAndThread) {
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, "procs-go");
  auto waiting = Start("peer.exe wait-event procs-go");
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(waiting.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(waiting.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(GetProcessId(waiting.hProcess), waiting.dwProcessId);

  // Mixed with a local event that stays unset: the process's end is what wakes the wait.
  HANDLE local = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE both[] = {local, waiting.hProcess};
  SetEvent(go);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(waiting.hThread, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Finish(waiting), 0u);

  auto exiting = Start("peer exit 7");
  HANDLE pair[] = {exiting.hProcess, exiting.hThread};
  EXPECT_EQ(WaitForMultipleObjects(2, pair, TRUE, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(Finish(exiting), 7u);
  CloseHandle(local);
  CloseHandle(go);
}

TEST_F(ProcsTest, TerminatedProcessReportsTheGivenCode) {
  auto info = Start("peer.exe wait-event procs-never");
  ASSERT_TRUE(TerminateProcess(info.hProcess, 42));
  EXPECT_EQ(Finish(info), 42u);
}

TEST_F(ProcsTest, NewProcessGroupLeadsItsOwnGroup) {
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, "procs-group-go");
  auto grouped = Start("peer.exe group C:\\group.txt procs-group-go", CREATE_NEW_PROCESS_GROUP);
  auto plain = Start("peer.exe group C:\\plain.txt procs-group-go");
  for (const char* file : {"C:\\group.txt", "C:\\plain.txt"})
    EXPECT_TRUE(tavrin::test::Eventually([&] { return !ReadFileText(file).empty(); }));
  SetEvent(go);
  EXPECT_EQ(Finish(grouped), 0u);
  EXPECT_EQ(Finish(plain), 0u);
  int pid = 0, group = 0;
  ASSERT_EQ(sscanf(ReadFileText("C:\\group.txt").c_str(), "%d %d", &pid, &group), 2);
  EXPECT_EQ(pid, group);
  ASSERT_EQ(sscanf(ReadFileText("C:\\plain.txt").c_str(), "%d %d", &pid, &group), 2);
  EXPECT_EQ(group, getpgrp());
  CloseHandle(go);
}

TEST_F(ProcsTest, ImagesThatCannotRun) {
  STARTUPINFO startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = "TFTP_ROOT=C:\\x";
  EXPECT_FALSE(CreateProcess("C:\\WINDOWS\\TftpServer.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  std::ofstream(tavrin::sysroot::WindowsDir() / "text.exe") << "not a program\n";
  EXPECT_FALSE(CreateProcess("C:\\WINDOWS\\text.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::filesystem::permissions(tavrin::sysroot::WindowsDir() / "text.exe", std::filesystem::perms::owner_all);
  EXPECT_FALSE(CreateProcess("C:\\WINDOWS\\text.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

TEST_F(ProcsTest, EnvironmentAndWindowsDirectory) {
  char buffer[MAX_PATH];
  EXPECT_EQ(GetEnvironmentVariable("windir", buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetEnvironmentVariable("WINDIR", buffer, 5), 11u);  // too small: the size with the NUL
  setenv("TAVRIN_PROCS_TEST", "value", 1);
  EXPECT_EQ(GetEnvironmentVariable("tavrin_procs_test", buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "value");
  unsetenv("TAVRIN_PROCS_TEST");
  EXPECT_EQ(GetEnvironmentVariable("TAVRIN_PROCS_TEST", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(ProcsTest, GlobalBlocks) {
  HGLOBAL block = GlobalAlloc(GHND, 100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 100u);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0);
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
  int notABlock[8] = {};
  EXPECT_EQ(GlobalFree(&notABlock[4]), &notABlock[4]);
}

TEST_F(ProcsTest, VersionResourceOfAProgram) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSize("C:\\WINDOWS\\peer.exe", &handle);
  ASSERT_GT(size, 0u);
  EXPECT_EQ(handle, 0u);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  void* data = GlobalLock(block);
  ASSERT_TRUE(GetFileVersionInfo("C:\\WINDOWS\\peer.exe", 0, size, data));
  char* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(data, "\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&value), &length));
  EXPECT_STREQ(value, "2.3.4.5");
  EXPECT_EQ(length, 8u);
  ASSERT_TRUE(VerQueryValue(data, "\\stringfileinfo\\040904b0\\ProductName", reinterpret_cast<void**>(&value), &length));
  EXPECT_STREQ(value, "Procs Peer");
  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(VerQueryValue(data, "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020003u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00040005u);
  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValue(data, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(*translation, 0x04B00409u);
  EXPECT_FALSE(VerQueryValue(data, "\\StringFileInfo\\040904B0\\CompanyName", reinterpret_cast<void**>(&value), &length));
  GlobalUnlock(block);
  GlobalFree(block);
}

TEST_F(ProcsTest, FilesWithoutVersionResource) {
  DWORD handle = 0;
  EXPECT_EQ(GetFileVersionInfoSize("C:\\WINDOWS\\missing.exe", &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  std::ofstream(tavrin::sysroot::WindowsDir() / "text.exe") << "no program";
  EXPECT_EQ(GetFileVersionInfoSize("C:\\WINDOWS\\text.exe", &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  // An ELF header whose section table points past the file.
  std::string elf(64, '\0');
  elf.replace(0, 4, "\x7F" "ELF");
  elf[4] = 2;
  elf[5] = 1;
  elf[0x28] = '\x7F';  // section headers far away
  elf[0x3A] = 64;
  elf[0x3C] = 3;
  elf[0x3E] = 1;
  std::ofstream(tavrin::sysroot::WindowsDir() / "broken.exe", std::ios::binary) << elf;
  EXPECT_EQ(GetFileVersionInfoSize("C:\\WINDOWS\\broken.exe", &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

}  // namespace
