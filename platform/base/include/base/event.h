// Events: waitable flags that are set and reset, either reset by hand (manual) or by the one waiter each
// setting releases (auto-reset).
#pragma once
#include <memory>

#include "base/wait.h"

namespace tavrin::base {

class Event : public Waitable {
 public:
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

// An event of this process.
std::shared_ptr<Event> NewEvent(bool manualReset, bool initialState);

}  // namespace tavrin::base
