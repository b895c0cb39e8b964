// CMenu: permanent and temporary objects of menu handles.
#include <gtest/gtest.h>

#include "mfc/mfc.h"

namespace {

TEST(CMenuObjects, PermanentObjectsOwnTheirHandlesAndTemporaryOnesDoNot) {
  const size_t live = tavrin::win::LiveMenuCount();
  HMENU inner = nullptr;
  {
    CMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    EXPECT_EQ(CMenu::FromHandlePermanent(menu.m_hMenu), &menu);
    CMenu sub;
    sub.CreatePopupMenu();
    sub.AppendMenu(MF_STRING, 7, "Seven");
    inner = sub.Detach();
    EXPECT_EQ(CMenu::FromHandlePermanent(inner), nullptr);
    menu.AppendMenu(MF_POPUP, reinterpret_cast<UINT_PTR>(inner), "Sub");
    CMenu* temporary = menu.GetSubMenu(0);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->m_hMenu, inner);
    EXPECT_EQ(CMenu::FromHandle(inner), temporary) << "one temporary object per handle";
    CString text;
    EXPECT_EQ(temporary->GetMenuString(7, text, MF_BYCOMMAND), 5);
    EXPECT_STREQ(text.GetString(), "Seven");
    EXPECT_EQ(CMenu::FindOwnerOfItem(menu.m_hMenu, 7, 0), nullptr) << "the holder has no permanent object";
    CMenu::DeleteTempMap();
    EXPECT_TRUE(IsMenu(inner)) << "temporary objects own nothing";
  }
  EXPECT_FALSE(IsMenu(inner)) << "destroyed with its menu";
  EXPECT_EQ(tavrin::win::LiveMenuCount(), live);
}

}  // namespace
