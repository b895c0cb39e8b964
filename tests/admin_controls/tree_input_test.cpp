// The tree list under the mouse and the keyboard: selection and navigation codes, hit tests, the plus
// box, arrows, type-ahead, label editing and the header's divider double-click.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/tree_ctrl.h"
#include "test_util.h"
#include "win32/dialog.h"

namespace {

class EditHost : public CWnd {
 public:
  LRESULT beginAnswer = 0;
  int begins = 0;
  HTREEITEM begunItem = nullptr;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code == TVN_BEGINLABELEDITA) {
      ++begins;
      begunItem = reinterpret_cast<NMTVDISPINFO*>(lParam)->item.hItem;
      return beginAnswer;
    }
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&EditHost::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

// server (disk, printer (tray)) and other, in a tree with a header.
struct Tree {
  EditHost host;
  COXTreeCtrl tree;
  HTREEITEM server, disk, printer, tray, other;
  Tree() {
    EXPECT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 500, 400, nullptr, 0));
    tree.ModifyExStyle(0, 0x00100000);
    EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 500, 400), &host, 7));
    server = tree.InsertItem("server");
    disk = tree.InsertItem("disk", server);
    printer = tree.InsertItem("printer", server);
    tray = tree.InsertItem("tray", printer);
    other = tree.InsertItem("other");
  }
  std::string Rows() const {
    std::string s;
    for (int r = 0; r < tree.GetRowCount(); ++r) s += std::string(tree.GetItemText(tree.GetItemAtRow(r))) + " ";
    return s;
  }
  CRect RowRect(HTREEITEM item) const {
    CRect r;
    EXPECT_TRUE(tree.GetItemRect(item, &r, FALSE));
    return r;
  }
  void Click(CPoint p, UINT message = WM_LBUTTONDOWN) {
    tree.SendMessage(message, 0, MAKELPARAM(p.x, p.y));
    if (message == WM_LBUTTONDOWN) tree.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  }
  void Key(UINT key) { tree.SendMessage(WM_KEYDOWN, key, 0); }
  std::string Selected() const {
    std::string s;
    for (HTREEITEM i = tree.GetFirstSelectedItem(); i; i = tree.GetNextSelectedItem(i)) s += std::string(tree.GetItemText(i)) + " ";
    return s;
  }
};

}  // namespace

