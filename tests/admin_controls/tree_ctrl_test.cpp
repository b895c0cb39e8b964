// The tree list over its list rows: insertion, expansion, deletion counts, handles and sorting.
#include <gtest/gtest.h>

#include <string>

#include "controls/tree_ctrl.h"
#include "win32/gdi_hooks.h"

namespace {

// A parent that may refuse expansion.
class TreeHost : public CWnd {
 public:
  bool refuse = false;
  int deletes = 0;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code == TVN_ITEMEXPANDING) return refuse ? 1 : 0;
    if (header->code == TVN_DELETEITEM) ++deletes;
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&TreeHost::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

struct Fixture {
  TreeHost host;
  COXTreeCtrl tree;
  Fixture() {
    EXPECT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, 0));
    EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 300), &host, 7));
  }
  std::string Rows() const {
    std::string s;
    for (int r = 0; r < tree.GetRowCount(); ++r) s += std::string(tree.GetItemText(tree.GetItemAtRow(r))) + " ";
    return s;
  }
};

TEST(TreeCtrl, RowsFollowInsertionAndExpansion) {
  Fixture f;
  EXPECT_TRUE(f.tree.IsInitialized());
  HTREEITEM server = f.tree.InsertItem("server");
  HTREEITEM other = f.tree.InsertItem("other");
  HTREEITEM disk = f.tree.InsertItem("disk", server);
  f.tree.InsertItem("printer", server);
  f.tree.SetSubItem(disk, 1, COXTreeCell::kText, "port 1");
  EXPECT_EQ(f.Rows(), "server other ") << "a collapsed parent gives its children no rows";
  EXPECT_TRUE(f.tree.Expand(server, TVE_EXPAND));
  EXPECT_EQ(f.Rows(), "server disk printer other ");
  EXPECT_EQ(f.tree.GetItemText(disk, 1), CString("port 1"));
  EXPECT_EQ(f.tree.GetParentItem(disk), server);
  EXPECT_EQ(f.tree.GetParentItem(server), f.tree.GetRootItem());
  EXPECT_EQ(f.tree.GetNextSiblingItem(server), other);
  f.host.refuse = true;
  EXPECT_FALSE(f.tree.Expand(server, TVE_COLLAPSE));
  EXPECT_EQ(f.Rows(), "server disk printer other ") << "the parent refused";
  f.host.refuse = false;
  EXPECT_TRUE(f.tree.Expand(server, TVE_TOGGLE));
  EXPECT_EQ(f.Rows(), "server other ");
  EXPECT_EQ(f.tree.GetCount(), 4u);
  f.tree.SetIndent(10);
  EXPECT_EQ(f.tree.GetIndent(), 15);
}

TEST(TreeCtrl, DeletingASubtreeCountsEveryItemAndStaleHandlesResolveToNone) {
  Fixture f;
  HTREEITEM a = f.tree.InsertItem("a");
  HTREEITEM a1 = f.tree.InsertItem("a1", a);
  f.tree.InsertItem("a11", a1);
  f.tree.InsertItem("b");
  ASSERT_EQ(f.tree.GetCount(), 4u);
  f.tree.Expand(a, TVE_EXPAND);
  EXPECT_TRUE(f.tree.DeleteItem(a1));
  EXPECT_EQ(f.tree.GetCount(), 2u) << "the grandchild went too";
  EXPECT_EQ(f.Rows(), "a b ");
  EXPECT_EQ(f.tree.GetItemText(a1), CString("")) << "a freed handle";
  EXPECT_FALSE(f.tree.SetItemText(a1, "x"));
  EXPECT_FALSE(f.tree.DeleteItem(a1));
  EXPECT_EQ(f.tree.GetItemText(reinterpret_cast<HTREEITEM>(0x1234)), CString(""));
  EXPECT_EQ(f.tree.GetItemText(nullptr, 1), CString(""));
  EXPECT_EQ(f.host.deletes, 1);
  EXPECT_TRUE(f.tree.DeleteAllItems());
  EXPECT_EQ(f.tree.GetCount(), 0u);
  EXPECT_EQ(f.tree.GetRowCount(), 0);
  EXPECT_EQ(f.tree.GetItemText(a), CString(""));
}

TEST(TreeCtrl, DeletingTheLastChildResetsItsParent) {
  Fixture f;
  HTREEITEM a = f.tree.InsertItem("a");
  HTREEITEM a1 = f.tree.InsertItem("a1", a);
  f.tree.Expand(a, TVE_EXPAND);
  EXPECT_TRUE(f.tree.DeleteItem(a1));
  COXTreeItem* parent = f.tree.Resolve(a);
  ASSERT_NE(parent, nullptr);
  EXPECT_FALSE(parent->IsExpanded());
  EXPECT_FALSE(parent->IsExpandedOnce());
  EXPECT_EQ(f.Rows(), "a ");
}

TEST(TreeCtrl, SortedInsertionAndSorting) {
  Fixture f;
  f.tree.InsertItem("b");
  f.tree.InsertItem("d");
  f.tree.InsertItem("c", TVI_ROOT, TVI_SORT);
  HTREEITEM second = f.tree.InsertItem("b", TVI_ROOT, TVI_SORT);
  f.tree.InsertItem("", TVI_ROOT, TVI_SORT);
  EXPECT_EQ(f.Rows(), "b b c d  ");
  EXPECT_EQ(f.tree.GetItemAtRow(0), second) << "before the equal text";
  f.tree.SortChildren(nullptr, 0, FALSE);
  EXPECT_EQ(f.Rows(), "d c b b  ");
}

