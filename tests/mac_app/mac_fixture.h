// The bundled servers of sim/default.conf (127.0.0.2-4) on ports of the test's own, reached through the
// socket seam; a headless MacUi that records alerts and plays the user in modal runs.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TavrinMac/ui.h"
#include "cocoa/Foundation.h"
#include "testsupport/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace tavrinmac::test {

class MacTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The servers of the bundled configuration, started with short broadcast and restart periods.
  void StartServers();
  zarnet::sim::Server& server(const std::string& address);
  // The server manager's log lines, in order.
  static std::vector<std::string> ServerLogLines();
  static bool HasLine(const std::vector<std::string>& lines, const std::string& text);
  // Waits until the server manager's log holds the line.
  bool WaitForServerLog(const std::string& text, int timeoutMs = 10000);

  HeadlessUi ui_;
  zarnet::sim::Simulator sim_;
  uint16_t listPort_ = 0;       // where the device lists arrive
  uint16_t discoveryPort_ = 0;  // the Mac's local discovery socket
  uint16_t tftpPort_ = 0;       // where the servers fetch firmware images
  NSAutoreleasePool* pool_ = nullptr;
  long liveBefore_ = 0;
};

}  // namespace tavrinmac::test
