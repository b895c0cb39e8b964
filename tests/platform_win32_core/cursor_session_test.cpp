// The mouse cursor (system shapes, SetCursor, WM_SETCURSOR from real input) and the end of a session.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "peer_process.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/resources.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::test::PumpUntil;
using tavrin::win::CursorKind;

class CursorTest : public tavrin::test::SysrootTest {
 protected:
  void TearDown() override {
    for (HWND hwnd : windows_)
      if (IsWindow(hwnd)) DestroyWindow(hwnd);
    tavrin::test::DiscardMessages();
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    SysrootTest::TearDown();
  }

  HWND Make(const char* className, DWORD style, int x, int y, int w, int h, HWND parent = nullptr,
            WNDPROC proc = DefWindowProc, HCURSOR cursor = nullptr) {
    WNDCLASS wc{};
    wc.lpfnWndProc = proc;
    wc.hCursor = cursor;
    wc.lpszClassName = className;
    RegisterClass(&wc);
    HWND hwnd = CreateWindowEx(0, className, className, style | WS_VISIBLE, x, y, w, h, parent, nullptr, nullptr, nullptr);
    windows_.push_back(hwnd);
    return hwnd;
  }

  // Moves the mouse to a screen point and lets the windows answer, as the thread's loop would.
  void MoveTo(int x, int y) {
    SetCursor(nullptr);  // so that the new cursor shows as a change
    tavrin::win::InjectMouseMove(x, y);
    PumpUntil([] { return GetCursor() != nullptr; });
  }

  std::vector<HWND> windows_;
};

TEST_F(CursorTest, SystemCursorsAreSharedLiveForeverAndCarryTheirHotSpots) {
  const size_t before = tavrin::gdi::LiveObjectCount();
  HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
  HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
  HCURSOR beam = LoadCursor(nullptr, IDC_IBEAM);
  ASSERT_NE(arrow, nullptr);
  EXPECT_NE(arrow, wait);
  EXPECT_NE(wait, beam);
  EXPECT_EQ(LoadCursor(nullptr, IDC_WAIT), wait);
  EXPECT_EQ(LoadCursor(reinterpret_cast<HINSTANCE>(1), IDC_WAIT), wait) << "the program holds no cursors of its own";
  EXPECT_EQ(LoadCursor(nullptr, reinterpret_cast<LPCSTR>(4711)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(LoadCursor(nullptr, "IDC_ARROW"), nullptr);

  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(beam, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 3u);
  EXPECT_EQ(info.yHotspot, 8u);
  BITMAP bits{};
  GetObject(info.hbmColor, sizeof bits, &bits);
  EXPECT_EQ(bits.bmWidth, GetSystemMetrics(SM_CXCURSOR));
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);

  EXPECT_TRUE(DestroyCursor(wait));
  EXPECT_EQ(LoadCursor(nullptr, IDC_WAIT), wait);
  EXPECT_TRUE(GetIconInfo(wait, &info)) << "destroying a shared cursor leaves it alive";
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "the system's cursors are not the program's objects";
}

TEST_F(CursorTest, SetCursorAnswersThePreviousAndTheDisplaySeesShapeHiddenOrCustomPixels) {
  HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  EXPECT_EQ(SetCursor(wait), LoadCursor(nullptr, IDC_ARROW));
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_EQ(tavrin::win::CurrentCursorLook().kind, CursorKind::kWait);

  EXPECT_EQ(ShowCursor(FALSE), -1);
  EXPECT_EQ(tavrin::win::CurrentCursorLook().kind, CursorKind::kNone);
  EXPECT_EQ(ShowCursor(TRUE), 0);
  EXPECT_EQ(tavrin::win::CurrentCursorLook().kind, CursorKind::kWait);
  SetCursor(nullptr);
  EXPECT_EQ(tavrin::win::CurrentCursorLook().kind, CursorKind::kNone);

  // A cursor of the program's own: its pixels, clear where the mask keeps the screen.
  tavrin::draw::Surface color(8, 8, 0), mask(8, 8, 0xFFFFFF);
  for (int i = 0; i < 8; ++i) {
    color.set(i, i, 0xFF0000);
    mask.set(i, i, 0);
  }
  ICONINFO info{FALSE, 1, 2, tavrin::gdi::CreateBitmapFromSurface(mask), tavrin::gdi::CreateBitmapFromSurface(color)};
  HCURSOR own = CreateIconIndirect(&info);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  SetCursor(own);
  auto look = tavrin::win::CurrentCursorLook();
  EXPECT_EQ(look.kind, CursorKind::kCustom);
  EXPECT_EQ(look.hotSpot.x, 1);
  EXPECT_EQ(look.hotSpot.y, 2);
  ASSERT_EQ(look.image.width(), 8);
  EXPECT_EQ(look.image.at(3, 3), 0xFFFF0000u);
  EXPECT_EQ(look.image.at(3, 4) >> 24, 0u);
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  DestroyCursor(own);
}

LRESULT CALLBACK CrossForChildrenProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETCURSOR && reinterpret_cast<HWND>(wParam) != hwnd) {
    SetCursor(LoadCursor(nullptr, IDC_CROSS));
    return TRUE;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

TEST_F(CursorTest, TheMouseOverAWindowShowsItsClassCursorASizingArrowOnItsBorderAndWhatAParentDecides) {
  HWND frame = Make("CursorFrame", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr, DefWindowProc,
                    LoadCursor(nullptr, IDC_IBEAM));
  RECT client{};
  GetClientRect(frame, &client);
  POINT inside{client.right / 2, client.bottom / 2};
  ClientToScreen(frame, &inside);
  MoveTo(inside.x, inside.y);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_IBEAM));

  RECT outer{};
  GetWindowRect(frame, &outer);
  MoveTo(outer.left + 1, (outer.top + outer.bottom) / 2);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_SIZEWE));
  MoveTo(outer.right - 1, outer.bottom - 1);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_SIZENWSE));
  MoveTo((outer.left + outer.right) / 2, outer.top + 10);  // the caption
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_ARROW));

  // A child with a cursor of its own shows it, unless its parent sets one for its children.
  HWND plain = Make("CursorPlainParent", WS_POPUP, 500, 100, 200, 100);
  HWND child = Make("CursorChild", WS_CHILD, 10, 10, 50, 50, plain, DefWindowProc, LoadCursor(nullptr, IDC_HAND));
  MoveTo(520, 120);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));
  HWND deciding = Make("CursorDecidingParent", WS_POPUP, 500, 300, 200, 100, nullptr, CrossForChildrenProc);
  Make("CursorChild", WS_CHILD, 10, 10, 50, 50, deciding);
  MoveTo(520, 320);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_CROSS));

  // While a window holds the capture nobody is asked.
  SetCapture(child);
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
  tavrin::win::InjectMouseMove(inside.x, inside.y);
  PumpUntil([] { return true; });
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
  ReleaseCapture();
}

