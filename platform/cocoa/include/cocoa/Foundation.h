// The Foundation classes the Mac side calls, as C++ classes under their own names.
//
// Selectors become C++ names by one rule: the keywords of a selector joined by "_", empty keywords left
// out (`outlineView:child:ofItem:` -> `outlineView_child_ofItem`, `FindEntryIndex::::` ->
// `FindEntryIndex`). Where a class has a class and an instance form of one selector, the class form
// takes the suffix "_class" (`isMainThread_class`). `[[Node alloc] init]` is `alloc<Node>()->init()`.
//
// Reference counting is real: an object starts with a retain count of 1, `release` at 1 calls `dealloc`
// (which subclasses override to release what they hold, ending with `NSObject::dealloc()`), and
// `autorelease` hands one release to the innermost NSAutoreleasePool of the calling thread.
// `cocoa::LiveObjectCount()` counts the objects that exist, so that tests see ownership faults.
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class NSObject;
class NSString;
class NSArray;
class NSMutableArray;
class NSDate;
class NSCharacterSet;
class NSMutableString;

using id = NSObject*;
using BOOL = signed char;
inline constexpr BOOL YES = 1;
inline constexpr BOOL NO = 0;
using NSInteger = long;
using NSUInteger = unsigned long;
using NSTimeInterval = double;
inline constexpr NSUInteger NSNotFound = static_cast<NSUInteger>(-1);

struct NSRange {
  NSUInteger location = 0;
  NSUInteger length = 0;
};
inline NSRange NSMakeRange(NSUInteger location, NSUInteger length) { return {location, length}; }

