// A dialog as the resource compiler writes it: found by id, centred, navigated and ended by keys.
#include <gtest/gtest.h>

#include <vector>

#include "win32/controls.h"
#include "win32/resources.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

void RegisterDialogTestResources();

namespace {

constexpr int kPassword = 1055, kGroup = 1060, kRemember = 1061, kForget = 1062, kMode = 1063, kUnlock = 1073,
              kCancel = 1068;

struct UnlockRun {
  std::vector<int> focusOrder;
  int unlocks = 0;
  bool centred = false;
  RECT unlockRect{};
  RECT unlockUnits{40, 70, 90, 84};
};

INT_PTR CALLBACK UnlockProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<UnlockRun*>(GetWindowLongPtr(hwnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtr(hwnd, DWLP_USER, lParam);
      run = reinterpret_cast<UnlockRun*>(lParam);
      SendDlgItemMessage(hwnd, kMode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Static"));
      SendDlgItemMessage(hwnd, kMode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("DHCP"));
      SendDlgItemMessage(hwnd, kMode, CB_SETCURSEL, 0, 0);
      CheckRadioButton(hwnd, kRemember, kForget, kRemember);
      RECT rc, screen = tavrin::win::ScreenRect();
      GetWindowRect(hwnd, &rc);
      run->centred = std::abs((rc.left + rc.right) / 2 - (screen.left + screen.right) / 2) <= 1 &&
                     std::abs((rc.top + rc.bottom) / 2 - (screen.top + screen.bottom) / 2) <= 1;
      GetWindowRect(GetDlgItem(hwnd, kUnlock), &run->unlockRect);
      MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&run->unlockRect), 2);
      MapDialogRect(hwnd, &run->unlockUnits);
      PostMessage(hwnd, WM_APP, 0, 0);
      return TRUE;
    }
    case WM_TIMER:  // the next step once the keys before it are read: timers come after input
      KillTimer(hwnd, wParam);
      [[fallthrough]];
    case WM_APP: {
      // Walk the tab order once round with the keyboard, then type and press Enter.
      run->focusOrder.push_back(GetDlgCtrlID(GetFocus()));
      if (run->focusOrder.size() < 6) {
        tavrin::win::InjectKey(VK_TAB, true);
        tavrin::win::InjectKey(VK_TAB, false);
        SetTimer(hwnd, 1, 0, nullptr);
      } else {
        tavrin::win::InjectText("abc\n");
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kUnlock && HIWORD(wParam) == BN_CLICKED) {
        ++run->unlocks;
        char text[16];
        GetDlgItemText(hwnd, kPassword, text, sizeof text);
        EndDialog(hwnd, text[0] ? 100 + static_cast<int>(strlen(text)) : 99);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCancel) {
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

TEST(ResourceDialog, CompiledTemplateRunsWithItsTabOrderAndDefaultButton) {
  RegisterDialogTestResources();
  tavrin::controls::RegisterStandardControls();
  UnlockRun run;
  INT_PTR result = DialogBoxParam(nullptr, MAKEINTRESOURCE(176), nullptr, UnlockProc, reinterpret_cast<LPARAM>(&run));
  EXPECT_EQ(result, 103) << "Enter in the edit went to the default button with the typed text";
  EXPECT_EQ(run.unlocks, 1);
  EXPECT_TRUE(run.centred) << "DS_CENTER";
  EXPECT_EQ(run.unlockRect.left, run.unlockUnits.left);
  EXPECT_EQ(run.unlockRect.top, run.unlockUnits.top);
  EXPECT_EQ(run.unlockRect.right, run.unlockUnits.right);
  EXPECT_EQ(run.unlockRect.bottom, run.unlockUnits.bottom);
  ASSERT_EQ(run.focusOrder.size(), 6u);
  EXPECT_EQ(run.focusOrder, (std::vector<int>{kPassword, kRemember, kMode, kUnlock, kCancel, kPassword}))
      << "the group box and the label take no focus; one stop per radio group";
  (void)kGroup;
}

}  // namespace

namespace {

std::vector<int>* g_clicked = nullptr;

INT_PTR CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && g_clicked) g_clicked->push_back(LOWORD(wParam));
  return message == WM_COMMAND;
}

void Press(HWND dialog, std::initializer_list<int> keys) {
  for (int vk : keys) tavrin::win::InjectKey(vk, true);
  for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) tavrin::win::InjectKey(*it, false);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessage(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
}

TEST(ResourceDialog, MnemonicsClickTheirButtons) {
  RegisterDialogTestResources();
  tavrin::controls::RegisterStandardControls();
  std::vector<int> clicked;
  g_clicked = &clicked;
  HWND dialog = CreateDialogParam(nullptr, MAKEINTRESOURCE(176), nullptr, RecordingProc, 0);
  ASSERT_NE(dialog, nullptr);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kPassword));
  Press(dialog, {VK_MENU, 'F'});  // Alt+F: "&Forget"
  EXPECT_EQ(IsDlgButtonChecked(dialog, kForget), BST_CHECKED);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kForget));
  Press(dialog, {'R'});  // a plain letter where the focus takes no characters
  EXPECT_EQ(IsDlgButtonChecked(dialog, kRemember), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, kForget), BST_UNCHECKED);
  Press(dialog, {VK_MENU, 'C'});  // "&Cancel" clicks without taking the focus
  EXPECT_EQ(clicked, (std::vector<int>{kForget, kRemember, kCancel}));
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kRemember));
  // In the edit, letters are text.
  SetFocus(GetDlgItem(dialog, kPassword));
  Press(dialog, {'U'});
  char text[8];
  GetDlgItemText(dialog, kPassword, text, sizeof text);
  EXPECT_STREQ(text, "u");
  EXPECT_EQ(clicked.size(), 3u);
  DestroyWindow(dialog);
  g_clicked = nullptr;
}

}  // namespace
