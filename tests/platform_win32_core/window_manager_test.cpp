// Window geometry, painting, input, hooks, properties and atoms.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "testsupport/sysroot.h"
#include "draw/png.h"
#include "draw/surface.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::SysrootTest;
using tavrin::draw::Surface;

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  RECT paint{};
};

struct Recorder {
  std::map<HWND, std::vector<Seen>> seen;
  std::vector<std::string> order;  // "name:message" of paints and erases
  std::map<HWND, COLORREF> paintColour;
  std::map<HWND, std::string> names;

  std::vector<UINT> Messages(HWND hwnd, std::initializer_list<UINT> only) {
    std::vector<UINT> out;
    for (auto& s : seen[hwnd])
      if (std::find(only.begin(), only.end(), s.message) != only.end()) out.push_back(s.message);
    return out;
  }
};
Recorder* g_recorder = nullptr;
bool g_refuseShow = false;  // WM_WINDOWPOSCHANGING takes SWP_SHOWWINDOW away

// Surface pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
uint32_t PixelOf(COLORREF colour) {
  return (static_cast<uint32_t>(GetRValue(colour)) << 16) | (static_cast<uint32_t>(GetGValue(colour)) << 8) |
         GetBValue(colour);
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Seen seen{message, wParam, lParam};
  const std::string name = g_recorder->names[hwnd];
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    seen.paint = paint.rcPaint;
    g_recorder->order.push_back(name + ":paint");
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH brush = CreateSolidBrush(g_recorder->paintColour[hwnd]);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    EndPaint(hwnd, &paint);
    g_recorder->seen[hwnd].push_back(seen);
    return 0;
  }
  if (message == WM_ERASEBKGND) g_recorder->order.push_back(name + ":erase");
  if (message == WM_WINDOWPOSCHANGING && g_refuseShow) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  if (message == WM_PRINTCLIENT) {  // what WM_PAINT draws, on the DC given
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH brush = CreateSolidBrush(g_recorder->paintColour[hwnd]);
    FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
    DeleteObject(brush);
    return 0;
  }
  g_recorder->seen[hwnd].push_back(seen);
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class WindowManagerTest : public SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_recorder = &recorder;
    WNDCLASS wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = RecordingProc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    wc.lpszClassName = "WmTest";
    RegisterClass(&wc);
  }
  void TearDown() override {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
      if (IsWindow(*it)) DestroyWindow(*it);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    UnregisterClass("WmTest", nullptr);
    ReleaseCapture();
    SetFocus(nullptr);
    g_recorder = nullptr;
    SysrootTest::TearDown();
  }

  HWND Make(const char* name, DWORD style, RECT rect, HWND parent = nullptr, UINT id = 0, COLORREF colour = RGB(0, 0, 255)) {
    HWND hwnd = CreateWindowEx(0, "WmTest", name, style, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)),
                               nullptr, nullptr);
    recorder.names[hwnd] = name;
    recorder.paintColour[hwnd] = colour;
    windows_.push_back(hwnd);
    return hwnd;
  }

  // Dispatches everything queued (input and paints).
  void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }

  static uint32_t Pixel(const Surface& image, int x, int y) { return image.at(x, y) & 0x00FFFFFF; }

  Recorder recorder;
  std::vector<HWND> windows_;
};

