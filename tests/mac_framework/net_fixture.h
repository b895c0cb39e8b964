// Loopback settings of the socket seam for the framework's tests, and small helpers.
#pragma once
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "cocoa/bsd.h"
#include "testsupport/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace pelko::test {

class NetTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    bsd::ResetNetwork();
    bsd::SetBindAddress("127.0.0.1");
    bsd::SetBroadcastAddress("127.0.0.1");
    listPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    ASSERT_NE(listPort_, 0);
    bsd::MapPort(6000, listPort_);
  }
  void TearDown() override {
    bsd::ResetNetwork();
    SysrootTest::TearDown();
  }
  uint16_t listPort() const { return listPort_; }

 private:
  uint16_t listPort_ = 0;
};

// The thread's state letter from /proc ('S' while it sleeps in a call), or 0.
inline char ThreadState(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : 0;
}

// Waits until pred() holds, checking every millisecond; false after the time-out.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace pelko::test
