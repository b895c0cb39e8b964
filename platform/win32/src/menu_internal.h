// What the menu files share with each other and with the window manager: the menu bar of a top-level
// window (menu_bar.cpp) and the popup loop's side of menu-bar tracking (menu.cpp).
#pragma once
#include <string>

#include "win32/menu.h"

namespace tavrin::win::menus {

// ---- the menu bar (menu_bar.cpp) ----

// Lays out the bar of a window whose client rectangle (window coordinates) is being computed from
// `client`; returns the height the bar takes off its top (0 for no bar).
int LayoutBar(HWND hwnd, const RECT& client);
// Paints the bar on a whole-window DC.
void PaintBar(HWND hwnd, HDC dc);
// Whether a point in window coordinates lies on the bar.
bool BarContains(HWND hwnd, POINT windowPoint);
// The default handling of the messages that drive the bar (keys, non-client mouse, WM_SYSCOMMAND);
// true when the message was taken, with its result.
bool BarDefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
// The rectangle (screen coordinates) of an item of the bar `menu` of `hwnd`; false when `menu` is not it.
bool BarItemRect(HWND hwnd, HMENU menu, UINT item, RECT* rect);
// The bar item under a screen point: true when `menu` is the bar of `hwnd`, *index -1 for none.
bool BarItemFromPoint(HWND hwnd, HMENU menu, POINT screen, int* index);
// A window went: its bar state goes with it.
void ForgetBar(HWND hwnd);

// ---- menus of windows (menu.cpp) ----

// Records the menu a top-level window is created with (before its frame is computed).
void AttachBarAtCreation(HWND hwnd, HMENU menu);
// A window went: its menu bar and its system menu are destroyed with it.
void ForgetWindowMenus(HWND hwnd);
// The bar changed (SetMenu, DrawMenuBar): the frame is computed and painted again.
void BarChanged(HWND hwnd);
// EndMenu: ends a bar tracking of this thread.
bool EndBarTracking();

// ---- the popup loop's link to bar tracking (menu.cpp) ----

// How a popup opened from the bar ended.
enum class BarExit {
  kNone,
  kChosen,     // an item was chosen (the result holds it)
  kCancelled,  // a click outside everything, Alt, or the open item's bar entry clicked again
  kEscape,     // Escape on the popup itself: back to the bar with the item selected
  kLeft,       // Left on the popup itself: the previous bar item
  kRight,      // Right on an item without a popup: the next bar item
  kSwitch,     // the mouse went to another bar item (`target`)
};

struct BarLink {
  // The bar item under a screen point outside the popups: an index, -1 on the bar but on no item,
  // -2 off the bar.
  virtual int ItemAt(POINT screen) = 0;
  // The popup's WM_INITMENUPOPUP has been answered (an owner may draw the bar item's open look now).
  virtual void PopupInitialised() {}
  virtual ~BarLink() = default;
  int current = 0;      // the bar item whose popup is open
  bool sysMenu = false;  // the popup is the window's system menu
  BarExit exit = BarExit::kNone;
  int target = -1;
};

// Opens `popup` for a bar item and runs the popup loop until it ends (WM_ENTERMENULOOP and
// WM_EXITMENULOOP are the bar's). Returns the chosen command (0 for none); `link.exit` says why it ended.
UINT TrackBarPopup(HMENU popup, HWND owner, const RECT& item, bool selectFirst, BarLink& link);

// The key of an item's mnemonic ("&x", lower case; "&&" is a plain '&'), -1 for none.
int MnemonicOf(const std::string& text);

}  // namespace tavrin::win::menus
