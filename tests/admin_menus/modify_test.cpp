// Finding items in a menu tree and changing owner-drawn items in place: texts, icons from image lists,
// bitmaps, swatches and toolbar or bitmap resources, and the menu's own ModifyMenu.
#include <cstring>
#include <vector>

#include "admin/menus/NewMenuBitmaps.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/resources.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

constexpr WORD kToolBar = 960;  // buttons 101 and 103, a separator between
constexpr WORD kBitmapOnly = 961;

// A 24-bit bitmap of `icons` 16x15 pictures, each pixel of picture k of blue 40 + 100 k.
std::vector<uint8_t> IconsBitmap(int icons) {
  const int width = 16 * icons, height = 15, stride = width * 3;
  std::vector<uint8_t> bytes(40 + stride * height, 0);
  const uint32_t header[3] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  std::memcpy(bytes.data(), header, sizeof header);
  const uint16_t planesAndBits[2] = {1, 24};
  std::memcpy(bytes.data() + 12, planesAndBits, sizeof planesAndBits);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bytes[40 + y * stride + x * 3] = static_cast<uint8_t>(40 + 100 * (x / 16));
  return bytes;
}

class ModifyTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    static const std::vector<uint8_t> strip = IconsBitmap(2), single = IconsBitmap(1);
    static const uint16_t toolbar[] = {1, 16, 15, 3, 101, 0, 103};
    static const tavrin::res::Entry entries[] = {
        {2, kToolBar, nullptr, strip.data(), strip.size()},
        {241, kToolBar, nullptr, reinterpret_cast<const uint8_t*>(toolbar), sizeof toolbar},
        {2, kBitmapOnly, nullptr, single.data(), single.size()},
    };
    tavrin::res::Register(entries);
    bar.CreateMenu();
    file = bar.AppendPopup("&File");
    file->AppendMenu(MF_STRING, 101, "&Open");
    file->AppendMenu(MF_STRING, 102, "&Save");
    edit = bar.AppendPopup("&Edit");
    edit->AppendMenu(MF_STRING, 102, "&Save");
    edit->AppendMenu(MF_STRING, 103, "Cu&t");
    bar.AppendMenu(MF_STRING, 104, "&Go");
  }
  static CNewMenuItemData* DataOf(CNewMenu* menu, UINT position) {
    MENUITEMINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA | MIIM_TYPE;
    if (!menu->GetMenuItemInfo(position, &info, TRUE) || !(info.fType & MFT_OWNERDRAW)) return nullptr;
    return reinterpret_cast<CNewMenuItemData*>(info.dwItemData);
  }
  CNewMenu bar;
  CNewMenu* file = nullptr;
  CNewMenu* edit = nullptr;
};

TEST_F(ModifyTest, FindingVisitsEveryOccurrenceAndLooksIntoThePopups) {
  int position = -1;
  EXPECT_EQ(bar.FindCommand(102, &position), file);
  EXPECT_EQ(position, 1);
  std::vector<CNewMenu*> menus{file};
  std::vector<int> positions{1};
  EXPECT_EQ(bar.FindNextCommand(102, &position, menus, positions), edit);
  EXPECT_EQ(position, 0);
  menus.push_back(edit);
  positions.push_back(0);
  EXPECT_EQ(bar.FindNextCommand(102, &position, menus, positions), nullptr);
  EXPECT_EQ(position, -1);

  EXPECT_EQ(bar.FindItemByText("Cu&t", &position), edit);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(bar.FindItemByText("&Go", &position), &bar) << "the menu's own items first";
  EXPECT_EQ(position, 2);
  EXPECT_EQ(bar.FindItemByText("Paste", &position), nullptr);

  CNewMenuItemData* cut = bar.FindItemRecordById(103);
  ASSERT_NE(cut, nullptr) << "found in the menu that holds the command";
  EXPECT_EQ(cut, edit->m_items[1]);
  EXPECT_EQ(bar.FindItemRecordById(999), nullptr);
}

