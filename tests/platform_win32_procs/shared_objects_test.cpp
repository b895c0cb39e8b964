#include <signal.h>

#include <cstring>
#include <thread>

#include "procs_fixture.h"

namespace {

TEST_F(ProcsTest, MutexIsRecursiveAndOwnedByItsThread) {
  HANDLE mutex = CreateMutex(nullptr, TRUE, "procs-recursive");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // once more by its owner

  DWORD otherWait = 0;
  BOOL otherRelease = TRUE;
  DWORD otherError = 0;
  std::thread other([&] {
    otherWait = WaitForSingleObject(mutex, 0);
    otherRelease = ReleaseMutex(mutex);
    otherError = GetLastError();
  });
  other.join();
  EXPECT_EQ(otherWait, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(otherRelease);
  EXPECT_EQ(otherError, ERROR_NOT_OWNER);

  HANDLE again = CreateMutex(nullptr, TRUE, "procs-recursive");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(again));
  EXPECT_FALSE(ReleaseMutex(mutex));  // released as often as taken: no longer owned
  CloseHandle(again);
  CloseHandle(mutex);
  EXPECT_EQ(OpenMutex(SYNCHRONIZE, FALSE, "procs-recursive"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProcsTest, MutexOfAThreadThatEndedIsAbandoned) {
  HANDLE mutex = CreateMutex(nullptr, FALSE, nullptr);
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); });
  owner.join();
  HANDLE handles[] = {event, mutex};
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 5000), WAIT_ABANDONED_0 + 1);
  EXPECT_TRUE(ReleaseMutex(mutex));  // the abandoned mutex is owned by the waiter now
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(event);
  CloseHandle(mutex);
}

TEST_F(ProcsTest, NamedMutexOfAKilledProcessIsAbandoned) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, "procs-mutex-ready");
  HANDLE mutex = CreateMutex(nullptr, FALSE, "procs-shared-lock");
  auto holder = Start("peer.exe hold-mutex procs-shared-lock procs-mutex-ready");
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 50), static_cast<DWORD>(WAIT_TIMEOUT));

  kill(static_cast<pid_t>(holder.dwProcessId), SIGKILL);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // a plain take from now on
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(Finish(holder), 128u + SIGKILL);
  CloseHandle(mutex);
  CloseHandle(ready);
}

TEST_F(ProcsTest, NamedMappingIsSharedAndReadOnlyViewsFault) {
  HANDLE mapping = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10140, "procs-table");
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 10140));
  ASSERT_NE(view, nullptr);
  view[10139] = 77;

  auto reader = Start("peer.exe map-byte procs-table 10139");
  EXPECT_EQ(Finish(reader), 77u);
  auto writer = Start("peer.exe map-write-readonly procs-table");
  EXPECT_EQ(Finish(writer), 128u + SIGSEGV);
  EXPECT_EQ(view[0], 0);

  HANDLE second = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10, "procs-table");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  auto* whole = static_cast<unsigned char*>(MapViewOfFile(second, FILE_MAP_READ, 0, 0, 0));  // at its own size
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole[10139], 77);
  EXPECT_TRUE(UnmapViewOfFile(whole));
  CloseHandle(second);

  HANDLE readOnly = OpenFileMapping(FILE_MAP_READ, FALSE, "procs-table");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_READ, 0, 0, 10141), nullptr);
  CloseHandle(readOnly);

  // A view keeps the mapping after its last handle; the last view ends it.
  CloseHandle(mapping);
  HANDLE stillThere = OpenFileMapping(FILE_MAP_READ, FALSE, "procs-table");
  EXPECT_NE(stillThere, nullptr);
  CloseHandle(stillThere);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(OpenFileMapping(FILE_MAP_READ, FALSE, "procs-table"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProcsTest, MappingOfAProcessThatEndedIsGone) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, "procs-holder-ready");
  auto holder = Start("peer.exe hold-mutex procs-holder-mutex procs-holder-ready");
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  HANDLE probe = OpenMutex(SYNCHRONIZE, FALSE, "procs-holder-mutex");
  EXPECT_NE(probe, nullptr);
  CloseHandle(probe);
  TerminateProcess(holder.hProcess, 1);
  Finish(holder);
  EXPECT_EQ(OpenMutex(SYNCHRONIZE, FALSE, "procs-holder-mutex"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  CloseHandle(ready);
}

TEST_F(ProcsTest, UnnamedMappingsAndBadArguments) {
  HANDLE mapping = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 100, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  EXPECT_NE(view, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(view));
  CloseHandle(mapping);
  EXPECT_EQ(CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "procs-empty"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
