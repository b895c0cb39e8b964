// Loopback settings of the socket seam for the framework's tests.
#pragma once
#include <gtest/gtest.h>

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

}  // namespace pelko::test
