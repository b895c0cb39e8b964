// The optional visual-style and gradient libraries, loaded by name: with them the bar follows an active
// theme and gradients are smooth; without them there is no theme query and gradients come in bands.
#include "admin/menus/NewMenu.h"
#include "testsupport/sysroot.h"
#include "win32/builtin_modules.h"
#include "win32/osversion.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

BOOL ThemeOn() { return TRUE; }

class MenuLibrariesTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, 40, 4);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
  }
  void TearDown() override {
    // The libraries as the program has them.
    tavrin::modules::RegisterBuiltinModule(
        "uxtheme.dll", {{"IsThemeActive", reinterpret_cast<void*>(&::IsThemeActive)},
                        {"SetWindowTheme", reinterpret_cast<void*>(&::SetWindowTheme)}});
    tavrin::modules::SetBuiltinModuleEnabled("uxtheme.dll", true);
    tavrin::modules::SetBuiltinModuleEnabled("msimg32.dll", true);
    tavrin::os::SetVersionForTest(0, 0, 0);
    GetNewMenuGlobalState().LoadLibraries();
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    SysrootTest::TearDown();
  }
  static void Reload() { GetNewMenuGlobalState().LoadLibraries(); }

  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
};

TEST_F(MenuLibrariesTest, GradientsAreSmoothWithTheLibraryAndBandedWithoutIt) {
  const RECT all{0, 0, 40, 4};
  const COLORREF start = RGB(0, 0, 0), end = RGB(200, 100, 40);
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  ASSERT_NE(state.m_pfnGradientFill, nullptr) << "loaded at start";
  DrawGradient(dc, all, start, end, TRUE, TRUE);
  EXPECT_EQ(GetPixel(dc, 0, 1), start);
  EXPECT_NE(GetPixel(dc, 0, 1), GetPixel(dc, 1, 1)) << "each column its own colour";
  EXPECT_GT(GetRValue(GetPixel(dc, 39, 1)), 190);

  tavrin::modules::SetBuiltinModuleEnabled("msimg32.dll", false);
  Reload();
  EXPECT_EQ(state.m_pfnGradientFill, nullptr);
  EXPECT_EQ(state.m_hGradientLibrary, nullptr);
  DrawGradient(dc, all, start, end, TRUE, TRUE);
  EXPECT_EQ(GetPixel(dc, 0, 1), GetPixel(dc, 1, 1)) << "bands of two";
  EXPECT_NE(GetPixel(dc, 1, 1), GetPixel(dc, 2, 1));
  EXPECT_EQ(GetPixel(dc, 38, 1), end) << "the last band is the end colour";
  DrawGradient(dc, RECT{0, 0, 4, 4}, start, end, FALSE, FALSE);
  EXPECT_EQ(GetPixel(dc, 2, 0), GetPixel(dc, 2, 1)) << "vertical bands";
  EXPECT_EQ(GetPixel(dc, 2, 2), end);

  // Windows 98 does not take the gradient entry point, even with the library there.
  tavrin::modules::SetBuiltinModuleEnabled("msimg32.dll", true);
  tavrin::os::SetVersionForTest(4, 10, VER_PLATFORM_WIN32_WINDOWS);
  Reload();
  EXPECT_NE(state.m_hGradientLibrary, nullptr);
  EXPECT_EQ(state.m_pfnGradientFill, nullptr);
}

TEST_F(MenuLibrariesTest, TheBarFollowsAnActiveThemeOnlyWhenTheLibrarySaysSo) {
  const INT which[] = {COLOR_MENU, COLOR_MENUBAR};
  const COLORREF saved[] = {GetSysColor(COLOR_MENU), GetSysColor(COLOR_MENUBAR)};
  const COLORREF distinct[] = {RGB(210, 211, 212), RGB(100, 150, 200)};
  ASSERT_TRUE(SetSysColors(2, which, distinct));
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  ASSERT_NE(state.m_pfnIsThemeActive, nullptr);
  ASSERT_NE(state.m_pfnSetWindowTheme, nullptr);
  EXPECT_EQ(CNewMenu::GetMenuBarColor(nullptr), distinct[0]) << "no visual style active";

  tavrin::modules::RegisterBuiltinModule("uxtheme.dll", {{"IsThemeActive", reinterpret_cast<void*>(&ThemeOn)}});
  Reload();
  EXPECT_EQ(state.m_pfnSetWindowTheme, nullptr) << "an export the library lacks stays null";
  EXPECT_EQ(CNewMenu::GetMenuBarColor(nullptr), distinct[1]) << "themed: the menu-bar colour";
  EXPECT_EQ(CNewMenu::GetMenuColor(nullptr), distinct[0]) << "popups keep the menu colour";
  tavrin::os::SetVersionForTest(5, 0, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(CNewMenu::GetMenuBarColor(nullptr), distinct[0]) << "before Windows XP there is no bar colour";
  tavrin::os::SetVersionForTest(0, 0, 0);

  tavrin::modules::SetBuiltinModuleEnabled("uxtheme.dll", false);
  Reload();
  EXPECT_EQ(state.m_hThemeLibrary, nullptr);
  EXPECT_EQ(state.m_pfnIsThemeActive, nullptr);
  EXPECT_EQ(CNewMenu::GetMenuBarColor(nullptr), distinct[0]) << "no library, no theme query";
  SetSysColors(2, which, saved);
}

}  // namespace
