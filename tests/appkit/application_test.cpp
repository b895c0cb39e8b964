// The application: modal runs ended from the main thread and from workers, the launch through
// NSApplicationMain, and a modal window keeping the others still.
#include <atomic>
#include <thread>

#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;

class Counter : public NSView {
 public:
  int downs = 0;
  void mouseDown(NSEvent*) override { ++downs; }
};

struct Stopper : NSObject {
  std::atomic<bool> ranOnMain{false};
  void Stop() {
    ranOnMain = NSThread::isMainThread_class();
    NSApp->stopModalWithCode(42);
  }
  void FromWorker(id) { performSelectorOnMainThread_withObject_waitUntilDone(&Stopper::Stop, nullptr, NO); }
};

TEST_F(AppKitTest, AModalRunAnswersTheCodeAWorkerEndsItWithOnTheMainThread) {
  NSWindow* panel = MakeWindow(NSMakeRect(100, 100, 200, 100));
  NSWindow* other = MakeWindow(NSMakeRect(400, 100, 200, 100));
  auto* counter = static_cast<Counter*>(alloc<Counter>()->initWithFrame(NSMakeRect(0, 0, 200, 100)));
  other->contentView()->addSubview(counter);
  other->orderFront(nullptr);

  auto* stopper = alloc<Stopper>();
  // While the run goes on, a click on the other window goes nowhere; then a worker ends the run.
  panel->performSelector_withObject_afterDelay(&NSWindow::update, nullptr, 0);
  NSRunLoop::mainRunLoop()->Enqueue(
      [&] {
        Click(other, NSMakePoint(50, 50));
        NSRunLoop::mainRunLoop()->Enqueue(
            [&] { NSThread::detachNewThreadSelector_toTarget_withObject(&Stopper::FromWorker, stopper, nullptr); }, 0.01);
      },
      0);
  EXPECT_EQ(NSApp->runModalForWindow(panel), 42);
  EXPECT_TRUE(stopper->ranOnMain);
  EXPECT_EQ(NSApp->modalWindow(), nullptr);
  EXPECT_EQ(counter->downs, 0);
  EXPECT_TRUE(panel->isKeyWindow());

  // After the run the other window takes clicks again.
  Click(other, NSMakePoint(50, 50));
  ASSERT_TRUE(Until([&] { return counter->downs == 1; }));
  cocoa::JoinDetachedThreads();
  stopper->release();
  counter->release();
  panel->close();
  other->close();
  panel->release();
  other->release();
}

TEST_F(AppKitTest, ModalRunsNestAndEachEndsItsOwn) {
  NSWindow* outer = MakeWindow(NSMakeRect(100, 100, 200, 100));
  NSWindow* inner = MakeWindow(NSMakeRect(150, 150, 200, 100));
  NSInteger innerCode = 0;
  NSRunLoop::mainRunLoop()->Enqueue(
      [&] {
        NSRunLoop::mainRunLoop()->Enqueue([] { NSApp->stopModalWithCode(2); }, 0);
        innerCode = NSApp->runModalForWindow(inner);
        EXPECT_EQ(NSApp->modalWindow(), outer);
        NSApp->stopModalWithCode(1);
      },
      0);
  EXPECT_EQ(NSApp->runModalForWindow(outer), 1);
  EXPECT_EQ(innerCode, 2);
  outer->close();
  inner->close();
  outer->release();
  inner->release();
}

struct Delegate : NSApplicationDelegate {
  bool launched = false, willTerminate = false;
  bool refuseOnce = true;
  void applicationDidFinishLaunching(NSNotification*) override { launched = true; }
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication*) override {
    if (refuseOnce) {
      refuseOnce = false;
      return NSTerminateCancel;
    }
    return NSTerminateNow;
  }
  void applicationWillTerminate(NSNotification*) override { willTerminate = true; }
};

TEST_F(AppKitTest, TheMainInterfaceIsLoadedAndTheApplicationRunsUntilItTerminates) {
  Delegate delegate;
  NSWindow* built = nullptr;
  appkit::SetMainInterface([&] {
    built = MakeWindow(NSMakeRect(100, 100, 200, 100));
    built->makeKeyAndOrderFront(nullptr);
    NSApp->setDelegate(&delegate);
    // The first request is refused by the delegate, the second ends the run.
    NSRunLoop::mainRunLoop()->Enqueue([] { NSApp->terminate(nullptr); }, 0);
    NSRunLoop::mainRunLoop()->Enqueue([] { NSApp->terminate(nullptr); }, 0.01);
  });
  const char* argv[] = {"test"};
  EXPECT_EQ(NSApplicationMain(1, argv), 0);
  appkit::SetMainInterface(nullptr);
  NSApp->setDelegate(nullptr);
  EXPECT_TRUE(delegate.launched);
  EXPECT_TRUE(delegate.willTerminate);
  ASSERT_NE(built, nullptr);
  EXPECT_TRUE(NSApp->windows()->containsObject(built));
  built->close();
  built->release();
}

}  // namespace
