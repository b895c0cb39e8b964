// BSD sockets through the network seam.
#include "cocoa/bsd.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace bsd {
namespace {

struct Settings {
  std::string bindAddress;
  std::string broadcastAddress;
  std::map<std::pair<std::string, uint16_t>, uint16_t> ports;  // ("" or address, port) -> port
};

std::mutex g_mutex;
Settings g_settings;
bool g_loaded = false;

void ParseSettings(const char* text) {
  std::string all = text;
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find(';', pos);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    if (key == "bind") {
      g_settings.bindAddress = value;
    } else if (key == "broadcast") {
      g_settings.broadcastAddress = value;
    } else {
      std::string address;
      size_t colon = key.rfind(':');
      if (colon != std::string::npos) {
        address = key.substr(0, colon);
        key = key.substr(colon + 1);
      }
      long from = strtol(key.c_str(), nullptr, 10), to = strtol(value.c_str(), nullptr, 10);
      if (from > 0 && from < 65536 && to > 0 && to < 65536)
        g_settings.ports[{address, static_cast<uint16_t>(from)}] = static_cast<uint16_t>(to);
    }
  }
}

Settings& Locked() {
  if (!g_loaded) {
    g_loaded = true;
    if (const char* env = getenv("TAVRIN_MAC_NET"); env && *env) ParseSettings(env);
  }
  return g_settings;
}

std::string Text(in_addr a) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

void MapPortLocked(const Settings& s, const std::string& host, uint16_t port, sockaddr_in& out) {
  if (auto it = s.ports.find({host, port}); it != s.ports.end()) {
    out.sin_port = htons(it->second);
  } else if (auto any = s.ports.find({"", port}); any != s.ports.end()) {
    out.sin_port = htons(any->second);
  }
}

// The address the seam sends this one to.
sockaddr_in Mapped(const sockaddr* address, socklen_t length, bool binding) {
  sockaddr_in out{};
  memcpy(&out, address, length < sizeof out ? length : sizeof out);
  if (out.sin_family != AF_INET) return out;
  std::lock_guard lock(g_mutex);
  Settings& s = Locked();
  std::string host = Text(out.sin_addr);
  uint16_t port = ntohs(out.sin_port);
  if (binding && out.sin_addr.s_addr == htonl(INADDR_ANY) && !s.bindAddress.empty()) {
    ::inet_pton(AF_INET, s.bindAddress.c_str(), &out.sin_addr);
  } else if (!binding && out.sin_addr.s_addr == htonl(INADDR_BROADCAST) && !s.broadcastAddress.empty()) {
    std::string first = s.broadcastAddress.substr(0, s.broadcastAddress.find(','));
    ::inet_pton(AF_INET, first.c_str(), &out.sin_addr);
  }
  MapPortLocked(s, host, port, out);
  return out;
}

// A broadcast sent to a list of addresses: each with the port mapped for it. Empty for anything else.
std::vector<sockaddr_in> BroadcastList(const sockaddr* address, socklen_t length) {
  sockaddr_in to{};
  memcpy(&to, address, length < sizeof to ? length : sizeof to);
  if (to.sin_family != AF_INET || to.sin_addr.s_addr != htonl(INADDR_BROADCAST)) return {};
  std::lock_guard lock(g_mutex);
  Settings& s = Locked();
  if (s.broadcastAddress.find(',') == std::string::npos) return {};
  std::vector<sockaddr_in> list;
  size_t pos = 0;
  while (pos <= s.broadcastAddress.size()) {
    size_t end = s.broadcastAddress.find(',', pos);
    if (end == std::string::npos) end = s.broadcastAddress.size();
    std::string host = s.broadcastAddress.substr(pos, end - pos);
    pos = end + 1;
    sockaddr_in one = to;
    if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &one.sin_addr) != 1) continue;
    MapPortLocked(s, host, ntohs(to.sin_port), one);
    list.push_back(one);
  }
  return list;
}

}  // namespace

int socket(int domain, int type, int protocol) { return ::socket(domain, type | SOCK_CLOEXEC, protocol); }

