// Combo boxes (drop lists), list boxes and scroll bars: their lines, selections and notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/controls.h"
#include "win32/gdi_hooks.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

struct Event {
  UINT message;
  int id;
  UINT code;
  int pos;
};
std::vector<Event>* g_events = nullptr;

LRESULT CALLBACK Recorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_events && message == WM_COMMAND) g_events->push_back({message, LOWORD(wParam), HIWORD(wParam), 0});
  if (g_events && (message == WM_VSCROLL || message == WM_HSCROLL))
    g_events->push_back({message, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), LOWORD(wParam),
                         static_cast<short>(HIWORD(wParam))});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

void Pump() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
}

struct ListControls : ::testing::Test {
  void SetUp() override {
    tavrin::controls::RegisterStandardControls();
    g_events = &events;
    tavrin::win::WindowSpec spec;
    spec.className = "ListControlsParent";
    spec.proc = Recorder;
    spec.style = WS_POPUP | WS_VISIBLE;
    spec.x = 100, spec.y = 100, spec.width = 300, spec.height = 250;
    parent = tavrin::win::CreateWindowObject(spec);
    ASSERT_NE(parent, nullptr);
  }
  void TearDown() override {
    DestroyWindow(parent);
    g_events = nullptr;
  }
  HWND Make(const char* cls, DWORD style, int x, int y, int w, int h, int id) {
    return CreateWindowEx(0, cls, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, w, h, parent,
                          reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  }
  int Count(UINT code, int id) const {
    int n = 0;
    for (auto& e : events) n += (e.message == WM_COMMAND && e.code == code && e.id == id);
    return n;
  }
  std::vector<Event> events;
  HWND parent = nullptr;
};

std::string WindowText(HWND hwnd) {
  char text[128] = {};
  GetWindowText(hwnd, text, sizeof text);
  return text;
}

TEST_F(ListControls, DropListKeepsSortedLinesAndReportsUserChangesOnly) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST | CBS_SORT, 10, 10, 120, 150, 7);
  ASSERT_NE(combo, nullptr);
  RECT rc;
  GetWindowRect(combo, &rc);
  EXPECT_LT(rc.bottom - rc.top, 40) << "the made height is the dropped list's";
  EXPECT_EQ(SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Static")), 0);
  EXPECT_EQ(SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("DHCP")), 0);
  EXPECT_EQ(SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Manual")), 1);
  EXPECT_EQ(SendMessage(combo, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessage(combo, CB_SETCURSEL, 2, 0), 2);
  EXPECT_EQ(WindowText(combo), "Static");
  char line[32];
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(line)), 6);
  EXPECT_STREQ(line, "Manual");
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXT, 5, reinterpret_cast<LPARAM>(line)), CB_ERR);
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXTLEN, 0, 0), 4);
  EXPECT_EQ(SendMessage(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("dhcp")), 0);
  EXPECT_EQ(SendMessage(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("Ma")), 1);
  EXPECT_EQ(Count(CBN_SELCHANGE, 7), 0) << "changes by the program are not reported";

  // Keys move the selection and report it; past the end nothing changes.
  SendMessage(combo, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2);
  SendMessage(combo, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(Count(CBN_SELCHANGE, 7), 1);
  SendMessage(combo, WM_CHAR, 'd', 0);  // type-ahead
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Count(CBN_SELCHANGE, 7), 2);

  // Items carry data; deleting the selected line clears the selection.
  SendMessage(combo, CB_SETITEMDATA, 1, 77);
  EXPECT_EQ(SendMessage(combo, CB_GETITEMDATA, 1, 0), 77);
  EXPECT_EQ(SendMessage(combo, CB_DELETESTRING, 0, 0), 2);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(WindowText(combo), "");
  EXPECT_EQ(SendMessage(combo, CB_GETITEMDATA, 0, 0), 77) << "data moves with its line";
  EXPECT_EQ(SendMessage(combo, CB_SETCURSEL, 9, 0), CB_ERR);
  SendMessage(combo, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCOUNT, 0, 0), 0);
  DestroyWindow(combo);
}

