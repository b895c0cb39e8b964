#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "admin/upgrade/SettingsLibrary.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
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

TEST_F(SettingsLibraryTest, LibraryBoxReachesTheProgramsSink) {
  std::filesystem::copy_file(PELKOSETTINGS_DLL, tavrin::sysroot::WindowsDir() / "PelkoSettings.dll");
  EXPECT_TRUE(Run());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].rfind("Pelko Settings: ", 0), 0u) << boxes_[0];
  EXPECT_TRUE(messages_.empty());
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
