#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "testsupport/child_process.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/registry_hive.h"
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
    pid_t pid = tavrin::test::ForkChild();
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

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string DeepPath(size_t levels) {
  std::string path = "SOFTWARE";
  for (size_t i = 1; i < levels; ++i) path += "\\k";
  return path;
}

TEST_F(RegistryTest, KeyDepthIsBoundedAndTheFileGrowsWithTheNamesNotThePaths) {
  // HKEY_LOCAL_MACHINE is the first name of the path.
  HKEY deepest = Create(DeepPath(tavrin::registry::hive::kMaxDepth - 1).c_str());
  ASSERT_NE(deepest, nullptr);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueEx(deepest, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(deepest);
  HKEY tooDeep = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, DeepPath(tavrin::registry::hive::kMaxDepth).c_str(), 0, nullptr, 0,
                           KEY_ALL_ACCESS, nullptr, &tooDeep, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_LT(std::filesystem::file_size(root() / "registry.hive"), 8u * 1024);
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, DeepPath(tavrin::registry::hive::kMaxDepth - 1), "v"),
            std::string("\1\0\0\0", 4));
  EXPECT_EQ(tavrin::registry::HiveProblem(), "");
}

TEST_F(RegistryTest, HiveTreesOfAnyDepthAreWrittenAndTakenApartWithoutRecursing) {
  namespace hive = tavrin::registry::hive;
  {
    hive::Key root;
    hive::Key* key = &root;
    for (int i = 0; i < 200000; ++i) key = &key->EnsureChild("k");
    key->SetValue("deepest", REG_DWORD, "x");
    std::string text = hive::Serialize(root, 1);
    // Written down to the bound, no further.
    hive::Parsed parsed = hive::Parse(text);
    EXPECT_EQ(parsed.state, hive::Parsed::State::kGood);
    size_t depth = 0;
    for (const hive::Key* k = &parsed.root; !k->subkeys.empty(); k = k->subkeys.begin()->second.get()) ++depth;
    EXPECT_EQ(depth, hive::kMaxDepth);
  }
  // A file claiming deeper keys loses those lines only.
  std::string text = "TAVRIN-REGISTRY 2 0000000000000001\n";
  for (size_t i = 1; i <= hive::kMaxDepth + 10; ++i) text += "K " + std::to_string(i) + " k\n";
  text += "K 1 other\nV 4 n=1\n";
  hive::Parsed parsed = hive::Parse(text);
  EXPECT_EQ(parsed.state, hive::Parsed::State::kDamaged);
  EXPECT_EQ(parsed.badLines, 10u);
  ASSERT_NE(parsed.root.Child("OTHER"), nullptr);
  EXPECT_NE(parsed.root.Child("other")->FindValue("N"), nullptr);
}

TEST_F(RegistryTest, ManyValuesOfOneKeyKeepTheirOrderThroughLookupsAndDeletes) {
  namespace hive = tavrin::registry::hive;
  hive::Key key;
  constexpr int kValues = 20000;
  for (int i = 0; i < kValues; ++i) key.SetValue("Value" + std::to_string(i), REG_DWORD, std::to_string(i));
  key.SetValue("VALUE7", REG_SZ, "again");  // the same name, other case: replaced in place
  ASSERT_EQ(key.values().size(), static_cast<size_t>(kValues));
  EXPECT_EQ(key.values()[7].data, "again");
  EXPECT_TRUE(key.DeleteValue("value3"));
  EXPECT_FALSE(key.DeleteValue("value3"));
  ASSERT_NE(key.FindValue("value19999"), nullptr);
  EXPECT_EQ(key.FindValue("value19999")->data, "19999");
  EXPECT_EQ(key.values()[3].name, "Value4");
  EXPECT_EQ(key.FindValue("value4"), &key.values()[3]);

  // Through the file form and back, in the same order.
  hive::Key root;
  root.EnsureChild("HKEY_CURRENT_USER") = std::move(key);
  hive::Parsed parsed = hive::Parse(hive::Serialize(root, 1));
  EXPECT_EQ(parsed.state, hive::Parsed::State::kGood);
  const hive::Key* again = parsed.root.Child("hkey_current_user");
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->values().size(), static_cast<size_t>(kValues - 1));
  EXPECT_EQ(again->values()[3].name, "Value4");
  EXPECT_EQ(again->values()[6].data, "again");
}

TEST_F(RegistryTest, TheOldFileFormIsReadAndWrittenAnewInTheCompactOne) {
  WriteFile(root() / "registry.hive",
            "TAVRIN-REGISTRY 1\nK HKEY_LOCAL_MACHINE\nK HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\nV 4 n=%07%00%00%00\n"
            "K HKEY_CURRENT_USER\\Software\\a%5Cb\nV 1 s=text\n");
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n"), std::string("\7\0\0\0", 4));
  EXPECT_EQ(tavrin::registry::HiveProblem(), "");
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "m", 1), ERROR_SUCCESS);
  std::string written = ReadFile(root() / "registry.hive");
  EXPECT_EQ(written.rfind("TAVRIN-REGISTRY 2 ", 0), 0u) << written;
  EXPECT_NE(written.find("\nK 3 Tavrin\n"), std::string::npos) << written;
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_CURRENT_USER, "Software\\a\\b", "s"), std::nullopt);
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software), ERROR_SUCCESS);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyEx(software, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "a\\b");  // an escaped backslash stays in the name
  RegCloseKey(software);
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n"), std::string("\7\0\0\0", 4));
}

