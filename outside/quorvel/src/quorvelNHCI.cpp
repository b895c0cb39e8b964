#include "quorvel/quorvelNHCI.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cocoa/bsd.h"
#include "zarnet/negotiation.h"
#include "zarnet/ports.h"
#include "zarnet/wire.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The user client of one open connection.
class Client : public cocoa::iokit::UserClient {
 public:
  explicit Client(std::shared_ptr<Driver> driver) : driver_(std::move(driver)) {}

  IOReturn ScalarMethod(uint32_t selector, const std::vector<int64_t>&, std::vector<int64_t>&, uint32_t) override {
    switch (selector) {
      case 0:  // kMyUserClientOpen
        open_ = true;
        return kIOReturnSuccess;
      case 1:  // kMyUserClientClose
        if (!open_) return kIOReturnNotOpen;
        open_ = false;
        return kIOReturnSuccess;
      default:
        return kIOReturnBadArgument;
    }
  }

  IOReturn StructMethod(uint32_t selector, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                        uint32_t) override {
    if (selector != 5) return kIOReturnBadArgument;
    if (!open_) return kIOReturnNotOpen;
    std::string text;
    IOReturn result = driver_->Request(in, &text);
    // The reply area: u16 slot, two bytes of padding, u32 result, then a text of up to 99 characters.
    out.assign(kRequestSize, 0);
    if (in.size() >= 12) memcpy(out.data(), in.data() + 8, 2);
    zarnet::wire::StoreLe32(out.data() + 4, static_cast<uint32_t>(result));
    memcpy(out.data() + 8, text.data(), std::min<size_t>(text.size(), 99));
    return result;
  }

 private:
  std::shared_ptr<Driver> driver_;
  bool open_ = false;
};

}  // namespace

// ---- DeviceSession

DeviceSession::DeviceSession(int slot, std::string serverIp, uint16_t port, int socket)
    : slot_(slot), serverIp_(std::move(serverIp)), port_(port), socket_(socket) {
  if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

DeviceSession::~DeviceSession() {
  Close();
  if (socket_ >= 0) bsd::close(socket_);
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

IOReturn DeviceSession::ControlTransfer(const uint8_t*, std::vector<uint8_t>&) { return kIOReturnUnsupported; }

void DeviceSession::Watch(std::function<void(DeviceSession*)> lost) {
  watcher_ = std::thread([this, lost = std::move(lost)] {
    char sink[4096];
    for (;;) {
      pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      int n = ::poll(fds, 2, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || fds[1].revents) return;  // closed by us
      ssize_t got = bsd::recv(socket_, sink, sizeof sink, MSG_DONTWAIT);
      if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR))) continue;
      lost(this);  // the server closed the connection, or it broke
      return;
    }
  });
}

void DeviceSession::Close() {
  if (wake_[1] >= 0) {
    char c = 1;
    (void)!::write(wake_[1], &c, 1);
  }
  if (watcher_.joinable() && watcher_.get_id() != std::this_thread::get_id()) watcher_.join();
  if (socket_ >= 0) bsd::shutdown(socket_, SHUT_RDWR);
}

// ---- Driver

Driver::Driver(cocoa::iokit::Host& host) : Service("quorvelNHCI"), host_(host) {}

Driver::~Driver() {
  // The host may be gone by now: the sessions close without touching its services.
  std::vector<std::unique_ptr<DeviceSession>> sessions;
  {
    std::lock_guard lock(mutex_);
    for (auto& s : slots_)
      if (s) sessions.push_back(std::move(s));
    for (auto& s : ended_) sessions.push_back(std::move(s));
    ended_.clear();
  }
}

std::unique_ptr<cocoa::iokit::UserClient> Driver::NewUserClient(uint32_t type) {
  if (type != 0) return nullptr;
  return std::make_unique<Client>(shared_from_this());
}

std::vector<int> Driver::slotsInUse() const {
  std::lock_guard lock(mutex_);
  std::vector<int> used;
  for (int s = kFirstSlot; s <= kLastSlot; ++s)
    if (slots_[s]) used.push_back(s);
  return used;
}

void Driver::DisconnectAll() {
  std::vector<std::unique_ptr<DeviceSession>> sessions;
  {
    std::lock_guard lock(mutex_);
    for (auto& s : slots_) {
      if (!s) continue;
      host_.Unregister(s->nub);
      sessions.push_back(std::move(s));
    }
    for (auto& s : ended_) sessions.push_back(std::move(s));
    ended_.clear();
  }
  sessions.clear();  // closes each, joining its watcher outside the lock
}

IOReturn Driver::Request(const std::vector<uint8_t>& block, std::string* reply) {
  {
    // Sessions lost since the last call: their watchers have returned, so they can go now.
    std::vector<std::unique_ptr<DeviceSession>> ended;
    {
      std::lock_guard lock(mutex_);
      ended.swap(ended_);
    }
  }
  if (block.size() != kRequestSize) return kIOReturnBadArgument;
  const int32_t reqType = static_cast<int32_t>(zarnet::wire::LoadLe32(block.data()));
  const int32_t slot = static_cast<int32_t>(zarnet::wire::LoadLe32(block.data() + 8));
  const char* ipField = reinterpret_cast<const char*>(block.data() + 12);
  const void* end = memchr(ipField, 0, 16);
  const int16_t port = static_cast<int16_t>(zarnet::wire::LoadLe16(block.data() + 38));
  in_addr parsed{};
  if (slot < kFirstSlot || slot > kLastSlot || !end || inet_pton(AF_INET, ipField, &parsed) != 1 || port < 1)
    return kIOReturnBadArgument;
  const std::string ip(ipField);
  IOReturn result;
  if (reqType == 1) result = Connect(slot, ip, static_cast<uint16_t>(port), block.data() + 28);
  else if (reqType == 0) result = Disconnect(slot, ip, static_cast<uint16_t>(port));
  else return kIOReturnBadArgument;
  if (reply) {
    *reply = (reqType == 1 ? "connect " : "disconnect ") + ip + ":" + std::to_string(port) + " slot " +
             std::to_string(slot) + (result == kIOReturnSuccess ? " done" : " failed");
  }
  return result;
}

