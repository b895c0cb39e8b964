#include "PelkoFramework/Sockets_Obj.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "zarnet/ports.h"
#include "zarnet/wire.h"

int sock = -1;
sockaddr_in addr{};
sockaddr* devAddress = nullptr;

namespace {

// Guards `sock` and counts the receives in progress on it, so that closeDev can wake them and close
// the descriptor only once none is inside a call on it (a descriptor number closed under a receive
// could be reused by another socket).
std::mutex g_mutex;
std::condition_variable g_left;
int g_receiving = 0;

}  // namespace

int DeviceListEntryCount(const void* datagram, long received) {
  if (!datagram || received < static_cast<long>(zarnet::kDeviceListHeaderSize)) return 0;
  const uint32_t infolen = zarnet::wire::LoadLe32(static_cast<const uint8_t*>(datagram));
  if (infolen < zarnet::kDeviceListHeaderSize) return 0;
  long usable = received < kDeviceListBufferSize ? received : kDeviceListBufferSize;
  if (static_cast<long>(infolen) < usable) usable = static_cast<long>(infolen);
  return static_cast<int>((usable - static_cast<long>(zarnet::kDeviceListHeaderSize)) /
                          static_cast<long>(zarnet::kDevInfoSize));
}

char Sockets_Obj::connect_server(id) {
  int fd = bsd::socket(AF_INET, SOCK_DGRAM, 0);
  {
    std::lock_guard lock(g_mutex);
    sock = fd;
  }
  if (fd < 0) {
    fprintf(stderr, "socket : %s ", strerror(errno));
    return 0;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(zarnet::kDeviceListPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bsd::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    fprintf(stderr, "Bind: %s", strerror(errno));
    return 0;
  }
  return 1;
}

pelko_dev_info* Sockets_Obj::recvMsg() {
  free(pelko_dev_);
  pelko_dev_ = nullptr;
  received_ = 0;
  cmd_len_ = kDeviceListBufferSize;
  pelko_dev_ = static_cast<pelko_dev_info*>(malloc(static_cast<size_t>(cmd_len_)));
  if (!pelko_dev_) {
    printf("Sockets_recvfrom:: return Null");
    return nullptr;
  }
  for (;;) {
    int fd;
    {
      std::lock_guard lock(g_mutex);
      fd = sock;
      if (fd < 0) break;
      ++g_receiving;
    }
    from_len_ = sizeof from_;
    ssize_t n = bsd::recvfrom(fd, pelko_dev_, static_cast<size_t>(cmd_len_), 0, reinterpret_cast<sockaddr*>(&from_),
                              &from_len_);
    {
      std::lock_guard lock(g_mutex);
      --g_receiving;
    }
    g_left.notify_all();
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    // Nothing received: an empty datagram, or the wake of closeDev, which has cleared `sock` by then.
    if (n == 0) continue;
    devAddress = reinterpret_cast<sockaddr*>(&from_);
    snprintf(devAddr_, sizeof devAddr_, "%s", bsd::inet_ntoa(from_.sin_addr));
    received_ = n;
    if (n >= static_cast<ssize_t>(zarnet::kDeviceListHeaderSize) &&
        pelko_dev_->infolen >= zarnet::kDeviceListHeaderSize)
      return pelko_dev_;
    received_ = 0;  // shorter than its header, or a length below the header's: not a device list
  }
  free(pelko_dev_);  // a failed receive hands nothing to the caller
  pelko_dev_ = nullptr;
  return nullptr;
}

int Sockets_Obj::socketFd() const {
  std::lock_guard lock(g_mutex);
  return sock;
}

void Sockets_Obj::setServer(sockaddr_in* address, int descriptor) {
  std::lock_guard lock(g_mutex);
  sock = descriptor;
  if (address) memcpy(&addr, address, sizeof addr);
}

void Sockets_Obj::closeDev() {
  std::unique_lock lock(g_mutex);
  int fd = sock;
  if (fd < 0) return;
  sock = -1;
  // A bare close leaves a blocked receive waiting: shut the socket down first, which wakes it.
  bsd::shutdown(fd, SHUT_RDWR);
  g_left.wait_for(lock, std::chrono::seconds(5), [] { return g_receiving == 0; });
  bsd::close(fd);
}
