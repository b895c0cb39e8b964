// The standard control classes the programs' windows use: "Button" and "Static", registered once per
// process by RegisterStandardControls (the framework's control wrappers call it before creating one).
#pragma once
#include "win32/dialog.h"
#include "win32/gdi.h"
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
constexpr DWORD SS_NOTIFY = 0x0100;  // takes the mouse; without it a static (and a group box) lets clicks through

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

// ---- Header ("SysHeader32"): one row of column items. Each paint asks the parent for custom drawing
// (NM_CUSTOMDRAW, prepaint then per item); HDF_OWNERDRAW items go to the parent as WM_DRAWITEM.
inline constexpr char WC_HEADER[] = "SysHeader32";
constexpr UINT ODT_HEADER = 100;
constexpr UINT HDI_WIDTH = 0x0001;
constexpr UINT HDI_TEXT = 0x0002;
constexpr UINT HDI_FORMAT = 0x0004;
constexpr UINT HDI_LPARAM = 0x0008;
constexpr int HDF_LEFT = 0x0000;
constexpr int HDF_RIGHT = 0x0001;
constexpr int HDF_CENTER = 0x0002;
constexpr int HDF_STRING = 0x4000;
constexpr int HDF_OWNERDRAW = 0x8000;
constexpr UINT HDM_FIRST = 0x1200;
constexpr UINT HDM_GETITEMCOUNT = HDM_FIRST + 0;
constexpr UINT HDM_INSERTITEM = HDM_FIRST + 1;
constexpr UINT HDM_DELETEITEM = HDM_FIRST + 2;
constexpr UINT HDM_GETITEM = HDM_FIRST + 3;
constexpr UINT HDM_SETITEM = HDM_FIRST + 4;
constexpr UINT HDM_HITTEST = HDM_FIRST + 6;
constexpr UINT HDM_GETITEMRECT = HDM_FIRST + 7;
constexpr UINT HHT_NOWHERE = 0x0001;
constexpr UINT HHT_ONHEADER = 0x0002;
constexpr UINT HHT_ONDIVIDER = 0x0004;
constexpr int kHeaderHeight = 20;

struct HDITEM {
  UINT mask;
  int cxy;
  LPSTR pszText;
  HBITMAP hbm;
  int cchTextMax;
  int fmt;
  LPARAM lParam;
};
struct HDHITTESTINFO {
  POINT pt;
  UINT flags;
  int iItem;
};

// Custom drawing.
constexpr UINT NM_CUSTOMDRAW = static_cast<UINT>(-12);
constexpr DWORD CDDS_PREPAINT = 0x00000001;
constexpr DWORD CDDS_ITEM = 0x00010000;
constexpr DWORD CDDS_ITEMPREPAINT = CDDS_ITEM | CDDS_PREPAINT;
constexpr LRESULT CDRF_DODEFAULT = 0x00;
constexpr LRESULT CDRF_NEWFONT = 0x02;
constexpr LRESULT CDRF_SKIPDEFAULT = 0x04;
constexpr LRESULT CDRF_NOTIFYITEMDRAW = 0x20;
struct NMCUSTOMDRAW {
  NMHDR hdr;
  DWORD dwDrawStage;
  HDC hdc;
  RECT rc;
  DWORD_PTR dwItemSpec;
  UINT uItemState;
  LPARAM lItemlParam;
};

