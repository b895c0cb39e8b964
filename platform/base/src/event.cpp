#include "base/event.h"

namespace tavrin::base {
namespace {

class LocalEvent : public Event {
 public:
  LocalEvent(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

  bool IsSignalled() override { return signalled_; }
  bool TryAcquire() override {
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
  }
  void Unacquire() override { signalled_ = true; }
  void Set() override {
    std::lock_guard guard(WaitLock());
    signalled_ = true;
    NotifyWaiters();
  }
  void Reset() override {
    std::lock_guard guard(WaitLock());
    signalled_ = false;
  }

 private:
  const bool manualReset_;
  bool signalled_;  // guarded by WaitLock()
};

}  // namespace

std::shared_ptr<Event> NewEvent(bool manualReset, bool initialState) {
  return std::make_shared<LocalEvent>(manualReset, initialState);
}

}  // namespace tavrin::base
