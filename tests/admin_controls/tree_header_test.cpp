// The tree list's header: shared mouse hook, sort marks and the divider double-click.
#include <gtest/gtest.h>

#include "controls/tree_header.h"
#include "test_util.h"

namespace {

using controls_test::SurfaceDc;

// A parent that records the optimal-width requests of its header.
class HeaderHost : public CWnd {
 public:
  int asked = -1;
  LRESULT OnOptimal(WPARAM wParam, LPARAM) { asked = static_cast<int>(wParam); return 0; }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&HeaderHost::OnOptimal>(WM_OXTREE_OPTIMALWIDTH)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

void AddColumns(CHeaderCtrl& header) {
  for (int i = 0; i < 3; ++i) {
    HDITEM item{};
    item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
    item.cxy = 80;
    item.fmt = HDF_STRING;
    item.pszText = const_cast<LPSTR>(i == 0 ? "Device Info" : i == 1 ? "Port" : "Class");
    header.InsertItem(i, &item);
  }
}

TEST(TreeHeader, TheMouseHookStaysWhileAnyHeaderUsesIt) {
  HeaderHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 100, nullptr, 0));
  ASSERT_EQ(COXTreeHeader::HookHandle(), nullptr);
  COXTreeHeader first, second;
  ASSERT_TRUE(first.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 20), &host, 1));
  ASSERT_TRUE(second.Create(WS_CHILD | WS_VISIBLE, CRect(0, 40, 300, 60), &host, 2));
  EXPECT_NE(COXTreeHeader::HookHandle(), nullptr);
  first.DestroyWindow();
  EXPECT_NE(COXTreeHeader::HookHandle(), nullptr) << "the second header still needs it";
  second.DestroyWindow();
  EXPECT_EQ(COXTreeHeader::HookHandle(), nullptr);
}

TEST(TreeHeader, SortColumnMovesTheOwnerDrawnMark) {
  HeaderHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 100, nullptr, 0));
  COXTreeHeader header;
  ASSERT_TRUE(header.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 20), &host, 1));
  AddColumns(header);
  auto format = [&](int i) {
    HDITEM item{};
    item.mask = HDI_FORMAT;
    header.GetItem(i, &item);
    return item.fmt;
  };
  EXPECT_TRUE(header.SortColumn(1, 1));
  EXPECT_TRUE(format(1) & HDF_OWNERDRAW);
  EXPECT_TRUE(header.SortColumn(2, -1));
  EXPECT_FALSE(format(1) & HDF_OWNERDRAW);
  EXPECT_TRUE(format(1) & HDF_STRING);
  EXPECT_TRUE(format(2) & HDF_OWNERDRAW);
  EXPECT_TRUE(header.SortColumn(-1, 1));
  EXPECT_EQ(header.GetSortOrder(), 0);
  EXPECT_FALSE(format(2) & HDF_OWNERDRAW);
  // The divider double-click asks the parent for that column's optimal width.
  header.SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(160, 5));
  EXPECT_EQ(host.asked, 1);
  host.asked = -1;
  header.SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(40, 5));
  EXPECT_EQ(host.asked, -1);
}

TEST(TreeHeader, TheAscendingMarkSitsAtItsCoordinates) {
  HeaderHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 100, nullptr, 0));
  COXTreeHeader header;
  ASSERT_TRUE(header.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 20), &host, 1));
  AddColumns(header);
  header.SortColumn(0, 1);
  SurfaceDc out(100, 24);
  SIZE space{};
  GetTextExtentPoint32(out.hdc, " ", 1, &space);
  const int u = 2 * space.cx, R = 80, B = 20;
  DRAWITEMSTRUCT di{ODT_HEADER, 1, 0, ODA_DRAWENTIRE, 0, header.m_hWnd, out.hdc, {0, 0, R, B}, 0};
  const size_t before = tavrin::gdi::LiveObjectCount();
  header.DrawItem(&di);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  EXPECT_EQ(out.At(R - 2 * u, u - 1), GetSysColor(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(out.At(R - 5 * u / 2 - 1, B - u - 1), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(out.At(R + 5, 5), RGB(255, 255, 255)) << "clipped to the item";
}

}  // namespace
