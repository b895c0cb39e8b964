// What the window manager, the display and the tests reach of GDI below the Win32 names: the surfaces
// behind DCs and bitmaps, the window-DC provider, and the count of live objects.
#pragma once
#include <functional>
#include <memory>

#include "draw/region.h"
#include "draw/text.h"
#include "draw/surface.h"
#include "win32/user_draw.h"

namespace tavrin::gdi {

// Where a window DC draws: `surface` (the top-level window's, or the screen's), the DC's (0, 0) at
// `origin` on it, and only inside `visible` (in DC coordinates).
struct WindowDcTarget {
  std::shared_ptr<draw::Surface> surface;
  draw::Point origin;
  draw::Region visible;
};

// Installed by the window manager. `acquire` serves GetDC (whole = false), GetWindowDC / GetDCEx with
// DCX_WINDOW (whole = true) and, for a null window, the screen. `beginPaint` fills the target and the
// record's rcPaint and fErase and validates the window; `endPaint` ends it. `released` is told when such
// a DC goes (ReleaseDC, EndPaint), with the part of the surface its drawing touched.
struct WindowDcProvider {
  std::function<bool(HWND hwnd, bool whole, WindowDcTarget& target)> acquire;
  std::function<bool(HWND hwnd, WindowDcTarget& target, PAINTSTRUCT& paint)> beginPaint;
  std::function<void(HWND hwnd, const PAINTSTRUCT& paint)> endPaint;
  std::function<void(HWND hwnd, const draw::Rect& touched)> released;
};
// Replaces the provider (an empty one: window DCs draw nowhere).
void SetWindowDcProvider(WindowDcProvider provider);

// A DC over any surface (what BeginPaint gives; for off-screen rendering in tests too). Deleted with
// DeleteDC, or ReleaseDC when `hwnd` is set.
HDC CreateSurfaceDC(const WindowDcTarget& target, HWND hwnd = nullptr);
// The surface a DC draws on and the DC's origin there; null for an unknown DC.
std::shared_ptr<draw::Surface> SurfaceOfDC(HDC hdc, draw::Point* origin = nullptr);
// A bitmap's pixels as 32-bit (a DIB section's current bits converted); null for an unknown bitmap.
std::shared_ptr<draw::Surface> SurfaceOfBitmap(HBITMAP bitmap);
// A bitmap made from a surface (32 bits per pixel), e.g. for a picture drawn by code or read from PNG.
HBITMAP CreateBitmapFromSurface(const draw::Surface& surface);

// The file a font object resolved to (family and style as the file names them); empty for an unknown font.
draw::ResolvedFace ResolvedFaceOf(HFONT font);

// The screen's size (GetSystemMetrics, GetDeviceCaps, GetDC(NULL) without a provider).
void SetScreenSize(int width, int height);

// Called after SetSysColors changed colours (the window manager sends WM_SYSCOLORCHANGE).
void SetSysColorChangeListener(std::function<void()> listener);

// Live objects made by the process of each OBJ_xxx type (stock objects and system-colour brushes not
// counted; icons and cursors counted under kIconObjects, image lists under kImageListObjects); the sum
// with type 0.
constexpr DWORD kIconObjects = 100;
constexpr DWORD kImageListObjects = 101;
size_t LiveObjectCount(DWORD type = 0);

}  // namespace tavrin::gdi
