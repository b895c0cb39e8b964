// The tree list's item records, styles, columns, row height, drag pictures and the selection look.
#include <gtest/gtest.h>

#include <string>

#include "controls/tree_ctrl.h"
#include "reference_image.h"
#include "test_util.h"
#include "win32/gdi_hooks.h"

namespace {

class RecordHost : public CWnd {
 public:
  int setDispInfo = 0;
  int fitted = 0;
  bool flat = false;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code == TVN_GETDISPINFOA) {
      auto* info = reinterpret_cast<NMTVDISPINFO*>(lParam);
      if (info->item.mask & TVIF_TEXT) std::snprintf(info->item.pszText, static_cast<size_t>(info->item.cchTextMax), "from parent");
    }
    if (header->code == TVN_SETDISPINFOA) ++setDispInfo;
    return 0;
  }
  LRESULT OnFitted(WPARAM, LPARAM) {
    ++fitted;
    return 0;
  }
  LRESULT OnFlatQuery(WPARAM, LPARAM) { return flat ? 1 : 0; }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&RecordHost::OnNotify>(WM_NOTIFY),
                                                mfc::OnMessage<&RecordHost::OnFitted>(WM_USER + 91),
                                                mfc::OnMessage<&RecordHost::OnFlatQuery>(WM_USER + 92)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

struct Tree {
  RecordHost host;
  COXTreeCtrl tree;
  explicit Tree(DWORD exStyle = 0x00100000, DWORD style = 0) {
    EXPECT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 400, 200, nullptr, 0));
    tree.ModifyExStyle(0, exStyle);
    tree.ModifyStyle(0, style);
    EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 200), &host, 7));
  }
  DWORD ListStyle() const { return static_cast<DWORD>(::GetWindowLongPtr(tree.m_hWnd, GWL_STYLE)); }
  int ColumnWidth(int col) const { return static_cast<int>(const_cast<COXTreeCtrl&>(tree).SendMessage(LVM_GETCOLUMNWIDTH, col)); }
};

COLORREF At(const tavrin::draw::Surface& s, int x, int y) {
  uint32_t p = s.at(x, y);
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

}  // namespace

TEST(TreeState, ItemRecordsThroughGetItemAndSetItem) {
  Tree t;
  HTREEITEM parent = t.tree.InsertItem("parent");
  HTREEITEM child = t.tree.InsertItem("child", parent);
  TVINSERTSTRUCT insert{TVI_ROOT, TVI_LAST, {}};
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = LPSTR_TEXTCALLBACK;
  insert.item.lParam = 42;
  insert.item.iImage = 3;
  insert.item.iSelectedImage = 4;
  HTREEITEM callback = t.tree.InsertItem(&insert);
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(t.tree.GetItemData(callback), 42);
  EXPECT_EQ(t.tree.GetItemText(callback), CString("from parent")) << "a callback text comes from the parent";
  int image = 0, selected = 0;
  EXPECT_TRUE(t.tree.GetItemImage(callback, image, selected));
  EXPECT_EQ(image, 3);
  EXPECT_EQ(selected, 4);

  TVITEM tvi{};
  tvi.mask = TVIF_IMAGE;
  tvi.hItem = child;
  tvi.iImage = -1;
  EXPECT_TRUE(t.tree.SetItem(&tvi));
  EXPECT_EQ(t.host.setDispInfo, 1) << "a callback image is announced";

  // An expanded state set through the record opens the item.
  EXPECT_TRUE(t.tree.SetItemState(parent, TVIS_EXPANDED, TVIS_EXPANDED));
  EXPECT_EQ(t.tree.GetRowCount(), 3);
  EXPECT_TRUE(t.tree.SetItemState(parent, 0, TVIS_EXPANDED));
  EXPECT_EQ(t.tree.GetRowCount(), 2);
  EXPECT_EQ(t.tree.GetItemState(parent, TVIS_EXPANDED | TVIS_EXPANDEDONCE), TVIS_EXPANDEDONCE);
  EXPECT_TRUE(t.tree.SetItemState(parent, 0x3000, TVIS_STATEIMAGEMASK));
  EXPECT_EQ(t.tree.GetItemState(parent, TVIS_STATEIMAGEMASK), 0x3000u);
  EXPECT_EQ(static_cast<UINT>(t.tree.SendMessage(LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK)), 0x3000u) << "on the row too";

  // Texts of 299 bytes come back whole through the record.
  std::string longText(299, 'x');
  t.tree.SetItemText(child, longText.c_str());
  EXPECT_EQ(std::string(t.tree.GetItemText(child)), longText);
  char small[8] = {};
  TVITEM read{};
  read.mask = TVIF_TEXT;
  read.hItem = child;
  read.pszText = small;
  read.cchTextMax = sizeof small;
  EXPECT_TRUE(t.tree.GetItem(&read));
  EXPECT_STREQ(small, "xxxxxxx") << "cut to the room given";
}

