// What the window manager offers beyond the Win32 calls: the screen, window surfaces, input injection,
// and the joints where GDI and a display back-end attach.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "draw/surface.h"
#include "win32/user.h"

namespace tavrin::win {

// The screen the windows live on (1024x768 unless TAVRIN_SCREEN=WxH or SetScreenSize says otherwise;
// GDI's metrics follow).
RECT ScreenRect();
void SetScreenSize(int width, int height);
// Moves `hwnd`, keeping its size, so it is centred over `over`: a top-level window over `over`'s window
// rectangle (the screen when null), kept on the screen; a `child` over its parent `over`'s client area,
// kept from its left and top edges. DS_CENTER and the framework's CenterWindow both place through it.
void CenterWindowOver(HWND hwnd, HWND over, bool child = false);

// The pixels of a window (its whole rectangle, non-client area included) as they stand on its
// top-level window's surface; false for no window of this process.
bool CaptureWindow(HWND hwnd, draw::Surface& image);
// The screen composed from the visible top-level windows, bottom to top, over the desktop colour.
draw::Surface ComposeScreen();
// Paints what is due in every window of the calling thread (WM_NCPAINT, WM_ERASEBKGND, WM_PAINT).
void PaintPending();

// Told when top-level windows appear, change or go, and when their surfaces change (display back-ends).
// Called on the thread that made the change.
struct DisplaySink {
  virtual ~DisplaySink() = default;
  virtual void WindowChanged(HWND hwnd) = 0;  // shown, hidden, moved, resized, retitled, activated
  virtual void WindowDestroyed(HWND hwnd) = 0;
  virtual void SurfaceDamaged(HWND hwnd, const RECT& rect) = 0;  // rect in window coordinates
  virtual void CursorChanged() {}  // SetCursor or ShowCursor (CurrentCursorLook tells what to show)
};
void SetDisplaySink(DisplaySink* sink);
// Whether a display shows the windows (a sink is installed).
bool DisplayRunning();

// The X11 display: every visible top-level window becomes an X window of the display `name` (DISPLAY's
// when empty) and X input comes back through the injection calls below; until StopDisplay.
bool StartX11Display(const std::string& name = {});
void StopDisplay();
// The X11 display when TAVRIN_DISPLAY=x11, or when DISPLAY is set and TAVRIN_DISPLAY is not "headless".
bool StartDisplayFromEnvironment();

// Input injection, screen coordinates: the mouse goes to the capture or to the window under the point
// (hit-tested through WM_NCHITTEST), keys to the focus window; messages are posted to the window's
// thread as real input would be.
enum class MouseButton { kLeft, kRight, kMiddle };
void InjectMouseMove(int x, int y);
// `time`: when it happened (GetTickCount's clock), where known; a double click is measured by it.
void InjectMouseButton(MouseButton button, bool down, int x, int y, std::optional<DWORD> time = std::nullopt);
void InjectClick(int x, int y, MouseButton button = MouseButton::kLeft);
void InjectKey(int virtualKey, bool down);
// Key presses for each character (letters, digits, space, Enter as "\n", Tab, Escape as "\x1b").
void InjectText(const std::string& text);

// What the system does at a log-off (`lParam` ENDSESSION_LOGOFF) or shut-down, for this process's
// windows: WM_QUERYENDSESSION to each top-level window (on its own thread) until one refuses by answering
// 0, then WM_ENDSESSION to each asked window, wParam whether the session ends. True when none refused.
bool QueryEndSession(LPARAM lParam);
// The same for the processes of the sysroot that have windows: false when one of them refused (its
// process id in `refusedBy`). A process whose session ends then exits, as the system would end it.
bool EndSessionEverywhere(LPARAM lParam, DWORD* refusedBy = nullptr);

// One line per window of this process (class, id, text, rectangle, visible, enabled, a top-level window's
// role as role="window", "dialog" or "menu", and a check box's state as checked=N), children indented; a list view's rows and a status bar's panes follow their window
// as lines row="cell|cell|..." (a list's rows with their screen rectangle, rect=l,t,r,b), asked of the
// control on its own thread.
std::vector<std::string> ListWindows();

// The same of the other processes of the sysroot, over their window service: each process's list
// after a line "process PID".
std::vector<std::string> ListAllWindows();
// A PNG of a top-level window (of any process), or (null) of the screen of the first other process
// that has windows. What is due is painted first.
bool RemoteScreenshot(HWND hwnd, std::vector<uint8_t>& png);
// Input for the process owning a top-level window, coordinates relative to that window's top-left:
//   "click X Y [left|right|middle] [COUNT]", "move X Y", "text STRING", "key VK down|up"
// Keys go to the window's focus, the window brought to the front first.
bool RemoteInput(HWND hwnd, const std::string& command);
// Runs such a command in this process.
bool RunInputCommand(HWND hwnd, const std::string& command);

}  // namespace tavrin::win