TEST_F(WindowManagerTest, FrameAndClientRectanglesMapBetweenWindowsAndTheScreen) {
  HWND frame = Make("frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, {100, 50, 400, 350});
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {10, 20, 110, 70}, frame, 7);
  RECT rect;
  ASSERT_TRUE(GetWindowRect(frame, &rect));
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.bottom, 350);
  RECT client;
  GetClientRect(frame, &client);
  // A sizing frame of 4 and a caption of 19.
  EXPECT_EQ(client.right, 300 - 8);
  EXPECT_EQ(client.bottom, 300 - 8 - 19);
  GetWindowRect(child, &rect);
  EXPECT_EQ(rect.left, 100 + 4 + 10);
  EXPECT_EQ(rect.top, 50 + 4 + 19 + 20);
  POINT p{5, 6};
  ClientToScreen(child, &p);
  EXPECT_EQ(p.x, 119);
  EXPECT_EQ(p.y, 99);
  POINT q{0, 0};
  int offsets = MapWindowPoints(child, frame, &q, 1);
  EXPECT_EQ(q.x, 10);
  EXPECT_EQ(q.y, 20);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(offsets)), 10);
  EXPECT_EQ(GetDlgItem(frame, 7), child);
  EXPECT_EQ(GetDlgCtrlID(child), 7);
  EXPECT_TRUE(IsChild(frame, child));
  EXPECT_EQ(SendMessage(frame, WM_NCHITTEST, 0, MAKELPARAM(200, 60)), HTCAPTION);
  EXPECT_EQ(SendMessage(frame, WM_NCHITTEST, 0, MAKELPARAM(200, 200)), HTCLIENT);
  EXPECT_EQ(SendMessage(frame, WM_NCHITTEST, 0, MAKELPARAM(101, 200)), HTLEFT);
  EXPECT_EQ(WindowFromPoint(POINT{120, 100}), child);
  EXPECT_EQ(WindowFromPoint(POINT{300, 300}), frame);
}

TEST_F(WindowManagerTest, SetWindowPosAnnouncesTheChangeAndKeepsTheZOrder) {
  HWND parent = Make("parent", WS_POPUP | WS_VISIBLE, {0, 0, 200, 200});
  HWND first = Make("first", WS_CHILD | WS_VISIBLE, {0, 0, 50, 50}, parent);
  HWND second = Make("second", WS_CHILD | WS_VISIBLE, {0, 0, 50, 50}, parent);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), first) << "a new child goes to the bottom";
  recorder.seen.clear();
  ASSERT_TRUE(SetWindowPos(second, HWND_TOP, 10, 10, 80, 60, 0));
  EXPECT_EQ(recorder.Messages(second, {WM_WINDOWPOSCHANGING, WM_NCCALCSIZE, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}),
            (std::vector<UINT>{WM_WINDOWPOSCHANGING, WM_NCCALCSIZE, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}));
  auto& size = recorder.seen[second].back();
  EXPECT_EQ(size.lParam, MAKELPARAM(80, 60));
  EXPECT_EQ(GetWindow(parent, GW_CHILD), second);
  EXPECT_EQ(GetWindow(second, GW_HWNDNEXT), first);
  EXPECT_EQ(ChildWindowFromPoint(parent, POINT{20, 20}), second);
  recorder.seen.clear();
  MoveWindow(first, 5, 5, 50, 50, TRUE);
  EXPECT_EQ(recorder.Messages(first, {WM_MOVE, WM_SIZE}), std::vector<UINT>{WM_MOVE}) << "only moved";
}

TEST_F(WindowManagerTest, InvalidatedRectangleGetsOneEraseThenOnePaintOfExactlyIt) {
  HWND hwnd = Make("w", WS_POPUP | WS_VISIBLE, {0, 0, 200, 100});
  UpdateWindow(hwnd);
  recorder.seen.clear();
  RECT r{10, 20, 50, 40};
  ASSERT_TRUE(InvalidateRect(hwnd, &r, TRUE));
  ASSERT_TRUE(UpdateWindow(hwnd));
  auto& seen = recorder.seen[hwnd];
  std::vector<UINT> messages;
  for (auto& s : seen) messages.push_back(s.message);
  EXPECT_EQ(messages, (std::vector<UINT>{WM_ERASEBKGND, WM_PAINT}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(EqualRect(&seen[1].paint, &r));
  recorder.seen.clear();
  UpdateWindow(hwnd);
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, hwnd, WM_PAINT, WM_PAINT, PM_NOREMOVE)) << "validated";
  EXPECT_TRUE(recorder.seen[hwnd].empty());
  // Two rectangles gather into one update; erase=FALSE leaves the background alone.
  RECT a{0, 0, 10, 10}, b{30, 30, 40, 40};
  InvalidateRect(hwnd, &a, FALSE);
  InvalidateRect(hwnd, &b, FALSE);
  RECT bounds;
  EXPECT_TRUE(GetUpdateRect(hwnd, &bounds, FALSE));
  EXPECT_EQ(bounds.right, 40);
  UpdateWindow(hwnd);
  ASSERT_EQ(recorder.seen[hwnd].size(), 1u);
  EXPECT_EQ(recorder.seen[hwnd][0].message, UINT{WM_PAINT});
  // ValidateRect takes part of the region away.
  InvalidateRect(hwnd, nullptr, FALSE);
  RECT left{0, 0, 100, 100};
  ValidateRect(hwnd, &left);
  GetUpdateRect(hwnd, &bounds, FALSE);
  EXPECT_EQ(bounds.left, 100);
  ValidateRect(hwnd, nullptr);
  EXPECT_FALSE(GetUpdateRect(hwnd, &bounds, FALSE));
}

