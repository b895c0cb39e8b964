// Named events shared by the processes of one sysroot. Each name is a small file in the run directory,
// mapped into every process that holds the event: the signalled flag and a change counter that waiters
// block on with a futex. Every holding process keeps a shared flock on the file, so the object lives
// exactly while some process holds it: a creator that can take the lock exclusively knows nobody does
// (a file left by a process that died is stale then) and sets the object up afresh. The file is held
// as every named object's is (procs/shared_name.h).
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <map>

#include "core_internal.h"
#include "procs/shared_name.h"

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

class NamedEvent : public Event {
 public:
  explicit NamedEvent(const procs::SharedName& name)
      : name_(name), state_(static_cast<SharedEventState*>(name.memory)) {}
  ~NamedEvent() override { procs::DetachSharedName(name_); }

  // Called by the creator only, while it holds the file exclusively.
  static void Initialize(void* memory, bool manualReset, bool initialState) {
    auto* state = static_cast<SharedEventState*>(memory);
    state->manualReset = manualReset ? 1 : 0;
    state->signalled.store(initialState ? 1 : 0);
    state->changes.store(0);
    state->magic = kEventMagic;
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
  bool BlocksUntilChange() const override { return true; }
  void Poke() override { Moved(); }
  void Set() override {
    Signal();
    NotifyWaiters();  // waits of this process that mix it with local objects re-check at once
  }
  void Reset() override { state_->signalled.store(0); }

 private:
  void Signal() {
    state_->signalled.store(1);
    Moved();
  }
  void Moved() {
    state_->changes.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_->changes), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  }

  procs::SharedName name_;
  SharedEventState* const state_;
};

procs::ProcessNames<NamedEvent>& Names() {
  static auto* names = new procs::ProcessNames<NamedEvent>;  // never destroyed: handles may be closed during exit
  return *names;
}

std::shared_ptr<Event> Share(const fs::path& path, bool create, bool manualReset, bool initialState,
                             bool& existed, DWORD& error) {
  std::lock_guard names(Names().lock);
  if (auto event = Names().Find(path)) {
    existed = true;
    return event;
  }
  procs::SharedName name;
  auto setUp = [&](void* memory) { NamedEvent::Initialize(memory, manualReset, initialState); };
  constexpr size_t kSize = sizeof(SharedEventState);
  if (!procs::AttachSharedName(path, create, kSize, kSize, setUp, name, error)) return nullptr;
  auto event = std::make_shared<NamedEvent>(name);
  existed = !name.created;
  if (!event->Valid()) {
    error = ERROR_INVALID_HANDLE;  // the name's file holds no event
    return nullptr;
  }
  Names().byPath[path] = event;
  return event;
}

}  // namespace

std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState,
                                        bool& existed, DWORD& error) {
  return Share(procs::SharedNamePath("event", name), true, manualReset, initialState, existed, error);
}

std::shared_ptr<Event> OpenNamedEvent(const std::string& name, DWORD& error) {
  bool existed = false;
  return Share(procs::SharedNamePath("event", name), false, false, false, existed, error);
}

}  // namespace tavrin::core
