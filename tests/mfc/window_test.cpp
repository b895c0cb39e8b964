// CWnd over the window manager: geometry, styles, subclassing and message reflection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mfc/mfc.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"

namespace {

std::vector<std::string> g_log;

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) {
    g_log.push_back("plain user+1");
    return 11;
  }
  if (message == WM_NCDESTROY) g_log.push_back("plain ncdestroy");
  return DefWindowProc(hwnd, message, wParam, lParam);
}

// A control that handles its own notifications as its parent reflects them.
class ReflectingControl : public CWnd {
 public:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnControlReflect<&ReflectingControl::OnClicked>(0),  // BN_CLICKED
        mfc::OnNotifyReflect<&ReflectingControl::OnNotifyCode>(static_cast<UINT>(-2)),
        mfc::OnReflect<&ReflectingControl::OnDrawItem>(WM_DRAWITEM),
        mfc::OnMessage<&ReflectingControl::OnUserTwo>(WM_USER + 2),
    };
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
  void PreSubclassWindow() override { g_log.push_back("pre-subclass"); }
  void OnClicked() { g_log.push_back("reflected click"); }
  void OnNotifyCode(NMHDR* header, LRESULT* result) {
    g_log.push_back("reflected notify " + std::to_string(header->idFrom));
    *result = 5;
  }
  LRESULT OnDrawItem(WPARAM, LPARAM lParam) {
    g_log.push_back("reflected draw " + std::to_string(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->CtlID));
    return TRUE;
  }
  LRESULT OnUserTwo(WPARAM, LPARAM) {
    g_log.push_back("object user+2");
    return 22;
  }
};

class ParentWnd : public CWnd {
 public:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&ParentWnd::OnNotify>(WM_NOTIFY)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
  LRESULT OnNotify(WPARAM, LPARAM) {
    g_log.push_back("parent notify");
    return 1;
  }
};

class DrawingView : public CView {
 public:
  void OnDraw(CDC* dc) override {
    ++draws;
    RECT client;
    GetClientRect(&client);
    CBrush brush;
    brush.CreateSolidBrush(RGB(0, 128, 255));
    dc->FillRect(&client, &brush);
  }
  int draws = 0;
};

// Asks for a border and a wider window than its creator did; refuses a window titled "no".
class AdjustingWnd : public CWnd {
 public:
  BOOL PreCreateWindow(CREATESTRUCT& cs) override {
    if (cs.lpszName && std::string(cs.lpszName) == "no") return FALSE;
    cs.style |= WS_BORDER;
    cs.cx += 10;
    return TRUE;
  }
};

class MfcWindowTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_log.clear();
  }
};

TEST_F(MfcWindowTest, GeometryAndStylesGoThroughTheWindow) {
  CWnd frame;
  ASSERT_TRUE(frame.CreateEx(0, "frame", WS_POPUP | WS_VISIBLE, 10, 20, 200, 100, nullptr, 0));
  CWnd child;
  ASSERT_TRUE(child.CreateEx(0, "", WS_CHILD | WS_VISIBLE, 5, 5, 50, 40, frame.m_hWnd, 9));
  RECT rect;
  child.GetWindowRect(&rect);
  EXPECT_EQ(rect.left, 15);
  EXPECT_EQ(rect.top, 25);
  frame.ScreenToClient(&rect);
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.right, 55);
  EXPECT_EQ(frame.GetDlgItem(9), &child);
  EXPECT_EQ(child.GetParent(), &frame);
  child.MoveWindow(0, 0, 20, 20);
  child.GetClientRect(&rect);
  EXPECT_EQ(rect.right, 20);

  EXPECT_TRUE(frame.ModifyStyle(0, WS_BORDER, SWP_FRAMECHANGED));
  EXPECT_FALSE(frame.ModifyStyle(0, WS_BORDER)) << "nothing changes";
  frame.GetClientRect(&rect);
  EXPECT_EQ(rect.right, 198);
  EXPECT_TRUE(frame.ModifyStyleEx(0, WS_EX_TOOLWINDOW));
  EXPECT_TRUE(frame.GetExStyle() & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(child.ModifyStyle(WS_VISIBLE, 0));
  EXPECT_FALSE(child.IsWindowVisible());
  EXPECT_FALSE(child.EnableWindow(FALSE));
  EXPECT_FALSE(child.IsWindowEnabled());
}

