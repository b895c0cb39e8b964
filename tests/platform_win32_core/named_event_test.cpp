// Named events: one object per name for every process of the sysroot, with Win32's create/open rules.
#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "peer_process.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/sync.h"

namespace {

using tavrin::test::PeerProcess;
using tavrin::test::SysrootTest;

class NamedEventTest : public SysrootTest {};

TEST_F(NamedEventTest, SecondCreateSharesTheObjectAndKeepsTheFirstCreatorsMode) {
  HANDLE first = CreateEvent(nullptr, FALSE, FALSE, "Pelko Admin");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateEvent(nullptr, TRUE, TRUE, "Pelko Admin");  // mode and state are ignored now
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  SetEvent(second);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "auto-reset, as the first creator made it";
  CloseHandle(first);
  CloseHandle(second);
}

TEST_F(NamedEventTest, NameLivesWhileAHandleIsOpen) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE created = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  HANDLE opened = OpenEvent(EVENT_MODIFY_STATE, FALSE, "TavrinAdminShutDownEvent");
  ASSERT_NE(opened, nullptr);
  CloseHandle(created);
  SetEvent(opened);  // still the same object through the remaining handle
  HANDLE again = OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent");
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
  CloseHandle(opened);
  CloseHandle(again);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent"), nullptr);
  HANDLE fresh = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT) << "a new object, not the old set one";
  CloseHandle(fresh);
}

TEST_F(NamedEventTest, UnusualNamesAreKeptApart) {
  HANDLE a = CreateEvent(nullptr, TRUE, FALSE, "a/b");
  HANDLE b = CreateEvent(nullptr, TRUE, FALSE, "a\\b");
  HANDLE c = CreateEvent(nullptr, TRUE, FALSE, "Global\\a/b");  // the session prefix names the same object
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0);
  for (HANDLE h : {a, b, c}) CloseHandle(h);
}

TEST_F(NamedEventTest, WaitOnANamedEventWakesWhenAnotherThreadSetsIt) {
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, "WakeMe");
  const std::atomic<pid_t> waiter{tavrin::test::KernelThreadId()};
  std::thread setter([&] {
    HANDLE other = OpenEvent(EVENT_MODIFY_STATE, FALSE, "WakeMe");
    EXPECT_TRUE(tavrin::test::EventuallyBlocked(waiter));  // set while the wait is under way
    SetEvent(other);
    CloseHandle(other);
  });
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(event);
}

TEST_F(NamedEventTest, AnotherProcessSetsOurEvent) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  PeerProcess setter({"event-set", "TavrinAdminShutDownEvent"});
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(setter.Wait(), 0);
  CloseHandle(event);
}

// How often a thread of this process has gone to sleep so far.
long SleepsOf(pid_t tid) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  return -1;
}

TEST_F(NamedEventTest, AWaitMixingItWithALocalEventSleepsUntilOneOfThemIsSet) {
  HANDLE named = CreateEvent(nullptr, TRUE, FALSE, "TavrinAdminShutDownEvent");
  HANDLE local = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  const HANDLE both[2] = {named, local};
  // Set by another process: the wait wakes for it, and did not wake meanwhile to look (the peer takes
  // many milliseconds to start).
  std::atomic<pid_t> waiter{0};
  std::atomic<long> sleepsAfter{0};
  std::thread waiting([&] {
    waiter = tavrin::test::KernelThreadId();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 30000), WAIT_OBJECT_0);
    sleepsAfter = SleepsOf(waiter);
  });
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(waiter));
  const long sleepsBefore = SleepsOf(waiter);
  PeerProcess setter({"event-set", "TavrinAdminShutDownEvent"});
  EXPECT_EQ(setter.Wait(), 0);
  waiting.join();
  EXPECT_GE(sleepsBefore, 0);
  EXPECT_LE(sleepsAfter - sleepsBefore, 5) << "the wait looked again without a change";

  // Ended by the local event: nothing of the wait keeps the named one open after it.
  ResetEvent(named);
  waiter = 0;
  std::thread waitingAgain([&] {
    waiter = tavrin::test::KernelThreadId();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 30000), WAIT_OBJECT_0 + 1);
  });
  ASSERT_TRUE(tavrin::test::EventuallyBlocked(waiter));
  SetEvent(local);
  waitingAgain.join();
  CloseHandle(named);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminShutDownEvent"), nullptr);
  CloseHandle(local);
}

TEST_F(NamedEventTest, AutoResetReleasesOneWaitingProcessPerSet) {
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, "OneAtATime");
  PeerProcess first({"event-wait", "OneAtATime", "60000"});
  PeerProcess second({"event-wait", "OneAtATime", "60000"});
  ASSERT_EQ(first.ReadLine(), "opened");
  ASSERT_EQ(second.ReadLine(), "opened");
  SetEvent(event);
  // Exactly one of them ends; the other keeps waiting until the next set.
  PeerProcess* ended = nullptr;
  ASSERT_TRUE(tavrin::test::Eventually([&] {
    if (first.Wait(0) == 0) ended = &first;
    else if (second.Wait(0) == 0) ended = &second;
    return ended != nullptr;
  }));
  PeerProcess& other = ended == &first ? second : first;
  EXPECT_EQ(other.Wait(100), -1);
  SetEvent(event);
  EXPECT_EQ(other.Wait(), 0);
  CloseHandle(event);
}

TEST_F(NamedEventTest, AnotherProcessesEventKeepsItsModeAndDiesWithIt) {
  PeerProcess creator({"event-create", "Pelko Admin", "0", "0", "release-creator"});
  ASSERT_EQ(creator.ReadLine(), "created 0");
  HANDLE mine = CreateEvent(nullptr, TRUE, TRUE, "Pelko Admin");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // the single-instance check of a second copy
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
  SetEvent(mine);
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
  CloseHandle(mine);

  // A holder that is killed leaves no live object behind.
  creator.Kill();
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "Pelko Admin"), nullptr);
  HANDLE fresh = CreateEvent(nullptr, TRUE, TRUE, "Pelko Admin");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0) << "manual reset now";
  CloseHandle(fresh);
}

TEST_F(NamedEventTest, HolderThatEndsNormallyReleasesTheName) {
  PeerProcess creator({"event-create", "Ephemeral", "1", "0", "release-ephemeral"});
  ASSERT_EQ(creator.ReadLine(), "created 0");
  HANDLE release = OpenEvent(EVENT_MODIFY_STATE, FALSE, "release-ephemeral");
  ASSERT_NE(release, nullptr);
  SetEvent(release);
  EXPECT_EQ(creator.Wait(), 0);
  CloseHandle(release);
  EXPECT_EQ(OpenEvent(SYNCHRONIZE, FALSE, "Ephemeral"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
