// The toolbar: buttons and their states, clicks and drop-downs, its tips, what it draws, and CToolBar
// loading a toolbar resource with its bitmap.
#include <cstring>

#include "comctl_test_util.h"
#include "mfc/bars.h"
#include "mfc/resource.h"
#include "win32/resources.h"

namespace {

using namespace comctl_test;

constexpr WORD kToolbarId = 136;
constexpr COLORREF kImageColours[] = {RGB(200, 0, 0), RGB(0, 160, 0), RGB(0, 0, 210)};

// A packed 24-bit DIB of three 16 x 15 images, each one colour on the grey that stands for transparent.
std::vector<uint8_t> StripBitmap() {
  const int width = 48, height = 15, stride = width * 3;
  std::vector<uint8_t> dib(40 + static_cast<size_t>(stride) * height, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(dib.data() + at, &v, 4); };
  put32(0, 40);
  put32(4, width);
  put32(8, height);
  dib[12] = 1;
  dib[14] = 24;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool grey = (x % 16) < 2 || y < 2;  // a grey border left and bottom of each image
      COLORREF c = grey ? RGB(192, 192, 192) : kImageColours[x / 16];
      uint8_t* p = dib.data() + 40 + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
      p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c);
    }
  return dib;
}

void RegisterToolbarResources() {
  static const WORD toolbar[] = {1, 16, 15, 4, 32866, 0, 32867, 32779};
  static const std::vector<uint8_t> bitmap = StripBitmap();
  const tavrin::res::Entry entries[] = {
      {kRtToolbar, kToolbarId, nullptr, reinterpret_cast<const uint8_t*>(toolbar), sizeof toolbar},
      {kRtBitmap, kToolbarId, nullptr, bitmap.data(), bitmap.size()},
  };
  tavrin::res::Register(entries);
}

// The prompts (before "\n") and tips (after it) of two commands.
void RegisterCommandStrings() {
  mfc::RegisterStrings({{32866, "Start the Device Mapping functionality \nStart Device Mapping"},
                        {32867, "Stop the Device Mapping functionality \nStop Device Mapping"}});
}

TBBUTTON Button(int image, int id, BYTE style = TBSTYLE_BUTTON, BYTE state = TBSTATE_ENABLED) {
  TBBUTTON b{};
  b.iBitmap = image;
  b.idCommand = id;
  b.fsState = state;
  b.fsStyle = style;
  return b;
}

struct ToolbarFixture : ::testing::Test {
  Host host;
  CToolBarCtrl bar;
  CImageList images;
  void SetUp() override {
    ASSERT_TRUE(MakeHost(host, 300, 200));
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS, CRect(0, 0, 0, 0), &host, 0xE800));
    ASSERT_TRUE(images.Create(16, 15, ILC_COLOR24 | ILC_MASK, 3, 1));
    for (COLORREF c : kImageColours) {
      HDC screen = GetDC(nullptr);
      HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 15);
      HDC memory = CreateCompatibleDC(screen);
      HGDIOBJ old = SelectObject(memory, bitmap);
      HBRUSH brush = CreateSolidBrush(c);
      RECT all{0, 0, 16, 15};
      FillRect(memory, &all, brush);
      DeleteObject(brush);
      SelectObject(memory, old);
      DeleteDC(memory);
      ReleaseDC(nullptr, screen);
      ImageList_Add(images.GetSafeHandle(), bitmap, nullptr);
      DeleteObject(bitmap);
    }
    bar.SetImageList(images.GetSafeHandle());
    const TBBUTTON buttons[] = {Button(0, 101), Button(0, 0, TBSTYLE_SEP, 0), Button(1, 102, TBSTYLE_CHECK),
                                Button(2, 103, TBSTYLE_CHECKGROUP), Button(0, 104, TBSTYLE_CHECKGROUP),
                                Button(1, 105, TBSTYLE_DROPDOWN)};
    ASSERT_TRUE(bar.AddButtons(6, buttons));
  }
  void Click(int id) {
    CRect rc;
    ASSERT_TRUE(bar.GetRect(id, &rc));
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(rc.left + 3, rc.top + 3));
    bar.SendMessage(WM_LBUTTONUP, 0, Point(rc.left + 3, rc.top + 3));
  }
};

