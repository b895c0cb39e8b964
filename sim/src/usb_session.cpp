#include "zarnet/sim/usb_session.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "net.h"

namespace zarnet::sim {
namespace {

using Clock = std::chrono::steady_clock;

class Session {
 public:
  Session(int socket, VirtualUsbDevice& device, std::stop_token stop, const UsbSessionOptions& options)
      : socket_(socket), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), device_(device), stop_(std::move(stop)),
        options_(options), decoder_(UsbStreamDecoder::Direction::kRequests), start_(Clock::now()) {}

  UsbSessionResult Run();

 private:
  void Log(const std::string& line) const {
    if (options_.log) options_.log(line);
  }
  void Wake() const {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
  }
  bool Stopped() const {
    if (stop_.stop_requested()) return true;
    pollfd p{options_.stop_fd, POLLIN, 0};
    return options_.stop_fd >= 0 && ::poll(&p, 1, 0) > 0;
  }
  void DrainWake() const {
    uint64_t value;
    while (::read(wake_.get(), &value, sizeof value) > 0) {
    }
  }
  bool Arrived(UsbRequestMessage request);
  void Pump();
  bool TryServe(const UsbRequestMessage& request);
  void EndWaiting(std::deque<UsbRequestMessage>& pipe);
  void Emit(RFC_RESPONSE_HEADER header, std::vector<uint8_t> data = {}, std::span<const RFC_ISO_DESC> packets = {});
  bool WriteAll(std::span<const uint8_t> bytes);
  bool Pause(std::chrono::milliseconds time);
  bool Flush();
  void End(UsbSessionResult::End why) {
    if (!ended_) result_.end = why;
    ended_ = true;
  }

  const int socket_;
  net::Fd wake_;
  VirtualUsbDevice& device_;
  std::stop_token stop_;
  const UsbSessionOptions& options_;
  UsbStreamDecoder decoder_;
  UsbRequestCollector collector_;
  std::map<uint32_t, std::deque<UsbRequestMessage>> pipes_;  // waiting requests by EndPoint
  size_t waiting_ = 0;
  std::vector<uint8_t> out_;
  bool silent_ = false;  // a silence fault struck: nothing more is answered
  bool ended_ = false;
  UsbSessionResult result_;
  const Clock::time_point start_;
};

UsbSessionResult Session::Run() {
  ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
  int on = 1;  // every response goes out at once: the client waits for it
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::stop_callback on_stop(stop_, [this] { Wake(); });
  device_.Attach([this] { Wake(); });
  std::vector<uint8_t> buffer(64 * 1024);
  while (!ended_) {
    if (stop_.stop_requested()) {
      End(UsbSessionResult::End::kStopped);
      break;
    }
    pollfd p[3] = {{socket_, POLLIN, 0}, {wake_.get(), POLLIN, 0}, {options_.stop_fd, POLLIN, 0}};
    if (::poll(p, options_.stop_fd >= 0 ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      End(UsbSessionResult::End::kSocketError);
      break;
    }
    if (p[1].revents) DrainWake();
    if (options_.stop_fd >= 0 && p[2].revents) {
      End(UsbSessionResult::End::kStopped);
      break;
    }
    if (p[0].revents) {
      ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
      if (n == 0) {
        End(UsbSessionResult::End::kPeerClosed);
        break;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        End(errno == ECONNRESET ? UsbSessionResult::End::kPeerClosed : UsbSessionResult::End::kSocketError);
        break;
      }
      if (n > 0) {
        const bool framed = decoder_.Feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), collector_);
        while (!ended_ && !collector_.messages().empty()) {
          UsbRequestMessage m = std::move(collector_.messages().front());
          collector_.messages().pop_front();
          if (!Arrived(std::move(m))) break;
        }
        if (!framed && !ended_) {
          Log("data connection: " + decoder_.error());
          End(UsbSessionResult::End::kOutOfFrame);
        }
      }
    }
    if (!ended_) Pump();
    if (!Flush()) End(UsbSessionResult::End::kSocketError);
  }
  Flush();
  device_.Detach();
  return result_;
}

