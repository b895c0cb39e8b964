// The list's other faces: the large-icon grid, check boxes, custom-drawn rows and cell hit tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "mfc/controls.h"
#include "test_util.h"
#include "win32/imagelist.h"
#include "win32/window_manager.h"

namespace {

// Records every notification and lets a test answer custom drawing.
class ViewHost : public CWnd {
 public:
  std::vector<UINT> codes;
  std::vector<NMLISTVIEW> changes;
  std::vector<DWORD> stages;
  std::function<LRESULT(NMLVCUSTOMDRAW&)> draw;
  LRESULT OnNotify(WPARAM, LPARAM lParam) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    codes.push_back(hdr->code);
    if (hdr->code == LVN_ITEMCHANGED) changes.push_back(*reinterpret_cast<NMLISTVIEW*>(lParam));
    if (hdr->code == NM_CUSTOMDRAW && draw) {
      auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
      stages.push_back(cd->nmcd.dwDrawStage);
      return draw(*cd);
    }
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&ViewHost::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

COLORREF Pixel(HWND hwnd, int x, int y) {
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1, 0);
  if (!tavrin::win::CaptureWindow(hwnd, image)) return CLR_INVALID;
  uint32_t p = image.at(x, y);
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

// One solid square image of `colour`.
HIMAGELIST SolidImages(COLORREF colour) {
  HIMAGELIST images = ImageList_Create(kLargeIconSize, kLargeIconSize, ILC_COLOR24, 1, 1);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kLargeIconSize, kLargeIconSize);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HBRUSH brush = CreateSolidBrush(colour);
  RECT all{0, 0, kLargeIconSize, kLargeIconSize};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  SelectObject(dc, old);
  ImageList_Add(images, bitmap, nullptr);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return images;
}

RECT ItemRect(CListCtrl& list, int item, int code) {
  RECT rc{code, 0, 0, 0};
  list.SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rc));
  return rc;
}

int Hit(CListCtrl& list, POINT pt, UINT* flags, UINT message = LVM_HITTEST, int* sub = nullptr) {
  LVHITTESTINFO hit{pt, 0, -1, -1};
  int item = static_cast<int>(list.SendMessage(message, 0, reinterpret_cast<LPARAM>(&hit)));
  *flags = hit.flags;
  if (sub) *sub = hit.iSubItem;
  return item;
}

}  // namespace

TEST(ListViews, LargeIconGridLayoutHitTestsKeysAndPaint) {
  ViewHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 150, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SHOWSELALWAYS, CRect(0, 0, 200, 150), &host, 4));
  HIMAGELIST images = SolidImages(RGB(255, 0, 0));
  list.SendMessage(LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(list.SendMessage(LVM_GETIMAGELIST, LVSIL_NORMAL)), images);
  for (int i = 0; i < 5; ++i) {
    LVITEM item{LVIF_TEXT | LVIF_IMAGE, i, 0, 0, 0, const_cast<LPSTR>("Hub"), 0, 0, 0};
    list.SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  EXPECT_FALSE(::IsWindowVisible(reinterpret_cast<HWND>(list.SendMessage(LVM_GETHEADER)))) << "no header in icon view";

  // Two cells across a 200-pixel client: item 3 sits in the second column of the second line.
  const RECT bounds = ItemRect(list, 3, LVIR_BOUNDS);
  EXPECT_EQ(bounds.left, kLargeIconCellWidth);
  EXPECT_EQ(bounds.top, kLargeIconCellHeight);
  EXPECT_EQ(bounds.right - bounds.left, kLargeIconCellWidth);
  const RECT icon = ItemRect(list, 3, LVIR_ICON);
  EXPECT_EQ(icon.right - icon.left, kLargeIconSize);
  EXPECT_EQ((icon.left + icon.right) / 2, (bounds.left + bounds.right) / 2) << "icon centred in its cell";
  const RECT label = ItemRect(list, 3, LVIR_LABEL);
  EXPECT_GE(label.top, icon.bottom) << "label under the icon";

  UINT flags = 0;
  EXPECT_EQ(Hit(list, POINT{icon.left + 5, icon.top + 5}, &flags), 3);
  EXPECT_EQ(flags, LVHT_ONITEMICON);
  EXPECT_EQ(Hit(list, POINT{label.left + 5, label.top + 2}, &flags), 3);
  EXPECT_EQ(flags, LVHT_ONITEMLABEL);
  EXPECT_EQ(Hit(list, POINT{185, 10}, &flags), -1) << "right of the grid";
  EXPECT_EQ(flags, LVHT_NOWHERE);
  EXPECT_EQ(Hit(list, POINT{kLargeIconCellWidth / 2, 2 * kLargeIconCellHeight + 20}, &flags), 4);
  EXPECT_EQ(Hit(list, POINT{kLargeIconCellWidth + 30, 2 * kLargeIconCellHeight + 20}, &flags), -1) << "past the last item";

  // A click selects; down moves a line of cells, right one cell.
  const RECT icon0 = ItemRect(list, 0, LVIR_ICON);
  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(icon0.left + 4, icon0.top + 4));
  EXPECT_EQ(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0);
  list.SendMessage(WM_KEYDOWN, VK_DOWN);
  EXPECT_EQ(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 2);
  list.SendMessage(WM_KEYDOWN, VK_RIGHT);
  EXPECT_EQ(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 3);
  list.SendMessage(WM_KEYDOWN, VK_DOWN);
  EXPECT_EQ(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 3) << "no cell below";

  // The large image in its cell, the window colour between cells.
  EXPECT_EQ(Pixel(list.m_hWnd, (icon0.left + icon0.right) / 2, (icon0.top + icon0.bottom) / 2), RGB(255, 0, 0));
  EXPECT_EQ(Pixel(list.m_hWnd, 190, 140), GetSysColor(COLOR_WINDOW));

  // Repainting costs no GDI objects.
  const size_t live = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    ::InvalidateRect(list.m_hWnd, nullptr, TRUE);
    tavrin::win::PaintPending();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), live);
  list.DestroyWindow();
  ImageList_Destroy(images);
}

