// The calling thread's message queue as the window and menu tests drive it.
#pragma once
#include <functional>
#include <initializer_list>
#include <utility>

#include "win32/windows.h"

namespace tavrin::test {

// Runs the thread's messages (as a program's loop does) until the condition holds; false after 10 s.
bool PumpUntil(const std::function<bool()>& condition);

// Takes every message queued for the thread away unhandled (e.g. the WM_QUIT a closed window left).
void DiscardMessages();

// The screen point at the centre of an item of the window's menu bar or of an open popup of it.
POINT MenuItemCentre(HWND hwnd, HMENU menu, UINT item);

// Injects key transitions in order: {virtual key, down}.
void InjectKeys(std::initializer_list<std::pair<int, bool>> keys);

}  // namespace tavrin::test
