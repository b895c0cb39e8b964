// Mutexes over robust, recursive pthread mutexes: the kernel marks one whose owning thread ended, which
// is what WAIT_ABANDONED reports. A named mutex lives in its name's shared file; waits block on a change
// counter beside it, with a short cap so that an owner's death is seen without a release.
#include "win32/mutex.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "shared_name.h"
#include "win32/sync.h"
#include "win32/waitable.h"

namespace fs = std::filesystem;

namespace tavrin::procs {
namespace {

constexpr uint32_t kMutexMagic = 0x54564D31;  // "TVM1"
constexpr auto kDeathCheck = std::chrono::milliseconds(20);

struct MutexState {
  uint32_t magic;
  std::atomic<uint32_t> changes;  // moves on every release; the futex word
  pthread_mutex_t mutex;
};

void SetUpState(void* memory, bool shared) {
  auto* state = static_cast<MutexState*>(memory);  // zeroed bytes
  state->changes.store(0);
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  if (shared) pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutex_init(&state->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  state->magic = kMutexMagic;
}

class MutexObject : public Waitable {
 public:
  // A mutex of this process only.
  MutexObject() : local_(std::make_unique<MutexState>()), state_(local_.get()) { SetUpState(local_.get(), false); }
  // A named one, in its file.
  explicit MutexObject(SharedName name) : name_(std::move(name)), state_(static_cast<MutexState*>(name_.memory)) {}
  ~MutexObject() override {
    if (HeldInThisProcess()) {
      // The owning thread's robust list points into this memory, and the kernel writes there when that
      // thread ends: the memory stays, so the mutex is marked abandoned then and nothing else is hit.
      name_.memory = nullptr;
      (void)local_.release();
    }
    if (local_) pthread_mutex_destroy(&local_->mutex);
    DetachSharedName(name_);
  }

  bool Valid() const { return state_->magic == kMutexMagic; }

  bool HeldInThisProcess() const {
    const int owner = state_->mutex.__data.__owner;  // the owner's thread id (0: free)
    if (owner <= 0) return false;
    char task[64];
    snprintf(task, sizeof task, "/proc/self/task/%d", owner);
    return access(task, F_OK) == 0;
  }

  bool IsSignalled() override { return true; }  // TryAcquire tells
  bool TryAcquire() override {
    int result = pthread_mutex_trylock(&state_->mutex);
    if (result == EOWNERDEAD) {
      pthread_mutex_consistent(&state_->mutex);
      abandoned_ = true;  // only the new owner thread reads it
      return true;
    }
    return result == 0;
  }
  void Unacquire() override { Release(); }
  bool TakeAbandoned() override { return std::exchange(abandoned_, false); }
  // Another process or a thread's end changes it without telling this process.
  bool ChangesElsewhere() const override { return true; }
  uint32_t ChangeStamp() override { return state_->changes.load(); }
  void WaitForChange(uint32_t stamp, std::chrono::milliseconds limit) override {
    auto wait = std::min<std::chrono::milliseconds>(limit, kDeathCheck);
    timespec timeout{0, static_cast<long>(wait.count()) * 1000000};
    int op = local_ ? FUTEX_WAIT_PRIVATE : FUTEX_WAIT;
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_->changes), op, stamp, &timeout, nullptr, 0);
  }

  bool Release() {
    // Asked first rather than left to the unlock's refusal, which checkers take for a fault.
    if (state_->mutex.__data.__owner != static_cast<int>(gettid())) return false;
    if (pthread_mutex_unlock(&state_->mutex) != 0) return false;
    state_->changes.fetch_add(1);
    int op = local_ ? FUTEX_WAKE_PRIVATE : FUTEX_WAKE;
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_->changes), op, INT_MAX, nullptr, nullptr, 0);
    return true;
  }

 private:
  std::unique_ptr<MutexState> local_;
  SharedName name_;
  MutexState* const state_;
  bool abandoned_ = false;
};

ProcessNames<MutexObject>& Mutexes() {
  static auto* mutexes = new ProcessNames<MutexObject>;  // never destroyed: handles may be closed during exit
  return *mutexes;
}

std::shared_ptr<MutexObject> ShareNamed(const std::string& name, bool create, bool& existed, DWORD& error) {
  const fs::path path = SharedNamePath("mutex", name);
  auto& mutexes = Mutexes();
  std::lock_guard guard(mutexes.lock);
  if (auto mutex = mutexes.Find(path)) {
    existed = true;
    return mutex;
  }
  SharedName shared;
  if (!AttachSharedName(path, create, sizeof(MutexState), sizeof(MutexState),
                        [](void* memory) { SetUpState(memory, true); }, shared, error))
    return nullptr;
  existed = !shared.created;
  auto mutex = std::make_shared<MutexObject>(std::move(shared));
  if (!mutex->Valid()) {
    error = ERROR_INVALID_HANDLE;  // the name's file holds no mutex
    return nullptr;
  }
  mutexes.byPath[path] = mutex;
  return mutex;
}

}  // namespace
}  // namespace tavrin::procs

HANDLE CreateMutex(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  using tavrin::procs::MutexObject;
  std::shared_ptr<MutexObject> mutex;
  bool existed = false;
  if (name && *name) {
    DWORD error = ERROR_SUCCESS;
    mutex = tavrin::procs::ShareNamed(name, true, existed, error);
    if (!mutex) {
      SetLastError(error);
      return nullptr;
    }
  } else {
    mutex = std::make_shared<MutexObject>();
  }
  if (initialOwner && !existed) {
    std::lock_guard guard(tavrin::WaitLock());
    mutex->TryAcquire();
    mutex->TakeAbandoned();
  }
  HANDLE handle = tavrin::InsertHandle(std::move(mutex));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenMutex(DWORD, BOOL, LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  DWORD error = ERROR_SUCCESS;
  auto mutex = tavrin::procs::ShareNamed(name, false, existed, error);
  if (!mutex) {
    SetLastError(error);
    return nullptr;
  }
  return tavrin::InsertHandle(std::move(mutex));
}

BOOL ReleaseMutex(HANDLE handle) {
  auto mutex = tavrin::LookupHandleAs<tavrin::procs::MutexObject>(handle);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!mutex->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  tavrin::NotifyWaiters();  // waits of this process that mix it with local objects re-check at once
  return TRUE;
}
