// quorvelNHCI: the Mac kernel driver stand-in as a process of its own. It serves the driver's IOKit
// service on run/iokit.sock of the sysroot until SIGINT or SIGTERM. Network settings come from
// TAVRIN_MAC_NET (see cocoa/bsd.h).
#include <cstdio>
#include <memory>
#include <string>

#include "base/signals.h"
#include "quorvel/quorvelNHCI.h"

int main() {
  tavrin::base::signals::BlockStopSignals();  // before any thread starts

  cocoa::iokit::Host host;
  auto driver = std::make_shared<quorvel::Driver>(host);
  host.Register(driver);
  std::string error;
  if (!host.Start(&error)) {
    fprintf(stderr, "quorvelNHCI: %s\n", error.c_str());
    return 1;
  }
  printf("quorvelNHCI: running\n");
  fflush(stdout);
  tavrin::base::signals::WaitForStopSignal();
  // Devices first: that fails the transfers the host's connection threads may be waiting on.
  driver->DisconnectAll();
  host.Stop();
  driver->DisconnectAll();  // any connected meanwhile
  printf("quorvelNHCI: stopped\n");
  return 0;
}
