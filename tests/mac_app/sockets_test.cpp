// The command connection: a failed connect leaves no socket behind, and descriptor 0 is never handed out.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "TavrinMac/sockets.h"
#include "cocoa/bsd.h"
#include "mac_fixture.h"
#include "testsupport/ports.h"

namespace tavrinmac::test {
namespace {

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

class SocketsTest : public MacTest {};

TEST_F(SocketsTest, AFailedConnectClosesItsSocketAndZeroIsNeverAConnection) {
  // Nobody listens there: refused.
  tavrin::test::HeldPort nobody(tavrin::test::HeldPort::kStream, "127.0.0.9");
  bsd::MapPort(1341, nobody.port(), "127.0.0.9");
  const int before = OpenDescriptors();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(createTCPSocket("127.0.0.9"), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(" 111 - "), std::string::npos);  // refused, said so
  EXPECT_EQ(OpenDescriptors(), before);

  // With descriptor 0 free, a connection still gets another number.
  StartServers();
  const int saved = dup(0);
  close(0);
  const int s = createTCPSocket("127.0.0.2");
  EXPECT_GT(s, 0);  // (whether 0 is free again cannot be asked: the servers' threads open descriptors too)
  if (s > 0) bsd::close(s);
  dup2(saved, 0);
  close(saved);
}

}  // namespace
}  // namespace tavrinmac::test
