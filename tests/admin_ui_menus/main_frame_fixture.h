// What the tests of TavrinAdmin's main-frame menus share: the application started in the test's thread
// with its main frame shown, and a hook that hands each popup window the thread's menu loops idle in (a
// WM_ENTERIDLE sent to any window of the thread) to the test's action.
#pragma once
#include <functional>
#include <memory>

#include "admin/TavrinAdminApp.h"
#include "admin/ui/MainFrame.h"
#include "win32/windows.h"

namespace menu_test {

// Starts the application (its resources registered once, message boxes answered IDOK), shows the main
// frame in front (with the keyboard focus when `focus`), paints it and hooks the menu idle; call it under
// ASSERT_NO_FATAL_FAILURE. *frame is the main frame after success.
void StartWithMainFrame(std::unique_ptr<CTavrinAdminApp>& app, CMainFrame** frame, bool focus);
// Removes the hook, forgets the idle action and ends the application.
void Stop(std::unique_ptr<CTavrinAdminApp>& app);

// What to do with each idle popup from now on.
void OnMenuIdle(std::function<void(HWND popup)> action);

}  // namespace menu_test
