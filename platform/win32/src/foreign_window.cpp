// Top-level windows across the processes of one sysroot. Each top-level window has a small record in
// <run>/windows (creating process, its start time, class and title), so FindWindow of any process finds
// it. Each process that has top-level windows serves the window core's automation socket
// (gui/automation.h), through which other processes list its windows, take screenshots, inject input, and,
// with ops of our own, query its windows' state, show them and bring them to the front; it runs while the
// process has top-level windows.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "queue_internal.h"
#include "gui/automation.h"
#include "user_internal.h"
#include "win32/window_manager.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::win::detail {
namespace {

using gui::automation::Reply;
using gui::automation::Request;
using AutomationOp = gui::automation::Op;

// The window service's ops of our own beside the automation protocol's (list, screenshot, input).
// kEndSession asks the process's windows whether the session may end (lParam as WM_QUERYENDSESSION's); it is
// answered on a thread of its own, since the windows may ask the user first.
enum class Op : uint32_t { kQuery = 1, kShow = 2, kActivate = 3, kPost = 4, kEndSession = 8 };
constexpr uint32_t OpCode(Op op) { return static_cast<uint32_t>(op); }
constexpr uint32_t OpCode(AutomationOp op) { return static_cast<uint32_t>(op); }

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

// Answers the requests for our own windows.
void Answer(const Request& request, const std::string& command, Reply& reply, std::string& payload) {
  HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(request.window));
  if (IsForeign(hwnd)) return;  // only our own windows are served
  switch (request.op) {
    case OpCode(AutomationOp::kList):
      for (auto& line : tavrin::win::ListWindows()) payload += line + "\n";
      reply.found = 1;
      return;
    case OpCode(AutomationOp::kScreenshot):
      reply.found = ServeScreenshot(request.argument ? nullptr : hwnd, payload) ? 1 : 0;
      return;
    case OpCode(AutomationOp::kInput):
      reply.found = ServeInput(hwnd, command) ? 1 : 0;
      return;
    case OpCode(Op::kQuery):
      break;
    case OpCode(Op::kShow):
      reply.result = ShowLocal(hwnd, request.argument);
      break;
    case OpCode(Op::kActivate):
      reply.result = ActivateLocal(hwnd);
      break;
    case OpCode(Op::kPost):
      reply.result = PostMessage(hwnd, request.code, static_cast<WPARAM>(request.first),
                                 static_cast<LPARAM>(request.second));
      break;
    default:
      return;
  }
  WindowState state;
  if (!QueryLocal(hwnd, state)) return;
  reply.found = 1;
  reply.state[0] = state.visible;
  reply.state[1] = state.iconic;
  reply.related[0] = reinterpret_cast<uintptr_t>(state.lastActivePopup);
  reply.related[1] = reinterpret_cast<uintptr_t>(state.owner);
  reply.thread = state.threadId;
}

// Answers an end-of-session request; a process whose session ends exits, as the system would end it.
void EndSession(const Request& request, const std::function<void(const Reply&)>& send) {
  Reply reply{};
  reply.found = 1;
  reply.result = QueryEndSession(static_cast<LPARAM>(request.second)) ? 1 : 0;
  send(reply);
  if (reply.result) {
    fflush(nullptr);
    _exit(0);
  }
}

gui::automation::Service& TheService() {
  // Never destroyed: windows may outlive static destruction.
  static auto* service = new gui::automation::Service({
      .answer = Answer,
      .answersAlone = [](uint32_t op) { return op == OpCode(Op::kEndSession); },
      .answerAlone = EndSession,
      // The service may be waiting for this very thread to answer a message (a listing asks each list
      // for its rows): the wait answers them.
      .waitForEnd = core::WaitAnsweringSent,
  });
  return *service;
}

// Sends one request to the process that owns `hwnd` and reads its reply.
bool Ask(HWND hwnd, Request request, Reply& reply, const std::string& command = {}, std::string* payload = nullptr,
         int timeoutMs = gui::automation::kReplyTimeoutMs) {
  Record record;
  if (!LiveRecord(hwnd, record)) return false;
  request.window = reinterpret_cast<uintptr_t>(hwnd);
  return gui::automation::Ask(ProcessOfWindow(hwnd), request, reply, command, payload, timeoutMs);
}

void StateFromReply(const Reply& reply, WindowState& state) {
  state.visible = reply.state[0];
  state.iconic = reply.state[1];
  state.lastActivePopup = reinterpret_cast<HWND>(static_cast<uintptr_t>(reply.related[0]));
  state.owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(reply.related[1]));
  state.threadId = reply.thread;
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
  if (!Ask(hwnd, {.op = OpCode(Op::kQuery)}, reply)) return false;
  StateFromReply(reply, state);
  return true;
}

bool ForeignShow(HWND hwnd, int command, BOOL& wasVisible) {
  Reply reply{};
  if (!Ask(hwnd, {.op = OpCode(Op::kShow), .argument = command}, reply)) return false;
  wasVisible = reply.result;
  return true;
}

bool ForeignActivate(HWND hwnd) {
  Reply reply{};
  return Ask(hwnd, {.op = OpCode(Op::kActivate)}, reply) && reply.result;
}

bool ForeignList(HWND anyWindow, std::string& lines) {
  Reply reply{};
  return Ask(anyWindow, {.op = OpCode(AutomationOp::kList)}, reply, {}, &lines);
}

bool ForeignScreenshot(HWND hwnd, bool screen, std::string& png) {
  Reply reply{};
  return Ask(hwnd, {.op = OpCode(AutomationOp::kScreenshot), .argument = screen ? 1 : 0}, reply, {}, &png);
}

bool ForeignInput(HWND hwnd, const std::string& command) {
  if (command.empty() || command.size() > static_cast<size_t>(gui::automation::kMaxCommand)) return false;
  Reply reply{};
  return Ask(hwnd, {.op = OpCode(AutomationOp::kInput)}, reply, command, nullptr);
}

bool ForeignEndSession(HWND anyWindow, LPARAM lParam, bool& agreed) {
  Reply reply{};
  Request request{.op = OpCode(Op::kEndSession), .second = lParam};
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
  Request request{.op = OpCode(Op::kPost), .code = message, .first = wParam, .second = lParam};
  return Ask(hwnd, request, reply) && reply.result;
}

}  // namespace tavrin::win::detail
