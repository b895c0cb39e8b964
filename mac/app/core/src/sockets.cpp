#include "TavrinMac/sockets.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cocoa/bsd.h"

namespace {

std::atomic<int> g_connectTimeoutMs{5000};

// A socket numbered 0 would read as "no connection" to every caller: take another number.
int AvoidZero(int fd, int type) {
  if (fd != 0) return fd;
  int other = bsd::socket(AF_INET, type, 0);  // 0 is taken, so this one is not 0
  bsd::close(0);
  return other;
}

}  // namespace

namespace tavrinmac {
void SetConnectTimeoutMs(int ms) { g_connectTimeoutMs = ms; }
}  // namespace tavrinmac

int createUDPSocket() {
  printf("Client: creating socket");
  int fd = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd >= 0) fd = AvoidZero(fd, SOCK_DGRAM);
  if (fd < 0) {
    printf("Client: socket failed: %d\n", errno);
    fflush(stdout);
    exit(1);
  }
  int on = 1;
  int result = bsd::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (result == 0) printf("Success in sock opt");
  else printf("Failed in sock opt %d\n", result);
  timeval timeout{2, 0};
  result = bsd::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (result == 0) printf("Success in sock opt");
  else printf("Failed in sock opt %d\n", result);
  return fd;
}

int createTCPSocket(const char* address) {
  int fd = bsd::socket(AF_INET, SOCK_STREAM, 0);
  if (fd >= 0) fd = AvoidZero(fd, SOCK_STREAM);
  if (fd < 0) {
    printf("Client: socket failed: %d\n", errno);
    return 0;
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(1341);
  server.sin_addr.s_addr = bsd::inet_addr(address ? address : "");
  const char* text = address ? address : "";
  auto fail = [fd] {
    bsd::close(fd);
    return 0;
  };
  if (!bsd::SetBlocking(fd, false)) return fail();
  if (bsd::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0) {
    if (errno != EINPROGRESS) {
      fprintf(stderr, "Error connecting %d - %s\n", errno, strerror(errno));
      return fail();
    }
    fprintf(stderr, "HERE EINPROGRESS in connect() - selecting %s\n", text);
    pollfd p{fd, POLLOUT, 0};
    int ready = bsd::poll(&p, 1, g_connectTimeoutMs.load());
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
      fprintf(stderr, "Timeout in select() - Cancelling - %s!\n", text);
      return fail();
    }
    if (ready < 0) {
      fprintf(stderr, "Error connecting %d - %s\n", errno, strerror(errno));
      return fail();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (bsd::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) {
      fprintf(stderr, "Error in getsockopt() %d - %s\n", errno, strerror(errno));
      return fail();
    }
    if (error != 0) {
      fprintf(stderr, "Error in delayed connection() %d - %s\n", error, strerror(error));
      return fail();
    }
  }
  if (!bsd::SetBlocking(fd, true)) return fail();
  return fd;
}
