#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/sysroot.h"
#include "testsupport/sysroot.h"

namespace tavrin::base {
namespace {

namespace fs = std::filesystem;

class MapBelowTest : public test::SysrootTest {};

TEST_F(MapBelowTest, NeverClimbsAboveItsTop) {
  const fs::path top = sysroot::Dir("Mac");
  EXPECT_EQ(sysroot::MapBelow(top, "/../../etc/passwd", "/", false), top / "etc" / "passwd");
  EXPECT_EQ(sysroot::MapBelow(top, "a/./b/../../..//c/", "/", false), top / "c");
  EXPECT_EQ(sysroot::MapBelow(top, "", "/", false), top);
  EXPECT_EQ(sysroot::MapBelow(top, "..\\x", "\\/", true), top / "x");
}

TEST_F(MapBelowTest, AnyCaseFindsExistingEntriesAndKeepsTheRestAsWritten) {
  const fs::path top = sysroot::Dir("C");
  fs::create_directories(top / "WINDOWS" / "Inf");
  EXPECT_EQ(sysroot::MapBelow(top, "\\windows\\INF\\New\\File.txt", "\\/", true),
            top / "WINDOWS" / "Inf" / "New" / "File.txt");
  // Back up to an existing folder: matching resumes there.
  EXPECT_EQ(sysroot::MapBelow(top, "windows/missing/../inf", "\\/", true), top / "WINDOWS" / "Inf");
  // A folder spelt as it exists with a file of another case, and the file spelt exactly.
  { std::ofstream(top / "WINDOWS" / "Inf" / "A.txt") << "x"; }
  EXPECT_EQ(sysroot::MapBelow(top, "WINDOWS/Inf/a.TXT", "\\/", true), top / "WINDOWS" / "Inf" / "A.txt");
  EXPECT_EQ(sysroot::MapBelow(top, "WINDOWS\\Inf\\A.txt", "\\/", true), top / "WINDOWS" / "Inf" / "A.txt");
  // Without anyCase (the Mac side) the spelling is the caller's.
  EXPECT_EQ(sysroot::MapBelow(top, "/windows/inf", "/", false), top / "windows" / "inf");
}

}  // namespace
}  // namespace tavrin::base