TEST_F(ListControls, DroppedListPicksWithTheMouseAndCancelsOutside) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST, 10, 10, 120, 150, 8);
  for (const char* s : {"Static", "DHCP", "Other"}) SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SendMessage(combo, CB_SETCURSEL, 0, 0);
  SetFocus(combo);
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  ASSERT_TRUE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(Count(CBN_DROPDOWN, 8), 1);
  RECT dropped;
  SendMessage(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
  RECT field;
  GetWindowRect(combo, &field);
  EXPECT_EQ(dropped.top, field.bottom);
  int line = (dropped.bottom - dropped.top - 2) / 3;
  ASSERT_GT(line, 5);
  // A click on the second line picks it.
  tavrin::win::InjectClick(dropped.left + 10, dropped.top + 1 + line + line / 2);
  Pump();
  EXPECT_FALSE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(Count(CBN_SELCHANGE, 8), 1);
  EXPECT_EQ(Count(CBN_SELENDOK, 8), 1);
  EXPECT_EQ(Count(CBN_CLOSEUP, 8), 1);

  // A click elsewhere closes it unchosen.
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  tavrin::win::InjectClick(field.right + 50, field.top);
  Pump();
  EXPECT_FALSE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(Count(CBN_SELENDCANCEL, 8), 1);
  EXPECT_EQ(GetCapture(), nullptr);

  // Keys: the arrow moves within the dropped list; Enter takes it, Escape would not.
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessage(combo, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(Count(CBN_SELCHANGE, 8), 1) << "not while the list is down";
  MSG enter{combo, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  EXPECT_TRUE(SendMessage(combo, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&enter)) & DLGC_WANTALLKEYS);
  SendMessage(combo, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Count(CBN_SELCHANGE, 8), 2);
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessage(combo, WM_KEYDOWN, VK_UP, 0);
  SendMessage(combo, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2);
  // Losing the focus closes the list.
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  SetFocus(parent);
  EXPECT_FALSE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  DestroyWindow(combo);
}

TEST_F(ListControls, ListBoxLinesSelectionAndNotifications) {
  HWND quiet = Make("ListBox", WS_BORDER, 10, 10, 100, 100, 20);
  HWND list = Make("ListBox", LBS_NOTIFY | WS_BORDER, 150, 10, 100, 100, 21);
  for (const char* s : {"alpha", "beta", "gamma", "beach"}) {
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendMessage(quiet, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  }
  EXPECT_EQ(SendMessage(list, LB_INSERTSTRING, 1, reinterpret_cast<LPARAM>("first")), 1);
  EXPECT_EQ(SendMessage(list, LB_INSERTSTRING, 99, reinterpret_cast<LPARAM>("x")), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(SendMessage(list, LB_FINDSTRING, 2, reinterpret_cast<LPARAM>("be")), 4) << "searches after the start";
  EXPECT_EQ(SendMessage(list, LB_FINDSTRING, 4, reinterpret_cast<LPARAM>("be")), 2) << "and wraps";
  EXPECT_EQ(SendMessage(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("be")), LB_ERR);
  char text[32];
  EXPECT_EQ(SendMessage(list, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(text)), 5);
  EXPECT_STREQ(text, "gamma");
  EXPECT_EQ(SendMessage(list, LB_GETTEXT, 7, reinterpret_cast<LPARAM>(text)), LB_ERR);

  // Clicks and keys change the selection and, with LBS_NOTIFY, report it.
  RECT item;
  SendMessage(list, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item));
  SendMessage(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, (item.top + item.bottom) / 2));
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(GetFocus(), list);
  SendMessage(list, WM_KEYDOWN, VK_DOWN, 0);
  SendMessage(list, WM_KEYDOWN, VK_END, 0);
  SendMessage(list, WM_KEYDOWN, VK_END, 0);  // no change, no report
  EXPECT_EQ(Count(LBN_SELCHANGE, 21), 3);
  SendMessage(list, LB_SETCURSEL, 0, 0);
  EXPECT_EQ(Count(LBN_SELCHANGE, 21), 3) << "not for the program's own change";
  SendMessage(quiet, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessage(quiet, LB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Count(LBN_SELCHANGE, 20), 0);
  // Deleting lines above the selection keeps it on its line.
  SendMessage(list, LB_SETCURSEL, 3, 0);
  EXPECT_EQ(SendMessage(list, LB_DELETESTRING, 0, 0), 4);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendMessage(list, LB_DELETESTRING, 9, 0), LB_ERR);
  DestroyWindow(list);
  DestroyWindow(quiet);
}

// The codes of a control's WM_COMMANDs in the order they came.
std::vector<UINT> Codes(const std::vector<Event>& events, int id) {
  std::vector<UINT> codes;
  for (auto& e : events)
    if (e.message == WM_COMMAND && e.id == id) codes.push_back(e.code);
  return codes;
}

HFONT LargeFont() {
  return CreateFont(-24, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "DejaVu Sans");
}

TEST_F(ListControls, DropListFollowsItsTextKeysAndReportsACloseInOrder) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST, 10, 10, 120, 150, 9);
  for (const char* s : {"Static", "DHCP", "Other"}) SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  // The window text selects the line that equals it, and only such a line.
  EXPECT_EQ(SendMessage(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("dhcp")), TRUE);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(WindowText(combo), "DHCP");
  EXPECT_EQ(SendMessage(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("none")), CB_ERR);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessage(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("First")), 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2) << "the selection moves with its line";
  EXPECT_EQ(SendMessage(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("oth")), 3);
  EXPECT_EQ(WindowText(combo), "Other");

  // F4 drops the list, which takes lines added meanwhile; Alt+Down closes it taking its line.
  SetFocus(parent);
  events.clear();
  SendMessage(combo, WM_KEYDOWN, VK_F1 + 3, 0);
  ASSERT_TRUE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  HWND list = GetCapture();
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list, combo);
  EXPECT_EQ(SendMessage(list, LB_GETCOUNT, 0, 0), 4);
  EXPECT_EQ(SendMessage(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("Last")), 4);
  EXPECT_EQ(SendMessage(list, LB_GETCOUNT, 0, 0), 5);
  SendMessage(combo, WM_KEYDOWN, VK_UP, 0);
  SendMessage(combo, WM_SYSKEYDOWN, VK_DOWN, 0);
  EXPECT_FALSE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Codes(events, 9), (std::vector<UINT>{CBN_DROPDOWN, CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}));

  // Disabled, it closes unchosen.
  SendMessage(combo, WM_SYSKEYDOWN, VK_UP, 0);
  ASSERT_TRUE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  SendMessage(combo, WM_KEYDOWN, VK_UP, 0);
  events.clear();
  EnableWindow(combo, FALSE);
  EXPECT_FALSE(SendMessage(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Codes(events, 9), (std::vector<UINT>{CBN_SELENDCANCEL, CBN_CLOSEUP}));
  EnableWindow(combo, TRUE);

  // A larger font makes a taller field.
  RECT before;
  GetWindowRect(combo, &before);
  HFONT font = LargeFont();
  SendMessage(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EXPECT_EQ(SendMessage(combo, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
  RECT after;
  GetWindowRect(combo, &after);
  EXPECT_GT(after.bottom - after.top, before.bottom - before.top);

  // Going while dropped takes its list along.
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  list = GetCapture();
  ASSERT_TRUE(IsWindow(list));
  DestroyWindow(combo);
  EXPECT_FALSE(IsWindow(list));
  DeleteObject(font);
}

TEST_F(ListControls, ListBoxScrollsPagesTypesAheadAndReportsDoubleClicks) {
  HWND list = Make("ListBox", LBS_NOTIFY, 10, 10, 100, 100, 22);
  for (char c = 'a'; c < 'a' + 20; ++c) {
    std::string line = std::string(1, c) + " line";
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  const int h = static_cast<int>(SendMessage(list, LB_GETITEMHEIGHT, 0, 0));
  ASSERT_GT(h, 5);
  const int rows = 100 / h;
  ASSERT_LT(rows, 19);
  EXPECT_EQ(SendMessage(list, LB_SETTOPINDEX, 5, 0), LB_OKAY);
  EXPECT_EQ(SendMessage(list, LB_GETTOPINDEX, 0, 0), 5);
  EXPECT_EQ(SendMessage(list, LB_SETTOPINDEX, 20, 0), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(5, h + h / 2)), MAKELPARAM(6, 0));
  EXPECT_EQ(SendMessage(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(5, 150)), MAKELPARAM(19, 1)) << "outside";
  SendMessage(list, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
  EXPECT_EQ(SendMessage(list, LB_GETTOPINDEX, 0, 0), 8);

  // Selecting scrolls the line into view; the page keys move by what is shown.
  EXPECT_EQ(SendMessage(list, LB_SETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendMessage(list, LB_GETTOPINDEX, 0, 0), 0);
  SendMessage(list, WM_KEYDOWN, VK_NEXT, 0);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), rows - 1);
  SendMessage(list, WM_KEYDOWN, VK_PRIOR, 0);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), 0);
  SendMessage(list, WM_CHAR, 'c', 0);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendMessage(list, LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("E")), 4);
  EXPECT_EQ(Codes(events, 22), (std::vector<UINT>{LBN_SELCHANGE, LBN_SELCHANGE, LBN_SELCHANGE}))
      << "the program's own selection is not reported";

  RECT item;
  SendMessage(list, LB_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&item));
  SendMessage(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, (item.top + item.bottom) / 2));
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), 5);
  EXPECT_EQ(Codes(events, 22).back(), static_cast<UINT>(LBN_DBLCLK));
  EXPECT_EQ(Count(LBN_SELCHANGE, 22), 4) << "the change before the double click";

  EXPECT_EQ(SendMessage(list, LB_SETITEMDATA, 3, 99), LB_OKAY);
  EXPECT_EQ(SendMessage(list, LB_GETITEMDATA, 3, 0), 99);
  EXPECT_EQ(SendMessage(list, LB_GETITEMDATA, 20, 0), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_GETTEXTLEN, 3, 0), 6);
  HFONT font = LargeFont();
  SendMessage(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  EXPECT_EQ(SendMessage(list, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
  EXPECT_GT(SendMessage(list, LB_GETITEMHEIGHT, 0, 0), h);
  SendMessage(list, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessage(list, LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_GETTOPINDEX, 0, 0), 0);
  DestroyWindow(list);
  DeleteObject(font);
}

TEST_F(ListControls, ScrollBarClampsItsPositionAndTellsItsOwner) {
  HWND bar = Make("ScrollBar", SBS_VERT, 10, 10, 16, 200, 30);
  SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 500, 0};
  EXPECT_EQ(SetScrollInfo(bar, SB_CTL, &info, TRUE), 90) << "max - page + 1";
  SCROLLINFO got{sizeof got, SIF_ALL, 0, 0, 0, 0, 0};
  ASSERT_TRUE(GetScrollInfo(bar, SB_CTL, &got));
  EXPECT_EQ(got.nMax, 99);
  EXPECT_EQ(got.nPage, 10u);
  EXPECT_EQ(SetScrollPos(bar, SB_CTL, -5, TRUE), 90);
  EXPECT_EQ(GetScrollPos(bar, SB_CTL), 0);

  // The arrows and the track page; the bar itself does not move.
  SendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 195));
  SendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(8, 195));
  SendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 150));
  SendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(8, 150));
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0].message, WM_VSCROLL);
  EXPECT_EQ(events[0].id, 30);
  EXPECT_EQ(events[0].code, SB_LINEDOWN);
  EXPECT_EQ(events[1].code, SB_ENDSCROLL);
  EXPECT_EQ(events[2].code, SB_PAGEDOWN);
  EXPECT_EQ(GetScrollPos(bar, SB_CTL), 0);

  // Dragging the thumb tracks, then gives the final position.
  events.clear();
  SendMessage(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 20));
  SendMessage(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(8, 400));
  SendMessage(bar, WM_LBUTTONUP, 0, MAKELPARAM(8, 400));
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].code, SB_THUMBTRACK);
  EXPECT_EQ(events[0].pos, 90);
  EXPECT_EQ(events[1].code, SB_THUMBPOSITION);
  EXPECT_EQ(events[1].pos, 90);
  EXPECT_EQ(events[2].code, SB_ENDSCROLL);

  // A window's own bars keep their values per bar.
  EXPECT_EQ(SetScrollRange(parent, SB_VERT, 0, 50, FALSE), TRUE);
  EXPECT_EQ(SetScrollPos(parent, SB_VERT, 70, FALSE), 0);
  EXPECT_EQ(GetScrollPos(parent, SB_VERT), 50);
  EXPECT_EQ(GetScrollPos(parent, SB_HORZ), 0);
  SCROLLINFO page{sizeof page, SIF_PAGE, 0, 0, 20, 0, 0};
  EXPECT_EQ(SetScrollInfo(parent, SB_VERT, &page, FALSE), 31);
  int low = -1, high = -1;
  EXPECT_TRUE(GetScrollRange(parent, SB_VERT, &low, &high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 50);
  DestroyWindow(bar);
}

