#include "base/hive.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <thread>

#include "base/files.h"
#include "base/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::base::hive {
namespace {

struct FileIdentity {
  dev_t dev;
  ino_t ino;
  off_t size;
  timespec mtime;
  uint64_t stamp;  // a replaced file of the same size, in the same clock tick, still differs by its stamp
  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && stamp == o.stamp;
  }
};

std::optional<FileIdentity> Identify(const fs::path& file) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  char head[64] = {};
  ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? pread(fd, head, sizeof head - 1, 0) : -1;
  close(fd);
  if (n < 0) return std::nullopt;
  std::string_view first(head, static_cast<size_t>(n));
  first = first.substr(0, first.find('\n'));
  return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, StampOf(first)};
}

struct HiveCache {
  std::mutex lock;  // guards the members and orders this process's changes
  bool loaded = false;
  fs::path file;
  std::optional<FileIdentity> identity;
  Key root;
  std::string problem;       // what is wrong with the file last read, "" when nothing
  bool copyPending = false;  // the damaged file is to be copied before it is written over
  Fill filled = nullptr;     // the fill applied since the file was read
  // Written but not yet on the disk; the committer puts it there once changes have been quiet a moment.
  bool uncommitted = false;
  std::chrono::steady_clock::time_point lastChange;
  std::condition_variable changed;
  pid_t committerOf = 0;  // the process whose committer runs (a forked child starts its own)
};

// How long changes must be quiet before they are committed: a run of writes costs one commit.
constexpr std::chrono::milliseconds kQuiet{50};

fs::path CommittedName(const fs::path& hive) { return hive.parent_path() / "registry.committed"; }

HiveCache& Cache() {
  static auto* cache = new HiveCache;  // never destroyed: keys may be closed during static teardown
  return *cache;
}

uint64_t NewStamp() {
  static std::mt19937_64 random{std::random_device{}()};
  uint64_t stamp;
  do stamp = random();
  while (stamp == 0);
  return stamp;
}

// Where a damaged hive is kept: registry.hive.damaged, or .damaged.N beside an earlier, different one.
fs::path DamagedCopyName(const fs::path& file, const std::string& bytes) {
  fs::path chosen;
  for (int n = 0; n < 100; ++n) {
    fs::path candidate = file.string() + ".damaged" + (n ? "." + std::to_string(n) : "");
    std::string existing;
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return chosen.empty() ? candidate : chosen;
    if (files::ReadWhole(candidate, existing) && existing == bytes) return candidate;  // kept already
    if (chosen.empty() && n == 99) chosen = candidate;
  }
  return chosen;
}

void SayProblem(HiveCache& c, const std::string& what) {
  c.problem = "The registry hive " + c.file.string() + " " + what;
  std::fprintf(stderr, "%s\n", c.problem.c_str());
}

// Reloads the hive when the file is not the one held (another process replaced it, or the sysroot moved).
void LoadLocked(HiveCache& c, Fill fill) {
  fs::path file = sysroot::Root() / "registry.hive";
  std::optional<FileIdentity> identity = Identify(file);
  if (!c.loaded || c.file != file || !(c.identity == identity)) {
    c.file = file;
    c.identity = identity;
    c.loaded = true;
    c.problem.clear();
    c.copyPending = false;
    c.filled = nullptr;
    std::string text;
    std::error_code ec;
    if (!identity) {
      c.root = Key{};
      if (fs::exists(file, ec)) SayProblem(c, "cannot be read.");
    } else if (!files::ReadWhole(file, text)) {
      c.root = Key{};
      SayProblem(c, "cannot be read.");
    } else {
      // The machine went down between a write and its commit: the last committed hive stands.
      std::string committed;
      if (text.empty() && files::ReadWhole(CommittedName(file), committed) &&
          Parse(committed).state == Parsed::State::kGood)
        text = std::move(committed);
      Parsed parsed = Parse(text);
      c.root = std::move(parsed.root);
      if (parsed.state != Parsed::State::kGood) {
        c.copyPending = true;
        fs::path copy = DamagedCopyName(file, text);
        std::string why = parsed.state == Parsed::State::kUnknownVersion
                              ? "has version " + std::to_string(parsed.version) + ", which this system cannot read"
                          : parsed.version == 0 ? "is damaged: its header is missing"
                                                : "is damaged: " + std::to_string(parsed.badLines) +
                                                      " lines could not be read";
        SayProblem(c, why + "; it is kept as " + copy.filename().string() + " before it is written again.");
      }
    }
    c.root.EnsureChild(kMachineRoot);
    c.root.EnsureChild(kCurrentUserRoot);
    c.root.EnsureChild(kUsersRoot);
  }
  if (fill && c.filled != fill) {
    fill(c.root);
    c.filled = fill;
  }
}

// Temporary files of writers killed before their rename: under the lock no writer is at work, so every one
// left is stale.
void RemoveStaleTemporaries(const fs::path& file) {
  const std::string prefix = file.filename().string() + ".";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(file.parent_path(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 ||
        !std::all_of(name.begin() + static_cast<ptrdiff_t>(prefix.size()), name.end(),
                     [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)); }))
      continue;
    std::error_code ignored;
    fs::remove(entry.path(), ignored);
  }
}

