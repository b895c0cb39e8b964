#include "services.h"

#include <sys/socket.h>

#include <cerrno>

#include "zarnet/device_list.h"
#include "zarnet/negotiation.h"
#include "zarnet/wire.h"

namespace zarnet::sim {
namespace {

using std::chrono::milliseconds;
constexpr size_t kMaxRequest = 64 * 1024;
constexpr milliseconds kLinger{200};  // for the client to close first, after the response

// Applies datagram faults; false when nothing is to be sent.
bool ApplyDatagramFaults(std::vector<uint8_t>& datagram, const std::vector<Fault>& faults, milliseconds* delay) {
  for (const Fault& f : faults) {
    switch (f.kind) {
      case FaultKind::kSilence:
        return false;
      case FaultKind::kDelay:
        *delay = f.delay;
        break;
      case FaultKind::kOversize:
        if (f.size > datagram.size()) datagram.resize(f.size, 0);
        break;
      case FaultKind::kTruncate:
        if (f.size < datagram.size()) datagram.resize(f.size);
        break;
      case FaultKind::kInfoLen:
        if (datagram.size() >= 4) wire::StoreLe32(datagram.data(), static_cast<uint32_t>(f.number));
        break;
      default:
        break;
    }
  }
  return true;
}

void SendDatagram(int fd, const std::vector<uint8_t>& datagram, const sockaddr_in& to) {
  ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

}  // namespace

// ---- discovery -------------------------------------------------------------------------------------

bool DiscoveryResponder::Start(std::string* error) {
  socket_ = net::BindUdp(core_.command_address(), error);
  if (!socket_.valid()) return false;
  stop_.Reset();
  thread_ = std::thread(&DiscoveryResponder::Run, this);
  return true;
}

void DiscoveryResponder::Stop() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
  socket_.reset();
}

void DiscoveryResponder::Run() {
  while (net::WaitReadable(socket_.get(), stop_, milliseconds(-1)) == net::WaitResult::kReady) {
    uint8_t request[64];
    sockaddr_in peer{};
    socklen_t peer_len = sizeof(peer);
    ssize_t n = ::recvfrom(socket_.get(), request, sizeof(request), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer),
                           &peer_len);
    if (n < 0 || !IsDiscoveryRequest(std::span<const uint8_t>(request, static_cast<size_t>(n)))) continue;
    std::vector<uint8_t> reply = EncodeDiscoveryReply(core_.discovery_info());
    milliseconds delay{0};
    if (!ApplyDatagramFaults(reply, core_.TakeDatagramFaults(FaultTarget::kDiscovery), &delay)) continue;
    if (!net::SleepFor(stop_, delay)) return;
    SendDatagram(socket_.get(), reply, peer);
  }
}

// ---- commands --------------------------------------------------------------------------------------

bool ConnectionService::Listen(const sockaddr_in& address, std::string* error) {
  listener_ = net::ListenTcp(address, error);
  if (!listener_.valid()) return false;
  stop_.Reset();
  acceptor_ = std::thread(&ConnectionService::AcceptLoop, this);
  return true;
}

void ConnectionService::Stop() {
  stop_.Set();
  if (acceptor_.joinable()) acceptor_.join();
  std::list<Connection> all;
  {
    std::lock_guard lock(connections_mutex_);
    all.swap(connections_);
  }
  for (Connection& c : all) c.thread.join();
  listener_.reset();
}

void ConnectionService::ReapFinished() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(connections_mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->done->load()) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (Connection& c : finished) c.thread.join();
}

void ConnectionService::AcceptLoop() {
  while (net::WaitReadable(listener_.get(), stop_, milliseconds(-1)) == net::WaitResult::kReady) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof(peer);
    int fd = ::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &peer_len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED && !net::SleepFor(stop_, milliseconds(10)))
        return;
      continue;
    }
    ReapFinished();
    Accepted();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(connections_mutex_);
    connections_.push_back({std::thread([this, fd, peer, done] {
                              Serve(net::Fd(fd), net::AddressText(peer));
                              done->store(true);
                            }),
                            done});
  }
}

