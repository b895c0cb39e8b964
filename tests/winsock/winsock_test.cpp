// Winsock names over POSIX sockets, over loopback.
#include "win32/winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "testsupport/eventually.h"

namespace {

using namespace std::chrono_literals;

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { EXPECT_EQ(WSACleanup(), 0); }

  static sockaddr_in Loopback(USHORT port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
    return a;
  }
  static USHORT PortOf(SOCKET s) {
    sockaddr_in a{};
    int len = sizeof(a);
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    return ntohs(a.sin_port);
  }
  static SOCKET BoundUdp() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = Loopback();
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    return s;
  }
  // A connected pair: client and the server's accepted end.
  static void TcpPair(SOCKET* client, SOCKET* accepted) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback();
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    a.sin_port = htons(PortOf(listener));
    *client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(connect(*client, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    sockaddr_in peer{};
    int len = sizeof(peer);
    *accepted = accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
    ASSERT_NE(*accepted, INVALID_SOCKET);
    EXPECT_EQ(std::string(inet_ntoa(peer.sin_addr)), "127.0.0.1");
    closesocket(listener);
  }
};

TEST(WinsockStartup, VersionsAndCounting) {
  WSADATA data;
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
  ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);  // one start-up still counts
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockAddresses, ConversionsAndUnionAccess) {
  ULONG a = inet_addr("192.168.1.20");
  in_addr in{};
  in.S_un.S_addr = a;
  EXPECT_EQ(in.s_addr, a);
  EXPECT_EQ(in.S_un.S_un_b.s_b1, 192);
  EXPECT_EQ(in.S_un.S_un_b.s_b4, 20);
  EXPECT_EQ(std::string(inet_ntoa(in)), "192.168.1.20");
  EXPECT_EQ(inet_addr("not an address"), INADDR_NONE);
  EXPECT_EQ(htons(0x1234), 0x3412);
  EXPECT_EQ(ntohl(htonl(0x01020304)), 0x01020304u);
  EXPECT_EQ(htonl(0x01020304), 0x04030201u);
}

TEST_F(WinsockTest, DatagramsAndTheirSizeLimit) {
  SOCKET receiver = BoundUdp();
  SOCKET sender = BoundUdp();
  sockaddr_in to = Loopback(PortOf(receiver));
  const char big[40] = "0123456789012345678901234567890123456";
  ASSERT_EQ(sendto(sender, "hello", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 5);
  ASSERT_EQ(sendto(sender, big, sizeof(big), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 40);

  char buffer[30];
  sockaddr_in from{};
  int from_len = sizeof(from);
  EXPECT_EQ(recvfrom(receiver, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &from_len), 5);
  EXPECT_EQ(ntohs(from.sin_port), PortOf(sender));
  // Longer than the buffer: an error, the buffer holding the first bytes, the rest lost.
  EXPECT_EQ(recvfrom(receiver, buffer, sizeof(buffer), 0, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::memcmp(buffer, big, sizeof(buffer)), 0);
  closesocket(receiver);
  closesocket(sender);
}

TEST_F(WinsockTest, ReceiveTimeoutInMilliseconds) {
  SOCKET s = BoundUdp();
  DWORD ms = 50;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms)), 0);
  DWORD read_back = 0;
  int len = sizeof(read_back);
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&read_back), &len), 0);
  EXPECT_EQ(read_back, 50u);
  char buffer[8];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(recv(s, buffer, sizeof(buffer), 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 45ms);
  EXPECT_LT(waited, 10s);  // not 50 seconds

  // Non-blocking: would block, at once.
  u_long on = 1;
  ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
  EXPECT_EQ(recv(s, buffer, sizeof(buffer), 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  closesocket(s);
}

TEST_F(WinsockTest, ShutdownWakesABlockedReceiver) {
  SOCKET udp = BoundUdp();
  SOCKET client, server;
  TcpPair(&client, &server);
  int udp_result = 0, udp_error = 0, tcp_result = 0, tcp_error = 0;
  std::atomic<pid_t> udp_tid{0}, tcp_tid{0};
  std::thread udp_reader([&] {
    udp_tid = tavrin::test::KernelThreadId();
    char buffer[16];
    udp_result = recvfrom(udp, buffer, sizeof(buffer), 0, nullptr, nullptr);
    udp_error = WSAGetLastError();
  });
  std::thread tcp_reader([&] {
    tcp_tid = tavrin::test::KernelThreadId();
    char buffer[16];
    tcp_result = recv(server, buffer, sizeof(buffer), 0);
    tcp_error = WSAGetLastError();
  });
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(udp_tid));
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(tcp_tid));
  shutdown(udp, SD_BOTH);  // an unconnected datagram socket: fails, but wakes
  EXPECT_EQ(shutdown(server, SD_BOTH), 0);
  udp_reader.join();
  tcp_reader.join();
  EXPECT_EQ(udp_result, SOCKET_ERROR);
  EXPECT_EQ(udp_error, WSAESHUTDOWN);
  EXPECT_EQ(tcp_result, SOCKET_ERROR);
  EXPECT_EQ(tcp_error, WSAESHUTDOWN);
  closesocket(udp);
  closesocket(server);
  closesocket(client);
}

TEST_F(WinsockTest, StreamsCloseAndFailures) {
  SOCKET client, server;
  TcpPair(&client, &server);
  ASSERT_EQ(send(client, "<CMD=1>", 7, 0), 7);
  char buffer[16] = {};
  EXPECT_EQ(recv(server, buffer, sizeof(buffer), 0), 7);
  EXPECT_STREQ(buffer, "<CMD=1>");

  // The peer's close reads as 0 bytes; writing on then fails without a signal killing the process.
  closesocket(server);
  EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 0);
  int result = 0;
  for (int i = 0; i < 20 && result != SOCKET_ERROR; ++i) result = send(client, "x", 1, 0);
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
  closesocket(client);

  EXPECT_EQ(closesocket(client), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

  // Nobody listening: a port held by a socket that never listens.
  SOCKET lonely = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in held = Loopback();
  ASSERT_EQ(bind(lonely, reinterpret_cast<sockaddr*>(&held), sizeof(held)), 0);
  SOCKET refused = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to = Loopback(PortOf(lonely));
  EXPECT_EQ(connect(refused, reinterpret_cast<sockaddr*>(&to), sizeof(to)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  closesocket(refused);
  closesocket(lonely);
}

TEST_F(WinsockTest, SelectIgnoresItsFirstArgument) {
  SOCKET receiver = BoundUdp();
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(receiver, &readable);
  timeval wait{0, 20000};
  EXPECT_EQ(select(0, &readable, nullptr, nullptr, &wait), 0);

  SOCKET sender = BoundUdp();
  sockaddr_in to = Loopback(PortOf(receiver));
  sendto(sender, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
  FD_ZERO(&readable);
  FD_SET(receiver, &readable);
  EXPECT_EQ(select(0, &readable, nullptr, nullptr, nullptr), 1);
  EXPECT_TRUE(FD_ISSET(receiver, &readable));
  closesocket(receiver);
  closesocket(sender);
}

TEST_F(WinsockTest, LastErrorBelongsToItsThread) {
  WSASetLastError(WSAEINTR);
  std::thread other([] {
    EXPECT_EQ(WSAGetLastError(), 0);
    WSASetLastError(WSAEFAULT);
  });
  other.join();
  EXPECT_EQ(WSAGetLastError(), WSAEINTR);
  char name[256];
  EXPECT_EQ(gethostname(name, static_cast<int>(sizeof(name))), 0);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_EQ(gethostname(name, 1), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

}  // namespace
