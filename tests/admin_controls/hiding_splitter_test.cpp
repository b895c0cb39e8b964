// Hiding and showing the columns and a row of the splitter.
#include <gtest/gtest.h>

#include "controls/hiding_splitter.h"

namespace {

class PaneView : public CWnd {
  DECLARE_DYNCREATE(PaneView)

 protected:
  void PostNcDestroy() override { delete this; }
};
IMPLEMENT_DYNCREATE(PaneView, CWnd)

struct Grid {
  CWnd frame;
  CHidingSplitterWnd split;
  Grid(int rows, int cols) {
    EXPECT_TRUE(frame.CreateEx(0, "frame", WS_POPUP | WS_VISIBLE, 0, 0, 600, 400, nullptr, 0));
    EXPECT_TRUE(split.CreateStatic(&frame, rows, cols));
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) EXPECT_TRUE(split.CreateView(r, c, RUNTIME_CLASS(PaneView), CSize(100 + 10 * c, 80), nullptr));
    split.RecalcLayout();
  }
  // The grid column the pane created in `col` (row 0) now occupies.
  int SlotOf(int row, int col) const { return split.CreatedPane(row, col)->GetDlgCtrlID() - 0xE900; }
};

TEST(HidingSplitter, ColumnsHideAndComeBackInOrderWithTheirWidths) {
  Grid g(1, 3);
  int width0 = 0, minimum = 0;
  g.split.GetColumnInfo(0, width0, minimum);
  EXPECT_EQ(width0, 100);
  EXPECT_FALSE(g.split.ShowColumn(1)) << "shown already";
  EXPECT_TRUE(g.split.HideColumn(1));
  EXPECT_FALSE(g.split.HideColumn(1)) << "hidden already";
  EXPECT_TRUE(g.split.HideColumn(0));
  EXPECT_EQ(g.split.GetColumnCount(), 1);
  EXPECT_EQ(g.SlotOf(0, 2), 0);
  EXPECT_FALSE(g.split.CreatedPane(0, 0)->IsWindowVisible());
  EXPECT_TRUE(g.split.CreatedPane(0, 2)->IsWindowVisible());
  EXPECT_FALSE(g.split.HideColumn(2)) << "the last shown column stays";
  EXPECT_EQ(g.split.GetColumnCount(), 1);
  EXPECT_TRUE(g.split.ShowColumn(0));
  EXPECT_EQ(g.SlotOf(0, 0), 0);
  EXPECT_EQ(g.SlotOf(0, 2), 1);
  EXPECT_EQ(g.SlotOf(0, 1), 2) << "hidden columns follow";
  int cur = 0;
  g.split.GetColumnInfo(0, cur, minimum);
  EXPECT_EQ(cur, width0) << "the saved width comes back";
  EXPECT_TRUE(g.split.CreatedPane(0, 0)->IsWindowVisible());
}

TEST(HidingSplitter, ColumnsOutsideTheGridAreRefused) {
  Grid g(1, 3);
  EXPECT_FALSE(g.split.ShowColumn(99));
  EXPECT_FALSE(g.split.ShowColumn(-1));
  EXPECT_FALSE(g.split.HideColumn(99));
  EXPECT_EQ(g.split.GetColumnCount(), 3);
  EXPECT_EQ(g.split.ShownColumns().size(), 3u);
  EXPECT_TRUE(g.split.HiddenColumns().empty());
}

TEST(HidingSplitter, HidingTheActiveColumnMovesTheActivePane) {
  Grid g(1, 3);
  g.split.SetActivePane(0, 1);
  ASSERT_TRUE(g.split.HideColumn(1));
  int row = -1, col = -1;
  EXPECT_EQ(g.split.GetActivePane(&row, &col), g.split.CreatedPane(0, 2));
  g.split.SetActivePane(0, 1);  // column 2 now sits in slot 1, the last one
  ASSERT_TRUE(g.split.HideColumn(2));
  EXPECT_EQ(g.split.GetActivePane(&row, &col), g.split.CreatedPane(0, 0));
}

TEST(HidingSplitter, OneRowHidesAndComesBack) {
  Grid g(2, 2);
  EXPECT_FALSE(g.split.ShowRow()) << "nothing hidden";
  EXPECT_FALSE(g.split.HideRow(2));
  EXPECT_FALSE(g.split.HideRow(-1));
  ASSERT_TRUE(g.split.HideRow(0));
  EXPECT_FALSE(g.split.HideRow(0)) << "one row at a time";
  EXPECT_EQ(g.split.GetRowCount(), 1);
  EXPECT_EQ(g.split.CreatedPane(1, 0)->GetDlgCtrlID(), 0xE900);
  EXPECT_EQ(g.split.CreatedPane(1, 1)->GetDlgCtrlID(), 0xE901);
  EXPECT_EQ(g.split.CreatedPane(0, 0)->GetDlgCtrlID(), 0xE900 + 0 * 16 + 2);
  EXPECT_EQ(g.split.CreatedPane(0, 1)->GetDlgCtrlID(), 0xE900 + 1 * 16 + 2);
  EXPECT_FALSE(g.split.CreatedPane(0, 0)->IsWindowVisible());
  ASSERT_TRUE(g.split.ShowRow());
  EXPECT_EQ(g.split.GetRowCount(), 2);
  EXPECT_EQ(g.split.GetHiddenRow(), -1);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_EQ(g.split.CreatedPane(r, c)->GetDlgCtrlID(), 0xE900 + r * 16 + c);
  EXPECT_TRUE(g.split.CreatedPane(0, 0)->IsWindowVisible());
  EXPECT_FALSE(g.split.ShowRow());
  Grid single(1, 2);
  EXPECT_FALSE(single.split.HideRow(0)) << "the only row stays";
}

}  // namespace
