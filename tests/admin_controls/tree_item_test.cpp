// The tree behind the tree list: links, expansion with its rows, sorting and cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "controls/tree_item.h"
#include "win32/gdi_hooks.h"

namespace {

// Rows as a plain list of items.
class FakeRows : public COXTreeRows {
 public:
  std::vector<COXTreeItem*> rows;
  int RowOf(const COXTreeItem* item) const override {
    auto it = std::find(rows.begin(), rows.end(), item);
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
  }
  void InsertRowAt(COXTreeItem* item, int index) override {
    rows.insert(rows.begin() + std::clamp(index, 0, static_cast<int>(rows.size())), item);
  }
  void DeleteRow(COXTreeItem* item) override {
    rows.erase(std::remove(rows.begin(), rows.end(), item), rows.end());
  }
  std::string Texts() const {
    std::string s;
    for (auto* item : rows) s += std::string(item->GetText()) + " ";
    return s;
  }
};

struct Tree {
  COXTreeItem root;
  FakeRows rows;
  Tree() { root.MakeRoot(); }
  COXTreeItem* Add(COXTreeItem* parent, const char* text, HTREEITEM after = TVI_LAST) {
    auto* item = new COXTreeItem(text);
    parent->AddChild(item, after);
    if (item->IsVisible()) {
      COXTreeItem* prev = item->GetPrevInOrder();
      while (prev && prev != &root && rows.RowOf(prev) < 0) prev = prev->GetPrevInOrder();
      rows.InsertRowAt(item, prev == &root || !prev ? 0 : rows.RowOf(prev) + 1);
    }
    return item;
  }
  std::string Children(COXTreeItem* parent) const {
    std::string s;
    for (auto* c = parent->GetFirstChild(); c; c = c->GetNextSibling()) s += c->GetText();
    return s;
  }
};

TEST(TreeItem, LinksLevelsAndDisplayOrder) {
  Tree t;
  COXTreeItem* a = t.Add(&t.root, "a");
  COXTreeItem* c = t.Add(&t.root, "c");
  t.Add(&t.root, "first", TVI_FIRST);
  t.Add(&t.root, "b", a->Handle());
  EXPECT_EQ(t.Children(&t.root), "firstabc");
  COXTreeItem* a1 = t.Add(a, "a1");
  EXPECT_EQ(a1->GetLevel(), 2);
  EXPECT_EQ(t.root.GetLevel(), 0);
  EXPECT_FALSE(a1->IsVisible()) << "a is collapsed";
  EXPECT_EQ(a->GetNextInOrder(), a1);
  EXPECT_EQ(a1->GetNextInOrder()->GetText(), std::string("b"));
  EXPECT_EQ(c->GetPrevInOrder()->GetText(), std::string("b"));
  EXPECT_EQ(a->GetNextSibling()->GetPrevInOrder(), a1);
  EXPECT_EQ(t.root.CountSubtree(), 6);
  a1->SetHidden(TRUE);
  EXPECT_FALSE(a->HasChildren());
  EXPECT_EQ(a->CountChildren(FALSE), 0);
  EXPECT_EQ(a->CountChildren(TRUE), 1);
}

TEST(TreeItem, ExpandKeepsTheRowsInStep) {
  Tree t;
  COXTreeItem* a = t.Add(&t.root, "a");
  t.Add(&t.root, "b");
  COXTreeItem* a1 = t.Add(a, "a1");
  t.Add(a1, "a11");
  t.Add(a, "a2");
  EXPECT_EQ(t.rows.Texts(), "a b ");
  EXPECT_TRUE(a1->Expand(TVE_EXPAND, t.rows));
  EXPECT_TRUE(a->IsExpanded()) << "the collapsed parent opens too";
  EXPECT_EQ(t.rows.Texts(), "a a1 a11 a2 b ");
  EXPECT_TRUE(a->Expand(TVE_EXPAND, t.rows));
  EXPECT_EQ(t.rows.Texts(), "a a1 a11 a2 b ") << "expanded already";
  EXPECT_TRUE(a->Expand(TVE_TOGGLE, t.rows));
  EXPECT_EQ(t.rows.Texts(), "a b ");
  EXPECT_TRUE(a->IsExpandedOnce());
  EXPECT_FALSE(a->Expand(7, t.rows));
  EXPECT_EQ(t.rows.Texts(), "a b ");
}

TEST(TreeItem, ToggleUnderCollapsedAncestorsOpensThemWithoutClosingAnOpenOne) {
  Tree t;
  COXTreeItem* a = t.Add(&t.root, "a");
  COXTreeItem* a1 = t.Add(a, "a1");
  COXTreeItem* a11 = t.Add(a1, "a11");
  t.Add(a11, "leaf");
  // a1 is open but hidden from view by its collapsed parent.
  ASSERT_TRUE(a1->Expand(TVE_EXPAND, t.rows));
  ASSERT_TRUE(a11->Expand(TVE_TOGGLE, t.rows));
  EXPECT_TRUE(a1->IsExpanded()) << "the open parent stays open";
  EXPECT_TRUE(a->IsExpanded());
  EXPECT_EQ(t.rows.Texts(), "a a1 a11 leaf ");
}

TEST(TreeItem, CollapseResetDestroysTheSubtree) {
  Tree t;
  COXTreeItem* a = t.Add(&t.root, "a");
  COXTreeItem* a1 = t.Add(a, "a1");
  t.Add(a1, "a11");
  a->Expand(TVE_EXPAND, t.rows);
  a1->Expand(TVE_EXPAND, t.rows);
  EXPECT_EQ(t.rows.Texts(), "a a1 a11 ");
  EXPECT_TRUE(a->Expand(TVE_COLLAPSERESET, t.rows));
  EXPECT_EQ(t.rows.Texts(), "a ");
  EXPECT_EQ(a->GetFirstChild(), nullptr);
  EXPECT_FALSE(a->IsExpandedOnce());
  EXPECT_FALSE(a->IsExpanded());
}

TEST(TreeItem, SortingIsStableAndHonoursCallbacksAndCallbackTexts) {
  Tree t;
  COXTreeItem* b1 = t.Add(&t.root, "b");
  t.Add(&t.root, "a");
  COXTreeItem* b2 = t.Add(&t.root, "b");
  b1->m_tvi.lParam = 1;
  b2->m_tvi.lParam = 2;
  EXPECT_TRUE(t.root.SortChildren(0, TRUE, TRUE, nullptr, 0));
  EXPECT_EQ(t.Children(&t.root), "abb");
  EXPECT_EQ(t.root.GetFirstChild()->GetNextSibling(), b1) << "equal items keep their order";
  t.root.SortChildren(0, TRUE, FALSE, [](LPARAM, LPARAM, LPARAM) { return 0; }, 0);
  EXPECT_EQ(t.Children(&t.root), "abb");
  // A callback answering INT_MIN sorts descending without overflow.
  t.root.SortChildren(0, TRUE, FALSE, [](LPARAM a, LPARAM b, LPARAM) { return a < b ? INT_MIN : a > b ? 1 : 0; }, 0);
  EXPECT_EQ(t.root.GetFirstChild(), b2);
  Tree c;
  c.Add(&c.root, "z");
  c.Add(&c.root, LPSTR_TEXTCALLBACK);
  c.Add(&c.root, "a");
  c.root.SortChildren(0, TRUE, TRUE, nullptr, 0);
  EXPECT_EQ(std::string(c.root.GetFirstChild()->GetText()), "z") << "callback texts are never swapped";
}

TEST(TreeItem, SortedPositionAndSubtreeSorting) {
  Tree t;
  COXTreeItem* a = t.Add(&t.root, "a");
  t.Add(&t.root, "c");
  t.Add(a, "y");
  t.Add(a, "x");
  EXPECT_EQ(t.root.FindSortedPosition("b", TRUE), a->Handle());
  EXPECT_EQ(t.root.FindSortedPosition("0", TRUE), TVI_FIRST);
  EXPECT_EQ(t.root.FindSortedPosition("", TRUE), nullptr);
  EXPECT_EQ(t.root.FindSortedPosition("", FALSE), TVI_FIRST);
  t.root.SortChildren(0, FALSE, TRUE, nullptr, 0);
  EXPECT_EQ(t.Children(a), "xy");
  t.root.SortChildren(0, TRUE, FALSE, nullptr, 0);
  EXPECT_EQ(t.Children(&t.root), "ca");
  EXPECT_EQ(t.Children(a), "xy") << "this level only";
}

TEST(TreeItem, CellsAndTheirDefaults) {
  COXTreeItem item("x");
  EXPECT_FALSE(item.SetSubItem(0, COXTreeCell::kText, "no", -1, nullptr, 0, 0));
  EXPECT_TRUE(item.SetSubItem(1, COXTreeCell::kText | COXTreeCell::kImage, "one", 3, nullptr, 0, 0));
  EXPECT_TRUE(item.SetSubItem(2, COXTreeCell::kTextColor, nullptr, -1, nullptr, RGB(1, 2, 3), 0));
  EXPECT_EQ(item.GetImage(5), -1);
  EXPECT_STREQ(item.GetText(5), "");
  EXPECT_EQ(item.GetTextFormat(5), static_cast<UINT>(DT_END_ELLIPSIS));
  EXPECT_EQ(item.GetTextColor(5), 0u);
  EXPECT_FALSE(item.SetTextColor(RGB(9, 9, 9), 5)) << "no cell";
  EXPECT_EQ(item.GetImage(1), 3);
  EXPECT_EQ(item.GetTextColor(2), RGB(1, 2, 3));
  item.RemoveColumn(1);
  EXPECT_EQ(item.GetTextColor(1), RGB(1, 2, 3)) << "higher columns move down";
  EXPECT_EQ(item.GetCellCount(), 1);
  EXPECT_FALSE(item.SetEditMode(0, 4, {}));
  EXPECT_TRUE(item.SetEditMode(0, 3, {CString("a"), CString("b")}));
  EXPECT_EQ(item.GetEditMode(), 3u);
}

TEST(TreeItem, CopiesOwnTheirFontsTextsAndCells) {
  const size_t fonts = tavrin::gdi::LiveObjectCount(OBJ_FONT);
  {
    CFont font;
    font.CreateFont(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
    COXTreeItem root;
    root.MakeRoot();
    auto* a = new COXTreeItem("a");
    root.AddChild(a);
    EXPECT_TRUE(a->SetFont(&font));
    a->SetSubItem(1, COXTreeCell::kText | COXTreeCell::kFont, "cell", -1, &font, 0, 0);
    a->AddChild(new COXTreeItem("a1"));
    COXTreeItem* copy = COXTreeItem::CloneTree(&root, a, a->Handle(), TRUE);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->GetFont(), a->GetFont());
    EXPECT_NE(copy->GetFont()->GetSafeHandle(), a->GetFont()->GetSafeHandle());
    EXPECT_STREQ(copy->GetText(1), "cell");
    EXPECT_NE(copy->GetText(), a->GetText());
    EXPECT_STREQ(copy->GetFirstChild()->GetText(), "a1");
    EXPECT_EQ(copy->m_tvi.hItem, copy->Handle());
    EXPECT_EQ(root.CountSubtree(), 5);
    EXPECT_TRUE(a->SetFont(nullptr));
    EXPECT_EQ(a->GetFont(), nullptr);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(OBJ_FONT), fonts);
}

}  // namespace