TEST(TreeInput, NavigationCodesAndSelection) {
  Tree t;
  t.tree.Expand(t.server, TVE_EXPAND);
  EXPECT_EQ(t.tree.GetFirstSelectedItem(), nullptr);
  EXPECT_EQ(t.tree.GetNextItem(t.disk, TVGN_ROOT), t.disk) << "first item of the level";
  EXPECT_EQ(t.tree.GetNextItem(nullptr, TVGN_ROOT), t.server);
  EXPECT_EQ(t.tree.GetNextItem(t.disk, TVGN_NEXT), t.printer);
  EXPECT_EQ(t.tree.GetNextItem(t.printer, TVGN_PREVIOUS), t.disk);
  EXPECT_EQ(t.tree.GetNextItem(t.disk, TVGN_PARENT), t.server);
  EXPECT_EQ(t.tree.GetNextItem(t.server, TVGN_CHILD), t.disk);
  EXPECT_EQ(t.tree.GetNextItem(nullptr, TVGN_FIRSTVISIBLE), t.server);
  EXPECT_EQ(t.tree.GetNextItem(t.printer, TVGN_NEXTVISIBLE), t.other) << "the collapsed tray has no row";
  EXPECT_EQ(t.tree.GetNextItem(t.tray, TVGN_NEXTVISIBLE), t.other) << "from an item without a row";
  EXPECT_EQ(t.tree.GetNextItem(t.other, TVGN_PREVIOUSVISIBLE), t.printer);
  EXPECT_EQ(t.tree.GetNextItem(t.server, 77), nullptr);

  EXPECT_TRUE(t.tree.SelectItem(t.disk));
  EXPECT_TRUE(t.tree.SelectItem(t.other));
  EXPECT_EQ(t.Selected(), "disk other ");
  EXPECT_EQ(t.tree.GetSelectedItem(), t.other) << "the focused row is selected";
  EXPECT_EQ(t.tree.GetItemState(t.other, TVIS_SELECTED | TVIS_FOCUSED), TVIS_SELECTED | TVIS_FOCUSED);
  t.tree.SetItemState(t.other, 0, TVIS_SELECTED);
  EXPECT_EQ(t.tree.GetSelectedItem(), nullptr) << "focused but no longer selected";
  EXPECT_TRUE(t.tree.Select(nullptr, TVGN_CARET));
  EXPECT_EQ(t.tree.GetFirstSelectedItem(), nullptr);
  EXPECT_FALSE(t.tree.SelectItem(t.tree.GetRootItem()));
  EXPECT_FALSE(t.tree.SelectSetFirstVisible(t.disk));

  EXPECT_TRUE(t.tree.SelectDropTarget(t.disk));
  EXPECT_TRUE(t.tree.SelectDropTarget(t.other));
  EXPECT_EQ(t.tree.GetDropHilightItem(), t.other);
  EXPECT_EQ(t.tree.GetItemState(t.disk, TVIS_DROPHILITED), 0u) << "one drop target at a time";
  EXPECT_EQ(t.tree.GetNextItem(nullptr, TVGN_DROPHILITE), t.other);
  EXPECT_TRUE(t.tree.SelectDropTarget(nullptr));
  EXPECT_EQ(t.tree.GetNextItem(nullptr, TVGN_DROPHILITE), nullptr);
  EXPECT_EQ(t.tree.GetItemState(t.server, TVIS_EXPANDED | TVIS_EXPANDEDONCE), TVIS_EXPANDED | TVIS_EXPANDEDONCE);

  // A hidden item's ancestors open up for it.
  EXPECT_TRUE(t.tree.HideItem(t.printer));
  EXPECT_EQ(t.tree.GetFirstHiddenItem(), t.printer);
  EXPECT_TRUE(t.tree.EnsureVisible(t.tray));
  EXPECT_EQ(t.Rows(), "server disk printer tray other ");
  EXPECT_FALSE(t.tree.IsItemHidden(t.printer));
}

TEST(TreeInput, HitTestFlagsFollowTheParts) {
  Tree t;
  CRect row = t.RowRect(t.server);
  CRect button, text;
  ASSERT_TRUE(t.tree.GetItemPartRect(0, t.server, &button));
  ASSERT_TRUE(t.tree.GetItemPartRect(3, t.server, &text));
  EXPECT_EQ(button, COXTreeCtrl::GetButtonRect(CRect(row.left, row.top, row.left + 15, row.bottom)));
  UINT flags = 0;
  EXPECT_EQ(t.tree.HitTest(button.CenterPoint(), &flags), 0);
  EXPECT_EQ(flags, 0x56u);
  EXPECT_EQ(t.tree.HitTest(text.CenterPoint(), &flags), 0);
  EXPECT_EQ(flags, 0x46u);
  EXPECT_EQ(t.tree.HitTest(CPoint(text.right + 40, row.top + 2), &flags), 0);
  EXPECT_EQ(flags, 0x446u) << "in the row, on none of its parts";
  TVHITTESTINFO info{{text.left + 1, t.RowRect(t.other).top + 1}, 0, nullptr};
  EXPECT_EQ(t.tree.HitTest(&info), t.other);
  EXPECT_EQ(t.tree.HitTest(CPoint(20, 5), &flags), -1);
  EXPECT_EQ(flags, TVHT_ABOVE) << "over the header";
  EXPECT_EQ(t.tree.HitTest(CPoint(20, 390), &flags), -1);
  EXPECT_EQ(flags, TVHT_NOWHERE) << "below the last row";
  EXPECT_EQ(t.tree.HitTest(CPoint(600, row.top + 2), &flags), -1);
  EXPECT_EQ(flags, TVHT_TORIGHT);

  // Without lines at the root a top-level item has no indent and so no button.
  t.tree.ModifyStyle(TVS_LINESATROOT, 0);
  EXPECT_TRUE(t.tree.GetItemPartRect(0, t.server, &button));
  EXPECT_TRUE(button.IsRectEmpty());
}

