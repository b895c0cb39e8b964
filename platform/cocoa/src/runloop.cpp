// Run loops, delayed and main-thread messages, threads, notifications.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <thread>
#include <utility>

#include "cocoa/Foundation.h"
#include "internal.h"

namespace {

std::atomic<pid_t> g_mainThread{0};  // 0: the process's first thread

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool OnMainThread() {
  pid_t main = g_mainThread.load();
  return ThreadId() == (main ? main : getpid());
}

struct Detached {
  std::mutex mutex;
  std::vector<std::thread> threads;
};
Detached& DetachedThreads() {
  static Detached* d = new Detached;  // outlives every static destructor
  return *d;
}

// The run loop of a thread other than the main one, released when the thread ends.
struct ThreadLoop {
  NSRunLoop* loop = nullptr;
  ~ThreadLoop() {
    if (loop) loop->release();
  }
};
thread_local ThreadLoop t_loop;

}  // namespace

namespace cocoa {

void JoinDetachedThreads() {
  for (;;) {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(DetachedThreads().mutex);
      threads.swap(DetachedThreads().threads);
    }
    if (threads.empty()) return;
    for (auto& t : threads) t.join();
  }
}

}  // namespace cocoa

// ---- NSRunLoop

struct NSRunLoop::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::multimap<double, std::function<void()>> queue;  // by due time, then order of arrival
  bool stopped = false;
};

NSRunLoop::Impl* NSRunLoop::impl() {
  Impl* i = impl_.load();
  if (i) return i;
  auto* fresh = new Impl;
  if (impl_.compare_exchange_strong(i, fresh)) return fresh;
  delete fresh;
  return i;
}

NSRunLoop* NSRunLoop::mainRunLoop() {
  static NSRunLoop* main = alloc<NSRunLoop>();  // lives for the process
  return main;
}

NSRunLoop* NSRunLoop::currentRunLoop() {
  if (OnMainThread()) return mainRunLoop();
  if (!t_loop.loop) t_loop.loop = alloc<NSRunLoop>();
  return t_loop.loop;
}

void NSRunLoop::Enqueue(std::function<void()> call, NSTimeInterval delay) {
  Impl* i = impl();
  {
    std::lock_guard lock(i->mutex);
    i->queue.emplace(cocoa::Now() + (delay > 0 ? delay : 0), std::move(call));
  }
  i->wake.notify_all();
}

BOOL NSRunLoop::runMode_beforeDate(NSString*, NSDate* limit) {
  Impl* i = impl();
  const double until = limit ? limit->timeIntervalSince1970() : cocoa::Now();
  std::function<void()> call;
  {
    std::unique_lock lock(i->mutex);
    for (;;) {
      if (i->stopped) return NO;
      double now = cocoa::Now();
      if (!i->queue.empty() && i->queue.begin()->first <= now) {
        call = std::move(i->queue.begin()->second);
        i->queue.erase(i->queue.begin());
        break;
      }
      if (now >= until) return NO;
      double next = until;
      if (!i->queue.empty() && i->queue.begin()->first < next) next = i->queue.begin()->first;
      i->wake.wait_for(lock, std::chrono::duration<double>(next - now));
    }
  }
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  call();
  pool->drain();
  return YES;
}

void NSRunLoop::runUntilDate(NSDate* limit) {
  const double until = limit ? limit->timeIntervalSince1970() : cocoa::Now();
  Impl* i = impl();
  for (;;) {
    {
      std::lock_guard lock(i->mutex);
      if (i->stopped) {
        i->stopped = false;
        return;
      }
    }
    if (cocoa::Now() >= until) return;
    runMode_beforeDate(nullptr, limit);
  }
}

void NSRunLoop::run() {
  NSDate* never = alloc<NSDate>()->initWithTimeIntervalSinceNow(1e9);
  runUntilDate(never);
  never->release();
}

void NSRunLoop::stop() {
  Impl* i = impl();
  {
    std::lock_guard lock(i->mutex);
    i->stopped = true;
  }
  i->wake.notify_all();
}

// ---- messages sent later

void NSObject::ScheduleLater(std::function<void()> call, NSObject* argument, NSTimeInterval delay, bool main) {
  retain();
  if (argument) argument->retain();
  NSRunLoop* loop = main ? NSRunLoop::mainRunLoop() : NSRunLoop::currentRunLoop();
  loop->Enqueue(
      [this, call = std::move(call), argument] {
        call();
        if (argument) argument->release();
        release();
      },
      delay);
}

