#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "admin/LogFile.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
#include "win32/windows.h"

namespace {

constexpr char kLogPath[] = "C:\\WINDOWS\\TavrinAdmin.log";

std::tm FrozenTime() {
  std::tm time{};
  time.tm_year = 2009 - 1900;
  time.tm_mon = 2;
  time.tm_mday = 7;
  time.tm_hour = 14;
  time.tm_min = 5;
  time.tm_sec = 9;
  return time;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

const std::string kHeader =
    "-------------------\r\n"
    "Module Name:Pelko Admin\r\n"
    "Date:2009-03-07\r\n"
    "Time:14:05:09\r\n"
    "-------------------\r\n"
    "\r\n"
    "--------- Start of Pelko Admin---------\r\n"
    "\r\n";
const std::string kEndBanner = "\r\n--------- End of Pelko Admin---------\r\n";

class LogFileTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    CLogFile::SetLocalTimeSourceForTest(&FrozenTime);
  }
  void TearDown() override {
    CLogFile::SetLocalTimeSourceForTest(nullptr);
    SysrootTest::TearDown();
  }
  std::filesystem::path LogFile() const { return tavrin::sysroot::MapPath(kLogPath); }
};

TEST_F(LogFileTest, WritesHeaderLinesAndBannersByteForByte) {
  CLogFile log;
  log.Open("Pelko Admin", kLogPath, TRUE, TRUE);
  ASSERT_TRUE(log.IsOpen());
  log.Write("AppTraceLevel=3\n");
  log.Write("no line end");
  log.Write("\n");
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(ReadBytes(LogFile()), kHeader + "AppTraceLevel=3\r\nno line end\r\n" + kEndBanner);

  log.Close();  // a second close writes nothing
  log.Write("late\n");
  EXPECT_EQ(ReadBytes(LogFile()), kHeader + "AppTraceLevel=3\r\nno line end\r\n" + kEndBanner);
}

TEST_F(LogFileTest, TruncateStartsAfreshAndAppendKeepsTheOldLog) {
  {
    CLogFile first;
    first.Open("Pelko Admin", kLogPath, TRUE, TRUE);
    first.Write("first run\n");
    first.Close();
  }
  const std::string firstRun = kHeader + "first run\r\n" + kEndBanner;
  {
    CLogFile appending;
    appending.Open("Pelko Admin", kLogPath, FALSE, TRUE);
    appending.Close();
  }
  EXPECT_EQ(ReadBytes(LogFile()), firstRun + kHeader + kEndBanner);
  {
    CLogFile truncating;
    truncating.Open("Pelko Admin", kLogPath, TRUE, TRUE);
    truncating.Close();
  }
  EXPECT_EQ(ReadBytes(LogFile()), kHeader + kEndBanner);
}

TEST_F(LogFileTest, ReadOnlyLogIsStillReplacedOnTruncate) {
  {
    CLogFile old;
    old.Open("Pelko Admin", kLogPath, TRUE, TRUE);
    old.Write("old run\n");
  }
  ASSERT_TRUE(SetFileAttributes(kLogPath, FILE_ATTRIBUTE_READONLY));
  CLogFile log;
  log.Open("Pelko Admin", kLogPath, TRUE, TRUE);
  ASSERT_TRUE(log.IsOpen());
  log.Close();
  EXPECT_EQ(ReadBytes(LogFile()), kHeader + kEndBanner);
}

TEST_F(LogFileTest, DisabledLogWritesNothing) {
  CLogFile log;
  log.Open("Pelko Admin", kLogPath, TRUE, FALSE);
  log.Write("line\n");
  log.Close();
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(LogFileTest, UnopenableLogLeavesTheObjectWithoutAFile) {
  CLogFile log;
  log.Open("Pelko Admin", "C:\\WINDOWS\\missing folder\\TavrinAdmin.log", TRUE, TRUE);
  EXPECT_FALSE(log.IsOpen());
  log.Write("line\n");
  log.Close();
}

TEST_F(LogFileTest, FailedWriteClosesTheFileForGood) {
  std::filesystem::create_directories(LogFile().parent_path());
  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", LogFile(), ec);
  if (ec) GTEST_SKIP() << "no /dev/full here";
  CLogFile log;
  log.Open("Pelko Admin", kLogPath, FALSE, TRUE);  // the header write fails
  EXPECT_FALSE(log.IsOpen());
  log.Write("line\n");
  log.Close();
  log.Close();
  EXPECT_FALSE(log.IsOpen());
}

TEST_F(LogFileTest, LongModuleNameAndPathAreCutToTheirFields) {
  const std::string longName(300, 'm');
  std::string longPath = "C:\\WINDOWS\\" + std::string(1100, 'p');
  CLogFile log;
  log.Open(longName.c_str(), longPath.c_str(), FALSE, TRUE);  // the cut path cannot be opened
  EXPECT_EQ(std::string(log.GetModuleName()), longName.substr(0, 259));
  EXPECT_EQ(std::string(log.GetPath()), longPath.substr(0, 1023));

  CLogFile named;
  named.Open(longName.c_str(), kLogPath, TRUE, TRUE);
  named.Close();
  const std::string bytes = ReadBytes(LogFile());
  EXPECT_NE(bytes.find("Module Name:" + longName.substr(0, 259) + "\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find(longName.substr(0, 260)), std::string::npos);
}

// The file keeps to its size bound: a write that would pass it starts a new file as a program start does
// (same header and start banner), and the text goes into the new file.
TEST_F(LogFileTest, AFileAtItsSizeBoundStartsAgainWithTheHeader) {
  CLogFile log;
  log.SetMaxSize(1000);
  log.Open("Pelko Admin", kLogPath, TRUE, TRUE);
  std::string last;
  for (int line = 0; line < 200; ++line) {
    last = "Detecting Servers..... " + std::to_string(line) + "\n";
    log.Write(last.c_str());
    ASSERT_LE(std::filesystem::file_size(LogFile()), 1000u) << line;
  }
  log.Close();
  const std::string bytes = ReadBytes(LogFile());
  EXPECT_EQ(bytes.compare(0, kHeader.size(), kHeader), 0) << bytes;
  EXPECT_NE(bytes.find("Detecting Servers..... 199\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find("Detecting Servers..... 0\r\n"), std::string::npos);  // in an earlier file
}

}  // namespace
