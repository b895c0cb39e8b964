#include "testsupport/menu_idle.h"

namespace tavrin::test {
namespace {

thread_local std::function<void(HWND)> t_onIdle;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK IdleHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call && call->message == WM_ENTERIDLE && t_onIdle) {
    auto action = t_onIdle;  // the action may replace itself
    action(reinterpret_cast<HWND>(call->lParam));
  }
  return CallNextHookEx(t_hook, code, wParam, lParam);
}

}  // namespace

void OnMenuIdle(std::function<void(HWND popup)> action) {
  if (!t_hook) t_hook = SetWindowsHookEx(WH_CALLWNDPROC, IdleHook, nullptr, GetCurrentThreadId());
  t_onIdle = std::move(action);
}

void StopMenuIdle() {
  if (t_hook) UnhookWindowsHookEx(t_hook);
  t_hook = nullptr;
  t_onIdle = nullptr;
}

}  // namespace tavrin::test