void NSObject::RunOnMain(std::function<void()> call, NSObject* argument, BOOL wait) {
  if (wait && OnMainThread()) {
    call();
    return;
  }
  if (!wait) {
    ScheduleLater(std::move(call), argument, 0, true);
    return;
  }
  retain();
  if (argument) argument->retain();
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  NSRunLoop::mainRunLoop()->Enqueue(
      [&done, &call] {
        call();
        done.set_value();
      },
      0);
  finished.wait();
  if (argument) argument->release();
  release();
}

// ---- NSTimer

NSTimer* NSTimer::Schedule(NSTimeInterval interval, NSObject* target, std::function<void(NSTimer*)> call,
                           id userInfo, BOOL repeats) {
  NSTimer* timer = alloc<NSTimer>();
  timer->call_ = std::move(call);
  timer->target_ = target ? target->retain() : nullptr;
  timer->userInfo_ = userInfo ? userInfo->retain() : nullptr;
  timer->interval_ = interval > 0 ? interval : 0.0001;
  timer->repeats_ = repeats;
  timer->valid_ = true;
  NSRunLoop* loop = NSRunLoop::currentRunLoop();
  timer->retain();  // the run loop's reference
  loop->Enqueue([timer, loop] { timer->Fire(loop); }, timer->interval_);
  return static_cast<NSTimer*>(timer->autorelease());
}

void NSTimer::Fire(NSRunLoop* loop) {
  if (valid_) {
    NSObject* target = target_ ? target_->retain() : nullptr;  // a callback may invalidate the timer
    call_(this);
    if (target) target->release();
    if (repeats_ && valid_) {
      loop->Enqueue([this, loop] { Fire(loop); }, interval_);
      return;
    }
    invalidate();
  }
  release();  // the run loop lets it go
}

void NSTimer::invalidate() {
  if (!valid_.exchange(false)) return;
  NSObject* target = target_;
  NSObject* info = userInfo_;
  target_ = nullptr;
  userInfo_ = nullptr;
  if (target) target->release();
  if (info) info->release();
}

void NSTimer::dealloc() {
  invalidate();
  NSObject::dealloc();
}

// ---- NSThread

void NSThread::Detach(std::function<void()> body, NSObject* target, NSObject* argument) {
  target->retain();
  if (argument) argument->retain();
  std::lock_guard lock(DetachedThreads().mutex);
  DetachedThreads().threads.emplace_back([body = std::move(body), target, argument] {
    body();
    if (argument) argument->release();
    target->release();
  });
}

BOOL NSThread::isMainThread_class() { return OnMainThread() ? YES : NO; }

void NSThread::setMainThread_class() { g_mainThread.store(ThreadId()); }

void NSThread::sleepForTimeInterval(NSTimeInterval seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void NSThread::sleepUntilDate(NSDate* date) {
  if (date) sleepForTimeInterval(date->timeIntervalSinceNow());
}

// ---- notifications

NSString* const NSWindowWillCloseNotification =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSWindowWillCloseNotification"));

NSNotification* NSNotification::initWithName_object(NSString* name, id object) {
  if (name) name->retain();
  if (object) object->retain();
  name_ = name;
  object_ = object;
  return this;
}

NSNotification* NSNotification::notificationWithName_object(NSString* name, id object) {
  return static_cast<NSNotification*>(alloc<NSNotification>()->initWithName_object(name, object)->autorelease());
}

void NSNotification::dealloc() {
  if (name_) name_->release();
  if (object_) object_->release();
  NSObject::dealloc();
}

NSNotificationCenter* NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter* center = alloc<NSNotificationCenter>();
  return center;
}

void NSNotificationCenter::Add(id observer, std::function<void(NSNotification*)> call, NSString* name, id object) {
  std::lock_guard lock(mutex_);
  observers_.push_back({observer, std::move(call), name ? name->str() : std::string(), name == nullptr, object});
}

void NSNotificationCenter::removeObserver(id observer) { removeObserver_name_object(observer, nullptr, nullptr); }

void NSNotificationCenter::removeObserver_name_object(id observer, NSString* name, id object) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [&](const Observer& o) {
    return o.observer == observer && (!name || (!o.anyName && o.name == name->str())) &&
           (!object || o.object == object);
  });
}

void NSNotificationCenter::postNotification(NSNotification* notification) {
  std::vector<std::function<void(NSNotification*)>> calls;
  {
    std::lock_guard lock(mutex_);
    for (const Observer& o : observers_) {
      bool nameMatches = o.anyName || (notification->name() && o.name == notification->name()->str());
      bool objectMatches = !o.object || o.object == notification->object();
      if (nameMatches && objectMatches) calls.push_back(o.call);
    }
  }
  for (auto& call : calls) call(notification);
}

void NSNotificationCenter::postNotificationName_object(NSString* name, id object) {
  NSNotification* n = alloc<NSNotification>()->initWithName_object(name, object);
  postNotification(n);
  n->release();
}
