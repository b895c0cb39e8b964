// Dialog templates name the common controls by class: a wait window's progress bar and clip, and an IP
// page's address controls come up from a template.
#include <string>
#include <vector>

#include "../platform_win32_dialogs/template_builder.h"
#include "comctl_test_util.h"
#include "win32/dialog.h"

namespace {

using namespace comctl_test;

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(CommonControlsInTemplates, AreMadeByTheirClassNames) {
  dialog_test::TemplateBuilder t(WS_POPUP, 0, 0, 200, 100, "");
  t.NamedControl(PROGRESS_CLASS, 1057, 10, 10, 150, 10)
      .NamedControl(ANIMATE_CLASS, 1063, 10, 30, 40, 30)
      .NamedControl(WC_IPADDRESS, 1041, 60, 30, 100, 14)
      .NamedControl(STATUSCLASSNAME, 1, 0, 80, 200, 12)
      .NamedControl(TOOLBARCLASSNAME, 2, 0, 0, 200, 12);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, Quiet, 0);
  ASSERT_NE(dialog, nullptr);
  HWND progress = GetDlgItem(dialog, 1057);
  ASSERT_NE(progress, nullptr);
  SendMessage(progress, PBM_SETPOS, 40, 0);
  EXPECT_EQ(SendMessage(progress, PBM_GETPOS, 0, 0), 40);
  EXPECT_NE(GetDlgItem(dialog, 1063), nullptr);
  HWND ip = GetDlgItem(dialog, 1041);
  ASSERT_NE(ip, nullptr);
  EXPECT_TRUE(SendMessage(ip, IPM_ISBLANK, 0, 0));
  EXPECT_NE(GetDlgItem(dialog, 1), nullptr);
  EXPECT_NE(GetDlgItem(dialog, 2), nullptr);
  DestroyWindow(dialog);
}

}  // namespace
