// Per-thread message queues: posted and sent messages, WM_QUIT, WM_PAINT and timers, and the calls that
// read them. All queue state is guarded by WaitLock(), so waits on objects and on input share one wake-up.
#include <algorithm>
#include <deque>
#include <map>
#include <vector>

#include "gui/timers.h"
#include "window_internal.h"

namespace tavrin::core {

using Clock = std::chrono::steady_clock;

struct SentMessage {
  MSG msg{};
  LRESULT result = 0;
  bool done = false;
};

using Timer = gui::TimerSet::Timer;

namespace {
// A timer's window, and its procedure (the action), in the Win32 terms.
HWND TimerWindow(const Timer& timer) { return reinterpret_cast<HWND>(timer.owner); }
uintptr_t Owner(HWND hwnd) { return reinterpret_cast<uintptr_t>(hwnd); }
uintptr_t Action(TIMERPROC proc) { return reinterpret_cast<uintptr_t>(proc); }
}  // namespace

class MessageQueue {
 public:
  explicit MessageQueue(DWORD thread) : threadId(thread) {}

  const DWORD threadId;
  bool alive = true;
  std::deque<MSG> posted;
  // Mouse and keyboard input: read after the posted messages and WM_QUIT, so that a program asked to end
  // ends while input keeps coming.
  std::deque<MSG> input;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quitPosted = false;
  int quitCode = 0;
  gui::TimerSet timers;
  std::vector<HWND> needsPaint;
};

namespace {

std::map<DWORD, std::shared_ptr<MessageQueue>>& Queues() {  // guarded by WaitLock()
  static auto* queues = new std::map<DWORD, std::shared_ptr<MessageQueue>>;  // never destroyed
  return *queues;
}

// Ends the thread's queue when the thread ends.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~QueueHolder() { ReleaseCurrentQueue(); }
};
thread_local QueueHolder t_queue;

std::shared_ptr<MessageQueue> FindQueue(DWORD threadId) {
  auto it = Queues().find(threadId);
  return it == Queues().end() ? nullptr : it->second;
}

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  msg.pt = win::detail::CursorPosition();
  return msg;
}

// The filters of GetMessage and PeekMessage: a null window takes every message of the thread, -1 only
// the thread's own messages, a window itself and its descendants.
struct Filter {
  HWND hwnd;
  UINT min;
  UINT max;

  bool TakesWindow(HWND target) const {
    if (!hwnd) return true;
    if (hwnd == reinterpret_cast<HWND>(-1)) return target == nullptr;
    return target && win::detail::IsSelfOrDescendant(hwnd, target);
  }
  bool TakesMessage(UINT message) const { return (min == 0 && max == 0) || (message >= min && message <= max); }
  bool Takes(HWND target, UINT message) const { return TakesWindow(target) && TakesMessage(message); }
};

DWORD InputKind(UINT message) {
  if (message >= WM_KEYFIRST && message <= WM_KEYLAST) return QS_KEY;
  if (message == WM_MOUSEMOVE || message == WM_NCMOUSEMOVE) return QS_MOUSEMOVE;
  if ((message > WM_MOUSEMOVE && message <= WM_MOUSELAST) || (message >= WM_NCLBUTTONDOWN && message <= 0x00A9))
    return QS_MOUSEBUTTON;
  return QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
}

bool TakeFirst(std::deque<MSG>& messages, const Filter& filter, bool remove, MSG& out) {
  for (auto it = messages.begin(); it != messages.end(); ++it) {
    if (!filter.Takes(it->hwnd, it->message)) continue;
    out = *it;
    if (remove) messages.erase(it);
    return true;
  }
  return false;
}

bool IsKeyboardMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// Input in the order it came. A key goes to the window that has the focus when the thread takes it, as
// real keys do: a click still queued ahead of it may move the focus first.
bool TakeFirstInput(MessageQueue& queue, const Filter& filter, bool remove, MSG& out) {
  for (auto it = queue.input.begin(); it != queue.input.end(); ++it) {
    MSG msg = *it;
    if (IsKeyboardMessage(msg.message)) msg.hwnd = win::detail::KeyboardTarget(queue.threadId, msg.hwnd);
    if (!filter.Takes(msg.hwnd, msg.message)) continue;
    out = msg;
    if (remove) queue.input.erase(it);
    return true;
  }
  return false;
}

