#include "testsupport/admin_helpers.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include "win32/sysroot.h"

namespace tavrin::test {

std::string ReadAdminLog() {
  std::ifstream in(tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.log"), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WaitForDeviceChange(HWND window, DWORD milliseconds, MSG* message) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (PeekMessage(message, window, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE)) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_POSTMESSAGE);
  }
}

}  // namespace tavrin::test