// ---- the end of a session ----

struct SessionRecord {
  std::vector<std::string> seen;
  LRESULT answer = TRUE;
};

LRESULT CALLBACK SessionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* record = reinterpret_cast<SessionRecord*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  if (record && message == WM_QUERYENDSESSION) {
    record->seen.push_back("query " + std::to_string((lParam & ENDSESSION_LOGOFF) != 0));
    return record->answer;
  }
  if (record && message == WM_ENDSESSION) {
    record->seen.push_back("end " + std::to_string(wParam));
    return 0;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class SessionTest : public tavrin::test::SysrootTest {
 protected:
  void TearDown() override {
    for (HWND hwnd : windows_)
      if (IsWindow(hwnd)) DestroyWindow(hwnd);
    SysrootTest::TearDown();
  }
  HWND Make(SessionRecord* record, DWORD style = 0) {
    tavrin::win::WindowSpec spec;
    spec.className = "SessionWindow";
    spec.proc = SessionProc;
    spec.userData = reinterpret_cast<LONG_PTR>(record);
    spec.style = style;
    HWND hwnd = tavrin::win::CreateWindowObject(spec);
    windows_.push_back(hwnd);
    return hwnd;
  }
  std::vector<HWND> windows_;
};

TEST_F(SessionTest, EveryTopLevelWindowHiddenOrNotIsAskedAndHearsThatTheSessionEnds) {
  SessionRecord shown, hidden;
  Make(&shown, WS_VISIBLE);
  Make(&hidden);
  EXPECT_TRUE(tavrin::win::QueryEndSession(ENDSESSION_LOGOFF));
  EXPECT_EQ(shown.seen, (std::vector<std::string>{"query 1", "end 1"}));
  EXPECT_EQ(hidden.seen, (std::vector<std::string>{"query 1", "end 1"}));
  // A window that leaves the question to the default agrees.
  tavrin::win::WindowSpec plain;
  plain.className = "SessionPlain";
  windows_.push_back(tavrin::win::CreateWindowObject(plain));
  EXPECT_TRUE(tavrin::win::QueryEndSession(0));
}

TEST_F(SessionTest, ARefusalStopsTheQuestionsAndTellsThoseThatAgreedTheSessionGoesOn) {
  SessionRecord first, refusing, last;
  // Shown windows are asked top first: the newest first.
  Make(&last, WS_VISIBLE);
  Make(&refusing, WS_VISIBLE);
  Make(&first, WS_VISIBLE);
  refusing.answer = FALSE;
  EXPECT_FALSE(tavrin::win::QueryEndSession(ENDSESSION_LOGOFF));
  EXPECT_EQ(first.seen, (std::vector<std::string>{"query 1", "end 0"}));
  EXPECT_EQ(refusing.seen, (std::vector<std::string>{"query 1"}));
  EXPECT_TRUE(last.seen.empty());
}

TEST_F(SessionTest, AnotherProcessIsAskedThroughItsWindowServiceAndEndsWhenItAgrees) {
  tavrin::test::PeerProcess refusing({"session-window", "Refusing peer", "0"});
  ASSERT_TRUE(refusing.WaitForLine("ready"));
  DWORD refusedBy = 0;
  EXPECT_FALSE(tavrin::win::EndSessionEverywhere(ENDSESSION_LOGOFF, &refusedBy));
  EXPECT_EQ(refusedBy, static_cast<DWORD>(refusing.pid()));
  EXPECT_EQ(refusing.ReadLine(), "query 80000000");
  // It goes on: asked again, it answers again.
  EXPECT_FALSE(tavrin::win::EndSessionEverywhere(0, &refusedBy));
  EXPECT_EQ(refusing.ReadLine(), "query 0");
  refusing.Kill();

  tavrin::test::PeerProcess agreeing({"session-window", "Agreeing peer", "1"});
  ASSERT_TRUE(agreeing.WaitForLine("ready"));
  EXPECT_TRUE(tavrin::win::EndSessionEverywhere(0, &refusedBy));
  EXPECT_EQ(agreeing.ReadLine(), "query 0");
  EXPECT_EQ(agreeing.ReadLine(), "end 1");
  EXPECT_EQ(agreeing.Wait(), 0) << "its session ended, so did the process";
}

}  // namespace
