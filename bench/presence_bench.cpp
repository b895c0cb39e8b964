// Server presence at scale: many simulated servers on 127.0.x.y, each broadcasting its device list to the
// broadcast listener once a period, while the refresh timer's work (server and device ageing, the
// device tree) runs every refresh period. Measured over a steady interval after every device is listed:
//   - CPU time of the listener thread per second of wall time (and datagrams per second);
//   - CPU time of one refresh, and of the refreshes per second of wall time;
//   - resident memory of the process before the listener started and at the end.
//
//   presence_bench [--servers 256] [--devices 14] [--period-ms 1000] [--refresh-ms 5000] [--seconds 20]
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "admin/TavrinAdminDoc.h"
#include "admin/comm/CommSettings.h"
#include "admin/ui/FunctionView.h"
#include "bench_util.h"
#include "testsupport/admin_app.h"
#include "admin/util/Utilities.h"
#include "win32/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int servers = 256;
  int devices = 14;
  int periodMs = 1000;
  int refreshMs = 5000;
  int seconds = 20;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  bench::ParseNumbers(argc, argv, {{"--servers", &options.servers}, {"--devices", &options.devices},
                                   {"--period-ms", &options.periodMs}, {"--refresh-ms", &options.refreshMs},
                                   {"--seconds", &options.seconds}});
  return options;
}

double CpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A value of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return atol(line.c_str() + strlen(field) + 1);
  return 0;
}

// Server n (0-based) at 127.0.1+n/250.2+n%250.
std::string ServerAddress(int n) { return "127.0." + std::to_string(1 + n / 250) + "." + std::to_string(2 + n % 250); }

// The bus enumerator's side: every queued server request answered with success at once.
void AnswerServerRequests(CTavrinAdminDoc& doc) {
  for (int index = 0; index < kRequestTableSlots; ++index) {
    if (doc.ServerRequests().At(index).RequestId == 0) continue;
    doc.ServerRequests().Edit(index, [](SERVER_ARRIVALREMOVAL_INFO& slot) { slot.Status = ARRM_STATUS_SUCCESS; });
    doc.OnServerAnswer(static_cast<DWORD>(index + 1));
  }
}

// Timer 3 of the functional pane.
void Refresh(CTavrinAdminDoc& doc, CFunctionView& pane) {
  EnterCriticalSection(&doc.m_csServerPresence);
  if (!doc.m_ServerPresenceList.IsEmpty()) {
    doc.CheckServerArrivalRemoval();
    pane.RefreshServerList();
  }
  LeaveCriticalSection(&doc.m_csServerPresence);
  EnterCriticalSection(&doc.m_csDeviceList);
  if (!doc.m_DeviceList.IsEmpty()) {
    doc.CheckDeviceDeparture();
    pane.RefreshDeviceTree();
  }
  LeaveCriticalSection(&doc.m_csDeviceList);
}

