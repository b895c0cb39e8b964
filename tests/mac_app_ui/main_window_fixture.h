// TavrinMac's main window over the bundled servers on loopback ports of the test's own and the driver
// stand-in in the test's sysroot; input goes through the window core as a display gives it.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "../mac_app/mac_fixture.h"
#include "TavrinMac/ui/MainWindow.h"
#include "cocoa/iokit_host.h"
#include "quorvel/quorvelNHCI.h"

namespace tavrinmac::test {

class MainWindowTest : public MacTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the main interface (the start-up window for `ovalSeconds`) and waits for the tree to list
  // the office printer by its product string.
  void Launch(double ovalSeconds = 0, bool waitForTree = true);
  // Tears the window down and checks that every object it made is gone.
  void Quit();

  // Runs the main loop until `done` holds (false after `seconds`).
  static bool Until(const std::function<bool()>& done, double seconds = 10);
  // The tree's row whose column "1" shows the text (-1 when none).
  int TreeRow(const std::string& text);
  std::string TreeCell(int row, const char* column);
  // The log lines as "method | description".
  std::vector<std::string> LogLines();
  bool WaitForLog(const std::string& line, double seconds = 10);
  // Where, in the main window's coordinates, a toolbar item and a tree row are.
  NSPoint ToolbarItemPoint(const std::string& identifier);
  NSPoint TreeRowPoint(int row);
  // A click through the window core at a point of the window (its coordinates, origin bottom-left).
  static void Click(NSWindow* window, NSPoint at, bool right = false);
  // Answers the alert that the main loop shows next with its first button, by a click on it; the alert's
  // title and text land in `seen`.
  void AnswerNextAlert(std::string* seen);
  bool Busy(const std::string& address, uint16_t port);

  bool startServers_ = true;  // set before SetUp runs: a test of its own without the servers
  std::unique_ptr<cocoa::iokit::Host> host_;
  std::shared_ptr<quorvel::Driver> driver_;
  ui::MainWindowController* window_ = nullptr;
  long liveAtLaunch_ = 0;
  bool checkLiveObjects_ = false;
};


// Compares a picture with a reference file, every channel within 2 (reference_check.cpp).
::testing::AssertionResult MatchesMainWindowPicture(const tavrin::draw::Surface& image, const std::string& path);

}  // namespace tavrinmac::test
