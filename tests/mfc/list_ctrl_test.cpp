// CListCtrl over the list view: columns, items, states, the selection walk, check boxes, looks
// (colours, grid lines, full-row selection, alignment, small images) and what a change repaints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mfc/controls.h"
#include "mfc/mfc.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"

namespace {

class ListHost : public CWnd {
 public:
  std::vector<NMLISTVIEW> changes;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (hdr->code == LVN_ITEMCHANGED) changes.push_back(*reinterpret_cast<NMLISTVIEW*>(lParam));
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&ListHost::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

class ListCtrlTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    ASSERT_TRUE(host.CreateEx(0, "Host", WS_POPUP | WS_VISIBLE, 10, 10, 400, 300, nullptr, 0));
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, RECT{0, 0, 300, 200}, &host, 1016));
  }
  void TearDown() override {
    list.DestroyWindow();
    host.DestroyWindow();
    SysrootTest::TearDown();
  }
  // Three columns and n rows "r<i>c<j>".
  void Fill(int rows) {
    list.InsertColumn(0, "S.No.", LVCFMT_CENTER, 50);
    list.InsertColumn(1, "Model", LVCFMT_LEFT, 90);
    list.InsertColumn(2, "IP Address", LVCFMT_CENTER, 110);
    for (int i = 0; i < rows; ++i) {
      const int at = list.InsertItem(i, ("r" + std::to_string(i) + "c0").c_str());
      for (int c = 1; c < 3; ++c) list.SetItemText(at, c, ("r" + std::to_string(i) + "c" + std::to_string(c)).c_str());
    }
  }
  COLORREF Pixel(int x, int y) {
    tavrin::win::PaintPending();
    tavrin::draw::Surface image;
    if (!tavrin::win::CaptureWindow(list, image)) return CLR_INVALID;
    const uint32_t p = image.at(x, y);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // The leftmost x in [from, to) of a pixel of `colour` on row y, -1 for none.
  int FirstOf(COLORREF colour, int y, int from, int to) {
    for (int x = from; x < to; ++x)
      if (Pixel(x, y) == colour) return x;
    return -1;
  }
  std::vector<int> Selected() {
    std::vector<int> items;
    for (POSITION pos = list.GetFirstSelectedItemPosition(); pos;) items.push_back(list.GetNextSelectedItem(pos));
    return items;
  }

  ListHost host;
  CListCtrl list;
};

TEST_F(ListCtrlTest, ItemsKeepTextsDataAndStatesAndTheSelectionWalksInOrder) {
  Fill(5);
  EXPECT_EQ(list.GetItemCount(), 5);
  EXPECT_STREQ(list.GetItemText(3, 2), "r3c2");
  const std::string longText(3000, 'x');
  list.SetItemText(4, 1, longText.c_str());
  EXPECT_EQ(list.GetItemText(4, 1).GetLength(), 3000) << "long texts come back whole";
  char cut[8];
  EXPECT_EQ(list.GetItemText(3, 2, cut, sizeof cut), 4);
  EXPECT_STREQ(cut, "r3c2");

  EXPECT_TRUE(list.SetItemData(2, 0xBEEF));
  EXPECT_EQ(list.GetItemData(2), 0xBEEFu);
  EXPECT_EQ(Selected(), std::vector<int>{});
  EXPECT_EQ(list.GetFirstSelectedItemPosition(), nullptr);
  list.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
  list.SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_EQ(Selected(), (std::vector<int>{1, 3}));
  EXPECT_EQ(list.GetSelectedCount(), 2u);
  EXPECT_EQ(list.GetItemState(1, LVIS_FOCUSED | LVIS_SELECTED), LVIS_FOCUSED | LVIS_SELECTED);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_FOCUSED), 1);
  list.SetItemState(-1, 0, LVIS_SELECTED);
  EXPECT_EQ(Selected(), std::vector<int>{});

  // Insertions and deletions move the rows, their data and the selection mark with them.
  list.SetSelectionMark(2);
  EXPECT_EQ(list.InsertItem(LVIF_TEXT | LVIF_PARAM | LVIF_STATE, 0, "new", LVIS_SELECTED, LVIS_SELECTED, 0, 7), 0);
  EXPECT_EQ(list.GetItemData(3), 0xBEEFu);
  EXPECT_EQ(list.GetSelectionMark(), 3);
  EXPECT_EQ(Selected(), std::vector<int>{0});
  EXPECT_TRUE(list.DeleteItem(0));
  EXPECT_FALSE(list.DeleteItem(40));
  EXPECT_STREQ(list.GetItemText(0, 0), "r0c0");
  EXPECT_EQ(list.GetSelectionMark(), 2);
  LVFINDINFO find{LVFI_PARAM, nullptr, 0xBEEF, {}, 0};
  EXPECT_EQ(list.FindItem(&find), 2);
  EXPECT_TRUE(list.DeleteAllItems());
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.GetSelectionMark(), -1);
}

