// Controls: buttons, text fields (the secure one too), tab views, combo boxes, progress indicators.
#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;
using Kind = tavrin::gui::PointerEvent::Kind;
using tavrin::gui::Key;

struct Target : NSObject {
  std::vector<id> senders;
  void Act(id sender) { senders.push_back(sender); }
};

void Type(NSWindow* window, const std::vector<tavrin::gui::KeyEvent>& keys) {
  for (auto key : keys) {
    tavrin::gui::TheDesktop().Key(key, window->SurfaceId());
    key.down = false;
    tavrin::gui::TheDesktop().Key(key, window->SurfaceId());
  }
}

// Enables its button while anything but blanks is typed, as the unlock window's password field does.
class PasswordField : public NSSecureTextField {
 public:
  NSButton* ok = nullptr;
  int changes = 0;
  void textDidChange(NSNotification* note) override {
    ++changes;
    auto* editor = dynamic_cast<NSText*>(note->object());
    NSString* trimmed = editor->string()->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet());
    ok->setEnabled(trimmed->length() > 0);
  }
};

TEST_F(AppKitTest, ButtonsActOnAReleaseOverThemAndCheckBoxesToggle) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 100));
  auto* target = alloc<Target>();
  NSButton* push = alloc<NSButton>()->initWithFrame(NSMakeRect(10, 10, 100, 30));
  push->setTitle(NSString::stringWithUTF8String("Push"));
  push->setTarget(target);
  push->setAction(selector(&Target::Act));
  NSButton* check = alloc<NSButton>()->initWithFrame(NSMakeRect(150, 10, 120, 30));
  check->setButtonType(NSSwitchButton);
  window->contentView()->addSubview(push);
  window->contentView()->addSubview(check);
  window->makeKeyAndOrderFront(nullptr);

  Click(window, NSMakePoint(50, 25));
  ASSERT_TRUE(Until([&] { return target->senders.size() == 1; }));
  EXPECT_EQ(target->senders[0], push);
  // Pressed, then released away from it: no action.
  Pointer(window, NSMakePoint(50, 25), Kind::kPress);
  Pointer(window, NSMakePoint(50, 80), Kind::kMove);
  Pointer(window, NSMakePoint(50, 80), Kind::kRelease);
  push->setEnabled(NO);
  Click(window, NSMakePoint(50, 25));
  Click(window, NSMakePoint(160, 25));
  ASSERT_TRUE(Until([&] { return check->state() == NSOnState; }));
  EXPECT_EQ(target->senders.size(), 1u);
  Click(window, NSMakePoint(160, 25));
  ASSERT_TRUE(Until([&] { return check->state() == NSOffState; }));
  push->release();
  check->release();
  target->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, ASecureFieldTakesTypedTextAndTellsEachChange) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 100));
  NSButton* ok = alloc<NSButton>()->initWithFrame(NSMakeRect(200, 10, 80, 30));
  ok->setEnabled(NO);
  auto* field = static_cast<PasswordField*>(alloc<PasswordField>()->initWithFrame(NSMakeRect(10, 50, 200, 22)));
  field->ok = ok;
  window->contentView()->addSubview(field);
  window->contentView()->addSubview(ok);
  window->makeKeyAndOrderFront(nullptr);

  Click(window, NSMakePoint(50, 60));
  ASSERT_TRUE(Until([&] { return window->firstResponder() == field; }));
  ASSERT_NE(field->currentEditor(), nullptr);
  Type(window, {{Key::kSpace, 0, true}, {Key::kSpace, 0, true}});
  ASSERT_TRUE(Until([&] { return field->changes == 2; }));
  EXPECT_FALSE(ok->isEnabled());  // blanks only
  Type(window, {{Key::kCharacter, 'X', true}});
  ASSERT_TRUE(Until([&] { return field->changes == 3; }));
  EXPECT_TRUE(ok->isEnabled());
  EXPECT_EQ(field->stringValue()->str(), "  x");
  Type(window, {{Key::kBackspace, 0, true}});
  ASSERT_TRUE(Until([&] { return field->changes == 4; }));
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_EQ(field->stringValue()->str(), "  ");

  // The field shows one bullet a character, never the text.
  NSTextField* plain = alloc<NSTextField>()->initWithFrame(NSMakeRect(10, 10, 180, 22));
  plain->setStringValue(NSString::stringWithUTF8String("ab"));
  field->setStringValue(NSString::stringWithUTF8String("ab"));
  window->contentView()->addSubview(plain);
  auto image = Pixels(window);
  auto dark = [&](int top) {
    int count = 0;
    for (int y = top; y < top + 22; ++y)
      for (int x = 14; x < 120; ++x) count += (image.at(x, y) & 0xFF) < 0x60;
    return count;
  };
  const int fieldTop = static_cast<int>(window->frame().size.height) - 72, plainTop = static_cast<int>(window->frame().size.height) - 32;
  EXPECT_GT(dark(fieldTop), 4);
  EXPECT_NE(dark(fieldTop), dark(plainTop));
  plain->release();
  field->release();
  ok->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, ATabViewShowsOnlyTheSelectedItemsView) {
  NSTabView* tabs = alloc<NSTabView>()->initWithFrame(NSMakeRect(0, 0, 300, 200));
  NSView* device = alloc<NSView>()->init();
  NSView* server = alloc<NSView>()->init();
  for (auto [name, view] : {std::pair{"device", device}, std::pair{"server", server}}) {
    NSTabViewItem* item = alloc<NSTabViewItem>()->initWithIdentifier(NSString::stringWithUTF8String(name));
    item->setLabel(NSString::stringWithUTF8String(name));
    item->setView(view);
    tabs->addTabViewItem(item);
    item->release();
  }
  EXPECT_EQ(device->superview(), tabs);
  EXPECT_EQ(server->superview(), nullptr);
  tabs->selectTabViewItemWithIdentifier(NSString::stringWithUTF8String("server"));
  EXPECT_EQ(device->superview(), nullptr);
  EXPECT_EQ(server->superview(), tabs);
  EXPECT_EQ(tabs->indexOfTabViewItemWithIdentifier(NSString::stringWithUTF8String("nothing")), -1);
  tabs->setTabViewType(NSNoTabsBezelBorder);
  EXPECT_TRUE(NSEqualRects(server->frame(), NSMakeRect(1, 1, 298, 198)));
  device->release();
  server->release();
  tabs->release();
}

