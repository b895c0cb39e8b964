#include "testsupport/tray_owner.h"

#include "win32/window_manager.h"

namespace tavrin::test {

HWND MakeTrayOwner(TrayNotices* heard) {
  tavrin::win::WindowSpec spec;
  spec.className = "TrayTestOwner";
  spec.proc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message != kTrayCallback) return DefWindowProc(hwnd, message, wParam, lParam);
    reinterpret_cast<TrayNotices*>(GetWindowLongPtr(hwnd, GWLP_USERDATA))->emplace_back(wParam, lParam);
    return 0;
  };
  spec.userData = reinterpret_cast<LONG_PTR>(heard);
  return tavrin::win::CreateWindowObject(spec);
}

}  // namespace tavrin::test
