// The server manager's windows over the bundled servers on loopback: the core's fixture (servers,
// sockets, sysroot) with the window definition loaded and its MacUi on the AppKit windows.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include <mutex>
#include <vector>

#include "../mac_app/mac_fixture.h"
#include "TavrinMac/server_manager_windows.h"
#include "TavrinMac/ui/AppKitUi.h"

namespace tavrinmac::test {

// The program's MacUi on AppKit, keeping "title message" of each alert it shows.
class RecordingUi : public ui::AppKitUi {
 public:
  int Alert(const AlertText& alert) override;
  std::vector<std::string> alertLines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> alerts_;
};

// The picture matches the reference PNG, every channel within the tolerance (see reference_image.h).
::testing::AssertionResult MatchesPicture(const tavrin::draw::Surface& image, const std::string& path, int tolerance);

class WindowsTest : public MacTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the main loop until `done` holds (false after 20 s).
  static bool Until(const std::function<bool()>& done);
  // A cell's text as the table shows it.
  static std::string Cell(NSTableView* table, const char* column, int row);
  // The row of the servers table that shows the address (-1 when none).
  int RowOf(const std::string& address);
  // Whether the window's log table shows the line.
  bool LogShows(const std::string& line);

  serverManager* manager_ = nullptr;
  ServerManagerWindows* w_ = nullptr;
  std::unique_ptr<RecordingUi> windowsUi_;
};

}  // namespace tavrinmac::test
