// What the outside tools ask of a process's windows: lists, screenshots and input.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "gui/automation.h"
#include "gui/screenshot.h"
#include "gui/sysroot_windows.h"
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

std::vector<std::string> ListAllWindows() { return gui::automation::ListAllWindows(); }

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
  if (hwnd && !detail::IsForeign(hwnd)) {
    std::string bytes;
    if (!detail::ServeScreenshot(hwnd, bytes)) return false;
    png.assign(bytes.begin(), bytes.end());
    return true;
  }
  if (!hwnd) return gui::automation::Screenshot(nullptr, png);
  auto window = gui::automation::FindPublished(detail::ProcessOfWindow(hwnd), reinterpret_cast<uintptr_t>(hwnd));
  return window && gui::automation::Screenshot(&*window, png);
}

bool RemoteInput(HWND hwnd, const std::string& command) {
  if (!detail::IsForeign(hwnd)) return RunInputCommand(hwnd, command);
  auto window = gui::automation::FindPublished(detail::ProcessOfWindow(hwnd), reinterpret_cast<uintptr_t>(hwnd));
  return window && gui::automation::Input(*window, command);
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
