// The configuration file "TavrinConf.ini": text in and out, the records, the change flags and the lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "admin/comm/ConfFile.h"
#include "admin/comm/ServerComm.h"
#include "testsupport/sysroot.h"
#include "win32/file.h"
#include "win32/sysroot.h"

namespace {

// The records are packed: their members are read by value, never bound to references.
ConnectionEntry* Next(const ConnectionEntry* entry) { return entry->next; }
ConnectionEntry* FirstOf(const ConnectedClientsInfo& table) { return table.first; }
ConnectionEntry* FirstOf(const CServerComm& comm) { return FirstOf(comm.m_ConnectedClientsInfo); }

class ConfFileTest : public tavrin::test::SysrootTest {
 protected:
  std::string DiskBytes() {
    std::ifstream in(tavrin::sysroot::WindowsDir() / kConfFileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string FileText(CServerComm& comm) {
    DWORD size = 0;
    comm.ReadConfFile(nullptr, &size);
    std::string text(size, '\0');
    EXPECT_EQ(comm.ReadConfFile(text.data(), &size), 0u);
    return text;
  }
  void Write(CServerComm& comm, const std::string& text) {
    ASSERT_TRUE(comm.WriteRspToFile(text.data(), static_cast<DWORD>(text.size())));
  }
};

TEST_F(ConfFileTest, LivesInTheWindowsDirectoryAndStoresLineFeedsAsCrLf) {
  CServerComm comm;
  EXPECT_STREQ(comm.GetConfFilePath(), "C:\\WINDOWS\\TavrinConf.ini");
  Write(comm, "[BasicSettings]\nserver_name=lab\n");
  EXPECT_EQ(DiskBytes(), "[BasicSettings]\r\nserver_name=lab\r\n");
  EXPECT_EQ(FileText(comm), "[BasicSettings]\nserver_name=lab\n");
  // No bytes: the file is emptied, not left as it was.
  ASSERT_TRUE(comm.WriteRspToFile(nullptr, 0));
  EXPECT_EQ(DiskBytes(), "");
}

TEST_F(ConfFileTest, ReadConfFileReportsTheLengthItNeeds) {
  CServerComm comm;
  std::string text(700, 'x');  // longer than one 260-byte piece
  text += "\n";
  Write(comm, text);
  char small[100];
  DWORD size = sizeof(small);
  EXPECT_EQ(comm.ReadConfFile(small, &size), 701u);
  EXPECT_EQ(size, 701u);
  std::vector<char> big(701);
  size = static_cast<DWORD>(big.size());
  EXPECT_EQ(comm.ReadConfFile(big.data(), &size), 0u);
  EXPECT_EQ(std::string(big.data(), size), text);
}

TEST_F(ConfFileTest, ReadConfInfoFillsTheRecordWithDefaultsForMissingKeys) {
  CServerComm comm;
  comm.m_TavrinConfInfo.network_changed = 1;  // reading leaves the change flags alone
  Write(comm,
        "[GeneralSettings]\nserver_model=1\nfw_version=1.0.0.7\nhw_version=2.1\nserial_no=000042\n"
        "[BasicSettings]\nserver_name=" + std::string(40, 'n') + "\n"
        "[NetworkSettings]\nip_address=10.1.2.3\nnet_mask=255.0.0.0\ngate_way=10.0.0.1\nip_config=1\n"
        "mac_addr=00:1B:5A:00:00:01\n");
  comm.ReadConfInfo();
  const TavrinConfInfo& info = comm.m_TavrinConfInfo;
  EXPECT_EQ(info.server_model, 1);
  EXPECT_STREQ(info.fw_version, "1.0.0.7");
  EXPECT_STREQ(info.hw_version, "2.1");
  EXPECT_EQ(DWORD{info.serial_no}, 42u);
  EXPECT_EQ(std::string(info.server_name), std::string(29, 'n'));  // cut to the field
  EXPECT_STREQ(info.ip_address, "10.1.2.3");
  EXPECT_STREQ(info.net_mask, "255.0.0.0");
  EXPECT_STREQ(info.gate_way, "10.0.0.1");
  EXPECT_EQ(DWORD{info.ip_config}, 1u);
  EXPECT_STREQ(info.mac_addr, "00:1B:5A:00:00:01");
  // No [Password]: protection reads as on, with no password.
  EXPECT_EQ(DWORD{info.enable}, 1u);
  EXPECT_STREQ(info.password, "");
  EXPECT_EQ(DWORD{info.network_changed}, 1u);
}

TEST_F(ConfFileTest, WriteConfInfoWritesOnlyTheEditedSections) {
  CServerComm comm;
  TavrinConfInfo& info = comm.m_TavrinConfInfo;
  strcpy(info.server_name, "basic");
  strcpy(info.ip_address, "192.0.2.7");
  strcpy(info.net_mask, "255.255.255.0");
  strcpy(info.gate_way, "192.0.2.1");
  info.ip_config = 0;
  strcpy(info.mac_addr, "00:11:22:33:44:55");
  strcpy(info.password, "secret");
  info.enable = 0;

  info.network_changed = 1;
  Write(comm, "");
  comm.WriteConfInfo();
  std::string text = FileText(comm);
  EXPECT_EQ(text.find("[BasicSettings]"), std::string::npos);
  EXPECT_EQ(text.find("[Password]"), std::string::npos);
  const char* keys[] = {"ip_address=192.0.2.7", "net_mask=255.255.255.0", "gate_way=192.0.2.1", "ip_config=0",
                        "mac_addr=00:11:22:33:44:55"};
  size_t at = text.find("[NetworkSettings]");
  ASSERT_NE(at, std::string::npos);
  for (const char* key : keys) {
    size_t next = text.find(key, at);
    ASSERT_NE(next, std::string::npos) << key;
    at = next;  // in this order
  }

  // Either password flag writes both keys of [Password].
  info.network_changed = 0;
  info.password_changed = 1;
  Write(comm, "");
  comm.WriteConfInfo();
  text = FileText(comm);
  EXPECT_EQ(text.find("[NetworkSettings]"), std::string::npos);
  EXPECT_NE(text.find("enable=0"), std::string::npos);
  EXPECT_NE(text.find("password=secret"), std::string::npos);

  // A field without its terminating zero is written cut to 29 characters.
  info.password_changed = 0;
  info.basic_changed = 1;
  memset(info.server_name, 'z', sizeof(info.server_name));
  Write(comm, "");
  comm.WriteConfInfo();
  EXPECT_NE(FileText(comm).find("server_name=" + std::string(29, 'z') + "\n"), std::string::npos);
}

TEST_F(ConfFileTest, ConnectionTableEndsAtTheFirstPortZero) {
  CServerComm comm;
  strcpy(comm.m_CommandContext.ServerIp, "127.0.0.9");
  Write(comm, "[ConnectionTable]\nport_no1=1\nclient_ip1=10.0.0.5\nport_no2=3\nclient_ip2=10.0.0.6\n");
  comm.ReadConnectionTable();
  EXPECT_STREQ(comm.m_ConnectedClientsInfo.server_ip, "127.0.0.9");
  ConnectionEntry* first = FirstOf(comm);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(DWORD{first->port_no}, 1u);
  EXPECT_STREQ(first->client_ip, "10.0.0.5");
  ConnectionEntry* second = Next(first);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(DWORD{second->port_no}, 3u);
  EXPECT_STREQ(second->client_ip, "10.0.0.6");
  EXPECT_EQ(Next(second), nullptr);

  ConnectedClientsInfo copy{};
  comm.CopyConnectedClients(&copy);
  EXPECT_STREQ(copy.server_ip, "127.0.0.9");
  ASSERT_NE(FirstOf(copy), nullptr);
  ASSERT_NE(Next(copy.first), nullptr);
  EXPECT_NE(FirstOf(copy), first);
  EXPECT_STREQ(Next(copy.first)->client_ip, "10.0.0.6");
  for (ConnectionEntry* entry = FirstOf(copy); entry != nullptr;) {
    ConnectionEntry* next = entry->next;
    delete entry;
    entry = next;
  }

  // A table that starts with port 0 is empty, whatever follows; the old chain is freed (leak check).
  Write(comm, "[ConnectionTable]\nport_no1=0\nport_no2=4\nclient_ip2=10.0.0.7\n");
  comm.ReadConnectionTable();
  EXPECT_EQ(FirstOf(comm), nullptr);
  Write(comm, "[GeneralSettings]\nserver_model=0\n");
  comm.ReadConnectionTable();
  EXPECT_EQ(FirstOf(comm), nullptr);
}

TEST_F(ConfFileTest, AFileThatCannotBeWrittenIsReported) {
  CServerComm comm;
  comm.SetConfFilePath("C:\\no-such-folder\\deeper\\TavrinConf.ini");
  EXPECT_FALSE(comm.WriteRspToFile("x\n", 2));
  DWORD size = 10;
  char buffer[10];
  EXPECT_EQ(comm.ReadConfFile(buffer, &size), 0u);
  EXPECT_EQ(size, 0u);
}

// Commands write the file and read it back; under the lock no other writer comes between.
TEST_F(ConfFileTest, WriteAndReadBackUnderTheLockDoNotInterleave) {
  constexpr int kRounds = 40;
  auto worker = [](char tag, bool* consistent) {
    CServerComm comm;
    for (int i = 0; i < kRounds; ++i) {
      std::string name(20, tag);
      std::string text = "[BasicSettings]\nserver_name=" + name + "\n";
      ConfFileLock lock(comm.GetConfFilePath());
      comm.WriteRspToFile(text.data(), static_cast<DWORD>(text.size()));
      comm.ReadConfInfo();
      if (name != comm.m_TavrinConfInfo.server_name) *consistent = false;
    }
  };
  bool consistentA = true;
  bool consistentB = true;
  std::thread a(worker, 'a', &consistentA);
  std::thread b(worker, 'b', &consistentB);
  a.join();
  b.join();
  EXPECT_TRUE(consistentA);
  EXPECT_TRUE(consistentB);
}

// The lock file keeps other processes out while a command uses the file: another opener of the product's
// own lock file (as another process would open it) cannot lock it until the command is done.
TEST_F(ConfFileTest, TheLockFileKeepsOtherOpenersOut) {
  CServerComm comm;
  const std::string lockPath = std::string(comm.GetConfFilePath()) + ".lock";
  auto tryLock = [&lockPath] {
    HANDLE file = CreateFile(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    OVERLAPPED whole{};
    const BOOL locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole);
    const DWORD error = GetLastError();
    if (locked) UnlockFileEx(file, 0, 1, 0, &whole);
    CloseHandle(file);
    return locked ? ERROR_SUCCESS : error;
  };
  {
    ConfFileLock lock(comm.GetConfFilePath());
    ConfFileLock nested(comm.GetConfFilePath());  // the same thread may take it again
    EXPECT_EQ(tryLock(), ERROR_LOCK_VIOLATION);
  }
  EXPECT_EQ(tryLock(), ERROR_SUCCESS);
}

}  // namespace
