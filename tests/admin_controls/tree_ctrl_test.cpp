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