TEST_F(WindowManagerTest, ParentPaintSparesAClipChildrenChildAndPaintsParentsFirst) {
  HWND parent = Make("parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, {0, 0, 100, 100}, nullptr, 0, RGB(255, 0, 0));
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {20, 20, 60, 60}, parent, 1, RGB(0, 255, 0));
  recorder.order.clear();
  tavrin::win::PaintPending();
  EXPECT_EQ(recorder.order.front(), "parent:erase");
  Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(parent, image));
  EXPECT_EQ(Pixel(image, 5, 5), PixelOf(RGB(255, 0, 0)));
  EXPECT_EQ(Pixel(image, 30, 30), PixelOf(RGB(0, 255, 0)));
  // The parent repaints alone: the child's pixels stay and the child gets no paint.
  recorder.order.clear();
  RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  EXPECT_EQ(recorder.order, (std::vector<std::string>{"parent:erase", "parent:paint"}));
  tavrin::win::CaptureWindow(parent, image);
  EXPECT_EQ(Pixel(image, 30, 30), PixelOf(RGB(0, 255, 0)));
  EXPECT_EQ(Pixel(image, 19, 30), PixelOf(RGB(255, 0, 0)));

  // Without WS_CLIPCHILDREN the parent paints over the child, which is invalidated and paints again.
  SetWindowLongPtr(parent, GWL_STYLE, GetWindowLongPtr(parent, GWL_STYLE) & ~WS_CLIPCHILDREN);
  recorder.order.clear();
  InvalidateRect(parent, nullptr, TRUE);
  tavrin::win::PaintPending();
  EXPECT_EQ(recorder.order, (std::vector<std::string>{"parent:erase", "parent:paint", "child:erase", "child:paint"}));
  tavrin::win::CaptureWindow(parent, image);
  EXPECT_EQ(Pixel(image, 30, 30), PixelOf(RGB(0, 255, 0)));

  // A child painted ahead of its parent (UpdateWindow) paints again after the parent covered it.
  recorder.order.clear();
  InvalidateRect(parent, nullptr, TRUE);
  UpdateWindow(child);
  tavrin::win::PaintPending();
  EXPECT_EQ(recorder.order, (std::vector<std::string>{"child:erase", "child:paint", "parent:erase", "parent:paint",
                                                      "child:erase", "child:paint"}));
  tavrin::win::CaptureWindow(parent, image);
  EXPECT_EQ(Pixel(image, 30, 30), PixelOf(RGB(0, 255, 0)));
}

