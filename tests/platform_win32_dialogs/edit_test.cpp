// The single-line edit: typing, limits, password display, selection and its notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/controls.h"
#include "win32/gdi_hooks.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

std::vector<std::pair<int, UINT>>* g_commands = nullptr;

LRESULT CALLBACK RecordingParent(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && g_commands) g_commands->push_back({LOWORD(wParam), HIWORD(wParam)});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

struct EditFixture : ::testing::Test {
  void SetUp() override {
    tavrin::controls::RegisterStandardControls();
    g_commands = &commands;
    tavrin::win::WindowSpec spec;
    spec.className = "EditTestParent";
    spec.proc = RecordingParent;
    spec.style = WS_POPUP | WS_VISIBLE;
    spec.x = 10, spec.y = 10, spec.width = 300, spec.height = 100;
    parent = tavrin::win::CreateWindowObject(spec);
    ASSERT_NE(parent, nullptr);
  }
  void TearDown() override {
    DestroyWindow(parent);
    g_commands = nullptr;
  }
  HWND MakeEdit(DWORD style, const char* text = "", int width = 200) {
    int y = 5 + 24 * (made++ % 3);
    return CreateWindowEx(WS_EX_CLIENTEDGE, "Edit", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 5, y, width, 22,
                          parent, reinterpret_cast<HMENU>(static_cast<uintptr_t>(42)), nullptr, nullptr);
  }
  static std::string Text(HWND hwnd) {
    char buffer[256] = {};
    GetWindowText(hwnd, buffer, sizeof buffer);
    return buffer;
  }
  static void Type(HWND edit, const std::string& text) {
    for (char c : text) SendMessage(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
  }
  int Count(UINT code) const {
    int n = 0;
    for (auto& [id, c] : commands) n += (id == 42 && c == code);
    return n;
  }
  std::vector<std::pair<int, UINT>> commands;
  HWND parent = nullptr;
  int made = 0;
};

TEST_F(EditFixture, TypingEditsAtTheCaretAndNotifiesEachChange) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "ac");
  EXPECT_EQ(SendMessage(edit, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL, DLGC_HASSETSEL);
  SendMessage(edit, EM_SETSEL, 1, 1);
  Type(edit, "b");
  EXPECT_EQ(Text(edit), "abc");
  EXPECT_EQ(Count(EN_CHANGE), 1);
  SendMessage(edit, WM_KEYDOWN, VK_END, 0);
  Type(edit, "\b\b");
  EXPECT_EQ(Text(edit), "a");
  SendMessage(edit, WM_KEYDOWN, VK_HOME, 0);
  SendMessage(edit, WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(Text(edit), "");
  EXPECT_EQ(Count(EN_CHANGE), 4);
  Type(edit, "\b");  // nothing left to delete: no change reported
  EXPECT_EQ(Count(EN_CHANGE), 4);
  EXPECT_TRUE(SendMessage(edit, EM_GETMODIFY, 0, 0));

  // WM_SETTEXT replaces the text, puts the caret at the start and reports the change.
  SendMessage(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("hello"));
  EXPECT_EQ(Count(EN_CHANGE), 5);
  EXPECT_FALSE(SendMessage(edit, EM_GETMODIFY, 0, 0));
  DWORD from = 9, to = 9;
  SendMessage(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 0u);
  DestroyWindow(edit);
}

TEST_F(EditFixture, SelectionIsClampedReplacedAndExtendedByKeys) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "abcdef");
  SendMessage(edit, EM_SETSEL, 4, 1);  // reversed ends come back ordered
  LRESULT sel = SendMessage(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sel)), 1);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sel)), 4);
  SendMessage(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>("XY"));
  EXPECT_EQ(Text(edit), "aXYef");
  SendMessage(edit, EM_SETSEL, 0, -1);  // all
  sel = SendMessage(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sel)), 5);
  SendMessage(edit, EM_SETSEL, 2, 100);  // past the end: to the end
  sel = SendMessage(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sel)), 2);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sel)), 5);
  SendMessage(edit, EM_SETSEL, -1, 0);  // deselect, caret kept
  sel = SendMessage(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sel)), HIWORD(static_cast<uintptr_t>(sel)));

  // Text set behind the control's back shrinks: the selection follows.
  SendMessage(edit, EM_SETSEL, 0, -1);
  SetWindowText(edit, "ab");
  Type(edit, "z");
  EXPECT_EQ(Text(edit), "z");

  // Shift+Left extends from the caret.
  SendMessage(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("1234"));
  SendMessage(edit, WM_KEYDOWN, VK_END, 0);
  SetFocus(edit);
  tavrin::win::InjectKey(VK_SHIFT, true);
  for (int i = 0; i < 2; ++i) {
    tavrin::win::InjectKey(VK_LEFT, true);
    tavrin::win::InjectKey(VK_LEFT, false);
  }
  tavrin::win::InjectKey(VK_SHIFT, false);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  sel = SendMessage(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sel)), 2);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sel)), 4);
  Type(edit, "x");
  EXPECT_EQ(Text(edit), "12x");
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  DestroyWindow(edit);
}

