// TftpServer.exe as TavrinAdmin meets it: a process of the sysroot, its named objects, and clients on
// loopback (a raw one here, and Debian's tftp-hpa client).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/eventually.h"
#include "testsupport/sanitizers.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
#include "tftp/SharedInfo.h"
#include "win32/windows.h"
#include "zarnet/sim/simulator.h"

namespace fs = std::filesystem;

namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

// A UDP client of our own, for what a well-behaved client never sends.
class RawClient {
 public:
  RawClient() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    timeval timeout{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~RawClient() { close(fd_); }
  void Send(const std::string& packet, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  void Request(uint16_t opcode, const std::string& file, const std::string& mode, uint16_t port) {
    std::string packet{static_cast<char>(0), static_cast<char>(opcode)};
    packet += file + '\0' + mode + '\0';
    Send(packet, port);
  }
  // The next packet within `milliseconds` ("" on time-out).
  std::string ReceiveWithin(int milliseconds) {
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string packet = Receive();
    timeval normal{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &normal, sizeof normal);
    return packet;
  }
  // The next packet ("" on time-out) and the port it came from.
  std::string Receive(uint16_t* from = nullptr) {
    char buffer[600];
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &length);
    if (from) *from = ntohs(peer.sin_port);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
  }
  uint16_t port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }

 private:
  int fd_;
};

int ErrorCodeOf(const std::string& packet) {
  if (packet.size() < 4 || packet[1] != 5) return -1;
  return (static_cast<unsigned char>(packet[2]) << 8) | static_cast<unsigned char>(packet[3]);
}

std::string ErrorTextOf(const std::string& packet) { return packet.size() > 4 ? std::string(packet.c_str() + 4) : ""; }

bool IsFirstBlock(const std::string& packet) { return packet.substr(0, 4) == std::string("\0\x03\0\x01", 4); }

class TftpProgramTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    fs::copy_file(TFTPSERVER_PROGRAM, tavrin::sysroot::WindowsDir() / tftp::kProgramName);
    images_ = tavrin::sysroot::MapPath("C:\\fw images");
    fs::create_directories(images_);
    port_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    setenv("TAVRIN_TFTP_ADDRESS", "127.0.0.1", 1);
    setenv("TAVRIN_TFTP_PORT", std::to_string(port_).c_str(), 1);
    setenv("TAVRIN_TFTP_TIMEOUT_MS", "100", 1);
    setenv("TAVRIN_TFTP_RETRIES", "2", 1);
  }
  void TearDown() override {
    if (process_.hProcess) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 5000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    for (const char* name : {"TAVRIN_TFTP_ADDRESS", "TAVRIN_TFTP_PORT", "TAVRIN_TFTP_TIMEOUT_MS", "TAVRIN_TFTP_RETRIES"})
      unsetenv(name);
    SysrootTest::TearDown();
  }

  void WriteImage(const std::string& name, const std::string& bytes) {
    std::ofstream(images_ / name, std::ios::binary) << bytes;
  }

  // Starts the program as TavrinAdmin does; true once its event exists.
  bool StartServer() {
    std::string line = std::string(tftp::kRootPrefix) + "C:\\fw images";
    STARTUPINFO startup{};
    startup.cb = sizeof startup;
    if (!CreateProcess("C:\\WINDOWS\\TftpServer.exe", line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, nullptr, &startup, &process_))
      return false;
    for (;;) {
      if (HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName)) {
        CloseHandle(event);
        return true;
      }
      if (WaitForSingleObject(process_.hProcess, 5) == WAIT_OBJECT_0) return false;
    }
  }

  // Sets the event; the exit code once the program has ended.
  DWORD StopServer() {
    HANDLE event = OpenEvent(EVENT_MODIFY_STATE, FALSE, tftp::kShutDownEventName);
    EXPECT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
    // It ends its transfers first: a wait that ends at the event, long for a busy computer.
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(30)).count())),
              WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
    return code;
  }

  // The record of a client address, read as TavrinAdmin reads it (read-only, under the lock).
  bool FindRecord(const char* ip, tftp::SharedRecord& out) {
    HANDLE lock = OpenMutex(SYNCHRONIZE, FALSE, tftp::kLockName);
    HANDLE mapping = OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName);
    auto* records = mapping ? static_cast<const tftp::SharedRecord*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, tftp::kTableSize)) : nullptr;
    bool found = false;
    if (lock && records && WaitForSingleObject(lock, 5000) == WAIT_OBJECT_0) {
      for (size_t i = 0; i < tftp::kRecordCount && !found; ++i) {
        if (records[i].port != 0 && strncmp(records[i].ip, ip, tftp::kIpSize) == 0) {
          out = records[i];
          found = true;
        }
      }
      ReleaseMutex(lock);
    }
    if (records) UnmapViewOfFile(records);
    if (mapping) CloseHandle(mapping);
    if (lock) CloseHandle(lock);
    return found;
  }

  // Runs Debian's tftp client; its output (both streams).
  std::string RunClient(const std::string& command) {
    std::string line = "cd '" + tavrin::test::SysrootTest::root().string() + "' && exec tftp -m binary 127.0.0.1 " +
                       std::to_string(port_) + " -c " + command + " 2>&1";
    std::string output;
    tavrin::test::RunShell(line, &output);
    return output;
  }

  std::string ReadLocal(const std::string& name) {
    std::ifstream in(root() / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  fs::path images_;
  uint16_t port_ = 0;
  PROCESS_INFORMATION process_{};
};

TEST_F(TftpProgramTest, ServesARealClientAndRecordsTheTransfer) {
  if (tavrin::test::RunShell("command -v tftp >/dev/null 2>&1") != 0) GTEST_SKIP() << "tftp-hpa is not installed";
  const std::string image = RandomBytes(1024 * 1024, 7);
  WriteImage("big image.bin", image.substr(0, 10));
  WriteImage("zarnet-update-1.0.0.13.bin", image);
  ASSERT_TRUE(StartServer());

  RunClient("get zarnet-update-1.0.0.13.bin fetched.bin");
  EXPECT_TRUE(ReadLocal("fetched.bin") == image) << "the file differs";
  tftp::SharedRecord record{};
  ASSERT_TRUE(FindRecord("127.0.0.1", record));
  EXPECT_EQ(+record.state, tftp::kStateEnded);
  EXPECT_EQ(+record.result, tftp::kResultSuccess);
  EXPECT_EQ(+record.blocks, 2049u);  // 2048 full blocks and the empty one that ends the file
  EXPECT_NE(+record.port, 0);

  std::string output = RunClient("get missing.bin missing.bin");
  EXPECT_NE(output.find("Error code 1"), std::string::npos) << output;
  ASSERT_TRUE(FindRecord("127.0.0.1", record));  // the same client's record, reset by the new request
  EXPECT_EQ(+record.state, tftp::kStateEnded);
  EXPECT_EQ(+record.result, 1u);
  EXPECT_EQ(+record.blocks, 0u);

  EXPECT_EQ(StopServer(), 0u);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName), nullptr);
  EXPECT_EQ(OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName), nullptr);
  EXPECT_EQ(OpenMutex(SYNCHRONIZE, FALSE, tftp::kLockName), nullptr);
}

