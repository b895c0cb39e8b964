// The library's multi-document template and dock bar.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "admin/menus/NewFrameWnd.h"
#include "admin/menus/NewMenuHosts.h"
#include "draw/surface.h"
#include "solid_bitmap.h"
#include "testsupport/sysroot.h"
#include "win32/resources.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;

constexpr WORD kResource = 950;

std::vector<uint8_t> MenuTemplate() {
  std::vector<uint8_t> bytes(4, 0);  // version and header size
  auto word = [&](uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto text = [&](const char* s) {
    for (; *s; ++s) word(static_cast<uint16_t>(*s));
    word(0);
  };
  word(0x10 | 0x80);  // the last (only) popup
  text("&File");
  word(0x80);  // its last (only) item
  word(201);
  text("&New");
  return bytes;
}

std::vector<uint8_t> Bitmap() { return menu_test::SolidBitmap(16, 15, 90); }

class HostsTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    static const std::vector<uint8_t> menu = MenuTemplate();
    static const std::vector<uint8_t> bitmap = Bitmap();
    static const uint16_t toolbar[] = {1, 16, 15, 1, 201};
    static const tavrin::res::Entry entries[] = {
        {4, kResource, nullptr, menu.data(), menu.size()},
        {2, kResource, nullptr, bitmap.data(), bitmap.size()},
        {241, kResource, nullptr, reinterpret_cast<const uint8_t*>(toolbar), sizeof toolbar},
    };
    tavrin::res::Register(entries);
  }
};

class HostDoc : public CDocument {
  DECLARE_DYNCREATE(HostDoc)
};
IMPLEMENT_DYNCREATE(HostDoc, CDocument)

TEST_F(HostsTest, TheSharedMenuOfAMultiDocTemplateIsOwnerDrawnAndDestroyedOnce) {
  const size_t menus = tavrin::win::LiveMenuCount();
  HMENU shared = nullptr;
  {
    CNewMultiDocTemplate docTemplate(kResource, RUNTIME_CLASS(HostDoc), RUNTIME_CLASS(CFrameWnd), nullptr);
    shared = docTemplate.m_hMenuShared;
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(docTemplate.m_NewMenuShared.m_hMenu, shared);
    CNewMenu* file = docTemplate.m_NewMenuShared.GetSubMenu(0);
    ASSERT_NE(file, nullptr);
    CNewMenuItemData* item = file->FindItemRecordById(201);
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->m_pMenuIcon, nullptr) << "the icon of the toolbar with the same id";
    EXPECT_EQ(file->GetMenuState(0, MF_BYPOSITION) & MF_OWNERDRAW, MF_OWNERDRAW);
  }
  EXPECT_FALSE(IsMenu(shared));
  EXPECT_EQ(tavrin::win::LiveMenuCount(), menus);
}

TEST_F(HostsTest, DockBarsTakeTheirParentsMenuBackground) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200, nullptr, 0));
  CNewMenu bar;
  bar.CreateMenu();
  bar.AppendMenu(MF_STRING, 1, "&Go");
  HBRUSH red = CreateSolidBrush(RGB(200, 30, 40));
  ::SetMenu(parent.m_hWnd, bar.m_hMenu);
  auto* dock = new CNewDockBar;
  ASSERT_TRUE(dock->CreateEx(0, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 300, 30, parent.m_hWnd, 0xE81B));
  auto probe = [&] {
    RedrawWindow(dock->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    tavrin::win::PaintPending();
    tavrin::draw::Surface image;
    EXPECT_TRUE(tavrin::win::CaptureWindow(parent.m_hWnd, image));
    RECT top, inner;
    GetWindowRect(parent.m_hWnd, &top);
    GetClientRect(dock->m_hWnd, &inner);
    POINT at{inner.right / 2, inner.bottom / 2};
    ClientToScreen(dock->m_hWnd, &at);
    return image.at(at.x - top.left, at.y - top.top) & 0xFFFFFF;
  };
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(probe(), (uint32_t{GetRValue(face)} << 16) | (uint32_t{GetGValue(face)} << 8) | GetBValue(face))
      << "no menu brush: the face colour";
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  info.hbrBack = red;
  bar.SetMenuInfo(&info);
  EXPECT_EQ(probe(), 0xC81E28u) << "the menu bar's brush";
  dock->DestroyWindow();
  delete dock;
  ::SetMenu(parent.m_hWnd, nullptr);
  parent.DestroyWindow();
  DeleteObject(red);
}

