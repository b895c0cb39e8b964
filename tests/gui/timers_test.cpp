// A UI thread's timers, on a clock the test moves by hand.
#include <gtest/gtest.h>

#include "gui/timers.h"

namespace {

using namespace std::chrono_literals;
using tavrin::gui::TimerSet;
using Timer = TimerSet::Timer;

const TimerSet::Clock::time_point kStart{};
bool Every(const Timer&) { return true; }

TEST(TimerSetTest, ATimerFallsDueEachIntervalAndALateOneIsTakenOnce) {
  TimerSet timers;
  timers.Set(7, 1, 100ms, 0xF00, kStart);
  Timer timer;
  EXPECT_FALSE(timers.Due(kStart + 99ms, Every, true, timer));
  EXPECT_EQ(timers.NextDue(Every), kStart + 100ms);
  EXPECT_FALSE(timers.AnyDue(kStart + 99ms));
  EXPECT_TRUE(timers.AnyDue(kStart + 100ms));

  // Looking does not take it.
  ASSERT_TRUE(timers.Due(kStart + 100ms, Every, false, timer));
  ASSERT_TRUE(timers.Due(kStart + 100ms, Every, true, timer));
  EXPECT_EQ(timer.owner, 7u);
  EXPECT_EQ(timer.id, 1u);
  EXPECT_EQ(timer.action, 0xF00u);
  // Five intervals late: taken once, then due a whole interval later.
  ASSERT_TRUE(timers.Due(kStart + 650ms, Every, true, timer));
  EXPECT_FALSE(timers.Due(kStart + 700ms, Every, true, timer));
  EXPECT_EQ(timers.NextDue(Every), kStart + 750ms);
}

TEST(TimerSetTest, TheEarliestDueTimerTheFilterTakesComesFirst) {
  TimerSet timers;
  timers.Set(1, 1, 300ms, 0, kStart);
  timers.Set(2, 1, 100ms, 0, kStart);
  timers.Set(3, 1, 200ms, 0, kStart);
  Timer timer;
  ASSERT_TRUE(timers.Due(kStart + 1s, Every, true, timer));
  EXPECT_EQ(timer.owner, 2u);
  auto notTwo = [](const Timer& t) { return t.owner != 2; };
  ASSERT_TRUE(timers.Due(kStart + 1s, notTwo, true, timer));
  EXPECT_EQ(timer.owner, 3u);
  EXPECT_EQ(timers.NextDue([](const Timer& t) { return t.owner == 1; }), kStart + 300ms);
  EXPECT_EQ(timers.NextDue([](const Timer&) { return false; }), TimerSet::Clock::time_point::max());
}

TEST(TimerSetTest, SettingAgainRestartsAndKillingEndsOneOwnersTimers) {
  TimerSet timers;
  timers.Set(1, 5, 100ms, 0xA, kStart);
  timers.Set(1, 5, 100ms, 0xB, kStart + 80ms);  // the same timer, set again
  timers.Set(1, 6, 100ms, 0, kStart);
  timers.Set(2, 5, 100ms, 0, kStart);
  EXPECT_TRUE(timers.HasAction(1, 5, 0xB));
  EXPECT_FALSE(timers.HasAction(1, 5, 0xA));
  Timer timer;
  ASSERT_TRUE(timers.Due(kStart + 100ms, [](const Timer& t) { return t.owner == 1; }, true, timer));
  EXPECT_EQ(timer.id, 6u);  // id 5 restarted at 80ms

  EXPECT_TRUE(timers.Kill(1, 6));
  EXPECT_FALSE(timers.Kill(1, 6));
  timers.KillOwner(1);
  EXPECT_FALSE(timers.Has(1, 5));
  EXPECT_TRUE(timers.Has(2, 5));
}

TEST(TimerSetTest, NewIdsSkipTheOwnersIdsInUse) {
  TimerSet timers;
  timers.Set(0, 1, 10ms, 0, kStart);
  timers.Set(0, 2, 10ms, 0, kStart);
  timers.Set(9, 3, 10ms, 0, kStart);  // another owner's id does not count
  EXPECT_EQ(timers.NewId(0), 3u);
  EXPECT_EQ(timers.NewId(0), 4u);
}

}  // namespace