// ---- List view ("SysListView32") in report view: a header child along the top and one text line per
// item below it, columns as wide as the header's items.
inline constexpr char WC_LISTVIEW[] = "SysListView32";
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
constexpr UINT LVM_GETHEADER = LVM_FIRST + 31;
constexpr UINT LVM_INSERTITEMA = LVM_FIRST + 7;
constexpr UINT LVM_INSERTCOLUMNA = LVM_FIRST + 27;
constexpr UINT LVM_GETITEMTEXTA = LVM_FIRST + 45;
constexpr UINT LVM_SETITEMTEXTA = LVM_FIRST + 46;
constexpr DWORD LVS_OWNERDRAWFIXED = 0x0400;
constexpr UINT ODT_LISTVIEW = 102;
constexpr int kListRowHeight = 16;
constexpr UINT LVM_GETITEMA = LVM_FIRST + 5;
constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
constexpr UINT LVM_FINDITEMA = LVM_FIRST + 13;
constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_PARAM = 0x0004;
constexpr UINT LVFI_PARAM = 0x0001;
struct LVFINDINFO {
  UINT flags;
  LPCSTR psz;
  LPARAM lParam;
  POINT pt;
  UINT vkDirection;
};
constexpr UINT LVCF_FMT = 0x0001;
constexpr UINT LVCF_WIDTH = 0x0002;
constexpr UINT LVCF_TEXT = 0x0004;
struct LVITEM {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
struct LVCOLUMN {
  UINT mask;
  int fmt;
  int cx;
  LPSTR pszText;
  int cchTextMax;
  int iSubItem;
};

// Selection, focus, hit tests, scrolling, colours, image lists and label editing of the list.
constexpr UINT LVM_GETBKCOLOR = LVM_FIRST + 0;
constexpr UINT LVM_SETBKCOLOR = LVM_FIRST + 1;
constexpr UINT LVM_GETIMAGELIST = LVM_FIRST + 2;
constexpr UINT LVM_SETIMAGELIST = LVM_FIRST + 3;
constexpr UINT LVM_SETITEMA = LVM_FIRST + 6;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
constexpr UINT LVM_GETITEMRECT = LVM_FIRST + 14;
constexpr UINT LVM_HITTEST = LVM_FIRST + 18;
constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
constexpr UINT LVM_SCROLL = LVM_FIRST + 20;
constexpr UINT LVM_REDRAWITEMS = LVM_FIRST + 21;
constexpr UINT LVM_EDITLABELA = LVM_FIRST + 23;
constexpr UINT LVM_GETEDITCONTROL = LVM_FIRST + 24;
constexpr UINT LVM_GETCOLUMNA = LVM_FIRST + 25;
constexpr UINT LVM_DELETECOLUMN = LVM_FIRST + 28;
constexpr UINT LVM_GETCOLUMNWIDTH = LVM_FIRST + 29;
constexpr UINT LVM_SETCOLUMNWIDTH = LVM_FIRST + 30;
constexpr UINT LVM_GETTEXTCOLOR = LVM_FIRST + 35;
constexpr UINT LVM_SETTEXTCOLOR = LVM_FIRST + 36;
constexpr UINT LVM_GETTEXTBKCOLOR = LVM_FIRST + 37;
constexpr UINT LVM_SETTEXTBKCOLOR = LVM_FIRST + 38;
constexpr UINT LVM_GETTOPINDEX = LVM_FIRST + 39;
constexpr UINT LVM_GETCOUNTPERPAGE = LVM_FIRST + 40;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;
constexpr UINT LVM_CANCELEDITLABEL = LVM_FIRST + 179;
constexpr UINT LVIF_IMAGE = 0x0002;
constexpr UINT LVIF_STATE = 0x0008;
constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVIS_CUT = 0x0004;
constexpr UINT LVIS_DROPHILITED = 0x0008;
constexpr UINT LVIS_OVERLAYMASK = 0x0F00;
constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT LVNI_ALL = 0x0000;
constexpr UINT LVNI_FOCUSED = 0x0001;
constexpr UINT LVNI_SELECTED = 0x0002;
constexpr UINT LVNI_DROPHILITED = 0x0008;
constexpr UINT LVHT_NOWHERE = 0x0001;
constexpr UINT LVHT_ONITEMICON = 0x0002;
constexpr UINT LVHT_ONITEMLABEL = 0x0004;
constexpr UINT LVHT_ONITEMSTATEICON = 0x0008;
constexpr UINT LVHT_ONITEM = 0x000E;
constexpr UINT LVHT_ABOVE = 0x0008;
constexpr UINT LVHT_BELOW = 0x0010;
constexpr UINT LVHT_TORIGHT = 0x0020;
constexpr UINT LVHT_TOLEFT = 0x0040;
constexpr int LVIR_BOUNDS = 0;
constexpr int LVIR_LABEL = 2;
constexpr int LVSIL_NORMAL = 0;
constexpr int LVSIL_SMALL = 1;
constexpr int LVSIL_STATE = 2;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_SHAREIMAGELISTS = 0x0040;
constexpr DWORD LVS_EDITLABELS = 0x0200;
constexpr DWORD LVS_NOSCROLL = 0x2000;
constexpr DWORD LVS_NOCOLUMNHEADER = 0x4000;
constexpr DWORD LVS_NOSORTHEADER = 0x8000;
constexpr UINT NM_CLICK = static_cast<UINT>(-2);
constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);
constexpr UINT NM_RCLICK = static_cast<UINT>(-5);
constexpr UINT NM_SETFOCUS = static_cast<UINT>(-7);
constexpr UINT NM_KILLFOCUS = static_cast<UINT>(-8);
constexpr UINT LVN_BEGINLABELEDITA = static_cast<UINT>(-105);
constexpr UINT LVN_ENDLABELEDITA = static_cast<UINT>(-106);
struct LVHITTESTINFO {
  POINT pt;
  UINT flags;
  int iItem;
  int iSubItem;
};
struct NMLVDISPINFO {
  NMHDR hdr;
  LVITEM item;
};

