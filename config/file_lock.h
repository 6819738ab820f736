#pragma once
// One run at a time on a file: the lock is held from the read of a file to the write of its
// new content, so two runs (or two threads) changing one file never lose each other's change.
// The lock is an exclusive lock (flock on POSIX, LockFileEx on Windows) on "<file>.lock" beside
// the file, removed again on release; the system drops the lock of a killed run, so nothing
// stale ever blocks the next one. Where the folder
// takes no new file, the file itself is locked, as it is then rewritten in place.

#include <chrono>
#include <cstdint>
#include <string>

namespace talkgate::config {

inline constexpr std::chrono::milliseconds kDefaultLockWait{5000};
inline constexpr char kLockSuffix[] = ".lock";

// How long a run waits for a file another run holds; tests shorten it.
std::chrono::milliseconds lockWait();
void setLockWait(std::chrono::milliseconds wait);

class FileLock {
 public:
  // Takes the lock of the file at path (links followed), waiting up to lockWait().
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // False when another run held the file for the whole wait.
  bool locked() const { return locked_; }
  // "another run of the program is using it (waited 5 s)", for a message.
  std::string busyReason() const;

 private:
  std::string lockPath_;  // empty while the file itself is what is locked
  std::intptr_t handle_ = -1;  // the descriptor or handle held, -1 for none
  bool locked_ = false;
};

}  // namespace talkgate::config
