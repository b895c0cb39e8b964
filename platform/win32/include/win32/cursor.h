// The mouse cursor: the system's shapes (LoadCursor with a null instance and an IDC_ name, drawn here and
// never destroyed), the process's current cursor (SetCursor) and WM_SETCURSOR, which the window under the
// mouse gets as its thread takes a mouse move or press from the queue while no window has the capture.
// DefWindowProc answers it by asking a child's parent first, then setting the class cursor in the client
// area, a sizing arrow on a sizing border, and the arrow elsewhere. The display shows the current cursor.
#pragma once
#include "draw/surface.h"
#include "win32/gdi.h"
#include "win32/user.h"

inline const LPCSTR IDC_ARROW = reinterpret_cast<LPCSTR>(32512);
inline const LPCSTR IDC_IBEAM = reinterpret_cast<LPCSTR>(32513);
inline const LPCSTR IDC_WAIT = reinterpret_cast<LPCSTR>(32514);
inline const LPCSTR IDC_CROSS = reinterpret_cast<LPCSTR>(32515);
inline const LPCSTR IDC_UPARROW = reinterpret_cast<LPCSTR>(32516);
inline const LPCSTR IDC_SIZENWSE = reinterpret_cast<LPCSTR>(32642);
inline const LPCSTR IDC_SIZENESW = reinterpret_cast<LPCSTR>(32643);
inline const LPCSTR IDC_SIZEWE = reinterpret_cast<LPCSTR>(32644);
inline const LPCSTR IDC_SIZENS = reinterpret_cast<LPCSTR>(32645);
inline const LPCSTR IDC_SIZEALL = reinterpret_cast<LPCSTR>(32646);
inline const LPCSTR IDC_NO = reinterpret_cast<LPCSTR>(32648);
inline const LPCSTR IDC_HAND = reinterpret_cast<LPCSTR>(32649);
inline const LPCSTR IDC_APPSTARTING = reinterpret_cast<LPCSTR>(32650);
inline const LPCSTR IDC_HELP = reinterpret_cast<LPCSTR>(32651);

// The system cursor of an IDC_ name, whatever the instance (the programs hold no cursor resources of
// their own); null with ERROR_RESOURCE_NAME_NOT_FOUND for any other name.
HCURSOR LoadCursor(HINSTANCE instance, LPCSTR name);
// Makes `cursor` current (null: none shown); returns the one before.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
// Counts shows and hides; the cursor shows while the count is 0 or more. Returns the new count.
int ShowCursor(BOOL show);

namespace tavrin::win {

// What the display needs of a cursor: its system shape (for a shape of the display's own), or its
// pixels. kNone when nothing is to be shown.
enum class CursorKind { kNone, kCustom, kArrow, kIBeam, kWait, kCross, kUpArrow, kSizeNWSE, kSizeNESW, kSizeWE,
                         kSizeNS, kSizeAll, kNo, kHand, kAppStarting, kHelp };
struct CursorLook {
  CursorKind kind = CursorKind::kArrow;
  draw::Surface image;  // kCustom: 0xAARRGGBB, alpha 0 where the screen shows through
  POINT hotSpot{0, 0};
};
CursorLook CurrentCursorLook();

}  // namespace tavrin::win
