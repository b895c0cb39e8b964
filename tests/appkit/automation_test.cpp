// The automation protocol on the Mac windows: listed with their views, clicked, typed into and shot
// through the process's socket, as outside tools reach the Win32 windows; tavrin-ctl finds both.
#include <unistd.h>

#include <future>
#include <thread>

#include "appkit_fixture.h"
#include "gui/automation.h"
#include "peer_process.h"
#include "testsupport/child_process.h"

namespace {

using appkit_test::AppKitTest;
namespace automation = tavrin::gui::automation;

struct Target : NSObject {
  int clicks = 0;
  void Act(id) { ++clicks; }
};

// Asks this process's service from another thread while the main loop turns; the reply's payload.
bool AskOurselves(automation::Op op, NSWindow* window, const std::string& command, std::string& payload) {
  auto asked = std::async(std::launch::async, [&] {
    automation::Reply reply{};
    automation::Request request{.magic = automation::kRequestMagic, .op = static_cast<uint32_t>(op),
                                .window = reinterpret_cast<uintptr_t>(window),
                                .argument = static_cast<int32_t>(command.size())};
    return automation::Ask(static_cast<uint32_t>(getpid()), request, reply, command, &payload);
  });
  appkit::RunMainLoopUntil([&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return asked.get();
}

// Runs tavrin-ctl while the main loop turns (it asks this process too); its exit code and output.
int RunCtl(std::vector<std::string> arguments, std::string& output) {
  arguments.insert(arguments.begin(), TAVRIN_CTL_PROGRAM);
  auto ran = std::async(std::launch::async, [&] { return tavrin::test::RunChild(arguments, {}, &output); });
  appkit::RunMainLoopUntil([&] { return ran.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return ran.get();
}

// An OK button at (200, 10) of a window's content, its clicks counted.
NSButton* MakeOkButton(NSWindow* window, id target, SEL action) {
  NSButton* ok = alloc<NSButton>()->initWithFrame(NSMakeRect(200, 10, 80, 30));
  ok->setTitle(NSString::stringWithUTF8String("OK"));
  ok->setTarget(target);
  ok->setAction(action);
  window->contentView()->addSubview(ok);
  return ok;
}

TEST_F(AppKitTest, TheAutomationSocketListsClicksTypesAndShootsTheMacWindows) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 300, 300, 120));
  window->setTitle(NSString::stringWithUTF8String("Unlock"));
  auto* target = alloc<Target>();
  NSButton* ok = MakeOkButton(window, target, selector(&Target::Act));
  NSTextField* name = alloc<NSTextField>()->initWithFrame(NSMakeRect(10, 80, 200, 22));
  window->contentView()->addSubview(name);
  window->makeKeyAndOrderFront(nullptr);

  std::string listing;
  ASSERT_TRUE(AskOurselves(automation::Op::kList, window, "", listing));
  // The frame's top on a 768-high screen: 768 - (300 + 120 + 22).
  EXPECT_NE(listing.find("class=\"NSWindow\" id=0 text=\"Unlock\" rect=100,326,400,468 visible=1 enabled=1 role=\"window\""),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("    0x"), std::string::npos);  // the views, a level in per superview
  EXPECT_NE(listing.find("class=\"NSButton\" id=0 text=\"OK\""), std::string::npos) << listing;

  // A click in the window's own pixels (from its top-left), then text into the field it focused.
  std::string none;
  ASSERT_TRUE(AskOurselves(automation::Op::kInput, window, "click 240 117", none));
  ASSERT_TRUE(Until([&] { return target->clicks == 1; }));
  ASSERT_TRUE(AskOurselves(automation::Op::kInput, window, "click 50 50", none));
  ASSERT_TRUE(Until([&] { return window->firstResponder() == name; }));
  ASSERT_TRUE(AskOurselves(automation::Op::kInput, window, "text Pelko 2", none));
  ASSERT_TRUE(Until([&] { return name->stringValue()->str() == "Pelko 2"; })) << name->stringValue()->str();

  std::string png;
  ASSERT_TRUE(AskOurselves(automation::Op::kScreenshot, window, "", png));
  EXPECT_EQ(png.substr(1, 3), "PNG");
  ok->release();
  name->release();
  window->close();
  window->release();
  target->release();
}


// A Mac window and a Win32 window in one sysroot, each in a process of its own: tavrin-ctl lists both in
// the same lines and clicks the Mac window's button by its title.
TEST_F(AppKitTest, TavrinCtlListsAndDrivesMacAndWin32WindowsAlike) {
  tavrin::test::PeerProcess win32({"window", "Win32 Peer", "win32-peer-quit"});
  ASSERT_TRUE(win32.WaitForLine("ready"));
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();  // what holds the window while it closes
  NSWindow* window = MakeWindow(NSMakeRect(100, 300, 300, 120));
  window->setTitle(NSString::stringWithUTF8String("Mac Unlock"));
  auto* target = alloc<Target>();
  NSButton* ok = MakeOkButton(window, target, selector(&Target::Act));
  window->makeKeyAndOrderFront(nullptr);

  // tavrin-ctl is a process of its own: this one's windows are "another program's" to it.
  std::string listing;
  ASSERT_EQ(RunCtl({"windows"}, listing), 0) << listing;
  EXPECT_NE(listing.find("process " + std::to_string(getpid()) + "\n0x"), std::string::npos) << listing;
  EXPECT_NE(listing.find("process " + std::to_string(win32.pid()) + "\n0x"), std::string::npos) << listing;
  EXPECT_NE(listing.find("class=\"NSWindow\" id=0 text=\"Mac Unlock\" rect=100,326,400,468 visible=1 enabled=1 "
                         "role=\"window\""),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("class=\"NSButton\" id=0 text=\"OK\""), std::string::npos) << listing;
  EXPECT_NE(listing.find("class=\"PeerFrame\""), std::string::npos) << listing;

  std::string said;
  ASSERT_EQ(RunCtl({"click", "--window", "Mac Unlock", "240", "117"}, said), 0) << said;
  ASSERT_TRUE(Until([&] { return target->clicks == 1; }));
  EXPECT_EQ(RunCtl({"click", "--window", "No Such Window", "1", "1"}, said), 1);

  // Its record goes with the window: the tools no longer find it.
  ok->release();
  window->close();
  window->release();
  target->release();
  RunWhatIsDue();
  pool->drain();  // the closed window goes
  ASSERT_EQ(RunCtl({"windows"}, listing), 0);
  EXPECT_EQ(listing.find("Mac Unlock"), std::string::npos) << listing;
  EXPECT_NE(listing.find("class=\"PeerFrame\""), std::string::npos) << listing;
}

}  // namespace
