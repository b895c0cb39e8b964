// What the window manager offers beyond the Win32 calls: the screen, window surfaces, input injection,
// and the joints where GDI and a display back-end attach.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win32/user.h"

namespace tavrin::win {

// The screen the windows live on (1024x768 unless TAVRIN_SCREEN=WxH or SetScreenSize says otherwise).
SIZE ScreenSize();
void SetScreenSize(int width, int height);

// 32-bit pixels, 0x00RRGGBB, rows top-down.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// The pixels of a window (its whole rectangle, non-client area included) as they stand on its
// top-level window's surface; false for no window of this process.
bool CaptureWindow(HWND hwnd, Image& image);
// The screen composed from the visible top-level windows, bottom to top, over the desktop colour.
Image ComposeScreen();
// Paints what is due in every window of the calling thread (WM_NCPAINT, WM_ERASEBKGND, WM_PAINT).
void PaintPending();

// What a window DC draws on: the top-level surface, the origin of the DC's coordinates on it and the
// visible part as rectangles in surface coordinates.
struct DcTarget {
  HWND hwnd = nullptr;
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  POINT origin{0, 0};
  std::vector<RECT> clip;
};

// GDI makes its DCs from targets; until a provider is installed, DCs here are bare handles that draw
// nothing. `fill` paints a rectangle (DC coordinates) with a brush (or a system colour index + 1).
struct DcProvider {
  HDC (*open)(const DcTarget& target) = nullptr;
  void (*close)(HDC dc) = nullptr;
  void (*fill)(HDC dc, const RECT& rect, HBRUSH brush) = nullptr;
  // Draws the frame and caption of a window on a whole-window DC.
  void (*frame)(HDC dc, HWND hwnd, const RECT& window, const RECT& client, bool active) = nullptr;
};
void SetDcProvider(const DcProvider& provider);
const DcProvider& CurrentDcProvider();
// A DC over an image of the caller's (screen copies, WM_PRINT targets): GDI draws into image.pixels.
HDC OpenImageDc(Image& image);
void CloseImageDc(HDC dc);

// Told when top-level windows appear, change or go, and when their surfaces change (display back-ends).
struct DisplaySink {
  virtual ~DisplaySink() = default;
  virtual void WindowChanged(HWND hwnd) = 0;  // shown, hidden, moved, retitled, created
  virtual void WindowDestroyed(HWND hwnd) = 0;
  virtual void SurfaceDamaged(HWND hwnd, const RECT& rect) = 0;  // rect in window coordinates
};
void SetDisplaySink(DisplaySink* sink);

// Input injection, screen coordinates: the mouse goes to the capture or to the window under the point
// (hit-tested through WM_NCHITTEST), keys to the focus window; messages are posted to the window's
// thread as real input would be.
enum class MouseButton { kLeft, kRight, kMiddle };
void InjectMouseMove(int x, int y);
void InjectMouseButton(MouseButton button, bool down, int x, int y);
void InjectClick(int x, int y, MouseButton button = MouseButton::kLeft);
void InjectKey(int virtualKey, bool down);
// Key presses for each character (letters, digits, space, Enter as "\n", Tab, Escape as "\x1b").
void InjectText(const std::string& text);

// One line per window of this process (class, id, text, rectangle, visible, enabled), children indented.
std::vector<std::string> ListWindows();

// The same of the other processes of the sysroot, over their window service: each process's list
// after a line "process PID".
std::vector<std::string> ListAllWindows();
// A PNG of a top-level window of another process, or (null) of the screen of the first process that
// has windows.
bool RemoteScreenshot(HWND hwnd, std::vector<uint8_t>& png);
// Input for the process owning a top-level window, coordinates relative to that window's top-left:
//   "click X Y [left|right|middle] [COUNT]", "move X Y", "text STRING", "key VK down|up"
// Keys go to the window's focus, the window brought to the front first.
bool RemoteInput(HWND hwnd, const std::string& command);
// Runs such a command in this process.
bool RunInputCommand(HWND hwnd, const std::string& command);

}  // namespace tavrin::win