TEST_F(ModifyTest, EveryOccurrenceOfACommandChangesAndKeepsItsOwnRecord) {
  ASSERT_TRUE(bar.ModifyOwnerDrawItem("Save &All", 102, static_cast<CNewMenuIcons*>(nullptr), -1));
  for (CNewMenu* menu : {file, edit}) {
    int position = -1;
    ASSERT_EQ(menu->FindCommand(102, &position), menu);
    CNewMenuItemData* record = DataOf(menu, static_cast<UINT>(position));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record, menu->m_items[static_cast<size_t>(position)]) << "each item shows its own record";
    EXPECT_STREQ(record->m_szMenuText.GetString(), "Save &All");
  }
  EXPECT_FALSE(bar.ModifyOwnerDrawItem("x", 999, static_cast<CNewMenuIcons*>(nullptr), -1));
  EXPECT_EQ(file->m_items.size(), 2u) << "no record for a command that is nowhere";
}

TEST_F(ModifyTest, IconsComeFromAToolbarWithTheButtonElseFromTheBitmapOfThatId) {
  EXPECT_TRUE(CNewMenu::HasToolBarButton(103, kToolBar));
  EXPECT_FALSE(CNewMenu::HasToolBarButton(102, kToolBar));
  EXPECT_FALSE(CNewMenu::HasToolBarButton(103, 999));

  // The toolbar has button 103: its set and the button's image.
  ASSERT_TRUE(edit->InsertMenu(0, MF_BYPOSITION | MF_STRING, 103, "Cut &again", kToolBar));
  CNewMenuItemData* again = edit->m_items[0];
  ASSERT_NE(again->m_pMenuIcon, nullptr);
  EXPECT_EQ(dynamic_cast<CNewMenuBitmaps*>(again->m_pMenuIcon), nullptr) << "the toolbar's own set";
  EXPECT_EQ(again->m_nMenuIconOffset, 3);
  // No button 102 in it: the bitmap resource of the id instead.
  ASSERT_TRUE(bar.ModifyOwnerDrawItem(nullptr, 102, static_cast<int>(kBitmapOnly)));
  auto* bitmaps = dynamic_cast<CNewMenuBitmaps*>(file->m_items[1]->m_pMenuIcon);
  ASSERT_NE(bitmaps, nullptr);
  EXPECT_EQ(edit->m_items[1]->m_pMenuIcon, bitmaps) << "both occurrences share the set";
  EXPECT_EQ(bitmaps->GetRefCount(), 2);
  // Below 0: no icon.
  ASSERT_TRUE(file->InsertMenu(0, MF_BYPOSITION | MF_STRING, 105, "Plain"));
  EXPECT_EQ(file->m_items[0]->m_pMenuIcon, nullptr);
  EXPECT_EQ(file->m_items[0]->m_nMenuIconOffset, -1);

  // Several toolbars: true only when each one loaded; the good ones still give their icons.
  const UINT both[] = {kToolBar, 999};
  EXPECT_FALSE(bar.LoadToolBars(both, 2));
  ASSERT_EQ(file->m_items[1]->m_nID, 101u);
  EXPECT_NE(file->m_items[1]->m_pMenuIcon, nullptr);
  EXPECT_EQ(file->m_items[1]->m_nMenuIconOffset, 0) << "Open is the toolbar's first button";
  EXPECT_TRUE(bar.LoadToolBars(both, 1));
}

TEST_F(ModifyTest, TheToolbarQuestionWorksOnTheMainWindowToo) {
  CWinApp app("Toolbars");
  CWnd main;
  ASSERT_TRUE(main.CreateEx(0, "main", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, 0));
  app.m_pMainWnd = &main;
  EXPECT_TRUE(CNewMenu::HasToolBarButton(101, kToolBar));
  EXPECT_EQ(::GetWindow(main.m_hWnd, GW_CHILD), nullptr) << "the toolbar went again";
  app.m_pMainWnd = nullptr;
  main.DestroyWindow();
}

