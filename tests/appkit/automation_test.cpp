// The automation protocol on the Mac windows: listed with their views, clicked, typed into and shot
// through the process's socket, as outside tools reach the Win32 windows.
#include <unistd.h>

#include <future>
#include <thread>

#include "appkit_fixture.h"
#include "gui/automation.h"

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

TEST_F(AppKitTest, TheAutomationSocketListsClicksTypesAndShootsTheMacWindows) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 300, 300, 120));
  window->setTitle(NSString::stringWithUTF8String("Unlock"));
  auto* target = alloc<Target>();
  NSButton* ok = alloc<NSButton>()->initWithFrame(NSMakeRect(200, 10, 80, 30));
  ok->setTitle(NSString::stringWithUTF8String("OK"));
  ok->setTarget(target);
  ok->setAction(selector(&Target::Act));
  NSTextField* name = alloc<NSTextField>()->initWithFrame(NSMakeRect(10, 80, 200, 22));
  window->contentView()->addSubview(ok);
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

}  // namespace
