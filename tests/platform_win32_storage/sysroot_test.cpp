#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/sysroot.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;
using tavrin::sysroot::MapPath;

namespace {

class SysrootPathTest : public tavrin::test::SysrootTest {};

TEST_F(SysrootPathTest, MapsDrivesRootsAndTheWindowsDirectory) {
  EXPECT_EQ(tavrin::sysroot::Root(), root());
  EXPECT_EQ(tavrin::sysroot::WindowsDir(), root() / "C" / "WINDOWS");
  EXPECT_EQ(tavrin::sysroot::RunDir(), root() / "run");
  EXPECT_TRUE(fs::is_directory(root() / "C" / "WINDOWS"));
  EXPECT_EQ(MapPath("C:\\X\\y.txt"), root() / "C" / "X" / "y.txt");
  EXPECT_EQ(MapPath("c:/WINDOWS/TavrinAdmin.log"), root() / "C" / "WINDOWS" / "TavrinAdmin.log");
  EXPECT_EQ(MapPath("\\TavrinSetup.log"), root() / "C" / "TavrinSetup.log");
  EXPECT_EQ(MapPath("D:\\data\\..\\a\\.\\b"), root() / "D" / "a" / "b");
  EXPECT_EQ(MapPath("C:\\..\\..\\x"), root() / "C" / "x");  // never above the drive
  EXPECT_EQ(MapPath("rel\\name.txt"), fs::current_path() / "rel" / "name.txt");
}

TEST_F(SysrootPathTest, ResolvesExistingComponentsIgnoringCase) {
  fs::create_directories(root() / "C" / "WINDOWS" / "inf");
  std::ofstream(root() / "C" / "WINDOWS" / "inf" / "OemBus.INF") << "x";
  EXPECT_EQ(MapPath("c:\\windows\\INF\\oembus.inf"), root() / "C" / "WINDOWS" / "inf" / "OemBus.INF");
  EXPECT_EQ(MapPath("C:\\Windows\\System32\\Drivers\\new.sys"),
            root() / "C" / "WINDOWS" / "System32" / "Drivers" / "new.sys");  // new parts keep their spelling
  EXPECT_EQ(MapPath("C:\\windows\\inf\\oembus.inf\\below"), root() / "C" / "WINDOWS" / "inf" / "OemBus.INF" / "below");
}

// A path mapped before is taken again only while it is there: a file made anew in another case is found.
TEST_F(SysrootPathTest, MapsAFileMadeAnewInAnotherCase) {
  const fs::path first = tavrin::sysroot::WindowsDir() / "Tavrin.INI";
  std::ofstream(first) << "x";
  EXPECT_EQ(MapPath("C:\\WINDOWS\\tavrin.ini"), first);
  EXPECT_TRUE(tavrin::sysroot::Locate("C:\\WINDOWS\\tavrin.ini").exists);
  fs::remove(first);
  const tavrin::sysroot::Located gone = tavrin::sysroot::Locate("C:\\WINDOWS\\tavrin.ini");
  EXPECT_FALSE(gone.exists);
  EXPECT_EQ(gone.path, root() / "C" / "WINDOWS" / "tavrin.ini");
  const fs::path second = root() / "C" / "WINDOWS" / "TAVRIN.ini";
  std::ofstream(second) << "yy";
  const tavrin::sysroot::Located again = tavrin::sysroot::Locate("C:\\WINDOWS\\tavrin.ini");
  EXPECT_EQ(again.path, second);
  EXPECT_EQ(again.status.st_size, 2);

  // The folder of a path mapped before is gone too: the path keeps its spelling from there on.
  fs::create_directories(root() / "C" / "Data");
  std::ofstream(root() / "C" / "Data" / "Report.txt") << "x";
  EXPECT_EQ(MapPath("C:\\data\\report.txt"), root() / "C" / "Data" / "Report.txt");
  fs::remove_all(root() / "C" / "Data");
  EXPECT_EQ(MapPath("C:\\data\\report.txt"), root() / "C" / "data" / "report.txt");
}

TEST_F(SysrootPathTest, SetRootReachesChildProcessesThroughTheEnvironment) {
  fs::path other = root() / "nested-root";
  tavrin::sysroot::SetRoot(other);
  EXPECT_EQ(std::string(getenv("TAVRIN_SYSROOT")), other.string());
  EXPECT_EQ(tavrin::sysroot::WindowsDir(), other / "C" / "WINDOWS");
  tavrin::sysroot::SetRoot(root());
}

}  // namespace
