// Winsock over POSIX sockets. Our declarations first: the C library's socket headers that follow define
// macros (SOL_SOCKET, INADDR_ANY...) that would otherwise rewrite them. The constants have the same
// values on both sides (checked below), so the body may use either.
#define TAVRIN_WINSOCK_IMPLEMENTATION
#include "win32/winsock.h"

#include "win32/sync.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace tavrin::winsock {
namespace {

static_assert(AF_INET == 2 && SOCK_STREAM == 1 && SOCK_DGRAM == 2 && SOCK_RAW == 3);
static_assert(IPPROTO_TCP == 6 && IPPROTO_UDP == 17 && TCP_NODELAY == 1);
static_assert(SOL_SOCKET == 1 && SO_REUSEADDR == 2 && SO_TYPE == 3 && SO_ERROR == 4);
static_assert(SO_BROADCAST == 6 && SO_SNDBUF == 7 && SO_RCVBUF == 8 && SO_KEEPALIVE == 9);
static_assert(SO_LINGER == 13 && SO_RCVTIMEO == 20 && SO_SNDTIMEO == 21);
static_assert(MSG_OOB == 1 && MSG_PEEK == 2 && MSG_DONTROUTE == 4 && MSG_WAITALL == 0x100);
static_assert(SHUT_RD == 0 && SHUT_WR == 1 && SHUT_RDWR == 2);
static_assert(FIONREAD == 0x541B && FIONBIO == 0x5421 && SOMAXCONN == 4096);
static_assert(sizeof(::sockaddr_in) == sizeof(tavrin::winsock::sockaddr_in));

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

std::atomic<int> g_startups{0};

// What Winsock knows of a socket that the descriptor alone does not tell.
struct SocketState {
  bool non_blocking = false;
  bool receive_shut = false;
  bool send_shut = false;
  // The time-outs as set: the kernel keeps them in its own ticks and would read back rounded.
  DWORD receive_timeout_ms = 0;
  DWORD send_timeout_ms = 0;
};

std::mutex g_sockets_lock;
std::unordered_map<int, SocketState> g_sockets;

int Fail(int error) {
  SetLastError(static_cast<DWORD>(error));
  return SOCKET_ERROR;
}

bool Started() {
  if (g_startups.load() > 0) return true;
  SetLastError(static_cast<DWORD>(WSANOTINITIALISED));
  return false;
}

// The descriptor of a socket made here, with a copy of its state; -1 and WSAENOTSOCK otherwise.
int Lookup(SOCKET s, SocketState* state = nullptr) {
  if (!Started()) return -1;
  if (s > static_cast<SOCKET>(INT32_MAX)) {
    SetLastError(static_cast<DWORD>(WSAENOTSOCK));
    return -1;
  }
  int fd = static_cast<int>(s);
  std::lock_guard lock(g_sockets_lock);
  auto it = g_sockets.find(fd);
  if (it == g_sockets.end()) {
    SetLastError(static_cast<DWORD>(WSAENOTSOCK));
    return -1;
  }
  if (state) *state = it->second;
  return fd;
}

SocketState CurrentState(int fd) {
  std::lock_guard lock(g_sockets_lock);
  auto it = g_sockets.find(fd);
  return it == g_sockets.end() ? SocketState{} : it->second;
}

int ErrnoToWsa(int err) {
  switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;  // a non-blocking connect under way
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

// A failed transfer: a blocking socket that ran out of its SO_RCVTIMEO/SO_SNDTIMEO timed out.
int FailTransfer(int err, int fd, bool receiving) {
  SocketState state = CurrentState(fd);
  if ((receiving && state.receive_shut) || (!receiving && state.send_shut)) return Fail(WSAESHUTDOWN);
  if ((err == EAGAIN || err == EWOULDBLOCK) && !state.non_blocking) return Fail(WSAETIMEDOUT);
  return Fail(ErrnoToWsa(err));
}

void Register(int fd) {
  std::lock_guard lock(g_sockets_lock);
  g_sockets[fd] = SocketState{};
}

::timeval MillisecondsToTimeval(DWORD ms) {
  ::timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

bool IsTimeoutOption(int level, int optname) {
  return level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO);
}

// Length of a caller's address buffer, refused when it cannot hold a sockaddr_in.
bool AddressRoom(const int* len) { return len == nullptr || *len >= static_cast<int>(sizeof(sockaddr_in)); }

}  // namespace

int WSAStartup(WORD version_requested, WSADATA* data) {
  if (data == nullptr) return WSAEFAULT;
  BYTE major = LOBYTE(version_requested);
  BYTE minor = HIBYTE(version_requested);
  std::memset(data, 0, sizeof(*data));
  data->wHighVersion = kHighestVersion;
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? kHighestVersion : version_requested;
  data->iMaxUdpDg = 0;
  std::strcpy(data->szDescription, "WinSock 2.0");
  std::strcpy(data->szSystemStatus, "Running");
  ++g_startups;
  return 0;
}

int WSACleanup() {
  int count = g_startups.load();
  while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0) return Fail(WSANOTINITIALISED);
  return 0;
}