// The next message that the filter takes, in the order posted messages, WM_QUIT, input, WM_PAINT, timers.
// Called with WaitLock() held.
bool Retrieve(MessageQueue& queue, const Filter& filter, bool remove, MSG& out) {
  if (TakeFirst(queue.posted, filter, remove, out)) return true;
  if (queue.quitPosted && filter.TakesWindow(nullptr)) {
    out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (TakeFirstInput(queue, filter, remove, out)) return true;
  std::vector<HWND> painting;
  for (HWND hwnd : queue.needsPaint)
    if (filter.Takes(hwnd, WM_PAINT)) painting.push_back(hwnd);
  if (!painting.empty()) {
    out = MakeMessage(win::detail::PickPaint(painting), WM_PAINT, 0, 0);  // stays until the window is validated
    return true;
  }
  Timer timer;
  auto takes = [&](const Timer& t) { return filter.Takes(TimerWindow(t), WM_TIMER); };
  if (!queue.timers.Due(Clock::now(), takes, remove, timer)) return false;  // one WM_TIMER however late
  out = MakeMessage(TimerWindow(timer), WM_TIMER, timer.id, static_cast<LPARAM>(timer.action));
  return true;
}

// Handles the messages sent to this thread by other threads, each without the lock.
void DispatchSent(MessageQueue& queue) {
  std::unique_lock lock(WaitLock());
  while (!queue.sent.empty()) {
    auto sent = queue.sent.front();
    queue.sent.pop_front();
    lock.unlock();
    win::detail::RunCallWndProcHooks(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam, false);
    LRESULT result = win::detail::CallProc(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam);
    lock.lock();
    sent->result = result;
    sent->done = true;
    NotifyWaiters();
  }
}

Clock::time_point NextDue(const MessageQueue& queue, const Filter& filter) {
  return queue.timers.NextDue([&](const Timer& timer) { return filter.Takes(TimerWindow(timer), WM_TIMER); });
}

std::shared_ptr<MessageQueue> QueueOfWindow(HWND hwnd) {
  win::detail::Target target;
  if (!win::detail::FindTarget(hwnd, target)) return nullptr;
  return target.queue;
}

}  // namespace

std::shared_ptr<MessageQueue> CurrentQueue() {
  if (!t_queue.queue) {
    auto queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
    std::lock_guard guard(WaitLock());
    Queues()[queue->threadId] = queue;
    t_queue.queue = std::move(queue);
  }
  return t_queue.queue;
}

void WaitAnsweringSent(const std::function<bool()>& done) {
  const std::shared_ptr<MessageQueue> own = t_queue.queue;  // a thread without a queue has nothing to answer
  std::unique_lock lock(WaitLock());
  while (!done()) {
    if (own && !own->sent.empty()) {
      lock.unlock();
      DispatchSent(*own);
      lock.lock();
      continue;
    }
    WaitChanged().wait(lock);
  }
}

void ReleaseCurrentQueue() {
  auto queue = std::move(t_queue.queue);
  if (!queue) return;
  {
    std::lock_guard guard(WaitLock());
    queue->alive = false;
    for (auto& sent : queue->sent) sent->done = true;  // their senders get 0
    queue->sent.clear();
    Queues().erase(queue->threadId);
    NotifyWaiters();
  }
  win::detail::DropThreadWindows(queue->threadId);
}

bool QueueHasInput(MessageQueue& queue, DWORD wakeMask) {
  if ((wakeMask & QS_SENDMESSAGE) && !queue.sent.empty()) return true;
  for (auto& msg : queue.posted)
    if (wakeMask & InputKind(msg.message)) return true;
  for (auto& msg : queue.input)
    if (wakeMask & InputKind(msg.message)) return true;
  if ((wakeMask & QS_POSTMESSAGE) && queue.quitPosted) return true;
  if ((wakeMask & QS_PAINT) && !queue.needsPaint.empty()) return true;
  return (wakeMask & QS_TIMER) && queue.timers.AnyDue(Clock::now());
}