IOReturn Driver::Step(const std::string& ip, uint8_t id, uint16_t port, int* keep) {
  const auto deadline = Clock::now() + stepTimeout_;
  int fd = bsd::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kIOReturnNoResources;
  auto fail = [fd](IOReturn why) {
    bsd::close(fd);
    return why;
  };
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(zarnet::kDataPort);
  server.sin_addr.s_addr = bsd::inet_addr(ip.c_str());
  bsd::fcntl(fd, F_SETFL, bsd::fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (bsd::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    if (errno != EINPROGRESS) return fail(kIOReturnNotResponding);
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
    int error = 0;
    socklen_t length = sizeof error;
    if (bsd::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error) return fail(kIOReturnNotResponding);
  }
  std::vector<uint8_t> request = zarnet::EncodeNegRequest(id, port);
  size_t sent = 0;
  while (sent < request.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
    ssize_t n = bsd::send(fd, request.data() + sent, request.size() - sent, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return fail(kIOReturnNotResponding);
    sent += static_cast<size_t>(n);
  }
  // Only the reply record is read: what follows on a claimed connection is the device's data.
  zarnet::NegRecordReader reader;
  while (reader.state() == zarnet::NegRecordReader::State::kNeedMore) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
    uint8_t buffer[zarnet::kNegRecordMax];
    ssize_t n = bsd::recv(fd, buffer, reader.wanted(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return fail(kIOReturnNotResponding);
    reader.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
  }
  if (reader.state() != zarnet::NegRecordReader::State::kComplete) return fail(kIOReturnError);
  switch (zarnet::JudgeNegReply(id, reader.record())) {
    case zarnet::NegVerdict::kAccepted:
      break;
    case zarnet::NegVerdict::kRefused:
      return fail(id == zarnet::NEGCMD_SIGNATURE ? kIOReturnUnsupported : kIOReturnBusy);
    case zarnet::NegVerdict::kMalformed:
      return fail(kIOReturnError);
  }
  if (keep) {
    *keep = fd;
    return kIOReturnSuccess;
  }
  bsd::close(fd);
  return kIOReturnSuccess;
}

IOReturn Driver::Connect(int slot, const std::string& ip, uint16_t port, const uint8_t* device) {
  {
    std::lock_guard lock(mutex_);
    if (slots_[slot] || connecting_[slot]) return kIOReturnBusy;
    connecting_[slot] = true;
  }
  int claimed = -1;
  IOReturn result = Step(ip, zarnet::NEGCMD_SIGNATURE, port, nullptr);
  if (result == kIOReturnSuccess) result = Step(ip, zarnet::NEGCMD_IS_DEVICE_FREE, port, nullptr);
  if (result == kIOReturnSuccess) result = Step(ip, zarnet::NEGCMD_CLAIM_DEVICE, port, &claimed);
  std::lock_guard lock(mutex_);
  connecting_[slot] = false;
  if (result != kIOReturnSuccess) return result;

  auto session = std::make_unique<DeviceSession>(slot, ip, port, claimed);
  // The nub: what the operating system sees of the device (device bytes as the request carries them:
  // cid at 0, rev at 3, pid at 5, vid at 7).
  session->nub = host_.Register(std::make_shared<cocoa::iokit::Service>(
      kNubClass, std::map<std::string, int64_t>{{"idVendor", zarnet::wire::LoadLe16(device + 7)},
                                                {"idProduct", zarnet::wire::LoadLe16(device + 5)},
                                                {"bDeviceClass", device[0]},
                                                {"locationID", slot}}));
  session->Watch([this](DeviceSession* s) { Lost(s); });
  slots_[slot] = std::move(session);
  return kIOReturnSuccess;
}

IOReturn Driver::Disconnect(int slot, const std::string& ip, uint16_t port) {
  std::unique_ptr<DeviceSession> session;
  {
    std::lock_guard lock(mutex_);
    if (!slots_[slot]) return kIOReturnSuccess;  // already free (the server may have dropped it)
    if (slots_[slot]->serverIp() != ip || slots_[slot]->port() != port) return kIOReturnBadArgument;
    host_.Unregister(slots_[slot]->nub);
    session = std::move(slots_[slot]);
  }
  session.reset();  // closing the claimed connection gives the device free on the server
  return kIOReturnSuccess;
}

void Driver::Lost(DeviceSession* session) {
  std::lock_guard lock(mutex_);
  const int slot = session->slot();
  if (slots_[slot].get() != session) return;  // being disconnected already
  host_.Unregister(session->nub);
  ended_.push_back(std::move(slots_[slot]));
}

}  // namespace quorvel
