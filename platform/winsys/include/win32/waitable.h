// Waitable kernel objects: what WaitForSingleObject and its relatives wait on (events, threads, and any
// object another layer plugs in). They are the base layer's waitables (base/wait.h): local objects change
// state under the process's wait lock and wake the waiters through NotifyWaiters; objects whose state
// other processes change say so, and a wait that includes one of them also re-checks it every millisecond.
#pragma once
#include "base/wait.h"
#include "win32/handle.h"

namespace tavrin {

using base::NotifyWaiters;
using base::Waitable;
using base::WaitLock;

}  // namespace tavrin
