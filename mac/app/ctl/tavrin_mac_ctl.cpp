// tavrin-mac-ctl: what a person does in the running TavrinMac's main window, from outside (tests, the
// demo, users). Windows, clicks at points, keys and screenshots are tavrin-ctl's (windows, click, key,
// screenshot); this adds what TavrinMac's windows hold and do:
//   tree                   the device tree's rows (indented by level): name, class, state, port; "*" selected
//   log [server]           the Device Mapping log (or the server manager's): number, method, description
//   servers                the server manager's servers table
//   details                the details of the selected row
//   toolbar                the toolbar's items, enabled or disabled
//   select TEXT            a click on the tree's row that shows TEXT (taken as the program's loop turns:
//                          `wait` for its details)
//   press ITEM             a click on the toolbar item (an error when it is disabled)
//   menu MENU/ITEM         chooses the menu bar's item (e.g. "Device Mapping/STOP")
//   tab device|server|settings
//                          a click on the tab button
//   alert | answer         the alert shown now; a click on its default button
//   quit                   quits as the window's close button does (the quit rule may refuse)
//   descriptor             the device descriptor of the first connected device, read through its nub (as a
//                          program of this Mac reads it; TavrinMac is not asked)
//   wait SECONDS REQUEST TEXT
//                          repeats REQUEST until its answer holds TEXT; exit 1 after SECONDS
// Exit status 0 on "ok", 1 on an error the program answered, 2 when no TavrinMac answers.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TavrinMac/ui/ControlService.h"
#include "nub_descriptor.h"

namespace {

int Ask(const std::string& request, std::string& reply, bool quiet = false) {
  if (!tavrinmac::ui::SendControlRequest(request, reply)) {
    if (!quiet) fprintf(stderr, "tavrin-mac-ctl: TavrinMac does not answer\n");
    return 2;
  }
  return reply.rfind("ok\n", 0) == 0 ? 0 : 1;
}

// The descriptor's bytes, then its vendor and product.
int Descriptor() {
  const std::vector<uint8_t> descriptor = tavrinmac::ReadDescriptorThroughTheNub();
  if (descriptor.size() < 18) {
    fprintf(stderr, "tavrin-mac-ctl: no connected device answered\n");
    return 1;
  }
  for (uint8_t byte : descriptor) printf("%02x ", byte);
  printf("\nvendor 0x%04X product 0x%04X release 0x%04X\n", descriptor[8] | (descriptor[9] << 8),
         descriptor[10] | (descriptor[11] << 8), descriptor[12] | (descriptor[13] << 8));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr,
            "usage: tavrin-mac-ctl tree | log [server] | servers | details | toolbar | select TEXT | press ITEM | "
            "menu MENU/ITEM | tab device|server|settings | alert | answer | quit | descriptor | wait SECONDS REQUEST TEXT\n");
    return 2;
  }
  const std::string verb = argv[1];
  if (verb == "descriptor") return Descriptor();
  std::string reply;
  if (verb == "wait" && argc == 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(atof(argv[2]));
    do {
      if (Ask(argv[3], reply, /*quiet=*/true) == 0 && reply.find(argv[4]) != std::string::npos) return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    fprintf(stderr, "tavrin-mac-ctl: \"%s\" never showed \"%s\"\n", argv[3], argv[4]);
    return 1;
  }
  std::string request = verb;
  for (int i = 2; i < argc; ++i) request += std::string(" ") + argv[i];
  const int status = Ask(request, reply);
  if (status == 2) return 2;
  if (status == 0) fputs(reply.c_str() + 3, stdout);
  else fputs(reply.c_str(), stderr);
  return status;
}
