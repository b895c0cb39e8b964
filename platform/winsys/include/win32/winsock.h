// Windows Sockets 2 names over the POSIX socket interface.
//
// A SOCKET is the file descriptor. Constants keep the C library's values (code only passes them back
// in). The differences from plain POSIX that Winsock callers rely on are kept here:
// - errors go to WSAGetLastError as WSA codes (per thread); calls fail with SOCKET_ERROR;
// - SO_RCVTIMEO / SO_SNDTIMEO take a DWORD of milliseconds; a receive that times out fails with
//   WSAETIMEDOUT (WSAEWOULDBLOCK on a non-blocking socket);
// - a datagram longer than the buffer fails with WSAEMSGSIZE (the buffer holds its first bytes);
// - after shutdown(SD_RECEIVE or SD_BOTH) a receive fails with WSAESHUTDOWN, also in a thread that was
//   already blocked in it: shutdown is THE way to wake a blocked receiver. closesocket does not wake
//   it (and the descriptor could be reused under it), so shut the socket down first and close it only
//   once no other thread is inside a call on it;
// - select ignores its first argument (fd_set and FD_SET/FD_ISSET/FD_ZERO/FD_CLR are the C library's);
// - send never raises SIGPIPE; every call but the byte-order and address helpers needs WSAStartup.
#pragma once
#include <sys/select.h>  // fd_set, FD_SET..., timeval: the C library's own, shared by both worlds
#include <sys/types.h>   // u_long

#include "win32/types.h"

// Word helpers of the Windows headers (macros there too).
#ifndef MAKEWORD
#define MAKEWORD(low, high) static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8))
#endif
#ifndef LOBYTE
#define LOBYTE(w) static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xFF)
#endif
#ifndef HIBYTE
#define HIBYTE(w) static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xFF)
#endif