Clock::time_point NextTimerDue(MessageQueue& queue) { return NextDue(queue, Filter{nullptr, 0, 0}); }

bool PostToQueue(const std::shared_ptr<MessageQueue>& queue, const MSG& msg, bool input) {
  std::lock_guard guard(WaitLock());
  if (!queue->alive) return false;
  (input ? queue->input : queue->posted).push_back(msg);
  NotifyWaiters();
  return true;
}

void PostFirstToOwnQueue(const MSG& msg) {
  auto queue = CurrentQueue();
  std::lock_guard guard(WaitLock());
  queue->posted.push_front(msg);
  NotifyWaiters();
}

void ForgetWindow(const std::shared_ptr<MessageQueue>& queue, HWND hwnd) {
  std::lock_guard guard(WaitLock());
  queue->timers.KillOwner(Owner(hwnd));
  std::erase(queue->needsPaint, hwnd);
}

void SetNeedsPaint(const std::shared_ptr<MessageQueue>& queue, HWND hwnd, bool needsPaint) {
  std::lock_guard guard(WaitLock());
  bool listed = std::find(queue->needsPaint.begin(), queue->needsPaint.end(), hwnd) != queue->needsPaint.end();
  if (needsPaint && !listed) {
    queue->needsPaint.push_back(hwnd);
    NotifyWaiters();
  } else if (!needsPaint && listed) {
    std::erase(queue->needsPaint, hwnd);
  }
}

}  // namespace tavrin::core

