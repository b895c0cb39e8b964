#include <string>
#include <vector>

#include "procs_fixture.h"

namespace {

class LibraryTest : public ProcsTest {
 protected:
  void SetUp() override {
    ProcsTest::SetUp();
    std::filesystem::copy_file(PROCS_TEST_DLL, tavrin::sysroot::WindowsDir() / "TestLib.dll");
    std::filesystem::copy_file(PROCS_BAD_DLL, tavrin::sysroot::WindowsDir() / "BadLib.dll");
    tavrin::SetMessageBoxSink([this](const std::string& text, const std::string& caption, UINT) {
      boxes_.push_back(caption + ": " + text);
      return IDCANCEL;
    });
  }
  void TearDown() override {
    tavrin::SetMessageBoxSink({});
    ProcsTest::TearDown();
  }
  std::vector<std::string> boxes_;
};

TEST_F(LibraryTest, DllCallsReachTheProgramsPlatformLayer) {
  HMODULE module = LoadLibrary("testlib");  // ".dll" added, case ignored, found in the Windows directory
  ASSERT_NE(module, nullptr) << GetLastError();
  auto show = reinterpret_cast<int (*)(const char*)>(GetProcAddress(module, "ShowBox"));
  ASSERT_NE(show, nullptr);
  EXPECT_EQ(show("from the library"), IDCANCEL);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "TestLib: from the library");

  // One last-error value: the program's.
  auto error = reinterpret_cast<DWORD (*)()>(GetProcAddress(module, "CurrentError"));
  ASSERT_NE(error, nullptr);
  SetLastError(1234);
  EXPECT_EQ(error(), 1234u);

  EXPECT_EQ(LoadLibrary("C:\\WINDOWS\\TestLib.dll"), module);
  EXPECT_EQ(GetModuleHandle("TestLib.dll"), module);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandle("TestLib.dll"), nullptr);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(LibraryTest, MissingLibrariesAndExports) {
  EXPECT_EQ(LoadLibrary("PelkoSettings"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  std::filesystem::copy_file(PROCS_TEST_DLL, tavrin::sysroot::WindowsDir() / "Other");
  EXPECT_EQ(LoadLibrary("C:\\WINDOWS\\Other"), nullptr) << "no extension means .dll, not the bare name";
  HMODULE bare = LoadLibrary("C:\\WINDOWS\\Other.");
  EXPECT_NE(bare, nullptr);
  FreeLibrary(bare);

  HMODULE module = LoadLibrary("TestLib.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "DisplaySettingsDlg"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);

  EXPECT_EQ(LoadLibrary("BadLib"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  std::ofstream(tavrin::sysroot::WindowsDir() / "Text.dll") << "not a library";
  EXPECT_EQ(LoadLibrary("Text"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

}  // namespace