bool CommandService::Start(std::string* error) { return Listen(core_.command_address(), error); }

void CommandService::Serve(net::Fd connection, std::string peer_ip) {
  if (!core_.TakeAcceptFaults().empty()) {
    core_.Log("fault: connection from " + peer_ip + " closed at once");
    return;
  }
  std::string received;
  auto deadline = std::chrono::steady_clock::now() + core_.request_timeout();
  while (!IsRequestComplete(received) && received.size() <= kMaxRequest) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || net::WaitReadable(connection.get(), stop_, left) != net::WaitResult::kReady) return;
    char buffer[4096];
    ssize_t n = ::recv(connection.get(), buffer, sizeof(buffer), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
    received.append(buffer, static_cast<size_t>(n));
  }
  if (received.empty()) return;
  CommandRequest request = ParseCommandRequest(received).value_or(CommandRequest{});

  ResponseForm form;
  std::optional<uint32_t> status;
  size_t keep = std::string::npos, chunk = 0;
  milliseconds delay{0}, pause{0};
  bool silent = false, close_at_once = false;
  for (const Fault& f : core_.TakeResponseFaults(request.command)) {
    switch (f.kind) {
      case FaultKind::kSplit: chunk = std::max<size_t>(f.chunk, 1); pause = f.delay; break;
      case FaultKind::kDelay: delay = f.delay; break;
      case FaultKind::kOversize: form.filler = f.size; break;
      case FaultKind::kTruncate: keep = f.size; break;
      case FaultKind::kWrongRspNumber: form.rsp_number = std::to_string(f.number); break;
      case FaultKind::kMissingEnd: form.end_tag = false; break;
      case FaultKind::kMissingStatus: form.status_tags = false; break;
      case FaultKind::kLowerCaseTags: form.lower_case_tags = true; break;
      case FaultKind::kStatus: status = static_cast<uint32_t>(f.number); break;
      case FaultKind::kSilence: silent = true; break;
      case FaultKind::kEarlyClose: close_at_once = true; break;
      case FaultKind::kInfoLen:
      case FaultKind::kWrongSeqNo:
      case FaultKind::kWrongSignature:
      case FaultKind::kBusy:
        break;
    }
  }
  if (close_at_once) {
    core_.Log("fault: command " + std::to_string(request.command) + " not answered, connection closed");
    return;
  }
  if (silent) {
    core_.Log("fault: command " + std::to_string(request.command) + " not answered");
    // Holds the connection until the client gives up or the server stops.
    char sink[256];
    while (net::WaitReadable(connection.get(), stop_, milliseconds(-1)) == net::WaitResult::kReady) {
      ssize_t n = ::recv(connection.get(), sink, sizeof(sink), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    return;
  }

  CommandOutcome outcome = core_.Execute(request, peer_ip);
  std::string response = EncodeCommandResponse(request.command, status.value_or(outcome.status), outcome.data, form);
  if (keep < response.size()) response.resize(keep);
  if (!net::SleepFor(stop_, delay)) return;
  size_t piece = chunk ? chunk : response.size();
  for (size_t at = 0; at < response.size(); at += piece) {
    if (at > 0 && !net::SleepFor(stop_, pause)) return;
    if (!net::SendAll(connection.get(), response.data() + at, std::min(piece, response.size() - at), stop_)) break;
  }
  // End our side, then give the client a moment to read and close: closing with its bytes unread would
  // reset the connection, and a reset can destroy the response still in flight.
  ::shutdown(connection.get(), SHUT_WR);
  auto linger_end = std::chrono::steady_clock::now() + kLinger;
  char sink[256];
  while (net::WaitReadable(connection.get(), stop_, std::chrono::duration_cast<milliseconds>(
                                                          linger_end - std::chrono::steady_clock::now())) ==
         net::WaitResult::kReady) {
    ssize_t n = ::recv(connection.get(), sink, sizeof(sink), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  connection.reset();
  core_.AfterResponse(request, outcome, peer_ip);
}

// ---- device-list broadcasts ------------------------------------------------------------------------

bool Broadcaster::Start(std::string* error) {
  sockaddr_in from = core_.command_address();
  from.sin_port = 0;
  socket_ = net::BindUdp(from, error);
  if (!socket_.valid()) return false;
  int on = 1;
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  {
    std::lock_guard lock(mutex_);
    stop_ = send_now_ = recheck_ = false;
  }
  thread_ = std::thread(&Broadcaster::Run, this);
  return true;
}

void Broadcaster::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  socket_.reset();
}

void Broadcaster::SendNow() {
  std::lock_guard lock(mutex_);
  send_now_ = true;
  wake_.notify_all();
}

void Broadcaster::PeriodChanged() {
  std::lock_guard lock(mutex_);
  recheck_ = true;
  wake_.notify_all();
}

void Broadcaster::Run() {
  for (;;) {
    SendOne();
    auto sent_at = std::chrono::steady_clock::now();
    for (;;) {
      auto deadline = sent_at + core_.broadcast_period();
      std::unique_lock lock(mutex_);
      bool woken = wake_.wait_until(lock, deadline, [&] { return stop_ || send_now_ || recheck_; });
      if (stop_) return;
      recheck_ = false;
      if (!woken || send_now_) {
        send_now_ = false;
        break;
      }
    }
  }
}

void Broadcaster::SendOne() {
  sockaddr_in to = core_.broadcast_destination();
  sockaddr_in from = core_.command_address();
  // A server on a loopback address reaches nothing beyond it: never let one spill onto the network.
  if (net::IsLoopback(from) && !net::IsLoopback(to)) {
    if (!warned_) core_.Log("not broadcasting from a loopback address to " + net::AddressText(to));
    warned_ = true;
    return;
  }
  std::vector<uint8_t> datagram = core_.device_list_datagram();
  milliseconds delay{0};
  if (!ApplyDatagramFaults(datagram, core_.TakeDatagramFaults(FaultTarget::kBroadcast), &delay)) return;
  if (delay.count() > 0) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, delay, [&] { return stop_; })) return;
  }
  SendDatagram(socket_.get(), datagram, to);
}

}  // namespace zarnet::sim

