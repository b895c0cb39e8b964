// The automation protocol: its service and client in one process, the input commands and the list lines.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gui/automation.h"

namespace {

using namespace tavrin::gui;
using namespace tavrin::gui::automation;

constexpr uint32_t kEcho = 40;   // an op of the test's own: answers with the command it got
constexpr uint32_t kAlone = 41;  // answered on a thread of its own

uint32_t OwnPid() { return static_cast<uint32_t>(getpid()); }

Service::Handlers TestHandlers(std::atomic<std::thread::id>* aloneOn = nullptr) {
  Service::Handlers handlers;
  handlers.answer = [](const Request& request, const std::string& command, Reply& reply, std::string& payload) {
    if (request.op == static_cast<uint32_t>(Op::kList)) {
      payload = "0x1 class=\"C\"\n";
      reply.found = 1;
    } else if (request.op == static_cast<uint32_t>(Op::kInput) || request.op == kEcho) {
      payload = command;
      reply.result = static_cast<int32_t>(request.second);
      reply.related[0] = request.window;
      reply.found = 1;
    }
  };
  handlers.answersAlone = [](uint32_t op) { return op == kAlone; };
  handlers.answerAlone = [aloneOn](const Request&, const std::function<void(const Reply&)>& send) {
    if (aloneOn) *aloneOn = std::this_thread::get_id();
    Reply reply;
    reply.found = 1;
    reply.result = 7;
    send(reply);
  };
  return handlers;
}

TEST(AutomationServiceTest, AnswersRequestsWithTheirPayloadsWhileHeld) {
  std::atomic<std::thread::id> aloneOn{};
  Service service(TestHandlers(&aloneOn));
  Reply reply;
  EXPECT_FALSE(Ask(OwnPid(), {.op = static_cast<uint32_t>(Op::kList)}, reply));  // not started yet

  service.Acquire();
  service.Acquire();
  std::string payload;
  ASSERT_TRUE(Ask(OwnPid(), {.op = static_cast<uint32_t>(Op::kList)}, reply, {}, &payload));
  EXPECT_EQ(payload, "0x1 class=\"C\"\n");

  Request input{.op = static_cast<uint32_t>(Op::kInput), .window = 0xABC, .second = -5};
  ASSERT_TRUE(Ask(OwnPid(), input, reply, "click 1 2", &payload));
  EXPECT_EQ(payload, "click 1 2");
  EXPECT_EQ(reply.result, -5);
  EXPECT_EQ(reply.related[0], 0xABCu);
  // A command beyond the bound is not read: the connection is closed unanswered.
  EXPECT_FALSE(Ask(OwnPid(), input, reply, std::string(kMaxCommand + 1, 'x')));
  EXPECT_FALSE(Ask(OwnPid(), {.op = 99}, reply));  // unanswered op: not found

  ASSERT_TRUE(Ask(OwnPid(), {.op = kAlone}, reply));
  EXPECT_EQ(reply.result, 7);
  EXPECT_NE(aloneOn.load(), std::this_thread::get_id());

  service.Release();  // one holder left
  EXPECT_TRUE(Ask(OwnPid(), {.op = kEcho}, reply));
  service.Release();
  EXPECT_FALSE(Ask(OwnPid(), {.op = kEcho}, reply));
  service.Acquire();  // and again
  EXPECT_TRUE(Ask(OwnPid(), {.op = kEcho}, reply));
  service.Release();
}

TEST(AutomationServiceTest, APayloadLengthBeyondTheBoundIsRefusedBeforeAnythingIsRead) {
  // A peer of our own at the address of a process id no process has, that announces 1 GiB.
  const uint32_t pid = 4000000000u;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "tavrin-win-" + std::to_string(pid);
  memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  std::thread peer([listener] {
    int client = accept(listener, nullptr, nullptr);
    if (client < 0) return;
    Request request;
    (void)!recv(client, &request, sizeof request, MSG_WAITALL);
    Reply reply;
    reply.found = 1;
    reply.payloadLength = 1u << 30;
    (void)!send(client, &reply, sizeof reply, MSG_NOSIGNAL);
    close(client);
  });
  Reply reply;
  std::string payload;
  EXPECT_FALSE(Ask(pid, {.op = static_cast<uint32_t>(Op::kScreenshot)}, reply, {}, &payload));
  EXPECT_TRUE(payload.empty());
  peer.join();
  close(listener);
}

TEST(InputCommandTest, ParsesEachVerbWithItsDefaults) {
  InputCommand input;
  ASSERT_TRUE(ParseInputCommand("click 10 20", input));
  EXPECT_EQ(input.verb, InputCommand::Verb::kClick);
  EXPECT_EQ(input.at, (tavrin::draw::Point{10, 20}));
  EXPECT_EQ(input.button, PointerButton::kLeft);
  EXPECT_EQ(input.count, 1);
  ASSERT_TRUE(ParseInputCommand("click 1 2 right 9", input));
  EXPECT_EQ(input.button, PointerButton::kRight);
  EXPECT_EQ(input.count, 3);  // at most a triple click
  ASSERT_TRUE(ParseInputCommand("click 1 2 middle 0", input));
  EXPECT_EQ(input.button, PointerButton::kMiddle);
  EXPECT_EQ(input.count, 1);
  ASSERT_TRUE(ParseInputCommand("move -3 4", input));
  EXPECT_EQ(input.verb, InputCommand::Verb::kMove);
  EXPECT_EQ(input.at, (tavrin::draw::Point{-3, 4}));
  ASSERT_TRUE(ParseInputCommand("text  two spaces", input));
  EXPECT_EQ(input.text, " two spaces");  // one separating space is taken off
  ASSERT_TRUE(ParseInputCommand("key 13", input));
  EXPECT_EQ(input.key, 13);
  EXPECT_TRUE(input.press && input.release);
  ASSERT_TRUE(ParseInputCommand("key 16 down", input));
  EXPECT_TRUE(input.press && !input.release);
  ASSERT_TRUE(ParseInputCommand("key 16 up", input));
  EXPECT_TRUE(!input.press && input.release);

  EXPECT_FALSE(ParseInputCommand("click 10", input));
  EXPECT_FALSE(ParseInputCommand("key x", input));
  EXPECT_FALSE(ParseInputCommand("drag 1 2", input));
  EXPECT_FALSE(ParseInputCommand("", input));
}

TEST(InputCommandTest, PointerCommandsTakeTheDesktopsRouting) {
  Desktop desktop;
  SurfaceState state;
  state.rect = {100, 50, 300, 250};
  state.visible = true;
  SurfaceId id = desktop.Create(state);
  std::vector<std::string> got;
  desktop.SetInput(id, [&](SurfaceId, const PointerEvent& event) {
    got.push_back(std::to_string(static_cast<int>(event.kind)) + "@" + std::to_string(event.local.x) + "," +
                  std::to_string(event.local.y));
  }, nullptr);
  InputCommand input;
  ASSERT_TRUE(ParseInputCommand("click 5 6 left 2", input));
  RunPointerCommand(desktop, state.rect, input);
  ASSERT_TRUE(ParseInputCommand("move 7 8", input));
  RunPointerCommand(desktop, state.rect, input);
  EXPECT_EQ(got, (std::vector<std::string>{"1@5,6", "2@5,6", "1@5,6", "2@5,6", "0@7,8"}));
}

TEST(ListLineTest, NamesTheWindowItsClassTextRectangleAndState) {
  ListedWindow window;
  window.depth = 2;
  window.handle = 0x1234;
  window.className = "Button";
  window.id = 7;
  window.text = "OK";
  window.rect = {1, 2, 30, 40};
  window.visible = true;
  window.enabled = false;
  EXPECT_EQ(ListLine(window), "    0x1234 class=\"Button\" id=7 text=\"OK\" rect=1,2,30,40 visible=1 enabled=0");
  window.depth = 0;
  window.role = "dialog";
  EXPECT_EQ(ListLine(window), "0x1234 class=\"Button\" id=7 text=\"OK\" rect=1,2,30,40 visible=1 enabled=0 role=\"dialog\"");
}

}  // namespace
