// The parts of the file lock every system shares; taking and releasing the lock are in
// file_lock_posix.cpp and file_lock_win.cpp.

#include "config/file_lock.h"

#include <atomic>

namespace talkgate::config {
namespace {

std::atomic<long long> waitMs{kDefaultLockWait.count()};

}  // namespace

std::chrono::milliseconds lockWait() {
  return std::chrono::milliseconds(waitMs.load());
}

void setLockWait(std::chrono::milliseconds wait) {
  waitMs.store(wait.count());
}

std::string FileLock::busyReason() const {
  if (!problem_.empty()) return problem_;
  const auto ms = lockWait().count();
  const std::string waited =
      ms % 1000 == 0 && ms > 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  return "another run of the program is using it (waited " + waited + ")";
}

}  // namespace talkgate::config