TEST_F(WindowManagerTest, RepaintsLeaveNoGdiObjectsBehind) {
  HWND hwnd = Make("w", WS_OVERLAPPEDWINDOW | WS_VISIBLE, {0, 0, 160, 120});
  HWND child = Make("c", WS_CHILD | WS_VISIBLE | WS_BORDER, {10, 10, 60, 60}, hwnd);
  tavrin::win::PaintPending();
  const size_t baseline = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC dc = GetDC(child);
    ReleaseDC(child, dc);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

TEST_F(WindowManagerTest, FramesAreDrawnAroundTheClientArea) {
  HWND hwnd = Make("Framed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, {0, 0, 200, 120});
  SetForegroundWindow(hwnd);
  tavrin::win::PaintPending();
  Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  EXPECT_EQ(Pixel(image, 100, 12), PixelOf(GetSysColor(COLOR_ACTIVECAPTION))) << "the caption bar";
  EXPECT_EQ(Pixel(image, 100, 80), PixelOf(RGB(0, 0, 255))) << "the client area";
  // Some caption pixels carry the title's text colour.
  int textPixels = 0;
  for (int x = 4; x < 100; ++x)
    for (int y = 4; y < 22; ++y) textPixels += Pixel(image, x, y) == PixelOf(GetSysColor(COLOR_CAPTIONTEXT));
  EXPECT_GT(textPixels, 10);
}

TEST_F(WindowManagerTest, TheCaptionShowsTheWindowsSmallIconBeforeItsTitle) {
  HWND hwnd = Make("Iconed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, {0, 0, 200, 120});
  SetForegroundWindow(hwnd);
  std::vector<uint32_t> green(16 * 16, 0xFF00C000u), opaque(16 * 16, 0);  // a mask of 0: every pixel drawn
  ICONINFO info{TRUE, 0, 0, CreateBitmap(16, 16, 1, 32, opaque.data()), CreateBitmap(16, 16, 1, 32, green.data())};
  HICON icon = CreateIconIndirect(&info);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(SendMessage(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon)), 0);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessage(hwnd, WM_GETICON, ICON_SMALL, 0)), icon);
  EXPECT_EQ(SendMessage(hwnd, WM_GETICON, ICON_BIG, 0), 0) << "the big one is not set";
  tavrin::win::PaintPending();
  Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  int iconPixels = 0;
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 24; ++y) iconPixels += Pixel(image, x, y) == PixelOf(RGB(0, 0xC0, 0));
  EXPECT_GE(iconPixels, 12 * 12) << "the icon is drawn at the caption's left";
  // Setting another answers the one before.
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessage(hwnd, WM_SETICON, ICON_SMALL, 0)), icon);
  DestroyWindow(hwnd);
  DestroyIcon(icon);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
}

TEST_F(WindowManagerTest, ScreenshotPngDecodesToTheWindowsSurface) {
  HWND hwnd = Make("Shot", WS_OVERLAPPEDWINDOW | WS_VISIBLE, {5, 5, 125, 95}, nullptr, 0, RGB(200, 100, 50));
  std::vector<uint8_t> png;
  ASSERT_TRUE(tavrin::win::RemoteScreenshot(hwnd, png));
  auto decoded = tavrin::draw::DecodePng(png.data(), png.size());
  ASSERT_TRUE(decoded.has_value());
  Surface image;
  ASSERT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  ASSERT_EQ(decoded->width(), 120);
  ASSERT_EQ(decoded->height(), 90);
  bool same = true;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) same = same && Pixel(*decoded, x, y) == Pixel(image, x, y);
  EXPECT_TRUE(same);
  EXPECT_EQ(Pixel(image, 60, 60), PixelOf(RGB(200, 100, 50))) << "painted before the picture was taken";
}