// A request has arrived. Reset pipe and unlink act at once; everything else waits on its pipe.
bool Session::Arrived(UsbRequestMessage request) {
  ++result_.requests;
  const RFC_HEADER& h = request.header;
  if (h.Command == RFC_CMD_SYNC_RESET_PIPE) {
    auto it = pipes_.find(h.EndPoint);
    if (it != pipes_.end()) EndWaiting(it->second);
    device_.ResetPipe(static_cast<uint8_t>(h.EndPoint));
    Emit(ResponseTo(h, kWireStatusSuccess));
    return !ended_;
  }
  if (h.Command == RFC_CMD_UNLINK) {
    auto it = pipes_.find(h.EndPoint);
    bool found = false;
    if (it != pipes_.end()) {
      auto& pipe = it->second;
      auto target = std::find_if(pipe.begin(), pipe.end(),
                                 [&](const UsbRequestMessage& m) { return m.header.SeqNo == h.TransferFlags; });
      if (target != pipe.end()) {
        found = true;
        pipe.erase(target);
        --waiting_;
        EndWaiting(pipe);
      }
    }
    Emit(ResponseTo(h, found ? kWireStatusSuccess : kWireStatusUnknown));
    return !ended_;
  }
  if (waiting_ >= options_.max_waiting) {
    Log("data connection: too many requests waiting");
    End(UsbSessionResult::End::kTooManyWaiting);
    return false;
  }
  pipes_[h.EndPoint].push_back(std::move(request));
  ++waiting_;
  return true;
}

void Session::EndWaiting(std::deque<UsbRequestMessage>& pipe) {
  for (const UsbRequestMessage& m : pipe) Emit(ResponseTo(m.header, kWireStatusEnded));
  waiting_ -= pipe.size();
  pipe.clear();
}

// Serves the oldest request of every pipe while the device takes it; one pipe's progress may free
// another's (an echo's OUT lets its IN go), so it goes round until nothing moves.
void Session::Pump() {
  for (bool moved = true; moved && !ended_;) {
    moved = false;
    for (auto& [endpoint, pipe] : pipes_) {
      while (!pipe.empty() && !ended_ && TryServe(pipe.front())) {
        pipe.pop_front();
        --waiting_;
        moved = true;
      }
    }
  }
}

bool Session::TryServe(const UsbRequestMessage& request) {
  const RFC_HEADER& h = request.header;
  const bool endpoint_transfer =
      h.Command == RFC_CMD_BULK || h.Command == RFC_CMD_INTERRUPT || h.Command == RFC_CMD_ISOCH;
  if (endpoint_transfer && h.EndPoint > 0xFF) {  // no such endpoint address
    Emit(ResponseTo(h, kWireStatusStall));
    return true;
  }
  switch (h.Command) {
    case RFC_CMD_CONTROL: {
      const UsbSetupPacket setup = SetupOf(h);
      UsbAnswer a = device_.Control(setup, setup.in() ? std::span<const uint8_t>() : request.data);
      if (a.pending) return false;
      if (setup.in() && a.data.size() > h.TransferLength) a.data.resize(h.TransferLength);
      Emit(ResponseTo(h, a.status), setup.in() ? std::move(a.data) : std::vector<uint8_t>());
      return true;
    }
    case RFC_CMD_BULK:
    case RFC_CMD_INTERRUPT: {
      const bool in = h.EndPoint & kEndpointDirectionIn;
      if (in && h.TransferLength > options_.max_in_length) {
        Emit(ResponseTo(h, kWireStatusStall));
        return true;
      }
      UsbAnswer a = device_.Transfer(static_cast<uint8_t>(h.EndPoint), request.data, in ? h.TransferLength : 0);
      if (a.pending) return false;
      Emit(ResponseTo(h, a.status), in ? std::move(a.data) : std::vector<uint8_t>());
      return true;
    }
    case RFC_CMD_ISOCH: {
      const bool in = h.EndPoint & kEndpointDirectionIn;
      RFC_RESPONSE_HEADER r = ResponseTo(h, kWireStatusSuccess);
      r.StartFrame = h.StartFrame;
      UsbIsoAnswer a;
      if (h.TransferLength > options_.max_in_length) {
        a.status = kWireStatusStall;
        a.packets = request.packets;
        for (RFC_ISO_DESC& p : a.packets) p.ActualLength = 0, p.Status = kWireStatusStall;
        a.error_count = static_cast<uint32_t>(a.packets.size());
      } else {
        a = device_.Isochronous(static_cast<uint8_t>(h.EndPoint), request.packets, request.data, h.TransferLength);
      }
      r.Status = a.status;
      r.ErrorCount = a.error_count;
      if (!in) r.ActualLength = a.accepted;
      Emit(r, in ? std::move(a.data) : std::vector<uint8_t>(), a.packets);
      return true;
    }
    case RFC_CMD_CURRENT_FRAME: {
      RFC_RESPONSE_HEADER r = ResponseTo(h, kWireStatusSuccess);
      r.StartFrame = static_cast<uint32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
      Emit(r);
      return true;
    }
    default:
      Emit(ResponseTo(h, kWireStatusUnknown));
      return true;
  }
}