int bind(int fd, const sockaddr* address, socklen_t length) {
  if (!address || length < sizeof(sockaddr_in)) return ::bind(fd, address, length);
  sockaddr_in a = Mapped(address, length, true);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int listen(int fd, int backlog) { return ::listen(fd, backlog); }

int accept(int fd, sockaddr* address, socklen_t* length) { return ::accept4(fd, address, length, SOCK_CLOEXEC); }

int connect(int fd, const sockaddr* address, socklen_t length) {
  if (!address || length < sizeof(sockaddr_in)) return ::connect(fd, address, length);
  sockaddr_in a = Mapped(address, length, false);
  return ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

ssize_t send(int fd, const void* buffer, size_t length, int flags) {
  return ::send(fd, buffer, length, flags | MSG_NOSIGNAL);
}

ssize_t recv(int fd, void* buffer, size_t length, int flags) { return ::recv(fd, buffer, length, flags); }

ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength) {
  if (!to || toLength < sizeof(sockaddr_in)) return ::sendto(fd, buffer, length, flags | MSG_NOSIGNAL, to, toLength);
  std::vector<sockaddr_in> list = BroadcastList(to, toLength);
  if (!list.empty()) {
    ssize_t sent = -1;
    int error = 0;
    for (const sockaddr_in& a : list) {
      ssize_t n = ::sendto(fd, buffer, length, flags | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a), sizeof a);
      if (n >= 0) sent = n;
      else error = errno;
    }
    if (sent < 0) errno = error;
    return sent;
  }
  sockaddr_in a = Mapped(to, toLength, false);
  return ::sendto(fd, buffer, length, flags | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength) {
  return ::recvfrom(fd, buffer, length, flags, from, fromLength);
}

ssize_t write(int fd, const void* buffer, size_t length) { return ::send(fd, buffer, length, MSG_NOSIGNAL); }

ssize_t read(int fd, void* buffer, size_t length) { return ::read(fd, buffer, length); }

int shutdown(int fd, int how) { return ::shutdown(fd, how); }

int close(int fd) { return ::close(fd); }

int fcntl(int fd, int command, int argument) {
  if (command != F_GETFL && command != F_SETFL) {
    errno = EINVAL;
    return -1;
  }
  return ::fcntl(fd, command, argument);
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) {
    std::fprintf(stderr, "Error fcntl(..., F_GETFL) (%s)\n", std::strerror(errno));
    return false;
  }
  flags = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
  if (fcntl(fd, F_SETFL, flags) < 0) {
    std::fprintf(stderr, "Error fcntl(..., F_SETFL) (%s)\n", std::strerror(errno));
    return false;
  }
  return true;
}

int select(int count, fd_set* readSet, fd_set* writeSet, fd_set* errorSet, timeval* timeout) {
  return ::select(count, readSet, writeSet, errorSet, timeout);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }

int getsockopt(int fd, int level, int name, void* value, socklen_t* length) {
  return ::getsockopt(fd, level, name, value, length);
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}

int getsockname(int fd, sockaddr* address, socklen_t* length) { return ::getsockname(fd, address, length); }

int gethostname(char* name, size_t length) { return ::gethostname(name, length); }

char* inet_ntoa(in_addr address) {
  thread_local char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

in_addr_t inet_addr(const char* text) { return ::inet_addr(text); }

void SetBindAddress(const std::string& address) {
  std::lock_guard lock(g_mutex);
  Locked().bindAddress = address;
}

void SetBroadcastAddress(const std::string& address) {
  std::lock_guard lock(g_mutex);
  Locked().broadcastAddress = address;
}

void MapPort(uint16_t port, uint16_t actual, const std::string& address) {
  std::lock_guard lock(g_mutex);
  Locked().ports[{address, port}] = actual;
}

void ResetNetwork() {
  std::lock_guard lock(g_mutex);
  g_loaded = true;
  g_settings = Settings{};
}

std::string NetworkSettingsText() {
  std::lock_guard lock(g_mutex);
  Settings& s = Locked();
  std::string text;
  if (!s.bindAddress.empty()) text += "bind=" + s.bindAddress + ";";
  if (!s.broadcastAddress.empty()) text += "broadcast=" + s.broadcastAddress + ";";
  for (const auto& [key, port] : s.ports)
    text += (key.first.empty() ? "" : key.first + ":") + std::to_string(key.second) + "=" + std::to_string(port) + ";";
  return text;
}

}  // namespace bsd
