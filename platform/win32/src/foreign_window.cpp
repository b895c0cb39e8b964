// Top-level windows across the processes of one sysroot. Each top-level window has a small record in
// <run>/windows (creating process, its start time, class and title), so FindWindow of any process finds
// it. Each process that has top-level windows serves a Unix socket (abstract name by process id) on a
// background thread, through which other processes query its windows' state, show them and bring them
// to the front; the thread runs while the process has top-level windows.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core_internal.h"
#include "user_internal.h"
#include "win32/window_manager.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::win::detail {
namespace {

constexpr uint32_t kRequestMagic = 0x54565752;  // "TVWR"
// kList and kScreenshot answer with a payload after the reply (its length in `payloadLength`);
// kInput's command text follows the request (its length in `argument`).
// kEndSession asks the process's windows whether the session may end (lParam as WM_QUERYENDSESSION's); it is
// answered on a thread of its own, since the windows may ask the user first.
enum class Op : uint32_t {
  kQuery = 1, kShow = 2, kActivate = 3, kPost = 4, kList = 5, kScreenshot = 6, kInput = 7, kEndSession = 8
};

struct Request {
  uint32_t magic = 0;
  uint32_t op = 0;
  uint64_t hwnd = 0;
  int32_t argument = 0;
  uint32_t message = 0;  // kPost: the message and its parameters
  uint64_t wParam = 0;
  int64_t lParam = 0;
};

constexpr int32_t kMaxCommand = 4096;
constexpr size_t kMaxPayload = 256u << 20;

struct Reply {
  int32_t found;
  int32_t result;
  uint32_t visible;
  uint32_t iconic;
  uint64_t lastActivePopup;
  uint64_t owner;
  uint32_t threadId;
  uint32_t payloadLength;  // the bytes that follow the reply
};

constexpr int kReplyTimeoutMs = 2000;  // a peer that hangs does not hang us
constexpr int kEndSessionTimeoutMs = 300000;  // a person may be asked first

// The kernel's start time of a process (clock ticks since boot): with the id it names one process even
// after the id is reused. 0 when the process does not exist.
unsigned long long ProcessStartTime(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)  // the start time is field 22
    if (i == 22) return strtoull(field.c_str(), nullptr, 10);
  return 0;
}

unsigned long long OwnStartTime() {
  static const unsigned long long start = ProcessStartTime(getpid());
  return start;
}

sockaddr_un ServiceAddress(DWORD pid, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string name = "tavrin-win-" + std::to_string(pid);
  memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: leading NUL, nothing on disk
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

// ---- the records ----

struct Record {
  long pid = 0;
  unsigned long long startTime = 0;
  std::string className;
  std::string title;
};

fs::path WindowsDir() { return sysroot::RunDir() / "windows"; }

std::string HandleName(HWND hwnd) {
  char name[24];
  snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
  return name;
}

// "pid start classLength titleLength\n" then the class and the title, so that any text survives.
bool ReadRecord(const fs::path& path, Record& record) {
  std::ifstream in(path, std::ios::binary);
  size_t classLength = 0, titleLength = 0;
  if (!(in >> record.pid >> record.startTime >> classLength >> titleLength) || in.get() != '\n') return false;
  if (classLength > 4096 || titleLength > 65536) return false;
  record.className.resize(classLength);
  record.title.resize(titleLength);
  in.read(record.className.data(), static_cast<std::streamsize>(classLength));
  in.read(record.title.data(), static_cast<std::streamsize>(titleLength));
  return static_cast<bool>(in);
}

bool Alive(const Record& record) { return record.startTime != 0 && ProcessStartTime(record.pid) == record.startTime; }

// The live record of a foreign window; a record whose process is gone is removed.
bool LiveRecord(HWND hwnd, Record& record) {
  fs::path path = WindowsDir() / HandleName(hwnd);
  if (!ReadRecord(path, record)) return false;
  if (Alive(record) && static_cast<DWORD>(record.pid) == ProcessOfWindow(hwnd)) return true;
  std::error_code ec;
  fs::remove(path, ec);
  return false;
}

// ---- the service ----

bool HandleRequest(const Request& request, const std::string& command, Reply& reply, std::string& payload) {
  if (request.magic != kRequestMagic) return false;
  HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(request.hwnd));
  if (IsForeign(hwnd)) return false;  // only our own windows are served
  switch (static_cast<Op>(request.op)) {
    case Op::kList:
      for (auto& line : tavrin::win::ListWindows()) payload += line + "\n";
      reply.found = 1;
      return true;
    case Op::kScreenshot:
      reply.found = ServeScreenshot(request.argument ? nullptr : hwnd, payload) ? 1 : 0;
      return reply.found;
    case Op::kInput:
      reply.found = ServeInput(hwnd, command) ? 1 : 0;
      return reply.found;
    case Op::kQuery:
      break;
    case Op::kShow:
      reply.result = ShowLocal(hwnd, request.argument);
      break;
    case Op::kActivate:
      reply.result = ActivateLocal(hwnd);
      break;
    case Op::kPost:
      reply.result = PostMessage(hwnd, request.message, static_cast<WPARAM>(request.wParam),
                                 static_cast<LPARAM>(request.lParam));
      break;
    default:
      return false;
  }
  WindowState state;
  if (!QueryLocal(hwnd, state)) return false;
  reply.found = 1;
  reply.visible = state.visible;
  reply.iconic = state.iconic;
  reply.lastActivePopup = reinterpret_cast<uintptr_t>(state.lastActivePopup);
  reply.owner = reinterpret_cast<uintptr_t>(state.owner);
  reply.threadId = state.threadId;
  return true;
}

