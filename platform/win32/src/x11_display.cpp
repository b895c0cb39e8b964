// The X11 display: the window core's X11 presenter shows the top-level windows' surfaces, and its input
// comes back through the core's routing to the injection calls (surfaces.cpp).
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "gui/x11_presenter.h"
#include "window_internal.h"

namespace tavrin::win {
namespace {

std::mutex g_displayLock;
gui::X11Presenter* g_presenter = nullptr;
std::atomic<bool> g_presenting{false};

}  // namespace

namespace detail {
bool PresenterRunning() { return g_presenting; }
}  // namespace detail

bool StartX11Display(const std::string& name) {
  std::lock_guard guard(g_displayLock);
  if (g_presenter) return true;
  auto& desktop = gui::TheDesktop();
  detail::EnsureInputRouting();
  detail::MirrorAllSurfaces();  // windows that exist already appear as they are
  auto* presenter = new gui::X11Presenter;
  if (!presenter->Start(desktop, name)) {
    delete presenter;
    return false;
  }
  g_presenter = presenter;
  g_presenting = true;
  return true;
}

void StopDisplay() {
  std::lock_guard guard(g_displayLock);
  if (!g_presenter) return;
  g_presenting = false;
  // The presenter's thread may be sending a hit test to this very thread: sent messages are answered
  // while it finishes.
  g_presenter->Stop([] {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
  });
  delete g_presenter;
  g_presenter = nullptr;
}

bool StartDisplayFromEnvironment() {
  const char* choice = getenv("TAVRIN_DISPLAY");
  std::string mode = choice ? choice : "";
  if (mode == "headless") return false;
  const char* x = getenv("DISPLAY");
  if (mode != "x11" && !(x && *x)) return false;
  return StartX11Display({});
}

}  // namespace tavrin::win