TEST_F(TftpProgramTest, RefusesWhatItDoesNotServe) {
  WriteImage("image.bin", "data");
  ASSERT_TRUE(StartServer());
  RawClient client;
  for (const char* name : {"../image.bin", "sub/image.bin", "sub\\image.bin", "..", "C:image.bin"}) {
    client.Request(1, name, "octet", port_);
    EXPECT_EQ(ErrorCodeOf(client.Receive()), 2) << name;
  }
  client.Request(2, "image.bin", "octet", port_);
  EXPECT_EQ(ErrorCodeOf(client.Receive()), 2) << "writing";
  client.Request(1, "image.bin", "netascii", port_);
  EXPECT_EQ(ErrorCodeOf(client.Receive()), 0) << "netascii";
  client.Send(std::string("\0\x01no-end", 8), port_);
  EXPECT_EQ(ErrorCodeOf(client.Receive()), 4) << "malformed";
  tftp::SharedRecord record{};
  ASSERT_TRUE(FindRecord("127.0.0.1", record));
  EXPECT_EQ(+record.state, tftp::kStateEnded);
  EXPECT_EQ(+record.result, 0u);  // the last read request: the mode it refused
  EXPECT_EQ(StopServer(), 0u);
}

TEST_F(TftpProgramTest, ResendsALimitedNumberOfTimes) {
  WriteImage("image.bin", RandomBytes(2000, 3));
  ASSERT_TRUE(StartServer());
  RawClient client;
  client.Request(1, "image.bin", "octet", port_);
  uint16_t transferPort = 0;
  std::string first = client.Receive(&transferPort);
  ASSERT_EQ(first.size(), 516u);
  EXPECT_NE(transferPort, port_) << "a transfer has its own port";
  // Never acknowledged: sent again twice (the retry limit), then given up.
  EXPECT_EQ(client.Receive(), first);
  EXPECT_EQ(client.Receive(), first);
  tftp::SharedRecord record{};
  EXPECT_TRUE(tavrin::test::Eventually([&] { return FindRecord("127.0.0.1", record) && record.state == tftp::kStateEnded; }));
  EXPECT_EQ(+record.state, tftp::kStateEnded);
  EXPECT_EQ(+record.result, tftp::kResultSystemBase + 10060);  // timed out
  EXPECT_EQ(+record.blocks, 0u);
  EXPECT_EQ(+record.port, client.port());

  // A stranger's packet to the transfer's port is told off; the transfer goes on.
  client.Request(1, "image.bin", "octet", port_);
  std::string block1 = client.Receive(&transferPort);
  RawClient stranger;
  stranger.Send(std::string("\0\x04\0\x01", 4), transferPort);
  EXPECT_EQ(ErrorCodeOf(stranger.Receive()), 5);
  client.Send(std::string("\0\x04\0\x01", 4), transferPort);
  EXPECT_EQ(client.Receive().substr(0, 4), std::string("\0\x03\0\x02", 4));
  EXPECT_EQ(StopServer(), 0u);
}

