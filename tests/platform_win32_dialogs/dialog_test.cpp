// Dialogs from templates: layout in dialog units, keyboard navigation, default buttons, modal loops and
// their owners.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "template_builder.h"
#include "win32/controls.h"
#include "win32/gdi_hooks.h"
#include "win32/resources.h"
#include "win32/sync.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

using dialog_test::TemplateBuilder;

constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
constexpr int kName = 100, kCheck = 101, kLabel = 102, kApply = 103;

// The test dialog: a label, an edit, a check box and three push buttons, OK the default.
TemplateBuilder StandardTemplate(DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME) {
  TemplateBuilder t(style, 10, 10, 200, 100, "Settings");
  t.Control("Name:", kLabel, kStatic, 7, 9, 40, 8, 0)
      .Control("", kName, kEdit, 50, 7, 100, 14, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL)
      .Control("Enable", kCheck, kButton, 50, 25, 80, 10, WS_TABSTOP | BS_AUTOCHECKBOX)
      .Control("OK", IDOK, kButton, 20, 79, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON)
      .Control("Cancel", IDCANCEL, kButton, 75, 79, 50, 14, WS_TABSTOP)
      .Control("Apply", kApply, kButton, 130, 79, 50, 14, WS_TABSTOP);
  return t;
}

// What a dialog procedure saw; the procedure runs the test's script at WM_INITDIALOG and at WM_APP.
struct Script {
  std::vector<int> commands;
  std::function<void(HWND)> onInit;
  std::function<void(HWND)> onApp;
  bool endOnCommand = true;
  int initCount = 0;
  HWND initFocusArg = nullptr;
};

INT_PTR CALLBACK ScriptProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* script = reinterpret_cast<Script*>(GetWindowLongPtr(hwnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      script = reinterpret_cast<Script*>(lParam);
      SetWindowLongPtr(hwnd, DWLP_USER, lParam);
      ++script->initCount;
      script->initFocusArg = reinterpret_cast<HWND>(wParam);
      if (script->onInit) script->onInit(hwnd);
      return TRUE;
    case WM_COMMAND:
      if (!script || HIWORD(wParam) != BN_CLICKED) return FALSE;
      script->commands.push_back(LOWORD(wParam));
      if (script->endOnCommand && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(hwnd, LOWORD(wParam) == IDOK ? 42 : 7);
      return TRUE;
    case WM_APP:
      if (script && script->onApp) script->onApp(hwnd);
      return TRUE;
    default:
      return FALSE;
  }
}

void Pump() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
}

