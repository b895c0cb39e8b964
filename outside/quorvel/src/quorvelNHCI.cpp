#include "quorvel/quorvelNHCI.h"

#include <cerrno>
#include <cstring>

#include "cocoa/bsd.h"
#include "zarnet/negotiation.h"
#include "zarnet/ports.h"
#include "zarnet/usb_wire.h"
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

// The user client of a device nub: control transfers on the device's claimed connection.
class NubClient : public cocoa::iokit::UserClient {
 public:
  explicit NubClient(std::weak_ptr<DeviceSession> session) : session_(std::move(session)) {}

  IOReturn ScalarMethod(uint32_t, const std::vector<int64_t>&, std::vector<int64_t>&, uint32_t) override {
    return kIOReturnUnsupported;
  }

  IOReturn StructMethod(uint32_t selector, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                        uint32_t outCapacity) override {
    if (selector != kNubDeviceRequest) return kIOReturnBadArgument;
    if (in.size() < 8) return kIOReturnBadArgument;
    const uint16_t length = zarnet::wire::LoadLe16(in.data() + 6);
    const bool toHost = (in[0] & 0x80) != 0;
    if (toHost ? in.size() != 8 || length > outCapacity : in.size() - 8 != length) return kIOReturnBadArgument;
    // Held for this transfer only: a disconnect ends the session and fails the transfer.
    std::shared_ptr<DeviceSession> session = session_.lock();
    if (!session) return kIOReturnNoDevice;
    std::vector<uint8_t> data(in.begin() + 8, in.end());
    IOReturn result = session->ControlTransfer(in.data(), data);
    if (result == kIOReturnSuccess && toHost) out = std::move(data);
    return result;
  }

 private:
  std::weak_ptr<DeviceSession> session_;
};

class Nub : public cocoa::iokit::Service {
 public:
  Nub(std::map<std::string, int64_t> properties, std::weak_ptr<DeviceSession> session)
      : Service(kNubClass, std::move(properties)), session_(std::move(session)) {}
  std::unique_ptr<cocoa::iokit::UserClient> NewUserClient(uint32_t type) override {
    if (type != 0) return nullptr;
    return std::make_unique<NubClient>(session_);
  }

 private:
  std::weak_ptr<DeviceSession> session_;
};

}  // namespace

// ---- DeviceSession

struct DeviceSession::Pending {
  uint32_t seqNo = 0;
  bool done = false;
  IOReturn result = kIOReturnSuccess;  // not success: the session ended under the transfer
  zarnet::UsbResponseMessage response;
};

DeviceSession::DeviceSession(int slot, std::string serverIp, uint16_t port, int socket)
    : slot_(slot), serverIp_(std::move(serverIp)), port_(port), socket_(socket) {}

DeviceSession::~DeviceSession() {
  Close();
  if (socket_ >= 0) bsd::close(socket_);
}

void DeviceSession::FailPending(IOReturn why) {
  // Caller holds mutex_.
  for (Pending* p : pending_) {
    if (p->done) continue;
    p->done = true;
    p->result = why;
  }
  answered_.notify_all();
}

