// The standard controls the custom ones stand on: buttons and their groups, tabs, headers, list rows.
#include <gtest/gtest.h>

#include "mfc/controls.h"

namespace {

class Parent : public CWnd {
 public:
  int clicks = 0;
  int tabChanges = 0;
  BOOL OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) == BN_CLICKED) ++clicks;
    return TRUE;
  }
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    if (reinterpret_cast<NMHDR*>(lParam)->code == TCN_SELCHANGE) ++tabChanges;
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&Parent::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

TEST(StandardControls, ButtonsClickCheckAndFormGroups) {
  Parent parent;
  ASSERT_TRUE(parent.CreateEx(0, "p", WS_POPUP | WS_VISIBLE, 0, 0, 200, 200, nullptr, 0));
  CButton push, check, r1, r2, next;
  ASSERT_TRUE(push.Create("Go", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_PUSHBUTTON, CRect(0, 0, 50, 20), &parent, 1));
  ASSERT_TRUE(check.Create("C", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTOCHECKBOX, CRect(0, 20, 50, 40), &parent, 2));
  ASSERT_TRUE(r1.Create("1", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(0, 40, 50, 60), &parent, 3));
  ASSERT_TRUE(r2.Create("2", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(0, 60, 50, 80), &parent, 4));
  ASSERT_TRUE(next.Create("n", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_PUSHBUTTON, CRect(0, 80, 50, 100), &parent, 5));
  push.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  push.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(parent.clicks, 1);
  push.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  push.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(500, 5));
  EXPECT_EQ(parent.clicks, 1) << "released off the button";
  check.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  check.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(check.GetCheck(), 1);
  EXPECT_EQ(GetNextDlgGroupItem(parent.m_hWnd, r1.m_hWnd, FALSE), r2.m_hWnd);
  EXPECT_EQ(GetNextDlgGroupItem(parent.m_hWnd, r2.m_hWnd, FALSE), r1.m_hWnd) << "the group wraps";
  EXPECT_EQ(GetNextDlgGroupItem(parent.m_hWnd, push.m_hWnd, FALSE), push.m_hWnd) << "alone in its group";
  r2.EnableWindow(FALSE);
  EXPECT_EQ(GetNextDlgGroupItem(parent.m_hWnd, r1.m_hWnd, FALSE), r1.m_hWnd) << "disabled controls skipped";
}

TEST(StandardControls, TabsHeadersAndListRows) {
  Parent parent;
  ASSERT_TRUE(parent.CreateEx(0, "p", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, 0));
  CTabCtrl tabs;
  ASSERT_TRUE(tabs.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 100), &parent, 1));
  tabs.InsertItem(0, "One");
  tabs.InsertItem(1, "Two");
  EXPECT_EQ(tabs.GetCurSel(), 0);
  CRect second;
  ASSERT_TRUE(tabs.GetItemRect(1, &second));
  CRect none;
  EXPECT_FALSE(tabs.GetItemRect(2, &none));
  tabs.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(second.left + 2, second.top + 2));
  EXPECT_EQ(tabs.GetCurSel(), 1);
  EXPECT_EQ(parent.tabChanges, 1);
  CRect display(0, 0, 300, 100);
  tabs.AdjustRect(FALSE, &display);
  EXPECT_GT(display.top, second.bottom - 1);
  char text[3] = {};
  TCITEM item{TCIF_TEXT, 0, 0, text, 3, 0, 0};
  ASSERT_TRUE(tabs.GetItem(1, &item));
  EXPECT_STREQ(text, "Tw") << "cut to the buffer";

  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE, CRect(0, 100, 300, 200), &parent, 2));
  list.InsertColumn(0, "A", 0, 100);
  list.InsertColumn(1, "B", 0, 60);
  list.InsertItem(0, "x");
  list.InsertItem(1, "y");
  list.SetItemText(1, 1, "y1");
  EXPECT_EQ(list.GetItemText(1, 1), CString("y1"));
  EXPECT_EQ(list.GetItemText(0, 1), CString(""));
  EXPECT_FALSE(list.SetItemText(5, 0, "none"));
  CHeaderCtrl* header = list.GetHeaderCtrl();
  ASSERT_NE(header, nullptr);
  HDHITTESTINFO hit{{100, 5}, 0, -1};
  EXPECT_EQ(header->SendMessage(HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), 0);
  EXPECT_EQ(hit.flags, HHT_ONDIVIDER);
  hit = HDHITTESTINFO{{130, 5}, 0, -1};
  header->SendMessage(HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  EXPECT_EQ(hit.iItem, 1);
  EXPECT_EQ(hit.flags, HHT_ONHEADER);
}

}  // namespace
