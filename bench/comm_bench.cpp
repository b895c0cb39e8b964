// The server command protocol and discovery against simulated servers on loopback:
//   BM_GetConfigInfo          commands per second against one server (each on its own connection and
//                             thread, the answer through the configuration file);
//   BM_DiscoverServers/64     time until discovery has listed 64 servers at 127.0.0.2 to 127.0.0.65.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
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
// close. Microseconds per exchange, over `rounds` exchanges.
double RawExchangeUs(WORD port, int rounds) {
  const std::string request = "<CMD=4>\n</CMD>";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr("127.0.0.2");
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return -1;
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string response;
    char buffer[1024];
    while (response.find("</RSP>") == std::string::npos) {
      const int got = recv(s, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      response.append(buffer, static_cast<size_t>(got));
    }
    closesocket(s);
  }
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
}

void BM_GetConfigInfo(benchmark::State& state) {
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
  // The baseline in the same run, before and after, so that both see the same machine.
  const double rawBefore = RawExchangeUs(server.command_port(), 200);
  const auto start = std::chrono::steady_clock::now();
  int64_t commands = 0;
  for (auto _ : state) {
    if (comm.GetConfigInfo("127.0.0.2", nullptr, nullptr, 0) != CMD_RESULT_SUCCESS) {
      state.SkipWithError("command failed");
      break;
    }
    ++commands;
  }
  const double commandUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(commands ? commands : 1);
  const double rawUs = (rawBefore + RawExchangeUs(server.command_port(), 200)) / 2;
  state.SetItemsProcessed(state.iterations());
  state.counters["raw_tcp_us"] = rawUs;
  state.counters["ratio_to_raw_tcp"] = rawUs > 0 ? commandUs / rawUs : 0;
  printf("GetConfigInfo %.0f us, raw TCP exchange of the same bytes %.0f us: %.2fx (goal <= 2x)\n", commandUs, rawUs,
         rawUs > 0 ? commandUs / rawUs : 0.0);
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
