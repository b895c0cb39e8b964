// The automation protocol: what outside tools ask of a process's windows (list them, take screenshots,
// click, move, type, press keys), and its transport, a local socket each process with windows serves. A
// toolkit answers the requests with its own windows and adds ops of its own for what only its windows
// mean; the core defines the wire, serves it and parses the input commands.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gui/desktop.h"

namespace tavrin::gui::automation {

constexpr uint32_t kRequestMagic = 0x54565752;  // "TVWR"

// The core's ops. kList and kScreenshot answer with a payload after the reply (its length in
// `payloadLength`); kInput's command text follows the request (its length in `argument`). A toolkit numbers
// its own ops apart from these.
enum class Op : uint32_t { kList = 5, kScreenshot = 6, kInput = 7 };

struct Request {
  uint32_t magic = 0;
  uint32_t op = 0;
  uint64_t window = 0;    // the toolkit's handle of the window asked about
  int32_t argument = 0;   // kScreenshot: 1 for the whole screen; kInput: the command's length
  uint32_t code = 0;      // a toolkit op's own words (a message to post and its parameters)
  uint64_t first = 0;
  int64_t second = 0;
};

struct Reply {
  int32_t found = 0;         // the window was there and the request served
  int32_t result = 0;
  uint32_t state[2] = {};    // a toolkit op's answer: what the window is (shown, minimised...)
  uint64_t related[2] = {};  // windows the answer names
  uint32_t thread = 0;       // the thread the window belongs to
  uint32_t payloadLength = 0;
};

constexpr int32_t kMaxCommand = 4096;
constexpr size_t kMaxPayload = 256u << 20;
constexpr int kReplyTimeoutMs = 2000;  // a peer that hangs does not hang us

// The service of this process, running while anyone holds it (a toolkit: while it has windows others may
// reach). Requests come one at a time on the service's thread, from processes of our own user only.
class Service {
 public:
  struct Handlers {
    // Fills the reply (found when served) and the payload that follows it; `command` is kInput's text.
    std::function<void(const Request& request, const std::string& command, Reply& reply, std::string& payload)> answer;
    // Ops answered on a thread of their own, since they may wait for a person; `send` sends the reply
    // and closes the connection.
    std::function<bool(uint32_t op)> answersAlone;
    std::function<void(const Request& request, const std::function<void(const Reply&)>& send)> answerAlone;
    // Waits until `ended` holds (asked with base::WaitLock() held) on a thread that stops the service:
    // the service may be waiting meanwhile for that very thread (a toolkit answers there what is sent to
    // its windows). Without it the wait only sleeps.
    std::function<void(const std::function<bool()>& ended)> waitForEnd;
  };

  explicit Service(Handlers handlers);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The first holder starts the service, the last one's release stops it.
  void Acquire();
  void Release();

 private:
  class Runner;
  std::unique_ptr<Runner> runner_;
};

// Sends one request to the service of process `pid` and reads its reply (and its payload, bounded by
// kMaxPayload, when `payload` is given). False when nobody answered or the reply is not `found`.
bool Ask(uint32_t pid, Request request, Reply& reply, const std::string& command = {}, std::string* payload = nullptr,
         int timeoutMs = kReplyTimeoutMs);

// Input commands, coordinates relative to the window's top-left:
//   "click X Y [left|right|middle] [COUNT]", "move X Y", "text STRING", "key CODE [down|up]"
struct InputCommand {
  enum class Verb { kClick, kMove, kText, kKey };
  Verb verb = Verb::kClick;
  draw::Point at;                               // click, move
  PointerButton button = PointerButton::kLeft;  // click
  int count = 1;                                // click: 1 to 3
  std::string text;                             // text
  int key = 0;                                  // key: the toolkit's key code
  bool press = true, release = true;            // key: "down" only presses, "up" only releases
};
bool ParseInputCommand(const std::string& command, InputCommand& input);
// A click or a move, through the desktop's input routing, on the window whose screen rectangle is `window`.
void RunPointerCommand(Desktop& desktop, const draw::Rect& window, const InputCommand& input);

// One line of a window list: "0xHANDLE class=\"C\" id=N text=\"T\" rect=l,t,r,b visible=V enabled=E",
// then role=\"R\" for a window that has one (a top-level window's), indented two spaces a level; a toolkit
// may add fields of its own.
struct ListedWindow {
  int depth = 0;
  uintptr_t handle = 0;
  std::string className;  // the toolkit's class of the window or control
  uint64_t id = 0;        // its identifier among its siblings
  std::string text;
  draw::Rect rect;  // screen coordinates
  bool visible = false, enabled = true;
  std::string role;  // a top-level window's (see SurfaceState)
};
std::string ListLine(const ListedWindow& window);

}  // namespace tavrin::gui::automation