TEST_F(ToolbarFixture, ButtonsStatesAndLayout) {
  EXPECT_EQ(bar.GetButtonCount(), 6);
  EXPECT_EQ(bar.CommandToIndex(103), 3);
  EXPECT_EQ(bar.CommandToIndex(999), -1);
  CRect first, separator, third;
  ASSERT_TRUE(bar.GetItemRect(0, &first));
  ASSERT_TRUE(bar.GetItemRect(1, &separator));
  ASSERT_TRUE(bar.GetItemRect(2, &third));
  EXPECT_EQ(first.Width(), 23);
  EXPECT_EQ(separator.Width(), 8);
  EXPECT_EQ(third.left, first.right + 8);
  EXPECT_TRUE(bar.IsButtonEnabled(101));
  EXPECT_TRUE(bar.EnableButton(101, FALSE));
  EXPECT_FALSE(bar.IsButtonEnabled(101));
  EXPECT_FALSE(bar.EnableButton(999, FALSE)) << "no such command";
  EXPECT_TRUE(bar.CheckButton(102));
  EXPECT_TRUE(bar.IsButtonChecked(102));
  EXPECT_EQ(bar.GetState(102), TBSTATE_ENABLED | TBSTATE_CHECKED);
  EXPECT_EQ(bar.GetState(999), -1);
  EXPECT_TRUE(bar.HideButton(102));
  CRect hidden;
  EXPECT_FALSE(bar.GetItemRect(2, &hidden));
  ASSERT_TRUE(bar.GetItemRect(3, &hidden));
  EXPECT_EQ(hidden.left, separator.right) << "a hidden button takes no room";
  bar.HideButton(102, FALSE);
  POINT p{third.left + 2, third.top + 2};
  EXPECT_EQ(bar.HitTest(&p), 2);
  p = POINT{separator.left + 2, separator.top + 2};
  EXPECT_EQ(bar.HitTest(&p), -2) << "a separator answers below zero";
  EXPECT_TRUE(bar.DeleteButton(1));
  EXPECT_EQ(bar.GetButtonCount(), 5);
  EXPECT_FALSE(bar.DeleteButton(5));
  TBBUTTON back{};
  ASSERT_TRUE(bar.GetButton(1, &back));
  EXPECT_EQ(back.idCommand, 102);
  EXPECT_TRUE(bar.SetButtonSize(CSize(30, 28)));
  EXPECT_EQ(bar.GetButtonSize(), CSize(30, 28));
  EXPECT_FALSE(bar.SetButtonSize(CSize(0, 5)));
}

TEST_F(ToolbarFixture, ClicksChecksAndDropDowns) {
  Click(101);
  EXPECT_EQ(host.CountCommands(101, BN_CLICKED), 1);
  EXPECT_FALSE(bar.IsButtonPressed(101)) << "released again";
  // Released away from the button: no command.
  CRect rc;
  bar.GetRect(101, &rc);
  bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(rc.left + 3, rc.top + 3));
  EXPECT_TRUE(bar.IsButtonPressed(101));
  bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, Point(280, 5));
  EXPECT_FALSE(bar.IsButtonPressed(101)) << "the pressed look follows the pointer";
  bar.SendMessage(WM_LBUTTONUP, 0, Point(280, 5));
  EXPECT_EQ(host.CountCommands(101, BN_CLICKED), 1);
  bar.EnableButton(101, FALSE);
  Click(101);
  EXPECT_EQ(host.CountCommands(101, BN_CLICKED), 1) << "a disabled button does nothing";
  Click(102);
  EXPECT_TRUE(bar.IsButtonChecked(102));
  Click(102);
  EXPECT_FALSE(bar.IsButtonChecked(102));
  Click(103);
  Click(104);
  EXPECT_FALSE(bar.IsButtonChecked(103)) << "one of a check group";
  EXPECT_TRUE(bar.IsButtonChecked(104));
  int dropped = 0;
  RECT droppedRect{};
  host.onNotify = [&](NMHDR* header) -> LRESULT {
    if (header->code == TBN_DROPDOWN) {
      auto* note = reinterpret_cast<NMTOOLBAR*>(header);
      dropped = note->iItem;
      droppedRect = note->rcButton;
    }
    return 0;
  };
  Click(105);
  EXPECT_EQ(dropped, 105);
  EXPECT_EQ(host.CountCommands(105, BN_CLICKED), 0) << "a drop-down button opens, it does not command";
  bar.GetRect(105, &rc);
  EXPECT_EQ(CRect(droppedRect), rc);
  // With arrows drawn only the arrow part drops down.
  bar.SetExtendedStyle(TBSTYLE_EX_DRAWDDARROWS);
  dropped = 0;
  Click(105);
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(host.CountCommands(105, BN_CLICKED), 1);
  bar.GetRect(105, &rc);
  bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(rc.right - 4, rc.top + 3));
  EXPECT_EQ(dropped, 105);
}

