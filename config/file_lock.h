#pragma once
// One run at a time on a file: the lock is held from the read of a file to the write of its
// new content, so two runs (or two threads) changing one file never lose each other's change.
// The lock is an exclusive lock (flock on POSIX, LockFileEx on Windows) on "<file>.lock" beside
// the file, removed again on release; the system drops the lock of a killed run, so nothing
// stale ever blocks the next one. The lock file gets the permissions of the file it guards, so
// every user who may change the file (a shared folder) can take it; a lock file that cannot be
// opened is a failure, never a reason to lock something else that would not keep the other
// user out.

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

  // False when another run held the file for the whole wait, or the lock cannot be had at all.
  bool locked() const { return locked_; }
  // Why the lock was not taken, for a message: "another run of the program is using it
  // (waited 5 s)", "its folder takes no new file (Permission denied)", "it cannot be reached
  // (Permission denied)" or "its lock file /x/f.lock cannot be opened (Permission denied)".
  std::string busyReason() const;

 private:
  std::string lockPath_;
  std::string problem_;        // why the lock cannot be had; empty when another run held it
  std::intptr_t handle_ = -1;  // the descriptor or handle held, -1 for none
  bool locked_ = false;
};

}  // namespace talkgate::config