TEST_F(EditFixture, LimitRefusesInputAndReportsMaxText) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL);
  SendMessage(edit, EM_LIMITTEXT, 7, 0);
  EXPECT_EQ(SendMessage(edit, EM_GETLIMITTEXT, 0, 0), 7);
  Type(edit, "123456789");
  EXPECT_EQ(Text(edit), "1234567");
  EXPECT_EQ(Count(EN_MAXTEXT), 2);
  EXPECT_EQ(Count(EN_CHANGE), 7);
  // A paste is cut to what fits; replacing a selection frees room.
  SendMessage(edit, EM_SETSEL, 0, 2);
  SendMessage(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>("abcd"));
  EXPECT_EQ(Text(edit), "ab34567");
  SendMessage(edit, EM_LIMITTEXT, 0, 0);
  EXPECT_GT(SendMessage(edit, EM_GETLIMITTEXT, 0, 0), 1000000);
  DestroyWindow(edit);
}

TEST_F(EditFixture, WithoutAutoScrollTheTextStopsAtTheWidth) {
  HWND edit = MakeEdit(0, "", 40);
  Type(edit, std::string(40, 'W'));
  std::string text = Text(edit);
  EXPECT_LT(text.size(), 40u);
  EXPECT_GT(text.size(), 0u);
  EXPECT_GE(Count(EN_MAXTEXT), 1);
  DestroyWindow(edit);
}

TEST_F(EditFixture, NumberUpperCaseAndReadOnlyStyles) {
  HWND number = MakeEdit(ES_AUTOHSCROLL | ES_NUMBER);
  Type(number, "1a2-3");
  EXPECT_EQ(Text(number), "123");
  HWND upper = MakeEdit(ES_AUTOHSCROLL | ES_UPPERCASE);
  Type(upper, "ab1");
  EXPECT_EQ(Text(upper), "AB1");
  SendMessage(upper, EM_SETREADONLY, TRUE, 0);
  Type(upper, "c\b");
  SendMessage(upper, WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(Text(upper), "AB1");
  DestroyWindow(number);
  DestroyWindow(upper);
}

// Counts the dark pixels of a row band of a window's capture.
int DarkPixels(HWND hwnd) {
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  if (!tavrin::win::CaptureWindow(hwnd, image)) return -1;
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 3; x < image.width() - 3; ++x) {
      uint32_t p = image.at(x, y);
      if (((p >> 16) & 0xFF) < 80 && ((p >> 8) & 0xFF) < 80 && (p & 0xFF) < 80) ++dark;
    }
  return dark;
}

LRESULT Selection(HWND edit) { return SendMessage(edit, EM_GETSEL, 0, 0); }
LRESULT Span(WORD from, WORD to) { return static_cast<LRESULT>(MAKELPARAM(from, to)); }