TEST(ListViews, CheckBoxesToggleByClickAndSpaceAndNotify) {
  ViewHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, 5));
  list.InsertColumn(0, "Device", 0, 150);
  list.InsertItem(0, "first");
  EXPECT_EQ(list.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES), 0);
  EXPECT_EQ(static_cast<DWORD>(list.SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)), LVS_EX_CHECKBOXES);
  list.InsertItem(1, "second");
  EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1)) << "existing rows get a box";
  EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1)) << "new rows get a box";

  const int y1 = kHeaderHeight + kListRowHeight + 8;
  UINT flags = 0;
  EXPECT_EQ(Hit(list, POINT{5, y1}, &flags), 1);
  EXPECT_EQ(flags, LVHT_ONITEMSTATEICON);
  EXPECT_EQ(Hit(list, POINT{40, y1}, &flags), 1);
  EXPECT_EQ(flags, LVHT_ONITEMLABEL);

  host.changes.clear();
  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(5, y1));
  EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
  ASSERT_EQ(host.changes.size(), 1u);
  EXPECT_EQ(host.changes[0].iItem, 1);
  EXPECT_EQ(host.changes[0].uOldState & LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(1));
  EXPECT_EQ(host.changes[0].uNewState & LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(2));
  EXPECT_EQ(list.SendMessage(LVM_GETSELECTEDCOUNT), 0) << "the box toggles without selecting";

  // The tick shows in the checked box only.
  const int box1 = kHeaderHeight + kListRowHeight + (kListRowHeight - 13) / 2;
  const int box0 = kHeaderHeight + (kListRowHeight - 13) / 2;
  EXPECT_EQ(Pixel(list.m_hWnd, 1, box1), GetSysColor(COLOR_WINDOWTEXT)) << "box frame";
  EXPECT_EQ(Pixel(list.m_hWnd, 6, box1 + 8), GetSysColor(COLOR_WINDOWTEXT)) << "tick";
  EXPECT_EQ(Pixel(list.m_hWnd, 6, box0 + 8), GetSysColor(COLOR_WINDOW)) << "no tick";

  // Space toggles the focused row; selecting emits changes too.
  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(40, kHeaderHeight + 4));
  host.changes.clear();
  list.SendMessage(WM_KEYDOWN, VK_SPACE);
  EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
  list.SendMessage(WM_KEYDOWN, VK_SPACE);
  EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
  EXPECT_EQ(host.changes.size(), 2u);
  // Setting a state it already has is no change.
  LVITEM same{};
  same.stateMask = LVIS_STATEIMAGEMASK;
  same.state = INDEXTOSTATEIMAGEMASK(1);
  list.SendMessage(LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&same));
  EXPECT_EQ(host.changes.size(), 2u);
}

