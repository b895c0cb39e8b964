// The functional pane's drawing and refresh at the largest installation, against the same work with one
// server, in one run:
//   - a full repaint of the 1024 x 768 main frame whose device tree holds 256 servers of 14 devices each,
//     against the same repaint with one server (only the rows on screen are painted: goal <= 1.5);
//   - a selection change (the row left and the row chosen painted again) against the full repaint at
//     that load (goal <= 0.25);
//   - one refresh of the refresh timer at that load (the document's ageing and the tree brought up to
//     date, nothing changed) as a share of one core at the default refresh period (goal < 2 %).
// Every figure is the median of its repetitions; the whole is done --runs times and each ratio printed
// with its minimum, median and maximum.
//
//   panes_bench [--servers 256] [--devices 14] [--repeats 40] [--runs 5] [--refresh-ms 5000]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "admin/TavrinAdminDoc.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "bench_util.h"
#include "testsupport/admin_app.h"
#include "testsupport/sysroot.h"
#include "win32/gdi_hooks.h"
#include "win32/sysroot.h"
#include "win32/windows.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int servers = 256;
  int devices = 14;
  int repeats = 40;
  int runs = 5;
  int refreshMs = 5000;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  bench::ParseNumbers(argc, argv, {{"--servers", &options.servers}, {"--devices", &options.devices},
                                   {"--repeats", &options.repeats}, {"--runs", &options.runs},
                                   {"--refresh-ms", &options.refreshMs}});
  return options;
}

// Microseconds of one call, the median of `repeats`.
template <class Work>
double MedianMicros(int repeats, Work work) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    work(i);
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return bench::Median(times);
}

std::string ServerAddress(int n) { return "127.0." + std::to_string(1 + n / 250) + "." + std::to_string(2 + n % 250); }

// The program's main frame at 1024 x 768 on screen, its document's lists holding the servers and their
// devices as the broadcasts and the drivers' answers leave them, and the functional pane showing them.
class Scene {
 public:
  Scene(int servers, int devices) : root_(tavrin::test::MakeTempDir("tavrin-panes-bench-")) {
    // A program of its own each time, as one run of TavrinAdmin.
    tavrin::sysroot::SetRoot(root_);
    tavrin::test::SetAdminTestParameters(5000);
    tavrin::test::StartAdminApp(app_);
    doc_ = app_->GetDocument();
    frame_ = GetAdminMainFrame();
    pane_ = frame_->GetFunctionView();
    doc_->CreateEventsAndLocks();
    for (int n = 0; n < servers; ++n) {
      ServerPresenceEntry server{};
      snprintf(server.ServerIp, sizeof server.ServerIp, "%s", ServerAddress(n).c_str());
      server.Active = 1;
      server.RequestStatus = ARRM_STATUS_SUCCESS;
      server.PresenceCount = 1;
      doc_->m_ServerPresenceList.AddTail(server);
      for (int d = 0; d < devices; ++d) {
        DeviceEntry device{};
        memcpy(device.ServerIp, server.ServerIp, sizeof device.ServerIp);
        device.PortNum = static_cast<WORD>(d + 1);
        device.Class = d % 2 ? 8 : 7;
        device.Vid = 0x03F0;
        device.Pid = static_cast<WORD>(0x1000 + d);
        device.Rev = 0x0100;
        device.State = DEVICE_STATE_FREE;
        device.RequestStatus = ARRM_STATUS_SUCCESS;
        device.ProductStringState = 2;
        device.SeenCount = 1;
        doc_->m_DeviceList.AddTail(device);
      }
    }
    const auto start = Clock::now();
    pane_->RefreshServerList();
    pane_->RefreshDeviceTree();
    fillMs_ = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    frame_->MoveWindow(0, 0, 1024, 768);
    frame_->ShowWindow(SW_SHOW);
    Paint();
  }