TEST_F(ToolbarFixture, TipsComeFromTheOwner) {
  HWND tips = bar.GetToolTips();
  ASSERT_NE(tips, nullptr);
  EXPECT_EQ(SendMessage(tips, TTM_GETTOOLCOUNT, 0, 0), 5) << "one tool per button";
  host.onNotify = [](NMHDR* header) -> LRESULT {
    if (header->code == TTN_GETDISPINFOA) {
      auto* info = reinterpret_cast<NMTTDISPINFO*>(header);
      snprintf(info->szText, sizeof info->szText, "tip %d", static_cast<int>(header->idFrom));
    }
    return 0;
  };
  char text[80] = {};
  TOOLINFO info{};
  info.cbSize = sizeof info;
  info.hwnd = bar.m_hWnd;
  info.uId = 103;
  info.lpszText = text;
  SendMessage(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
  EXPECT_STREQ(text, "tip 103");
  SendMessage(tips, TTM_SETDELAYTIME, TTDT_INITIAL, 1);
  CRect rc;
  bar.GetRect(101, &rc);
  POINT over{rc.left + 4, rc.top + 4};
  bar.ClientToScreen(&over);
  tavrin::win::InjectMouseMove(over.x, over.y);
  ASSERT_TRUE(RunUntil([&] { return ::IsWindowVisible(tips) != FALSE; }));
  EXPECT_EQ(bar.SendMessage(TB_GETHOTITEM), 0) << "flat buttons light up under the pointer";
  tavrin::win::InjectMouseMove(over.x + 500, over.y + 500);
  EXPECT_TRUE(RunUntil([&] { return ::IsWindowVisible(tips) == FALSE && bar.SendMessage(TB_GETHOTITEM) == -1; }));
  bar.HideButton(101);
  EXPECT_EQ(SendMessage(tips, TTM_GETTOOLCOUNT, 0, 0), 4);
  bar.DestroyWindow();
  EXPECT_FALSE(::IsWindow(tips)) << "the toolbar's own tip window goes with it";
}

TEST_F(ToolbarFixture, DrawsImagesHotAndCheckedStates) {
  bar.EnableButton(104, FALSE);
  auto image = Capture(bar.m_hWnd);
  CRect rc;
  bar.GetRect(101, &rc);
  const CPoint centre = rc.CenterPoint();
  EXPECT_EQ(Pixel(image, centre.x, centre.y), kImageColours[0]);
  EXPECT_EQ(Pixel(image, rc.left, rc.top), GetSysColor(COLOR_BTNFACE)) << "flat: no border until hot";
  bar.SendMessage(WM_MOUSEMOVE, 0, Point(centre.x, centre.y));
  image = Capture(bar.m_hWnd);
  EXPECT_EQ(Pixel(image, rc.left, rc.top + 5), GetSysColor(COLOR_3DHIGHLIGHT)) << "hot: raised";
  bar.CheckButton(102);
  bar.GetRect(102, &rc);
  image = Capture(bar.m_hWnd);
  EXPECT_EQ(Pixel(image, rc.left, rc.top + 5), GetSysColor(COLOR_3DSHADOW)) << "checked: sunken";
  EXPECT_EQ(Pixel(image, rc.left + 2, rc.top + 2), GetSysColor(COLOR_3DLIGHT));
  // The disabled button is embossed: no image colour, but its shape in shadow.
  bar.GetRect(104, &rc);
  bool colour = false, shadow = false;
  for (int x = rc.left; x < rc.right; ++x)
    for (int y = rc.top; y < rc.bottom; ++y) {
      colour = colour || Pixel(image, x, y) == kImageColours[0];
      shadow = shadow || Pixel(image, x, y) == GetSysColor(COLOR_3DSHADOW);
    }
  EXPECT_FALSE(colour);
  EXPECT_TRUE(shadow);
  ExpectNoGdiGrowth(bar.m_hWnd);
}

TEST(ToolbarImages, AddedBitmapsGoIntoTheToolbarsOwnListWhichGoesWithIt) {
  RegisterToolbarResources();
  Host host;
  ASSERT_TRUE(MakeHost(host));
  const size_t before = tavrin::gdi::LiveObjectCount();
  {
    CToolBarCtrl bar;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), &host, 1));
    EXPECT_EQ(bar.AddBitmap(3, kToolbarId), 0);
    HDC screen = GetDC(nullptr);
    CBitmap strip;
    strip.Attach(CreateCompatibleBitmap(screen, 32, 15));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(bar.AddBitmap(2, &strip), 3) << "appended after the resource's three";
    EXPECT_EQ(ImageList_GetImageCount(bar.GetImageList()), 5);
    const TBBUTTON one = Button(4, 7);
    bar.AddButtons(1, &one);
    Capture(bar.m_hWnd);
    strip.DeleteObject();
    bar.DestroyWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "the toolbar's own list is destroyed with it";
}

