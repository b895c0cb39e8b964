// tavrin-rescomp over several manifests: ids named in one are used in another, the header holds them,
// and what two manifests both claim is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;

class RescompTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rescomp_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The compiler's exit code over the manifests (its messages kept in errors_).
  int Run(const std::string& manifests, bool check = false) {
    const std::string command = std::string("exec ") + TAVRIN_RESCOMP_PROGRAM + (check ? " --check" : "") + " --header " +
                                (dir_ / "ids.h").string() + " --output " + (dir_ / "table.cpp").string() + " " +
                                manifests + " 2>" + (dir_ / "errors").string();
    const int status = tavrin::test::RunShell(command);
    errors_ = Read(dir_ / "errors");
    return status;
  }

  fs::path dir_;
  std::string errors_;
};

TEST_F(RescompTest, NamesGivenInOneManifestServeTheOthersAndLandInTheHeader) {
  const std::string frame = Write("frame.res",
                                  "function RegisterTestResources\n"
                                  "menu IDR_MAIN=128\n"
                                  "  popup \"&File\"\n"
                                  "    item \"E&xit\" ID_QUIT=32771\n"
                                  "  end\n"
                                  "end\n"
                                  "string ID_QUIT \"Ends the program\\nExit\"\n");
  // The toolbar names a command the other manifest numbers; the bitmap's line goes on on the next.
  const std::string panes = Write("panes.res",
                                  "toolbar IDR_MAIN 16 16 ID_QUIT 0 ID_OTHER=40000\n"
                                  "bitmap IDR_MAIN icons 16 \\\n"
                                  "    exit start\n");
  ASSERT_EQ(Run(frame + " " + panes), 0) << errors_;
  const std::string header = Read(dir_ / "ids.h");
  EXPECT_NE(header.find("constexpr UINT IDR_MAIN = 128;"), std::string::npos) << header;
  EXPECT_NE(header.find("constexpr UINT ID_QUIT = 32771;"), std::string::npos);
  EXPECT_NE(header.find("constexpr UINT ID_OTHER = 40000;"), std::string::npos);
  const std::string table = Read(dir_ / "table.cpp");
  EXPECT_NE(table.find("from frame.res, panes.res"), std::string::npos);
  EXPECT_NE(table.find("void RegisterTestResources()"), std::string::npos);
  EXPECT_NE(table.find("{241, 128,"), std::string::npos) << "the toolbar";
  EXPECT_NE(table.find("{2, 128,"), std::string::npos) << "its bitmap";
  // What was written is what the manifests give, and a second run leaves it as it is.
  EXPECT_EQ(Run(frame + " " + panes, true), 0) << errors_;
  const auto written = fs::last_write_time(dir_ / "ids.h");
  ASSERT_EQ(Run(frame + " " + panes), 0);
  EXPECT_EQ(fs::last_write_time(dir_ / "ids.h"), written);
  Write("panes.res", "toolbar IDR_MAIN 16 16 ID_QUIT\nbitmap IDR_MAIN icons 16 exit\n");
  EXPECT_EQ(Run(frame + " " + panes, true), 1) << "a changed manifest no longer matches";
}

TEST_F(RescompTest, WhatTwoManifestsBothClaimIsRefusedWithTheLine) {
  const std::string one = Write("one.res", "string IDS_A=1000 \"one\"\n");
  const std::string twin = Write("twin.res", "string 1000 \"two\"\n");
  EXPECT_EQ(Run(one + " " + twin), 2);
  EXPECT_NE(errors_.find("twin.res:1: string 1000 is given twice"), std::string::npos) << errors_;

  const std::string renumbered = Write("renumbered.res", "string IDS_A=1001 \"other\"\n");
  EXPECT_EQ(Run(one + " " + renumbered), 2);
  EXPECT_NE(errors_.find("IDS_A is given two numbers"), std::string::npos) << errors_;

  const std::string menus = Write("menus.res", "menu 128\n popup \"a\"\n  item \"b\" 1\n end\nend\n");
  EXPECT_EQ(Run(menus + " " + menus), 2);
  EXPECT_NE(errors_.find("resource 128 of this type is given twice"), std::string::npos) << errors_;

  const std::string unknown = Write("unknown.res", "string IDS_NOWHERE \"x\"\nbitmap 5 icons 16 no-such-picture\n");
  EXPECT_EQ(Run(unknown), 2);
  EXPECT_NE(errors_.find("no number is given for IDS_NOWHERE"), std::string::npos) << errors_;
  const std::string picture = Write("picture.res", "bitmap 5 icons 16 no-such-picture\n");
  EXPECT_EQ(Run(picture), 2);
  EXPECT_NE(errors_.find("unknown pictogram no-such-picture"), std::string::npos) << errors_;
}

}  // namespace