TEST_F(WindowManagerTest, PrintDrawsFrameClientAndChildrenOnAnyDc) {
  HWND frame = Make("Printed", WS_OVERLAPPEDWINDOW, {0, 0, 200, 150}, nullptr, 0, RGB(10, 20, 30));
  Make("child", WS_CHILD | WS_VISIBLE, {20, 30, 70, 60}, frame, 1, RGB(40, 50, 60));
  auto surface = std::make_shared<Surface>(200, 150, 0);
  tavrin::gdi::WindowDcTarget target{surface, {}, tavrin::draw::Region(surface->bounds())};
  HDC dc = tavrin::gdi::CreateSurfaceDC(target);
  SendMessage(frame, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
  DeleteDC(dc);
  EXPECT_EQ(Pixel(*surface, 100, 10), PixelOf(GetSysColor(COLOR_INACTIVECAPTION))) << "a hidden window prints too";
  EXPECT_EQ(Pixel(*surface, 150, 120), PixelOf(RGB(10, 20, 30)));
  EXPECT_EQ(Pixel(*surface, 4 + 20 + 5, 4 + 19 + 30 + 5), PixelOf(RGB(40, 50, 60))) << "the child at its place";
  EXPECT_EQ(Pixel(*surface, 4 + 20 - 1, 4 + 19 + 30 + 5), PixelOf(RGB(10, 20, 30)));
}

TEST_F(WindowManagerTest, ScreenDcReadsTheComposedScreen) {
  HWND hwnd = Make("w", WS_POPUP | WS_VISIBLE, {10, 10, 50, 50}, nullptr, 0, RGB(1, 2, 3));
  tavrin::win::PaintPending();
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, 20, 20), RGB(1, 2, 3));
  ReleaseDC(nullptr, screen);
  (void)hwnd;
}

TEST_F(WindowManagerTest, ScreenIsComposedFromTheVisibleWindowsInZOrder) {
  tavrin::win::SetScreenSize(320, 240);
  HWND back = Make("back", WS_POPUP | WS_VISIBLE, {0, 0, 100, 100}, nullptr, 0, RGB(17, 17, 17));
  HWND front = Make("front", WS_POPUP | WS_VISIBLE, {50, 50, 150, 150}, nullptr, 0, RGB(34, 34, 34));
  tavrin::win::PaintPending();
  Surface screen = tavrin::win::ComposeScreen();
  ASSERT_EQ(screen.width(), 320);
  EXPECT_EQ(Pixel(screen, 10, 10), 0x00111111u);
  EXPECT_EQ(Pixel(screen, 60, 60), 0x00222222u);
  SetWindowPos(back, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  tavrin::win::PaintPending();
  screen = tavrin::win::ComposeScreen();
  EXPECT_EQ(Pixel(screen, 60, 60), 0x00111111u);
  ShowWindow(back, SW_HIDE);
  screen = tavrin::win::ComposeScreen();
  EXPECT_EQ(Pixel(screen, 60, 60), 0x00222222u);
  EXPECT_NE(Pixel(screen, 10, 10), 0x00111111u);
  (void)front;
  tavrin::win::SetScreenSize(1024, 768);
}

// Presses carry when the person made them: a busy computer that handles them late still sees a double
// click, and presses made far apart stay two clicks however close together they are handled.
TEST_F(WindowManagerTest, ADoubleClickIsMeasuredByWhenThePressesHappened) {
  HWND frame = Make("frame", WS_POPUP | WS_VISIBLE, {100, 100, 300, 300});
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {10, 10, 60, 60}, frame);
  Pump();
  recorder.seen.clear();
  using tavrin::win::InjectMouseButton;
  using tavrin::win::MouseButton;
  const DWORD then = GetTickCount() - 10000;  // handled ten seconds late
  const auto click = [](DWORD at) {
    InjectMouseButton(MouseButton::kLeft, true, 125, 130, at);
    InjectMouseButton(MouseButton::kLeft, false, 125, 130, at + 20);
  };
  click(then);
  click(then + 150);
  Pump();
  EXPECT_EQ(recorder.Messages(child, {WM_LBUTTONDBLCLK}).size(), 1u);

  recorder.seen.clear();
  click(then + 2000);
  click(then + 2000 + GetDoubleClickTime() + 1);
  Pump();
  EXPECT_TRUE(recorder.Messages(child, {WM_LBUTTONDBLCLK}).empty());
}

