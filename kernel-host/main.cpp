// kernel-host [--sysroot DIR] [--fake-control-device [--fake-answer STATUS]] [--no-fake-control-device]
//             [--negotiation-timeout MS] [--max-connections N]
// Runs the kernel stand-in with its drivers for the sysroot (TAVRIN_SYSROOT, or --sysroot) until SIGTERM
// or SIGINT: the bus driver pelkobus on the enumerator's server nodes, or with --fake-control-device the
// stand-in control device that answers without connecting anything (--no-fake-control-device: neither).
// Prints "kernel-host ready <socket path>" once it accepts connections.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel_host/fake_control_device.h"
#include "kernel_host/kernel_host.h"
#include "pelkobus/pelkobus.h"
#include "win32/sysroot.h"

int main(int argc, char** argv) {
  tavrin::kernel_host::Options options;
  options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--sysroot" && i + 1 < argc) {
      tavrin::sysroot::SetRoot(argv[++i]);
    } else if (arg == "--fake-control-device") {
      options.busDriver = tavrin::kernel_host::BusDriver::kFake;
    } else if (arg == "--no-fake-control-device") {
      options.busDriver = tavrin::kernel_host::BusDriver::kFake;
      options.fakeControlDevice = false;
    } else if (arg == "--negotiation-timeout" && i + 1 < argc) {
      pelkobus::SetNegotiationTimeout(static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0)));
    } else if (arg == "--fake-answer" && i + 1 < argc) {
      tavrin::kernel_host::fake_control_device::SetAnswerStatus(
          static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0)));
    } else if (arg == "--fake-connections-lost") {
      tavrin::kernel_host::fake_control_device::SetConnectionsLost(true);
    } else if (arg == "--max-connections" && i + 1 < argc) {
      options.maxConnections = std::strtoul(argv[++i], nullptr, 0);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--sysroot DIR] [--fake-control-device [--fake-answer STATUS] [--fake-connections-lost]] "
                   "[--no-fake-control-device] [--negotiation-timeout MS] [--max-connections N]\n",
                   argv[0]);
      return 2;
    }
  }

  // Every thread inherits this mask, so the signals wait for sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  tavrin::kernel_host::KernelHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "kernel-host: %s\n", error.c_str());
    return 1;
  }
  std::printf("kernel-host ready %s\n", host.socketPath().c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&signals, &signal);
  host.Stop();
  return 0;
}