// What Cocoa raises for a broken contract (an index out of range, a null object put in a collection).
class NSException : public std::runtime_error {
 public:
  NSException(std::string name, const std::string& reason)
      : std::runtime_error(name + ": " + reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

namespace cocoa {
// Objects alive in the process (singletons and constant strings included: compare before and after).
long LiveObjectCount();
// Joins every thread started by NSThread that has ended or ends now; call before what they use goes.
void JoinDetachedThreads();
}  // namespace cocoa

class NSObject {
 public:
  NSObject();
  NSObject(const NSObject&) = delete;
  NSObject& operator=(const NSObject&) = delete;

  NSObject* init() { return this; }
  NSObject* retain();
  void release();
  NSObject* autorelease();
  unsigned long retainCount() const { return retainCount_.load(); }

  virtual NSString* description();  // autoreleased
  virtual bool isEqual(NSObject* other) { return other == this; }
  virtual const char* className() const { return "NSObject"; }

  // A message sent later from the current thread's run loop (target and argument retained until then).
  template <class T, class A>
  void performSelector_withObject_afterDelay(void (T::*selector)(A*), A* argument, NSTimeInterval delay) {
    T* self = static_cast<T*>(this);
    ScheduleLater([self, selector, argument] { (self->*selector)(argument); }, argument, delay, false);
  }
  template <class T>
  void performSelector_withObject_afterDelay(void (T::*selector)(), std::nullptr_t, NSTimeInterval delay) {
    T* self = static_cast<T*>(this);
    ScheduleLater([self, selector] { (self->*selector)(); }, nullptr, delay, false);
  }
  // A message sent on the main thread's run loop; with wait, the call returns once it ran (at once when
  // the caller is the main thread).
  template <class T, class A>
  void performSelectorOnMainThread_withObject_waitUntilDone(void (T::*selector)(A*), A* argument, BOOL wait) {
    T* self = static_cast<T*>(this);
    RunOnMain([self, selector, argument] { (self->*selector)(argument); }, argument, wait);
  }
  template <class T>
  void performSelectorOnMainThread_withObject_waitUntilDone(void (T::*selector)(), std::nullptr_t, BOOL wait) {
    T* self = static_cast<T*>(this);
    RunOnMain([self, selector] { (self->*selector)(); }, nullptr, wait);
  }

 protected:
  virtual ~NSObject();
  // Frees the object; overrides release what they hold, then call NSObject::dealloc().
  virtual void dealloc();

 private:
  void ScheduleLater(std::function<void()> call, NSObject* argument, NSTimeInterval delay, bool main);
  void RunOnMain(std::function<void()> call, NSObject* argument, BOOL wait);

  std::atomic<unsigned long> retainCount_{1};
};

// [[T alloc] init] is alloc<T>()->init().
template <class T>
T* alloc() {
  return new T();
}

class NSAutoreleasePool : public NSObject {
 public:
  NSAutoreleasePool* init();
  // Releases every object added since the pool was made (objects of inner pools included) and the pool.
  void drain();
  // Adds one pending release to the innermost pool of the calling thread (a leak with a warning when the
  // thread has none).
  static void addObject_class(NSObject* object);
  const char* className() const override { return "NSAutoreleasePool"; }

 protected:
  void dealloc() override;

 private:
  void Pop();
  std::vector<NSObject*> objects_;
  NSAutoreleasePool* outer_ = nullptr;
  bool pushed_ = false;
  friend class NSObject;
};

// Text, held as UTF-8.
class NSString : public NSObject {
 public:
  NSString* init() { return this; }
  NSString* initWithUTF8String(const char* text);
  NSString* initWithCString(const char* text) { return initWithUTF8String(text); }
  NSString* initWithBytes_length(const void* bytes, NSUInteger length);
  NSString* initWithFormat(const char* format, ...);
  NSString* initWithString(NSString* other);

  static NSString* string();  // autoreleased, as are the other class constructors
  static NSString* stringWithUTF8String(const char* text);
  static NSString* stringWithCString(const char* text) { return stringWithUTF8String(text); }
  static NSString* stringWithString(NSString* other);
  // printf directives, plus %@ for an object (its description; "(null)" for none).
  static NSString* stringWithFormat(const char* format, ...);
  static NSString* stringWithStd(std::string text);  // our helper: from a C++ string

  NSUInteger length() const { return text_.size(); }
  const char* UTF8String() const { return text_.c_str(); }
  const char* cString() const { return text_.c_str(); }
  const std::string& str() const { return text_; }  // our helper
  // Copies at most maxLength - 1 bytes and a terminator; NO when the text did not fit (Cocoa's reading).
  BOOL getCString_maxLength(char* buffer, NSUInteger maxLength) const;
  BOOL isEqualToString(NSString* other) const { return other && other->text_ == text_; }
  int intValue() const;
  NSString* stringByAppendingString(NSString* other) const;
  BOOL hasPrefix(NSString* prefix) const;
  // Without the set's characters at either end (autoreleased).
  NSString* stringByTrimmingCharactersInSet(NSCharacterSet* set) const;
  // The first occurrence, by bytes; {NSNotFound, 0} when there is none (or the other is empty).
  NSRange rangeOfString(NSString* other) const;
  // NSException past the end (autoreleased).
  NSString* substringToIndex(NSUInteger index) const;
  NSString* substringFromIndex(NSUInteger index) const;
  NSString* substringWithRange(NSRange range) const;
  // The pieces between the separators, empty ones kept (autoreleased strings in an autoreleased array).
  NSArray* componentsSeparatedByString(NSString* separator) const;
  NSString* lastPathComponent() const;  // after the last "/" (a trailing one ignored)
  NSString* stringByAppendingFormat(const char* format, ...) const;
  // Writes the UTF-8 bytes to the Mac path (through a temporary file when atomically); NO on failure.
  BOOL writeToFile_atomically(NSString* path, BOOL atomically) const;
  NSMutableString* mutableCopy() const;  // retained

  NSString* description() override { return this; }
  bool isEqual(NSObject* other) override;
  const char* className() const override { return "NSString"; }

 protected:
  std::string text_;
};

class NSMutableString : public NSString {
 public:
  static NSMutableString* string();  // autoreleased
  static NSMutableString* stringWithCapacity(NSUInteger capacity);
  static NSMutableString* stringWithString(NSString* other);
  NSMutableString* init() { return this; }
  NSMutableString* initWithCapacity(NSUInteger capacity);
  void appendString(NSString* other);  // nothing for null
  void appendFormat(const char* format, ...);
  void setString(NSString* other);
  void deleteCharactersInRange(NSRange range);  // NSException past the end
  void insertString_atIndex(NSString* other, NSUInteger index);
  const char* className() const override { return "NSMutableString"; }
};

class NSCharacterSet : public NSObject {
 public:
  static NSCharacterSet* whitespaceCharacterSet();            // blank and tab
  static NSCharacterSet* whitespaceAndNewlineCharacterSet();  // those and line ends
  bool characterIsMember(char c) const;
  const char* className() const override { return "NSCharacterSet"; }

 private:
  std::string members_;
};

// A number or a boolean (booleans stay booleans through the preferences).
class NSNumber : public NSObject {
 public:
  static NSNumber* numberWithInt(int value);
  static NSNumber* numberWithUnsignedInt(unsigned value);
  static NSNumber* numberWithLongLong(long long value);
  static NSNumber* numberWithDouble(double value);
  static NSNumber* numberWithBool(BOOL value);
  NSNumber* initWithInt(int value);
  NSNumber* initWithLongLong(long long value);
  NSNumber* initWithDouble(double value);
  NSNumber* initWithBool(BOOL value);

  int intValue() const { return static_cast<int>(kind_ == Kind::kReal ? static_cast<long long>(real_) : integer_); }
  long long longLongValue() const { return kind_ == Kind::kReal ? static_cast<long long>(real_) : integer_; }
  double doubleValue() const { return kind_ == Kind::kReal ? real_ : static_cast<double>(integer_); }
  BOOL boolValue() const { return kind_ == Kind::kReal ? real_ != 0 : integer_ != 0; }
  bool isBoolean() const { return kind_ == Kind::kBool; }  // our helper
  bool isReal() const { return kind_ == Kind::kReal; }     // our helper
  BOOL isEqualToNumber(NSNumber* other) const;

  NSString* description() override;
  bool isEqual(NSObject* other) override;
  const char* className() const override { return "NSNumber"; }

 private:
  enum class Kind { kInteger, kReal, kBool };
  Kind kind_ = Kind::kInteger;
  long long integer_ = 0;
  double real_ = 0;
};

class NSData : public NSObject {
 public:
  static NSData* dataWithBytes_length(const void* bytes, NSUInteger length);
  NSData* initWithBytes_length(const void* bytes, NSUInteger length);
  const void* bytes() const { return bytes_.data(); }
  NSUInteger length() const { return bytes_.size(); }
  BOOL isEqualToData(NSData* other) const { return other && other->bytes_ == bytes_; }
  bool isEqual(NSObject* other) override;
  const char* className() const override { return "NSData"; }

 private:
  std::vector<unsigned char> bytes_;
};

class NSDate : public NSObject {
 public:
  static NSDate* date();  // now
  static NSDate* dateWithTimeIntervalSinceNow(NSTimeInterval seconds);
  static NSDate* distantFuture();
  NSDate* init();  // now
  NSDate* initWithTimeIntervalSinceNow(NSTimeInterval seconds);
  NSTimeInterval timeIntervalSince1970() const { return seconds_; }
  NSTimeInterval timeIntervalSinceNow() const;
  // The standard text form: "2026-12-09 01:27:24 +0000" (UTC).
  NSString* description() override;
  bool isEqual(NSObject* other) override;
  const char* className() const override { return "NSDate"; }

 private:
  NSTimeInterval seconds_ = 0;
};

// Objects in order; the array retains what it holds.
class NSArray : public NSObject {
 public:
  static NSArray* array();
  static NSArray* arrayWithArray(NSArray* other);
  NSArray* init() { return this; }
  NSArray* initWithArray(NSArray* other);

  NSUInteger count() const { return objects_.size(); }
  id objectAtIndex(NSUInteger index) const;  // NSException when out of range
  id lastObject() const { return objects_.empty() ? nullptr : objects_.back(); }
  NSUInteger indexOfObject(id object) const;  // by isEqual; NSNotFound when absent
  NSUInteger indexOfObjectIdenticalTo(id object) const;
  BOOL containsObject(id object) const { return indexOfObject(object) != NSNotFound; }
  NSMutableArray* mutableCopy() const;  // retained (the caller releases it)
  NSArray* copy() const;                // retained

  bool isEqual(NSObject* other) override;
  NSString* description() override;
  const char* className() const override { return "NSArray"; }

 protected:
  void dealloc() override;
  void Check(NSUInteger index, NSUInteger limit) const;
  std::vector<id> objects_;
};

class NSMutableArray : public NSArray {
 public:
  static NSMutableArray* array();
  static NSMutableArray* arrayWithCapacity(NSUInteger capacity);
  static NSMutableArray* arrayWithArray(NSArray* other);
  NSMutableArray* init() { return this; }
  NSMutableArray* initWithCapacity(NSUInteger capacity);
  NSMutableArray* initWithArray(NSArray* other);

  void addObject(id object);  // NSException for null
  void insertObject_atIndex(id object, NSUInteger index);
  void removeObjectAtIndex(NSUInteger index);
  void replaceObjectAtIndex_withObject(NSUInteger index, id object);
  void removeLastObject();
  void removeObject(id object);  // every object equal to it
  void removeAllObjects();
  void addObjectsFromArray(NSArray* other);
  const char* className() const override { return "NSMutableArray"; }
};

class NSMutableDictionary;

// Keys (compared by isEqual, normally strings) to objects; keys and values are retained, insertion
// order is kept.
class NSDictionary : public NSObject {
 public:
  static NSDictionary* dictionary();
  NSDictionary* init() { return this; }
  NSUInteger count() const { return entries_.size(); }
  id objectForKey(id key) const;
  NSArray* allKeys() const;  // autoreleased
  NSMutableDictionary* mutableCopy() const;  // retained
  bool isEqual(NSObject* other) override;
  NSString* description() override;
  const char* className() const override { return "NSDictionary"; }

  // Our helper: the entries in order.
  const std::vector<std::pair<id, id>>& entries() const { return entries_; }

 protected:
  void dealloc() override;
  std::vector<std::pair<id, id>> entries_;
};

class NSMutableDictionary : public NSDictionary {
 public:
  static NSMutableDictionary* dictionary();
  static NSMutableDictionary* dictionaryWithDictionary(NSDictionary* other);
  NSMutableDictionary* init() { return this; }
  void setObject_forKey(id object, id key);  // NSException for a null object or key
  void removeObjectForKey(id key);
  void removeAllObjects();
  void addEntriesFromDictionary(NSDictionary* other);
  const char* className() const override { return "NSMutableDictionary"; }
};

class NSLock : public NSObject {
 public:
  NSLock* init() { return this; }
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  BOOL tryLock() { return mutex_.try_lock() ? YES : NO; }
  const char* className() const override { return "NSLock"; }

 private:
  std::mutex mutex_;
};

class NSThread : public NSObject {
 public:
  // Runs the message on a new thread (target and argument retained while it runs). The thread has no
  // autorelease pool of its own until the method makes one.
  template <class T, class A>
  static void detachNewThreadSelector_toTarget_withObject(void (T::*selector)(A*), T* target, A* argument) {
    Detach([target, selector, argument] { (target->*selector)(argument); }, target, argument);
  }
  template <class T>
  static void detachNewThreadSelector_toTarget_withObject(void (T::*selector)(id), T* target, std::nullptr_t) {
    Detach([target, selector] { (target->*selector)(nullptr); }, target, nullptr);
  }
  static BOOL isMainThread_class();
  static void sleepForTimeInterval(NSTimeInterval seconds);
  static void sleepUntilDate(NSDate* date);
  // Marks the calling thread as the main thread (the first thread that asks for the main run loop is
  // the main thread otherwise).
  static void setMainThread_class();  // our helper
  const char* className() const override { return "NSThread"; }

 private:
  static void Detach(std::function<void()> body, NSObject* target, NSObject* argument);
};

// Runs the messages and timers of one thread.
class NSRunLoop : public NSObject {
 public:
  static NSRunLoop* currentRunLoop();
  static NSRunLoop* mainRunLoop();

  // Runs until stop() (or forever).
  void run();
  // Runs until the date, or stop(); returns YES when stopped or the date passed.
  void runUntilDate(NSDate* limit);
  // Runs what is due, waiting for the first message at most until the date; YES when one ran.
  BOOL runMode_beforeDate(NSString* mode, NSDate* limit);
  // Ends run() / runUntilDate() (from any thread).
  void stop();
  const char* className() const override { return "NSRunLoop"; }

  // Our helper: queues a call to run on this loop after `delay` seconds.
  void Enqueue(std::function<void()> call, NSTimeInterval delay);

 private:
  struct Impl;
  Impl* impl();
  std::atomic<Impl*> impl_{nullptr};
};

// A message sent by the run loop of the thread that scheduled it, once or every interval until
// invalidated. The run loop keeps the timer, the timer keeps its target and user info until it is
// invalidated (a one-shot timer is invalidated once it fired).
class NSTimer : public NSObject {
 public:
  template <class T>
  static NSTimer* scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(
      NSTimeInterval interval, T* target, void (T::*selector)(NSTimer*), id userInfo, BOOL repeats) {
    return Schedule(interval, target, [target, selector](NSTimer* t) { (target->*selector)(t); }, userInfo, repeats);
  }
  void invalidate();
  BOOL isValid() const { return valid_.load() ? YES : NO; }
  id userInfo() const { return userInfo_; }
  NSTimeInterval timeInterval() const { return interval_; }
  const char* className() const override { return "NSTimer"; }

 protected:
  void dealloc() override;

 private:
  static NSTimer* Schedule(NSTimeInterval interval, NSObject* target, std::function<void(NSTimer*)> call,
                           id userInfo, BOOL repeats);
  void Fire(NSRunLoop* loop);
  std::function<void(NSTimer*)> call_;
  NSObject* target_ = nullptr;
  id userInfo_ = nullptr;
  NSTimeInterval interval_ = 0;
  bool repeats_ = false;
  std::atomic<bool> valid_{false};
};

class NSNotification : public NSObject {
 public:
  static NSNotification* notificationWithName_object(NSString* name, id object);
  NSNotification* initWithName_object(NSString* name, id object);
  NSString* name() const { return name_; }
  id object() const { return object_; }
  const char* className() const override { return "NSNotification"; }

 protected:
  void dealloc() override;

 private:
  NSString* name_ = nullptr;
  id object_ = nullptr;
};

// Observers are not retained; remove them before they go.
class NSNotificationCenter : public NSObject {
 public:
  static NSNotificationCenter* defaultCenter();
  // A null name or object matches every notification / sender.
  template <class T>
  void addObserver_selector_name_object(T* observer, void (T::*selector)(NSNotification*), NSString* name,
                                        id object) {
    Add(observer, [observer, selector](NSNotification* n) { (observer->*selector)(n); }, name, object);
  }
  void removeObserver(id observer);
  void removeObserver_name_object(id observer, NSString* name, id object);
  void postNotification(NSNotification* notification);
  void postNotificationName_object(NSString* name, id object);
  const char* className() const override { return "NSNotificationCenter"; }

 private:
  void Add(id observer, std::function<void(NSNotification*)> call, NSString* name, id object);
  struct Observer {
    id observer;
    std::function<void(NSNotification*)> call;
    std::string name;
    bool anyName;
    id object;
  };
  std::mutex mutex_;
  std::vector<Observer> observers_;
};

extern NSString* const NSWindowWillCloseNotification;
extern NSString* const NSFilePosixPermissions;

// Files of the Mac, by their Mac paths ("/private/tftpboot/x"), kept under the Mac root of the sysroot.
class NSFileManager : public NSObject {
 public:
  static NSFileManager* defaultManager();
  BOOL fileExistsAtPath(NSString* path);
  BOOL fileExistsAtPath_isDirectory(NSString* path, BOOL* isDirectory);
  BOOL createDirectoryAtPath_attributes(NSString* path, NSDictionary* attributes);  // parents made too
  BOOL createFileAtPath_contents_attributes(NSString* path, NSData* contents, NSDictionary* attributes);
  NSData* contentsAtPath(NSString* path);  // autoreleased; null when unreadable
  BOOL removeFileAtPath_handler(NSString* path, id handler);
  BOOL copyPath_toPath_handler(NSString* source, NSString* destination, id handler);
  NSArray* directoryContentsAtPath(NSString* path);  // autoreleased names, sorted; null when none
  // Applies NSFilePosixPermissions (an NSNumber) of the attributes; NO when the file is not there.
  BOOL changeFileAttributes_atPath(NSDictionary* attributes, NSString* path);
  const char* className() const override { return "NSFileManager"; }
};

namespace cocoa {
// printf formatting with %@; the core of stringWithFormat and NSLog.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...);
}  // namespace cocoa

// One line on standard error, as the system log would take it.
void NSLog(const char* format, ...);