TEST_F(WindowManagerTest, InjectedClicksArriveInClientCoordinatesAndDoubleClicksNeedTheClassStyle) {
  HWND frame = Make("frame", WS_POPUP | WS_VISIBLE, {100, 100, 300, 300});
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {10, 10, 60, 60}, frame);
  SetDoubleClickTime(5000);  // a loaded machine still clicks twice in time
  Pump();
  recorder.seen.clear();
  tavrin::win::InjectClick(125, 130);
  Pump();
  auto downs = recorder.Messages(child, {WM_LBUTTONDOWN, WM_LBUTTONUP});
  EXPECT_EQ(downs, (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
  for (auto& s : recorder.seen[child])
    if (s.message == WM_LBUTTONDOWN) {
      EXPECT_EQ(GET_X_LPARAM(s.lParam), 15);
      EXPECT_EQ(GET_Y_LPARAM(s.lParam), 20);
      EXPECT_TRUE(s.wParam & MK_LBUTTON);
    }
  EXPECT_TRUE(recorder.Messages(frame, {WM_LBUTTONDOWN}).empty());
  tavrin::win::InjectClick(125, 130);
  Pump();
  EXPECT_EQ(recorder.Messages(child, {WM_LBUTTONDBLCLK}).size(), 1u);
  SetDoubleClickTime(0);

  // A disabled child lets its parent take the click.
  EnableWindow(child, FALSE);
  recorder.seen.clear();
  tavrin::win::InjectClick(125, 130, tavrin::win::MouseButton::kRight);
  Pump();
  EXPECT_EQ(recorder.Messages(frame, {WM_RBUTTONDOWN, WM_RBUTTONUP}).size(), 2u);
  EXPECT_TRUE(recorder.Messages(child, {WM_RBUTTONDOWN}).empty());
}

TEST_F(WindowManagerTest, LeavingATrackedWindowPostsMouseLeaveOnce) {
  HWND frame = Make("frame", WS_POPUP | WS_VISIBLE, {0, 0, 200, 200});
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {10, 10, 60, 60}, frame);
  tavrin::win::InjectMouseMove(20, 20);
  Pump();
  TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, child, HOVER_DEFAULT};
  ASSERT_TRUE(_TrackMouseEvent(&track));
  recorder.seen.clear();
  tavrin::win::InjectMouseMove(30, 30);
  Pump();
  EXPECT_TRUE(recorder.Messages(child, {WM_MOUSELEAVE}).empty());
  tavrin::win::InjectMouseMove(150, 150);
  tavrin::win::InjectMouseMove(160, 150);
  Pump();
  EXPECT_EQ(recorder.Messages(child, {WM_MOUSELEAVE}).size(), 1u);
  EXPECT_EQ(recorder.Messages(frame, {WM_MOUSEMOVE}).size(), 2u);
  // Cancelled tracking posts nothing.
  tavrin::win::InjectMouseMove(20, 20);
  _TrackMouseEvent(&track);
  track.dwFlags = TME_LEAVE | TME_CANCEL;
  _TrackMouseEvent(&track);
  recorder.seen.clear();
  tavrin::win::InjectMouseMove(150, 150);
  Pump();
  EXPECT_TRUE(recorder.Messages(child, {WM_MOUSELEAVE}).empty());
}

TEST_F(WindowManagerTest, CaptureTakesTheMouseAndFocusTakesTheKeys) {
  HWND a = Make("a", WS_POPUP | WS_VISIBLE, {0, 0, 100, 100});
  HWND b = Make("b", WS_POPUP | WS_VISIBLE, {200, 0, 300, 100});
  Pump();
  EXPECT_EQ(SetCapture(a), nullptr);
  recorder.seen.clear();
  tavrin::win::InjectClick(250, 50);
  Pump();
  EXPECT_EQ(recorder.Messages(a, {WM_LBUTTONDOWN}).size(), 1u);
  EXPECT_TRUE(recorder.Messages(b, {WM_LBUTTONDOWN}).empty());
  for (auto& s : recorder.seen[a]) {
    if (s.message == WM_LBUTTONDOWN) {
      EXPECT_EQ(GET_X_LPARAM(s.lParam), 250);
    }
  }
  ReleaseCapture();
  EXPECT_EQ(recorder.Messages(a, {WM_CAPTURECHANGED}).size(), 1u);

  recorder.seen.clear();
  SetFocus(a);
  SetFocus(b);
  EXPECT_EQ(GetFocus(), b);
  EXPECT_EQ(recorder.Messages(a, {WM_SETFOCUS, WM_KILLFOCUS}), (std::vector<UINT>{WM_SETFOCUS, WM_KILLFOCUS}));
  recorder.seen.clear();
  tavrin::win::InjectText("aB");
  Pump();
  std::string chars;
  for (auto& s : recorder.seen[b])
    if (s.message == WM_CHAR) chars += static_cast<char>(s.wParam);
  EXPECT_EQ(chars, "aB");
  EXPECT_EQ(recorder.Messages(b, {WM_KEYDOWN}).size(), 3u);  // a, Shift, B
  EXPECT_FALSE(GetKeyState(VK_SHIFT) & 0x8000);
}