TEST(TreeState, StylesReachTheListWindow) {
  Tree t(0);
  EXPECT_TRUE(t.ListStyle() & LVS_SINGLESEL);
  EXPECT_TRUE(t.ListStyle() & LVS_NOCOLUMNHEADER);
  EXPECT_TRUE(t.ListStyle() & LVS_OWNERDRAWFIXED);
  t.tree.ModifyExStyle(0, 0x00080000 | 0x00100000 | 0x08000000);
  EXPECT_FALSE(t.ListStyle() & LVS_SINGLESEL);
  EXPECT_FALSE(t.ListStyle() & LVS_NOCOLUMNHEADER);
  EXPECT_TRUE(t.ListStyle() & LVS_NOSORTHEADER);
  EXPECT_EQ(t.tree.GetExStyle(), 0x00080000u | 0x00100000u | 0x08000000u);
  t.tree.ModifyStyle(0, TVS_EDITLABELS | TVS_SHOWSELALWAYS);
  EXPECT_TRUE(t.ListStyle() & LVS_EDITLABELS);
  EXPECT_TRUE(t.ListStyle() & LVS_SHOWSELALWAYS);
  EXPECT_TRUE(t.tree.GetTreeStyle() & TVS_EDITLABELS);
  ASSERT_NE(t.tree.GetHeaderCtrlHandle(), nullptr);
  EXPECT_EQ(t.tree.GetHeaderCtrlHandle(), t.tree.GetHeaderCtrl()->GetSafeHwnd());

  CImageList images;
  ASSERT_TRUE(images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 1));
  EXPECT_EQ(t.tree.SetImageList(&images, TVSIL_NORMAL), nullptr);
  EXPECT_EQ(t.tree.SetImageList(nullptr, TVSIL_NORMAL), &images);
  EXPECT_EQ(t.tree.SetImageList(&images, 1), nullptr) << "no such list type";
  EXPECT_EQ(t.tree.GetImageList(1), nullptr);
}

TEST(TreeState, ColumnsGoWithTheirCellsAndTheLastOneCanFillTheWidth) {
  Tree t(0x00100000 | 0x40000000);
  t.tree.InsertColumn(1, "Port", 0, 60);
  t.tree.InsertColumn(2, "Class", 0, 60);
  HTREEITEM a = t.tree.InsertItem("a");
  t.tree.SetSubItem(a, 1, COXTreeCell::kText, "port");
  t.tree.SetSubItem(a, 2, COXTreeCell::kText, "class");
  EXPECT_TRUE(t.tree.DeleteColumn(1));
  EXPECT_EQ(t.tree.GetColumnCount(), 2);
  EXPECT_EQ(t.tree.GetItemText(a, 1), CString("class")) << "higher cells move down";
  EXPECT_EQ(t.tree.GetItemText(a, 2), CString(""));

  t.tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 100);
  t.tree.MoveWindow(0, 0, 300, 200);
  controls_test::Pump();
  EXPECT_EQ(t.ColumnWidth(0), 100);
  EXPECT_EQ(t.ColumnWidth(1), 200) << "the last column reaches the client's right";
  EXPECT_GE(t.host.fitted, 1) << "the parent hears of it";
  t.tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 280);
  t.tree.MoveWindow(0, 0, 250, 200);
  controls_test::Pump();
  EXPECT_EQ(t.ColumnWidth(0), 250) << "a column past the right edge is narrowed";
  EXPECT_EQ(t.ColumnWidth(1), 0);

  // The header's tracking: the last divider is not to be dragged, a changed column fits again.
  struct {
    NMHDR hdr;
    int iItem, iButton;
  } track{{t.tree.GetHeaderCtrlHandle(), 0, static_cast<UINT>(-306)}, 1, 0};
  EXPECT_EQ(t.tree.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track)), TRUE);
  track.iItem = 0;
  EXPECT_EQ(t.tree.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track)), FALSE);
  t.tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 100);
  track.hdr.code = static_cast<UINT>(-320);
  t.tree.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track));
  controls_test::Pump();
  EXPECT_EQ(t.ColumnWidth(1), 150);

  EXPECT_TRUE(t.tree.DeleteColumn(0));
  EXPECT_EQ(t.tree.GetColumnCount(), 0);
  EXPECT_EQ(t.tree.GetCount(), 0u);
  EXPECT_FALSE(t.tree.DeleteColumn(0));
}

