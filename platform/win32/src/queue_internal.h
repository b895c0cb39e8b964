// The message queues as the waits and threads of the system layer see them (message_queue.cpp).
#pragma once
#include <chrono>
#include <functional>
#include <memory>

#include "base/event.h"
#include "base/wait.h"
#include "win32/system_hooks.h"
#include "win32/types.h"
#include "win32/waitable.h"

namespace tavrin::core {

using base::WaitChanged;

class MessageQueue;
// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> CurrentQueue();
// Called with WaitLock() held: whether input of `wakeMask` waits.
bool QueueHasInput(MessageQueue& queue, DWORD wakeMask);
// When the queue's next timer falls due (time_point::max() when it has none).
std::chrono::steady_clock::time_point NextTimerDue(MessageQueue& queue);
// Ends the calling thread's queue and destroys its windows, as the end of a thread does.
void ReleaseCurrentQueue();
// Waits until `done` (asked with WaitLock() held) holds, answering meanwhile the messages that other
// threads send to the calling thread, as a thread blocked in SendMessage does: the thread waited for may
// itself be waiting for an answer of ours.
void WaitAnsweringSent(const std::function<bool()>& done);

}  // namespace tavrin::core
