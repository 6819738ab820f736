#include "device/clock.h"

#include <thread>

namespace talkgate {
namespace {

class SystemClock : public Clock {
 public:
  std::chrono::milliseconds now() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
  void sleepFor(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

Clock& activeClock() {
  Clock* clock = g_clock.load();
  return clock ? *clock : systemClock();
}

void setActiveClock(Clock* clock) { g_clock.store(clock); }

ScopedClock::ScopedClock(Clock& clock) : previous_(g_clock.load()) { setActiveClock(&clock); }
ScopedClock::~ScopedClock() { setActiveClock(previous_); }

}  // namespace talkgate
