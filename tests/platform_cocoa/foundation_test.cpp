// The Foundation stand-in: ownership, formatting, collections, run loop, threads, notifications, files.
#include "cocoa/Foundation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "cocoa/mac_root.h"
#include "testsupport/sysroot.h"

namespace {

// Counts its deallocations so that ownership shows.
class Probe : public NSObject {
 public:
  static inline std::atomic<int> freed{0};
  int calls = 0;
  NSObject* lastArgument = nullptr;
  std::string lastText;
  void ping(NSString* argument) {
    ++calls;
    lastText = argument->str();
  }
  void noArgument() { ++calls; }
  void onNote(NSNotification* n) {
    ++calls;
    lastArgument = n->object();
  }

 protected:
  void dealloc() override {
    ++freed;
    NSObject::dealloc();
  }
};

TEST(FoundationOwnership, RetainReleaseAndPoolsBalanceTheLiveCount) {
  const long before = cocoa::LiveObjectCount();
  Probe* p = alloc<Probe>();
  EXPECT_EQ(p->retainCount(), 1u);
  p->retain();
  p->release();
  EXPECT_EQ(cocoa::LiveObjectCount(), before + 1);

  NSAutoreleasePool* outer = alloc<NSAutoreleasePool>()->init();
  p->autorelease();
  NSString::stringWithFormat("%d", 1);
  NSAutoreleasePool* inner = alloc<NSAutoreleasePool>()->init();
  NSMutableArray::array()->addObject(NSNumber::numberWithInt(3));
  (void)inner;  // released with the outer pool
  int freedBefore = Probe::freed;
  outer->drain();
  EXPECT_EQ(Probe::freed, freedBefore + 1);
  EXPECT_EQ(cocoa::LiveObjectCount(), before);
}

TEST(FoundationOwnership, CollectionsRetainWhatTheyHoldAndReplaceSafely) {
  const long before = cocoa::LiveObjectCount();
  NSMutableArray* array = alloc<NSMutableArray>()->init();
  NSString* s = alloc<NSString>()->initWithUTF8String("x");
  array->addObject(s);
  EXPECT_EQ(s->retainCount(), 2u);
  array->replaceObjectAtIndex_withObject(0, s);  // the same object: must stay alive
  EXPECT_EQ(s->retainCount(), 2u);
  EXPECT_THROW(array->objectAtIndex(1), NSException);
  EXPECT_THROW(array->addObject(nullptr), NSException);
  NSMutableDictionary* dict = alloc<NSMutableDictionary>()->init();
  NSString* key = alloc<NSString>()->initWithUTF8String("k");
  dict->setObject_forKey(array, key);
  NSString* sameKey = alloc<NSString>()->initWithUTF8String("k");
  EXPECT_EQ(dict->objectForKey(sameKey), array);  // keys compare by value
  s->release();
  key->release();
  sameKey->release();
  array->release();
  dict->release();
  EXPECT_EQ(cocoa::LiveObjectCount(), before);
}

TEST(FoundationString, FormatTakesPrintfDirectivesAndObjects) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  NSString* name = NSString::stringWithUTF8String("10.0.0.1");
  EXPECT_STREQ(NSString::stringWithFormat("Server %@", name)->UTF8String(), "Server 10.0.0.1");
  EXPECT_STREQ(NSString::stringWithFormat("%@|%@", nullptr, NSNumber::numberWithInt(-4))->UTF8String(),
               "(null)|-4");
  EXPECT_STREQ(NSString::stringWithFormat("%d %5.2f %s %c %x %% %ld %u", -3, 2.5, "ab", 'z', 255, 1L << 40, 7u)
                   ->UTF8String(),
               "-3  2.50 ab z ff % 1099511627776 7");
  EXPECT_STREQ(NSString::stringWithFormat("%*d|%-4s|", 4, 7, "a")->UTF8String(), "   7|a   |");
  EXPECT_STREQ(NSString::stringWithFormat("Vid_%p - Pid_%p", (void*)1133, (void*)0)->UTF8String(), "Vid_0x46d - Pid_0x0");
  std::string big(2000, 'q');
  EXPECT_EQ(NSString::stringWithFormat("<%s>", big.c_str())->length(), 2002u);
  char out[4];
  EXPECT_FALSE(NSString::stringWithUTF8String("abcd")->getCString_maxLength(out, sizeof out));
  EXPECT_TRUE(NSString::stringWithUTF8String("abc")->getCString_maxLength(out, sizeof out));
  EXPECT_STREQ(out, "abc");
  NSString* date = NSDate::date()->description();
  EXPECT_EQ(date->length(), 25u);  // "YYYY-MM-DD hh:mm:ss +0000"
  pool->drain();
}

