#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "testsupport/sysroot.h"
#include "win32/crt.h"
#include "win32/file.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace {

class FileTest : public tavrin::test::SysrootTest {
 protected:
  std::string RawBytes(const std::string& windowsPath) {
    std::ifstream in(tavrin::sysroot::MapPath(windowsPath), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void WriteText(const char* path, const std::string& text, DWORD disposition = CREATE_ALWAYS) {
    HANDLE h = CreateFile(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(written, text.size());
    CloseHandle(h);
  }
};

TEST_F(FileTest, CreateDispositionsReadWriteSeekAndSize) {
  const char* path = "C:\\WINDOWS\\data.bin";
  EXPECT_EQ(CreateFile(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFile("C:\\nowhere\\x.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  WriteText(path, "hello world", CREATE_NEW);
  EXPECT_EQ(CreateFile(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  HANDLE h = CreateFile("c:\\windows\\DATA.BIN", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[32] = {};
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);  // end of file is a successful empty read
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
  ASSERT_TRUE(WriteFile(h, "WORLD!", 6, &done, nullptr));
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(RawBytes(path), "hello WORLD!");

  h = CreateFile(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
  EXPECT_FALSE(ReadFile(h, buffer, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // An OVERLAPPED names the offset; the call completes at once and signals its event.
  h = CreateFile(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  OVERLAPPED at{};
  at.Offset = 6;
  at.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(ReadFile(h, buffer, 5, &done, &at));
  EXPECT_EQ(std::string(buffer, done), "WORLD");
  EXPECT_EQ(at.InternalHigh, 5u);
  EXPECT_EQ(WaitForSingleObject(at.hEvent, 0), WAIT_OBJECT_0);
  CloseHandle(at.hEvent);
  CloseHandle(h);

  h = CreateFile(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
}

TEST_F(FileTest, ReadOnlyAttributeRefusesWritesAndDeletionUntilCleared) {
  const char* path = "C:\\WINDOWS\\TavrinAdmin.log";
  WriteText(path, "old");
  EXPECT_EQ(GetFileAttributes(path) & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_TRUE(SetFileAttributes(path, FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(GetFileAttributes("c:\\windows\\tavrinadmin.LOG") & FILE_ATTRIBUTE_READONLY, 0u);

  // Root ignores permission bits; the layer must refuse on its own.
  EXPECT_EQ(CreateFile(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFile(path, GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(tavrin::OpenCrtFile(path, "a+"), nullptr);
  EXPECT_FALSE(CopyFile("C:\\WINDOWS\\other.txt", path, FALSE));  // missing source first
  HANDLE reader = CreateFile(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(RawBytes(path), "old");

  ASSERT_TRUE(SetFileAttributes(path, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributes(path) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_EQ(GetFileAttributes(path), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileTest, CopyKeepsTheReadOnlyAttributeAndMoveRenames) {
  WriteText("C:\\src.inf", "payload");
  ASSERT_TRUE(SetFileAttributes("C:\\src.inf", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CopyFile("C:\\SRC.inf", "C:\\WINDOWS\\copy.inf", TRUE));
  EXPECT_EQ(RawBytes("C:\\WINDOWS\\copy.inf"), "payload");
  EXPECT_NE(GetFileAttributes("C:\\WINDOWS\\copy.inf") & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(CopyFile("C:\\src.inf", "C:\\WINDOWS\\copy.inf", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(CopyFile("C:\\src.inf", "C:\\WINDOWS\\copy.inf", FALSE));  // the target is read-only
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\copy.inf", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFile("C:\\src.inf", "C:\\WINDOWS\\copy.inf", FALSE));

  WriteText("C:\\a.txt", "a");
  WriteText("C:\\b.txt", "b");
  EXPECT_FALSE(MoveFile("C:\\a.txt", "C:\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileEx("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(RawBytes("C:\\b.txt"), "a");
  EXPECT_TRUE(MoveFile("C:\\b.txt", "C:\\B.TXT"));  // a change of letter case only
  EXPECT_TRUE(fs::exists(root() / "C" / "B.TXT"));
  EXPECT_FALSE(fs::exists(root() / "C" / "b.txt"));
}

TEST_F(FileTest, DirectoriesAndWindowsFolders) {
  EXPECT_TRUE(CreateDirectory("C:\\WINDOWS\\inf", nullptr));
  EXPECT_FALSE(CreateDirectory("c:\\windows\\INF", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectory("C:\\a\\b", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\inf"), FILE_ATTRIBUTE_DIRECTORY);
  WriteText("C:\\WINDOWS\\inf\\x.inf", "");
  EXPECT_FALSE(RemoveDirectory("C:\\WINDOWS\\inf"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_TRUE(DeleteFile("C:\\WINDOWS\\inf\\x.inf"));
  EXPECT_TRUE(RemoveDirectory("C:\\WINDOWS\\INF"));

  char buffer[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectory(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetWindowsDirectory(buffer, 10), 11u);  // too small: the size needed with the NUL
  EXPECT_EQ(GetSystemDirectory(buffer, sizeof buffer), strlen("C:\\WINDOWS\\system32"));
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
  EXPECT_GT(GetTempPath(sizeof buffer, buffer), 0u);
  EXPECT_EQ(GetFileAttributes(buffer), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FileTest, FindFirstFileMatchesWildcardsIgnoringCase) {
  CreateDirectory("C:\\WINDOWS\\inf", nullptr);
  CreateDirectory("C:\\WINDOWS\\inf\\sub", nullptr);
  WriteText("C:\\WINDOWS\\inf\\oem1.INF", "12345");
  WriteText("C:\\WINDOWS\\inf\\oem22.inf", "");
  WriteText("C:\\WINDOWS\\inf\\README", "");

  auto list = [](const char* pattern) {
    std::set<std::string> names;
    WIN32_FIND_DATA data;
    HANDLE h = FindFirstFile(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.insert(data.cFileName);
    while (FindNextFile(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return names;
  };
  EXPECT_EQ(list("c:\\windows\\INF\\*.inf"), (std::set<std::string>{"oem1.INF", "oem22.inf"}));
  EXPECT_EQ(list("C:\\WINDOWS\\inf\\oem?.inf"), (std::set<std::string>{"oem1.INF"}));
  EXPECT_EQ(list("C:\\WINDOWS\\inf\\*.*"),
            (std::set<std::string>{".", "..", "oem1.INF", "oem22.inf", "README", "sub"}));
  EXPECT_EQ(list("C:\\*"), (std::set<std::string>{"WINDOWS"}));  // a drive's root has no "." or ".."

  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile("C:\\WINDOWS\\INF\\OEM1.inf", &data);  // one exact name, as IsFileExists asks
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "oem1.INF");
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  FindClose(h);
  h = FindFirstFile("C:\\WINDOWS\\inf\\sub", &data);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);

  EXPECT_EQ(FindFirstFile("C:\\WINDOWS\\inf\\*.sys", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFile("C:\\missing\\*.*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileTest, DevicePathsGoToTheRegisteredOpener) {
  EXPECT_EQ(CreateFile("\\\\.\\PelkoBus", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  struct Device : tavrin::IoObject {
    BOOL Read(void* buffer, DWORD size, DWORD* done, OVERLAPPED*) override {
      *done = std::min<DWORD>(size, 3);
      memcpy(buffer, "dev", *done);
      return TRUE;
    }
    BOOL Write(const void*, DWORD, DWORD*, OVERLAPPED*) override {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
  };
  std::string seen;
  tavrin::RegisterDevicePathOpener([&](const std::string& path, DWORD) {
    seen = path;
    return tavrin::InsertHandle(std::make_shared<Device>());
  });
  HANDLE h = CreateFile("\\\\?\\root#pelkobus#0000#{guid}", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(seen, "\\\\?\\root#pelkobus#0000#{guid}");
  char buffer[8];
  DWORD done = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "dev");
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  CloseHandle(h);

  // "\\?\C:\..." is an ordinary file path.
  WriteText("\\\\?\\C:\\long.txt", "x");
  EXPECT_TRUE(fs::exists(root() / "C" / "long.txt"));
  tavrin::RegisterDevicePathOpener(nullptr);
}

TEST_F(FileTest, CrtTextModeStoresCrLfAndReadsLf) {
  // The trace log's pattern: "a+", one fprintf per line, flushed at once, a second open appends.
  for (int run = 0; run < 2; ++run) {
    FILE* log = tavrin::OpenCrtFile("C:\\WINDOWS\\TavrinAdmin.log", "a+");
    ASSERT_NE(log, nullptr);
    EXPECT_GT(fprintf(log, "%s", "-------------------\n"), 0);
    fflush(log);
    fprintf(log, "%s", "\n--------- Start of Pelko Admin---------\n\n");
    fflush(log);
    EXPECT_EQ(fclose(log), 0);
  }
  const std::string once = "-------------------\r\n\r\n--------- Start of Pelko Admin---------\r\n\r\n";
  EXPECT_EQ(RawBytes("C:\\WINDOWS\\TavrinAdmin.log"), once + once);

  // Reading in text mode gives the line feeds back, also where a CR LF straddles two buffer fills.
  std::string text(5000, 'x');
  text[4095] = '\n';  // stored CR at 4095, LF at 4096: across the 4096-byte raw buffer
  text += "\r\nlone\rcr\n";
  FILE* out = tavrin::OpenCrtFile("C:\\t.txt", "w");
  ASSERT_NE(out, nullptr);
  fwrite(text.data(), 1, text.size(), out);
  fclose(out);
  FILE* in = tavrin::OpenCrtFile("c:\\T.TXT", "r");
  ASSERT_NE(in, nullptr);
  std::string back;
  char chunk[1000];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) back.append(chunk, n);
  fclose(in);
  EXPECT_EQ(back, text);  // "\r\n" written is stored "\r\r\n" and read back as "\r\n"

  // Binary mode stores bytes as they are.
  FILE* bin = tavrin::OpenCrtFile("C:\\b.bin", "wb");
  fputs("a\nb", bin);
  fclose(bin);
  EXPECT_EQ(RawBytes("C:\\b.bin"), "a\nb");
  EXPECT_EQ(tavrin::OpenCrtFile("C:\\missing\\x.txt", "w"), nullptr);
}

// Whole-file locks: an exclusive lock keeps every other handle out (as another process would be kept out),
// waits or fails at once as asked, and is gone with its unlock or its handle.
TEST_F(FileTest, LockFileExExcludesOtherHandlesUntilUnlockedOrClosed) {
  auto open = [] {
    return CreateFile("C:\\WINDOWS\\x.lock", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE first = open();
  HANDLE second = open();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole));
  EXPECT_FALSE(LockFileEx(second, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  ASSERT_TRUE(UnlockFileEx(first, 0, 1, 0, &whole));
  // Shared locks go together; an exclusive one waits for them.
  EXPECT_TRUE(LockFileEx(first, 0, 0, 1, 0, &whole));
  EXPECT_TRUE(LockFileEx(second, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole));
  EXPECT_TRUE(UnlockFileEx(second, 0, 1, 0, &whole));
  EXPECT_TRUE(UnlockFileEx(first, 0, 1, 0, &whole));
  ASSERT_TRUE(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole));
  CloseHandle(first);  // a closed handle holds nothing
  EXPECT_TRUE(LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole));
  CloseHandle(second);
  EXPECT_FALSE(LockFileEx(nullptr, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
