#include "gui/timers.h"

#include <algorithm>

namespace tavrin::gui {

void TimerSet::Set(uintptr_t owner, uintptr_t id, std::chrono::milliseconds interval, uintptr_t action,
                   Clock::time_point now) {
  Timer timer{owner, id, interval, now + interval, action};
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.owner == owner && t.id == id; });
  if (it != timers_.end())
    *it = timer;
  else
    timers_.push_back(timer);
}

bool TimerSet::Kill(uintptr_t owner, uintptr_t id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.owner == owner && t.id == id; }) > 0;
}

void TimerSet::KillOwner(uintptr_t owner) {
  std::erase_if(timers_, [&](const Timer& t) { return t.owner == owner; });
}

bool TimerSet::Has(uintptr_t owner, uintptr_t id) const {
  return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.owner == owner && t.id == id; });
}

bool TimerSet::HasAction(uintptr_t owner, uintptr_t id, uintptr_t action) const {
  return std::any_of(timers_.begin(), timers_.end(),
                     [&](const Timer& t) { return t.owner == owner && t.id == id && t.action == action; });
}

uintptr_t TimerSet::NewId(uintptr_t owner) {
  uintptr_t id;
  do id = nextId_++;
  while (id == 0 || Has(owner, id));
  return id;
}

bool TimerSet::Due(Clock::time_point now, const Filter& filter, bool take, Timer& timer) {
  Timer* next = nullptr;
  for (auto& t : timers_)
    if (t.due <= now && filter(t) && (!next || t.due < next->due)) next = &t;
  if (!next) return false;
  timer = *next;
  if (take) next->due = now + next->interval;  // no catching up: taken once however late
  return true;
}

bool TimerSet::AnyDue(Clock::time_point now) const {
  return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.due <= now; });
}

TimerSet::Clock::time_point TimerSet::NextDue(const Filter& filter) const {
  auto next = Clock::time_point::max();
  for (auto& t : timers_)
    if (filter(t)) next = std::min(next, t.due);
  return next;
}

}  // namespace tavrin::gui