TEST_F(WindowManagerTest, HooksSeeSentMessagesAndMayDropMouseInput) {
  static std::vector<UINT> sent;
  static HHOOK callHook, mouseHook;
  sent.clear();
  callHook = SetWindowsHookEx(
      WH_CALLWNDPROC,
      [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
        sent.push_back(reinterpret_cast<CWPSTRUCT*>(lParam)->message);
        return CallNextHookEx(callHook, code, wParam, lParam);
      },
      nullptr, GetCurrentThreadId());
  ASSERT_NE(callHook, nullptr);
  HWND hwnd = Make("hooked", WS_POPUP | WS_VISIBLE, {0, 0, 50, 50});
  EXPECT_NE(std::find(sent.begin(), sent.end(), UINT{WM_CREATE}), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), UINT{WM_NCCREATE}), sent.end());
  UnhookWindowsHookEx(callHook);
  sent.clear();
  SendMessage(hwnd, WM_USER, 0, 0);
  EXPECT_TRUE(sent.empty());

  mouseHook = SetWindowsHookEx(
      WH_MOUSE, [](int, WPARAM wParam, LPARAM) -> LRESULT { return wParam == WM_LBUTTONDOWN ? 1 : 0; }, nullptr,
      GetCurrentThreadId());
  Pump();
  recorder.seen.clear();
  tavrin::win::InjectClick(10, 10);
  Pump();
  EXPECT_TRUE(recorder.Messages(hwnd, {WM_LBUTTONDOWN}).empty());
  EXPECT_EQ(recorder.Messages(hwnd, {WM_LBUTTONUP}).size(), 1u);
  UnhookWindowsHookEx(mouseHook);
}

TEST_F(WindowManagerTest, StyleChangesAreAnnouncedAndWsVisibleTakesEffect) {
  HWND hwnd = Make("styled", WS_POPUP, {0, 0, 50, 50});
  recorder.seen.clear();
  LONG_PTR old = SetWindowLongPtr(hwnd, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_BORDER);
  EXPECT_EQ(static_cast<DWORD>(old), WS_POPUP);
  EXPECT_EQ(recorder.Messages(hwnd, {WM_STYLECHANGING, WM_STYLECHANGED}),
            (std::vector<UINT>{WM_STYLECHANGING, WM_STYLECHANGED}));
  auto* change = reinterpret_cast<STYLESTRUCT*>(recorder.seen[hwnd].back().lParam);
  (void)change;  // the record lives only during the call
  EXPECT_TRUE(IsWindowVisible(hwnd));
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 50) << "the frame waits for SWP_FRAMECHANGED";
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 48);
  EXPECT_FALSE(EnableWindow(hwnd, FALSE));
  EXPECT_FALSE(IsWindowEnabled(hwnd));
  EXPECT_TRUE(EnableWindow(hwnd, TRUE));
}

TEST_F(WindowManagerTest, WindowPosChangingCanKeepAWindowHidden) {
  HWND hwnd = Make("shy", WS_POPUP, {0, 0, 40, 40});
  g_refuseShow = true;
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  g_refuseShow = false;
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(recorder.Messages(hwnd, {WM_SHOWWINDOW}).size(), 2u) << "told each time, shown once";
}

