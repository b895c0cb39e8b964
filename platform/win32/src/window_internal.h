// The window table shared by the files of the window manager. Its lock guards every field of every
// window; it is never held while a window procedure runs, nor while taking WaitLock() (the queues take
// the two the other way round).
#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "draw/region.h"
#include "draw/surface.h"
#include "gui/desktop.h"
#include "user_internal.h"
#include "win32/gdi_hooks.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace tavrin::win::detail {

bool RectEmpty(const RECT& rect);
RECT Intersection(const RECT& a, const RECT& b);
inline draw::Rect ToDraw(const RECT& r) { return draw::Rect{r.left, r.top, r.right, r.bottom}; }
inline RECT FromDraw(const draw::Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

struct WindowClass {
  std::string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  HBRUSH background = nullptr;
  HCURSOR cursor = nullptr;
  HICON icon = nullptr;
  ATOM atom = 0;
};

struct Window {
  HWND hwnd = nullptr;
  DWORD threadId = 0;
  std::weak_ptr<core::MessageQueue> queue;
  std::string className;
  std::shared_ptr<WindowClass> cls;
  std::string title;
  WNDPROC proc = nullptr;
  LONG_PTR userData = 0;
  DWORD style = 0;  // WS_VISIBLE, WS_DISABLED and WS_MINIMIZE included
  DWORD exStyle = 0;
  UINT_PTR id = 0;
  HWND parent = nullptr;  // child windows
  HWND owner = nullptr;   // top-level windows
  HWND lastActivePopup = nullptr;
  bool destroying = false;
  std::filesystem::path record;  // the run directory's entry of a top-level window

  RECT rect{};    // in the parent's client coordinates (the screen's for a top-level window)
  RECT client{};  // in window coordinates
  std::vector<HWND> children;  // z-order, top first
  draw::Region update;         // client coordinates
  bool erasePending = false;
  bool framePending = false;
  bool internalPaint = false;
  bool redrawOff = false;  // WM_SETREDRAW FALSE took WS_VISIBLE away for a while
  std::map<std::string, HANDLE> props;  // by upper-case name
  std::shared_ptr<draw::Surface> surface;  // top-level windows: the whole window's pixels
  gui::SurfaceId surfaceId = 0;            // top-level windows: the window core's surface holding them
  bool trayIcon = false;                   // a notification area icon's window (the shell's)
  std::optional<POINT> ownPlace;           // where it was before a display placed it elsewhere

  bool TopLevel() const { return !(style & WS_CHILD); }
  bool Visible() const { return style & WS_VISIBLE; }
  int Width() const { return rect.right - rect.left; }
  int Height() const { return rect.bottom - rect.top; }
};

struct WindowTable {
  std::mutex lock;
  std::map<HWND, std::shared_ptr<Window>> windows;  // by handle: creation order
  std::vector<HWND> topLevels;                      // z-order, top first
  std::map<std::string, std::shared_ptr<WindowClass>> classes;  // by upper-case name
  uint32_t nextSerial = 1;
  HWND foreground = nullptr;
  HWND focus = nullptr;
  HWND capture = nullptr;
};

WindowTable& Table();
std::shared_ptr<Window> Find(HWND hwnd);        // with the table lock held
std::shared_ptr<Window> FindLocked(HWND hwnd);  // takes the lock
std::string UpperName(const std::string& name);
// With the lock held, after `moved` changed its place among the top-level windows: the windows it owns
// (and theirs) come along directly above it, and every owned window stays above its owner.
void KeepOwnedAboveOwners(HWND moved);

// With the table lock held: the screen position of a window's top-left corner, of its client area's,
// and the top-level window that holds its pixels with the window's offset on that surface.
POINT ScreenOrigin(const Window& window);
POINT ClientScreenOrigin(const Window& window);
std::shared_ptr<Window> SurfaceOf(const Window& window, POINT& offset);
// With the lock held: whether the window and all its parents are visible.
bool ReallyVisible(const Window& window);
// With the lock held: ancestry and the top-level window of a window.
bool IsSelfOrDescendantLocked(HWND ancestor, HWND hwnd);
HWND RootLocked(HWND hwnd);
// With the lock held: the deepest enabled visible window under a screen point, passing over the windows
// of `passed` (those that let the mouse through) to what lies beneath them.
HWND WindowAt(POINT screen, const std::vector<HWND>& passed = {});
// Without the lock: the window under a screen point as the mouse finds it. A window that answers
// WM_NCHITTEST with HTTRANSPARENT (a label, a group box, a tip) lets it through to what lies beneath;
// only windows of the calling thread are asked unless `anyThread`. `hit` gets the last answer.
HWND WindowUnder(POINT screen, bool anyThread, LRESULT* hit);

// Calls the window's procedure after the WH_CALLWNDPROC hooks: the way of every sent message.
LRESULT SendNow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Hooks (input.cpp).
void RunCallWndProcHooks(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool fromThisThread);

// Painting (paint.cpp): marks part of a window invalid (client coordinates; null for all of it).
void Invalidate(HWND hwnd, const RECT* rect, bool erase, bool frame, bool children);
// Keeps the queue's paint list in step with the window's update state. Only a window shown with all its
// ancestors is listed: a hidden one keeps its update region and paints once it is shown.
void SyncPaintFlag(HWND hwnd);
// The same for a window and all its descendants, after its visibility changed.
void SyncPaintFlags(HWND hwnd);
void SurfaceResized(Window& window);

// Top-level windows as the window core's surfaces (surfaces.cpp): the Win32 rules decide visibility and
// z-order, the core holds the outcome, composes the screen and feeds the presenters.
// What kind of window a top-level window is ("window", "dialog", "menu"); empty for a child.
std::string RoleOf(const Window& window);
// With the lock held: a new top-level window's surface.
void CreateSurfaceLocked(Window& window);
// The core's copy of a top-level window's state and of the z-order brought up to date; presenters hear of
// it when `announce`. The window's surface; 0 for none.
gui::SurfaceId MirrorSurface(HWND topLevel, bool announce);
// The same for every top-level window, without announcing.
void MirrorAllSurfaces();
// Marks a top-level window as a notification area icon's: a display with a system tray docks it there.
void MarkTrayIcon(HWND topLevel);
// A private message that DefWindowProc answers by moving the window where the display shows it
// (wParam 1, lParam the top-left corner's packed coordinates), or back to its own place (wParam 0).
UINT PlaceMessage();
void MoveToPlace(HWND topLevel, bool placed, POINT topLeft);
// With the lock held: the core's capture and focus follow the Win32 ones (the surfaces of their
// top-level windows).
void MirrorInputLocked();
// Makes the injection calls the core's default input handlers, so that input the core routes (from a
// presenter, or an automation command) takes the Win32 road: capture, WM_NCHITTEST, the focus.
void EnsureInputRouting();
// Whether the X11 display (the core's presenter) runs.
bool PresenterRunning();
// Installs the window manager as GDI's source of window DCs (once).
void EnsureDcProvider();
void NotifyDisplayChanged(HWND hwnd);
void NotifyDisplayDestroyed(HWND hwnd);
void NotifyDamage(HWND topLevel, const RECT& rect);
void NotifyCursorChanged();

// Cursors (cursor.cpp): DefWindowProc's answer to WM_SETCURSOR.
LRESULT DefSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Input (input.cpp): a window is going; focus, capture and tracking let go of it.
void ForgetInput(HWND hwnd);
void ForgetProps(Window& window);

// A private message that DefWindowProc answers with a copy of the window's pixels, so that another
// thread of the process can have them copied where nothing draws meanwhile.
struct CaptureRequest {
  draw::Surface* image;
  bool done;
};
UINT CaptureMessage();

// The frame sizes that WM_NCCALCSIZE's default takes off a window of these styles.
RECT FrameInsets(DWORD style, DWORD exStyle);
int CaptionHeight(DWORD style, DWORD exStyle);

}  // namespace tavrin::win::detail