// Answers an end-of-session request; a process whose session ends exits, as the system would end it.
void EndSession(int client, LPARAM lParam) {
  Reply reply{};
  reply.found = 1;
  reply.result = QueryEndSession(lParam) ? 1 : 0;
  (void)!send(client, &reply, sizeof reply, MSG_NOSIGNAL);
  close(client);
  if (reply.result) {
    fflush(nullptr);
    _exit(0);
  }
}

// Serves one request; false when the connection was handed to a thread of its own (which closes it).
bool Serve(int client) {
  timeval timeout{kReplyTimeoutMs / 1000, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  ucred peer{};
  socklen_t peerLength = sizeof peer;
  // The socket has no file permissions: only processes of our own user may act on our windows.
  if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 || peer.uid != getuid()) return true;
  Request request{};
  if (recv(client, &request, sizeof request, MSG_WAITALL) != static_cast<ssize_t>(sizeof request)) return true;
  if (request.magic == kRequestMagic && request.op == static_cast<uint32_t>(Op::kEndSession)) {
    std::thread([client, lParam = static_cast<LPARAM>(request.lParam)] { EndSession(client, lParam); }).detach();
    return false;
  }
  std::string command;
  if (request.op == static_cast<uint32_t>(Op::kInput)) {
    if (request.argument < 0 || request.argument > kMaxCommand) return true;
    command.resize(static_cast<size_t>(request.argument));
    if (!command.empty() && recv(client, command.data(), command.size(), MSG_WAITALL) != request.argument) return true;
  }
  Reply reply{};
  std::string payload;
  HandleRequest(request, command, reply, payload);
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

class Service {
 public:
  // Counts a published window; the first one starts the service.
  void Acquire() {
    std::lock_guard guard(lock_);
    if (users_++ > 0 || stopping_) return;  // a stop under way starts the service again when it is done
    Start();
  }

  // The last published window gone stops the service. The service may be waiting meanwhile for this very
  // thread to answer a message (a listing asks each list for its rows): the wait answers them.
  void Release() {
    std::unique_lock guard(lock_);
    if (users_ == 0 || --users_ > 0 || stopping_ || !thread_.joinable()) return;
    stopping_ = true;
    char stop = 1;
    (void)!write(wake_[1], &stop, 1);
    guard.unlock();
    core::WaitAnsweringSent([this] { return ended_; });
    guard.lock();
    thread_.join();
    CloseAll();
    ended_ = false;
    stopping_ = false;
    if (users_ > 0) Start();  // a window published while the service stopped
  }

 private:
  // Called with lock_ held.
  void Start() {
    socklen_t length;
    sockaddr_un address = ServiceAddress(static_cast<DWORD>(getpid()), length);
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

  void CloseAll() {
    for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

  std::mutex lock_;
  int users_ = 0;
  bool stopping_ = false;
  bool ended_ = false;  // guarded by WaitLock(): the service thread has left its loop
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

Service& TheService() {
  static auto* service = new Service;  // never destroyed: windows may outlive static destruction
  return *service;
}

bool Ask(HWND hwnd, Request request, Reply& reply, const std::string& command, std::string* payload,
         int timeoutMs = kReplyTimeoutMs);

// Sends one request to the process that owns `hwnd` and reads its reply.
bool Ask(HWND hwnd, Request request, Reply& reply) { return Ask(hwnd, request, reply, {}, nullptr); }

bool Ask(HWND hwnd, Request request, Reply& reply, const std::string& command, std::string* payload, int timeoutMs) {
  Record record;
  if (!LiveRecord(hwnd, record)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  socklen_t length;
  sockaddr_un address = ServiceAddress(ProcessOfWindow(hwnd), length);
  request.magic = kRequestMagic;
  request.hwnd = reinterpret_cast<uintptr_t>(hwnd);
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

void StateFromReply(const Reply& reply, WindowState& state) {
  state.visible = reply.visible;
  state.iconic = reply.iconic;
  state.lastActivePopup = reinterpret_cast<HWND>(static_cast<uintptr_t>(reply.lastActivePopup));
  state.owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(reply.owner));
  state.threadId = reply.threadId;
}

}  // namespace

fs::path Publish(HWND hwnd, const std::string& className, const std::string& title, const fs::path& existing) {
  fs::path path = existing;
  if (path.empty()) {
    std::error_code ec;
    fs::create_directories(WindowsDir(), ec);
    path = WindowsDir() / HandleName(hwnd);
  }
  // Written whole and renamed into place, so that a reader never sees half a record.
  fs::path temporary = path;
  temporary += ".tmp" + std::to_string(GetCurrentThreadId());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << getpid() << ' ' << OwnStartTime() << ' ' << className.size() << ' ' << title.size() << '\n'
        << className << title;
    if (!out) return existing;
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) return existing;
  if (existing.empty()) TheService().Acquire();
  return path;
}

void Unpublish(const fs::path& record) {
  std::error_code ec;
  fs::remove(record, ec);
  TheService().Release();
}

HWND FindForeign(LPCSTR className, LPCSTR windowName) {
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(WindowsDir(), ec))
    if (entry.path().extension().empty()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());  // by handle: each process's windows in creation order
  for (auto& path : paths) {
    Record record;
    if (!ReadRecord(path, record) || record.pid == getpid()) continue;
    if (!Alive(record)) {
      fs::remove(path, ec);
      continue;
    }
    if (className && !EqualsNoCase(record.className, className)) continue;
    if (windowName && !EqualsNoCase(record.title, windowName)) continue;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(path.filename().c_str(), nullptr, 16)));
  }
  return nullptr;
}