TEST_F(ListCtrlTest, AClickSelectsOneRowAndEveryRowThatLosesItsSelectionIsAnnounced) {
  Fill(4);
  list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
  host.changes.clear();
  RECT row3{};
  ASSERT_TRUE(list.GetItemRect(3, &row3, LVIR_BOUNDS));
  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(row3.left + 60, row3.top + 2));
  EXPECT_EQ(Selected(), std::vector<int>{3});
  EXPECT_EQ(list.GetSelectionMark(), 3);
  int lost = 0;
  for (auto& change : host.changes)
    if ((change.uOldState & LVIS_SELECTED) && !(change.uNewState & LVIS_SELECTED)) ++lost;
  EXPECT_EQ(lost, 2);
}

TEST_F(ListCtrlTest, CheckBoxesColoursStylesAndColumnsReadBackWhatWasSet) {
  Fill(3);
  EXPECT_EQ(list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES), 0u);
  EXPECT_EQ(list.GetExtendedStyle(), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
  EXPECT_FALSE(list.GetCheck(1));
  EXPECT_TRUE(list.SetCheck(1));
  EXPECT_TRUE(list.GetCheck(1));
  EXPECT_FALSE(list.GetCheck(0));
  list.SetCheck(1, FALSE);
  EXPECT_FALSE(list.GetCheck(1));

  list.SetBkColor(RGB(255, 255, 247));
  list.SetTextBkColor(RGB(255, 255, 247));
  list.SetTextColor(RGB(8, 16, 115));
  EXPECT_EQ(list.GetBkColor(), RGB(255, 255, 247));
  EXPECT_EQ(list.GetTextBkColor(), RGB(255, 255, 247));
  EXPECT_EQ(list.GetTextColor(), RGB(8, 16, 115));

  EXPECT_EQ(list.GetColumnWidth(1), 90);
  LVCOLUMN column{};
  column.mask = LVCF_FMT | LVCF_WIDTH;
  ASSERT_TRUE(list.GetColumn(2, &column));
  EXPECT_EQ(column.fmt, LVCFMT_CENTER);
  column.mask = LVCF_WIDTH;
  column.cx = 77;
  EXPECT_TRUE(list.SetColumn(2, &column));
  EXPECT_EQ(list.GetColumnWidth(2), 77);
  list.SetItemText(0, 1, "a much longer model name than the others");
  EXPECT_TRUE(list.SetColumnWidth(1, LVSCW_AUTOSIZE));
  EXPECT_GT(list.GetColumnWidth(1), 150) << "as wide as the widest text";
  EXPECT_TRUE(list.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER));
  EXPECT_GT(list.GetColumnWidth(0), 30) << "the heading counts";
  EXPECT_TRUE(list.DeleteColumn(0));
  EXPECT_STREQ(list.GetItemText(0, 0), "a much longer model name than the others");
  EXPECT_NE(list.GetHeaderCtrl(), nullptr);
  EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2);
}

