// Shared pieces of the communication tests: a fixture with a fresh sysroot, Windows Sockets started and
// short time-outs, small UDP sockets on loopback addresses, and waiting for a condition.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "admin/comm/CommSettings.h"
#include "admin/util/Utilities.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/winsock.h"

using tavrin::test::Eventually;

inline WORD LocalPort(SOCKET socket) {
  sockaddr_in local{};
  int length = sizeof(local);
  getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.sin_port);
}

// Fast settings for loopback: no pause before processing, receive time-outs of 50 ms.
inline ServerCommSettings TestSettings() {
  ServerCommSettings settings;
  settings.commandRecvTimeoutMs = 50;
  settings.processDelayMs = 0;
  settings.discoveryAddress = "127.0.0.1";
  return settings;
}

class CommTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    ASSERT_EQ(WinsockStart(), 0);
    saved_ = GetDefaultServerCommSettings();
    SetDefaultServerCommSettings(TestSettings());
  }
  void TearDown() override {
    SetDefaultServerCommSettings(saved_);
    WinsockStop();
    SysrootTest::TearDown();
  }

 private:
  ServerCommSettings saved_;
};

// A UDP socket bound to address:port (port 0: a free one).
class UdpSocket {
 public:
  explicit UdpSocket(const char* address, WORD port = 0) {
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
  }
  ~UdpSocket() { closesocket(socket_); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  WORD port() const { return LocalPort(socket_); }
  void SendTo(const char* address, WORD port, const std::string& bytes) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
                     reinterpret_cast<const sockaddr*>(&target), sizeof(target)),
              static_cast<int>(bytes.size()));
  }
  // One datagram, or "" after timeoutMs.
  std::string Receive(DWORD timeoutMs) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    char buffer[2048];
    int got = recv(socket_, buffer, sizeof(buffer), 0);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
  }

 private:
  SOCKET socket_;
};
