#include "device/return_wait.h"

#include <algorithm>

#include "device/clock.h"

namespace talkgate {

ReturnWait waitForReturn(const ReturnPoll& poll) {
  Clock& clock = activeClock();
  const auto end = clock.now() + poll.timeout;
  bool left = false;
  for (;;) {
    // Once gone it stays counted as gone: the device may come back between two looks.
    left = left || poll.gone();
    if (left && poll.back()) return ReturnWait::Back;
    const auto now = clock.now();
    if (now >= end) return left ? ReturnWait::NotBack : ReturnWait::NeverLeft;
    const auto step = std::min(poll.interval, end - now);
    if (poll.pause) {
      poll.pause(step);
    } else {
      clock.sleepFor(step);
    }
  }
}

}  // namespace talkgate
