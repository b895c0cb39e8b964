// The command connection: a failed connect leaves no socket behind, and descriptor 0 is never handed out.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
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

class CommandSocketTest : public MacTest {};

TEST_F(CommandSocketTest, AFailedConnectClosesItsSocketAndZeroIsNeverAConnection) {
  // Nobody listens there: refused.
  tavrin::test::HeldPort nobody(tavrin::test::HeldPort::kStream, "127.0.0.9");
  bsd::MapPort(1341, nobody.port(), "127.0.0.9");
  const int before = OpenDescriptors();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(createTCPSocket("127.0.0.9"), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(" 111 - "), std::string::npos);  // refused, said so
  EXPECT_EQ(OpenDescriptors(), before);

  // With descriptor 0 free, a connection still gets another number (no other thread runs to take 0).
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.9");
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
  bsd::MapPort(1341, ntohs(a.sin_port), "127.0.0.9");
  const int saved = dup(0);
  close(0);
  const int s = createTCPSocket("127.0.0.9");
  EXPECT_GT(s, 0);
  EXPECT_EQ(fcntl(0, F_GETFD), -1);  // 0 is free again
  if (s > 0) bsd::close(s);
  dup2(saved, 0);
  close(saved);
  close(listener);
}

}  // namespace
}  // namespace tavrinmac::test
