// The automation service: one listening socket per process, by an abstract name made of the process id
// (nothing on disk), served on a thread of its own.
#include "gui/automation.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/wait.h"

namespace tavrin::gui::automation {
namespace {

sockaddr_un ServiceAddress(uint32_t pid, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string name = "tavrin-win-" + std::to_string(pid);
  memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: leading NUL, nothing on disk
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

void SetTimeouts(int fd, int timeoutMs) {
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

}  // namespace

class Service::Runner {
 public:
  explicit Runner(Handlers handlers) : handlers_(std::move(handlers)) {}

  void Acquire() {
    std::lock_guard guard(lock_);
    if (users_++ > 0 || stopping_) return;  // a stop under way starts the service again when it is done
    Start();
  }

  void Release() {
    std::unique_lock guard(lock_);
    if (users_ == 0 || --users_ > 0 || stopping_ || !thread_.joinable()) return;
    stopping_ = true;
    char stop = 1;
    (void)!write(wake_[1], &stop, 1);
    guard.unlock();
    auto ended = [this] { return ended_; };
    if (handlers_.waitForEnd) {
      handlers_.waitForEnd(ended);
    } else {
      std::unique_lock wait(base::WaitLock());
      base::WaitChanged().wait(wait, ended);
    }
    guard.lock();
    thread_.join();
    CloseAll();
    ended_ = false;
    stopping_ = false;
    if (users_ > 0) Start();  // acquired again while the service stopped
  }

 private:
  // Called with lock_ held.
  void Start() {
    socklen_t length;
    sockaddr_un address = ServiceAddress(static_cast<uint32_t>(getpid()), length);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
      CloseAll();  // other processes then cannot reach our windows; local use goes on
      return;
    }
    thread_ = std::thread([this] {
      Run();
      {
        std::lock_guard ended(base::WaitLock());
        ended_ = true;
      }
      base::NotifyWaiters();
    });
  }

  void Run() {
    for (;;) {
      pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      if (Serve(client)) close(client);
    }
  }

  // Serves one request; false when the connection was handed to a thread of its own (which closes it).
  bool Serve(int client) {
    SetTimeouts(client, kReplyTimeoutMs);
    ucred peer{};
    socklen_t peerLength = sizeof peer;
    // The socket has no file permissions: only processes of our own user may act on our windows.
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 || peer.uid != getuid()) return true;
    Request request{};
    if (recv(client, &request, sizeof request, MSG_WAITALL) != static_cast<ssize_t>(sizeof request)) return true;
    const bool valid = request.magic == kRequestMagic;
    if (valid && handlers_.answersAlone && handlers_.answerAlone && handlers_.answersAlone(request.op)) {
      std::thread([answer = handlers_.answerAlone, client, request] {
        answer(request, [client](const Reply& reply) {
          (void)!send(client, &reply, sizeof reply, MSG_NOSIGNAL);
          close(client);
        });
      }).detach();
      return false;
    }
    std::string command;
    if (request.op == static_cast<uint32_t>(Op::kInput)) {
      if (request.argument < 0 || request.argument > kMaxCommand) return true;
      command.resize(static_cast<size_t>(request.argument));
      if (!command.empty() && recv(client, command.data(), command.size(), MSG_WAITALL) != request.argument)
        return true;
    }
    Reply reply{};
    std::string payload;
    if (valid && handlers_.answer) handlers_.answer(request, command, reply, payload);
    if (payload.size() > kMaxPayload) payload.clear();
    reply.payloadLength = static_cast<uint32_t>(payload.size());
    if (send(client, &reply, sizeof reply, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof reply)) return true;
    size_t sent = 0;
    while (sent < payload.size()) {
      ssize_t n = send(client, payload.data() + sent, payload.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return true;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  void CloseAll() {
    for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

  const Handlers handlers_;
  std::mutex lock_;
  int users_ = 0;
  bool stopping_ = false;
  bool ended_ = false;  // guarded by base::WaitLock(): the service thread has left its loop
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

Service::Service(Handlers handlers) : runner_(std::make_unique<Runner>(std::move(handlers))) {}
Service::~Service() = default;
void Service::Acquire() { runner_->Acquire(); }
void Service::Release() { runner_->Release(); }

bool Ask(uint32_t pid, Request request, Reply& reply, const std::string& command, std::string* payload,
         int timeoutMs) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  SetTimeouts(fd, timeoutMs);
  socklen_t length;
  sockaddr_un address = ServiceAddress(pid, length);
  request.magic = kRequestMagic;
  request.argument = command.empty() ? request.argument : static_cast<int32_t>(command.size());
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            send(fd, &request, sizeof request, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request) &&
            (command.empty() ||
             send(fd, command.data(), command.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(command.size())) &&
            recv(fd, &reply, sizeof reply, MSG_WAITALL) == static_cast<ssize_t>(sizeof reply) && reply.found;
  if (ok && payload) {
    // The payload's length comes from the peer: bounded before anything is allocated.
    if (reply.payloadLength > kMaxPayload) {
      ok = false;
    } else {
      payload->resize(reply.payloadLength);
      size_t got = 0;
      while (ok && got < payload->size()) {
        ssize_t n = recv(fd, payload->data() + got, payload->size() - got, 0);
        if (n <= 0) ok = false;
        else got += static_cast<size_t>(n);
      }
    }
  }
  close(fd);
  return ok;
}

bool ParseInputCommand(const std::string& command, InputCommand& input) {
  std::istringstream in(command);
  std::string verb;
  in >> verb;
  input = InputCommand{};
  if (verb == "click" || verb == "move") {
    input.verb = verb == "click" ? InputCommand::Verb::kClick : InputCommand::Verb::kMove;
    if (!(in >> input.at.x >> input.at.y)) return false;
    std::string button = "left";
    int count = 1;
    in >> button >> count;
    input.button = button == "right" ? PointerButton::kRight : button == "middle" ? PointerButton::kMiddle
                                                                                   : PointerButton::kLeft;
    input.count = std::clamp(count, 1, 3);
    return true;
  }
  if (verb == "text") {
    input.verb = InputCommand::Verb::kText;
    std::getline(in, input.text);
    if (!input.text.empty() && input.text[0] == ' ') input.text.erase(0, 1);
    return true;
  }
  if (verb == "key") {
    input.verb = InputCommand::Verb::kKey;
    std::string state = "press";
    if (!(in >> input.key)) return false;
    in >> state;
    input.press = state != "up";
    input.release = state != "down";
    return true;
  }
  return false;
}

void RunPointerCommand(Desktop& desktop, const draw::Rect& window, const InputCommand& input) {
  PointerEvent event;
  event.screen = draw::Point{window.left + input.at.x, window.top + input.at.y};
  event.button = input.button;
  if (input.verb == InputCommand::Verb::kMove) {
    desktop.Pointer(event);
    return;
  }
  if (input.verb != InputCommand::Verb::kClick) return;
  for (int i = 0; i < input.count; ++i) {
    event.kind = PointerEvent::Kind::kPress;
    desktop.Pointer(event);
    event.kind = PointerEvent::Kind::kRelease;
    desktop.Pointer(event);
  }
}

std::string ListLine(const ListedWindow& window) {
  char line[512];
  snprintf(line, sizeof line, "%*s0x%llx class=\"%s\" id=%llu text=\"%s\" rect=%d,%d,%d,%d visible=%d enabled=%d",
           window.depth * 2, "", static_cast<unsigned long long>(window.handle), window.className.c_str(),
           static_cast<unsigned long long>(window.id), window.text.c_str(), window.rect.left, window.rect.top,
           window.rect.right, window.rect.bottom, window.visible ? 1 : 0, window.enabled ? 1 : 0);
  std::string text = line;
  if (!window.role.empty()) text += " role=\"" + window.role + "\"";
  return text;
}

}  // namespace tavrin::gui::automation