TEST_F(ListCtrlTest, RectanglesHitTestsAndScrollingFollowTheRows) {
  Fill(40);
  RECT bounds{}, label{}, cell{};
  ASSERT_TRUE(list.GetItemRect(2, &bounds, LVIR_BOUNDS));
  EXPECT_EQ(bounds.top, kHeaderHeight + 2 * kListRowHeight);
  EXPECT_EQ(bounds.right, 250) << "as wide as the columns";
  ASSERT_TRUE(list.GetItemRect(2, &label, LVIR_LABEL));
  EXPECT_EQ(label.right, 50) << "the label is the first column";
  ASSERT_TRUE(list.GetSubItemRect(2, 2, LVIR_BOUNDS, cell));
  EXPECT_EQ(cell.left, 140);
  EXPECT_EQ(cell.right, 250);
  EXPECT_EQ(list.HitTest(POINT{145, bounds.top + 3}), 2);
  LVHITTESTINFO hit{};
  hit.pt = POINT{145, bounds.top + 3};
  EXPECT_EQ(list.SubItemHitTest(&hit), 2);
  EXPECT_EQ(hit.iSubItem, 2);

  const int page = list.GetCountPerPage();
  EXPECT_EQ(page, (200 - kHeaderHeight) / kListRowHeight);
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_TRUE(list.EnsureVisible(30, FALSE));
  EXPECT_EQ(list.GetTopIndex(), 30 - page + 1);
  EXPECT_TRUE(list.EnsureVisible(5, FALSE));
  EXPECT_EQ(list.GetTopIndex(), 5);
  list.Scroll(SIZE{0, 3 * kListRowHeight});
  EXPECT_EQ(list.GetTopIndex(), 8);
  list.Scroll(SIZE{0, 1000 * kListRowHeight});
  EXPECT_EQ(list.GetTopIndex(), 40 - page) << "not past the last page";
  list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
  EXPECT_EQ(list.GetTopIndex(), 40 - page - 3);
}

TEST_F(ListCtrlTest, TheSelectionCoversTheRowOnlyWithFullRowSelectAndColumnsAlignTheirText) {
  Fill(3);
  list.SetFocus();
  list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  RECT row{};
  list.GetItemRect(1, &row, LVIR_BOUNDS);
  const int y = row.top + 1;
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  EXPECT_EQ(Pixel(2, y), highlight);
  EXPECT_NE(Pixel(100, y), highlight) << "without full-row select only the first cell";
  list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  EXPECT_EQ(Pixel(100, y), highlight);
  EXPECT_EQ(Pixel(245, y), highlight);

  // Centred text sits in the middle of its cell, left text at its start.
  const int textY = row.top + kListRowHeight / 2;
  list.SetItemState(1, 0, LVIS_SELECTED);
  const COLORREF ink = list.GetTextColor();
  int leftOfCentred = -1;
  for (int dy = -3; dy <= 3 && leftOfCentred < 0; ++dy) leftOfCentred = FirstOf(ink, textY + dy, 140, 250);
  ASSERT_GT(leftOfCentred, 0);
  EXPECT_GT(leftOfCentred, 140 + 25);
  int leftOfLeft = -1;
  for (int dy = -3; dy <= 3 && leftOfLeft < 0; ++dy) leftOfLeft = FirstOf(ink, textY + dy, 50, 140);
  EXPECT_GT(leftOfLeft, 50);
  EXPECT_LT(leftOfLeft, 50 + 10);
}

TEST_F(ListCtrlTest, GridLinesRunUnderEveryRowPlaceAndAtEveryColumnEdge) {
  Fill(2);
  const COLORREF back = RGB(255, 255, 247);
  list.SetBkColor(back);
  list.SetTextBkColor(back);
  const int lastRowBottom = kHeaderHeight + 2 * kListRowHeight - 1;
  EXPECT_EQ(Pixel(49, 150), back);
  list.SetExtendedStyle(LVS_EX_GRIDLINES);
  const COLORREF grid = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(Pixel(49, 150), grid) << "the first column's edge, below the rows too";
  EXPECT_EQ(Pixel(249, 150), grid);
  EXPECT_EQ(Pixel(20, lastRowBottom), grid);
  EXPECT_EQ(Pixel(20, lastRowBottom + kListRowHeight), grid) << "and where rows would be";
  EXPECT_EQ(Pixel(280, 150), back) << "nothing right of the columns";
}