// A change reads the file again only when it is not the one held: same inode, size, time and stamp mean
// the same hive.
TEST_F(RegistryTest, AChangeDoesNotReparseAnUnchangedFile) {
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "s", "aaaa"), ERROR_SUCCESS);
  const auto hive = root() / "registry.hive";
  struct stat before;
  ASSERT_EQ(stat(hive.c_str(), &before), 0);
  std::string bytes = ReadFile(hive);
  size_t at = bytes.find("aaaa");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 4, "bbbb");
  {
    std::fstream file(hive, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.write("bbbb", 4);
  }
  timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, hive.c_str(), times, 0), 0);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 1), ERROR_SUCCESS);
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "s"), std::string("aaaa\0", 5));
  EXPECT_NE(ReadFile(hive).find("aaaa"), std::string::npos);
}

TEST_F(RegistryTest, ADamagedHiveIsReportedAndKeptBeforeItIsWrittenOver) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 7), ERROR_SUCCESS);
  const auto hive = root() / "registry.hive";
  std::string damaged = ReadFile(hive) + "K x y\nrubbish\n";
  WriteFile(hive, damaged);
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n"), std::string("\7\0\0\0", 4));
  std::string problem = tavrin::registry::HiveProblem();
  EXPECT_NE(problem.find("is damaged: 2 lines could not be read"), std::string::npos) << problem;
  EXPECT_NE(problem.find("registry.hive.damaged"), std::string::npos) << problem;
  EXPECT_FALSE(std::filesystem::exists(root() / "registry.hive.damaged"));  // reading changes nothing

  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "m", 1), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(root() / "registry.hive.damaged"), damaged);
  EXPECT_EQ(ReadFile(hive).find("rubbish"), std::string::npos);

  // A hive of a version this system does not read is taken as empty, and kept as well.
  const std::string newer = "TAVRIN-REGISTRY 7 0000000000000001\nK 1 HKEY_LOCAL_MACHINE\n";
  WriteFile(hive, newer);
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n"), std::nullopt);
  problem = tavrin::registry::HiveProblem();
  EXPECT_NE(problem.find("has version 7, which this system cannot read"), std::string::npos) << problem;
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "m", 2), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(root() / "registry.hive.damaged"), damaged);
  EXPECT_EQ(ReadFile(root() / "registry.hive.damaged.1"), newer);

  // Without its header nothing is taken.
  WriteFile(hive, "K 1 HKEY_LOCAL_MACHINE\n");
  tavrin::sysroot::SetRoot(root());
  EXPECT_NE(tavrin::registry::HiveProblem().find("its header is missing"), std::string::npos);
}

TEST_F(RegistryTest, WritesReachOtherProcessesAtOnceSurviveAKillAndAreCommittedAtClose) {
  // A child writes a run of values on an open key and is killed before it closes it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = tavrin::test::ForkChild();
  if (child == 0) {
    HKEY key = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    for (DWORD i = 0; i < 40; ++i)
      RegSetValueEx(key, ("v" + std::to_string(i)).c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4);
    char done = 1;
    (void)!write(ready[1], &done, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char done = 0;
  ASSERT_EQ(read(ready[0], &done, 1), 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (DWORD i = 0; i < 40; ++i)
    EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run", "v" + std::to_string(i)),
              std::string(reinterpret_cast<const char*>(&i), 4));

  // Closing a key commits: the committed hive is the hive as it stands.
  const auto hive = root() / "registry.hive", committed = root() / "registry.committed";
  HKEY key = Create("SOFTWARE\\Tavrin");
  DWORD seven = 7;
  ASSERT_EQ(RegSetValueEx(key, "n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_TRUE(std::filesystem::exists(committed));
  EXPECT_TRUE(std::filesystem::equivalent(hive, committed));

  // The machine going down before a later write reached the disk leaves an empty hive: the committed one
  // stands in for it.
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "m", 1), ERROR_SUCCESS);
  std::filesystem::remove(hive);
  WriteFile(hive, "");
  tavrin::sysroot::SetRoot(root());
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n"), std::string("\7\0\0\0", 4));
  EXPECT_EQ(tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run", "v0"), std::string(4, '\0'));
}

TEST_F(RegistryTest, StaleTemporariesOfKilledWritersAreRemoved) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 1), ERROR_SUCCESS);
  WriteFile(root() / "registry.hive.a1B2c3", "TAVRIN-REGISTRY 2 0000000000000001\nK 1 HKEY_LOC");
  WriteFile(root() / "registry.hive.keepme1", "not ours");
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 2), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(root() / "registry.hive.a1B2c3"));
  EXPECT_TRUE(std::filesystem::exists(root() / "registry.hive.keepme1"));
}

TEST_F(RegistryTest, AFailedWriteKeepsTheOldHive) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n", 1), ERROR_SUCCESS);
  const auto hive = root() / "registry.hive";
  const std::string before = ReadFile(hive);
  // A child whose files may not grow past the hive's size cannot write a bigger one (root or not).
  pid_t child = Spawn([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{before.size() + 64, before.size() + 64};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    std::string big(4096, 'x');
    if (tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "big", REG_BINARY, big.data(),
                                   static_cast<DWORD>(big.size())) != ERROR_CANTWRITE)
      return false;
    // Memory holds the file's hive, not the change that failed.
    return !tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "big") &&
           tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "n") == std::string("\1\0\0\0", 4);
  });
  ASSERT_TRUE(Succeeded(child));
  EXPECT_EQ(ReadFile(hive), before);
  for (const auto& entry : std::filesystem::directory_iterator(root()))
    EXPECT_EQ(entry.path().filename().string().rfind("registry.hive.", 0), std::string::npos) << entry.path();
}

}  // namespace