TEST_F(WindowManagerTest, RedrawOffStopsPaintingUntilItIsOnAgain) {
  HWND parent = Make("parent", WS_POPUP | WS_VISIBLE, {0, 0, 100, 100}, nullptr, 0, RGB(1, 1, 1));
  HWND child = Make("child", WS_CHILD | WS_VISIBLE, {10, 10, 50, 50}, parent, 1, RGB(2, 2, 2));
  tavrin::win::PaintPending();
  SendMessage(child, WM_SETREDRAW, FALSE, 0);
  EXPECT_FALSE(IsWindowVisible(child));
  recorder.order.clear();
  InvalidateRect(parent, nullptr, TRUE);  // the parent paints where the child was
  InvalidateRect(child, nullptr, TRUE);
  tavrin::win::PaintPending();
  Surface image;
  tavrin::win::CaptureWindow(parent, image);
  EXPECT_EQ(Pixel(image, 20, 20), PixelOf(RGB(1, 1, 1)));
  SendMessage(child, WM_SETREDRAW, TRUE, 0);
  EXPECT_TRUE(IsWindowVisible(child));
  RedrawWindow(child, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  tavrin::win::CaptureWindow(parent, image);
  EXPECT_EQ(Pixel(image, 20, 20), PixelOf(RGB(2, 2, 2)));
}

TEST_F(WindowManagerTest, ParentsHearOfChildrenMadeAndGone) {
  HWND parent = Make("parent", WS_POPUP, {0, 0, 100, 100});
  HWND child = Make("child", WS_CHILD, {0, 0, 10, 10}, parent, 33);
  Make("quiet", WS_CHILD, {0, 0, 10, 10}, parent, 34);
  DestroyWindow(child);
  std::vector<std::pair<WPARAM, LPARAM>> notes;
  for (auto& seen : recorder.seen[parent])
    if (seen.message == WM_PARENTNOTIFY) notes.emplace_back(seen.wParam, seen.lParam);
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0], std::make_pair(MAKEWPARAM(WM_CREATE, 33), reinterpret_cast<LPARAM>(child)));
  EXPECT_EQ(LOWORD(notes[1].first), WM_CREATE);
  EXPECT_EQ(notes[2], std::make_pair(MAKEWPARAM(WM_DESTROY, 33), reinterpret_cast<LPARAM>(child)));
}

TEST_F(WindowManagerTest, PropertiesAndAtomsShareNames) {
  HWND hwnd = Make("props", WS_POPUP, {0, 0, 10, 10});
  ATOM atom = GlobalAddAtom("TavrinProp");
  ASSERT_GE(atom, 0xC000);
  EXPECT_EQ(GlobalFindAtom("tavrinprop"), atom);
  int value = 5;
  EXPECT_TRUE(SetProp(hwnd, "TavrinProp", &value));
  EXPECT_EQ(GetProp(hwnd, MAKEINTATOM(atom)), &value);
  char name[32];
  EXPECT_EQ(GlobalGetAtomName(atom, name, sizeof name), 10u);
  EXPECT_STREQ(name, "TavrinProp");
  EXPECT_EQ(RemoveProp(hwnd, "TAVRINPROP"), &value);
  EXPECT_EQ(GetProp(hwnd, "TavrinProp"), nullptr);
  EXPECT_EQ(GlobalDeleteAtom(atom), 0);
  EXPECT_EQ(GlobalFindAtom("TavrinProp"), 0);
  EXPECT_EQ(GlobalAddAtom("#42"), 42);
  UINT message = RegisterWindowMessage("TavrinMessage");
  EXPECT_GE(message, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage("TAVRINMESSAGE"), message);
}

TEST_F(WindowManagerTest, RegisteredClassesAreUniqueByName) {
  WNDCLASS wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "wmtest";
  EXPECT_EQ(RegisterClass(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  WNDCLASS info{};
  EXPECT_TRUE(GetClassInfo(nullptr, "WMTEST", &info));
  EXPECT_EQ(info.style, UINT{CS_DBLCLKS});
  EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

}  // namespace