TEST_F(AppKitTest, AClickOnATabSelectsItsItemAndTheWindowLetsGoOfTheTabView) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 300, 300, 200));
  NSTabView* tabs = alloc<NSTabView>()->initWithFrame(NSMakeRect(0, 0, 300, 200));
  window->contentView()->addSubview(tabs);
  for (const char* name : {"one", "two"}) {
    NSTabViewItem* item = alloc<NSTabViewItem>()->initWithIdentifier(NSString::stringWithUTF8String(name));
    item->setLabel(NSString::stringWithUTF8String(name));
    NSView* page = alloc<NSView>()->init();
    item->setView(page);
    page->release();
    tabs->addTabViewItem(item);
    item->release();
  }
  window->makeKeyAndOrderFront(nullptr);
  const unsigned long held = tabs->retainCount();
  // The second tab lies right of the middle; the press takes the first page away.
  Click(window, NSMakePoint(170, 200 - 13));
  ASSERT_TRUE(Until([&] { return tabs->selectedTabViewItem() == tabs->tabViewItemAtIndex(1); }));
  RunWhatIsDue();
  EXPECT_EQ(tabs->retainCount(), held);
  tabs->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, AComboBoxListsItsValuesUnderItsArrowAndTakesTheOneChosen) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 300, 300, 100));
  auto* target = alloc<Target>();
  NSComboBox* combo = alloc<NSComboBox>()->initWithFrame(NSMakeRect(10, 60, 200, 22));
  for (const char* value : {"DHCP", "Static IP"}) combo->addItemWithObjectValue(NSString::stringWithUTF8String(value));
  combo->setTarget(target);
  combo->setAction(selector(&Target::Act));
  window->contentView()->addSubview(combo);
  window->makeKeyAndOrderFront(nullptr);
  combo->selectItemAtIndex(0);
  EXPECT_EQ(combo->stringValue()->str(), "DHCP");

  // The second value: 4 pixels of margin, then rows of 20.
  WhenReady([] { return NSMenu::ShownMenuWindow() != nullptr; }, [] {
    NSWindow* list = NSMenu::ShownMenuWindow();
    Click(list, NSMakePoint(40, list->frame().size.height - 4 - 20 - 10));
  });
  Click(window, NSMakePoint(200, 70));
  ASSERT_TRUE(Until([&] { return target->senders.size() == 1; }));
  EXPECT_EQ(combo->indexOfSelectedItem(), 1);
  EXPECT_EQ(combo->stringValue()->str(), "Static IP");
  EXPECT_EQ(NSMenu::ShownMenuWindow(), nullptr);
  combo->release();
  target->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, AnAnimatedProgressIndicatorGoesWithTheWindowOnceStopped) {
  NSRunLoop::mainRunLoop();
  pool_->drain();
  pool_ = alloc<NSAutoreleasePool>()->init();
  const long before = cocoa::LiveObjectCount();
  NSProgressIndicator* progress = alloc<NSProgressIndicator>()->initWithFrame(NSMakeRect(0, 0, 100, 20));
  progress->startAnimation(nullptr);
  EXPECT_TRUE(progress->isAnimating());
  progress->stopAnimation(nullptr);
  progress->setIndeterminate(NO);
  progress->setDoubleValue(150);
  EXPECT_EQ(progress->doubleValue(), 100);
  progress->release();
  ASSERT_TRUE(Until([&] {
    pool_->drain();
    pool_ = alloc<NSAutoreleasePool>()->init();
    return cocoa::LiveObjectCount() == before;
  }));
}

}  // namespace
