#include "services.h"

#include <sys/socket.h>

#include <cerrno>

#include "zarnet/device_list.h"
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

bool CommandService::Start(std::string* error) {
  listener_ = net::ListenTcp(core_.command_address(), error);
  if (!listener_.valid()) return false;
  stop_.Reset();
  acceptor_ = std::thread(&CommandService::AcceptLoop, this);
  return true;
}

void CommandService::Stop() {
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

void CommandService::ReapFinished() {
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

void CommandService::AcceptLoop() {
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
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(connections_mutex_);
    connections_.push_back({std::thread([this, fd, peer, done] {
                              Serve(net::Fd(fd), net::AddressText(peer));
                              done->store(true);
                            }),
                            done});
  }
}

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
      case FaultKind::kWrongSeqNo: break;
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
