// The server command protocol and discovery against simulated servers on loopback:
//   BM_GetConfigInfo          GetConfigInfo (each on its own connection and thread, the answer through the
//                             configuration file) against the raw exchange of the same bytes, in turn;
//   BM_DiscoverServers/64     time until discovery has listed 64 servers at 127.0.0.2 to 127.0.0.65.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
#include "bench_util.h"
#include "win32/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace std::chrono_literals;

// A sysroot of its own, Windows Sockets started, no pause before a response is processed.
class Environment {
 public:
  Environment() {
    char pattern[] = "/tmp/tavrin-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    tavrin::sysroot::SetRoot(root_);
    WinsockStart();
    ServerCommSettings settings;
    settings.processDelayMs = 0;
    settings.commandRecvTimeoutMs = 200;
    SetDefaultServerCommSettings(settings);
  }
  ~Environment() {
    WinsockStop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::filesystem::path root_;
};

zarnet::sim::ServerOptions Options(int n, WORD port) {
  // Device lists go to the discard port of 127.0.0.1, rarely.
  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(n, 9);
  options.command_port = port;
  options.broadcast_period = 1h;
  return options;
}

// The same exchange without the client: connect, send the command's bytes, receive up to "</RSP>",
// close.
bool RawExchange(WORD port) {
  const std::string request = "<CMD=4>\n</CMD>";
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.2");
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    closesocket(s);
    return false;
  }
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::string response;
  char buffer[1024];
  while (response.find("</RSP>") == std::string::npos) {
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    response.append(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  return response.find("</RSP>") != std::string::npos;
}

// Each iteration is a round of kPairs raw exchanges and kPairs commands taken in turn (a b a b ...), so
// that a machine that slows down touches both alike; the figure is the median of the rounds' own ratios.
void BM_GetConfigInfo(benchmark::State& state) {
  constexpr int kPairs = 20;
  Environment environment;
  zarnet::sim::Server server(Options(2, 0));
  if (!server.Start()) {
    state.SkipWithError("the simulated server did not start");
    return;
  }
  CServerComm comm;
  ServerCommSettings settings = comm.Settings();
  settings.commandPort = server.command_port();
  comm.SetSettings(settings);
  using Clock = std::chrono::steady_clock;
  std::vector<double> ratios, commandUs, rawUs;
  for (auto _ : state) {
    Clock::duration raw{}, command{};
    for (int i = 0; i < kPairs; ++i) {
      auto t = Clock::now();
      if (!RawExchange(server.command_port())) {
        state.SkipWithError("raw exchange failed");
        return;
      }
      raw += Clock::now() - t;
      t = Clock::now();
      if (comm.GetConfigInfo("127.0.0.2", nullptr, nullptr, 0) != CMD_RESULT_SUCCESS) {
        state.SkipWithError("command failed");
        return;
      }
      command += Clock::now() - t;
    }
    const double r = std::chrono::duration<double, std::micro>(raw).count() / kPairs;
    const double c = std::chrono::duration<double, std::micro>(command).count() / kPairs;
    rawUs.push_back(r);
    commandUs.push_back(c);
    ratios.push_back(r > 0 ? c / r : 0);
  }
  const double ratio = bench::Median(ratios);
  state.SetItemsProcessed(state.iterations() * kPairs);
  state.counters["raw_tcp_us"] = bench::Median(rawUs);
  state.counters["ratio_to_raw_tcp"] = ratio;
  printf("GetConfigInfo %.0f us, raw TCP exchange of the same bytes %.0f us: %.2fx (%.2f-%.2f over %zu rounds; goal <= 2x: %s)\n",
         bench::Median(commandUs), bench::Median(rawUs), ratio, *std::min_element(ratios.begin(), ratios.end()),
         *std::max_element(ratios.begin(), ratios.end()), ratios.size(), ratio <= 2 ? "met" : "NOT met");
}
BENCHMARK(BM_GetConfigInfo)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_DiscoverServers(benchmark::State& state) {
  Environment environment;
  const int count = static_cast<int>(state.range(0));
  // the servers all take the same port on their own addresses
  const WORD port = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM, "127.0.0.2");
  zarnet::sim::Simulator simulator;
  for (int n = 2; n < 2 + count; ++n) simulator.AddServer(Options(n, port));
  std::string error;
  if (!simulator.Start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  CServerComm comm;
  ServerCommSettings settings = comm.Settings();
  settings.commandPort = port;
  settings.discoveryPort = port;
  CRITICAL_SECTION lock;
  InitializeCriticalSection(&lock);
  for (auto _ : state) {
    ServerDiscoveryList list;
    DWORD cancel = 0;
    comm.SetSettings(settings);
    comm.BroadcastInit(&list, &lock, &cancel);
    comm.StartEnumerationForServers();
    // Loopback has no broadcast: the request goes to each address in turn.
    for (int n = 2; n < 2 + count; ++n) {
      ServerCommSettings target = settings;
      target.discoveryAddress = "127.0.0." + std::to_string(n);
      comm.SetSettings(target);
      comm.SendBroadcastPacket();
    }
    for (;;) {
      EnterCriticalSection(&lock);
      int listed = list.GetCount();
      LeaveCriticalSection(&lock);
      if (listed >= count) break;
      std::this_thread::yield();
    }
    __atomic_store_n(&cancel, 1, __ATOMIC_SEQ_CST);
    WaitForSingleObject(comm.GetEnumThreadHandle(), INFINITE);
    comm.BroadcastClose();
  }
  DeleteCriticalSection(&lock);
  state.counters["servers"] = count;
}
BENCHMARK(BM_DiscoverServers)->Arg(64)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