// Key presses through the dialog's own navigation, as a modeless dialog's loop would do it.
void PressKey(HWND dialog, int vk, bool shift = false) {
  if (shift) tavrin::win::InjectKey(VK_SHIFT, true);
  tavrin::win::InjectKey(vk, true);
  tavrin::win::InjectKey(vk, false);
  if (shift) tavrin::win::InjectKey(VK_SHIFT, false);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessage(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
}

RECT ChildRect(HWND dialog, int id) {
  RECT rc;
  GetWindowRect(GetDlgItem(dialog, id), &rc);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

struct Dialogs : ::testing::Test {
  void SetUp() override { tavrin::controls::RegisterStandardControls(); }
};

TEST_F(Dialogs, ControlsArePlacedInDialogUnitsOfTheTemplateFont) {
  Script script;
  auto small = StandardTemplate();
  HWND dialog = CreateDialogIndirectParam(nullptr, small.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(script.initCount, 1);
  RECT want{50, 7, 150, 21};
  ASSERT_TRUE(MapDialogRect(dialog, &want));
  RECT got = ChildRect(dialog, kName);
  EXPECT_EQ(got.left, want.left);
  EXPECT_EQ(got.top, want.top);
  EXPECT_EQ(got.right, want.right);
  EXPECT_EQ(got.bottom, want.bottom);
  // The client area is the template's size in the same units.
  RECT client, size{0, 0, 200, 100};
  GetClientRect(dialog, &client);
  MapDialogRect(dialog, &size);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  // Every control got the dialog's font.
  HFONT font = reinterpret_cast<HFONT>(SendMessage(dialog, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendDlgItemMessage(dialog, kName, WM_GETFONT, 0, 0)), font);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendDlgItemMessage(dialog, IDOK, WM_GETFONT, 0, 0)), font);

  // A larger template font makes larger units.
  TemplateBuilder big(WS_POPUP, 0, 0, 200, 100, "Big", 14);
  big.Control("x", 1, kStatic, 0, 0, 40, 8, 0);
  HWND large = CreateDialogIndirectParam(nullptr, big.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(large, nullptr);
  RECT bigRect{0, 0, 40, 8};
  MapDialogRect(large, &bigRect);
  RECT smallRect{0, 0, 40, 8};
  MapDialogRect(dialog, &smallRect);
  EXPECT_GT(bigRect.right, smallRect.right);
  EXPECT_GT(bigRect.bottom, smallRect.bottom);
  EXPECT_FALSE(MapDialogRect(GetDlgItem(dialog, kName), &bigRect)) << "no dialog";
  DestroyWindow(large);
  DestroyWindow(dialog);
}

TEST_F(Dialogs, DamagedTemplatesAndMissingResourcesFail) {
  auto t = StandardTemplate();
  std::vector<uint8_t> cut(t.Bytes().begin(), t.Bytes().begin() + 40);
  tavrin::res::Entry entries[] = {{kRtDialog, 901, nullptr, cut.data(), cut.size()}};
  tavrin::res::Register(entries);
  Script script;
  EXPECT_EQ(CreateDialogParam(nullptr, MAKEINTRESOURCE(901), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script)),
            nullptr);
  EXPECT_EQ(DialogBoxParam(nullptr, MAKEINTRESOURCE(902), nullptr, ScriptProc, 0), -1);
  EXPECT_EQ(script.initCount, 0);
  // A control of an unknown class fails the whole dialog.
  TemplateBuilder odd(WS_POPUP, 0, 0, 50, 50, "odd");
  odd.Control("", 1, 0x80, 0, 0, 10, 10, 0);
  std::vector<uint8_t> bytes = odd.Bytes();
  bytes[bytes.size() - 6] = 0x99;  // the class atom
  EXPECT_EQ(CreateDialogIndirectParam(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr, ScriptProc,
                                      reinterpret_cast<LPARAM>(&script)),
            nullptr);
}

TEST_F(Dialogs, TabOrderFollowsTabStopsAndSkipsDisabledControls) {
  Script script;
  auto t = StandardTemplate(WS_POPUP | WS_CAPTION | WS_VISIBLE);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  HWND name = GetDlgItem(dialog, kName);
  EXPECT_EQ(script.initFocusArg, name) << "the first tab stop, not the label";
  EXPECT_EQ(GetFocus(), name);
  PressKey(dialog, VK_TAB);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kCheck));
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  PressKey(dialog, VK_TAB);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDCANCEL));
  PressKey(dialog, VK_TAB);
  PressKey(dialog, VK_TAB);
  EXPECT_EQ(GetFocus(), name) << "wraps round";
  PressKey(dialog, VK_TAB, true);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kApply)) << "Shift+Tab goes back";
  EXPECT_EQ(GetNextDlgTabItem(dialog, nullptr, TRUE), GetDlgItem(dialog, kApply));

  // Tabbing into an edit selects its text.
  SetDlgItemText(dialog, kName, "abc");
  PressKey(dialog, VK_TAB);
  LRESULT sel = SendMessage(name, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sel)), 0);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sel)), 3);
  // Typed characters still reach the edit through the dialog's navigation.
  PressKey(dialog, 'Z');
  char text[16];
  GetDlgItemText(dialog, kName, text, sizeof text);
  EXPECT_STREQ(text, "z");
  // Space on a focused check box clicks it.
  PressKey(dialog, VK_TAB);
  PressKey(dialog, VK_SPACE);
  EXPECT_EQ(IsDlgButtonChecked(dialog, kCheck), BST_CHECKED);
  EXPECT_EQ(script.commands, std::vector<int>{kCheck});
  DestroyWindow(dialog);
}

