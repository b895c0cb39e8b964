// Throughput and latency percentiles as the USB benchmarks report them.
#pragma once
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Result {
  double mb_per_s = 0, p50_us = 0, p99_us = 0;
  double cpu_s_per_gb = 0;  // CPU time of every thread of this process per GB moved (when measured)
};

// The CPU time of every thread of this process, in seconds.
inline double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// When a measurement started, by the wall clock and by the process's CPU time.
struct Start {
  Clock::time_point wall = Clock::now();
  double cpu = ProcessCpuSeconds();
};

// The q-quantile of the samples (sorted in place); 0 without samples.
inline double Percentile(std::vector<double>& v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

// Throughput of `bytes` since `start` and the median and 99th percentile of the latencies.
inline Result Summary(std::vector<double>& latencies, uint64_t bytes, Clock::time_point start) {
  Result r;
  r.mb_per_s = bytes / 1e6 / std::chrono::duration<double>(Clock::now() - start).count();
  r.p50_us = Percentile(latencies, 0.5);
  r.p99_us = Percentile(latencies, 0.99);
  return r;
}

// The same, with the process's CPU time per GB since `start`.
inline Result Summary(std::vector<double>& latencies, uint64_t bytes, const Start& start) {
  const double cpu = ProcessCpuSeconds() - start.cpu;
  Result r = Summary(latencies, bytes, start.wall);
  r.cpu_s_per_gb = bytes ? cpu / (bytes / 1e9) : 0;
  return r;
}

}  // namespace bench
