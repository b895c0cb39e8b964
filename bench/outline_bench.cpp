// The Mac outline view against the Win32 side's tree list, the same composition in one run: a 1024 x 768
// window whose tree shows 256 servers of 14 devices each (four columns: the device, its port, its class,
// its state), reloaded from its data and expanded, then the whole window painted again.
//   - AppKit: an NSOutlineView in an NSScrollView filling a borderless NSWindow; reloadData, every server
//     expanded, display.
//   - Win32: a COXTreeCtrl filling a pop-up window; every item deleted and inserted again with its cells,
//     every server expanded, the window redrawn.
// Rounds alternate the two (so that the machine's state weighs on both alike); a run's figure is the
// median of its rounds' ratios (AppKit / Win32, goal <= 1.5); the whole is done --runs times and the
// ratio printed with its minimum, median and maximum, and the machine's load.
//
//   outline_bench [--servers 256] [--devices 14] [--rounds 15] [--runs 5]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/sysroot.h"
#include "bench_util.h"
#include "outline_bench.h"
#include "testsupport/sysroot.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int servers = 256;
  int devices = 14;
  int rounds = 15;
  int runs = 5;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  bench::ParseNumbers(argc, argv, {{"--servers", &options.servers}, {"--devices", &options.devices},
                                   {"--rounds", &options.rounds}, {"--runs", &options.runs}});
  return options;
}

template <class Work>
double Micros(Work work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const auto root = tavrin::test::MakeTempDir("tavrin-outline-bench-");
  tavrin::base::sysroot::SetRoot(root);
  outline_bench::StartMacSide();
  const outline_bench::Model model(options.servers, options.devices);

  std::vector<double> ratios;
  {
    auto mac = outline_bench::MakeMacScene(model);
    auto win32 = outline_bench::MakeWin32Scene(model);
    mac->Reload();  // the first of each warms what is made once
    win32->Reload();
    printf("rows: AppKit %ld, Win32 %ld\n", mac->Rows(), win32->Rows());
    for (int run = 1; run <= options.runs; ++run) {
      std::vector<double> roundRatios, macTimes, win32Times;
      for (int round = 0; round < options.rounds; ++round) {
        // Which goes first alternates.
        double macUs, win32Us;
        if (round % 2) {
          win32Us = Micros([&] { win32->Reload(); });
          macUs = Micros([&] { mac->Reload(); });
        } else {
          macUs = Micros([&] { mac->Reload(); });
          win32Us = Micros([&] { win32->Reload(); });
        }
        macTimes.push_back(macUs);
        win32Times.push_back(win32Us);
        roundRatios.push_back(macUs / win32Us);
      }
      ratios.push_back(bench::Median(roundRatios));
      printf("run %d: AppKit %.0f us, Win32 %.0f us (medians), ratio %.2f (median of %d rounds), load %.2f\n", run,
             bench::Median(macTimes), bench::Median(win32Times), ratios.back(), options.rounds, bench::LoadAverage());
    }
  }
  outline_bench::EndMacSide();
  std::filesystem::remove_all(root);
  auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  printf("outline reload and repaint, AppKit / Win32 tree: min %.2f, median %.2f, max %.2f (goal <= 1.5)\n", *low,
         bench::Median(ratios), *high);
  return 0;
}
