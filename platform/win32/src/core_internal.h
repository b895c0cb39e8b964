// Internal pieces shared by the files of the threads, waits, events and message queues.
#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
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

// The waits of sync.cpp, shared with MsgWaitForMultipleObjects: with `withQueue`, input of the calling
// thread's message queue that matches `wakeMask` also ends the wait (WAIT_OBJECT_0 + count).
DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, bool withQueue,
                     DWORD wakeMask);

// Message queue side of the waits (message_queue.cpp); called with WaitLock() held.
class MessageQueue;
std::shared_ptr<MessageQueue> CurrentQueue();
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
