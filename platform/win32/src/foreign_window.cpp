// Top-level windows across the processes of one sysroot. Each top-level window has a record among the
// sysroot's windows (gui/sysroot_windows.h: its process, class and title), so FindWindow of any process
// finds it; an HWND names its process, which tells our records from other toolkits'. Each process that has
// top-level windows serves the window core's automation socket (gui/automation.h), through which other
// processes list its windows, take screenshots, inject input, and, with ops of our own, query its windows'
// state, show them and bring them to the front; it runs while the process has top-level windows.
#include <unistd.h>

#include <optional>
#include <vector>

#include "gui/automation.h"
#include "gui/sysroot_windows.h"
#include "queue_internal.h"
#include "user_internal.h"
#include "win32/window_manager.h"

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

// A record of another process's HWND: the window's handle names its process.
bool IsWindowRecord(const gui::automation::PublishedWindow& window) {
  return ProcessOfWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(window.handle))) == window.pid;
}

HWND HandleOf(const gui::automation::PublishedWindow& window) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(window.handle));
}

// The live record of a foreign window.
std::optional<gui::automation::PublishedWindow> LiveRecord(HWND hwnd) {
  return gui::automation::FindPublished(ProcessOfWindow(hwnd), reinterpret_cast<uintptr_t>(hwnd));
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
  if (!LiveRecord(hwnd)) return false;
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
  // The service listens before the record is seen: a process that finds the window can reach it at once.
  if (existing.empty()) TheService().Acquire();
  fs::path path = gui::automation::Publish(reinterpret_cast<uintptr_t>(hwnd), className, title, existing);
  if (existing.empty() && path.empty()) TheService().Release();
  return path;
}

void Unpublish(const fs::path& record) {
  gui::automation::Unpublish(record);
  TheService().Release();
}

HWND FindForeign(LPCSTR className, LPCSTR windowName) {
  for (auto& window : gui::automation::OtherProcessesWindows()) {  // each process's windows in creation order
    if (!IsWindowRecord(window)) continue;
    if (className && !EqualsNoCase(window.className, className)) continue;
    if (windowName && !EqualsNoCase(window.title, windowName)) continue;
    return HandleOf(window);
  }
  return nullptr;
}

bool ForeignAlive(HWND hwnd) { return LiveRecord(hwnd).has_value(); }

bool ForeignText(HWND hwnd, std::string& className, std::string& title) {
  auto record = LiveRecord(hwnd);
  if (!record) return false;
  className = std::move(record->className);
  title = std::move(record->title);
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

bool ForeignEndSession(HWND anyWindow, LPARAM lParam, bool& agreed) {
  Reply reply{};
  Request request{.op = OpCode(Op::kEndSession), .second = lParam};
  if (!Ask(anyWindow, request, reply, {}, nullptr, kEndSessionTimeoutMs)) return false;
  agreed = reply.result != 0;
  return true;
}

std::vector<HWND> ForeignTopLevels() {
  std::vector<HWND> found;
  for (auto& window : gui::automation::OtherProcessesWindows())
    if (IsWindowRecord(window)) found.push_back(HandleOf(window));
  return found;
}

bool ForeignPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Reply reply{};
  Request request{.op = OpCode(Op::kPost), .code = message, .first = wParam, .second = lParam};
  return Ask(hwnd, request, reply) && reply.result;
}

}  // namespace tavrin::win::detail