// As on Windows, the Winsock error is the thread's last error.
int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    Fail(ErrnoToWsa(errno));
    return INVALID_SOCKET;
  }
  Register(fd);
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  {
    std::lock_guard lock(g_sockets_lock);
    g_sockets.erase(fd);
  }
  if (::close(fd) != 0 && errno != EINTR) return Fail(ErrnoToWsa(errno));
  return 0;
}

int shutdown(SOCKET s, int how) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return Fail(WSAEINVAL);
  {
    // Marked before the call, so a receiver that it wakes sees the reason.
    std::lock_guard lock(g_sockets_lock);
    auto it = g_sockets.find(fd);
    if (it != g_sockets.end()) {
      if (how != SD_SEND) it->second.receive_shut = true;
      if (how != SD_RECEIVE) it->second.send_shut = true;
    }
  }
  // An unconnected datagram socket reports ENOTCONN but its blocked receivers are woken all the same.
  if (::shutdown(fd, how) != 0) return Fail(ErrnoToWsa(errno));
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  if (::bind(fd, reinterpret_cast<const ::sockaddr*>(name), static_cast<socklen_t>(namelen)) != 0)
    return Fail(ErrnoToWsa(errno));
  return 0;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const ::sockaddr*>(name), static_cast<socklen_t>(namelen));
  } while (rc != 0 && errno == EINTR && !CurrentState(fd).non_blocking);
  if (rc != 0) return Fail(ErrnoToWsa(errno));
  return 0;
}

int listen(SOCKET s, int backlog) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (::listen(fd, backlog) != 0) return Fail(ErrnoToWsa(errno));
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  SocketState state;
  int fd = Lookup(s, &state);
  if (fd < 0) return INVALID_SOCKET;
  if (addr != nullptr && !AddressRoom(addrlen)) {
    Fail(WSAEFAULT);
    return INVALID_SOCKET;
  }
  ::sockaddr_in peer{};
  socklen_t peer_len = sizeof(peer);
  int conn = ::accept4(fd, reinterpret_cast<::sockaddr*>(&peer), &peer_len, SOCK_CLOEXEC);
  if (conn < 0) {
    // A listening socket that was shut down wakes its acceptor with EINVAL.
    if (CurrentState(fd).receive_shut) Fail(WSAEINTR);
    else Fail(ErrnoToWsa(errno));
    return INVALID_SOCKET;
  }
  Register(conn);
  if (addr != nullptr) {
    std::memcpy(addr, &peer, sizeof(sockaddr_in));
    if (addrlen) *addrlen = sizeof(sockaddr_in);
  }
  return static_cast<SOCKET>(conn);
}

