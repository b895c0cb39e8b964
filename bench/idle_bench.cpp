// A plain timing program: what TavrinAdmin costs while it sits in the tray with nothing to do (a fresh
// sysroot, no servers, no device mapping), as a share of one core, against a baseline in the same run: a
// thread of this program that wakes as often as TavrinAdmin's clock (five times a second) and does nothing
// else, the least any program with that timer costs. Both are measured over the same windows, by the CPU
// time the kernel counts for their threads.
//   bench_idle [rounds seconds]   (defaults 5 4)
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Nanoseconds the thread has run (the first field of its schedstat).
uint64_t ThreadCpu(const fs::path& task) {
  std::ifstream in(task / "schedstat");
  uint64_t ns = 0;
  in >> ns;
  return ns;
}

uint64_t ProcessCpu(pid_t pid) {
  uint64_t ns = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) ns += ThreadCpu(task);
  return ns;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[1])) : 5;
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;

  std::string tmpl = (fs::temp_directory_path() / "tavrin-idle-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  setenv("TAVRIN_SYSROOT", tmpl.c_str(), 1);
  setenv("TAVRIN_DISPLAY", "headless", 1);
  setenv("TAVRIN_MSGBOX_ANSWER", "1", 1);
  const std::string install = std::string(TAVRIN_CTL) + " install --trace-level 1 >/dev/null";
  if (std::system(install.c_str()) != 0) {
    std::fprintf(stderr, "bench_idle: the install into %s failed\n", tmpl.c_str());
    return 1;
  }
  pid_t admin = fork();
  if (admin == 0) {
    execl(TAVRIN_ADMIN, TAVRIN_ADMIN, static_cast<char*>(nullptr));
    _exit(127);
  }

  // The baseline: a thread woken by its timer five times a second.
  std::mutex lock;
  std::condition_variable never;
  bool stop = false;
  std::atomic<pid_t> baselineTid{0};
  std::thread baseline([&] {
    baselineTid = static_cast<pid_t>(syscall(SYS_gettid));
    std::unique_lock guard(lock);
    while (!stop) never.wait_for(guard, std::chrono::milliseconds(200));
  });

  // Start-up (splash, windows, the first paints) is not idling.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const fs::path baselineTask = "/proc/self/task/" + std::to_string(baselineTid.load());
  std::vector<double> adminShare, baselineShare, ratios;
  for (int round = 0; round < rounds; ++round) {
    const uint64_t a0 = ProcessCpu(admin), b0 = ThreadCpu(baselineTask);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t a1 = ProcessCpu(admin), b1 = ThreadCpu(baselineTask);
    const double wall = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    if (a1 == 0) {
      std::fprintf(stderr, "bench_idle: TavrinAdmin is not running\n");
      break;
    }
    adminShare.push_back(100.0 * static_cast<double>(a1 - a0) / wall);
    baselineShare.push_back(100.0 * static_cast<double>(b1 - b0) / wall);
    ratios.push_back(adminShare.back() / std::max(baselineShare.back(), 1e-6));
    std::printf("round %d: TavrinAdmin %.3f%% of a core, baseline %.3f%%, ratio %.1f\n", round + 1,
                adminShare.back(), baselineShare.back(), ratios.back());
  }
  {
    std::lock_guard guard(lock);
    stop = true;
  }
  never.notify_all();
  baseline.join();
  kill(admin, SIGTERM);
  waitpid(admin, nullptr, 0);
  std::error_code ec;
  fs::remove_all(tmpl, ec);
  if (adminShare.empty()) return 1;
  const double median = Median(adminShare);
  std::printf("TavrinAdmin idle: median %.3f%% of a core (min %.3f, max %.3f); baseline median %.3f%%; "
              "ratio median %.1f; goal < 0.1%%: %s\n",
              median, *std::min_element(adminShare.begin(), adminShare.end()),
              *std::max_element(adminShare.begin(), adminShare.end()), Median(baselineShare), Median(ratios),
              median < 0.1 ? "met" : "not met");
  return 0;
}