namespace tavrin::winsock {

using SOCKET = UINT_PTR;
inline constexpr SOCKET INVALID_SOCKET = static_cast<SOCKET>(~static_cast<UINT_PTR>(0));
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

// in_addr as Winsock has it; s_addr and S_un.S_addr name the same network-order word.
struct in_addr {
  union {
    union {
      struct {
        UCHAR s_b1, s_b2, s_b3, s_b4;
      } S_un_b;
      struct {
        USHORT s_w1, s_w2;
      } S_un_w;
      ULONG S_addr;
    } S_un;
    ULONG s_addr;
  };
};
struct sockaddr {
  USHORT sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  short sin_family;
  USHORT sin_port;  // network order
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(in_addr) == 4 && sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16);
using IN_ADDR = in_addr;
using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;
using PSOCKADDR = sockaddr*;
using LPSOCKADDR = sockaddr*;
using PSOCKADDR_IN = sockaddr_in*;
using LPSOCKADDR_IN = sockaddr_in*;

// Values of the C library (checked where the calls are made).
inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int PF_INET = AF_INET;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOCK_RAW = 3;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int IPPROTO_UDP = 17;
inline constexpr int TCP_NODELAY = 1;

inline constexpr int SOL_SOCKET = 1;
inline constexpr int SO_REUSEADDR = 2;
inline constexpr int SO_TYPE = 3;
inline constexpr int SO_ERROR = 4;
inline constexpr int SO_BROADCAST = 6;
inline constexpr int SO_SNDBUF = 7;
inline constexpr int SO_RCVBUF = 8;
inline constexpr int SO_KEEPALIVE = 9;
inline constexpr int SO_LINGER = 13;
inline constexpr int SO_RCVTIMEO = 20;  // DWORD milliseconds here
inline constexpr int SO_SNDTIMEO = 21;  // DWORD milliseconds here

inline constexpr int MSG_OOB = 1;
inline constexpr int MSG_PEEK = 2;
inline constexpr int MSG_DONTROUTE = 4;
inline constexpr int MSG_WAITALL = 0x100;

inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

inline constexpr long FIONREAD = 0x541B;
inline constexpr long FIONBIO = 0x5421;

inline constexpr ULONG INADDR_ANY = 0x00000000;
inline constexpr ULONG INADDR_LOOPBACK = 0x7F000001;  // host order, as the C library has it
inline constexpr ULONG INADDR_BROADCAST = 0xFFFFFFFF;
inline constexpr ULONG INADDR_NONE = 0xFFFFFFFF;
inline constexpr int SOMAXCONN = 4096;

// Error codes.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;

// Start-up and errors. WSAStartup supports versions 1.1 to 2.2 and counts its callers; every
// successful WSAStartup needs one WSACleanup.
int WSAStartup(WORD version_requested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int bind(SOCKET s, const sockaddr* name, int namelen);
int connect(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
// Winsock's select; reached through the select macro below. nfds is ignored.
int Select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);
// The C library's gethostname(char*, size_t) may be visible too: a size_t length picks that one.
int gethostname(char* name, int namelen);

ULONG inet_addr(const char* cp);
// Text of the address in a buffer of the calling thread, valid until its next call.
char* inet_ntoa(in_addr in);

constexpr USHORT htons(USHORT v) { return static_cast<USHORT>((v << 8) | (v >> 8)); }
constexpr USHORT ntohs(USHORT v) { return htons(v); }
constexpr ULONG htonl(ULONG v) {
  return ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
}
constexpr ULONG ntohl(ULONG v) { return htonl(v); }

}  // namespace tavrin::winsock

// The Winsock names at global scope, as Windows code expects them. The implementation, which also sees
// the C library's socket names, defines TAVRIN_WINSOCK_IMPLEMENTATION to keep them apart.
#ifndef TAVRIN_WINSOCK_IMPLEMENTATION
using tavrin::winsock::SOCKET;
using tavrin::winsock::INVALID_SOCKET;
using tavrin::winsock::SOCKET_ERROR;
using tavrin::winsock::WSADATA;
using tavrin::winsock::LPWSADATA;
using tavrin::winsock::in_addr;
using tavrin::winsock::sockaddr;
using tavrin::winsock::sockaddr_in;
using tavrin::winsock::IN_ADDR;
using tavrin::winsock::SOCKADDR;
using tavrin::winsock::SOCKADDR_IN;
using tavrin::winsock::PSOCKADDR;
using tavrin::winsock::LPSOCKADDR;
using tavrin::winsock::PSOCKADDR_IN;
using tavrin::winsock::LPSOCKADDR_IN;
using tavrin::winsock::AF_UNSPEC;
using tavrin::winsock::AF_INET;
using tavrin::winsock::PF_INET;
using tavrin::winsock::SOCK_STREAM;
using tavrin::winsock::SOCK_DGRAM;
using tavrin::winsock::SOCK_RAW;
using tavrin::winsock::IPPROTO_IP;
using tavrin::winsock::IPPROTO_TCP;
using tavrin::winsock::IPPROTO_UDP;
using tavrin::winsock::TCP_NODELAY;
using tavrin::winsock::SOL_SOCKET;
using tavrin::winsock::SO_REUSEADDR;
using tavrin::winsock::SO_TYPE;
using tavrin::winsock::SO_ERROR;
using tavrin::winsock::SO_BROADCAST;
using tavrin::winsock::SO_SNDBUF;
using tavrin::winsock::SO_RCVBUF;
using tavrin::winsock::SO_KEEPALIVE;
using tavrin::winsock::SO_LINGER;
using tavrin::winsock::SO_RCVTIMEO;
using tavrin::winsock::SO_SNDTIMEO;
using tavrin::winsock::MSG_OOB;
using tavrin::winsock::MSG_PEEK;
using tavrin::winsock::MSG_DONTROUTE;
using tavrin::winsock::MSG_WAITALL;
using tavrin::winsock::SD_RECEIVE;
using tavrin::winsock::SD_SEND;
using tavrin::winsock::SD_BOTH;
using tavrin::winsock::FIONREAD;
using tavrin::winsock::FIONBIO;
using tavrin::winsock::INADDR_ANY;
using tavrin::winsock::INADDR_LOOPBACK;
using tavrin::winsock::INADDR_BROADCAST;
using tavrin::winsock::INADDR_NONE;
using tavrin::winsock::SOMAXCONN;
using tavrin::winsock::WSAEINTR;
using tavrin::winsock::WSAEBADF;
using tavrin::winsock::WSAEACCES;
using tavrin::winsock::WSAEFAULT;
using tavrin::winsock::WSAEINVAL;
using tavrin::winsock::WSAEMFILE;
using tavrin::winsock::WSAEWOULDBLOCK;
using tavrin::winsock::WSAEINPROGRESS;
using tavrin::winsock::WSAEALREADY;
using tavrin::winsock::WSAENOTSOCK;
using tavrin::winsock::WSAEDESTADDRREQ;
using tavrin::winsock::WSAEMSGSIZE;
using tavrin::winsock::WSAEPROTOTYPE;
using tavrin::winsock::WSAENOPROTOOPT;
using tavrin::winsock::WSAEPROTONOSUPPORT;
using tavrin::winsock::WSAESOCKTNOSUPPORT;
using tavrin::winsock::WSAEOPNOTSUPP;
using tavrin::winsock::WSAEPFNOSUPPORT;
using tavrin::winsock::WSAEAFNOSUPPORT;
using tavrin::winsock::WSAEADDRINUSE;
using tavrin::winsock::WSAEADDRNOTAVAIL;
using tavrin::winsock::WSAENETDOWN;
using tavrin::winsock::WSAENETUNREACH;
using tavrin::winsock::WSAENETRESET;
using tavrin::winsock::WSAECONNABORTED;
using tavrin::winsock::WSAECONNRESET;
using tavrin::winsock::WSAENOBUFS;
using tavrin::winsock::WSAEISCONN;
using tavrin::winsock::WSAENOTCONN;
using tavrin::winsock::WSAESHUTDOWN;
using tavrin::winsock::WSAETIMEDOUT;
using tavrin::winsock::WSAECONNREFUSED;
using tavrin::winsock::WSAENAMETOOLONG;
using tavrin::winsock::WSAEHOSTDOWN;
using tavrin::winsock::WSAEHOSTUNREACH;
using tavrin::winsock::WSASYSNOTREADY;
using tavrin::winsock::WSAVERNOTSUPPORTED;
using tavrin::winsock::WSANOTINITIALISED;
using tavrin::winsock::WSAStartup;
using tavrin::winsock::WSACleanup;
using tavrin::winsock::WSAGetLastError;
using tavrin::winsock::WSASetLastError;
using tavrin::winsock::socket;
using tavrin::winsock::closesocket;
using tavrin::winsock::shutdown;
using tavrin::winsock::bind;
using tavrin::winsock::connect;
using tavrin::winsock::listen;
using tavrin::winsock::accept;
using tavrin::winsock::send;
using tavrin::winsock::recv;
using tavrin::winsock::sendto;
using tavrin::winsock::recvfrom;
using tavrin::winsock::setsockopt;
using tavrin::winsock::getsockopt;
using tavrin::winsock::getsockname;
using tavrin::winsock::getpeername;
using tavrin::winsock::ioctlsocket;
using tavrin::winsock::gethostname;
using tavrin::winsock::inet_addr;
using tavrin::winsock::inet_ntoa;
using tavrin::winsock::htons;
using tavrin::winsock::ntohs;
using tavrin::winsock::htonl;
using tavrin::winsock::ntohl;
// The C library already declares a select with POSIX meaning; Winsock code gets ours.
#define select(nfds, readfds, writefds, exceptfds, timeout) \
  ::tavrin::winsock::Select(nfds, readfds, writefds, exceptfds, timeout)
#endif
