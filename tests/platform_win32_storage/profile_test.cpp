#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "testsupport/sysroot.h"
#include "win32/file.h"
#include "win32/profile.h"
#include "win32/sysroot.h"

namespace {

class ProfileTest : public tavrin::test::SysrootTest {
 protected:
  void WriteRaw(const std::string& bytes) {
    std::ofstream(tavrin::sysroot::WindowsDir() / "TavrinConf.ini", std::ios::binary) << bytes;
  }
  std::string ReadRaw() {
    std::ifstream in(tavrin::sysroot::WindowsDir() / "TavrinConf.ini", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Sets the file's modification time; the change time moves to now.
  void SetModified(time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, (tavrin::sysroot::WindowsDir() / "TavrinConf.ini").c_str(), times, 0), 0);
  }
  std::string Get(const char* section, const char* key, const char* fallback = "", DWORD size = 30) {
    std::vector<char> buffer(size, 'Z');
    DWORD n = GetPrivateProfileString(section, key, fallback, buffer.data(), size, "TavrinConf.ini");
    return std::string(buffer.data(), n);
  }
};

TEST_F(ProfileTest, ReadsServerConfigurationText) {
  WriteRaw("[GeneralSettings]\r\nserver_model=3\r\nfw_version = 1.2.3 \r\n"
           "[BasicSettings]\r\n; comment=not a key\r\nSERVER_NAME=\"Office Server\"\r\n"
           "[ConnectionTable]\r\nport_no1=1\r\nclient_ip1=192.168.0.10\r\nport_no2=3\r\nport_no3=-2\r\n");
  EXPECT_EQ(GetPrivateProfileInt("GeneralSettings", "server_model", 0, "TavrinConf.ini"), 3u);
  EXPECT_EQ(Get("generalsettings", "FW_VERSION"), "1.2.3");
  EXPECT_EQ(Get("BasicSettings", "server_name"), "Office Server");
  EXPECT_EQ(Get("BasicSettings", "; comment"), "");
  EXPECT_EQ(Get("Password", "password", "dflt  "), "dflt");
  EXPECT_EQ(GetPrivateProfileInt("Password", "enable", 1, "TavrinConf.ini"), 1u);
  EXPECT_EQ(GetPrivateProfileInt("ConnectionTable", "client_ip1", 5, "TavrinConf.ini"), 192u);
  EXPECT_EQ(static_cast<int>(GetPrivateProfileInt("ConnectionTable", "port_no3", 0, "TavrinConf.ini")), -2);
  EXPECT_EQ(Get("ConnectionTable", "port_no2", "", 30), "3");
  // The full path names the same file as the bare name.
  char value[30];
  GetPrivateProfileString("ConnectionTable", "client_ip1", "", value, sizeof value, "c:\\windows\\tavrinconf.INI");
  EXPECT_STREQ(value, "192.168.0.10");

  // Lists: NUL after each name, a second NUL at the end.
  EXPECT_EQ(Get(nullptr, nullptr, "", 100), std::string("GeneralSettings\0BasicSettings\0ConnectionTable\0", 46));
  EXPECT_EQ(Get("BASICSETTINGS", nullptr, "", 100), std::string("SERVER_NAME\0", 12));
  EXPECT_EQ(Get("Missing", nullptr, "", 100), "");
}

TEST_F(ProfileTest, TruncatesValuesAndListsToTheBuffer) {
  WriteRaw("[BasicSettings]\nserver_name=" + std::string(40, 'n') + "\n[S2]\n[S3]\n");
  std::vector<char> buffer(30, 'Z');
  EXPECT_EQ(GetPrivateProfileString("BasicSettings", "server_name", "", buffer.data(), 30, "TavrinConf.ini"), 29u);
  EXPECT_EQ(strlen(buffer.data()), 29u);  // a 30-character field gets 29 characters and its NUL

  buffer.assign(30, 'Z');
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "", buffer.data(), 10, "TavrinConf.ini"), 8u);
  EXPECT_EQ(std::string(buffer.data(), 10), std::string("BasicSet\0\0", 10));
  EXPECT_EQ(buffer[10], 'Z');
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "", buffer.data(), 1, "TavrinConf.ini"), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetPrivateProfileString("BasicSettings", "server_name", "", buffer.data(), 0, "TavrinConf.ini"), 0u);
}