TEST(ToolBar, LoadsItsResourceAndTakesItsPlace) {
  RegisterToolbarResources();
  Host host;
  ASSERT_TRUE(MakeHost(host, 320, 240));
  CToolBar bar;
  ASSERT_TRUE(bar.CreateEx(&host, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS));
  EXPECT_EQ(bar.GetDlgCtrlID(), static_cast<int>(AFX_IDW_TOOLBAR));
  EXPECT_FALSE(bar.LoadToolBar(999));
  ASSERT_TRUE(bar.LoadToolBar(kToolbarId));
  EXPECT_EQ(bar.GetCount(), 4);
  EXPECT_EQ(bar.GetItemID(0), 32866u);
  EXPECT_EQ(bar.GetItemID(1), ID_SEPARATOR);
  EXPECT_EQ(bar.CommandToIndex(32779), 3);
  UINT id = 0, style = 0;
  int image = -1;
  bar.GetButtonInfo(3, id, style, image);
  EXPECT_EQ(image, 2) << "separators take no image";
  EXPECT_EQ(bar.GetToolBarCtrl().GetButtonSize(), CSize(23, 22));
  RECT client{0, 0, 320, 240};
  mfc::RepositionBars(&host, client);
  EXPECT_EQ(client.top, 26);
  CRect rc;
  bar.GetItemRect(3, &rc);
  auto pixels = Capture(bar.m_hWnd);
  EXPECT_EQ(Pixel(pixels, rc.CenterPoint().x, rc.CenterPoint().y), kImageColours[2]);
  EXPECT_EQ(Pixel(pixels, rc.left + 4, rc.bottom - 5), GetSysColor(COLOR_BTNFACE)) << "the grey is transparent";
  CRect first;
  bar.GetItemRect(0, &first);
  EXPECT_GE(first.left, 8) << "room for the gripper";
  // Tips: the part of the command's string after "\n"; none without a string.
  NMTTDISPINFO info{};
  info.hdr = NMHDR{bar.GetToolBarCtrl().GetToolTips(), 40001, TTN_GETDISPINFOA};  // no table holds 40001
  bar.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_STREQ(info.szText, "");
  RegisterCommandStrings();
  info.hdr.idFrom = 32866;
  bar.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_STREQ(info.lpszText, "Start Device Mapping");
  // A second toolbar replaces the buttons and images.
  ASSERT_TRUE(bar.LoadToolBar(kToolbarId));
  EXPECT_EQ(bar.GetCount(), 4);
  ExpectNoGdiGrowth(bar.m_hWnd);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(bar.LoadToolBar(kToolbarId));
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "reloading keeps one image list";
  bar.GetToolBarCtrl().GetRect(32779, &rc);
  bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(rc.left + 3, rc.top + 3));
  bar.SendMessage(WM_LBUTTONUP, 0, Point(rc.left + 3, rc.top + 3));
  EXPECT_EQ(host.CountCommands(32779, BN_CLICKED), 1) << "the frame gets the command";
}

TEST(ToolBar, FlyByPromptsGoToTheStatusBar) {
  RegisterToolbarResources();
  RegisterCommandStrings();
  Host host;
  ASSERT_TRUE(MakeHost(host, 320, 240));
  CToolBar bar;
  ASSERT_TRUE(bar.CreateEx(&host, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_TOOLTIPS | CBRS_FLYBY));
  ASSERT_TRUE(bar.LoadToolBar(kToolbarId));
  CStatusBar status;
  ASSERT_TRUE(status.Create(&host));
  const UINT indicators[] = {ID_SEPARATOR, ID_SEPARATOR, ID_SEPARATOR};
  ASSERT_TRUE(status.SetIndicators(indicators, 3));
  status.SetPaneText(0, "Ready");
  CRect rc;
  bar.GetItemRect(2, &rc);  // 32867
  bar.SendMessage(WM_MOUSEMOVE, 0, Point(rc.left + 3, rc.top + 3));
  EXPECT_EQ(status.GetPaneText(0), CString("Stop the Device Mapping functionality "));
  bar.SendMessage(WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(status.GetPaneText(0), CString("Ready"));
}

}  // namespace
