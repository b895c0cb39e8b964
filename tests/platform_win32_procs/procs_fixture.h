// A fresh sysroot with the peer program installed as C:\WINDOWS\peer.exe, and small helpers around it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
#include "win32/windows.h"

class ProcsTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    std::filesystem::copy_file(PROCS_PEER, tavrin::sysroot::WindowsDir() / "peer.exe");
  }

  // Starts "C:\WINDOWS\peer.exe" with `line` (no application name: the line names the image).
  PROCESS_INFORMATION Start(std::string line, DWORD flags = 0) {
    STARTUPINFO startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcess(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &info))
        << GetLastError();
    return info;
  }

  // Waits for the process, closes both handles and returns its exit code.
  static DWORD Finish(PROCESS_INFORMATION& info) {
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
  }

  static std::string ReadFileText(const std::string& windowsPath) {
    std::ifstream in(tavrin::sysroot::MapPath(windowsPath), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};