  ~Scene() {
    pane_->DeleteAllTreeItems();
    doc_->m_DeviceList.RemoveAll();
    doc_->CleanUp();
    tavrin::test::StopAdminApp(app_);
    std::filesystem::remove_all(root_);
  }

  // The timer's refresh, after the period's broadcasts have marked every server and device heard.
  void Heard() {
    doc_->ForEachServer([](ServerPresenceEntry& server) { server.PresenceCount = 1; });
    doc_->ForEachDevice([](DeviceEntry& device) { device.SeenCount = 1; });
  }
  void Refresh() {
    pane_->SendMessage(WM_TIMER, kRefreshTimer, 0);
    frame_->UpdateWindow();
  }

  void Paint() {
    frame_->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  }

  // Moves the selection among the first device rows on screen and paints what that leaves invalid.
  void ChangeSelection(int step) {
    HTREEITEM row = pane_->FindTreeRow(ServerAddress(0).c_str(), static_cast<WORD>(1 + step % 8));
    pane_->m_treeDevices.SelectItem(nullptr);
    pane_->m_treeDevices.SelectItem(row);
    pane_->m_treeDevices.UpdateWindow();
  }

  size_t Rows() const { return static_cast<size_t>(pane_->m_treeDevices.GetRowCount()); }
  double FillMs() const { return fillMs_; }

 private:
  std::filesystem::path root_;
  double fillMs_ = 0;
  std::unique_ptr<CTavrinAdminApp> app_;
  CTavrinAdminDoc* doc_ = nullptr;
  CMainFrame* frame_ = nullptr;
  CFunctionView* pane_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  tavrin::gdi::SetScreenSize(1280, 1024);

  std::vector<double> repaintRatios, selectionRatios, refreshShares;
  for (int run = 1; run <= options.runs; ++run) {
    double smallRepaint, largeRepaint, selection, refresh;
    size_t smallRows, largeRows;
    {
      Scene small(1, options.devices);
      smallRows = small.Rows();
      smallRepaint = MedianMicros(options.repeats, [&](int) { small.Paint(); });
    }
    {
      Scene large(options.servers, options.devices);
      largeRows = large.Rows();
      printf("the first refresh, which adds every row: %.0f ms\n", large.FillMs());
      largeRepaint = MedianMicros(options.repeats, [&](int) { large.Paint(); });
      selection = MedianMicros(options.repeats, [&](int i) { large.ChangeSelection(i); });
      std::vector<double> refreshes;
      for (int i = 0; i < std::max(5, options.repeats / 4); ++i) {
        large.Heard();
        const auto start = Clock::now();
        large.Refresh();
        refreshes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
      refresh = bench::Median(refreshes);
    }
    repaintRatios.push_back(largeRepaint / smallRepaint);
    selectionRatios.push_back(selection / largeRepaint);
    refreshShares.push_back(100.0 * refresh / (options.refreshMs * 1000.0));
    printf("run %d: repaint %zu rows %.0f us, %zu rows %.0f us (ratio %.2f); selection change %.0f us (ratio %.3f); "
           "refresh %.0f us (%.3f %% of a core every %d ms)\n",
           run, smallRows, smallRepaint, largeRows, largeRepaint, repaintRatios.back(), selection,
           selectionRatios.back(), refresh, refreshShares.back(), options.refreshMs);
  }
  auto report = [](const char* what, std::vector<double> values, const char* goal) {
    std::sort(values.begin(), values.end());
    printf("%-46s min %.3f  median %.3f  max %.3f   (goal %s)\n", what, values.front(), values[values.size() / 2],
           values.back(), goal);
  };
  printf("%d servers x %d devices, %d runs:\n", options.servers, options.devices, options.runs);
  report("full repaint, large / one server", repaintRatios, "<= 1.5");
  report("selection change / full repaint", selectionRatios, "<= 0.25");
  report("refresh, % of a core", refreshShares, "< 2");
  return 0;
}
