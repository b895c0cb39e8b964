// The standard control classes the programs' windows use: "Button" and "Static", registered once per
// process by RegisterStandardControls (the framework's control wrappers call it before creating one).
#pragma once
#include "win32/user.h"

// Button styles (the low four bits are the type).
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_RADIOBUTTON = 0x0004;
constexpr DWORD BS_3STATE = 0x0005;
constexpr DWORD BS_AUTO3STATE = 0x0006;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_OWNERDRAW = 0x000B;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD BS_LEFT = 0x0100;
constexpr DWORD BS_RIGHT = 0x0200;
constexpr DWORD BS_CENTER = 0x0300;
constexpr DWORD BS_PUSHLIKE = 0x1000;
constexpr DWORD BS_FLAT = 0x8000;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_PUSHED = 4;
constexpr WPARAM BST_FOCUS = 8;
constexpr UINT BN_CLICKED = 0;

// Static styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;

// The next (or previous) control of the dialog group of `control` within `dialog`: groups start at a
// WS_GROUP control; hidden and disabled controls are skipped. The control itself when it is alone.
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);

namespace tavrin::controls {
// Registers "Button" and "Static" (idempotent, thread-safe).
void RegisterStandardControls();
}  // namespace tavrin::controls

// ---- Tab control ("SysTabControl32"): tabs along the top, 20 pixels high, each as wide as its caption
// (and image) plus padding; the display area below. TCS_OWNERDRAWFIXED hands each tab to the parent as
// WM_DRAWITEM (ODT_TAB); the control paints the frame.
inline constexpr char WC_TABCONTROL[] = "SysTabControl32";
constexpr DWORD TCS_OWNERDRAWFIXED = 0x2000;
constexpr DWORD TCS_EX_FLATSEPARATORS = 0x0001;
constexpr UINT ODT_TAB = 101;
constexpr UINT TCIF_TEXT = 0x0001;
constexpr UINT TCIF_IMAGE = 0x0002;
constexpr UINT TCIF_PARAM = 0x0008;
constexpr UINT TCM_FIRST = 0x1300;
constexpr UINT TCM_GETIMAGELIST = TCM_FIRST + 2;
constexpr UINT TCM_SETIMAGELIST = TCM_FIRST + 3;
constexpr UINT TCM_GETITEMCOUNT = TCM_FIRST + 4;
constexpr UINT TCM_GETITEM = TCM_FIRST + 5;
constexpr UINT TCM_SETITEM = TCM_FIRST + 6;
constexpr UINT TCM_INSERTITEM = TCM_FIRST + 7;
constexpr UINT TCM_DELETEITEM = TCM_FIRST + 8;
constexpr UINT TCM_DELETEALLITEMS = TCM_FIRST + 9;
constexpr UINT TCM_GETITEMRECT = TCM_FIRST + 10;
constexpr UINT TCM_GETCURSEL = TCM_FIRST + 11;
constexpr UINT TCM_SETCURSEL = TCM_FIRST + 12;
constexpr UINT TCM_ADJUSTRECT = TCM_FIRST + 40;
constexpr UINT TCM_SETEXTENDEDSTYLE = TCM_FIRST + 52;
constexpr UINT TCM_GETEXTENDEDSTYLE = TCM_FIRST + 53;
constexpr UINT TCN_SELCHANGE = static_cast<UINT>(-551);
constexpr UINT TCN_SELCHANGING = static_cast<UINT>(-552);

struct TCITEM {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};

namespace tavrin::controls {
// Registers "SysTabControl32" (idempotent, thread-safe).
void RegisterTabControl();
}  // namespace tavrin::controls