TEST_F(Dialogs, EnterGoesToTheDefaultButtonAndEscapeToCancel) {
  Script script;
  script.endOnCommand = false;
  auto t = StandardTemplate(WS_POPUP | WS_VISIBLE);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendMessage(dialog, DM_GETDEFID, 0, 0), MAKELPARAM(IDOK, DC_HASDEFID));
  PressKey(dialog, VK_RETURN);  // from the edit
  PressKey(dialog, VK_ESCAPE);
  EXPECT_EQ(script.commands, (std::vector<int>{IDOK, IDCANCEL}));
  script.commands.clear();

  // A focused push button is the default while it has the focus.
  SendMessage(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kApply)), TRUE);
  EXPECT_EQ(GetWindowLongPtr(GetDlgItem(dialog, kApply), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(GetWindowLongPtr(GetDlgItem(dialog, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  PressKey(dialog, VK_RETURN);
  EXPECT_EQ(script.commands, std::vector<int>{kApply});
  SendMessage(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kName)), TRUE);
  EXPECT_EQ(GetWindowLongPtr(GetDlgItem(dialog, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "back to OK";

  // DM_SETDEFID moves the default; a disabled default does nothing.
  script.commands.clear();
  SendMessage(dialog, DM_SETDEFID, kApply, 0);
  EXPECT_EQ(GetWindowLongPtr(GetDlgItem(dialog, kApply), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  PressKey(dialog, VK_RETURN);
  EnableWindow(GetDlgItem(dialog, kApply), FALSE);
  PressKey(dialog, VK_RETURN);
  EXPECT_EQ(script.commands, std::vector<int>{kApply});

  // The close box asks for IDCANCEL.
  script.commands.clear();
  SendMessage(dialog, WM_CLOSE, 0, 0);
  Pump();
  EXPECT_EQ(script.commands, std::vector<int>{IDCANCEL});
  EXPECT_TRUE(IsWindow(dialog)) << "closing is the procedure's to decide";
  DestroyWindow(dialog);
}

TEST_F(Dialogs, RadioGroupsMoveWithArrowsAndCheckOneAtATime) {
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, 0, 0, 120, 80, "Radios");
  t.Control("A", 11, kButton, 5, 5, 50, 10, WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON)
      .Control("B", 12, kButton, 5, 17, 50, 10, BS_AUTORADIOBUTTON)
      .Control("C", 13, kButton, 5, 29, 50, 10, BS_AUTORADIOBUTTON)
      .Control("OK", IDOK, kButton, 5, 50, 40, 14, WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON);
  Script script;
  script.endOnCommand = false;
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  CheckRadioButton(dialog, 11, 13, 12);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 12), BST_CHECKED);
  // Tab into the group lands on its checked button.
  SetFocus(GetDlgItem(dialog, IDOK));
  PressKey(dialog, VK_TAB);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 12));
  PressKey(dialog, VK_DOWN);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 13));
  EXPECT_EQ(IsDlgButtonChecked(dialog, 13), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 12), BST_UNCHECKED);
  PressKey(dialog, VK_DOWN);  // wraps within the group, never to OK
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 11));
  EXPECT_EQ(IsDlgButtonChecked(dialog, 11), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 13), BST_UNCHECKED);
  // A click on another of the group takes the check over too.
  SendDlgItemMessage(dialog, 13, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 11), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 13), BST_CHECKED);
  // Round radio buttons draw with pens of their own: none stays behind.
  tavrin::win::PaintPending();
  size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    tavrin::win::PaintPending();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  DestroyWindow(dialog);
}