// Asks the main thread to run a message, waits for it, then ends the main loop's run.
class Worker : public NSObject {
 public:
  void work(Probe* target) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    target->performSelectorOnMainThread_withObject_waitUntilDone(&Probe::noArgument, nullptr, YES);
    ranAfterWait = target->calls;
    NSRunLoop::mainRunLoop()->stop();
    pool->drain();
  }
  int ranAfterWait = -1;
};

TEST(FoundationRunLoop, DelayedAndMainThreadMessagesRunOnTheMainLoop) {
  NSRunLoop::mainRunLoop();  // a singleton: made before counting
  const long before = cocoa::LiveObjectCount();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  Probe* p = alloc<Probe>();
  NSString* arg = alloc<NSString>()->initWithUTF8String("a");
  p->performSelector_withObject_afterDelay(&Probe::ping, arg, 0.0);
  arg->release();  // the pending message keeps it
  EXPECT_EQ(p->calls, 0);

  Worker* worker = alloc<Worker>();
  NSThread::detachNewThreadSelector_toTarget_withObject(&Worker::work, worker, p);
  NSRunLoop::mainRunLoop()->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(30));
  cocoa::JoinDetachedThreads();
  EXPECT_GE(worker->ranAfterWait, 1);  // the wait returned after the message ran
  EXPECT_EQ(p->calls, 2);
  EXPECT_EQ(p->lastText, "a");
  worker->release();
  p->release();
  pool->drain();
  EXPECT_EQ(cocoa::LiveObjectCount(), before);
}

TEST(FoundationRunLoop, AMessageDueLaterWaitsItsTurn) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  Probe* p = alloc<Probe>();
  p->performSelector_withObject_afterDelay(&Probe::noArgument, nullptr, 30.0);
  // Nothing is due: one pass returns without running it.
  EXPECT_FALSE(NSRunLoop::mainRunLoop()->runMode_beforeDate(nullptr, NSDate::date()));
  EXPECT_EQ(p->calls, 0);
  EXPECT_TRUE(NSThread::isMainThread_class());
  p->release();  // the pending message still holds it
  pool->drain();
}

TEST(FoundationNotifications, ObserversGetMatchingNotificationsUntilRemoved) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  Probe* p = alloc<Probe>();
  NSString* name = NSString::stringWithUTF8String("Changed");
  NSNotificationCenter* center = NSNotificationCenter::defaultCenter();
  center->addObserver_selector_name_object(p, &Probe::onNote, name, nullptr);
  center->postNotificationName_object(NSString::stringWithUTF8String("Other"), nullptr);
  center->postNotificationName_object(NSString::stringWithUTF8String("Changed"), name);
  EXPECT_EQ(p->calls, 1);
  EXPECT_EQ(p->lastArgument, name);
  center->removeObserver(p);
  center->postNotificationName_object(name, nullptr);
  EXPECT_EQ(p->calls, 1);
  p->release();
  pool->drain();
}

// Counts its ticks and stops its timer at the third.
class Ticker : public NSObject {
 public:
  int ticks = 0;
  void tick(NSTimer* timer) {
    if (++ticks == 3) {
      timer->invalidate();
      NSRunLoop::currentRunLoop()->stop();
    }
  }
};

TEST(FoundationRunLoop, TimersRepeatUntilInvalidatedAndLetGoOfTheirTarget) {
  NSRunLoop::mainRunLoop();
  const long before = cocoa::LiveObjectCount();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  Ticker* ticker = alloc<Ticker>();
  NSTimer* timer = NSTimer::scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(
      0.001, ticker, &Ticker::tick, NSString::stringWithUTF8String("info"), YES);
  EXPECT_STREQ(static_cast<NSString*>(timer->userInfo())->UTF8String(), "info");
  EXPECT_EQ(ticker->retainCount(), 2u);  // the timer holds its target
  NSRunLoop::mainRunLoop()->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(30));
  EXPECT_EQ(ticker->ticks, 3);
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(ticker->retainCount(), 1u);
  ticker->release();
  pool->drain();
  EXPECT_EQ(cocoa::LiveObjectCount(), before);
}

TEST(FoundationString, TrimmingTakesTheSetsCharactersFromBothEnds) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  NSString* s = NSString::stringWithUTF8String(" \t pass word \t");
  EXPECT_STREQ(s->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet())->UTF8String(),
               "pass word");
  EXPECT_EQ(NSString::stringWithUTF8String(" \t ")
                ->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet())
                ->length(),
            0u);
  EXPECT_STREQ(NSString::stringWithUTF8String("a\n")
                   ->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet())
                   ->UTF8String(),
               "a\n");
  pool->drain();
}

class FoundationFiles : public tavrin::test::SysrootTest {};