// Under the cache's lock.
void CommitLocked(HiveCache& c) {
  if (!c.uncommitted) return;
  c.uncommitted = false;
  std::error_code ec;
  if (!fs::exists(c.file, ec)) return;  // the sysroot is gone: the lock must not make it again
  files::FileLock fileLock(c.file.parent_path() / "registry.lock");
  if (!fileLock.held()) return;
  RemoveStaleTemporaries(c.file);  // a commit is seldom enough to sweep what killed writers left
  // Whatever hive stands now holds this process's changes: later writers started from them.
  if (files::SyncToDisk(c.file) != 0) return;
  // The committed hive is a second name of this file, kept when later writes replace the hive.
  const fs::path committed = CommittedName(c.file), fresh = committed.string() + ".new";
  if (fs::equivalent(c.file, committed, ec)) return;  // another process committed it already
  fs::remove(fresh, ec);
  fs::create_hard_link(c.file, fresh, ec);
  if (!ec) fs::rename(fresh, committed, ec);
  files::SyncToDisk(committed);
}

void CommitAtExit() {
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  CommitLocked(c);
}

void CommitWhenQuiet() {
  HiveCache& c = Cache();
  std::unique_lock guard(c.lock);
  for (;;) {
    c.changed.wait(guard, [&] { return c.uncommitted; });
    if (std::chrono::steady_clock::now() < c.lastChange + kQuiet) {
      c.changed.wait_until(guard, c.lastChange + kQuiet);
      continue;
    }
    CommitLocked(c);
  }
}

// Under the cache's lock, after a change was written.
void NoteUncommittedLocked(HiveCache& c) {
  const bool first = !c.uncommitted;  // the committer sleeps until the first; later ones it finds on waking
  c.uncommitted = true;
  c.lastChange = std::chrono::steady_clock::now();
  if (c.committerOf != getpid()) {
    if (c.committerOf == 0) {
      std::atexit(CommitAtExit);
      // No fork while the committer holds the lock (and the hive's file lock): the child would inherit both.
      // The child has no committer: a condition that the parent's committer waits on would hang the
      // child's first notice, so the child starts from a new one (the old one's storage is reused as is).
      pthread_atfork([] { Cache().lock.lock(); }, [] { Cache().lock.unlock(); },
                     [] {
                       new (&Cache().changed) std::condition_variable;
                       Cache().lock.unlock();
                     });
    }
    c.committerOf = getpid();
    std::thread(CommitWhenQuiet).detach();
  }
  if (first) c.changed.notify_all();
}

}  // namespace

Key* Find(Key& root, const KeyPath& path) {
  Key* key = &root;
  for (const std::string& name : path)
    if (!(key = key->Child(name))) return nullptr;
  return key;
}

std::string AnsweredData(const Value& v) {
  std::string data = v.data;
  if (v.type == kString || v.type == kExpandString) {
    if (data.empty() || data.back() != '\0') data.push_back('\0');
  } else if (v.type == kMultiString && data != std::string(1, '\0')) {
    while (data.size() < 2 || data[data.size() - 1] != '\0' || data[data.size() - 2] != '\0') data.push_back('\0');
  }
  return data;
}

void Read(const std::function<void(Key& root)>& read, Fill fill) {
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  LoadLocked(c, fill);
  read(c.root);
}

ChangeResult Change(const std::function<bool(Key& root)>& change, Fill fill) {
  using Commit = ChangeResult::Commit;
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  files::FileLock fileLock(sysroot::Root() / "registry.lock");
  if (!fileLock.held()) return {Commit::kLockFailed, fileLock.error()};
  LoadLocked(c, fill);
  if (!change(c.root)) return {Commit::kDone};
  if (c.copyPending) {
    std::string bytes;
    fs::path copy = files::ReadWhole(c.file, bytes) ? DamagedCopyName(c.file, bytes) : fs::path();
    if (copy.empty() || files::ReplaceContents(copy, bytes) != 0) {
      c.loaded = false;
      return {Commit::kWriteFailed};  // the damaged hive is not written over before it is kept
    }
    c.copyPending = false;
  }
  const uint64_t stamp = NewStamp();
  if (files::ReplaceContents(c.file, Serialize(c.root, stamp), files::Durability::kUnsynced) != 0) {
    c.loaded = false;  // memory must not claim what the file lacks
    return {Commit::kWriteFailed};
  }
  c.identity = Identify(c.file);
  NoteUncommittedLocked(c);
  return {Commit::kDone};
}

void Commit() {
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  CommitLocked(c);
}

std::string Problem() {
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  LoadLocked(c, nullptr);
  return c.problem;
}

void DropCache() {
  HiveCache& c = Cache();
  std::lock_guard guard(c.lock);
  CommitLocked(c);  // the hive left behind keeps what was written to it
  c.loaded = false;
  c.root = Key{};
  c.problem.clear();
  c.filled = nullptr;
}

}  // namespace tavrin::base::hive
