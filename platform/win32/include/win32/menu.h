// Menus: HMENU objects with their items, menu resources, and the popup loop. A tracked popup is a window
// of class "#32768" owned by the calling thread; the loop runs on that thread until an item is chosen or
// the menu is dismissed, sending the owner the menu messages as it goes.
#pragma once
#include "win32/gdi.h"
#include "win32/user.h"

constexpr UINT MF_INSERT = 0x0000;
constexpr UINT MF_CHANGE = 0x0080;
constexpr UINT MF_APPEND = 0x0100;
constexpr UINT MF_DELETE = 0x0200;
constexpr UINT MF_REMOVE = 0x1000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_USECHECKBITMAPS = 0x0200;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_BITMAP = 0x0004;
constexpr UINT MF_OWNERDRAW = 0x0100;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_MENUBARBREAK = 0x0020;
constexpr UINT MF_MENUBREAK = 0x0040;
constexpr UINT MF_UNHILITE = 0x0000;
constexpr UINT MF_HILITE = 0x0080;
constexpr UINT MF_DEFAULT = 0x1000;
constexpr UINT MF_SYSMENU = 0x2000;
constexpr UINT MF_HELP = 0x4000;
constexpr UINT MF_RIGHTJUSTIFY = 0x4000;
constexpr UINT MF_MOUSESELECT = 0x8000;
constexpr UINT MF_END = 0x0080;  // last item of a level in a menu resource

constexpr UINT MFT_STRING = MF_STRING;
constexpr UINT MFT_BITMAP = MF_BITMAP;
constexpr UINT MFT_MENUBARBREAK = MF_MENUBARBREAK;
constexpr UINT MFT_MENUBREAK = MF_MENUBREAK;
constexpr UINT MFT_OWNERDRAW = MF_OWNERDRAW;
constexpr UINT MFT_RADIOCHECK = 0x0200;
constexpr UINT MFT_SEPARATOR = MF_SEPARATOR;
constexpr UINT MFT_RIGHTORDER = 0x2000;
constexpr UINT MFT_RIGHTJUSTIFY = MF_RIGHTJUSTIFY;
constexpr UINT MFS_GRAYED = 0x0003;
constexpr UINT MFS_DISABLED = MFS_GRAYED;
constexpr UINT MFS_CHECKED = MF_CHECKED;
constexpr UINT MFS_HILITE = MF_HILITE;
constexpr UINT MFS_ENABLED = MF_ENABLED;
constexpr UINT MFS_UNCHECKED = MF_UNCHECKED;
constexpr UINT MFS_UNHILITE = MF_UNHILITE;
constexpr UINT MFS_DEFAULT = MF_DEFAULT;

constexpr UINT MIIM_STATE = 0x0001;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_SUBMENU = 0x0004;
constexpr UINT MIIM_CHECKMARKS = 0x0008;
constexpr UINT MIIM_TYPE = 0x0010;
constexpr UINT MIIM_DATA = 0x0020;
constexpr UINT MIIM_STRING = 0x0040;
constexpr UINT MIIM_BITMAP = 0x0080;
constexpr UINT MIIM_FTYPE = 0x0100;

struct MENUITEMINFO {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPSTR dwTypeData;
  UINT cch;
  HBITMAP hbmpItem;
};
using LPMENUITEMINFO = MENUITEMINFO*;
using LPCMENUITEMINFO = const MENUITEMINFO*;

constexpr DWORD MIM_MAXHEIGHT = 0x00000001;
constexpr DWORD MIM_BACKGROUND = 0x00000002;
constexpr DWORD MIM_HELPID = 0x00000004;
constexpr DWORD MIM_MENUDATA = 0x00000008;
constexpr DWORD MIM_STYLE = 0x00000010;
constexpr DWORD MIM_APPLYTOSUBMENUS = 0x80000000;

struct MENUINFO {
  DWORD cbSize;
  DWORD fMask;
  DWORD dwStyle;
  UINT cyMax;
  HBRUSH hbrBack;
  DWORD dwContextHelpID;
  ULONG_PTR dwMenuData;
};
using LPMENUINFO = MENUINFO*;
using LPCMENUINFO = const MENUINFO*;

constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_VCENTERALIGN = 0x0010;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_HORIZONTAL = 0x0000;
constexpr UINT TPM_VERTICAL = 0x0040;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

// TrackPopupMenuEx's exclude rectangle (screen coordinates): a popup that does not fit the screen at its
// point moves off the screen edge beside the rectangle, never over it: across it (left of it) by
// default, above or below it with TPM_VERTICAL.
struct TPMPARAMS {
  UINT cbSize;
  RECT rcExclude;
};
using LPTPMPARAMS = TPMPARAMS*;

constexpr UINT WM_INITMENU = 0x0116;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_ENTERIDLE = 0x0121;
constexpr UINT WM_UNINITMENUPOPUP = 0x0125;
constexpr UINT MSGF_MENU = 2;
constexpr LRESULT MNC_IGNORE = 0;
constexpr LRESULT MNC_CLOSE = 1;
constexpr LRESULT MNC_EXECUTE = 2;
constexpr LRESULT MNC_SELECT = 3;

constexpr UINT SC_SIZE = 0xF000;
constexpr UINT SC_MOVE = 0xF010;
constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_MAXIMIZE = 0xF030;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT SC_RESTORE = 0xF120;
constexpr UINT SC_MOUSEMENU = 0xF090;  // the menu bar clicked (the hit code in the low bits)
constexpr UINT SC_KEYMENU = 0xF100;    // Alt, F10 or Alt+key: lParam the character, 0 for none

// An owner-drawn menu-bar item of a window that is not active.
constexpr UINT ODS_INACTIVE = 0x0080;

// The class name of popup menu windows.
inline constexpr const char* kPopupMenuClass = "#32768";

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);  // also destroys its sub-menus
BOOL IsMenu(HMENU menu);
// Menu resources (RT_MENU): the standard header, then items ended per level by MF_END.
HMENU LoadMenu(HINSTANCE instance, LPCSTR name);
HMENU LoadMenuIndirect(const void* templateBytes);
// The same with the size of the bytes known: nothing is read past it.
HMENU LoadMenuIndirectSized(const void* templateBytes, size_t size);

BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR newItem);
BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCSTR newItem);
BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCSTR newItem);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);  // a popup's menu is kept
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);  // a popup's menu is destroyed
int GetMenuItemCount(HMENU menu);                         // -1 for no menu
UINT GetMenuItemID(HMENU menu, int position);             // -1 for a popup or no item
UINT GetMenuState(HMENU menu, UINT item, UINT flags);     // 0xFFFFFFFF for no item
int GetMenuString(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);   // previous MF_CHECKED state, or -1
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);  // previous state, or -1
BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags);
BOOL HiliteMenuItem(HWND hwnd, HMENU menu, UINT item, UINT hilite);
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
UINT GetMenuDefaultItem(HMENU menu, UINT byPosition, UINT flags);
BOOL SetMenuItemBitmaps(HMENU menu, UINT position, UINT flags, HBITMAP unchecked, HBITMAP checked);
BOOL GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFO info);
BOOL SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFO info);
BOOL InsertMenuItem(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFO info);
BOOL GetMenuInfo(HMENU menu, LPMENUINFO info);
BOOL SetMenuInfo(HMENU menu, LPCMENUINFO info);

// The menu bar of a window and the window's system menu.
HMENU GetMenu(HWND hwnd);
BOOL SetMenu(HWND hwnd, HMENU menu);
BOOL DrawMenuBar(HWND hwnd);
HMENU GetSystemMenu(HWND hwnd, BOOL revert);

// Popups. The item rectangle is the one in the open popup window showing the menu (screen coordinates).
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, LPCRECT reserved2);
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params);
BOOL EndMenu();
BOOL GetMenuItemRect(HWND hwnd, HMENU menu, UINT item, LPRECT rect);
int MenuItemFromPoint(HWND hwnd, HMENU menu, POINT point);
LONG GetMenuCheckMarkDimensions();

namespace tavrin::win {
// The number of live menu handles (leak checks).
size_t LiveMenuCount();
}  // namespace tavrin::win
