// Waits for a device to leave and come back: they end at the first look that finds it back,
// never take a device that has not left for one that came back, and give up at their bound.

#include <gtest/gtest.h>

#include "device/clock.h"
#include "device/return_wait.h"

namespace talkgate {
namespace {

using std::chrono::milliseconds;

struct ReturnCase {
  const char* name;
  long long goneAt;  // clock ms from which the old device is no longer listed; -1 never
  long long backAt;  // from which the new one is listed; -1 never
  ReturnWait expected;
  long long endsAt;  // clock ms when the wait returns
};

TEST(ReturnWaitTest, EndsAtTheFirstLookThatFindsTheDeviceBackAndOnlyAfterItLeft) {
  const ReturnCase cases[] = {
      {"back before the bound", 120, 800, ReturnWait::Back, 800},
      {"back between two looks", 0, 810, ReturnWait::Back, 850},
      {"gone and back between two looks", 20, 30, ReturnWait::Back, 50},
      {"already back but never seen gone", -1, 0, ReturnWait::NeverLeft, 6000},
      {"slower than the bound", 0, 6500, ReturnWait::NotBack, 6000},
      {"never back", 0, -1, ReturnWait::NotBack, 6000},
  };
  for (const ReturnCase& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clock;
    ScopedClock scoped(clock);
    const auto at = [&clock](long long t) { return t >= 0 && clock.now().count() >= t; };
    ReturnPoll poll;
    poll.timeout = milliseconds(6000);
    poll.interval = milliseconds(50);
    poll.gone = [&] { return at(c.goneAt); };
    poll.back = [&] { return at(c.backAt); };
    int pauses = 0;
    poll.pause = [&](milliseconds step) {
      ++pauses;
      clock.sleepFor(step);
    };
    EXPECT_EQ(waitForReturn(poll), c.expected);
    EXPECT_EQ(clock.now().count(), c.endsAt);
    EXPECT_EQ(pauses, (c.endsAt + 49) / 50) << "every wait between looks goes through pause";
  }
}

}  // namespace
}  // namespace talkgate