TEST_F(HostsTest, EveryHostFrameIsCreatableAndTakesItsSystemMenuAsACNewMenu) {
  const CRuntimeClass* classes[] = {RUNTIME_CLASS(CNewMiniFrameWnd), RUNTIME_CLASS(CNewMiniDockFrameWnd)};
  for (const CRuntimeClass* runtime : classes) {
    auto* frame = dynamic_cast<CMiniFrameWnd*>(runtime->CreateObject());
    ASSERT_NE(frame, nullptr) << runtime->m_lpszClassName;
    ASSERT_TRUE(frame->Create(nullptr, "Tools", WS_POPUP | WS_CAPTION | WS_SYSMENU, RECT{10, 10, 200, 100}));
    auto* host = dynamic_cast<CMenuHostFrame<CMiniFrameWnd>*>(frame);
    CNewMenu* system = host ? &host->m_SystemNewMenu
                            : &dynamic_cast<CMenuHostFrame<CMiniDockFrameWnd>*>(frame)->m_SystemNewMenu;
    EXPECT_EQ(system->m_hMenu, ::GetSystemMenu(frame->m_hWnd, FALSE)) << runtime->m_lpszClassName;
    EXPECT_EQ(CMenu::FromHandlePermanent(system->m_hMenu), system);
    frame->DestroyWindow();  // deletes the frame
  }
  // The static links hold the entries of the five instantiations.
  const mfc::MessageMap* const* links = GetMenuHostFrameLinks();
  EXPECT_EQ(links[2], CMenuHostFrame<CMiniDockFrameWnd>::GetMessageEntries());
  EXPECT_EQ(links[3], CMenuHostFrame<CMiniFrameWnd>::GetMessageEntries());
  EXPECT_EQ(links[4], CMenuHostFrame<CMDIChildWnd>::GetMessageEntries());
  EXPECT_STREQ(RUNTIME_CLASS(CNewMDIChildWnd)->m_lpszClassName, "CNewMDIChildWnd");
  EXPECT_EQ(RUNTIME_CLASS(CNewMDIFrameWnd)->m_pBaseClass, RUNTIME_CLASS(CMDIFrameWnd));
}

TEST_F(HostsTest, FloatingBarsOfAHostFrameGetTheLibrarysFloatingFrame) {
  auto* frame = new CNewFrameWnd;
  ASSERT_TRUE(frame->CreateEx(0, "dock", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 400, 300, nullptr, 0));
  frame->EnableDocking(CBRS_ALIGN_ANY);
  EXPECT_EQ(frame->m_pFloatingFrameClass, RUNTIME_CLASS(CNewMiniDockFrameWnd));
  CToolBar bar;
  ASSERT_TRUE(bar.Create(frame));
  bar.EnableDocking(CBRS_ALIGN_ANY);
  frame->DockControlBar(&bar);
  frame->FloatControlBar(&bar, POINT{200, 200});
  auto* floating = dynamic_cast<CNewMiniDockFrameWnd*>(CWnd::FromHandlePermanent(::GetParent(bar.m_hWnd)));
  ASSERT_NE(floating, nullptr);
  EXPECT_EQ(floating->m_SystemNewMenu.m_hMenu, ::GetSystemMenu(floating->m_hWnd, FALSE));
  frame->DockControlBar(&bar);
  frame->DestroyWindow();
}

TEST_F(HostsTest, TheMultiDocFrameLoadsItsBarAndHidesAndShowsIt) {
  auto* frame = new CNewMDIFrameWnd;
  ASSERT_TRUE(frame->Create(nullptr, "MDI", WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{20, 20, 420, 320}, nullptr,
                            MAKEINTRESOURCE(kResource)));
  const HMENU bar = frame->m_DefaultNewMenu.m_hMenu;
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), bar);
  EXPECT_EQ(frame->m_hMenuDefault, bar) << "the bar the children fall back on";
  EXPECT_EQ(::GetMenuState(bar, 0, MF_BYPOSITION) & MF_OWNERDRAW, MF_OWNERDRAW);
  EXPECT_TRUE(frame->ShowMenu(FALSE)) << "shown before";
  EXPECT_EQ(::GetMenu(frame->m_hWnd), nullptr);
  EXPECT_TRUE(::IsMenu(bar)) << "hidden, not destroyed";
  EXPECT_FALSE(frame->ShowMenu(FALSE));
  EXPECT_FALSE(frame->ShowMenu(TRUE));
  EXPECT_EQ(::GetMenu(frame->m_hWnd), bar);

  auto* child = new CNewMDIChildWnd;
  ASSERT_TRUE(child->Create(nullptr, "Doc", WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW, RECT{0, 0, 200, 120}, frame));
  EXPECT_EQ(frame->MDIGetActive(), child);
  EXPECT_EQ(child->m_SystemNewMenu.m_hMenu, ::GetSystemMenu(child->m_hWnd, FALSE));
  frame->DestroyWindow();

  // A menu resource that cannot be loaded fails the creation.
  auto* broken = new CNewMDIFrameWnd;  // deletes itself on the failure
  EXPECT_FALSE(broken->Create(nullptr, "MDI", WS_OVERLAPPEDWINDOW, RECT{0, 0, 100, 100}, nullptr, "NOMENU"));
}

}  // namespace