TEST_F(TftpProgramTest, PacketsThatKeepArrivingDoNotHoldATransfer) {
  WriteImage("image.bin", RandomBytes(2000, 5));
  ASSERT_TRUE(StartServer());
  RawClient client;
  client.Request(1, "image.bin", "octet", port_);
  uint16_t transferPort = 0;
  ASSERT_EQ(client.Receive(&transferPort).substr(0, 4), std::string("\0\x03\0\x01", 4));
  const std::string ackOfBlock1("\0\x04\0\x01", 4);
  client.Send(ackOfBlock1, transferPort);
  const std::string block2 = client.Receive();
  ASSERT_EQ(block2.substr(0, 4), std::string("\0\x03\0\x02", 4));
  // The client keeps repeating the old acknowledgement, faster than the resend time-out: block 2 is still
  // sent again on time, and the transfer is given up after its retries.
  int sent = 1;
  tftp::SharedRecord record{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    client.Send(ackOfBlock1, transferPort);
    const std::string packet = client.ReceiveWithin(50);
    if (packet == block2) ++sent;
    ASSERT_TRUE(FindRecord("127.0.0.1", record));
    if (record.state == tftp::kStateEnded) break;
  }
  EXPECT_EQ(+record.state, tftp::kStateEnded);
  EXPECT_EQ(+record.result, tftp::kResultSystemBase + 10060);  // timed out
  EXPECT_EQ(+record.blocks, 1u);
  EXPECT_EQ(sent, 3);  // sent, then sent again twice (the retry limit)
  EXPECT_EQ(StopServer(), 0u);
}

TEST_F(TftpProgramTest, TransfersBeyondTheBoundAreRefusedAndTheServerGoesOn) {
  setenv("TAVRIN_TFTP_TIMEOUT_MS", "20000", 1);  // the transfers stay until they are ended
  WriteImage("image.bin", RandomBytes(2000, 11));
  ASSERT_TRUE(StartServer());
  RawClient client;
  std::vector<uint16_t> transferPorts;
  int busy = 0;
  for (size_t i = 0; i < tftp::kRecordCount + 40; ++i) {
    client.Request(1, "image.bin", "octet", port_);
    uint16_t from = 0;
    const std::string answer = client.Receive(&from);
    if (IsFirstBlock(answer)) {
      transferPorts.push_back(from);
    } else {
      ASSERT_EQ(ErrorCodeOf(answer), 0) << i;
      EXPECT_NE(ErrorTextOf(answer).find("too many transfers"), std::string::npos) << ErrorTextOf(answer);
      EXPECT_EQ(from, port_);
      ++busy;
    }
  }
  EXPECT_EQ(transferPorts.size(), tftp::kRecordCount);
  EXPECT_EQ(busy, 40);
  tftp::SharedRecord record{};
  ASSERT_TRUE(FindRecord("127.0.0.1", record));
  EXPECT_EQ(+record.result, tftp::kResultSystemBase + 170);  // busy
  // One transfer ended by its client makes room for the next request.
  client.Send(std::string("\0\x05\0\0done\0", 9), transferPorts.front());
  // Until the ended transfer's thread has given its record back: a busy computer may take a while.
  std::string answer;
  EXPECT_TRUE(tavrin::test::Eventually([&] {
    client.Request(1, "image.bin", "octet", port_);
    answer = client.Receive();
    return IsFirstBlock(answer);
  })) << ErrorTextOf(answer);
  EXPECT_EQ(StopServer(), 0u);
}

