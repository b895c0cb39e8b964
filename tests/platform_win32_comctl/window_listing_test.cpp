// The window list another program reads (tavrin-ctl windows): besides each window's line, what its
// controls hold: a list's rows, a status bar's panes, a check box's state, a tab control's tabs and a list
// box's entries (each where it shows, for a click on it).
#include <algorithm>

#include "comctl_test_util.h"
#include "win32/controls.h"

namespace {

using namespace comctl_test;

bool Has(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST(WindowListing, ListsRowsPanesAndCheckStates) {
  Host host;
  ASSERT_TRUE(MakeHost(host, 300, 200));
  tavrin::controls::RegisterListControls();
  tavrin::controls::RegisterStandardControls();
  tavrin::controls::RegisterTabControl();
  HWND list = CreateWindowEx(0, "SysListView32", "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 100, host.m_hWnd,
                             reinterpret_cast<HMENU>(5), nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  for (int column = 0; column < 2; ++column) {
    LVCOLUMN info{LVCF_TEXT | LVCF_WIDTH, 0, 80, const_cast<LPSTR>(column ? "Status" : "Name"), 0, column};
    SendMessage(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  }
  LVITEM row{};
  row.mask = LVIF_TEXT;
  row.pszText = const_cast<LPSTR>("Office LaserPrinter");
  SendMessage(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
  LVITEM cell{};
  cell.iSubItem = 1;
  cell.pszText = const_cast<LPSTR>("Free");
  SendMessage(list, LVM_SETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&cell));

  CStatusBarCtrl bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), &host, 9));
  const int edges[] = {100, -1};
  bar.SetParts(2, edges);
  bar.SetText("Ready", 0, 0);
  bar.SetText("12:00:00", 1, 0);

  HWND box = CreateWindowEx(0, "Button", "Auto", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 120, 80, 20, host.m_hWnd,
                            reinterpret_cast<HMENU>(6), nullptr, nullptr);
  SendMessage(box, BM_SETCHECK, BST_CHECKED, 0);
  HWND push = CreateWindowEx(0, "Button", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 90, 120, 80, 20, host.m_hWnd,
                             reinterpret_cast<HMENU>(7), nullptr, nullptr);

  HWND tabs = CreateWindowEx(0, "SysTabControl32", "", WS_CHILD | WS_VISIBLE, 0, 150, 200, 40, host.m_hWnd,
                             reinterpret_cast<HMENU>(8), nullptr, nullptr);
  for (const char* name : {"Basic Settings", "IP Settings"}) {
    TCITEM tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<LPSTR>(name);
    SendMessage(tabs, TCM_INSERTITEM, 9, reinterpret_cast<LPARAM>(&tab));
  }
  HWND entries = CreateWindowEx(0, "ListBox", "", WS_CHILD | WS_VISIBLE, 210, 0, 80, 60, host.m_hWnd,
                                reinterpret_cast<HMENU>(10), nullptr, nullptr);
  for (const char* entry : {"[..]", "image.bin"}) SendMessage(entries, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));

  const std::vector<std::string> lines = tavrin::win::ListWindows();
  EXPECT_TRUE(Has(lines, "row=\"Office LaserPrinter|Free\" rect="));
  RECT first{LVIR_BOUNDS, 0, 0, 0};
  SendMessage(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
  MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&first), 2);
  EXPECT_TRUE(Has(lines, "rect=" + std::to_string(first.left) + "," + std::to_string(first.top) + ",")) << "on the screen";
  EXPECT_TRUE(Has(lines, "row=\"Ready|12:00:00\""));
  auto lineOf = [&](const char* text) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  ASSERT_NE(lineOf("text=\"Auto\""), lines.end());
  EXPECT_NE(lineOf("text=\"Auto\"")->find("checked=1"), std::string::npos);
  ASSERT_NE(lineOf("text=\"OK\""), lines.end());
  EXPECT_EQ(lineOf("text=\"OK\"")->find("checked="), std::string::npos) << "a push button has no check state";
  RECT second{};
  SendMessage(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  MapWindowPoints(tabs, nullptr, reinterpret_cast<POINT*>(&second), 2);
  EXPECT_TRUE(Has(lines, "row=\"IP Settings\" rect=" + std::to_string(second.left) + "," + std::to_string(second.top)));
  EXPECT_TRUE(Has(lines, "row=\"Basic Settings\" rect="));
  SendMessage(entries, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  MapWindowPoints(entries, nullptr, reinterpret_cast<POINT*>(&second), 2);
  EXPECT_TRUE(Has(lines, "row=\"image.bin\" rect=" + std::to_string(second.left) + "," + std::to_string(second.top)));
  DestroyWindow(entries);
  DestroyWindow(tabs);
  DestroyWindow(push);
  DestroyWindow(box);
}

}  // namespace
