// The popup menus of the test's thread as the tests see them: while a menu loop waits for input it sends
// WM_ENTERIDLE (the popup window in lParam) to a window of the thread; a hook hands that popup to the
// test's action, which looks at it and may end the loop (EndMenu).
#pragma once
#include <functional>

#include "win32/windows.h"

namespace tavrin::test {

// Hooks the calling thread's window procedures (once) and sets what happens at each idle popup from now
// on (null: nothing).
void OnMenuIdle(std::function<void(HWND popup)> action);
// Removes the hook and the action.
void StopMenuIdle();

}  // namespace tavrin::test