size_t ShownDevices(const CFunctionView& pane) {
  size_t shown = 0;
  for (const TreeServerItem& server : pane.GetDeviceTree()) shown += server.Devices.size();
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  char pattern[] = "/tmp/tavrin-presence-bench-XXXXXX";
  const std::filesystem::path root = mkdtemp(pattern);
  tavrin::sysroot::SetRoot(root);
  WinsockStart();

  const uint16_t listenPort = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
  ServerCommSettings settings;
  settings.commandPort = zarnet::sim::FreeLoopbackPort(SOCK_STREAM);  // every server on its own address, the same port
  settings.processDelayMs = 0;
  settings.commandRecvTimeoutMs = 200;
  settings.productStringAttempts = 1;
  SetDefaultServerCommSettings(settings);

  zarnet::sim::Simulator sim;
  for (int n = 0; n < options.servers; ++n) {
    zarnet::sim::ServerOptions server = zarnet::sim::LoopbackServerOptions(2, listenPort);
    server.name = "bench-" + std::to_string(n);
    server.address = ServerAddress(n);
    server.command_port = settings.commandPort;
    server.server_id = 0x5A000000u + static_cast<uint32_t>(n);
    server.broadcast_period = std::chrono::milliseconds(options.periodMs);
    for (int d = 0; d < options.devices; ++d) {
      zarnet::sim::Device device;
      device.port = static_cast<uint16_t>(d + 1);
      device.device_class = d % 2 ? 8 : 3;
      device.vid = 0x0781;
      device.pid = static_cast<uint16_t>(0x5500 + d);
      device.rev = 0x0100;
      device.product = "Device " + std::to_string(d + 1);
      server.devices.push_back(device);
    }
    sim.AddServer(server);
  }
  std::string error;
  if (!sim.Start(&error)) {
    fprintf(stderr, "simulated servers: %s\n", error.c_str());
    return 1;
  }

  {
    CTavrinAdminDoc doc;
    doc.CreateEventsAndLocks();
    doc.m_ulDeviceListAddress = inet_addr("127.0.0.1");
    doc.m_wDeviceListPort = listenPort;
    tavrin::test::PaneHost host(&doc, RUNTIME_CLASS(CFunctionView));
    CFunctionView* pane = &host.as<CFunctionView>();

    const long rssBeforeKb = StatusKb("VmRSS:");
    std::thread listener([&] { doc.ListenForDeviceLists(); });
    clockid_t listenerClock;
    pthread_getcpuclockid(listener.native_handle(), &listenerClock);
    const size_t expected = static_cast<size_t>(options.servers) * static_cast<size_t>(options.devices);

    // Until every device is shown (its product string fetched), refreshing as the pane would.
    const auto warmUpEnd = Clock::now() + std::chrono::seconds(120);
    while (ShownDevices(*pane) < expected && Clock::now() < warmUpEnd) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.refreshMs));
      Refresh(doc, *pane);
      AnswerServerRequests(doc);
    }
    printf("warm-up: %zu of %zu devices shown\n", ShownDevices(*pane), expected);

    // The steady state.
    const double listenerStart = CpuMs(listenerClock);
    double refreshCpu = 0;
    int refreshes = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    while (Clock::now() < end) {
      std::this_thread::sleep_until(std::min(end, Clock::now() + std::chrono::milliseconds(options.refreshMs)));
      const double before = CpuMs(CLOCK_THREAD_CPUTIME_ID);
      Refresh(doc, *pane);
      refreshCpu += CpuMs(CLOCK_THREAD_CPUTIME_ID) - before;
      ++refreshes;
      AnswerServerRequests(doc);
    }
    const double wallS = std::chrono::duration<double>(Clock::now() - start).count();
    const double listenerCpu = CpuMs(listenerClock) - listenerStart;
    const long rssAfterKb = StatusKb("VmRSS:");

    EnterCriticalSection(&doc.m_csServerPresence);
    const int servers = doc.m_ServerPresenceList.GetCount();
    LeaveCriticalSection(&doc.m_csServerPresence);
    EnterCriticalSection(&doc.m_csDeviceList);
    const int devices = doc.m_DeviceList.GetCount();
    LeaveCriticalSection(&doc.m_csDeviceList);

    printf("%d servers x %d devices, broadcasts every %d ms, refresh every %d ms, measured %.1f s\n",
           options.servers, options.devices, options.periodMs, options.refreshMs, wallS);
    printf("listed: %d servers, %d devices, %zu devices in the tree\n", servers, devices, ShownDevices(*pane));
    printf("listener: %.2f ms CPU per s of wall time (%.2f %% of one core; goal < 2 %%), %.0f datagrams/s expected\n",
           listenerCpu / wallS, listenerCpu / wallS / 10.0, options.servers * 1000.0 / options.periodMs);
    printf("refresh: %.2f ms CPU each (%d), %.2f ms CPU per s of wall time\n", refreshes ? refreshCpu / refreshes : 0.0,
           refreshes, refreshCpu / wallS);
    printf("memory: resident %.1f MB before the listener, %.1f MB at the end (%+.1f MB; peak %.1f MB; the "
           "simulated servers share the process)\n",
           rssBeforeKb / 1024.0, rssAfterKb / 1024.0, (rssAfterKb - rssBeforeKb) / 1024.0,
           StatusKb("VmHWM:") / 1024.0);

    doc.StopBroadcastListener();
    listener.join();
    doc.StopProductStringFetches();
    EnterCriticalSection(&doc.m_csDeviceList);
    for (POSITION position = doc.m_DeviceList.GetHeadPosition(); position;) free(doc.m_DeviceList.GetNext(position).ProductString);
    doc.m_DeviceList.RemoveAll();
    LeaveCriticalSection(&doc.m_csDeviceList);
    doc.CleanUp();
  }
  sim.Stop();
  WinsockStop();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