TEST_F(ListControls, RepaintingEachControlLeavesNoGdiObjects) {
  HWND combo = Make("ComboBox", CBS_DROPDOWNLIST, 10, 10, 120, 150, 1);
  HWND list = Make("ListBox", LBS_NOTIFY, 10, 50, 120, 80, 2);
  HWND bar = Make("ScrollBar", SBS_HORZ, 10, 140, 150, 16, 3);
  for (const char* s : {"one", "two", "three"}) {
    SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  }
  SendMessage(combo, CB_SETCURSEL, 1, 0);
  SendMessage(list, LB_SETCURSEL, 1, 0);
  SCROLLINFO info{sizeof info, SIF_ALL, 0, 10, 3, 4, 0};
  SetScrollInfo(bar, SB_CTL, &info, TRUE);
  SetFocus(combo);
  SendMessage(combo, CB_SHOWDROPDOWN, TRUE, 0);
  tavrin::win::PaintPending();
  size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    tavrin::win::PaintPending();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  // The selected line of the list is drawn in the highlight colour.
  tavrin::draw::Surface image(1, 1);
  ASSERT_TRUE(tavrin::win::CaptureWindow(list, image));
  RECT item;
  SendMessage(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  COLORREF h = GetSysColor(COLOR_HIGHLIGHT);
  EXPECT_EQ(image.at(item.right - 3, (item.top + item.bottom) / 2) & 0xFFFFFF,
            static_cast<uint32_t>((GetRValue(h) << 16) | (GetGValue(h) << 8) | GetBValue(h)));
  DestroyWindow(combo);
  DestroyWindow(list);
  DestroyWindow(bar);
}

// Labels, group boxes and a tab control's display area let the mouse through to the controls beneath
// them (a frame laid over a property sheet, a label beside its box); a label that asks for the mouse
// (SS_NOTIFY) keeps it, and a tab itself takes the click.
TEST_F(ListControls, LabelsGroupBoxesAndTheTabsDisplayAreaLetClicksThrough) {
  tavrin::controls::RegisterTabControl();
  // Made first, so on top of what follows.
  HWND label = CreateWindowEx(0, "Static", "over", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, parent, nullptr, nullptr, nullptr);
  HWND group = Make("Button", BS_GROUPBOX, 10, 40, 100, 40, 11);
  HWND tabs = Make(WC_TABCONTROL, 0, 120, 10, 150, 120, 12);
  HWND notify = CreateWindowEx(0, "Static", "mine", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 10, 90, 100, 20, parent, nullptr,
                               nullptr, nullptr);
  for (const char* caption : {"One", "Two"}) {
    TCITEM tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<LPSTR>(caption);
    SendMessage(tabs, TCM_INSERTITEM, 9, reinterpret_cast<LPARAM>(&tab));
  }
  HWND underLabel = Make("Button", BS_AUTOCHECKBOX, 10, 10, 100, 20, 13);
  HWND inGroup = Make("Button", BS_AUTOCHECKBOX, 20, 55, 80, 20, 14);
  HWND onPage = Make("Button", BS_AUTOCHECKBOX, 140, 60, 100, 20, 15);
  HWND underNotify = Make("Button", BS_AUTOCHECKBOX, 10, 90, 100, 20, 16);
  for (HWND box : {underLabel, inGroup, onPage, underNotify}) {
    RECT rc;
    GetWindowRect(box, &rc);
    // A control that looks where the cursor is (to draw itself pushed) finds the same window.
    const POINT centre{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    EXPECT_EQ(WindowFromPoint(centre), box == underNotify ? notify : box);
    tavrin::win::InjectClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    Pump();
  }
  EXPECT_EQ(SendMessage(underLabel, BM_GETCHECK, 0, 0), BST_CHECKED) << "under a label";
  EXPECT_EQ(SendMessage(inGroup, BM_GETCHECK, 0, 0), BST_CHECKED) << "inside a group box";
  EXPECT_EQ(SendMessage(onPage, BM_GETCHECK, 0, 0), BST_CHECKED) << "over the tabs' display area";
  EXPECT_EQ(SendMessage(underNotify, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "under a label that takes the mouse";

  RECT second{};
  SendMessage(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  MapWindowPoints(tabs, nullptr, reinterpret_cast<POINT*>(&second), 2);
  tavrin::win::InjectClick((second.left + second.right) / 2, (second.top + second.bottom) / 2);
  Pump();
  EXPECT_EQ(SendMessage(tabs, TCM_GETCURSEL, 0, 0), 1) << "the tab takes its click";
  for (HWND window : {label, group, tabs, notify}) DestroyWindow(window);
}

}  // namespace
