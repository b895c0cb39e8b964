#include "testsupport/message_pump.h"
#include "testsupport/sanitizers.h"

#include <gtest/gtest.h>

#include <chrono>

#include "win32/window_manager.h"

namespace tavrin::test {

bool PumpUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + Patient(std::chrono::seconds(10));
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
  return true;
}

void DiscardMessages() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

POINT MenuItemCentre(HWND hwnd, HMENU menu, UINT item) {
  RECT rect{};
  EXPECT_TRUE(GetMenuItemRect(hwnd, menu, item, &rect));
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void InjectKeys(std::initializer_list<std::pair<int, bool>> keys) {
  for (auto [vk, down] : keys) tavrin::win::InjectKey(vk, down);
}

}  // namespace tavrin::test
