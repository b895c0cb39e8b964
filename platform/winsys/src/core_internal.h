// Internal pieces shared by the files of the threads, waits and events.
#pragma once
#include <memory>
#include <string>

#include "base/event.h"
#include "base/wait.h"
#include "win32/sync.h"
#include "win32/waitable.h"

namespace tavrin::core {

using base::Event;
using base::WaitChanged;

// Named events (named_event.cpp). `existed` tells whether the name was in use already. Null with
// `error` set when the object cannot be made or opened.
std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState,
                                        bool& existed, DWORD& error);
std::shared_ptr<Event> OpenNamedEvent(const std::string& name, DWORD& error);

}  // namespace tavrin::core