TEST(TreeInput, ThePlusBoxTogglesWithoutSelectingAndADoubleClickToggles) {
  Tree t;
  t.tree.SelectItem(t.other);
  CRect button;
  ASSERT_TRUE(t.tree.GetItemPartRect(0, t.server, &button));
  t.Click(button.CenterPoint());
  EXPECT_EQ(t.Rows(), "server disk printer other ");
  EXPECT_EQ(t.Selected(), "other ") << "the plus box leaves the selection";
  CRect text;
  t.tree.GetItemPartRect(3, t.disk, &text);
  t.Click(text.CenterPoint());
  EXPECT_EQ(t.Selected(), "disk ") << "a click on the label selects the row alone";
  t.tree.SetItemImage(t.other, 1, 2);
  EXPECT_EQ(t.Selected(), "disk ") << "changing another field leaves the row's selection";
  CRect row = t.RowRect(t.printer);
  t.Click(CPoint(row.right - 5, row.top + 3), WM_LBUTTONDBLCLK);
  EXPECT_EQ(t.Rows(), "server disk printer tray other ") << "anywhere on the row";
  t.Click(CPoint(row.right - 5, row.top + 3), WM_LBUTTONDBLCLK);
  EXPECT_EQ(t.Rows(), "server disk printer other ");
  // Below the rows a single-selection tree ignores the click.
  t.Click(CPoint(50, 380));
  EXPECT_EQ(t.Selected(), "disk ");
}

TEST(TreeInput, ArrowsMoveTheSelectionAndOpenOrCloseItems) {
  Tree t;
  t.tree.SelectItem(t.server);
  t.Key(VK_RIGHT);
  EXPECT_EQ(t.Rows(), "server disk printer other ") << "Right opens a collapsed item";
  EXPECT_EQ(t.Selected(), "server ");
  t.Key(VK_RIGHT);
  EXPECT_EQ(t.Selected(), "disk ") << "then moves to its first child";
  t.Key(VK_DOWN);
  EXPECT_EQ(t.Selected(), "printer ");
  t.Key(VK_END);
  EXPECT_EQ(t.Selected(), "other ");
  t.Key(VK_HOME);
  EXPECT_EQ(t.Selected(), "server ");
  t.Key(VK_NEXT);
  EXPECT_EQ(t.Selected(), "other ") << "a page holds every row";
  t.Key(VK_UP);
  t.Key(VK_LEFT);
  EXPECT_EQ(t.Selected(), "server ") << "Left on a closed child goes to its parent";
  t.Key(VK_LEFT);
  EXPECT_EQ(t.Rows(), "server other ");
  t.Key(VK_LEFT);
  EXPECT_EQ(t.Selected(), "") << "a top-level item's parent has no row";
}

TEST(TreeInput, TypeAheadSearchesColumnZeroAndStartsOverAfterThePause) {
  Tree t;
  t.tree.DeleteAllItems();
  for (const char* text : {"alpha", "beta", "Bravo", "charlie", "bear"}) t.tree.InsertItem(text);
  t.tree.SelectItem(t.tree.GetItemAtRow(0));
  t.Key('B');
  EXPECT_EQ(t.Selected(), "beta ");
  t.Key('R');
  EXPECT_EQ(t.Selected(), "Bravo ") << "BR in any case, from the focused row on";
  t.tree.SendMessage(WM_TIMER, 237);
  t.Key('B');
  EXPECT_EQ(t.Selected(), "bear ") << "a new search from the row after the focused one";
  t.Key('E');
  EXPECT_EQ(t.Selected(), "bear ") << "the focused row itself matches BE";
  t.tree.SendMessage(WM_TIMER, 237);
  t.Key('B');
  EXPECT_EQ(t.Selected(), "beta ") << "wrapping past the last row";
  t.tree.SendMessage(WM_TIMER, 237);
  t.Key('Z');
  EXPECT_EQ(t.Selected(), "beta ") << "no match leaves the selection";

  t.tree.DeleteAllItems();
  HTREEITEM only = t.tree.InsertItem("only");
  t.tree.SendMessage(WM_TIMER, 237);
  t.Key('O');
  EXPECT_EQ(t.tree.GetFirstSelectedItem(), nullptr) << "a single row has no type-ahead";
  (void)only;
}