TEST_F(Dialogs, DialogItemTextAndNumbers) {
  Script script;
  auto t = StandardTemplate();
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(SetDlgItemInt(dialog, kName, static_cast<UINT>(-25), TRUE));
  BOOL ok = FALSE;
  EXPECT_EQ(static_cast<int>(GetDlgItemInt(dialog, kName, &ok, TRUE)), -25);
  EXPECT_TRUE(ok);
  GetDlgItemInt(dialog, kName, &ok, FALSE);
  EXPECT_FALSE(ok) << "a sign where none is allowed";
  SetDlgItemText(dialog, kName, "99999999999");
  EXPECT_EQ(GetDlgItemInt(dialog, kName, &ok, FALSE), 0u);
  EXPECT_FALSE(ok) << "out of range";
  SetDlgItemText(dialog, kName, "12x");
  GetDlgItemInt(dialog, kName, &ok, FALSE);
  EXPECT_FALSE(ok);
  char small[4];
  SetDlgItemText(dialog, kName, "long text");
  EXPECT_EQ(GetDlgItemText(dialog, kName, small, sizeof small), 3u);
  EXPECT_STREQ(small, "lon");
  EXPECT_EQ(GetDlgItemText(dialog, 999, small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
  CheckDlgButton(dialog, kCheck, BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, kCheck), BST_CHECKED);
  SetWindowLongPtr(dialog, DWLP_MSGRESULT, 5);
  EXPECT_EQ(GetWindowLongPtr(dialog, DWLP_MSGRESULT), 5);
  EXPECT_EQ(GetWindowLongPtr(dialog, DWLP_DLGPROC), reinterpret_cast<LONG_PTR>(ScriptProc));
  DestroyWindow(dialog);
}

HWND MakeOwner() {
  tavrin::win::WindowSpec spec;
  spec.className = "DialogTestOwner";
  spec.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  spec.x = 50, spec.y = 50, spec.width = 400, spec.height = 300;
  return tavrin::win::CreateWindowObject(spec);
}

TEST_F(Dialogs, ModalDialogDisablesItsOwnerAndReturnsTheEndResult) {
  HWND owner = MakeOwner();
  ASSERT_NE(owner, nullptr);
  Script script;
  bool ownerDisabledInside = false;
  HWND seenDialog = nullptr;
  script.onInit = [&](HWND dialog) {
    seenDialog = dialog;
    PostMessage(dialog, WM_APP, 0, 0);  // runs once the loop is up
  };
  script.onApp = [&](HWND dialog) {
    ownerDisabledInside = !IsWindowEnabled(owner);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetParent(dialog), owner);
    SetDlgItemText(dialog, kName, "typed");
    PostMessage(GetDlgItem(dialog, kName), WM_KEYDOWN, VK_RETURN, 1);
  };
  auto t = StandardTemplate();
  size_t before = tavrin::gdi::LiveObjectCount();
  INT_PTR result = DialogBoxIndirectParam(nullptr, t.Get(), owner, ScriptProc, reinterpret_cast<LPARAM>(&script));
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(ownerDisabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_FALSE(IsWindow(seenDialog));
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "the template font goes with the dialog";

  // EndDialog inside WM_INITDIALOG: the dialog never runs and the owner stays enabled.
  Script quick;
  quick.onInit = [](HWND dialog) { EndDialog(dialog, 3); };
  EXPECT_EQ(DialogBoxIndirectParam(nullptr, t.Get(), owner, ScriptProc, reinterpret_cast<LPARAM>(&quick)), 3);
  EXPECT_TRUE(IsWindowEnabled(owner));

  // WM_QUIT ends the loop and is posted again for the thread's own loop.
  Script quitting;
  quitting.onInit = [](HWND) { PostQuitMessage(9); };
  EXPECT_EQ(DialogBoxIndirectParam(nullptr, t.Get(), owner, ScriptProc, reinterpret_cast<LPARAM>(&quitting)), -1);
  EXPECT_TRUE(IsWindowEnabled(owner));
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 9u);

  // An owner that was disabled already stays disabled afterwards.
  EnableWindow(owner, FALSE);
  Script again;
  again.onInit = [](HWND dialog) { PostMessage(dialog, WM_COMMAND, IDCANCEL, 0); };
  EXPECT_EQ(DialogBoxIndirectParam(nullptr, t.Get(), owner, ScriptProc, reinterpret_cast<LPARAM>(&again)), 7);
  EXPECT_FALSE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

TEST_F(Dialogs, ModalDialogDisablesAnOwnerOfAnotherThread) {
  std::atomic<HWND> owner{nullptr};
  std::atomic<DWORD> ownerThread{0};
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE disabledSeen = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::vector<WPARAM> enableMessages;
  std::thread other([&] {
    tavrin::win::WindowSpec spec;
    spec.className = "DialogTestOtherOwner";
    spec.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    spec.x = 60, spec.y = 60, spec.width = 300, spec.height = 200;
    spec.proc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message == WM_ENABLE) {
        auto* seen = reinterpret_cast<std::vector<WPARAM>*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
        seen->push_back(wParam);
      }
      return DefWindowProc(hwnd, message, wParam, lParam);
    };
    spec.userData = reinterpret_cast<LONG_PTR>(&enableMessages);
    owner = tavrin::win::CreateWindowObject(spec);
    ownerThread = GetCurrentThreadId();
    SetEvent(ready);
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_ENABLE && !msg.wParam) SetEvent(disabledSeen);
      DispatchMessage(&msg);
    }
    DestroyWindow(owner);
  });
  WaitForSingleObject(ready, INFINITE);
  ASSERT_NE(owner.load(), nullptr);

  Script script;
  bool disabledInside = false;
  script.onInit = [&](HWND dialog) { PostMessage(dialog, WM_APP, 0, 0); };
  script.onApp = [&](HWND dialog) {
    disabledInside = !IsWindowEnabled(owner);
    // The owner's thread hears of it in its own loop.
    EXPECT_EQ(WaitForSingleObject(disabledSeen, 10000), WAIT_OBJECT_0);
    PostMessage(dialog, WM_COMMAND, IDOK, 0);
  };
  auto t = StandardTemplate();
  EXPECT_EQ(DialogBoxIndirectParam(nullptr, t.Get(), owner, ScriptProc, reinterpret_cast<LPARAM>(&script)), 42);
  EXPECT_TRUE(disabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner));
  PostThreadMessage(ownerThread, WM_QUIT, 0, 0);
  other.join();
  EXPECT_EQ(enableMessages, (std::vector<WPARAM>{FALSE, TRUE}));
  CloseHandle(ready);
  CloseHandle(disabledSeen);
}

