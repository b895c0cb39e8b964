#include "TavrinMac/ui/hooks.h"

namespace tavrinmac::ui {
namespace {

ServerManagerWindows& Registered() {
  static auto* windows = new ServerManagerWindows;  // for the process: the main window may outlive statics
  return *windows;
}

}  // namespace

void SetServerManagerWindows(ServerManagerWindows windows) { Registered() = std::move(windows); }

const ServerManagerWindows& GetServerManagerWindows() { return Registered(); }

}  // namespace tavrinmac::ui