TEST_F(EditFixture, MouseDragsSelectAndADoubleClickTakesTheWholeText) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "hello world");
  SendMessage(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 8));
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(GetCapture(), edit);
  SendMessage(edit, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(195, 8));
  EXPECT_EQ(Selection(edit), Span(0, 11));
  SendMessage(edit, WM_LBUTTONUP, 0, MAKELPARAM(195, 8));
  EXPECT_EQ(GetCapture(), nullptr);
  SendMessage(edit, WM_MOUSEMOVE, 0, MAKELPARAM(2, 8));  // the drag is over
  EXPECT_EQ(Selection(edit), Span(0, 11));

  // The arrows without Shift drop a selection at its near end.
  SendMessage(edit, WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(Selection(edit), Span(0, 0));
  SendMessage(edit, EM_SETSEL, 2, 5);
  SendMessage(edit, WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(Selection(edit), Span(5, 5));

  // A drag whose capture was taken away stops following the mouse.
  SendMessage(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 8));
  ReleaseCapture();
  SetCapture(edit);
  SendMessage(edit, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(195, 8));
  EXPECT_EQ(Selection(edit), Span(0, 0));
  ReleaseCapture();

  SendMessage(edit, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(40, 8));
  SendMessage(edit, WM_LBUTTONUP, 0, MAKELPARAM(40, 8));
  EXPECT_EQ(Selection(edit), Span(0, 11));
  DestroyWindow(edit);
}

TEST_F(EditFixture, ClearAndReplaceReportUpdateBeforeChangeAndSetTheModifiedFlag) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "hello world");
  EXPECT_EQ(SendMessage(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("hello world")), TRUE);
  commands.clear();
  SendMessage(edit, EM_SETSEL, 0, 6);
  SendMessage(edit, WM_CLEAR, 0, 0);
  EXPECT_EQ(Text(edit), "world");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].second, static_cast<UINT>(EN_UPDATE));
  EXPECT_EQ(commands[1].second, static_cast<UINT>(EN_CHANGE));
  EXPECT_TRUE(SendMessage(edit, EM_GETMODIFY, 0, 0));
  SendMessage(edit, EM_SETMODIFY, FALSE, 0);
  EXPECT_FALSE(SendMessage(edit, EM_GETMODIFY, 0, 0));

  SendMessage(edit, WM_CLEAR, 0, 0);  // nothing selected: nothing cleared, nothing reported
  EXPECT_EQ(commands.size(), 2u);
  SendMessage(edit, EM_SETSEL, 0, 1);
  SendMessage(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>("W"));
  EXPECT_EQ(Text(edit), "World");
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[2].second, static_cast<UINT>(EN_UPDATE));
  EXPECT_EQ(commands[3].second, static_cast<UINT>(EN_CHANGE));
  EXPECT_EQ(Selection(edit), Span(1, 1)) << "the caret after what was put in";

  SendMessage(edit, EM_SETREADONLY, TRUE, 0);
  SendMessage(edit, EM_SETSEL, 0, -1);
  SendMessage(edit, WM_CLEAR, 0, 0);
  EXPECT_EQ(Text(edit), "World") << "read-only";
  DestroyWindow(edit);
}

