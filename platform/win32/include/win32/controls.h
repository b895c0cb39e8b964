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