TEST(ListViews, CustomDrawColoursRowsAndCellsAndSubItemHitTest) {
  ViewHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, 6));
  list.InsertColumn(0, "Name", 0, 80);
  list.InsertColumn(1, "State", 0, 80);
  for (int i = 0; i < 3; ++i) list.InsertItem(i, "");
  constexpr COLORREF kGreen = RGB(0, 128, 0);
  constexpr COLORREF kBlue = RGB(0, 0, 200);
  host.draw = [&](NMLVCUSTOMDRAW& cd) -> LRESULT {
    if (cd.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (cd.nmcd.dwDrawStage == CDDS_ITEMPREPAINT && cd.nmcd.dwItemSpec == 1) {
      cd.clrTextBk = kGreen;
      return CDRF_NOTIFYSUBITEMDRAW;
    }
    if (cd.nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM) && cd.iSubItem == 1) cd.clrTextBk = kBlue;
    if (cd.nmcd.dwItemSpec == 2) return CDRF_SKIPDEFAULT;
    return CDRF_DODEFAULT;
  };
  const int y1 = kHeaderHeight + kListRowHeight + 2;
  EXPECT_EQ(Pixel(list.m_hWnd, 40, y1), kGreen) << "row colour";
  EXPECT_EQ(Pixel(list.m_hWnd, 120, y1), kBlue) << "cell colour";
  EXPECT_EQ(Pixel(list.m_hWnd, 40, kHeaderHeight + 2), GetSysColor(COLOR_WINDOW)) << "default row";
  ASSERT_FALSE(host.stages.empty());
  EXPECT_EQ(host.stages.front(), CDDS_PREPAINT);
  EXPECT_EQ(std::count(host.stages.begin(), host.stages.end(), CDDS_ITEMPREPAINT | CDDS_SUBITEM), 2) << "both cells of row 1 only";

  UINT flags = 0;
  int sub = -1;
  EXPECT_EQ(Hit(list, POINT{100, y1}, &flags, LVM_SUBITEMHITTEST, &sub), 1);
  EXPECT_EQ(sub, 1);
  EXPECT_EQ(Hit(list, POINT{10, y1}, &flags, LVM_SUBITEMHITTEST, &sub), 1);
  EXPECT_EQ(sub, 0);
  EXPECT_EQ(Hit(list, POINT{180, y1}, &flags, LVM_SUBITEMHITTEST, &sub), -1) << "right of the columns";
}

TEST(ListViews, PlacedItemsAndLargerImagesInIconView) {
  ViewHost host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 160, 200, nullptr, 0));
  CListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_SINGLESEL, CRect(0, 0, 160, 200), &host, 7));
  HIMAGELIST images = ImageList_Create(50, 50, ILC_COLOR16, 0, 10);
  list.SendMessage(LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
  list.InsertItem(0, "Device Mapping");
  list.InsertItem(1, "Server Manager");
  const RECT bounds = ItemRect(list, 0, LVIR_BOUNDS);
  const RECT icon = ItemRect(list, 0, LVIR_ICON);
  EXPECT_EQ(icon.right - icon.left, 50) << "the image list's size";
  EXPECT_GE(bounds.right - bounds.left, 50);
  EXPECT_TRUE(list.SendMessage(LVM_SETITEMPOSITION, 0, MAKELPARAM(30, 0)));
  EXPECT_TRUE(list.SendMessage(LVM_SETITEMPOSITION, 1, MAKELPARAM(30, 80)));
  EXPECT_FALSE(list.SendMessage(LVM_SETITEMPOSITION, 2, MAKELPARAM(0, 0))) << "no such item";
  POINT at{};
  ASSERT_TRUE(list.SendMessage(LVM_GETITEMPOSITION, 1, reinterpret_cast<LPARAM>(&at)));
  EXPECT_EQ(at.x, 30);
  EXPECT_EQ(at.y, 80);
  const RECT icon1 = ItemRect(list, 1, LVIR_ICON);
  UINT flags = 0;
  EXPECT_EQ(Hit(list, POINT{icon1.left + 2, icon1.top + 2}, &flags), 1);
  EXPECT_EQ(flags, LVHT_ONITEMICON);
  list.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(icon1.left + 2, icon1.top + 2));
  EXPECT_EQ(list.SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
  list.DestroyWindow();
  ImageList_Destroy(images);
}