TEST(TreeState, RowHeightSizesTheButtons) {
  Tree t;
  HTREEITEM a = t.tree.InsertItem("a");
  t.tree.InsertItem("a1", a);
  CRect row;
  ASSERT_TRUE(t.tree.GetItemRect(a, &row, FALSE));
  EXPECT_EQ(row.Height(), 16);
  CRect button;
  t.tree.GetItemPartRect(0, a, &button);
  EXPECT_EQ(button.Width(), 9) << "the smallest button";
  t.tree.SetItemHeight(24);
  EXPECT_EQ(t.tree.GetItemHeight(), 24);
  ASSERT_TRUE(t.tree.GetItemRect(a, &row, FALSE));
  EXPECT_EQ(row.Height(), 24) << "the list measured again";
  t.tree.GetItemPartRect(0, a, &button);
  EXPECT_EQ(button.Width(), 12);
}

TEST(TreeState, DragPictureOfOneRowOrOfTheSelection) {
  Tree t;
  HTREEITEM a = t.tree.InsertItem("alpha");
  HTREEITEM b = t.tree.InsertItem("beta");
  HTREEITEM hidden = t.tree.InsertItem("hidden", a);
  const size_t before = tavrin::gdi::LiveObjectCount();
  EXPECT_EQ(t.tree.CreateDragImage(hidden), nullptr) << "no row";
  CImageList* one = t.tree.CreateDragImage(a);
  ASSERT_NE(one, nullptr);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(one->GetSafeHandle(), &cx, &cy);
  EXPECT_EQ(cx, t.ColumnWidth(0));
  EXPECT_EQ(cy, 16);
  delete one;
  t.tree.SelectItem(a);
  t.tree.SelectItem(b);
  CImageList* both = t.tree.CreateDragImage(a, TRUE);
  ASSERT_NE(both, nullptr);
  ImageList_GetIconSize(both->GetSafeHandle(), &cx, &cy);
  EXPECT_EQ(cy, 32) << "one row for each selected";
  delete both;
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

TEST(TreeState, SelectionColoursFollowTheFocusAndTheFullRowStyle) {
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT), face = GetSysColor(COLOR_BTNFACE), window = GetSysColor(COLOR_WINDOW);
  auto render = [](Tree& t) { return tavrin::test::RenderWindow(t.host.m_hWnd); };
  {
    Tree t(0x00100000, TVS_SHOWSELALWAYS);
    t.tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 150);
    t.tree.InsertColumn(1, "Port", 0, 80);
    HTREEITEM a = t.tree.InsertItem("alpha");
    t.tree.SetSubItem(a, 1, COXTreeCell::kText, "1");
    t.tree.SelectItem(a);
    CRect text;
    t.tree.GetItemPartRect(3, a, &text);
    const int x = text.left + 1, y = text.top + 1, cellX = t.ColumnWidth(0) + 40;
    EXPECT_EQ(At(render(t), x, y), face) << "selected, shown always, without focus";
    t.tree.SetFocus();
    auto focused = render(t);
    EXPECT_EQ(At(focused, x, y), highlight);
    EXPECT_EQ(At(focused, cellX, y), window) << "only the label without full-row selection";
    t.tree.ModifyExStyle(0, 0x00200000);
    EXPECT_EQ(At(render(t), cellX, y), highlight) << "full-row selection";
    const size_t before = tavrin::gdi::LiveObjectCount();
    for (int i = 0; i < 100; ++i) {
      t.tree.Invalidate();
      t.tree.UpdateWindow();
    }
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  }
  {
    Tree t;
    HTREEITEM a = t.tree.InsertItem("alpha");
    t.tree.SelectItem(a);
    CRect text;
    t.tree.GetItemPartRect(3, a, &text);
    EXPECT_EQ(At(render(t), text.left + 1, text.top + 1), window) << "no focus and not shown always";
  }
  {
    Tree t;
    t.host.flat = true;
    t.tree.InsertItem("alpha");
    EXPECT_EQ(At(render(t), 3, 24), face) << "a flat list's tree part";
  }
}

TEST(TreeState, SortingUsesTheColumnsRegisteredComparison) {
  Tree t;
  HTREEITEM x = t.tree.InsertItem("x");
  HTREEITEM y = t.tree.InsertItem("y");
  t.tree.SetItemData(x, 1);
  t.tree.SetItemData(y, 2);
  t.tree.SetColumnCompareFunction(1, [](LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(b - a); });
  EXPECT_TRUE(t.tree.SortChildren(nullptr, 1));
  EXPECT_EQ(t.tree.GetItemAtRow(0), y) << "larger values first by that comparison";
  EXPECT_TRUE(t.tree.SortChildren(nullptr, 0));
  EXPECT_EQ(t.tree.GetItemAtRow(0), x) << "column 0 compares texts";
  TVSORTCB sort{TVI_ROOT, [](LPARAM a, LPARAM b, LPARAM order) { return static_cast<int>((b - a) * order); }, 1};
  EXPECT_TRUE(t.tree.SortChildrenCB(&sort));
  EXPECT_EQ(t.tree.GetItemAtRow(0), y) << "the record's comparison, ascending";
}
