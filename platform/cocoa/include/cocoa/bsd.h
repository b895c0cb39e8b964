// The BSD socket calls of the Mac side, through one seam. Callers use the production addresses and
// ports (a bind to INADDR_ANY port 6000, a connect to a server's port 1341, ...); the seam sends them
// where the network settings say, so that tests and demos run on loopback ports of their own:
//   - a bind to INADDR_ANY goes to the bind address (default: INADDR_ANY itself);
//   - a datagram to 255.255.255.255 goes to the broadcast address (default: itself), or to each address of a
//     comma-separated list (several servers on loopback addresses of their own, each port mapped for it);
//   - a port of a bind, connect or sendto is replaced by the port mapped for that address and port, else
//     for the port on any address, else kept.
// The settings come from TAVRIN_MAC_NET when a process starts (the text form of NetworkSettingsText:
// "bind=127.0.0.1;broadcast=127.0.0.1;6000=40123;127.0.0.2:3240=40555") and may be changed at run time.
// errno is set as the C library sets it.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace bsd {

int socket(int domain, int type, int protocol);
int bind(int fd, const sockaddr* address, socklen_t length);
int listen(int fd, int backlog);
int accept(int fd, sockaddr* address, socklen_t* length);
int connect(int fd, const sockaddr* address, socklen_t length);
ssize_t send(int fd, const void* buffer, size_t length, int flags);  // never raises SIGPIPE
ssize_t recv(int fd, void* buffer, size_t length, int flags);
ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength);
ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength);
ssize_t write(int fd, const void* buffer, size_t length);  // a socket write, never raising SIGPIPE
ssize_t read(int fd, void* buffer, size_t length);
int shutdown(int fd, int how);
int close(int fd);
int fcntl(int fd, int command, int argument = 0);  // F_GETFL and F_SETFL
// O_NONBLOCK cleared or set through fcntl; false, the failing step said on standard error, when it fails.
bool SetBlocking(int fd, bool blocking);
int select(int count, fd_set* readSet, fd_set* writeSet, fd_set* errorSet, timeval* timeout);
int poll(pollfd* fds, nfds_t count, int timeoutMs);
int getsockopt(int fd, int level, int name, void* value, socklen_t* length);
int setsockopt(int fd, int level, int name, const void* value, socklen_t length);
int getsockname(int fd, sockaddr* address, socklen_t* length);
int gethostname(char* name, size_t length);
char* inet_ntoa(in_addr address);  // a per-thread buffer
in_addr_t inet_addr(const char* text);

// ---- the seam's settings

// Binds to INADDR_ANY go to this address instead ("" : INADDR_ANY).
void SetBindAddress(const std::string& address);
// Datagrams to 255.255.255.255 go to this address, or these addresses ("a,b,c"), instead ("" : unchanged).
void SetBroadcastAddress(const std::string& address);
// The port used instead of `port`: for that address only, or (address "") for any address.
void MapPort(uint16_t port, uint16_t actual, const std::string& address = "");
// Back to the production settings (and TAVRIN_MAC_NET is not read again).
void ResetNetwork();
// The settings as text for TAVRIN_MAC_NET of a process to start.
std::string NetworkSettingsText();

}  // namespace bsd
