// The report list's own rows: selection by click and keys, hit tests, scrolling and notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "mfc/controls.h"
#include "test_util.h"

namespace {

class ListHost : public CWnd {
 public:
  std::vector<UINT> codes;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    codes.push_back(reinterpret_cast<NMHDR*>(lParam)->code);
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&ListHost::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

int Next(CListCtrl& list, int from, UINT flags) {
  return static_cast<int>(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(from), flags));
}

}  // namespace

TEST(ListRows, ClicksKeysAndHitTests) {
  ListHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, 3));
  list.InsertColumn(0, "Name", 0, 150);
  for (int i = 0; i < 8; ++i) list.InsertItem(i, "row");
  // Rows of 16 pixels under a 20-pixel header: four whole rows on the page.
  EXPECT_EQ(list.SendMessage(LVM_GETCOUNTPERPAGE), 5);
  LVHITTESTINFO hit{{10, 20 + 16 + 3}, 0, -1, 0};
  EXPECT_EQ(list.SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), 1);
  EXPECT_EQ(hit.flags, LVHT_ONITEMLABEL);
  hit.pt = {10, 5};
  EXPECT_EQ(list.SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), -1);
  EXPECT_EQ(hit.flags, LVHT_ABOVE);
  hit.pt = {180, 30};
  list.SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  EXPECT_EQ(hit.flags, LVHT_NOWHERE) << "right of the columns";

  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(10, 20 + 16 + 3));
  EXPECT_EQ(Next(list, -1, LVNI_SELECTED), 1);
  EXPECT_EQ(Next(list, -1, LVNI_FOCUSED), 1);
  EXPECT_NE(std::find(host.codes.begin(), host.codes.end(), NM_CLICK), host.codes.end());
  EXPECT_NE(std::find(host.codes.begin(), host.codes.end(), NM_SETFOCUS), host.codes.end());
  list.SendMessage(WM_LBUTTONDOWN, MK_CONTROL, MAKELPARAM(10, 20 + 48 + 3));
  EXPECT_EQ(list.SendMessage(LVM_GETSELECTEDCOUNT), 2) << "control adds a row";
  list.SendMessage(WM_KEYDOWN, VK_END);
  EXPECT_EQ(Next(list, -1, LVNI_SELECTED), 7);
  EXPECT_EQ(list.SendMessage(LVM_GETSELECTEDCOUNT), 1);
  EXPECT_EQ(list.SendMessage(LVM_GETTOPINDEX), 3) << "scrolled to show the last row";
  list.SendMessage(WM_KEYDOWN, VK_PRIOR);
  EXPECT_EQ(Next(list, -1, LVNI_SELECTED), 3);
  list.SendMessage(WM_KEYDOWN, VK_HOME);
  EXPECT_EQ(list.SendMessage(LVM_GETTOPINDEX), 0);
  list.SendMessage(WM_KEYDOWN, VK_UP);
  EXPECT_EQ(Next(list, -1, LVNI_SELECTED), 0) << "stays on the first row";
  EXPECT_TRUE(list.SendMessage(LVM_DELETEITEM, 0));
  EXPECT_EQ(Next(list, -1, LVNI_SELECTED), -1) << "the selected row went";
}

// A change to one row leaves only that row to be painted again, and a paint draws only the rows it is for:
// a long list costs no more to change than a short one.
TEST(ListRows, AChangeToOneRowRepaintsOnlyThatRow) {
  ListHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 200, 120, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 120), &host, 3));
  list.InsertColumn(0, "Name", 0, 150);
  for (int i = 0; i < 50; ++i) list.InsertItem(i, "row");
  list.UpdateWindow();
  RECT dirty{};
  EXPECT_FALSE(GetUpdateRect(list.m_hWnd, &dirty, FALSE));

  auto rowRect = [&](int row) {
    RECT r{};
    list.SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    RECT client;
    list.GetClientRect(&client);
    r.left = 0;
    r.right = client.right;
    return r;
  };
  auto onlyRowsDirty = [&](int first, int last) {
    RECT expected = rowRect(first), lastRow = rowRect(last);
    expected.bottom = lastRow.bottom;
    RECT got{};
    GetUpdateRect(list.m_hWnd, &got, FALSE);
    list.UpdateWindow();
    return EqualRect(&got, &expected);
  };

  LVITEM state{};
  state.state = state.stateMask = LVIS_SELECTED;
  list.SendMessage(LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
  EXPECT_TRUE(onlyRowsDirty(2, 2));
  list.SendMessage(LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));  // no change, nothing to paint
  EXPECT_FALSE(GetUpdateRect(list.m_hWnd, &dirty, FALSE));
  list.SetItemText(3, 0, "renamed");
  EXPECT_TRUE(onlyRowsDirty(3, 3));
  // The focus moves: the row that loses it is painted again too.
  state.state = state.stateMask = LVIS_FOCUSED;
  list.SendMessage(LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  list.UpdateWindow();
  list.SendMessage(LVM_SETITEMSTATE, 4, reinterpret_cast<LPARAM>(&state));
  EXPECT_TRUE(onlyRowsDirty(1, 4));
  list.SendMessage(LVM_REDRAWITEMS, 1, 2);
  EXPECT_TRUE(onlyRowsDirty(1, 2));
  // A row below the page is not on screen: nothing to paint.
  list.SetItemText(40, 0, "far below");
  EXPECT_FALSE(GetUpdateRect(list.m_hWnd, &dirty, FALSE));
}
