// The library's multi-document template and dock bar.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "admin/menus/NewMenuHosts.h"
#include "draw/surface.h"
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

std::vector<uint8_t> Bitmap() {
  const int width = 16, height = 15, stride = width * 3;
  std::vector<uint8_t> bytes(40 + stride * height, 90);
  std::fill(bytes.begin(), bytes.begin() + 40, 0);
  const uint32_t header[3] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  std::memcpy(bytes.data(), header, sizeof header);
  const uint16_t planesAndBits[2] = {1, 24};
  std::memcpy(bytes.data() + 12, planesAndBits, sizeof planesAndBits);
  return bytes;
}

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

}  // namespace