void Session::Emit(RFC_RESPONSE_HEADER header, std::vector<uint8_t> data, std::span<const RFC_ISO_DESC> packets) {
  if (silent_ || ended_) return;
  ++result_.responses;
  std::vector<Fault> faults = options_.faults ? options_.faults(header.Command) : std::vector<Fault>();
  if (faults.empty()) {
    AppendResponse(out_, header, data, packets);
    return;
  }
  const Fault* split = nullptr;
  const Fault* cut = nullptr;
  std::chrono::milliseconds delay{0};
  for (const Fault& f : faults) {
    switch (f.kind) {
      case FaultKind::kStatus: header.Status = static_cast<int32_t>(f.number); break;
      case FaultKind::kWrongSeqNo: header.SeqNo += static_cast<uint32_t>(f.number ? f.number : 1); break;
      case FaultKind::kOversize: data.resize(data.size() + f.size, 0xEE); break;
      case FaultKind::kSplit: split = &f; break;
      case FaultKind::kDelay: delay = f.delay; break;
      case FaultKind::kSilence:
      case FaultKind::kEarlyClose: cut = &f; break;
      default: break;
    }
  }
  std::vector<uint8_t> bytes;
  AppendResponse(bytes, header, data, packets);
  size_t length = bytes.size();
  if (cut) length = std::min(length, cut->size ? cut->size : RFC_HEADER_SIZE + data.size() / 2);
  if (!Flush() || !Pause(delay)) return End(UsbSessionResult::End::kSocketError);
  const size_t chunk = split ? std::max<size_t>(split->chunk, 1) : length;
  for (size_t at = 0; at < length; at += chunk) {
    if (at > 0 && split && !Pause(split->delay)) return End(UsbSessionResult::End::kStopped);
    if (!WriteAll(std::span<const uint8_t>(bytes.data() + at, std::min(chunk, length - at))))
      return End(UsbSessionResult::End::kSocketError);
  }
  if (cut && cut->kind == FaultKind::kSilence) {
    Log("data connection: falling silent");
    silent_ = true;
  } else if (cut) {
    Log("data connection: closing in the middle of a response");
    ::shutdown(socket_, SHUT_RDWR);
    End(UsbSessionResult::End::kFaultClosed);
  }
}

bool Session::Pause(std::chrono::milliseconds time) {
  if (time.count() <= 0) return true;
  const Clock::time_point until = Clock::now() + time;
  while (!Stopped()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return true;
    pollfd p[2] = {{wake_.get(), POLLIN, 0}, {options_.stop_fd, POLLIN, 0}};
    ::poll(p, options_.stop_fd >= 0 ? 2 : 1, static_cast<int>(left));
    DrainWake();
  }
  return false;
}

bool Session::WriteAll(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Stopped()) return false;
      pollfd p[3] = {{socket_, POLLOUT, 0}, {wake_.get(), POLLIN, 0}, {options_.stop_fd, POLLIN, 0}};
      if (::poll(p, options_.stop_fd >= 0 ? 3 : 2, -1) < 0 && errno != EINTR) return false;
      // A device change wakes this wait too; the loop serves the pipes again once the writing is done.
      if (p[1].revents) DrainWake();
      continue;
    }
    return false;
  }
  return true;
}

bool Session::Flush() {
  if (out_.empty()) return true;
  const bool ok = WriteAll(out_);
  out_.clear();
  return ok;
}

}  // namespace

DataFaultSource DataFaultList(std::vector<Fault> faults) {
  struct Shared {
    std::mutex mutex;
    std::vector<Fault> faults;
  };
  auto shared = std::make_shared<Shared>();
  shared->faults = std::move(faults);
  return [shared](uint32_t command) {
    std::lock_guard lock(shared->mutex);
    std::vector<Fault> taken;
    for (auto it = shared->faults.begin(); it != shared->faults.end();) {
      if (it->target != FaultTarget::kUsb || (it->command != 0 && it->command != command)) {
        ++it;
        continue;
      }
      taken.push_back(*it);
      if (it->times > 0 && --it->times == 0) it = shared->faults.erase(it);
      else ++it;
    }
    return taken;
  };
}

UsbSessionResult ServeUsbDataConnection(int socket, VirtualUsbDevice& device, std::stop_token stop,
                                        const UsbSessionOptions& options) {
  Session session(socket, device, std::move(stop), options);
  return session.Run();
}

}  // namespace zarnet::sim

namespace zarnet::sim {

void ServeUsbDataSession(const DataSession& session, VirtualUsbDevice& device, const UsbSessionOptions& options) {
  UsbSessionOptions o = options;
  o.stop_fd = session.stop_fd;
  ServeUsbDataConnection(session.socket, device, {}, o);
}

}  // namespace zarnet::sim