bool ForeignAlive(HWND hwnd) {
  Record record;
  return LiveRecord(hwnd, record);
}

bool ForeignText(HWND hwnd, std::string& className, std::string& title) {
  Record record;
  if (!LiveRecord(hwnd, record)) return false;
  className = std::move(record.className);
  title = std::move(record.title);
  return true;
}

bool ForeignQuery(HWND hwnd, WindowState& state) {
  Reply reply{};
  if (!Ask(hwnd, {.op = static_cast<uint32_t>(Op::kQuery)}, reply)) return false;
  StateFromReply(reply, state);
  return true;
}

bool ForeignShow(HWND hwnd, int command, BOOL& wasVisible) {
  Reply reply{};
  if (!Ask(hwnd, {.op = static_cast<uint32_t>(Op::kShow), .argument = command}, reply)) return false;
  wasVisible = reply.result;
  return true;
}

bool ForeignActivate(HWND hwnd) {
  Reply reply{};
  return Ask(hwnd, {.op = static_cast<uint32_t>(Op::kActivate)}, reply) && reply.result;
}

bool ForeignList(HWND anyWindow, std::string& lines) {
  Reply reply{};
  return Ask(anyWindow, {.op = static_cast<uint32_t>(Op::kList)}, reply, {}, &lines);
}

bool ForeignScreenshot(HWND hwnd, bool screen, std::string& png) {
  Reply reply{};
  return Ask(hwnd, {.op = static_cast<uint32_t>(Op::kScreenshot), .argument = screen ? 1 : 0}, reply, {}, &png);
}

bool ForeignInput(HWND hwnd, const std::string& command) {
  if (command.empty() || command.size() > static_cast<size_t>(kMaxCommand)) return false;
  Reply reply{};
  return Ask(hwnd, {.op = static_cast<uint32_t>(Op::kInput)}, reply, command, nullptr);
}

bool ForeignEndSession(HWND anyWindow, LPARAM lParam, bool& agreed) {
  Reply reply{};
  Request request{.op = static_cast<uint32_t>(Op::kEndSession), .lParam = lParam};
  if (!Ask(anyWindow, request, reply, {}, nullptr, kEndSessionTimeoutMs)) return false;
  agreed = reply.result != 0;
  return true;
}

std::vector<HWND> ForeignTopLevels() {
  std::vector<HWND> found;
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(WindowsDir(), ec))
    if (entry.path().extension().empty()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (auto& path : paths) {
    Record record;
    if (!ReadRecord(path, record) || record.pid == getpid() || !Alive(record)) continue;
    found.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(path.filename().c_str(), nullptr, 16))));
  }
  return found;
}

bool ForeignPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Reply reply{};
  Request request{.op = static_cast<uint32_t>(Op::kPost), .message = message, .wParam = wParam, .lParam = lParam};
  return Ask(hwnd, request, reply) && reply.result;
}

}  // namespace tavrin::win::detail
