// Named events shared by the processes of one sysroot. Each name is a small file in the run directory,
// mapped into every process that holds the event: the signalled flag and a change counter that waiters
// block on with a futex. Every holding process keeps a shared flock on the file, so the object lives
// exactly while some process holds it: a creator that can take the lock exclusively knows nobody does
// (a file left by a process that died is stale then) and sets the object up afresh. A guard lock over
// the run directory keeps creating, opening and the last close of one process apart from each other.
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>

#include "core_internal.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::core {
namespace {

constexpr uint32_t kEventMagic = 0x54564531;  // "TVE1"

struct SharedEventState {
  uint32_t magic;
  uint32_t manualReset;
  std::atomic<uint32_t> signalled;
  std::atomic<uint32_t> changes;  // moves on every SetEvent; the futex word
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the state is shared between processes");

// Holds the run directory's guard lock while it lives.
class GuardLock {
 public:
  explicit GuardLock(const fs::path& dir) : fd_(open((dir / "objects.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~GuardLock() {
    if (fd_ >= 0) close(fd_);  // closing drops the lock
  }
  bool Held() const { return fd_ >= 0; }
  GuardLock(const GuardLock&) = delete;
  GuardLock& operator=(const GuardLock&) = delete;

 private:
  int fd_;
};

class NamedEvent : public Event {
 public:
  NamedEvent(fs::path path, int fd, SharedEventState* state) : path_(std::move(path)), fd_(fd), state_(state) {}
  ~NamedEvent() override {
    GuardLock guard(path_.parent_path());
    // The last holder anywhere removes the file (a failed attempt only loses our own lock, which goes now).
    if (guard.Held() && flock(fd_, LOCK_EX | LOCK_NB) == 0) unlink(path_.c_str());
    munmap(state_, sizeof(SharedEventState));
    close(fd_);
  }

  // Called by the creator only, while it holds the file exclusively.
  void Initialize(bool manualReset, bool initialState) {
    state_->manualReset = manualReset ? 1 : 0;
    state_->signalled.store(initialState ? 1 : 0);
    state_->changes.store(0);
    state_->magic = kEventMagic;
  }
  bool Valid() const { return state_->magic == kEventMagic; }

  bool IsSignalled() override { return state_->signalled.load() != 0; }
  bool TryAcquire() override {
    if (state_->manualReset) return IsSignalled();
    uint32_t expected = 1;
    return state_->signalled.compare_exchange_strong(expected, 0);
  }
  void Unacquire() override { Signal(); }
  bool ChangesElsewhere() const override { return true; }
  uint32_t ChangeStamp() override { return state_->changes.load(); }
  void WaitForChange(uint32_t stamp, std::chrono::milliseconds limit) override {
    timespec timeout{static_cast<time_t>(limit.count() / 1000), static_cast<long>(limit.count() % 1000) * 1000000};
    // Not FUTEX_PRIVATE_FLAG: the word lives in memory shared with other processes.
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_->changes), FUTEX_WAIT, stamp, &timeout, nullptr, 0);
  }
  void Set() override {
    Signal();
    NotifyWaiters();  // waits of this process that mix it with local objects re-check at once
  }
  void Reset() override { state_->signalled.store(0); }

 private:
  void Signal() {
    state_->signalled.store(1);
    state_->changes.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_->changes), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  }

  const fs::path path_;
  const int fd_;
  SharedEventState* const state_;
};

// The objects of this process by file, so that a second CreateEvent of a name shares the first's mapping.
struct ProcessNames {
  std::mutex lock;
  std::map<fs::path, std::weak_ptr<NamedEvent>> events;
};

ProcessNames& Names() {
  static auto* names = new ProcessNames;  // never destroyed: handles may be closed during exit
  return *names;
}

// The file of a name: the session prefixes mean nothing here; characters outside a safe set are escaped.
fs::path PathOf(std::string name) {
  for (const char* prefix : {"Global\\", "Local\\"})
    if (name.rfind(prefix, 0) == 0) name.erase(0, std::string(prefix).size());
  std::string file = "event-";
  for (unsigned char c : name) {
    if (isalnum(c) || c == '_' || c == '-' || c == '.') {
      file += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      file += '%';
      file += hex[c >> 4];
      file += hex[c & 15];
    }
  }
  return sysroot::RunDir() / file;
}

DWORD ErrorFromErrno() {
  switch (errno) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

std::shared_ptr<NamedEvent> FindInProcess(const fs::path& path) {
  auto& names = Names();
  auto it = names.events.find(path);
  if (it == names.events.end()) return nullptr;
  auto event = it->second.lock();
  if (!event) names.events.erase(it);
  return event;
}

// Opens (and with `create`, creates) the name's file and maps it, under the guard lock. `created` tells
// that nobody held the name, and the object was set up with the given mode and state.
std::shared_ptr<NamedEvent> Attach(const fs::path& path, bool create, bool manualReset, bool initialState,
                                   bool& created, DWORD& error) {
  GuardLock guard(path.parent_path());
  int fd = guard.Held() ? open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600) : -1;
  if (fd < 0) {
    error = ErrorFromErrno();
    return nullptr;
  }
  created = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (created && !create) {  // no process holds it: a stale file
    unlink(path.c_str());
    close(fd);
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  // Nobody holds the name: the object is set up afresh, over whatever a process that died left.
  if (created && (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(SharedEventState)) != 0)) {
    error = ErrorFromErrno();
    close(fd);
    return nullptr;
  }
  struct stat info {};
  if (!created && (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(sizeof(SharedEventState)))) {
    error = ERROR_INVALID_HANDLE;  // the name's file holds no event
    close(fd);
    return nullptr;
  }
  void* memory = mmap(nullptr, sizeof(SharedEventState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    error = ErrorFromErrno();
    close(fd);
    return nullptr;
  }
  auto event = std::make_shared<NamedEvent>(path, fd, static_cast<SharedEventState*>(memory));
  if (created) event->Initialize(manualReset, initialState);
  flock(fd, LOCK_SH);  // converts our exclusive lock (safe under the guard), or joins the other holders
  return event;
}

std::shared_ptr<Event> Share(const fs::path& path, bool create, bool manualReset, bool initialState,
                             bool& existed, DWORD& error) {
  std::lock_guard names(Names().lock);
  if (auto event = FindInProcess(path)) {
    existed = true;
    return event;
  }
  bool created = false;
  auto event = Attach(path, create, manualReset, initialState, created, error);
  if (!event) return nullptr;
  existed = !created;
  if (!event->Valid()) {
    error = ERROR_INVALID_HANDLE;  // the name's file holds no event
    return nullptr;
  }
  Names().events[path] = event;
  return event;
}

}  // namespace

std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState,
                                        bool& existed, DWORD& error) {
  return Share(PathOf(name), true, manualReset, initialState, existed, error);
}

std::shared_ptr<Event> OpenNamedEvent(const std::string& name, DWORD& error) {
  bool existed = false;
  return Share(PathOf(name), false, false, false, existed, error);
}

}  // namespace tavrin::core
