// CTime and the files: CFile and its text form CStdioFile over the sysroot.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "mfc/file.h"
#include "mfc/time.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"

namespace {

class FileTest : public tavrin::test::SysrootTest {
 protected:
  // The bytes of a file of the sysroot.
  std::string Bytes(const char* windowsPath) {
    std::ifstream in(tavrin::sysroot::MapPath(windowsPath), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

TEST(TimeTest, FieldsAndFormatFollowLocalTimeAndDifferencesAreSpans) {
  const char* zone = getenv("TZ");
  const std::string saved = zone ? zone : "";
  setenv("TZ", "UTC", 1);
  tzset();
  CTime time(2024, 2, 29, 13, 5, 9);
  EXPECT_EQ(time.GetTime(), 1709211909);
  EXPECT_EQ(time.GetYear(), 2024);
  EXPECT_EQ(time.GetMonth(), 2);
  EXPECT_EQ(time.GetDay(), 29);
  EXPECT_EQ(time.GetHour(), 13);
  EXPECT_EQ(time.GetMinute(), 5);
  EXPECT_EQ(time.GetSecond(), 9);
  EXPECT_EQ(time.GetDayOfWeek(), 5);  // a Thursday
  EXPECT_STREQ(time.Format("%d-%m-%Y : %H:%M:%S"), "29-02-2024 : 13:05:09");
  EXPECT_STREQ(time.Format("%d-%m-%Y,  %H:%M:%S"), "29-02-2024,  13:05:09");
  EXPECT_STREQ(time.Format(""), "");
  const std::string wide(2000, 'x');
  EXPECT_EQ(time.Format((wide + "%Y").c_str()).GetLength(), 2004) << "long results are not cut";

  const CTime later = time + CTimeSpan(1, 2, 3, 4);
  EXPECT_STREQ(later.Format("%d %H:%M:%S"), "01 15:08:13");
  const CTimeSpan span = later - time;
  EXPECT_EQ(span.GetDays(), 1);
  EXPECT_EQ(span.GetHours(), 2);
  EXPECT_EQ(span.GetMinutes(), 3);
  EXPECT_EQ(span.GetSeconds(), 4);
  EXPECT_LT(time, later);
  const CTime now = CTime::GetCurrentTime();
  EXPECT_GE(now.GetTime(), 1700000000);

  setenv("TZ", "CET-1", 1);  // an hour ahead, no summer time
  tzset();
  EXPECT_EQ(time.GetHour(), 14);
  EXPECT_STREQ(time.FormatGmt("%H"), "13");
  if (zone) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST_F(FileTest, TextFilesWriteCrLfLinesAndReadThemBackWithoutTheirEnds) {
  CStdioFile out;
  CFileException error;
  ASSERT_TRUE(out.Open("C:\\logs.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeText, &error));
  EXPECT_TRUE(out.WriteString("1\t29-02-2024 : 13:05:09\tStarted\n"));
  EXPECT_TRUE(out.WriteString("2\tsecond\n"));
  EXPECT_TRUE(out.WriteString("no end"));
  out.Close();
  EXPECT_EQ(Bytes("C:\\logs.txt"), "1\t29-02-2024 : 13:05:09\tStarted\r\n2\tsecond\r\nno end");

  CStdioFile in("c:\\LOGS.TXT", CFile::modeRead | CFile::typeText);
  ASSERT_TRUE(in.IsOpen());
  CString line;
  ASSERT_TRUE(in.ReadString(line));
  EXPECT_STREQ(line, "1\t29-02-2024 : 13:05:09\tStarted");
  char buffer[64];
  ASSERT_NE(in.ReadString(buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "2\tsecond\n") << "the buffer form keeps its line end, as \\n";
  ASSERT_TRUE(in.ReadString(line));
  EXPECT_STREQ(line, "no end");
  EXPECT_FALSE(in.ReadString(line));
  EXPECT_EQ(in.ReadString(buffer, sizeof buffer), nullptr);

  // A short buffer takes what fits and the rest comes next.
  in.SeekToBegin();
  char small[4];
  ASSERT_NE(in.ReadString(small, sizeof small), nullptr);
  EXPECT_STREQ(small, "1\t2");
  EXPECT_EQ(in.GetPosition(), 3u) << "the read-ahead does not move where the caller stands";
  ASSERT_TRUE(in.ReadString(line));
  EXPECT_STREQ(line, "9-02-2024 : 13:05:09\tStarted");
}

TEST_F(FileTest, CreateEmptiesAFileUnlessNoTruncateWhichAppendsAfterSeekToEnd) {
  {
    CStdioFile file("C:\\keep.txt", CFile::modeCreate | CFile::modeWrite);
    file.WriteString("old\n");
  }
  {
    CStdioFile file("C:\\keep.txt", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetLength(), 5u);
    file.SeekToEnd();
    file.WriteString("new\n");
  }
  EXPECT_EQ(Bytes("C:\\keep.txt"), "old\r\nnew\r\n");
  {
    CStdioFile file("C:\\keep.txt", CFile::modeCreate | CFile::modeWrite);
  }
  EXPECT_EQ(Bytes("C:\\keep.txt"), "");

  // Binary: no translation either way.
  CFile raw("C:\\raw.bin", CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
  EXPECT_TRUE(raw.Write("a\nb\r\n", 5));
  raw.SeekToBegin();
  char bytes[8] = {};
  EXPECT_EQ(raw.Read(bytes, sizeof bytes), 5u);
  EXPECT_STREQ(bytes, "a\nb\r\n");
  EXPECT_STREQ(raw.GetFileName(), "raw.bin");
  EXPECT_STREQ(raw.GetFilePath(), "C:\\raw.bin");
}

TEST_F(FileTest, FailuresAreAnswersWithTheirCauseAndAFileMadeNewIsNeverAnotherOne) {
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open("C:\\missing.txt", CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_STREQ(error.m_strFileName, "C:\\missing.txt");
  char text[256];
  EXPECT_TRUE(error.GetErrorMessage(text, sizeof text));
  EXPECT_NE(std::string(text).find("missing.txt"), std::string::npos);
  EXPECT_FALSE(file.Open("C:\\no\\such\\folder\\x.txt", CFile::modeCreate | CFile::modeWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::badPath);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(file.Read(text, 1), 0u);

  CStdioFile unopened("C:\\missing.txt", CFile::modeRead);
  EXPECT_FALSE(unopened.IsOpen());

  // A read-only file refuses writing.
  {
    CFile made("C:\\locked.txt", CFile::modeCreate | CFile::modeWrite);
  }
  SetFileAttributes("C:\\locked.txt", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(file.Open("C:\\locked.txt", CFile::modeWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);

  // Made new through the handle: an existing file is refused and stays as it was.
  HANDLE fresh = CreateFile("C:\\fresh.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  {
    CStdioFile writer(fresh);
    EXPECT_TRUE(writer.WriteString("mine\n"));
  }
  EXPECT_EQ(CreateFile("C:\\fresh.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Bytes("C:\\fresh.txt"), "mine\r\n");
  EXPECT_TRUE(CFile::Rename("C:\\fresh.txt", "C:\\renamed.txt"));
  EXPECT_TRUE(CFile::Remove("C:\\renamed.txt"));
  EXPECT_FALSE(CFile::Remove("C:\\renamed.txt"));
}

}  // namespace