TEST_F(ListCtrlTest, SmallImagesStandBeforeTheFirstColumnsTextAndImageListsComeBack) {
  Fill(2);
  CImageList images;
  ASSERT_TRUE(images.Create(16, 16, ILC_COLOR24, 1, 1));
  CBitmap picture;
  {
    tavrin::draw::Surface red(16, 16, 0xFF0000);
    picture.Attach(tavrin::gdi::CreateBitmapFromSurface(red));
  }
  images.Add(&picture, static_cast<CBitmap*>(nullptr));
  EXPECT_EQ(list.SetImageList(&images, LVSIL_SMALL), nullptr);
  EXPECT_EQ(list.GetImageList(LVSIL_SMALL)->GetSafeHandle(), images.GetSafeHandle());
  LVITEM item{};
  item.mask = LVIF_IMAGE;
  item.iItem = 1;
  item.iImage = 0;
  ASSERT_TRUE(list.SetItem(&item));
  RECT row{}, icon{}, label{};
  list.GetItemRect(1, &row, LVIR_BOUNDS);
  list.GetItemRect(1, &icon, LVIR_ICON);
  list.GetItemRect(1, &label, LVIR_LABEL);
  EXPECT_EQ(icon.right - icon.left, 16);
  EXPECT_EQ(label.left, 18);
  EXPECT_EQ(Pixel(5, row.top + 5), RGB(255, 0, 0));
  EXPECT_NE(Pixel(5, row.top - kListRowHeight + 5), RGB(255, 0, 0)) << "row 0 has no image";
  UINT flags = 0;
  EXPECT_EQ(list.HitTest(POINT{5, row.top + 5}, &flags), 1);
  EXPECT_EQ(flags, LVHT_ONITEMICON);
  list.SetImageList(nullptr, LVSIL_SMALL);
}

TEST_F(ListCtrlTest, AChangeRepaintsItsRowNotTheWholeList) {
  Fill(10);
  tavrin::win::PaintPending();
  RECT due{};
  EXPECT_FALSE(GetUpdateRect(list, &due, FALSE));
  list.SetItemState(4, LVIS_SELECTED, LVIS_SELECTED);
  ASSERT_TRUE(GetUpdateRect(list, &due, FALSE));
  RECT row{};
  list.GetItemRect(4, &row, LVIR_BOUNDS);
  EXPECT_EQ(due.top, row.top);
  EXPECT_EQ(due.bottom, row.bottom);
  tavrin::win::PaintPending();
  list.SetItemText(6, 1, "changed");
  ASSERT_TRUE(GetUpdateRect(list, &due, FALSE));
  list.GetItemRect(6, &row, LVIR_BOUNDS);
  EXPECT_EQ(due.top, row.top);
  EXPECT_EQ(due.bottom, row.bottom);
  tavrin::win::PaintPending();
  // A row inserted moves those below it.
  list.InsertItem(7, "inserted");
  ASSERT_TRUE(GetUpdateRect(list, &due, FALSE));
  list.GetItemRect(7, &row, LVIR_BOUNDS);
  EXPECT_EQ(due.top, row.top);
  EXPECT_EQ(due.bottom, 200);
}

TEST_F(ListCtrlTest, IconViewPlacesItemsWhereAskedAndTheEditorIsReached) {
  list.DestroyWindow();
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SINGLESEL | LVS_EDITLABELS, RECT{0, 0, 300, 200}, &host, 1));
  list.InsertItem(0, "Device Mapping", 1);
  list.InsertItem(1, "Server Manager", 0);
  EXPECT_TRUE(list.SetItemPosition(0, POINT{60, 0}));
  EXPECT_TRUE(list.SetItemPosition(1, POINT{60, 80}));
  POINT where{};
  ASSERT_TRUE(list.GetItemPosition(1, &where));
  EXPECT_EQ(where.x, 60);
  EXPECT_EQ(where.y, 80);
  RECT bounds{};
  ASSERT_TRUE(list.GetItemRect(1, &bounds, LVIR_BOUNDS));
  EXPECT_EQ(list.HitTest(POINT{bounds.left + (bounds.right - bounds.left) / 2, bounds.top + 10}), 1);
  CEdit* edit = list.EditLabel(0);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit, list.GetEditControl());
  char text[32] = {};
  ::GetWindowText(*edit, text, sizeof text);
  EXPECT_STREQ(text, "Device Mapping");
  list.SendMessage(LVM_CANCELEDITLABEL, 0, 0);
  EXPECT_EQ(list.GetEditControl(), nullptr);
}

}  // namespace