TEST(TreeCtrl, AControlMadeAgainKeepsOnePen) {
  TreeHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, 0));
  COXTreeCtrl tree;
  ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 300), &host, 7));
  const size_t pens = tavrin::gdi::LiveObjectCount(OBJ_PEN) + tavrin::gdi::LiveObjectCount(OBJ_EXTPEN);
  tree.DestroyWindow();
  EXPECT_FALSE(tree.IsInitialized());
  ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 300), &host, 7));
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_PEN) + tavrin::gdi::LiveObjectCount(OBJ_EXTPEN), pens);
}

}  // namespace

#include "test_util.h"

namespace {

using controls_test::SurfaceDc;

TEST(TreeCtrlDrawing, LinesButtonsAndGridAtTheirPixels) {
  Fixture f;
  f.tree.InsertItem("a");
  HTREEITEM b = f.tree.InsertItem("b");
  f.tree.InsertItem("b1", b);
  HTREEITEM c = f.tree.InsertItem("c");
  f.tree.InsertItem("d");
  f.tree.SetExStyle(0x00400000);
  f.tree.SetHorizontalGridColor(RGB(255, 0, 0));
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), text = GetSysColor(COLOR_WINDOWTEXT),
                 window = GetSysColor(COLOR_WINDOW);
  // Row of c: a line through the cell and one to the right (shape 3), no button.
  SurfaceDc line(400, 16), button(400, 16), open(400, 16);
  DRAWITEMSTRUCT dis{ODT_LISTVIEW, 7, 2, ODA_DRAWENTIRE, 0, f.tree.m_hWnd, line.hdc, {0, 0, 400, 16},
                     reinterpret_cast<ULONG_PTR>(c)};
  const size_t before = tavrin::gdi::LiveObjectCount();
  f.tree.DrawItem(&dis);
  int onVertical = 0, onHorizontal = 0;
  for (int y = 0; y < 15; ++y) onVertical += line.At(7, y) == shadow;
  for (int x = 8; x < 15; ++x) onHorizontal += line.At(x, 8) == shadow;
  EXPECT_GE(onVertical, 7) << "a dotted line down the whole cell";
  EXPECT_GE(onHorizontal, 3) << "and one to the right";
  EXPECT_EQ(line.At(3, 3), window);
  EXPECT_EQ(line.At(200, 15), RGB(255, 0, 0)) << "grid line at the row's bottom - 1";
  EXPECT_EQ(line.At(200, 14), window);
  EXPECT_EQ(line.At(5, 15), window) << "the grid starts after the tree part";
  // Row of b: the collapsed button with both bars.
  dis.hDC = button.hdc;
  dis.itemData = reinterpret_cast<ULONG_PTR>(b);
  f.tree.DrawItem(&dis);
  EXPECT_EQ(button.At(3, 4), shadow) << "the button's frame";
  EXPECT_EQ(button.At(4, 5), window);
  EXPECT_EQ(button.At(5, 8), text) << "minus bar";
  EXPECT_EQ(button.At(7, 6), text) << "plus bar";
  f.tree.Expand(b, TVE_EXPAND);
  dis.hDC = open.hdc;
  f.tree.DrawItem(&dis);
  EXPECT_EQ(open.At(5, 8), text);
  EXPECT_EQ(open.At(7, 6), window) << "no plus bar when expanded";
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  for (int i = 0; i < 100; ++i) {
    f.tree.Invalidate();
    f.tree.UpdateWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

TEST(TreeCtrlDrawing, EditLabelRefusesColumnsOutsideTheList) {
  Fixture f;
  HTREEITEM a = f.tree.InsertItem("a");
  EXPECT_EQ(f.tree.EditLabel(a, -1), nullptr);
  EXPECT_EQ(f.tree.EditLabel(a, 5), nullptr);
  EXPECT_EQ(f.tree.GetItemIndent(f.tree.Resolve(a)), 15);
}

}  // namespace

namespace {

TEST(TreeCtrl, CopyAndMoveCountWholeSubtreesAcrossControls) {
  Fixture f, g;
  HTREEITEM a = f.tree.InsertItem("a");
  HTREEITEM a1 = f.tree.InsertItem("a1", a);
  f.tree.InsertItem("a11", a1);
  HTREEITEM b = f.tree.InsertItem("b");
  ASSERT_EQ(f.tree.GetCount(), 4u);
  EXPECT_FALSE(f.tree.CopyItem(a, a1, TVI_LAST, TRUE)) << "into its own subtree";
  HTREEITEM copy = nullptr;
  ASSERT_TRUE(f.tree.CopyItem(a, b, TVI_LAST, TRUE, &copy));
  EXPECT_EQ(f.tree.GetCount(), 7u);
  EXPECT_EQ(f.tree.GetItemText(copy), CString("a"));
  EXPECT_FALSE(f.tree.MoveItem(a, a1));
  ASSERT_TRUE(f.tree.MoveItem(a, TVI_ROOT, TVI_LAST, &g.tree));
  EXPECT_EQ(f.tree.GetCount(), 4u);
  EXPECT_EQ(g.tree.GetCount(), 3u);
  EXPECT_EQ(f.tree.GetItemText(a), CString("")) << "no longer this control's item";
  EXPECT_EQ(g.tree.GetItemText(a), CString("a"));
  EXPECT_EQ(g.Rows(), "a ");
  EXPECT_EQ(f.Rows(), "b ");
  EXPECT_TRUE(g.tree.DeleteItem(a));
  EXPECT_EQ(g.tree.GetCount(), 0u);
}

}  // namespace