bool DeviceSession::SendMessage(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
  std::lock_guard lock(sendMutex_);
  size_t sent = 0;
  while (sent < bytes.size()) {
    pollfd p{socket_, POLLOUT, 0};
    int ready = bsd::poll(&p, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    ssize_t n = ready > 0 ? bsd::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT) : -1;
    if (n < 0 && ready > 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      // Half a message would put the stream out of frame for good: the connection goes instead.
      if (sent > 0) bsd::shutdown(socket_, SHUT_RDWR);
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

IOReturn DeviceSession::ControlTransfer(const uint8_t setup[8], std::vector<uint8_t>& data) {
  zarnet::RFC_HEADER header{};
  memcpy(header.SetupPacket, setup, sizeof header.SetupPacket);
  const zarnet::UsbSetupPacket packet = zarnet::SetupOf(header);
  const bool in = packet.in();
  if (!in && data.size() != packet.wLength) return kIOReturnBadArgument;
  header.Command = zarnet::RFC_CMD_CONTROL;
  header.PortNum = port_;
  header.EndPoint = 0;  // the default pipe
  header.TransferFlags = in ? 0x3 : 0x0;  // direction in, short transfer allowed
  header.TransferLength = packet.wLength;

  Pending pending;
  std::unique_lock lock(mutex_);
  if (ended_ != kIOReturnSuccess) return ended_;
  pending.seqNo = header.SeqNo = nextSeqNo_++;
  pending_.push_back(&pending);
  const auto deadline = Clock::now() + transferTimeout_;
  lock.unlock();

  std::vector<uint8_t> message;
  zarnet::AppendRequest(message, header, in ? std::span<const uint8_t>() : std::span<const uint8_t>(data));
  const bool sent = SendMessage(message, deadline);
  lock.lock();
  if (sent) answered_.wait_until(lock, deadline, [&] { return pending.done; });
  std::erase(pending_, &pending);
  if (!pending.done) {
    if (ended_ != kIOReturnSuccess) return ended_;
    if (!sent) return kIOReturnNotResponding;
    // Unanswered: the server is told to drop it, so that the pipe does not stay blocked behind it.
    zarnet::RFC_HEADER unlink{};
    unlink.Command = zarnet::RFC_CMD_UNLINK;
    unlink.PortNum = port_;
    unlink.SeqNo = nextSeqNo_++;
    unlink.TransferFlags = pending.seqNo;
    lock.unlock();
    std::vector<uint8_t> bytes;
    zarnet::AppendRequest(bytes, unlink);
    SendMessage(bytes, Clock::now() + transferTimeout_);
    return kIOReturnTimeout;
  }
  if (pending.result != kIOReturnSuccess) return pending.result;
  const zarnet::RFC_RESPONSE_HEADER& answer = pending.response.header;
  if (answer.Command != zarnet::RFC_CMD_CONTROL + zarnet::kResponseCommandOffset || answer.EndPoint != 0 ||
      answer.PortNum != port_)
    return kIOReturnError;
  switch (answer.Status) {
    case zarnet::kWireStatusSuccess:
      break;
    case zarnet::kWireStatusStall:
      return kIOUSBPipeStalled;
    case zarnet::kWireStatusDeviceGone:
      return kIOReturnNoDevice;
    default:
      return kIOReturnError;
  }
  if (in) {
    // Never more than the setup packet asked for.
    if (pending.response.data.size() > packet.wLength) return kIOReturnError;
    data = std::move(pending.response.data);
  }
  return kIOReturnSuccess;
}

void DeviceSession::Watch(std::function<void(DeviceSession*)> lost) {
  watcher_ = std::thread([this, lost = std::move(lost)] { Read(lost); });
}

void DeviceSession::Read(const std::function<void(DeviceSession*)>& lost) {
  // Answers to control transfers only: nothing larger than a full data stage is accepted.
  zarnet::UsbStreamDecoder decoder(zarnet::UsbStreamDecoder::Direction::kResponses,
                                   zarnet::RFC_HEADER_SIZE + kMaxControlLength);
  zarnet::UsbResponseCollector collector;
  std::vector<uint8_t> buffer(16 * 1024);
  for (;;) {
    // Close() shuts the connection down, which ends this wait too.
    pollfd p{socket_, POLLIN, 0};
    int n = bsd::poll(&p, 1, -1);
    if (n < 0 && errno == EINTR) continue;
    {
      std::lock_guard lock(mutex_);
      if (ended_ != kIOReturnSuccess) return;  // closed by us
    }
    if (n < 0) break;
    ssize_t got = bsd::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) break;  // the server closed the connection, or it broke
    if (!decoder.Feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)), collector)) break;
    std::lock_guard lock(mutex_);
    for (auto& message : collector.messages()) {
      // An answer nobody waits for (one that came after its time-out, an unlink's) is dropped.
      for (Pending* p : pending_) {
        if (p->done || p->seqNo != message.header.SeqNo) continue;
        p->done = true;
        p->response = std::move(message);
        break;
      }
    }
    collector.messages().clear();
    answered_.notify_all();
  }
  {
    std::lock_guard lock(mutex_);
    if (ended_ != kIOReturnSuccess) return;  // closed by us meanwhile
    ended_ = kIOReturnNotResponding;
    FailPending(ended_);
  }
  lost(this);
}

