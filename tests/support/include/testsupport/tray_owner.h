// The owner of the tray icons the tests add: a window that keeps each notification it is sent.
#pragma once
#include <utility>
#include <vector>

#include "win32/windows.h"

namespace tavrin::test {

inline constexpr UINT kTrayCallback = WM_USER + 1;

// (icon id, mouse message) of each kTrayCallback message, in order.
using TrayNotices = std::vector<std::pair<WPARAM, LPARAM>>;

// A window of the calling thread that keeps its kTrayCallback messages in `heard` (which outlives it).
HWND MakeTrayOwner(TrayNotices* heard);

}  // namespace tavrin::test
