// The window list another program reads (tavrin-ctl windows): besides each window's line, what its
// controls hold: a list's rows, a status bar's panes, a check box's state.
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
  DestroyWindow(push);
  DestroyWindow(box);
}

}  // namespace
