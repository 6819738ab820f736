#pragma once
// Time as the program sees it. Every wait and timeout goes through the active clock so that
// tests and benchmarks can run the full protocols without waiting in real time.

#include <atomic>
#include <chrono>

namespace talkgate {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::chrono::milliseconds now() = 0;
  // Blocks the calling thread (real clock) or just advances time (manual clock).
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// Wall-clock time and real sleeps.
Clock& systemClock();

// The clock in force; the system clock unless a test or benchmark set another.
Clock& activeClock();
// Replaces the active clock (nullptr restores the system clock). The caller keeps ownership.
void setActiveClock(Clock* clock);

// A clock that only moves when slept on or advanced; thread-safe.
class ManualClock : public Clock {
 public:
  std::chrono::milliseconds now() override { return std::chrono::milliseconds(nowMs_.load()); }
  void sleepFor(std::chrono::milliseconds duration) override {
    nowMs_ += duration.count();
    totalSleptMs_ += duration.count();
  }
  void advance(std::chrono::milliseconds duration) { nowMs_ += duration.count(); }
  // Sum of all sleeps, for asserting how long a caller would have waited.
  std::chrono::milliseconds totalSlept() const {
    return std::chrono::milliseconds(totalSleptMs_.load());
  }

 private:
  std::atomic<long long> nowMs_{0};
  std::atomic<long long> totalSleptMs_{0};
};

// Installs a clock for the lifetime of the guard, restoring the previous one after.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace talkgate
