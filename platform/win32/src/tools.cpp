// What the outside tools ask of a process's windows: lists, screenshots and input.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "gui/automation.h"
#include "gui/screenshot.h"
#include "window_internal.h"

namespace tavrin::win::detail {

bool ServeInput(HWND hwnd, const std::string& command) { return RunInputCommand(hwnd, command); }

}  // namespace tavrin::win::detail

namespace tavrin::win {

bool RunInputCommand(HWND hwnd, const std::string& command) {
  RECT rect{};
  if (!GetWindowRect(hwnd, &rect)) return false;
  gui::automation::InputCommand input;
  if (!gui::automation::ParseInputCommand(command, input)) return false;
  using Verb = gui::automation::InputCommand::Verb;
  if (input.verb == Verb::kClick || input.verb == Verb::kMove) {
    detail::EnsureInputRouting();
    gui::automation::RunPointerCommand(gui::TheDesktop(), detail::ToDraw(rect), input);
    return true;
  }
  HWND top = GetAncestor(hwnd, GA_ROOT);
  if (top && GetForegroundWindow() != top) SetForegroundWindow(top);
  if (input.verb == Verb::kText) {
    InjectText(input.text);
  } else {
    if (input.press) InjectKey(input.key, true);
    if (input.release) InjectKey(input.key, false);
  }
  return true;
}

std::vector<std::string> ListAllWindows() {
  std::vector<std::string> lines;
  std::vector<DWORD> seen;
  for (HWND hwnd : detail::ForeignTopLevels()) {
    DWORD pid = detail::ProcessOfWindow(hwnd);
    if (std::find(seen.begin(), seen.end(), pid) != seen.end()) continue;
    seen.push_back(pid);
    std::string text;
    if (!detail::ForeignList(hwnd, text)) continue;
    lines.push_back("process " + std::to_string(pid));
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

bool EndSessionEverywhere(LPARAM lParam, DWORD* refusedBy) {
  std::vector<DWORD> asked;
  for (HWND hwnd : detail::ForeignTopLevels()) {
    DWORD pid = detail::ProcessOfWindow(hwnd);
    if (std::find(asked.begin(), asked.end(), pid) != asked.end()) continue;
    asked.push_back(pid);
    bool agreed = true;
    if (detail::ForeignEndSession(hwnd, lParam, agreed) && !agreed) {
      if (refusedBy) *refusedBy = pid;
      return false;
    }
  }
  return true;
}

bool RemoteScreenshot(HWND hwnd, std::vector<uint8_t>& png) {
  bool screen = hwnd == nullptr;
  if (screen) {
    auto tops = detail::ForeignTopLevels();
    if (tops.empty()) return false;
    hwnd = tops.front();
  }
  std::string bytes;
  bool ok = detail::IsForeign(hwnd) ? detail::ForeignScreenshot(hwnd, screen, bytes)
                                    : detail::ServeScreenshot(screen ? nullptr : hwnd, bytes);
  if (!ok) return false;
  png.assign(bytes.begin(), bytes.end());
  return true;
}

bool RemoteInput(HWND hwnd, const std::string& command) {
  if (!detail::IsForeign(hwnd)) return RunInputCommand(hwnd, command);
  return detail::ForeignInput(hwnd, command);
}

}  // namespace tavrin::win

namespace tavrin::win::detail {

namespace {

// A copy of a window's pixels made by the window's own thread, where nothing draws meanwhile.
bool CaptureOnOwnThread(HWND hwnd, draw::Surface& image) {
  Target target;
  if (!FindTarget(hwnd, target)) return false;
  if (target.threadId == GetCurrentThreadId()) return CaptureWindow(hwnd, image);
  CaptureRequest request{&image, false};
  SendMessage(hwnd, CaptureMessage(), 0, reinterpret_cast<LPARAM>(&request));
  return request.done || CaptureWindow(hwnd, image);  // a procedure that keeps the message to itself
}

}  // namespace

bool ServeScreenshot(HWND hwnd, std::string& png) {
  std::vector<uint8_t> bytes;
  if (hwnd) {
    // What is due is painted first, by the window's own thread.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    draw::Surface image;
    if (!CaptureOnOwnThread(hwnd, image) || !gui::EncodeScreenshot(image, bytes)) return false;
  } else {
    RedrawWindow(nullptr, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    MirrorAllSurfaces();
    // Each window's pixels are copied by its own thread.
    auto source = [](const gui::SurfaceState& state, gui::SurfaceId, draw::Surface& image) {
      return CaptureOnOwnThread(reinterpret_cast<HWND>(state.handle), image);
    };
    if (!gui::ScreenScreenshot(gui::TheDesktop(), bytes, source)) return false;
  }
  png.assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace tavrin::win::detail
