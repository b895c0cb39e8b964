#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "admin/upgrade/SettingsLibrary.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/windows.h"

namespace {

class SettingsLibraryTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    tavrin::SetMessageBoxSink([this](const std::string& text, const std::string& caption, UINT) {
      boxes_.push_back(caption + ": " + text);
      return IDOK;
    });
  }
  void TearDown() override {
    tavrin::SetMessageBoxSink({});
    SysrootTest::TearDown();
  }
  BOOL Run() {
    return RunSettingsLibrary([this](const CString& text, UINT type) {
      EXPECT_EQ(type, static_cast<UINT>(MB_ICONERROR));
      messages_.push_back(text.GetString());
    });
  }
  std::vector<std::string> boxes_;
  std::vector<std::string> messages_;
};

// The library's dialog as it shows: found by its caption, its text read, closed with OK.
struct ShownSettings {
  bool found = false;
  std::string text;
};
ShownSettings g_shown;

void CALLBACK CloseSettings(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindow(nullptr, "Pelko Settings");
  if (!dialog || !IsWindowVisible(dialog)) return;
  KillTimer(nullptr, timer);
  g_shown.found = true;
  char text[256] = {};
  GetDlgItemText(dialog, 1000, text, sizeof text);
  g_shown.text = text;
  PostMessage(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(SettingsLibraryTest, LibraryShowsItsOwnDialogWindow) {
  std::filesystem::copy_file(PELKOSETTINGS_DLL, tavrin::sysroot::WindowsDir() / "PelkoSettings.dll");
  g_shown = {};
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, CloseSettings);
  EXPECT_TRUE(Run());
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_shown.found);
  EXPECT_EQ(g_shown.text.rfind("Pelko USB server client settings.", 0), 0u) << g_shown.text;
  EXPECT_TRUE(boxes_.empty()) << "a window of its own, not a message box";
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(FindWindow(nullptr, "Pelko Settings"), nullptr) << "closed";
  EXPECT_EQ(GetModuleHandle("C:\\WINDOWS\\PelkoSettings.dll"), nullptr) << "freed after use";
}

TEST_F(SettingsLibraryTest, OnlyTheWindowsDirectoryCounts) {
  // A library of that name elsewhere on the search path is not loaded.
  std::filesystem::create_directories(tavrin::sysroot::MapPath("C:\\WINDOWS\\system32"));
  std::filesystem::copy_file(PELKOSETTINGS_DLL, tavrin::sysroot::MapPath("C:\\WINDOWS\\system32") / "PelkoSettings.dll");
  EXPECT_FALSE(Run());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Pelko Settings DLL not found.");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(SettingsLibraryTest, LibraryWithoutTheExport) {
  std::filesystem::copy_file(NOSETTINGS_DLL, tavrin::sysroot::WindowsDir() / "PelkoSettings.dll");
  EXPECT_FALSE(Run());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "DisplaySettingsDlg function not found. Wrong version of PelkoSettings dll.");
  EXPECT_EQ(GetModuleHandle("C:\\WINDOWS\\PelkoSettings.dll"), nullptr) << "freed after the failure";
}

}  // namespace
