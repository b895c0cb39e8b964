// The automation protocol for the Mac windows: each window has its record among the sysroot's windows
// (gui/sysroot_windows.h), so that outside tools find it, and a process with windows serves the window
// core's socket; a listing names each window (role, title, rectangle, state) and its views (class, tag, text), in the
// lines the Win32 side lists its windows in; screenshots and input as the core defines them. What walks
// the windows runs on the main thread, which the service's thread asks and waits for.
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>

#include "appkit_internal.h"
#include "gui/automation.h"
#include "gui/screenshot.h"
#include "gui/sysroot_windows.h"

namespace draw = tavrin::draw;
namespace gui = tavrin::gui;
namespace automation = tavrin::gui::automation;
using namespace appkit::detail;

namespace {

constexpr auto kMainThreadWait = std::chrono::seconds(2);

draw::Rect ScreenRect(NSRect inScreen) {
  const int height = gui::TheDesktop().ScreenBounds().height();
  const int left = static_cast<int>(NSMinX(inScreen)), top = height - static_cast<int>(NSMaxY(inScreen));
  return {left, top, left + static_cast<int>(inScreen.size.width), top + static_cast<int>(inScreen.size.height)};
}

std::string TextOf(NSView* view) {
  if (auto* field = dynamic_cast<NSSecureTextField*>(view)) return field->stringValue() ? std::string(field->stringValue()->length(), '*') : "";
  if (auto* control = dynamic_cast<NSControl*>(view)) return control->stringValue() ? control->stringValue()->str() : "";
  if (auto* text = dynamic_cast<NSText*>(view)) return text->string() ? text->string()->str() : "";
  return {};
}

void ListViews(NSView* view, NSWindow* window, int depth, std::vector<std::string>& lines) {
  automation::ListedWindow line;
  line.depth = depth;
  line.handle = reinterpret_cast<uintptr_t>(view);
  line.className = view->className();
  line.id = static_cast<uint64_t>(view->tag());
  line.text = TextOf(view);
  line.rect = ScreenRect(NSOffsetRect(view->FrameInWindow(), window->frame().origin.x, window->frame().origin.y));
  line.visible = window->isVisible() && !view->isHiddenOrHasHiddenAncestor();
  auto* control = dynamic_cast<NSControl*>(view);
  line.enabled = !control || control->isEnabled();
  lines.push_back(automation::ListLine(line));
  NSArray* children = view->subviews();
  for (NSUInteger i = 0; i < children->count(); ++i) ListViews(static_cast<NSView*>(children->objectAtIndex(i)), window, depth + 1, lines);
}

// Runs `work` on the main thread and waits for it (at most a while: a main thread that does not turn
// its loop does not hang the service).
template <class Work>
bool OnMain(Work work) {
  if (NSThread::isMainThread_class()) {
    work();
    return true;
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  NSRunLoop::mainRunLoop()->Enqueue([work, done] {
    work();
    done->set_value();
  }, 0);
  return finished.wait_for(kMainThreadWait) == std::future_status::ready;
}

void Type(const std::string& text, uint64_t surface) {
  auto& desktop = gui::TheDesktop();
  for (char c : text) {
    gui::KeyEvent key;
    bool shift = false;
    if (c >= 'a' && c <= 'z') key = {gui::Key::kCharacter, c - 'a' + 'A', true};
    else if (c >= 'A' && c <= 'Z') key = {gui::Key::kCharacter, c, true}, shift = true;
    else if (c >= '0' && c <= '9') key = {gui::Key::kCharacter, c, true};
    else if (c == ' ') key = {gui::Key::kSpace, 0, true};
    else continue;
    if (shift) desktop.Key({gui::Key::kShift, 0, true}, surface);
    desktop.Key(key, surface);
    key.down = false;
    desktop.Key(key, surface);
    if (shift) desktop.Key({gui::Key::kShift, 0, false}, surface);
  }
}

void Answer(const automation::Request& request, const std::string& command, automation::Reply& reply, std::string& payload) {
  switch (static_cast<automation::Op>(request.op)) {
    case automation::Op::kList: {
      std::string lines;
      if (!OnMain([&lines] {
            for (const std::string& line : appkit::ListWindows()) lines += line + "\n";
          }))
        return;
      payload = std::move(lines);
      reply.found = 1;
      return;
    }
    case automation::Op::kScreenshot: {
      std::vector<uint8_t> png;
      bool ok = false;
      auto* window = reinterpret_cast<NSWindow*>(static_cast<uintptr_t>(request.window));
      OnMain([&] {
        // Drawn first, so that what is due shows; pixels are read on the thread that draws them.
        if (request.argument) ok = gui::ScreenScreenshot(gui::TheDesktop(), png);
        else if (NSApp->windows()->containsObject(window) && (window->displayIfNeeded(), true))
          ok = gui::SurfaceScreenshot(gui::TheDesktop(), window->SurfaceId(), png);
      });
      if (!ok) return;
      payload.assign(png.begin(), png.end());
      reply.found = 1;
      return;
    }
    case automation::Op::kInput: {
      automation::InputCommand input;
      if (!automation::ParseInputCommand(command, input)) return;
      gui::SurfaceState state;
      bool known = false;
      auto* window = reinterpret_cast<NSWindow*>(static_cast<uintptr_t>(request.window));
      OnMain([&] { known = NSApp->windows()->containsObject(window) && gui::TheDesktop().State(window->SurfaceId(), state); });
      if (!known) return;
      if (input.verb == automation::InputCommand::Verb::kText) Type(input.text, window->SurfaceId());
      else automation::RunPointerCommand(gui::TheDesktop(), state.rect, input);
      reply.found = 1;
      return;
    }
  }
}

automation::Service& TheService() {
  // Never destroyed: windows may outlive static destruction.
  static auto* service = new automation::Service({.answer = Answer, .answersAlone = {}, .answerAlone = {}, .waitForEnd = {}});
  return *service;
}

}  // namespace

namespace appkit {

std::vector<std::string> ListWindows() {
  std::vector<std::string> lines;
  NSArray* windows = NSApplication::sharedApplication()->windows();
  for (NSUInteger i = 0; i < windows->count(); ++i) {
    auto* window = static_cast<NSWindow*>(windows->objectAtIndex(i));
    automation::ListedWindow line;
    line.handle = reinterpret_cast<uintptr_t>(window);
    line.className = window->className();
    line.text = window->title() ? window->title()->str() : "";
    line.rect = ScreenRect(window->frame());
    line.visible = window->isVisible();
    line.role = window->Role();
    lines.push_back(automation::ListLine(line));
    if (window->contentView()) ListViews(window->contentView(), window, 1, lines);
  }
  return lines;
}

}  // namespace appkit

namespace appkit::detail {

namespace {

std::mutex recordsLock;
std::map<NSWindow*, std::filesystem::path>& Records() {
  static auto* records = new std::map<NSWindow*, std::filesystem::path>;  // windows may outlive statics
  return *records;
}

}  // namespace

void PublishWindow(NSWindow* window) {
  const std::string title = window->title() ? window->title()->str() : "";
  std::lock_guard guard(recordsLock);
  auto [record, added] = Records().try_emplace(window);
  if (added) TheService().Acquire();  // listening before the record is seen, so a finder reaches it at once
  record->second = automation::Publish(reinterpret_cast<uintptr_t>(window), window->className(), title, record->second);
}

void UnpublishWindow(NSWindow* window) {
  {
    std::lock_guard guard(recordsLock);
    auto record = Records().find(window);
    if (record == Records().end()) return;
    automation::Unpublish(record->second);
    Records().erase(record);
  }
  TheService().Release();
}

}  // namespace appkit::detail