// ---- device data -----------------------------------------------------------------------------------

namespace zarnet::sim {

bool DeviceDataService::Start(std::string* error) {
  sockaddr_in address = core_.data_address();
  // Left to us, a port below the kernel's ephemeral range (the kernel's own pick when none is free there).
  if (address.sin_port == 0) address.sin_port = htons(net::FreeLowPort(address, false));
  if (!Listen(address, error)) return false;
  core_.SetBoundDataPort(net::LocalPort(listener_.get()));
  return true;
}

void DeviceDataService::Accepted() {
  core_.CountNegotiation([](NegotiationStats& s) { ++s.connections; });
}

// Reads and drops whatever comes until the peer closes or the server stops.
void DeviceDataService::DrainUntilClosed(int fd) {
  char sink[4096];
  while (net::WaitReadable(fd, stop_, milliseconds(-1)) == net::WaitResult::kReady) {
    ssize_t n = ::recv(fd, sink, sizeof(sink), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
}

void DeviceDataService::Serve(net::Fd connection, std::string peer_ip) {
  NegRecordReader reader;
  auto deadline = std::chrono::steady_clock::now() + core_.request_timeout();
  while (reader.state() == NegRecordReader::State::kNeedMore) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || net::WaitReadable(connection.get(), stop_, left) != net::WaitResult::kReady) return;
    uint8_t buffer[kNegRecordMax];
    ssize_t n = ::recv(connection.get(), buffer, reader.wanted(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return;
    reader.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
  }
  std::optional<NegRequest> request;
  if (reader.state() == NegRecordReader::State::kComplete) request = DecodeNegRequest(reader.record());
  if (!request) {
    core_.Log("data: malformed negotiation record from " + peer_ip);
    return;
  }
  core_.CountNegotiation([&](NegotiationStats& s) {
    if (request->id == NEGCMD_SIGNATURE) ++s.signatures;
    else if (request->id == NEGCMD_IS_DEVICE_FREE) ++s.free_tests;
    else if (request->id == NEGCMD_CLAIM_DEVICE) ++s.claims;
  });

  bool busy = false, wrong_signature = false, silent = false, close_at_once = false;
  size_t chunk = 0, keep = SIZE_MAX;
  milliseconds delay{0}, pause{0};
  for (const Fault& f : core_.TakeDataFaults(request->id)) {
    switch (f.kind) {
      case FaultKind::kBusy: busy = true; break;
      case FaultKind::kWrongSignature: wrong_signature = true; break;
      case FaultKind::kSilence: silent = true; break;
      case FaultKind::kEarlyClose: close_at_once = true; break;
      case FaultKind::kSplit: chunk = std::max<size_t>(f.chunk, 1); pause = f.delay; break;
      case FaultKind::kDelay: delay = f.delay; break;
      case FaultKind::kTruncate: keep = f.size; break;
      default: break;
    }
  }
  static const char* const kNames[] = {"signature", "is-device-free", "claim", "record 3", "record 4"};
  std::string what = std::string(request->id < 5 ? kNames[request->id] : "unknown record") + " for port " +
                     std::to_string(request->port) + " from " + peer_ip;
  core_.Log("data: " + what);
  if (close_at_once) {
    core_.Log("fault: data " + what + " not answered, connection closed");
    return;
  }
  if (silent) {
    core_.Log("fault: data " + what + " not answered");
    DrainUntilClosed(connection.get());
    return;
  }

  std::vector<uint8_t> reply;
  std::optional<Device> claimed;
  switch (request->id) {
    case NEGCMD_SIGNATURE:
      reply = EncodeNegSignatureReply();
      if (wrong_signature || !request->signature_ok) reply[8] = '2';  // "Ver2.0": another version
      break;
    case NEGCMD_IS_DEVICE_FREE:
      reply = EncodeNegPortReply(request->id, request->port, !busy && core_.IsDeviceFree(request->port));
      break;
    case NEGCMD_CLAIM_DEVICE:
      if (!busy) claimed = core_.ClaimDevice(request->port, peer_ip);
      reply = EncodeNegPortReply(request->id, request->port, claimed.has_value());
      break;
    default:
      reply = EncodeNegPortReply(request->id, request->port, false);
      break;
  }
  if (keep < reply.size()) reply.resize(keep);
  bool sent = net::SleepFor(stop_, delay);
  size_t piece = chunk ? chunk : reply.size();
  for (size_t at = 0; sent && at < reply.size(); at += piece) {
    if (at > 0 && !net::SleepFor(stop_, pause)) sent = false;
    if (sent && !net::SendAll(connection.get(), reply.data() + at, std::min(piece, reply.size() - at), stop_))
      sent = false;
  }
  if (!claimed) {
    if (sent && keep == SIZE_MAX) DrainUntilClosed(connection.get());  // the client closes each step
    return;
  }
  core_.Log("data: port " + std::to_string(request->port) + " claimed by " + peer_ip);
  if (sent) {
    DataSession session{connection.get(), stop_.fd(), *claimed, peer_ip};
    if (DataSessionHandler handler = core_.data_session_handler()) {
      handler(session);
    } else {
      core_.ServeUsbData(session);
    }
  }
  connection.reset();
  core_.ReleaseDevice(request->port);
  core_.Log("data: port " + std::to_string(request->port) + " freed");
}

}  // namespace zarnet::sim