using tavrin::core::Clock;
using tavrin::core::MessageQueue;

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard guard(tavrin::WaitLock());
    queue = tavrin::core::FindQueue(threadId);
  }
  if (!queue || !tavrin::core::PostToQueue(queue, tavrin::core::MakeMessage(nullptr, message, wParam, lParam))) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return PostThreadMessage(GetCurrentThreadId(), message, wParam, lParam);
  // Another process's window: its process posts the message for us (plain values only, as on Windows
  // where pointers in a posted message mean nothing to the receiver).
  if (tavrin::win::detail::IsForeign(hwnd)) {
    if (tavrin::win::detail::ForeignPost(hwnd, message, wParam, lParam)) return TRUE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto queue = tavrin::core::QueueOfWindow(hwnd);
  if (!queue || !tavrin::core::PostToQueue(queue, tavrin::core::MakeMessage(hwnd, message, wParam, lParam))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

namespace tavrin::win::detail {

void PostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (auto queue = tavrin::core::QueueOfWindow(hwnd))
    tavrin::core::PostToQueue(queue, tavrin::core::MakeMessage(hwnd, message, wParam, lParam), true);
}

}  // namespace tavrin::win::detail

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  tavrin::win::detail::Target target;
  if (!tavrin::win::detail::FindTarget(hwnd, target)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (target.threadId == GetCurrentThreadId()) return tavrin::win::detail::SendNow(hwnd, message, wParam, lParam);

  auto sent = std::make_shared<tavrin::core::SentMessage>();
  sent->msg = tavrin::core::MakeMessage(hwnd, message, wParam, lParam);
  tavrin::core::CurrentQueue();  // the other thread may be sending to us meanwhile: we answer while we wait
  {
    std::lock_guard lock(tavrin::WaitLock());
    if (!target.queue->alive) return 0;
    target.queue->sent.push_back(sent);
  }
  tavrin::NotifyWaiters();
  tavrin::core::WaitAnsweringSent([&] { return sent->done; });
  return sent->result;
}

namespace tavrin::core {
namespace {
bool IsMouseMessage(UINT message) {
  return (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || (message >= WM_NCMOUSEMOVE && message <= WM_NCMBUTTONUP);
}
// A message taken from the queue: remembered for GetMessagePos; a mouse message goes past the WH_MOUSE
// hooks first, which may drop it (false).
bool Taken(const MSG& msg) {
  win::detail::NoteRetrieved(msg);
  if (!IsMouseMessage(msg.message)) return true;
  if (win::detail::HasMouseHooks() && win::detail::RunMouseHooks(msg)) return false;
  win::detail::SendSetCursor(msg);
  return true;
}
}  // namespace
}  // namespace tavrin::core

BOOL PeekMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  auto queue = tavrin::core::CurrentQueue();
  for (;;) {
    tavrin::core::DispatchSent(*queue);
    MSG found{};
    {
      std::lock_guard guard(tavrin::WaitLock());
      if (!tavrin::core::Retrieve(*queue, {hwnd, filterMin, filterMax}, removeFlags & PM_REMOVE, found)) return FALSE;
    }
    if ((removeFlags & PM_REMOVE) && !tavrin::core::Taken(found)) continue;
    if (msg) *msg = found;
    return TRUE;
  }
}

BOOL GetMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg || (hwnd && hwnd != reinterpret_cast<HWND>(-1) && !IsWindow(hwnd))) {
    SetLastError(msg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return -1;
  }
  auto queue = tavrin::core::CurrentQueue();
  const tavrin::core::Filter filter{hwnd, filterMin, filterMax};
  for (;;) {
    tavrin::core::DispatchSent(*queue);
    std::unique_lock lock(tavrin::WaitLock());
    if (!queue->sent.empty()) continue;
    if (tavrin::core::Retrieve(*queue, filter, true, *msg)) {
      lock.unlock();
      if (!tavrin::core::Taken(*msg)) continue;
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    auto due = tavrin::core::NextDue(*queue, filter);
    if (due == Clock::time_point::max())
      tavrin::core::WaitChanged().wait(lock);
    else
      tavrin::core::WaitChanged().wait_until(lock, due);
  }
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only the procedure of one of our own timers is called: a posted WM_TIMER could carry any address.
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    auto queue = tavrin::core::CurrentQueue();
    bool registered;
    {
      std::lock_guard guard(tavrin::WaitLock());
      registered = queue->timers.HasAction(tavrin::core::Owner(msg->hwnd), msg->wParam, tavrin::core::Action(proc));
    }
    if (registered) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  return tavrin::win::detail::CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
  auto queue = tavrin::core::CurrentQueue();
  std::lock_guard guard(tavrin::WaitLock());
  queue->quitPosted = true;
  queue->quitCode = exitCode;
  tavrin::NotifyWaiters();
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  std::shared_ptr<MessageQueue> queue = hwnd ? tavrin::core::QueueOfWindow(hwnd) : tavrin::core::CurrentQueue();
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  constexpr UINT kMinimumElapse = 10;
  const auto interval = std::chrono::milliseconds(std::max(elapse, kMinimumElapse));
  std::lock_guard guard(tavrin::WaitLock());
  auto& timers = queue->timers;
  // A thread timer: an existing id is reset, otherwise the id is ours to choose.
  if (!hwnd && (id == 0 || !timers.Has(0, id))) id = timers.NewId(0);
  timers.Set(tavrin::core::Owner(hwnd), id, interval, tavrin::core::Action(timerProc), Clock::now());
  tavrin::NotifyWaiters();
  return hwnd && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<MessageQueue> queue = hwnd ? tavrin::core::QueueOfWindow(hwnd) : tavrin::core::CurrentQueue();
  if (queue) {
    std::lock_guard guard(tavrin::WaitLock());
    if (queue->timers.Kill(tavrin::core::Owner(hwnd), id)) return TRUE;
  }
  SetLastError(hwnd && !queue ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
  return FALSE;
}

namespace {

// The calling thread's message queue as something a wait watches.
class QueueInput : public tavrin::base::WaitCondition {
 public:
  QueueInput(tavrin::core::MessageQueue& queue, DWORD wakeMask) : queue_(queue), wakeMask_(wakeMask) {}
  bool Met() override { return tavrin::core::QueueHasInput(queue_, wakeMask_); }
  std::chrono::steady_clock::time_point NextCheck() override { return tavrin::core::NextTimerDue(queue_); }

 private:
  tavrin::core::MessageQueue& queue_;
  DWORD wakeMask_;
};

}  // namespace

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask) {
  auto queue = tavrin::core::CurrentQueue();
  QueueInput input(*queue, wakeMask);
  return tavrin::core::WaitForObjects(count, handles, waitAll, milliseconds, &input);
}

