#pragma once
// Waits that exist only to let a device leave the bus and come back (a restart into new
// firmware, a loader starting another loader): polls on the active clock that end as soon as
// the device is back, with the old fixed wait kept as their longest. What left must be seen
// gone first, so a device that has not yet left is never taken for the one that came back.

#include <chrono>
#include <functional>

namespace talkgate {

enum class ReturnWait {
  Back,       // seen gone, then back
  NeverLeft,  // still there when the time was up
  NotBack,    // gone, and not back when the time was up
};

struct ReturnPoll {
  std::chrono::milliseconds timeout{0};   // the longest wait, from the call
  std::chrono::milliseconds interval{0};  // between two looks
  std::function<bool()> gone;             // true once what left is no longer listed
  std::function<bool()> back;             // true once what should come is listed
  // Spends one interval (or the rest of the timeout); the active clock's sleep when unset.
  // A window passes one that keeps painting.
  std::function<void(std::chrono::milliseconds)> pause;
};

ReturnWait waitForReturn(const ReturnPoll& poll);

}  // namespace talkgate