int send(SOCKET s, const char* buf, int len, int flags) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (len < 0 || (buf == nullptr && len > 0)) return Fail(WSAEFAULT);
  ssize_t n;
  do {
    n = ::send(fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailTransfer(errno, fd, false);
  return static_cast<int>(n);
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (len < 0 || (buf == nullptr && len > 0)) return Fail(WSAEFAULT);
  if (to != nullptr && tolen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  ssize_t n;
  do {
    n = ::sendto(fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                 reinterpret_cast<const ::sockaddr*>(to), to ? static_cast<socklen_t>(tolen) : 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailTransfer(errno, fd, false);
  return static_cast<int>(n);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (len < 0 || (buf == nullptr && len > 0)) return Fail(WSAEFAULT);
  if (from != nullptr && !AddressRoom(fromlen)) return Fail(WSAEFAULT);
  if (CurrentState(fd).receive_shut) return Fail(WSAESHUTDOWN);
  ::sockaddr_in peer{};
  ::iovec io{buf, static_cast<size_t>(len)};
  ::msghdr msg{};
  msg.msg_name = &peer;
  msg.msg_namelen = sizeof(peer);
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailTransfer(errno, fd, true);
  // Woken by our own shutdown: Winsock reports it as an error, not as an empty message.
  if (n == 0 && CurrentState(fd).receive_shut) return Fail(WSAESHUTDOWN);
  if (from != nullptr) {
    std::memcpy(from, &peer, sizeof(sockaddr_in));
    if (fromlen) *fromlen = sizeof(sockaddr_in);
  }
  // A datagram longer than the buffer: its first bytes are there, the rest is lost.
  if (msg.msg_flags & MSG_TRUNC) return Fail(WSAEMSGSIZE);
  return static_cast<int>(n);
}

int recv(SOCKET s, char* buf, int len, int flags) { return recvfrom(s, buf, len, flags, nullptr, nullptr); }

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (optval == nullptr || optlen < 0) return Fail(WSAEFAULT);
  if (IsTimeoutOption(level, optname)) {
    if (optlen < static_cast<int>(sizeof(DWORD))) return Fail(WSAEFAULT);
    DWORD ms;
    std::memcpy(&ms, optval, sizeof(ms));
    ::timeval tv = MillisecondsToTimeval(ms);
    if (::setsockopt(fd, level, optname, &tv, sizeof(tv)) != 0) return Fail(ErrnoToWsa(errno));
    std::lock_guard lock(g_sockets_lock);
    (optname == SO_RCVTIMEO ? g_sockets[fd].receive_timeout_ms : g_sockets[fd].send_timeout_ms) = ms;
    return 0;
  }
  if (::setsockopt(fd, level, optname, optval, static_cast<socklen_t>(optlen)) != 0)
    return Fail(ErrnoToWsa(errno));
  return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (optval == nullptr || optlen == nullptr || *optlen < 0) return Fail(WSAEFAULT);
  if (IsTimeoutOption(level, optname)) {
    if (*optlen < static_cast<int>(sizeof(DWORD))) return Fail(WSAEFAULT);
    SocketState state = CurrentState(fd);
    DWORD ms = optname == SO_RCVTIMEO ? state.receive_timeout_ms : state.send_timeout_ms;
    std::memcpy(optval, &ms, sizeof(ms));
    *optlen = sizeof(ms);
    return 0;
  }
  socklen_t len = static_cast<socklen_t>(*optlen);
  if (::getsockopt(fd, level, optname, optval, &len) != 0) return Fail(ErrnoToWsa(errno));
  if (level == SOL_SOCKET && optname == SO_ERROR && len >= sizeof(int)) {
    int err;
    std::memcpy(&err, optval, sizeof(err));
    if (err != 0) err = ErrnoToWsa(err);
    std::memcpy(optval, &err, sizeof(err));
  }
  *optlen = static_cast<int>(len);
  return 0;
}

static int AddressOf(SOCKET s, sockaddr* name, int* namelen, bool peer) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (name == nullptr || namelen == nullptr || !AddressRoom(namelen)) return Fail(WSAEFAULT);
  ::sockaddr_in address{};
  socklen_t len = sizeof(address);
  int rc = peer ? ::getpeername(fd, reinterpret_cast<::sockaddr*>(&address), &len)
                : ::getsockname(fd, reinterpret_cast<::sockaddr*>(&address), &len);
  if (rc != 0) return Fail(ErrnoToWsa(errno));
  std::memcpy(name, &address, sizeof(sockaddr_in));
  *namelen = sizeof(sockaddr_in);
  return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) { return AddressOf(s, name, namelen, false); }
int getpeername(SOCKET s, sockaddr* name, int* namelen) { return AddressOf(s, name, namelen, true); }

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
  int fd = Lookup(s);
  if (fd < 0) return SOCKET_ERROR;
  if (argp == nullptr) return Fail(WSAEFAULT);
  if (cmd == FIONBIO) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return Fail(ErrnoToWsa(errno));
    bool on = *argp != 0;
    if (::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) != 0)
      return Fail(ErrnoToWsa(errno));
    std::lock_guard lock(g_sockets_lock);
    g_sockets[fd].non_blocking = on;
    return 0;
  }
  if (cmd == FIONREAD) {
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0) return Fail(ErrnoToWsa(errno));
    *argp = static_cast<u_long>(available);
    return 0;
  }
  return Fail(WSAEINVAL);
}

int Select(int /*nfds: ignored, as by Winsock*/, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
           const timeval* timeout) {
  if (!Started()) return SOCKET_ERROR;
  int highest = -1;
  for (fd_set* set : {readfds, writefds, exceptfds}) {
    if (set == nullptr) continue;
    for (int fd = 0; fd < FD_SETSIZE; ++fd)
      if (FD_ISSET(fd, set) && fd > highest) highest = fd;
  }
  if (highest < 0) return Fail(WSAEINVAL);  // Winsock refuses a select on no socket at all
  ::timeval remaining{};
  if (timeout) remaining = *timeout;
  int rc = ::select(highest + 1, readfds, writefds, exceptfds, timeout ? &remaining : nullptr);
  if (rc < 0) return Fail(ErrnoToWsa(errno));
  return rc;
}

int gethostname(char* name, int namelen) {
  if (!Started()) return SOCKET_ERROR;
  if (name == nullptr || namelen <= 0) return Fail(WSAEFAULT);
  char host[256] = {};
  if (::gethostname(host, sizeof(host) - 1) != 0) return Fail(ErrnoToWsa(errno));
  if (std::strlen(host) + 1 > static_cast<size_t>(namelen)) return Fail(WSAEFAULT);
  std::strcpy(name, host);
  return 0;
}

ULONG inet_addr(const char* cp) {
  ::in_addr address{};
  if (cp == nullptr || ::inet_aton(cp, &address) == 0) return INADDR_NONE;
  return address.s_addr;
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  const auto& b = in.S_un.S_un_b;
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b.s_b1, b.s_b2, b.s_b3, b.s_b4);
  return text;
}

}  // namespace tavrin::winsock
