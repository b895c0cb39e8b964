// The common controls beyond the list family: progress bar, status bar, tool tips, IP address control,
// animation control and toolbar. Each keeps its state on its window and draws itself with our GDI in
// the classic look. RegisterCommonControls registers all of them once per process.
#pragma once
#include "win32/controls.h"
#include "win32/imagelist.h"

namespace tavrin::controls {
// Registers "msctls_progress32", "msctls_statusbar32", "tooltips_class32", "SysIPAddress32",
// "SysAnimate32" and "ToolbarWindow32" (idempotent, thread-safe).
void RegisterCommonControls();
}  // namespace tavrin::controls

// Styles every common control shares.
constexpr DWORD CCS_TOP = 0x0001;
constexpr DWORD CCS_NOMOVEY = 0x0002;
constexpr DWORD CCS_BOTTOM = 0x0003;
constexpr DWORD CCS_NORESIZE = 0x0004;
constexpr DWORD CCS_NOPARENTALIGN = 0x0008;
constexpr DWORD CCS_ADJUSTABLE = 0x0020;
constexpr DWORD CCS_NODIVIDER = 0x0040;
constexpr UINT CCM_FIRST = 0x2000;
constexpr UINT CCM_SETBKCOLOR = CCM_FIRST + 1;

// ---- Header: the mouse on its items and dividers. Dragging a divider sends HDN_BEGINTRACK (a non-zero
// answer refuses), HDN_TRACK and HDN_ITEMCHANGING / HDN_ITEMCHANGED as the width follows, and HDN_ENDTRACK;
// with HDS_BUTTONS a click on an item sends HDN_ITEMCLICK; double clicks HDN_DIVIDERDBLCLICK or
// HDN_ITEMDBLCLICK.
constexpr DWORD HDS_BUTTONS = 0x0002;
constexpr UINT HDN_ITEMCHANGINGA = static_cast<UINT>(-300);
constexpr UINT HDN_ITEMCHANGEDA = static_cast<UINT>(-301);
constexpr UINT HDN_ITEMCLICKA = static_cast<UINT>(-302);
constexpr UINT HDN_ITEMDBLCLICKA = static_cast<UINT>(-303);
constexpr UINT HDN_DIVIDERDBLCLICKA = static_cast<UINT>(-305);
constexpr UINT HDN_BEGINTRACKA = static_cast<UINT>(-306);
constexpr UINT HDN_ENDTRACKA = static_cast<UINT>(-307);
constexpr UINT HDN_TRACKA = static_cast<UINT>(-308);
constexpr UINT HDN_ITEMCHANGING = HDN_ITEMCHANGINGA;
constexpr UINT HDN_ITEMCHANGED = HDN_ITEMCHANGEDA;
constexpr UINT HDN_ITEMCLICK = HDN_ITEMCLICKA;
constexpr UINT HDN_ITEMDBLCLICK = HDN_ITEMDBLCLICKA;
constexpr UINT HDN_DIVIDERDBLCLICK = HDN_DIVIDERDBLCLICKA;
constexpr UINT HDN_BEGINTRACK = HDN_BEGINTRACKA;
constexpr UINT HDN_ENDTRACK = HDN_ENDTRACKA;
constexpr UINT HDN_TRACK = HDN_TRACKA;
struct NMHEADER {
  NMHDR hdr;
  int iItem;
  int iButton;  // 0 left
  HDITEM* pitem;
};
namespace tavrin::controls::detail {
// The header's mouse handling; true when the message was taken (its result in `result`).
bool HeaderMouse(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
}  // namespace tavrin::controls::detail

// ---- Tab control: tabs along the bottom edge.
constexpr DWORD TCS_BOTTOM = 0x0002;

// ---- Progress bar: a sunken well filled with blocks (or one smooth bar with PBS_SMOOTH).
inline constexpr char PROGRESS_CLASS[] = "msctls_progress32";
constexpr DWORD PBS_SMOOTH = 0x01;
constexpr DWORD PBS_VERTICAL = 0x04;
constexpr UINT PBM_SETRANGE = WM_USER + 1;  // lParam MAKELPARAM(low, high); old range back the same way
constexpr UINT PBM_SETPOS = WM_USER + 2;    // old position back
constexpr UINT PBM_DELTAPOS = WM_USER + 3;
constexpr UINT PBM_SETSTEP = WM_USER + 4;
constexpr UINT PBM_STEPIT = WM_USER + 5;  // past the top the position starts again at the bottom
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
constexpr UINT PBM_GETRANGE = WM_USER + 7;  // wParam TRUE: the low end; lParam PBRANGE* or null
constexpr UINT PBM_GETPOS = WM_USER + 8;
constexpr UINT PBM_SETBARCOLOR = WM_USER + 9;
constexpr UINT PBM_SETBKCOLOR = CCM_SETBKCOLOR;
struct PBRANGE {
  int iLow;
  int iHigh;
};

// ---- Status bar: parts along the bottom of the parent, each a sunken field with its text.
inline constexpr char STATUSCLASSNAME[] = "msctls_statusbar32";
constexpr DWORD SBARS_SIZEGRIP = 0x0100;
constexpr UINT SB_SETTEXTA = WM_USER + 1;  // wParam part | type; lParam the text
constexpr UINT SB_GETTEXTA = WM_USER + 2;  // MAKELPARAM(length, type)
constexpr UINT SB_GETTEXTLENGTHA = WM_USER + 3;
constexpr UINT SB_SETPARTS = WM_USER + 4;  // wParam count (at most 256); lParam right edges, -1 = to the end
constexpr UINT SB_GETPARTS = WM_USER + 6;
constexpr UINT SB_GETBORDERS = WM_USER + 7;
constexpr UINT SB_SETMINHEIGHT = WM_USER + 8;
constexpr UINT SB_SIMPLE = WM_USER + 9;
constexpr UINT SB_GETRECT = WM_USER + 10;
constexpr UINT SB_ISSIMPLE = WM_USER + 14;
constexpr UINT SB_SETBKCOLOR = CCM_SETBKCOLOR;
constexpr UINT SB_SETTEXT = SB_SETTEXTA;
constexpr UINT SB_GETTEXT = SB_GETTEXTA;
constexpr UINT SB_GETTEXTLENGTH = SB_GETTEXTLENGTHA;
constexpr WPARAM SB_SIMPLEID = 0xFF;
constexpr UINT SBT_OWNERDRAW = 0x1000;
constexpr UINT SBT_NOBORDERS = 0x0100;
constexpr UINT SBT_POPOUT = 0x0200;
constexpr int kStatusBarHeight = 20;
constexpr int kSizeGripWidth = 14;

// ---- Tool tips: a pop-up that shows a tool's text once the mouse has rested on the tool for the
// initial delay, and hides again after the auto-pop delay or when the mouse leaves or clicks.
inline constexpr char TOOLTIPS_CLASS[] = "tooltips_class32";
constexpr DWORD TTS_ALWAYSTIP = 0x01;
constexpr DWORD TTS_NOPREFIX = 0x02;
constexpr UINT TTF_IDISHWND = 0x0001;
constexpr UINT TTF_CENTERTIP = 0x0002;
constexpr UINT TTF_SUBCLASS = 0x0010;
constexpr UINT TTF_TRACK = 0x0020;
constexpr UINT TTF_ABSOLUTE = 0x0080;
constexpr UINT TTF_TRANSPARENT = 0x0100;
constexpr WPARAM TTDT_AUTOMATIC = 0;
constexpr WPARAM TTDT_RESHOW = 1;
constexpr WPARAM TTDT_AUTOPOP = 2;
constexpr WPARAM TTDT_INITIAL = 3;
constexpr UINT TTM_ACTIVATE = WM_USER + 1;
constexpr UINT TTM_SETDELAYTIME = WM_USER + 3;
constexpr UINT TTM_ADDTOOLA = WM_USER + 4;
constexpr UINT TTM_DELTOOLA = WM_USER + 5;
constexpr UINT TTM_NEWTOOLRECTA = WM_USER + 6;
constexpr UINT TTM_RELAYEVENT = WM_USER + 7;
constexpr UINT TTM_GETTOOLINFOA = WM_USER + 8;
constexpr UINT TTM_SETTOOLINFOA = WM_USER + 9;
constexpr UINT TTM_HITTESTA = WM_USER + 10;
constexpr UINT TTM_GETTEXTA = WM_USER + 11;
constexpr UINT TTM_UPDATETIPTEXTA = WM_USER + 12;
constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;
constexpr UINT TTM_GETCURRENTTOOLA = WM_USER + 15;
constexpr UINT TTM_SETTIPBKCOLOR = WM_USER + 19;
constexpr UINT TTM_SETTIPTEXTCOLOR = WM_USER + 20;
constexpr UINT TTM_GETDELAYTIME = WM_USER + 21;
constexpr UINT TTM_SETMAXTIPWIDTH = WM_USER + 24;
constexpr UINT TTM_GETMAXTIPWIDTH = WM_USER + 25;
constexpr UINT TTM_POP = WM_USER + 28;
constexpr UINT TTM_ADDTOOL = TTM_ADDTOOLA;
constexpr UINT TTM_DELTOOL = TTM_DELTOOLA;
constexpr UINT TTM_UPDATETIPTEXT = TTM_UPDATETIPTEXTA;
constexpr UINT TTM_GETTEXT = TTM_GETTEXTA;
constexpr UINT TTM_NEWTOOLRECT = TTM_NEWTOOLRECTA;
constexpr UINT TTN_GETDISPINFOA = static_cast<UINT>(-520);
constexpr UINT TTN_NEEDTEXTA = TTN_GETDISPINFOA;
constexpr UINT TTN_NEEDTEXT = TTN_NEEDTEXTA;
constexpr UINT TTN_SHOW = static_cast<UINT>(-521);
constexpr UINT TTN_POP = static_cast<UINT>(-522);
struct TOOLINFO {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;     // the window that holds the tool (and hears TTN_* notifications)
  UINT_PTR uId;  // the tool's id, or its window with TTF_IDISHWND
  RECT rect;     // in hwnd's client coordinates; unused with TTF_IDISHWND
  HINSTANCE hinst;
  LPSTR lpszText;  // text, a string resource id (with hinst), or LPSTR_TEXTCALLBACK
  LPARAM lParam;
};
using TTTOOLINFO = TOOLINFO;
struct TTHITTESTINFO {
  HWND hwnd;
  POINT pt;
  TOOLINFO ti;
};
struct NMTTDISPINFO {
  NMHDR hdr;  // idFrom: the tool's uId
  LPSTR lpszText;
  char szText[80];
  HINSTANCE hinst;
  UINT uFlags;
  LPARAM lParam;
};
using TOOLTIPTEXT = NMTTDISPINFO;

// ---- IP address control: four fields of 0-255 separated by dots, edited with digits ('.' moves on).
inline constexpr char WC_IPADDRESS[] = "SysIPAddress32";
constexpr UINT IPM_CLEARADDRESS = WM_USER + 100;
constexpr UINT IPM_SETADDRESS = WM_USER + 101;
constexpr UINT IPM_GETADDRESS = WM_USER + 102;  // the number of non-blank fields
constexpr UINT IPM_SETRANGE = WM_USER + 103;
constexpr UINT IPM_SETFOCUS = WM_USER + 104;
constexpr UINT IPM_ISBLANK = WM_USER + 105;
constexpr UINT IPN_FIELDCHANGED = static_cast<UINT>(-860);
constexpr UINT EN_CHANGE_IP = 0x0300;  // EN_CHANGE to the parent when any field's text changes
struct NMIPADDRESS {
  NMHDR hdr;
  int iField;
  int iValue;  // -1 for a blank field; the parent may change it
};
constexpr DWORD MAKEIPADDRESS(DWORD b1, DWORD b2, DWORD b3, DWORD b4) {
  return (b1 << 24) | ((b2 & 0xFF) << 16) | ((b3 & 0xFF) << 8) | (b4 & 0xFF);
}
constexpr LPARAM MAKEIPRANGE(BYTE low, BYTE high) { return static_cast<LPARAM>((static_cast<WORD>(high) << 8) | low); }
constexpr int FIRST_IPADDRESS(DWORD a) { return static_cast<int>((a >> 24) & 0xFF); }
constexpr int SECOND_IPADDRESS(DWORD a) { return static_cast<int>((a >> 16) & 0xFF); }
constexpr int THIRD_IPADDRESS(DWORD a) { return static_cast<int>((a >> 8) & 0xFF); }
constexpr int FOURTH_IPADDRESS(DWORD a) { return static_cast<int>(a & 0xFF); }

// ---- Animation control: plays the frames of an uncompressed AVI clip (a resource of type "AVI" or a
// file) on a timer at the clip's frame rate.
inline constexpr char ANIMATE_CLASS[] = "SysAnimate32";
constexpr DWORD ACS_CENTER = 0x0001;
constexpr DWORD ACS_TRANSPARENT = 0x0002;
constexpr DWORD ACS_AUTOPLAY = 0x0004;
constexpr DWORD ACS_TIMER = 0x0008;
constexpr UINT ACM_OPENA = WM_USER + 100;  // wParam instance; lParam the clip's name or resource id; null closes
constexpr UINT ACM_PLAY = WM_USER + 101;   // wParam repeats (-1 without end); lParam MAKELPARAM(from, to), to -1: last
constexpr UINT ACM_STOP = WM_USER + 102;
constexpr UINT ACM_ISPLAYING = WM_USER + 104;
constexpr UINT ACM_OPEN = ACM_OPENA;
constexpr UINT ACN_START = 1;  // WM_COMMAND codes to the parent
constexpr UINT ACN_STOP = 2;
inline const LPCSTR RT_AVI_TYPE = "AVI";

// ---- Toolbar: a row of buttons with images from an image list; a click sends WM_COMMAND to the parent.
inline constexpr char TOOLBARCLASSNAME[] = "ToolbarWindow32";
constexpr DWORD TBSTYLE_TOOLTIPS = 0x0100;
constexpr DWORD TBSTYLE_WRAPABLE = 0x0200;
constexpr DWORD TBSTYLE_FLAT = 0x0800;
constexpr DWORD TBSTYLE_LIST = 0x1000;
constexpr DWORD TBSTYLE_TRANSPARENT = 0x8000;
constexpr BYTE TBSTYLE_BUTTON = 0x00;
constexpr BYTE TBSTYLE_SEP = 0x01;
constexpr BYTE TBSTYLE_CHECK = 0x02;
constexpr BYTE TBSTYLE_GROUP = 0x04;
constexpr BYTE TBSTYLE_CHECKGROUP = TBSTYLE_GROUP | TBSTYLE_CHECK;
constexpr BYTE TBSTYLE_DROPDOWN = 0x08;
constexpr BYTE TBSTYLE_AUTOSIZE = 0x10;
constexpr DWORD TBSTYLE_EX_DRAWDDARROWS = 0x0001;
constexpr BYTE TBSTATE_CHECKED = 0x01;
constexpr BYTE TBSTATE_PRESSED = 0x02;
constexpr BYTE TBSTATE_ENABLED = 0x04;
constexpr BYTE TBSTATE_HIDDEN = 0x08;
constexpr BYTE TBSTATE_INDETERMINATE = 0x10;
constexpr BYTE TBSTATE_WRAP = 0x20;
constexpr UINT TB_ENABLEBUTTON = WM_USER + 1;
constexpr UINT TB_CHECKBUTTON = WM_USER + 2;
constexpr UINT TB_PRESSBUTTON = WM_USER + 3;
constexpr UINT TB_HIDEBUTTON = WM_USER + 4;
constexpr UINT TB_ISBUTTONENABLED = WM_USER + 9;
constexpr UINT TB_ISBUTTONCHECKED = WM_USER + 10;
constexpr UINT TB_ISBUTTONPRESSED = WM_USER + 11;
constexpr UINT TB_ISBUTTONHIDDEN = WM_USER + 12;
constexpr UINT TB_SETSTATE = WM_USER + 17;
constexpr UINT TB_GETSTATE = WM_USER + 18;
constexpr UINT TB_ADDBITMAP = WM_USER + 19;
constexpr UINT TB_ADDBUTTONSA = WM_USER + 20;
constexpr UINT TB_INSERTBUTTONA = WM_USER + 21;
constexpr UINT TB_DELETEBUTTON = WM_USER + 22;
constexpr UINT TB_GETBUTTON = WM_USER + 23;
constexpr UINT TB_BUTTONCOUNT = WM_USER + 24;
constexpr UINT TB_COMMANDTOINDEX = WM_USER + 25;
constexpr UINT TB_GETITEMRECT = WM_USER + 29;
constexpr UINT TB_BUTTONSTRUCTSIZE = WM_USER + 30;
constexpr UINT TB_SETBUTTONSIZE = WM_USER + 31;
constexpr UINT TB_SETBITMAPSIZE = WM_USER + 32;
constexpr UINT TB_AUTOSIZE = WM_USER + 33;
constexpr UINT TB_GETTOOLTIPS = WM_USER + 35;
constexpr UINT TB_SETTOOLTIPS = WM_USER + 36;
constexpr UINT TB_SETPARENT = WM_USER + 37;
constexpr UINT TB_SETINDENT = WM_USER + 47;  // room before the first button
constexpr UINT TB_SETIMAGELIST = WM_USER + 48;
constexpr UINT TB_GETIMAGELIST = WM_USER + 49;
constexpr UINT TB_GETRECT = WM_USER + 51;  // wParam command id
constexpr UINT TB_SETHOTIMAGELIST = WM_USER + 52;
constexpr UINT TB_GETHOTIMAGELIST = WM_USER + 53;
constexpr UINT TB_SETDISABLEDIMAGELIST = WM_USER + 54;
constexpr UINT TB_GETDISABLEDIMAGELIST = WM_USER + 55;
constexpr UINT TB_GETBUTTONSIZE = WM_USER + 58;
constexpr UINT TB_GETHOTITEM = WM_USER + 71;
constexpr UINT TB_HITTEST = WM_USER + 69;
constexpr UINT TB_SETEXTENDEDSTYLE = WM_USER + 84;
constexpr UINT TB_GETEXTENDEDSTYLE = WM_USER + 85;
constexpr UINT TB_ADDBUTTONS = TB_ADDBUTTONSA;
constexpr UINT TB_INSERTBUTTON = TB_INSERTBUTTONA;
constexpr UINT TBN_DROPDOWN = static_cast<UINT>(-710);
constexpr UINT TBN_HOTITEMCHANGE = static_cast<UINT>(-713);
constexpr LRESULT TBDDRET_DEFAULT = 0;
struct TBBUTTON {
  int iBitmap;  // image index; a separator's width
  int idCommand;
  BYTE fsState;
  BYTE fsStyle;
  BYTE bReserved[6];
  DWORD_PTR dwData;
  intptr_t iString;
};
struct TBADDBITMAP {
  HINSTANCE hInst;  // null: nID is a bitmap handle
  UINT_PTR nID;
};
struct NMTBHOTITEM {
  NMHDR hdr;
  int idOld;  // command ids; -1 for none
  int idNew;
  DWORD dwFlags;
};
struct NMTOOLBAR {
  NMHDR hdr;
  int iItem;  // the command id
  TBBUTTON tbButton;
  int cchText;
  LPSTR pszText;
  RECT rcButton;
};