TEST_F(TftpProgramTest, FailuresForWantOfResourcesAreReportedAsSuch) {
#ifdef TAVRIN_SANITIZED
  GTEST_SKIP() << "the sanitizers' runtime needs descriptors and address space of its own";
#else
  WriteImage("image.bin", RandomBytes(700, 13));
  ASSERT_TRUE(StartServer());
  const pid_t pid = static_cast<pid_t>(GetProcessId(process_.hProcess));
  RawClient client;
  // No room for a transfer's thread (before any has run: a finished thread's stack would be used again):
  // refused, and the server lives on.
  auto addressSpace = [pid] {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  };
  rlimit oldSpace{};
  ASSERT_EQ(prlimit(pid, RLIMIT_AS, nullptr, &oldSpace), 0);
  const rlimit tightSpace{addressSpace() + 2 * 1024 * 1024, oldSpace.rlim_max};
  ASSERT_EQ(prlimit(pid, RLIMIT_AS, &tightSpace, nullptr), 0);
  client.Request(1, "image.bin", "octet", port_);
  const std::string refusal = client.Receive();
  ASSERT_EQ(prlimit(pid, RLIMIT_AS, &oldSpace, nullptr), 0);
  EXPECT_EQ(ErrorCodeOf(refusal), 3);
  EXPECT_NE(ErrorTextOf(refusal).find("no thread"), std::string::npos) << ErrorTextOf(refusal);
  auto lowestFreeDescriptor = [pid] {
    std::vector<int> open;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
      open.push_back(std::stoi(entry.path().filename().string()));
    std::sort(open.begin(), open.end());
    int lowest = 0;
    for (int fd : open) {
      if (fd != lowest) break;
      ++lowest;
    }
    return lowest;
  };
  rlimit old{};
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, nullptr, &old), 0);
  tftp::SharedRecord record{};
  // No room for the transfer's socket, then room for it but not for the file: an existing file is not an
  // access violation, and the client hears why. (In this order: a refused transfer may close its socket
  // only after the client has heard of it.)
  for (int room : {0, 1}) {
    const rlimit tight{static_cast<rlim_t>(lowestFreeDescriptor() + room), old.rlim_max};
    ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &tight, nullptr), 0);
    client.Request(1, "image.bin", "octet", port_);
    const std::string answer = client.Receive();
    EXPECT_EQ(ErrorCodeOf(answer), 3) << room;
    EXPECT_NE(ErrorTextOf(answer).find("out of resources"), std::string::npos) << ErrorTextOf(answer);
    ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &old, nullptr), 0);
    ASSERT_TRUE(FindRecord("127.0.0.1", record));
    EXPECT_EQ(+record.state, tftp::kStateEnded);
    EXPECT_EQ(+record.result, tftp::kResultSystemBase + (room ? 4 : 10024)) << room;  // too many open files
  }
  // Resources back: served as ever.
  client.Request(1, "image.bin", "octet", port_);
  uint16_t transferPort = 0;
  EXPECT_TRUE(IsFirstBlock(client.Receive(&transferPort)));
  client.Send(std::string("\0\x04\0\x01", 4), transferPort);
  EXPECT_EQ(client.Receive().size(), 4u + 700 - 512);
  EXPECT_EQ(StopServer(), 0u);
#endif
}

TEST_F(TftpProgramTest, StopEndsATransferInProgress) {
  setenv("TAVRIN_TFTP_TIMEOUT_MS", "10000", 1);  // the transfer would wait long for its acknowledgement
  WriteImage("image.bin", RandomBytes(5000, 9));
  ASSERT_TRUE(StartServer());
  RawClient client;
  client.Request(1, "image.bin", "octet", port_);
  ASSERT_EQ(client.Receive().size(), 516u);
  HANDLE lock = OpenMutex(SYNCHRONIZE, FALSE, tftp::kLockName);  // keeps the table to read it afterwards
  HANDLE mapping = OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(StopServer(), 0u);  // within the wait, not after the transfer's ten seconds
  auto* records = static_cast<const tftp::SharedRecord*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(records, nullptr);
  EXPECT_EQ(+records[0].state, tftp::kStateEnded);
  EXPECT_EQ(+records[0].result, tftp::kResultSystemBase + 995);  // aborted
  UnmapViewOfFile(records);
  CloseHandle(mapping);
  CloseHandle(lock);
}

TEST_F(TftpProgramTest, PortTakenMeansNoServer) {
  RawClient holder;
  setenv("TAVRIN_TFTP_PORT", std::to_string(holder.port()).c_str(), 1);
  EXPECT_FALSE(StartServer());
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName), nullptr);
}

}  // namespace