// Views, check boxes and custom drawing of the list. LVS_ICON lays the items out in a grid of
// kLargeIconCellWidth x kLargeIconCellHeight cells, the large image above a centred label; LVS_EX_CHECKBOXES gives each row state
// image 1 (clear) or 2 (checked), toggled by a click on the box or the space key.
constexpr DWORD LVS_ICON = 0x0000;
constexpr DWORD LVS_TYPEMASK = 0x0003;
constexpr int kLargeIconCellWidth = 76;
constexpr int kLargeIconCellHeight = 56;
constexpr int kLargeIconSize = 32;  // without a large image list; else the list's image size
constexpr int kCheckBoxWidth = 16;  // the box's column at the left of each row
constexpr int LVIR_ICON = 1;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
constexpr UINT LVM_SUBITEMHITTEST = LVM_FIRST + 57;
// Icon view: an item placed at a point keeps it (its cell's top-left); others fill the grid.
constexpr UINT LVM_SETITEMPOSITION = LVM_FIRST + 15;
constexpr UINT LVM_GETITEMPOSITION = LVM_FIRST + 16;
constexpr UINT LVM_SETITEMPOSITION32 = LVM_FIRST + 49;
constexpr DWORD LVS_EX_CHECKBOXES = 0x0004;
// Grid lines between the report's rows and columns; full-row select highlights (and hit-tests) the whole
// row, without it only the first column's cell shows the selection. The others are kept and answered.
constexpr DWORD LVS_EX_GRIDLINES = 0x0001;
constexpr DWORD LVS_EX_SUBITEMIMAGES = 0x0002;
constexpr DWORD LVS_EX_TRACKSELECT = 0x0008;
constexpr DWORD LVS_EX_HEADERDRAGDROP = 0x0010;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x0020;
constexpr DWORD LVS_EX_ONECLICKACTIVATE = 0x0040;
constexpr DWORD LVS_EX_TWOCLICKACTIVATE = 0x0080;
constexpr DWORD LVS_EX_FLATSB = 0x0100;
constexpr DWORD LVS_EX_INFOTIP = 0x0400;
constexpr DWORD LVS_EX_LABELTIP = 0x4000;
constexpr DWORD LVS_EX_DOUBLEBUFFER = 0x00010000;
constexpr DWORD LVS_SMALLICON = 0x0002;  // shown as the report's rows
constexpr DWORD LVS_LIST = 0x0003;       // likewise
constexpr DWORD LVS_AUTOARRANGE = 0x0100;
// Column formats (as the header's HDF_ alignment) and the rest of the column and item vocabulary.
constexpr int LVCFMT_LEFT = 0x0000;
constexpr int LVCFMT_RIGHT = 0x0001;
constexpr int LVCFMT_CENTER = 0x0002;
constexpr UINT LVCF_SUBITEM = 0x0008;
constexpr int LVIR_SELECTBOUNDS = 3;
constexpr UINT LVM_SETCOLUMNA = LVM_FIRST + 26;
constexpr UINT LVM_UPDATE = LVM_FIRST + 42;
constexpr UINT LVM_GETSUBITEMRECT = LVM_FIRST + 56;
constexpr UINT LVM_GETSELECTIONMARK = LVM_FIRST + 66;
constexpr UINT LVM_SETSELECTIONMARK = LVM_FIRST + 67;
// LVM_SETCOLUMNWIDTH's widths that measure: the widest text of the column, or that and its heading.
constexpr int LVSCW_AUTOSIZE = -1;
constexpr int LVSCW_AUTOSIZE_USEHEADER = -2;
constexpr UINT LVN_ITEMCHANGED = static_cast<UINT>(-101);
constexpr UINT INDEXTOSTATEIMAGEMASK(UINT index) { return index << 12; }
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
};
constexpr DWORD CDDS_SUBITEM = 0x00020000;
constexpr LRESULT CDRF_NOTIFYSUBITEMDRAW = 0x20;
constexpr UINT CDIS_SELECTED = 0x0001;
constexpr UINT CDIS_FOCUS = 0x0010;
struct NMLVCUSTOMDRAW {
  NMCUSTOMDRAW nmcd;
  COLORREF clrText;
  COLORREF clrTextBk;
  int iSubItem;
};

namespace tavrin::controls {
// Registers "SysHeader32" and "SysListView32" (idempotent, thread-safe).
void RegisterListControls();
}  // namespace tavrin::controls