uint32_t Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// A group box drawn above the controls it holds (made first, so first in the z-order) neither paints over
// them nor takes their clicks.
TEST_F(Dialogs, AGroupBoxLeavesWhatItHoldsVisibleAndClickable) {
  Script script;
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, 10, 10, 200, 60, "Group");
  t.Control("Log File", 0xFFFF, kButton, 7, 5, 186, 36, BS_GROUPBOX)
      .Control("", kName, kEdit, 14, 18, 110, 14, WS_BORDER)
      .Control("Browse", kApply, kButton, 130, 16, 54, 18, WS_TABSTOP);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  ASSERT_TRUE(tavrin::win::CaptureWindow(dialog, image));
  RECT edit = ChildRect(dialog, kName);
  EXPECT_EQ(image.at(edit.right - 4, (edit.top + edit.bottom) / 2) & 0xFFFFFF, Rgb(GetSysColor(COLOR_WINDOW)));
  RECT browse = ChildRect(dialog, kApply);
  POINT centre{(browse.left + browse.right) / 2, (browse.top + browse.bottom) / 2};
  ClientToScreen(dialog, &centre);
  EXPECT_EQ(WindowFromPoint(centre), GetDlgItem(dialog, kApply));
  DestroyWindow(dialog);
}

// A group box's caption shows its mnemonic as a label does: underlined, the "&" not drawn.
TEST_F(Dialogs, AGroupBoxCaptionUnderlinesItsMnemonic) {
  Script script;
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, 10, 10, 200, 60, "Groups");
  t.Control("Log File", 21, kButton, 5, 5, 90, 36, BS_GROUPBOX)
      .Control("&Log File", 22, kButton, 105, 5, 90, 36, BS_GROUPBOX);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  ASSERT_TRUE(tavrin::win::CaptureWindow(dialog, image));
  const RECT plain = ChildRect(dialog, 21), prefixed = ChildRect(dialog, 22);
  const auto ink = [&](const RECT& box, int x, int y) {
    uint32_t p = image.at(box.left + x, box.top + y);
    return ((p >> 16) & 0xFF) < 80 && ((p >> 8) & 0xFF) < 80 && (p & 0xFF) < 80;
  };
  // The caption's band, left of the frame's right edge: the same letters in the same places, and below
  // them one line more.
  int plainInk = 0, missing = 0, extraInk = 0, extraRows = 0;
  for (int y = 0; y < 18; ++y) {
    bool extraInRow = false;
    for (int x = 8; x < 70; ++x) {
      if (ink(plain, x, y)) {
        ++plainInk;
        missing += !ink(prefixed, x, y);
      } else if (ink(prefixed, x, y)) {
        ++extraInk;
        extraInRow = true;
      }
    }
    extraRows += extraInRow;
  }
  EXPECT_GT(plainInk, 20);
  EXPECT_EQ(missing, 0) << "the letters moved";
  EXPECT_GT(extraInk, 2) << "no underline";
  EXPECT_LE(extraRows, 2) << "more than an underline";
  DestroyWindow(dialog);
}