TEST_F(EditFixture, KeepsTheFontItIsGiven) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "text");
  EXPECT_EQ(SendMessage(edit, WM_GETFONT, 0, 0), 0);
  HFONT font = CreateFont(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "DejaVu Sans");
  int small = DarkPixels(edit);
  SendMessage(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EXPECT_EQ(SendMessage(edit, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
  EXPECT_GT(DarkPixels(edit), small) << "the larger font is drawn";
  DestroyWindow(edit);
  DeleteObject(font);
}

TEST_F(EditFixture, PasswordShowsStarsButKeepsTheText) {
  HWND secret = MakeEdit(ES_AUTOHSCROLL | ES_PASSWORD);
  HWND plain = MakeEdit(ES_AUTOHSCROLL);
  EXPECT_EQ(SendMessage(secret, EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(SendMessage(plain, EM_GETPASSWORDCHAR, 0, 0), 0);
  Type(secret, "iiii");
  Type(plain, "iiii");
  EXPECT_EQ(Text(secret), "iiii");
  // Stars and i's ink differently: the shown text is not the real one.
  EXPECT_NE(DarkPixels(secret), DarkPixels(plain));
  SendMessage(secret, EM_SETPASSWORDCHAR, 0, 0);
  EXPECT_EQ(GetWindowLongPtr(secret, GWL_STYLE) & ES_PASSWORD, 0);
  EXPECT_EQ(DarkPixels(secret), DarkPixels(plain));
  DestroyWindow(secret);
  DestroyWindow(plain);
}

// Keys typed right after a click that moves the focus, the click still queued: they go where the click
// put the focus, in the order they came, as a person typing fast sees.
TEST_F(EditFixture, KeysTypedBehindAQueuedClickGoToTheClickedEdit) {
  HWND first = MakeEdit(ES_AUTOHSCROLL);
  HWND second = MakeEdit(ES_AUTOHSCROLL);
  SetFocus(first);
  RECT box;
  GetWindowRect(second, &box);
  tavrin::win::InjectClick((box.left + box.right) / 2, (box.top + box.bottom) / 2);
  tavrin::win::InjectText("ab.C");  // '.' has no key of ours: it comes as the character alone
  EXPECT_EQ(GetFocus(), first);     // nothing handled yet
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  EXPECT_EQ(GetFocus(), second);
  EXPECT_EQ(Text(second), "ab.C");
  EXPECT_EQ(Text(first), "");

  // A key whose window went before it was read goes to the focus of the thread that took it.
  tavrin::win::InjectText("d");
  DestroyWindow(second);
  SetFocus(first);
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  EXPECT_EQ(Text(first), "d");
  DestroyWindow(first);
}

TEST_F(EditFixture, FocusShowsCaretAndSelectionWithoutLeakingGdiObjects) {
  HWND edit = MakeEdit(ES_AUTOHSCROLL, "some text");
  int unfocused = DarkPixels(edit);
  SetFocus(edit);
  SendMessage(edit, EM_SETSEL, 0, 4);
  EXPECT_EQ(Count(EN_SETFOCUS), 1);
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  ASSERT_TRUE(tavrin::win::CaptureWindow(edit, image));
  // The selection is drawn in the highlight colour.
  COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  uint32_t want = (GetRValue(highlight) << 16) | (GetGValue(highlight) << 8) | GetBValue(highlight);
  int highlighted = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) highlighted += (image.at(x, y) & 0xFFFFFF) == want;
  EXPECT_GT(highlighted, 20);
  EXPECT_NE(DarkPixels(edit), unfocused);

  size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    InvalidateRect(edit, nullptr, TRUE);
    tavrin::win::PaintPending();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  SetFocus(nullptr);
  EXPECT_EQ(Count(EN_KILLFOCUS), 1);
  DestroyWindow(edit);
}

}  // namespace

namespace {

// The leftmost dark column of an edit's capture, -1 when none.
int FirstInkColumn(HWND hwnd) {
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  if (!tavrin::win::CaptureWindow(hwnd, image)) return -1;
  for (int x = 3; x < image.width() - 3; ++x)
    for (int y = 3; y < image.height() - 3; ++y) {
      uint32_t p = image.at(x, y);
      if (((p >> 16) & 0xFF) < 80 && ((p >> 8) & 0xFF) < 80 && (p & 0xFF) < 80) return x;
    }
  return -1;
}

TEST_F(EditFixture, AlignmentPlacesTextThatFitsAndClicksFollowIt) {
  HWND left = MakeEdit(ES_AUTOHSCROLL, "42");
  HWND right = MakeEdit(ES_AUTOHSCROLL | ES_RIGHT, "42");
  HWND centre = MakeEdit(ES_AUTOHSCROLL | ES_CENTER, "42");
  int l = FirstInkColumn(left), r = FirstInkColumn(right), c = FirstInkColumn(centre);
  EXPECT_LT(l, 10);
  EXPECT_GT(r, 150);
  EXPECT_GT(c, l + 50);
  EXPECT_LT(c, r - 50);
  // A click just right of the right-aligned text puts the caret after it.
  SendMessage(right, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(195, 8));
  SendMessage(right, WM_LBUTTONUP, 0, MAKELPARAM(195, 8));
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(SendMessage(right, EM_GETSEL, 0, 0))), 2);
  SendMessage(right, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 8));
  SendMessage(right, WM_LBUTTONUP, 0, MAKELPARAM(20, 8));
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(SendMessage(right, EM_GETSEL, 0, 0))), 0);
  DestroyWindow(left);
  DestroyWindow(right);
  DestroyWindow(centre);
}

}  // namespace