TEST_F(FoundationFiles, MacPathsLiveUnderTheMacRoot) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  NSFileManager* fm = NSFileManager::defaultManager();
  NSString* dir = NSString::stringWithUTF8String("/private/tftpboot");
  EXPECT_TRUE(fm->createDirectoryAtPath_attributes(dir, nullptr));
  EXPECT_TRUE(std::filesystem::is_directory(root() / "Mac/private/tftpboot"));
  NSString* file = NSString::stringWithUTF8String("/private/tftpboot/../tftpboot/img.bin");
  EXPECT_TRUE(fm->createFileAtPath_contents_attributes(file, NSData::dataWithBytes_length("abc", 3), nullptr));
  NSData* back = fm->contentsAtPath(file);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->length(), 3u);
  EXPECT_EQ(fm->directoryContentsAtPath(dir)->count(), 1u);
  // ".." never leaves the Mac root.
  EXPECT_EQ(cocoa::MacPath("/../../etc/passwd"), root() / "Mac/etc/passwd");
  EXPECT_TRUE(fm->removeFileAtPath_handler(file, nullptr));
  EXPECT_FALSE(fm->fileExistsAtPath(file));
  pool->drain();
}

TEST(FoundationString, SearchingSplittingAndMutableStrings) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  NSString* text = NSString::stringWithUTF8String("a=1\n[ConnectionTable]\nb=2");
  NSRange r = text->rangeOfString(NSString::stringWithUTF8String("[ConnectionTable]"));
  EXPECT_EQ(r.location, 4u);
  EXPECT_EQ(r.length, 17u);
  EXPECT_EQ(text->rangeOfString(NSString::stringWithUTF8String("[Password]")).location, NSNotFound);
  EXPECT_EQ(text->rangeOfString(NSString::string()).location, NSNotFound);
  EXPECT_EQ(text->substringToIndex(r.location)->str(), "a=1\n");
  EXPECT_EQ(text->substringFromIndex(text->length())->str(), "");
  EXPECT_THROW(text->substringToIndex(text->length() + 1), NSException);
  EXPECT_THROW(text->substringWithRange(NSMakeRange(2, text->length())), NSException);

  NSArray* parts = NSString::stringWithUTF8String("127..0.1.")->componentsSeparatedByString(
      NSString::stringWithUTF8String("."));
  ASSERT_EQ(parts->count(), 5u);  // empty pieces kept
  EXPECT_EQ(static_cast<NSString*>(parts->objectAtIndex(1))->str(), "");
  EXPECT_EQ(static_cast<NSString*>(parts->objectAtIndex(4))->str(), "");
  EXPECT_EQ(NSString::stringWithUTF8String("/Users/Shared/image.bin")->lastPathComponent()->str(), "image.bin");
  EXPECT_EQ(NSString::stringWithUTF8String("/private/tftpboot/")->lastPathComponent()->str(), "tftpboot");

  NSMutableString* m = NSMutableString::string();
  m->appendString(NSString::stringWithUTF8String("S.no"));
  m->appendFormat("\t%d)", 1);
  m->appendString(nullptr);
  m->insertString_atIndex(NSString::stringWithUTF8String(">"), 0);
  m->deleteCharactersInRange(NSMakeRange(1, 2));
  EXPECT_EQ(m->str(), ">no\t1)");
  EXPECT_THROW(m->deleteCharactersInRange(NSMakeRange(3, 10)), NSException);
  NSMutableString* copy = text->mutableCopy();
  copy->setString(nullptr);
  EXPECT_EQ(copy->length(), 0u);
  copy->release();
  pool->drain();
}

TEST_F(FoundationFiles, StringsAreWrittenToMacPathsAndModesChanged) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  NSFileManager* files = NSFileManager::defaultManager();
  files->createDirectoryAtPath_attributes(NSString::stringWithUTF8String("/private/tftpboot"), nullptr);
  NSString* path = NSString::stringWithUTF8String("/private/tftpboot/a.txt");
  EXPECT_EQ(NSString::stringWithUTF8String("first")->writeToFile_atomically(path, YES), YES);
  EXPECT_EQ(NSString::stringWithUTF8String("two")->writeToFile_atomically(path, NO), YES);
  NSData* data = files->contentsAtPath(path);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(data->bytes()), data->length()), "two");
  EXPECT_EQ(NSString::stringWithUTF8String("x")->writeToFile_atomically(
                NSString::stringWithUTF8String("/no/such/folder/x"), YES), NO);
  NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
  attributes->setObject_forKey(NSNumber::numberWithInt(0604), NSFilePosixPermissions);
  EXPECT_EQ(files->changeFileAttributes_atPath(attributes, path), YES);
  EXPECT_EQ(std::filesystem::status(cocoa::MacPath("/private/tftpboot/a.txt")).permissions(),
            static_cast<std::filesystem::perms>(0604));
  EXPECT_EQ(files->changeFileAttributes_atPath(attributes, NSString::stringWithUTF8String("/none")), NO);
  pool->drain();
}

}  // namespace