TEST_F(MfcWindowTest, SubclassedWindowKeepsItsOwnProcedureBehindTheObject) {
  tavrin::win::WindowSpec spec;
  spec.className = "Plain";
  spec.proc = PlainProc;
  spec.userData = 1234;
  HWND plain = tavrin::win::CreateWindowObject(spec);
  ASSERT_NE(plain, nullptr);
  {
    ReflectingControl control;
    ASSERT_TRUE(control.SubclassWindow(plain));
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), &control);
    EXPECT_FALSE(ReflectingControl().SubclassWindow(plain)) << "one object a window";
    EXPECT_EQ(::SendMessage(plain, WM_USER + 2, 0, 0), 22);
    EXPECT_EQ(::SendMessage(plain, WM_USER + 1, 0, 0), 11) << "unhandled messages reach the old procedure";
    EXPECT_EQ(GetWindowLongPtr(plain, GWLP_USERDATA), 1234);
    EXPECT_EQ(control.UnsubclassWindow(), plain);
    EXPECT_EQ(::SendMessage(plain, WM_USER + 2, 0, 0), 0);
  }
  EXPECT_TRUE(IsWindow(plain)) << "an unsubclassed window outlives the object";
  EXPECT_EQ(g_log, (std::vector<std::string>{"pre-subclass", "object user+2", "plain user+1"}));
  DestroyWindow(plain);

  // A temporary object stands for a window no object owns.
  HWND other = tavrin::win::CreateWindowObject(spec);
  CWnd* temporary = CWnd::FromHandle(other);
  ASSERT_NE(temporary, nullptr);
  EXPECT_EQ(temporary->m_hWnd, other);
  EXPECT_EQ(CWnd::FromHandlePermanent(other), nullptr);
  DestroyWindow(other);
}

TEST_F(MfcWindowTest, ParentReflectsControlNotificationsBackToTheControl) {
  ParentWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "parent", WS_POPUP, 0, 0, 100, 100, nullptr, 0));
  ReflectingControl control;
  ASSERT_TRUE(control.CreateEx(0, "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent.m_hWnd, 42));
  g_log.clear();
  parent.SendMessage(WM_COMMAND, MAKEWPARAM(42, 0), reinterpret_cast<LPARAM>(control.m_hWnd));
  NMHDR header{control.m_hWnd, 42, static_cast<UINT>(-2)};
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 42, reinterpret_cast<LPARAM>(&header)), 5);
  header.code = static_cast<UINT>(-5);  // not reflected: the parent's own handler
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 42, reinterpret_cast<LPARAM>(&header)), 1);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = 42;
  item.hwndItem = control.m_hWnd;
  EXPECT_EQ(parent.SendMessage(WM_DRAWITEM, 42, reinterpret_cast<LPARAM>(&item)), TRUE);
  EXPECT_EQ(g_log, (std::vector<std::string>{"reflected click", "reflected notify 42", "parent notify",
                                              "reflected draw 42"}));
}

TEST_F(MfcWindowTest, PreCreateWindowAdjustsOrRefusesTheCreation) {
  AdjustingWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, "yes", WS_POPUP, 0, 0, 50, 40, nullptr, 0));
  RECT rect;
  wnd.GetWindowRect(&rect);
  EXPECT_EQ(rect.right - rect.left, 60);
  EXPECT_TRUE(wnd.GetStyle() & WS_BORDER);
  AdjustingWnd refused;
  EXPECT_FALSE(refused.CreateEx(0, "no", WS_POPUP, 0, 0, 50, 40, nullptr, 0));
  EXPECT_EQ(refused.m_hWnd, nullptr);
}

TEST_F(MfcWindowTest, ViewsDrawThroughOnDrawOnAPaintDc) {
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 100, 80, nullptr, 0));
  auto* view = new DrawingView;  // deletes itself with its window
  ASSERT_TRUE(view->CreateEx(0, "", WS_CHILD | WS_VISIBLE, 10, 10, 40, 30, host.m_hWnd, 1));
  host.UpdateWindow();
  view->UpdateWindow();
  EXPECT_EQ(view->draws, 1);
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(tavrin::win::CaptureWindow(host.m_hWnd, pixels));
  EXPECT_EQ(pixels.at(20, 20) & 0xFFFFFF, 0x0080FFu);
  EXPECT_EQ(pixels.at(5, 5) & 0xFFFFFF, 0xFFFFFFu) << "the host's own background";
  CDC* dc = view->GetDC();
  ASSERT_NE(dc, nullptr);
  EXPECT_NE(dc->GetSafeHdc(), nullptr);
  EXPECT_EQ(view->ReleaseDC(dc), 1);
}

}  // namespace