// ---- Tree-control vocabulary (the tree list speaks it over its rows).
struct _TREEITEM;
using HTREEITEM = _TREEITEM*;
inline HTREEITEM const TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x10000));
inline HTREEITEM const TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x0FFFF));
inline HTREEITEM const TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x0FFFE));
inline HTREEITEM const TVI_SORT = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x0FFFD));
inline LPSTR const LPSTR_TEXTCALLBACK = reinterpret_cast<LPSTR>(static_cast<intptr_t>(-1));
constexpr UINT TVIF_TEXT = 0x0001;
constexpr UINT TVIF_IMAGE = 0x0002;
constexpr UINT TVIF_PARAM = 0x0004;
constexpr UINT TVIF_STATE = 0x0008;
constexpr UINT TVIF_HANDLE = 0x0010;
constexpr UINT TVIF_SELECTEDIMAGE = 0x0020;
constexpr UINT TVIF_CHILDREN = 0x0040;
constexpr UINT TVE_COLLAPSE = 0x0001;
constexpr UINT TVE_EXPAND = 0x0002;
constexpr UINT TVE_TOGGLE = 0x0003;
constexpr UINT TVE_COLLAPSERESET = 0x8000;
struct TVITEM {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
};

// Text collation in the manner of the multibyte code page (case-sensitive): CSTR_LESS_THAN (1),
// CSTR_EQUAL (2), CSTR_GREATER_THAN (3); 0 on bad arguments.
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;
constexpr DWORD LOCALE_USER_DEFAULT = 0x0400;
int CompareString(DWORD locale, DWORD flags, LPCSTR a, int lengthA, LPCSTR b, int lengthB);

constexpr UINT TVN_ITEMEXPANDING = static_cast<UINT>(-405);
constexpr UINT TVN_ITEMEXPANDED = static_cast<UINT>(-406);
constexpr UINT TVN_DELETEITEM = static_cast<UINT>(-409);

// Item states, navigation codes, hit-test flags and notifications of the tree vocabulary.
constexpr UINT TVIS_FOCUSED = 0x0001;
constexpr UINT TVIS_SELECTED = 0x0002;
constexpr UINT TVIS_CUT = 0x0004;
constexpr UINT TVIS_DROPHILITED = 0x0008;
constexpr UINT TVIS_EXPANDED = 0x0020;
constexpr UINT TVIS_EXPANDEDONCE = 0x0040;
constexpr UINT TVIS_OVERLAYMASK = 0x0F00;
constexpr UINT TVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT TVGN_ROOT = 0x0000;
constexpr UINT TVGN_NEXT = 0x0001;
constexpr UINT TVGN_PREVIOUS = 0x0002;
constexpr UINT TVGN_PARENT = 0x0003;
constexpr UINT TVGN_CHILD = 0x0004;
constexpr UINT TVGN_FIRSTVISIBLE = 0x0005;
constexpr UINT TVGN_NEXTVISIBLE = 0x0006;
constexpr UINT TVGN_PREVIOUSVISIBLE = 0x0007;
constexpr UINT TVGN_DROPHILITE = 0x0008;
constexpr UINT TVGN_CARET = 0x0009;
constexpr UINT TVGN_FIRSTSELECTED = 0x0030;
constexpr UINT TVGN_NEXTSELECTED = 0x0031;
constexpr UINT TVHT_NOWHERE = 0x0001;
constexpr UINT TVHT_ONITEMICON = 0x0002;
constexpr UINT TVHT_ONITEMLABEL = 0x0004;
constexpr UINT TVHT_ONITEMBUTTON = 0x0010;
constexpr UINT TVHT_ONITEMSTATEICON = 0x0040;
constexpr UINT TVHT_ABOVE = 0x0100;
constexpr UINT TVHT_BELOW = 0x0200;
constexpr UINT TVHT_TORIGHT = 0x0400;
constexpr UINT TVHT_TOLEFT = 0x0800;
struct TVHITTESTINFO {
  POINT pt;
  UINT flags;
  HTREEITEM hItem;
};
constexpr DWORD TVS_EDITLABELS = 0x0008;
constexpr DWORD TVS_SHOWSELALWAYS = 0x0020;
constexpr int TVSIL_NORMAL = 0;
constexpr int TVSIL_STATE = 2;
constexpr UINT TVN_GETDISPINFOA = static_cast<UINT>(-403);
constexpr UINT TVN_SETDISPINFOA = static_cast<UINT>(-404);
constexpr UINT TVN_BEGINLABELEDITA = static_cast<UINT>(-410);
struct TVSORTCB {
  HTREEITEM hParent;
  int (*lpfnCompare)(LPARAM, LPARAM, LPARAM);
  LPARAM lParam;
};
struct TVINSERTSTRUCT {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  TVITEM item;
};
struct NMTVDISPINFO {
  NMHDR hdr;
  TVITEM item;
};
constexpr DWORD TVS_HASBUTTONS = 0x0001;
constexpr DWORD TVS_HASLINES = 0x0002;
constexpr DWORD TVS_LINESATROOT = 0x0004;
struct NMTREEVIEW {
  NMHDR hdr;
  UINT action;
  TVITEM itemOld;
  TVITEM itemNew;
  POINT ptDrag;
};
