#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <set>

#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/sysroot.h"

namespace {

class RegistryTest : public tavrin::test::SysrootTest {
 protected:
  HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                             disposition),
              ERROR_SUCCESS);
    return key;
  }
  // Runs `body` in a child process; true when it exited with 0.
  static pid_t Spawn(const std::function<bool()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body() ? 0 : 1);
    return pid;
  }
  static bool Succeeded(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};

TEST_F(RegistryTest, KeysAreCaseInsensitiveAndKeepTheirSpelling) {
  DWORD disposition = 0;
  HKEY key = Create("SOFTWARE\\Tavrin\\Parameters", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  DWORD level = 1;
  EXPECT_EQ(RegSetValueEx(key, "AppTraceLevel", 0, REG_DWORD, reinterpret_cast<BYTE*>(&level), 4), ERROR_SUCCESS);
  RegCloseKey(key);

  key = Create("software\\TAVRIN\\parameters", KEY_READ, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);

  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\tavrin\\PARAMETERS", 0, KEY_READ, &opened), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value, type = 0;
  EXPECT_EQ(RegQueryValueEx(opened, "apptracelevel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(RegSetValueEx(opened, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4), ERROR_ACCESS_DENIED);
  RegCloseKey(opened);

  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ENUMERATE_SUB_KEYS, &software), ERROR_SUCCESS);
  std::set<std::string> names;
  char name[260];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG result = RegEnumKeyEx(software, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(length, strlen(name));
    names.insert(name);
  }
  EXPECT_TRUE(names.count("Tavrin"));  // the spelling of its creator
  RegCloseKey(software);

  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(opened, nullptr);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, QueryReportsSizesAndMissingValues) {
  HKEY key = Create("SOFTWARE\\Tavrin\\Printers\\HP");
  const BYTE vid[2] = {0xF0, 0x03};
  ASSERT_EQ(RegSetValueEx(key, "Vid", 0, REG_BINARY, vid, 2), ERROR_SUCCESS);
  const char path[] = "C:\\WINDOWS";
  ASSERT_EQ(RegSetValueEx(key, "TavrinFolderPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path),
            ERROR_SUCCESS);

  DWORD size = 0, type = 0;
  EXPECT_EQ(RegQueryValueEx(key, "TavrinFolderPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof path);
  EXPECT_EQ(type, REG_SZ);
  char small[4] = "abc";
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, "TavrinFolderPath", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof path);
  char text[260];
  size = sizeof text;
  EXPECT_EQ(RegQueryValueEx(key, "TavrinFolderPath", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, path);

  BYTE bytes[2] = {};
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(key, "VID", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(memcmp(bytes, vid, 2), 0);

  EXPECT_EQ(RegQueryValueEx(key, "Pid", nullptr, nullptr, bytes, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "Vid", nullptr, nullptr, bytes, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValue(key, "vid"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "Vid"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, StringsStoredWithoutNulAreAnsweredTerminated) {
  HKEY run = Create("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  const std::string command = "C:\\WINDOWS\\TavrinAdmin.exe";
  ASSERT_EQ(RegSetValueEx(run, "USB Server Admin Utility", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.data()),
                          static_cast<DWORD>(command.size())),  // length without the terminator, as the installer does
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                        "USB Server Admin Utility", &type),
            command);  // stored as given

  char buffer[260];
  memset(buffer, 'Z', sizeof buffer);
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueEx(run, "USB Server Admin Utility", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, command.size() + 1);
  EXPECT_STREQ(buffer, command.c_str());
  size = 0;
  EXPECT_EQ(RegQueryValueEx(run, "USB Server Admin Utility", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, command.size() + 1);

  // Exactly as long as the buffer but unterminated: the caller is told to need one more byte.
  const std::string full(260, 'p');
  RegSetValueEx(run, "Full", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 260);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueEx(run, "Full", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 261u);

  const char multi[] = {'a', 0, 'b'};
  RegSetValueEx(run, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueEx(run, "Multi", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), std::string("a\0b\0\0", 5));
  RegCloseKey(run);
}

TEST_F(RegistryTest, EnumerationAndLeafOnlyDelete) {
  HKEY usb = Create("System\\CurrentControlSet\\Enum\\USB");
  HKEY child = nullptr;
  for (const char* name : {"Vid_0a5c&Pid_2110", "vid_03f0&pid_1d17", "Vid_04b8&Pid_0005"}) {
    ASSERT_EQ(RegCreateKeyEx(usb, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_SUCCESS);
    RegCloseKey(child);
  }
  char name[260];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumKeyEx(usb, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "vid_03f0&pid_1d17");  // name order, ignoring case
  length = 5;
  EXPECT_EQ(RegEnumKeyEx(usb, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  length = sizeof name;
  EXPECT_EQ(RegEnumKeyEx(usb, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD subkeys = 0, maxName = 0;
  EXPECT_EQ(RegQueryInfoKey(usb, nullptr, nullptr, nullptr, &subkeys, &maxName, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3u);
  EXPECT_EQ(maxName, strlen("Vid_0a5c&Pid_2110"));

  // Values come in the order they were set; a short name buffer is ERROR_MORE_DATA.
  HKEY instance = Create("System\\CurrentControlSet\\Enum\\USB\\Vid_0a5c&Pid_2110\\5&1a2b&0&03");
  DWORD ui = 0x0100A8C0;
  RegSetValueEx(instance, "UINumber", 0, REG_DWORD, reinterpret_cast<BYTE*>(&ui), 4);
  RegSetValueEx(instance, "ParentIdPrefix", 0, REG_SZ, reinterpret_cast<const BYTE*>("6&abc&0"), 8);
  RegSetValueEx(instance, "Service", 0, REG_SZ, reinterpret_cast<const BYTE*>("usbprint"), 9);
  std::vector<std::string> values;
  for (DWORD i = 0;; ++i) {
    char valueName[64];
    DWORD nameLength = sizeof valueName, type = 0, size = 0;
    LONG result = RegEnumValue(instance, i, valueName, &nameLength, nullptr, &type, nullptr, &size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    values.push_back(valueName);
  }
  EXPECT_EQ(values, (std::vector<std::string>{"UINumber", "ParentIdPrefix", "Service"}));
  char shortName[4];
  DWORD shortLength = sizeof shortName;
  EXPECT_EQ(RegEnumValue(instance, 1, shortName, &shortLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  char data[4];
  DWORD nameLength = sizeof name, dataSize = sizeof data;
  EXPECT_EQ(RegEnumValue(instance, 1, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 8u);

  // A key with subkeys stays; its leaves go first.
  EXPECT_EQ(RegDeleteKey(usb, "VID_0A5C&PID_2110"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(usb, "Vid_0a5c&Pid_2110\\5&1A2B&0&03"), ERROR_SUCCESS);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueEx(instance, "UINumber", nullptr, nullptr, reinterpret_cast<BYTE*>(&ui), &size),
            ERROR_KEY_DELETED);
  RegCloseKey(instance);
  EXPECT_EQ(RegDeleteKey(usb, "Vid_0a5c&Pid_2110"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKey(usb, "Vid_0a5c&Pid_2110"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
  RegCloseKey(usb);
}

TEST_F(RegistryTest, HiveFileKeepsOddNamesAndSurvivesDamage) {
  const std::string odd = "a=b%c\\d\n\xff";
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_CURRENT_USER, "Software\\x y", odd, REG_BINARY, odd.data(),
                                       static_cast<DWORD>(odd.size())),
            ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 7), ERROR_SUCCESS);
  tavrin::sysroot::SetRoot(root());  // forget what memory holds: the file must tell all
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_CURRENT_USER, "SOFTWARE\\X Y", odd), odd);

  std::ofstream(root() / "registry.hive", std::ios::app) << "V 1 orphan\nV x y=z\nK \nV 99999999999 a=b\n";
  tavrin::sysroot::SetRoot(root());
  DWORD type = 0;
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", &type), std::string("\7\0\0\0", 4));
  EXPECT_EQ(type, REG_DWORD);
}

TEST_F(RegistryTest, OtherProcessesSeeChangesAndConcurrentWritersLoseNothing) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel", 3),
            ERROR_SUCCESS);
  // This process holds the hive in memory now; a child changes the file.
  pid_t child = Spawn([] {
    return tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel", 1) ==
           ERROR_SUCCESS;
  });
  ASSERT_TRUE(Succeeded(child));
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel"),
            std::string("\1\0\0\0", 4));

  constexpr int kValuesPerWriter = 25;
  auto writer = [](char tag) {
    return [tag] {
      for (int i = 0; i < kValuesPerWriter; ++i)
        if (tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", std::string(1, tag) + std::to_string(i),
                                       static_cast<DWORD>(i)) != ERROR_SUCCESS)
          return false;
      return true;
    };
  };
  pid_t first = Spawn(writer('a'));
  pid_t second = Spawn(writer('b'));
  ASSERT_TRUE(Succeeded(first));
  ASSERT_TRUE(Succeeded(second));
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
  DWORD values = 0;
  EXPECT_EQ(RegQueryInfoKey(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2u * kValuesPerWriter);
  RegCloseKey(shared);
}

}  // namespace
