// The records of the sysroot's top-level windows: published, retitled and removed by their process, found
// by other processes while it lives, dropped once it is gone; stray files in the folder are no records.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "base/sysroot.h"
#include "gui/sysroot_windows.h"
#include "testsupport/child_process.h"
#include "testsupport/sysroot.h"

namespace {

using namespace tavrin::gui::automation;
using tavrin::test::SysrootTest;

class SysrootWindowsTest : public SysrootTest {};

// A child process that publishes a window titled `title`, says so, and lives until `release` closes.
pid_t PublishingChild(const std::string& title, int& release) {
  int ready[2], hold[2];
  if (pipe(ready) != 0 || pipe(hold) != 0) return -1;
  pid_t pid = tavrin::test::ForkChild();
  if (pid == 0) {
    close(ready[0]);
    close(hold[1]);
    Publish(0x10002, "TestFrame", title);
    char byte = 1;
    (void)!write(ready[1], &byte, 1);
    (void)!read(hold[0], &byte, 1);  // returns when the parent closes its end
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  char byte = 0;
  (void)!read(ready[0], &byte, 1);
  close(ready[0]);
  release = hold[1];
  return pid;
}

TEST_F(SysrootWindowsTest, OwnRecordsArePublishedRetitledAndRemoved) {
  const auto self = static_cast<uint32_t>(getpid());
  auto record = Publish(0xABC, "NSWindow", "First");
  ASSERT_FALSE(record.empty());
  auto found = FindPublished(self, 0xABC);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->className, "NSWindow");
  EXPECT_EQ(found->title, "First");
  EXPECT_EQ(Publish(0xABC, "NSWindow", "Second \"quoted\"\nline", record), record);
  EXPECT_EQ(FindPublished(self, 0xABC)->title, "Second \"quoted\"\nline");
  EXPECT_TRUE(OtherProcessesWindows().empty()) << "a process's own windows are not another's";
  Unpublish(record);
  EXPECT_FALSE(FindPublished(self, 0xABC));
}

TEST_F(SysrootWindowsTest, OtherProcessesWindowsAreFoundWhileTheyLiveAndDroppedAfter) {
  const auto windows = tavrin::base::sysroot::RunDir() / "windows";
  std::filesystem::create_directories(windows);
  for (const char* stray : {"notes.txt", "00000001-0000000000000001.Ab12Cd", "1-1"}) std::ofstream(windows / stray) << "x";
  int release = -1;
  pid_t child = PublishingChild("Pelko Admin", release);
  ASSERT_GT(child, 0);

  auto all = OtherProcessesWindows();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].pid, static_cast<uint32_t>(child));
  EXPECT_EQ(all[0].handle, 0x10002u);
  EXPECT_EQ(all[0].className, "TestFrame");
  auto byTitle = FindByTitle("pelko admin");
  ASSERT_TRUE(byTitle);
  EXPECT_EQ(byTitle->pid, static_cast<uint32_t>(child));
  EXPECT_FALSE(FindByTitle("Pelko"));

  close(release);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(OtherProcessesWindows().empty());
  EXPECT_FALSE(FindPublished(static_cast<uint32_t>(child), 0x10002));
  char name[32];
  snprintf(name, sizeof name, "%08x-%016x", static_cast<unsigned>(child), 0x10002u);
  EXPECT_FALSE(std::filesystem::exists(windows / name)) << "the dead process's record is removed";
  EXPECT_TRUE(std::filesystem::exists(windows / "notes.txt")) << "what is no record is left alone";
}

}  // namespace