TEST(TreeInput, LabelEditingCommitsToTheEditedColumnOrCancels) {
  Tree t;
  t.tree.InsertColumn(1, "Port", 0, 80);
  t.tree.SetSubItem(t.other, 1, COXTreeCell::kText, "port 1");
  EXPECT_EQ(t.tree.EditLabel(t.other, 0), nullptr) << "without the edit-labels style";
  t.tree.ModifyStyle(0, TVS_EDITLABELS);
  EXPECT_EQ(t.tree.EditLabel(t.other, -1), nullptr) << "a negative column";
  EXPECT_EQ(t.tree.EditLabel(t.other, 4), nullptr) << "a column past the list's";
  EXPECT_EQ(t.tree.EditLabel(t.disk, 0), nullptr) << "an item without a row";
  EXPECT_EQ(t.host.begins, 0);

  CWnd* edit = t.tree.EditLabel(t.other, 1);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(t.host.begins, 1);
  EXPECT_EQ(t.host.begunItem, t.other);
  EXPECT_EQ(t.tree.GetEditColumn(), 1);
  HWND editWindow = edit->GetSafeHwnd();
  ::SetWindowText(editWindow, "port 9");
  ::SendMessage(editWindow, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_FALSE(::IsWindow(editWindow));
  EXPECT_EQ(t.tree.GetItemText(t.other, 1), CString("port 9"));
  EXPECT_EQ(t.tree.GetItemText(t.other, 0), CString("other")) << "column 0 keeps its text";

  edit = t.tree.EditLabel(t.other, 0);
  ASSERT_NE(edit, nullptr);
  editWindow = edit->GetSafeHwnd();
  ::SetWindowText(editWindow, "renamed");
  ::SendMessage(editWindow, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(::IsWindow(editWindow));
  EXPECT_EQ(t.tree.GetItemText(t.other, 0), CString("other")) << "Escape cancels";

  t.tree.SetItemEditMode(t.other, 3, 0);
  EXPECT_EQ(t.tree.EditLabel(t.other, 0), nullptr) << "edit mode 3 is not editable";
  t.tree.SetItemEditMode(t.other, 0, 0);
  t.tree.SetItemDisabled(t.other);
  EXPECT_EQ(t.tree.EditLabel(t.other, 0), nullptr) << "a disabled item";
  t.tree.SetItemDisabled(t.other, FALSE);
  t.host.beginAnswer = 1;
  EXPECT_EQ(t.tree.EditLabel(t.other, 0), nullptr) << "the parent refused";
  EXPECT_EQ(t.tree.EditLabel(t.server, 1), nullptr) << "no cell in that column";

  // A tree destroyed while an editor is open takes the editor along.
  t.host.beginAnswer = 0;
  edit = t.tree.EditLabel(t.other, 0);
  ASSERT_NE(edit, nullptr);
  editWindow = edit->GetSafeHwnd();
  t.tree.DestroyWindow();
  EXPECT_FALSE(::IsWindow(editWindow));
}

TEST(TreeInput, ADividerDoubleClickSizesTheColumnToItsContent) {
  Tree t;
  t.tree.InsertColumn(1, "Port", 0, 30);
  t.tree.SetSubItem(t.server, 1, COXTreeCell::kText, "a rather long port text");
  t.tree.Expand(t.server, TVE_EXPAND);
  t.tree.Expand(t.printer, TVE_EXPAND);
  CHeaderCtrl* header = t.tree.GetHeaderCtrl();
  ASSERT_NE(header, nullptr);
  CRect column;
  header->GetItemRect(1, &column);
  header->SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(column.right, 5));
  const int width = static_cast<int>(t.tree.SendMessage(LVM_GETCOLUMNWIDTH, 1));
  EXPECT_EQ(width, t.tree.GetOptimalColumnWidth(1));
  EXPECT_GT(width, 100) << "as wide as the long text";

  header->GetItemRect(0, &column);
  header->SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(column.right, 5));
  const int first = static_cast<int>(t.tree.SendMessage(LVM_GETCOLUMNWIDTH, 0));
  EXPECT_EQ(first, t.tree.GetOptimalColumnWidth(0));
  EXPECT_GT(first, 45) << "the deepest row's three indent steps count";
  EXPECT_LT(first, 200);

  t.tree.DeleteAllItems();
  EXPECT_EQ(t.tree.GetOptimalColumnWidth(0), 6) << "no rows";
}
