// TavrinMac: the oval start-up window, then the main window with device mapping running. The network
// goes through the Mac side's socket seam (TAVRIN_MAC_NET), the driver through the sysroot's IOKit socket;
// windows show on the X display when DISPLAY is set. tavrin-mac-ctl reaches it on run/TavrinMac.sock.
#include <cstdio>

#include "TavrinMac/ui/ControlService.h"
#include "TavrinMac/ui/MainWindow.h"

int main(int argc, const char** argv) {
  tavrinmac::ui::MainWindowController* controller = nullptr;
  tavrinmac::ui::UseMainInterface({}, &controller);
  tavrinmac::ui::ControlService control;
  std::string error;
  if (!control.Start(&error)) fprintf(stderr, "TavrinMac: no control socket: %s\n", error.c_str());
  const int status = NSApplicationMain(argc, argv);
  control.Stop();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  if (controller) {
    controller->teardown();
    controller->release();
  }
  pool->drain();
  return status;
}