TEST_F(ModifyTest, ItemsFoundByTextTakeNewTextsAndBitmaps) {
  EXPECT_EQ(bar.ModifyOwnerDrawItemByText("Paste", "Nothing", -1), FALSE);
  EXPECT_EQ(bar.ModifyOwnerDrawItemByText("Cu&t", "Cu&t", static_cast<int>(kBitmapOnly)), TRUE)
      << "1 when the text stays";
  CNewMenuItemData* cut = edit->m_items[1];
  ASSERT_NE(cut->m_pMenuIcon, nullptr);
  EXPECT_EQ(cut->m_nMenuIconOffset, 0);
  EXPECT_TRUE(bar.ModifyOwnerDrawItemByText("Cut &out", "Cu&t", -1));
  EXPECT_STREQ(cut->m_szMenuText.GetString(), "Cut &out");
  EXPECT_EQ(cut->m_pMenuIcon, nullptr);
  EXPECT_EQ(DataOf(edit, 1), cut) << "owner-drawn again with its record";
  char text[32] = {};
  EXPECT_EQ(::GetMenuString(edit->m_hMenu, 1, text, sizeof text, MF_BYPOSITION), 0) << "owner-drawn: no string";
}

TEST_F(ModifyTest, PicturesOfBitmapsAndSwatchesBecomeIcons) {
  const size_t objects = tavrin::gdi::LiveObjectCount();
  {
    ASSERT_TRUE(bar.ModifyOwnerDrawItem(nullptr, 101, RGB(200, 0, 0), RGB(0, 0, 0), 0xFFFFFFFF));
    CNewMenuItemData* open = file->m_items[0];
    ASSERT_NE(open->m_pMenuIcon, nullptr);
    HICON icon = ImageList_GetIcon(open->m_pMenuIcon->m_imageList.m_hImageList, open->m_nMenuIconOffset, 0);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, info.hbmColor);
    EXPECT_EQ(GetPixel(dc, 8, 7), RGB(200, 0, 0)) << "the fill";
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0)) << "the frame";
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);

    CBitmap picture;
    picture.Attach(LoadBitmap(nullptr, MAKEINTRESOURCE(kBitmapOnly)));
    ASSERT_TRUE(bar.ModifyOwnerDrawItem("Cu&t", 103, &picture));
    EXPECT_NE(edit->m_items[1]->m_pMenuIcon, nullptr);
  }
  bar.DestroyMenu();
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), objects) << "the sets went with the items";
}

TEST_F(ModifyTest, TheMenusModifyMenuKeepsItemsOwnerDrawnAndPopupsSound) {
  const size_t live = tavrin::win::LiveMenuCount();
  // By command: the item is changed where it lives.
  ASSERT_TRUE(bar.ModifyMenu(103, MF_BYCOMMAND | MF_STRING, 106, "&Copy"));
  CNewMenuItemData* copy = DataOf(edit, 1);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy, edit->m_items[1]);
  EXPECT_EQ(copy->m_nID, 106u);
  EXPECT_EQ(edit->GetMenuItemID(1), 106u);
  EXPECT_STREQ(copy->m_szMenuText.GetString(), "&Copy");

  // A popup replaced by a plain item: its object and handle go, nothing is left dangling.
  const HMENU editHandle = edit->m_hMenu;
  ASSERT_TRUE(bar.ModifyMenu(1, MF_BYPOSITION | MF_STRING, 107, "&Help"));
  EXPECT_FALSE(IsMenu(editHandle));
  EXPECT_EQ(CMenu::FromHandlePermanent(editHandle), nullptr);
  EXPECT_EQ(bar.m_subMenus.size(), 1u);
  EXPECT_EQ(DataOf(&bar, 1), bar.m_items[1]);
  EXPECT_EQ(bar.m_items[1]->m_nID, 107u);
  EXPECT_LT(tavrin::win::LiveMenuCount(), live);

  // A new popup in its place gets this menu as parent.
  CNewMenu* tools = new CNewMenu;
  tools->CreatePopupMenu();
  tools->AppendMenu(MF_STRING, 108, "&Options");
  ASSERT_TRUE(bar.ModifyMenu(1, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(tools->m_hMenu), "&Tools"));
  EXPECT_EQ(tools->m_hParent, bar.m_hMenu);
  EXPECT_EQ(bar.GetSubMenu(1), tools);
  ASSERT_TRUE(bar.ModifyMenu(1, MF_BYPOSITION | MF_STRING, 109, "&Back"));  // tools' handle goes with it
  tools->Detach();
  delete tools;
  EXPECT_FALSE(bar.ModifyMenu(9, MF_BYPOSITION | MF_STRING, 110, "Nowhere"));
}

}  // namespace