TEST_F(Dialogs, TemplateDialogPaintsClassicControlsWithoutLeaking) {
  Script script;
  auto t = StandardTemplate(WS_POPUP | WS_VISIBLE);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, ScriptProc, reinterpret_cast<LPARAM>(&script));
  ASSERT_NE(dialog, nullptr);
  CheckDlgButton(dialog, kCheck, BST_CHECKED);
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  ASSERT_TRUE(tavrin::win::CaptureWindow(dialog, image));
  auto at = [&](POINT p) { return image.at(p.x, p.y) & 0xFFFFFF; };
  // The face between controls, the edit's white inside, the default button's dark outer frame.
  EXPECT_EQ(at({2, 2}), Rgb(GetSysColor(COLOR_3DFACE)));
  RECT edit = ChildRect(dialog, kName);
  EXPECT_EQ(at({edit.right - 4, (edit.top + edit.bottom) / 2}), Rgb(GetSysColor(COLOR_WINDOW)));
  RECT ok = ChildRect(dialog, IDOK);
  EXPECT_EQ(at({(ok.left + ok.right) / 2, ok.top}), Rgb(GetSysColor(COLOR_WINDOWFRAME)));
  RECT apply = ChildRect(dialog, kApply);
  EXPECT_NE(at({(apply.left + apply.right) / 2, apply.top}), Rgb(GetSysColor(COLOR_WINDOWFRAME)));
  // The check box's tick is drawn inside its white box.
  RECT check = ChildRect(dialog, kCheck);
  int dark = 0;
  int boxTop = check.top + (check.bottom - check.top - 13) / 2;
  for (int y = boxTop + 2; y < boxTop + 11; ++y)
    for (int x = check.left + 2; x < check.left + 11; ++x) dark += at({x, y}) == Rgb(GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_GT(dark, 10);

  size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    tavrin::win::PaintPending();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
  DestroyWindow(dialog);
}

}  // namespace