TEST_F(ProfileTest, WritesKeepOrderAndUseCrLf) {
  // Created in the Windows directory when missing.
  ASSERT_TRUE(WritePrivateProfileString("BasicSettings", "server_name", "srv", "TavrinConf.ini"));
  ASSERT_TRUE(WritePrivateProfileString("NetworkSettings", "ip_address", "10.0.0.2", "TavrinConf.ini"));
  ASSERT_TRUE(WritePrivateProfileString("NetworkSettings", "net_mask", "255.0.0.0", "TavrinConf.ini"));
  ASSERT_TRUE(WritePrivateProfileString("basicsettings", "SERVER_NAME", "renamed", "TavrinConf.ini"));
  EXPECT_EQ(ReadRaw(),
            "[BasicSettings]\r\nserver_name=renamed\r\n\r\n"
            "[NetworkSettings]\r\nip_address=10.0.0.2\r\nnet_mask=255.0.0.0\r\n");

  ASSERT_TRUE(WritePrivateProfileString("BasicSettings", "extra", "1", "TavrinConf.ini"));  // before the blank line
  ASSERT_TRUE(WritePrivateProfileString("NetworkSettings", "ip_address", nullptr, "TavrinConf.ini"));
  EXPECT_EQ(ReadRaw(),
            "[BasicSettings]\r\nserver_name=renamed\r\nextra=1\r\n\r\n"
            "[NetworkSettings]\r\nnet_mask=255.0.0.0\r\n");
  ASSERT_TRUE(WritePrivateProfileString("BASICSETTINGS", nullptr, nullptr, "TavrinConf.ini"));
  EXPECT_EQ(ReadRaw(), "[NetworkSettings]\r\nnet_mask=255.0.0.0\r\n");
  EXPECT_EQ(Get("BasicSettings", "server_name", "gone"), "gone");

  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", "C:\\missing\\x.ini"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\TavrinConf.ini", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", "TavrinConf.ini"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// Reads are served from a parsed copy: every way the file can change under it must show.
TEST_F(ProfileTest, ReadsTheFileAnewWhenItChanges) {
  WriteRaw("[BasicSettings]\r\nserver_name=one\r\n");
  SetModified(1'000'000'000, 1);
  EXPECT_EQ(Get("BasicSettings", "server_name"), "one");

  // Rewritten in place with the same size and a time in the same second.
  WriteRaw("[BasicSettings]\r\nserver_name=two\r\n");
  SetModified(1'000'000'000, 2);
  EXPECT_EQ(Get("BasicSettings", "server_name"), "two");

  // Rewritten by another process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    WriteRaw("[BasicSettings]\r\nserver_name=three\r\n");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Get("BasicSettings", "server_name"), "three");

  // Rewritten in place by this process through the file functions, the times set back as they were.
  struct stat before {};
  ASSERT_EQ(stat((tavrin::sysroot::WindowsDir() / "TavrinConf.ini").c_str(), &before), 0);
  HANDLE file = CreateFile("C:\\WINDOWS\\TavrinConf.ini", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::string four = "[BasicSettings]\r\nserver_name=four!\r\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, four.data(), static_cast<DWORD>(four.size()), &written, nullptr));
  CloseHandle(file);
  SetModified(before.st_mtim.tv_sec, before.st_mtim.tv_nsec);
  EXPECT_EQ(Get("BasicSettings", "server_name"), "four!");

  // Written through the profile functions, then removed.
  ASSERT_TRUE(WritePrivateProfileString("BasicSettings", "server_name", "five!", "TavrinConf.ini"));
  EXPECT_EQ(Get("BasicSettings", "server_name"), "five!");
  ASSERT_TRUE(DeleteFile("C:\\WINDOWS\\TavrinConf.ini"));
  EXPECT_EQ(Get("BasicSettings", "server_name", "none"), "none");
}

}  // namespace
