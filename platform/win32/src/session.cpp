// The end of a session (log-off or shut-down) as the system announces it to a process's windows.
#include "window_internal.h"

namespace tavrin::win {

bool QueryEndSession(LPARAM lParam) {
  std::vector<HWND> tops;
  {
    std::lock_guard guard(detail::Table().lock);
    tops = detail::Table().topLevels;
  }
  std::vector<HWND> agreed;
  bool refused = false;
  for (HWND hwnd : tops) {
    if (!IsWindow(hwnd)) continue;
    if (SendMessage(hwnd, WM_QUERYENDSESSION, 0, lParam) == 0) {
      refused = true;
      break;
    }
    agreed.push_back(hwnd);
  }
  for (HWND hwnd : agreed)
    if (IsWindow(hwnd)) SendMessage(hwnd, WM_ENDSESSION, refused ? FALSE : TRUE, lParam);
  return !refused;
}

}  // namespace tavrin::win