void DeviceSession::Close() {
  {
    std::lock_guard lock(mutex_);
    if (ended_ == kIOReturnSuccess) ended_ = kIOReturnNoDevice;
    FailPending(kIOReturnNoDevice);
  }
  // The server sees the connection end and gives the device free; the watcher's wait ends.
  if (socket_ >= 0) bsd::shutdown(socket_, SHUT_RDWR);
  std::lock_guard lock(joinMutex_);
  if (watcher_.joinable() && watcher_.get_id() != std::this_thread::get_id()) watcher_.join();
}

// ---- Driver

Driver::Driver(cocoa::iokit::Host& host) : Service("quorvelNHCI"), host_(host) {}

Driver::~Driver() {
  // The host may be gone by now: the sessions close without touching its services.
  std::vector<std::shared_ptr<DeviceSession>> sessions;
  {
    std::lock_guard lock(mutex_);
    for (auto& s : slots_)
      if (s) sessions.push_back(std::move(s));
    for (auto& s : ended_) sessions.push_back(std::move(s));
    ended_.clear();
  }
  for (auto& s : sessions) s->Close();
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
  std::vector<std::shared_ptr<DeviceSession>> sessions;
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
  // Closed outside the lock (joining a watcher that may be waiting for it); a transfer still running
  // through a nub holds its session until it returns.
  for (auto& s : sessions) s->Close();
}

IOReturn Driver::Request(const std::vector<uint8_t>& block, std::string* reply) {
  {
    // Sessions lost since the last call: their watchers have returned, so they can go now.
    std::vector<std::shared_ptr<DeviceSession>> ended;
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
    if (bsd::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
    int error = 0;
    socklen_t length = sizeof error;
    if (bsd::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error) return fail(kIOReturnNotResponding);
  }
  std::vector<uint8_t> request = zarnet::EncodeNegRequest(id, port);
  size_t sent = 0;
  while (sent < request.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (bsd::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
    ssize_t n = bsd::send(fd, request.data() + sent, request.size() - sent, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return fail(kIOReturnNotResponding);
    sent += static_cast<size_t>(n);
  }
  // Only the reply record is read: what follows on a claimed connection is the device's data.
  zarnet::NegRecordReader reader;
  while (reader.state() == zarnet::NegRecordReader::State::kNeedMore) {
    pollfd p{fd, POLLIN, 0};
    if (bsd::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return fail(kIOReturnTimeout);
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

  auto session = std::make_shared<DeviceSession>(slot, ip, port, claimed);
  session->SetTransferTimeout(transferTimeout_);
  // The nub: what the operating system sees of the device (device bytes as the request carries them:
  // cid at 0, rev at 3, pid at 5, vid at 7).
  session->nub = host_.Register(std::make_shared<Nub>(
      std::map<std::string, int64_t>{{"idVendor", zarnet::wire::LoadLe16(device + 7)},
                                     {"idProduct", zarnet::wire::LoadLe16(device + 5)},
                                     {"bDeviceClass", device[0]},
                                     {"locationID", slot}},
      session));
  session->Watch([this](DeviceSession* s) { Lost(s); });
  slots_[slot] = std::move(session);
  return kIOReturnSuccess;
}

IOReturn Driver::Disconnect(int slot, const std::string& ip, uint16_t port) {
  std::shared_ptr<DeviceSession> session;
  {
    std::lock_guard lock(mutex_);
    if (!slots_[slot]) return kIOReturnSuccess;  // already free (the server may have dropped it)
    if (slots_[slot]->serverIp() != ip || slots_[slot]->port() != port) return kIOReturnBadArgument;
    host_.Unregister(slots_[slot]->nub);
    session = std::move(slots_[slot]);
  }
  session->Close();  // closing the claimed connection gives the device free on the server
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
